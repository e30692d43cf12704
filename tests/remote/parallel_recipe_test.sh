#!/usr/bin/env bash
# Runs the GNU parallel recipe of docs/performance.md against a second machine: an
# sshd this script starts on a loopback port, with its own keys and configuration,
# whose user has a home of its own in a temporary folder and finds the program under
# test as `tarnic` on its PATH. Every output that comes back must be byte for byte
# what a local conversion writes, the inputs must be left as they were, nothing may
# stay behind on the remote side, and the job log must list the input that cannot be
# converted at all.
#
# Usage: parallel_recipe_test.sh TARNIC SAMPLE_DM3
# Exits 77 (a skip, with the reason on standard output) where sshd cannot run here.
set -uo pipefail

tarnic=$(realpath -- "${1:?usage: parallel_recipe_test.sh TARNIC SAMPLE_DM3}")
sample=$(realpath -- "${2:?usage: parallel_recipe_test.sh TARNIC SAMPLE_DM3}")
SKIP=77

skip() { echo "SKIPPED: $*"; exit $SKIP; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

sshd=/usr/sbin/sshd
[[ -x $sshd ]] || skip "no $sshd (Debian's openssh-server)"
for program in ssh ssh-keygen parallel rsync; do
  command -v "$program" >/dev/null || skip "no $program on PATH"
done

tmp=$(mktemp -d)
sshd_pid=""
cleanup() {
  [[ -S $tmp/control ]] && ssh -F "$tmp/ssh_config" -O exit remote >/dev/null 2>&1
  [[ -n $sshd_pid ]] && kill "$sshd_pid" 2>/dev/null && wait "$sshd_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

# The remote side: a program folder, a home, keys for the host and for the user.
mkdir "$tmp/bin" "$tmp/home" "$tmp/remote-home" "$tmp/keys"
cp "$tarnic" "$tmp/bin/tarnic"
ssh-keygen -q -t ed25519 -N '' -C host -f "$tmp/keys/host" || skip "ssh-keygen cannot make a host key"
ssh-keygen -q -t ed25519 -N '' -C user -f "$tmp/keys/user" || skip "ssh-keygen cannot make a user key"
cp "$tmp/keys/user.pub" "$tmp/keys/authorized_keys"
# sshd run by root needs its privilege separation folder, which only its service makes.
[[ $(id -u) -eq 0 ]] && mkdir -p /run/sshd

start_sshd() {  # port; sets sshd_pid, returns 0 once it listens
  local port=$1
  # The remote user's commands start in their own home, as on another machine
  # (sshd would start them in this user's real home), with the program under test
  # first on the PATH.
  cat >"$tmp/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $tmp/keys/host
PidFile $tmp/sshd.pid
AuthorizedKeysFile $tmp/keys/authorized_keys
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin yes
UsePAM no
StrictModes no
SetEnv HOME=$tmp/remote-home PATH=$tmp/bin:/usr/local/bin:/usr/bin:/bin
ForceCommand cd "\$HOME" && eval "\$SSH_ORIGINAL_COMMAND"
EOF
  "$sshd" -D -e -f "$tmp/sshd_config" 2>"$tmp/sshd.log" &
  sshd_pid=$!
  for _ in $(seq 100); do
    grep -q "Server listening" "$tmp/sshd.log" && return 0
    kill -0 "$sshd_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$sshd_pid" 2>/dev/null
  wait "$sshd_pid" 2>/dev/null
  sshd_pid=""
  return 1
}

port=""
for _ in 1 2 3 4 5; do
  candidate=$((20000 + RANDOM % 40000))
  if start_sshd "$candidate"; then port=$candidate; break; fi
  grep -q "Address already in use" "$tmp/sshd.log" || break
done
reason=$(tail -n 3 "$tmp/sshd.log" | tr '\n' ' ')
[[ -n $port ]] || skip "sshd cannot start here: ${reason:-it ended without a word}"

echo "[127.0.0.1]:$port $(cat "$tmp/keys/host.pub")" >"$tmp/known_hosts"
# One connection carries every job's transfers and commands.
cat >"$tmp/ssh_config" <<EOF
Host remote
  HostName 127.0.0.1
  Port $port
  User $(id -un)
  IdentityFile $tmp/keys/user
  IdentitiesOnly yes
  UserKnownHostsFile $tmp/known_hosts
  StrictHostKeyChecking yes
  BatchMode yes
  LogLevel ERROR
  ControlMaster auto
  ControlPath $tmp/control
  ControlPersist 120
EOF
ssh -F "$tmp/ssh_config" remote true 2>"$tmp/ssh.log" ||
  skip "sshd started but refuses the test's key: $(tr '\n' ' ' <"$tmp/ssh.log") $(tail -n 3 "$tmp/sshd.log" | tr '\n' ' ')"

# An archive: demos in folders, a name with spaces and quotes, a cut demo, and a
# folder named like a demo, which cannot be converted at all.
archive=$tmp/archive
mkdir -p "$archive/2019" "$archive/with space" "$archive/broken.dm3"
cp "$sample" "$archive/2019/final.dm3"
cp "$sample" "$archive/with space/Old 'Match'.DM3"
head -c 30000 "$sample" >"$archive/cut.dm3"
cp -r "$archive" "$tmp/local"
before=$(cd "$archive" && find . -type f -exec sha256sum {} + | sort)

failures=0
failing=./broken.dm3
# The recipe, with this machine's ssh configuration and the remote host in place of
# the documented ones; the folder is named apart, as `find -type f` never lists it.
(
  cd "$archive" || exit 1
  export HOME=$tmp/home RSYNC_OLD_ARGS=1
  { find . -type f -iname '*.dm3' -print0; printf '%s\0' "$failing"; } |
    parallel -0 --ssh "ssh -F $tmp/ssh_config" --sshlogin 2/remote --workdir .tarnic-{#} \
      --transfer --return {}.dm_48 --cleanup --joblog convert.joblog tarnic {}
) >"$tmp/parallel.out" 2>"$tmp/parallel.err"
status=$?
[[ $status -eq 1 ]] || fail "parallel exits with $status, not 1 (one job failed)"

joblog=$archive/convert.joblog
[[ $(awk 'NR > 1' "$joblog" | wc -l) -eq 4 ]] || fail "the job log does not hold four jobs"
awk -F '\t' 'NR > 1 && $2 != "remote" { bad = 1 } END { exit bad }' "$joblog" || fail "a job ran elsewhere than remote"
failed=$(awk 'NR > 1 && $7 != 0' "$joblog")
[[ $(wc -l <<<"$failed") -eq 1 && $failed == *"	1	0	tarnic $failing" ]] ||
  fail "the job log's failures are not the folder's, status 1: '$failed'"
grep -qxF "ERROR: unable to open $failing" "$tmp/parallel.out" || fail "no 'unable to open' line for the folder"

while IFS= read -r -d '' input; do
  [[ $input == "$failing" ]] && continue
  (cd "$tmp/local" && "$tarnic" "$input" >/dev/null) || fail "local conversion of $input"
  if [[ ! -f $archive/$input.dm_48 ]]; then
    fail "$input.dm_48 did not come back"
  elif ! cmp -s "$archive/$input.dm_48" "$tmp/local/$input.dm_48"; then
    fail "$input.dm_48 differs from a local conversion"
  fi
done < <(cd "$archive" && find . -type f -iname '*.dm3' -print0)
[[ ! -e $archive/$failing.dm_48 ]] || fail "an output came back for the folder"

after=$(cd "$archive" && find . -type f ! -name '*.dm_48' ! -name convert.joblog -exec sha256sum {} + | sort)
[[ $before == "$after" ]] || fail "the inputs changed"
[[ -d $archive/$failing ]] || fail "the folder named like a demo is gone"
# Each job works in a folder of its own, which cleaning up removes; only the folder
# copied as the failing input stays, empty (the recipe never lists folders).
kept=./.tarnic-$(awk -F '\t' 'NR > 1 && $7 != 0 { print $1 }' "$joblog")
left=$(cd "$tmp/remote-home" && find . -mindepth 1 ! -path "$kept" ! -path "$kept/${failing#./}")
[[ -z $left ]] || fail "left on the remote side: $left"

if ((failures)); then
  echo "--- parallel's output"; cat "$tmp/parallel.out"
  echo "--- parallel's errors"; cat "$tmp/parallel.err"
  echo "--- job log"; cat "$joblog"
  exit 1
fi
echo "parallel recipe: $(awk 'NR > 1' "$joblog" | wc -l) jobs over ssh on port $port, outputs identical to local conversions"

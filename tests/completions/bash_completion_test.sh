#!/usr/bin/env bash
# Runs the bash completion for tarnic on a folder of demos and other files, as bash
# does on Tab, and compares what it offers with what it should.
#
# Usage: bash_completion_test.sh COMPLETION_FILE
set -uo pipefail

source "${1:?usage: bash_completion_test.sh COMPLETION_FILE}"
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 1
mkdir sub out
touch a.dm3 B.DM3 'with space.dm3' c.dm_48 notes.txt sub/d.dm3

cases=0 failures=0
# The command line typed so far (its last word is completed) and the sorted offers.
expect() {
    local line=$1 expected=$2
    cases=$((cases + 1))
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _tarnic
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd '|')
    if [[ $got != "$expected" ]]; then
        echo "FAIL: '$line': got '$got', expected '$expected'"
        failures=$((failures + 1))
    fi
}

expect "tarnic --ver" "--verbose|--verify|--version"
expect "tarnic --batch --output-dir " "out|sub"
expect "tarnic --batch --jobs " ""
expect "tarnic " "B.DM3|a.dm3|out|sub|with space.dm3"
expect "tarnic --verify " "B.DM3|a.dm3|c.dm_48|out|sub|with space.dm3"
expect "tarnic --info --json c" "c.dm_48"
expect "tarnic --batch --verify c" ""
expect "tarnic sub/" "sub/d.dm3"

echo "bash completion: $((cases - failures)) passed, $failures failed"
((failures == 0))

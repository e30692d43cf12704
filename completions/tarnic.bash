# bash completion for tarnic: its options, demo names (.dm3 to convert; .dm3 and
# .dm_48 to verify or describe), folders for --output-dir and for --batch.

_tarnic() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    case $prev in
        --output-dir)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        --jobs) return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "--batch --output-dir --jobs --skip-existing --verbose --verify
            --info --json --help --version" -- "$cur")
        return
    fi
    local examining=false word
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        [[ $word == --verify || $word == --info ]] && examining=true
    done
    [[ " ${COMP_WORDS[*]:1:COMP_CWORD-1} " == *" --batch "* ]] && examining=false
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(
        compgen -d -- "$cur"
        compgen -f -X '!*.[dD][mM]3' -- "$cur"
        if $examining; then compgen -f -X '!*.[dD][mM]_48' -- "$cur"; fi
    )
}
complete -F _tarnic tarnic

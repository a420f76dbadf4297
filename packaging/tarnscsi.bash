# bash completion for tarnscsi. The subcommands and options are read from the
# program's own --help when completing, so they always match the installed
# program.

# The subcommands, from the "Subcommands:" list of `tarnscsi --help`.
_tarnscsi_subcommands() {
    LC_ALL=C "$1" --help 2>/dev/null | awk '/^[A-Za-z]+:/ { inList = ($0 ~ /^Subcommands:/); next }
                                             inList && /^  [a-z]/ { print $1 }'
}

_tarnscsi() {
    local cur prev words cword split
    _init_completion -s || return

    # File names; --trace=FILE arrives split at the "=".
    case $prev in
        -o | --output | --preview | --trace)
            _filedir
            return
            ;;
    esac
    $split && return

    local subcommands sub= i
    subcommands=$(_tarnscsi_subcommands "$1")
    for ((i = 1; i < cword; i++)); do
        if [[ " ${subcommands//$'\n'/ } " == *" ${words[i]} "* ]]; then
            sub=${words[i]}
            break
        fi
    done

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '$(_parse_help "$1" "${sub:+$sub }--help")' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
    elif [[ -z $sub ]]; then
        COMPREPLY=($(compgen -W '$subcommands' -- "$cur"))
    fi
} && complete -F _tarnscsi tarnscsi

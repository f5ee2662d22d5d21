# tq73-completion.bash - bash completion for tq73: its commands, its options,
# the serial ports for --port and files where a command takes a FILE.
# Installed as /usr/share/bash-completion/completions/tq73. Only bash's own
# compgen is used, so it also works sourced on its own, without the
# bash-completion package.

_tq73_commands="ports check monitor stop resume request62 update recover read write erase param clock pattern verify decode help"
_tq73_options="--port --ports-from --sim --record --label --quiet -q --verbose -v --json --verify --all --force
    --strict --expect-answer --if-different --seconds --decode --capture --help -h --version -V"

# The serial ports that exist now, as "tq73 ports" looks for them.
_tq73_ports() {
    local p
    for p in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
        [[ -e $p ]] && printf '%s\n' "$p"
    done
}

# Which positional argument of the command the word is (0 the first), and the
# command; options and their values are skipped.
_tq73_position() {
    local i word
    _tq73_command='' _tq73_index=-1
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            # bash splits --port=/dev/ttyUSB0 into three words at the '='.
            --port | --seconds | --ports-from | --record | --label)
                [[ ${COMP_WORDS[i + 1]} == = ]] && ((i++))
                ((i++))
                ;;
            --capture) ((i++)) ;;
            # --sim N: the count is not the command.
            --sim) [[ ${COMP_WORDS[i + 1]} =~ ^[0-9]+$ ]] && ((i++)) ;;
            --) ;;
            -*) ;;
            *)
                if [[ -z $_tq73_command ]]; then
                    _tq73_command=$word
                else
                    ((_tq73_index++))
                fi
                ;;
        esac
    done
    ((_tq73_index++))
}

_tq73_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$1")
}

_tq73() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    # bash splits --port=/dev/tty at the '=': complete the port after it too,
    # and right after the '=' itself.
    if [[ $cur == = ]]; then
        prev=$prev cur=''
    elif [[ $prev == = && $COMP_CWORD -ge 2 ]]; then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    case $prev in
        --port)
            mapfile -t COMPREPLY < <(compgen -W "$(_tq73_ports)" -- "$cur")
            return 0
            ;;
        --ports-from | --record | --capture)
            _tq73_files "$cur"
            return 0
            ;;
        --seconds | --label) return 0 ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$_tq73_options" -- "$cur")
        return 0
    fi
    _tq73_position
    case $_tq73_command:$_tq73_index in
        :*) mapfile -t COMPREPLY < <(compgen -W "$_tq73_commands" -- "$cur") ;;
        update:0 | recover:0 | verify:0 | read:2 | write:1 | verify:1 | decode:0) _tq73_files "$cur" ;;
        clock:0) mapfile -t COMPREPLY < <(compgen -W "set get" -- "$cur") ;;
        param:0) mapfile -t COMPREPLY < <(compgen -W "0 1 2 3" -- "$cur") ;;
    esac
    return 0
}
complete -F _tq73 tq73

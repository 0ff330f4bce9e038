# bash completion for korvoctl: operations, options, register addresses, spin captions
# (those with a preset in the --ini file when one is given), files where a file is expected.

# The charger registers korvoctl knows, in its dump order.
_korvoctl_registers='0x10 0x11 0x12 0x13 0x14 0x15 0x16 0x17 0x18 0x19 0x3F'
# The seven spin button captions, one a line.
_korvoctl_all_captions='rk51xx Trim1
rk51xx Trim2
rk51xx Trim3
rk51xx Trim4
rk51xx Trim5
Custom 1
Custom 2'

# The captions whose section "Spin" + caption is in settings file $1 (sections match without
# regard to case, as korvoctl reads them); all seven when there is no such file or section.
_korvoctl_captions()
{
    local ini=$1 sections caption found=''
    if [[ -n $ini && -f $ini && -r $ini ]]; then
        sections=$(sed -n 's/^[[:space:]]*\[\([^]]*\).*/\1/p' -- "$ini" 2>/dev/null |
            sed 's/^[[:space:]]*//; s/[[:space:]]*$//' | tr '[:upper:]' '[:lower:]')
        while IFS= read -r caption; do
            if grep -qxF -- "spin${caption,,}" <<<"$sections"; then
                found+=${found:+$'\n'}$caption
            fi
        done <<<"$_korvoctl_all_captions"
    fi
    printf '%s\n' "${found:-$_korvoctl_all_captions}"
}

_korvoctl()
{
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        words=("${COMP_WORDS[@]}") cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]}
    fi

    local operations='read write dump list spin burn watch snapshot compare restore instruments'
    local options='--ini --i2c --smbus --address --retries --pec --yes --help --version
        --period --count --duration --output --timescale --format --caption --variant --journal
        --stats --instrument --instrument-period --instrument-log --metrics'

    # The settings file given anywhere on the line, as korvoctl reads it before any operation.
    local i ini=''
    for ((i = 1; i < ${#words[@]} - 1; i++)); do
        if [[ ${words[i]} == --ini ]]; then
            ini=${words[i + 1]}
            ini=${ini#[\"\']} ini=${ini%[\"\']}
            [[ $ini == \~/* ]] && ini=$HOME/${ini#\~/}
        fi
    done

    # Walk the words before the cursor: what does the word under it stand for?
    local -a want=()  # the arguments still due, first one next
    local optional_file=''
    for ((i = 1; i < cword; i++)); do
        if ((${#want[@]})); then
            want=("${want[@]:1}")
            continue
        fi
        optional_file=''
        case ${words[i]} in
            --ini | --journal) want=(file) ;;
            --output) want=(recording) ;;
            --address) want=(address) ;;
            --retries | --period | --count | --duration | --metrics) want=(number) ;;
            --instrument-period | --instrument-log) want=(number) ;;
            --instrument) want=(instrument) ;;
            --format) want=(format) ;;
            --caption) want=(caption) ;;
            --variant) want=(variant) ;;
            --timescale) want=(timescale) ;;
            read) want=(register) ;;
            write) want=(register value) ;;
            spin) want=(caption) ;;
            snapshot | restore) want=(file) ;;
            compare) want=(file) optional_file=1 ;;
        esac
    done

    local IFS=$'\n'
    case ${want[0]-} in
        file)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        recording)
            # Folders, and files whose extension names a format: .csv, .vcd, .sr (sigrok).
            compopt -o filenames 2>/dev/null
            local f
            COMPREPLY=($(compgen -d -- "$cur"))
            for f in $(compgen -f -- "$cur"); do
                case ${f,,} in *.csv | *.vcd | *.sr) COMPREPLY+=("$f") ;; esac
            done
            return
            ;;
        register) COMPREPLY=($(compgen -W "${_korvoctl_registers// /$'\n'}" -- "$cur")) ;;
        address) COMPREPLY=($(compgen -W $'0x66\n0x67' -- "$cur")) ;;
        format) COMPREPLY=($(compgen -W $'text\ncsv\njson' -- "$cur")) ;;
        variant) COMPREPLY=($(compgen -W $'rk5190\nrk5191' -- "$cur")) ;;
        timescale) COMPREPLY=($(compgen -W $'1us\n10us\n100us\n1ms\n10ms\n100ms\n1s' -- "$cur")) ;;
        caption)
            # Captions hold blanks: let readline quote what it inserts.
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -W "$(_korvoctl_captions "$ini")" -- "$cur"))
            ;;
        instrument)
            # The drivers libsigrok has, as sigrok-cli lists them, when it is there.
            if [[ $cur != *:* ]] && command -v sigrok-cli >/dev/null; then
                COMPREPLY=($(compgen -W "$(sigrok-cli -L 2>/dev/null |
                    sed -n '/^Supported hardware drivers:/,/^$/s/^  \([a-z0-9-]*\) .*/\1/p')" -- "$cur"))
            fi
            ;;
        number | value) COMPREPLY=() ;;
        *)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "${options//[[:space:]]/$'\n'}" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "${operations// /$'\n'}" -- "$cur"))
                if [[ -n $optional_file ]]; then  # compare FILE [FILE2]
                    compopt -o filenames 2>/dev/null
                    COMPREPLY+=($(compgen -f -- "$cur"))
                fi
            fi
            ;;
    esac
} &&
    complete -F _korvoctl korvoctl

# ex: filetype=sh

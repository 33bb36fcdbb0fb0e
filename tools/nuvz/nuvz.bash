# bash completion for nuvz                                   -*- shell-script -*-
# Uses bash-completion's helpers (_init_completion, _filedir): bash-completion loads it.

# Names of files to read packed data from: *.nuv, *.gz and directories, else every file.
_nuvz_packed_files()
{
    _filedir '@(nuv|gz)'
    ((${#COMPREPLY[@]})) || _filedir
}

_nuvz()
{
    local cur prev words cword split
    _init_completion -s || return

    if ((cword == 1)); then
        COMPREPLY=($(compgen -W 'pack unpack info md5 help --help -h' -- "$cur"))
        return
    fi
    local command=${words[1]}

    case $prev in
        --password | --key-hex | --threads | --argon2) return ;;
        --password-file)
            _filedir
            return
            ;;
        --level)
            COMPREPLY=($(compgen -W '0 1 2 3 4 5 6 7 8 9' -- "$cur"))
            return
            ;;
    esac
    [[ $split == true ]] && return

    # The words before the cursor: options given and the number of names. A value option's
    # value is neither; after "--" every word is a name.
    local i word names=0 options_done= given=" "
    for ((i = 2; i < cword; i++)); do
        word=${words[i]}
        if [[ $options_done || $word == - || $word != -* ]]; then
            names=$((names + 1))
        elif [[ $word == -- ]]; then
            options_done=1
        else
            [[ $word == --@(password|password-file|key-hex|level|threads|argon2) ]] && i=$((i + 1))
            word=${word%%=*}
            given+="${word/#-f/--force} "
        fi
    done

    if [[ ! $options_done && $cur == -* ]]; then
        local keys=(--password --password-file --key-hex) options=() option offered=()
        case $command in
            pack)
                options=("${keys[@]}" --prompt --sealed --argon2 --store --encrypt-only --gzip --level --threads
                    -f --force --)
                ;;
            unpack) options=("${keys[@]}" -f --force --) ;;
            info) options=(--) ;;
            md5) options=(--legacy --) ;;
        esac
        # Each option once, and one key at most.
        for option in "${options[@]}"; do
            [[ $given == *" ${option/#-f/--force} "* ]] && continue
            [[ $option == --@(password|password-file|key-hex|prompt) &&
                $given == *" --"@(password|password-file|key-hex|prompt)" "* ]] && continue
            offered+=("$option")
        done
        COMPREPLY=($(compgen -W '${offered[*]}' -- "$cur"))
        return
    fi

    case $command in
        pack) ((names < 2)) && _filedir ;;
        unpack)
            if ((names == 0)); then
                _nuvz_packed_files
            elif ((names == 1)); then
                _filedir
            fi
            ;;
        info) _nuvz_packed_files ;;
        md5) _filedir ;;
    esac
} &&
    complete -F _nuvz nuvz

# ex: filetype=sh

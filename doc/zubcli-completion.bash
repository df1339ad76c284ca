# Bash completion for zubcli. The options, the values they take and the keys of --set come
# from zubcli itself (--help and --list-settings), so that a new option or key completes as
# soon as the program has it.

# "OPTION PLACEHOLDER" for each option of `zubcli --help` ("--jobs N", "--json").
_zubcli_options()
{
    local line term word option
    local -a words
    while IFS= read -r line; do
        [[ $line == "  -"* ]] || continue
        term=${line#  }
        term=${term%%  *}
        read -ra words <<< "${term//,/ }"
        option=""
        for word in "${words[@]}"; do
            if [[ $word == -* ]]; then
                [[ $option ]] && printf '%s\n' "$option"
                option=$word
            elif [[ $option ]]; then
                printf '%s %s\n' "$option" "$word"
                option=""
            fi
        done
        [[ $option ]] && printf '%s\n' "$option"
    done < <("$1" --help 2> /dev/null)
}

_zubcli()
{
    local cur prev words cword
    # Section.Key=Value stays one word.
    _init_completion -n = || return

    local zubcli=${words[0]/#\~/$HOME}
    local i
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} == -- ]]; then
            _filedir '@(ser|avi|mpg|mpeg|m2v|wmv|asf|mp4|m4v|mkv|mov)'
            return
        fi
    done

    local options option placeholder=""
    options=$(_zubcli_options "$zubcli")
    while read -r option i; do
        [[ $option == "$prev" ]] && placeholder=$i
    done <<< "$options"

    case $placeholder in
        "") ;;
        *=*)
            local settings
            settings=$("$zubcli" --list-settings 2> /dev/null)
            if [[ $cur == *=* ]]; then
                # The value in force, to edit; bash replaces only what follows the '='.
                local setting
                while IFS= read -r setting; do
                    [[ $setting == "${cur%%=*}="* ]] && COMPREPLY=("${setting#*=}")
                done <<< "$settings"
            else
                COMPREPLY=($(compgen -W "$(sed 's/=.*/=/' <<< "$settings")" -- "$cur"))
                compopt -o nospace
            fi
            return
            ;;
        *"|"*)
            COMPREPLY=($(compgen -W "${placeholder//|/ }" -- "$cur"))
            return
            ;;
        DIR | FOLDER)
            _filedir -d
            return
            ;;
        PATH | FILE)
            _filedir
            return
            ;;
        *)
            return # a number or free text
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(cut -d' ' -f1 <<< "$options")" -- "$cur"))
        return
    fi
    _filedir '@(ser|avi|mpg|mpeg|m2v|wmv|asf|mp4|m4v|mkv|mov)'
}
complete -F _zubcli zubcli

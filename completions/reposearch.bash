# bash completion for reposearch: its options, their values where they are
# few, files of strings for -f, pages for --html, exports (.xml files and
# folders) for the operands. Installed as
# share/bash-completion/completions/reposearch.

_reposearch() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # bash splits --log=FILE at the "=": the value follows "=" as a word.
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $cur == --*=* ]]; then
        prev=${cur%%=*} cur=${cur#*=}
    fi
    # Short options grouped as in -qe: the value is that of the last one.
    [[ $prev =~ ^-[qwhcl]+[efjABC]$ ]] && prev=-${prev: -1}
    COMPREPLY=()
    local IFS=$'\n'  # file names may hold blanks: one a line (word lists too)
    case $prev in
        -e)
            return  # a string of the user's own
            ;;
        -f | --file | --log)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -- "$cur") $(compgen -W '-' -- "$cur"))
            return
            ;;
        --html)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -X '!*.[hH][tT][mM][lL]' -- "$cur") $(compgen -d -- "$cur"))
            return
            ;;
        -j | --jobs)
            COMPREPLY=($(compgen -W "$(printf '%s\n' 1 2 4 8 $(nproc 2>/dev/null) | sort -nu)" -- "$cur"))
            return
            ;;
        -A | -B | -C | --after-context | --before-context | --context)
            COMPREPLY=($(compgen -W "$(printf '%s\n' 0 1 2 3 5 10 20)" -- "$cur"))
            return
            ;;
        --color | --colour)
            COMPREPLY=($(compgen -W "$(printf '%s\n' auto always never)" -- "$cur"))
            return
            ;;
        --in | --not-in)
            compopt -o nospace 2>/dev/null
            COMPREPLY=($(compgen -W "$(printf '%s=\n' library form global entry menubar glyph sourcetype model table field element)" -- "$cur"))
            return
            ;;
    esac

    # What the words before say: "--" ends the options; with -e or -f every
    # operand is an export, else the first is and the others are strings.
    local i word options_done= strings_given= operands=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ -n $options_done ]]; then
            ((operands++))
            continue
        fi
        case $word in
            --) options_done=1 ;;
            --file)
                strings_given=1
                ((i++))
                ;;
            --file=*) strings_given=1 ;;
            --jobs | --log | --html | --in | --not-in | --after-context | --before-context | --context) ((i++)) ;;
            --*) ;;
            -?*)
                # Short options, grouped as in -qw: the first that takes a
                # value takes the rest of the word, or the next word.
                if [[ $word =~ ^-[qwhcl]*([efjABC])(.*)$ ]]; then
                    [[ ${BASH_REMATCH[1]} == [ef] ]] && strings_given=1
                    [[ -z ${BASH_REMATCH[2]} ]] && ((i++))
                fi
                ;;
            =) ((i++)) ;;
            *) [[ ${COMP_WORDS[i + 1]} == = ]] || ((operands++)) ;;
        esac
    done
    if [[ -z $options_done && $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(printf '%s\n' -e -f -w -q -c -l -j -h -A -B -C --file --word --quiet --count --files-with-matches --jobs --json --html --log --in --not-in --print --check --color= --after-context --before-context --context --help --version)" -- "$cur"))
        return
    fi
    [[ -z $strings_given ]] && ((operands > 0)) && return  # a string
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -X '!*.[xX][mM][lL]' -- "$cur") $(compgen -d -- "$cur"))
    [[ -z $cur ]] && COMPREPLY+=(-)
}
complete -F _reposearch reposearch

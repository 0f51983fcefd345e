# bash completion for tarvek: commands, options, attribute names, their
# values, store subcommands, logical names and channels. Everything is asked of the
# tarvek program being completed (its --help, `tarvek attributes` and
# `tarvek store list`), so the completion always matches the program.

# The attribute table: "NAME TYPE ACCESS [channel] VALUES..." per line.
_tarvek_attribute_table() {
    if [[ -z ${_tarvek_attributes_cache-} ]]; then
        _tarvek_attributes_cache=$("$1" attributes 2>/dev/null)
    fi
    printf '%s\n' "$_tarvek_attributes_cache"
}

# Attribute names as people type them: lower case, without TARVEK_ATTR_,
# unless the word being completed already starts with TARVEK_.
_tarvek_attribute_names() {
    local program=$1 cur=$2
    if [[ ${cur^^} == TARVEK_* ]]; then
        _tarvek_attribute_table "$program" | awk '{print $1}'
    else
        _tarvek_attribute_table "$program" | awk '{sub(/^TARVEK_ATTR_/, "", $1); print tolower($1)}'
    fi
}

# The values an attribute takes: on/off for booleans, else the short names
# `tarvek attributes` lists after the access (and "channel") column.
_tarvek_attribute_values() {
    local program=$1 name=${2^^}
    name=${name//-/_}
    [[ $name == TARVEK_ATTR_* ]] || name=TARVEK_ATTR_$name
    _tarvek_attribute_table "$program" | awk -v name="$name" '
        $1 != name { next }
        $2 == "ViBoolean" { print "on"; print "off"; exit }
        $2 == "ViInt32" {
            for (i = ($4 == "channel" ? 5 : 4); i <= NF; i++) print $i
            exit
        }'
}

_tarvek_logical_names() {
    "$1" store list 2>/dev/null | awk '{print $1}'
}

# The outputs --channel may name for a resource: CH1 to CH3, only CH1 when
# the model is known to have one output (DriverSetup=Model:65xx on the line,
# given as the third argument, or in the logical name's session), and the
# logical name's virtual names.
# A plain VISA resource says nothing about its model without connecting, so
# it offers all three.
_tarvek_channels() {
    local program=$1 resource=$2 options=$3 show="" model virtual
    if [[ -n $resource && $resource != *::* ]]; then
        show=$("$program" store show "$resource" 2>/dev/null)
    fi
    model=$(printf '%s\n%s\n' "$options" "$show" | grep -oiE 'model:[0-9]+' | head -n 1)
    if [[ ${model,,} == model:65* ]]; then
        echo CH1
    else
        echo CH1 CH2 CH3
    fi
    virtual=$(printf '%s\n' "$show" | awk -F': +' '/^Virtual names:/ {print $2}')
    [[ -n $virtual ]] && printf '%s\n' "$virtual" | tr ',' '\n' | sed 's/^ *//; s/=.*//'
}

# The words of the line with VISA resources in one piece: bash splits words
# at ':' (COMP_WORDBREAKS), so TCPIP::host::5025::SOCKET arrives as seven.
# bash-completion's helper does this where it is loaded; otherwise the words
# are glued back where COMP_LINE shows no space between them.
_tarvek_words() {
    if declare -F _get_comp_words_by_ref >/dev/null; then
        _get_comp_words_by_ref -n : cur prev words cword
        return
    fi
    words=() cword=0
    local i word rest=${COMP_LINE-} trimmed glued n=-1
    for ((i = 0; i < ${#COMP_WORDS[@]}; i++)); do
        word=${COMP_WORDS[i]}
        glued=0
        if [[ -n ${COMP_LINE-} ]]; then
            trimmed=${rest#"${rest%%[![:space:]]*}"}
            ((i > 0 && ${#trimmed} == ${#rest})) && glued=1
            rest=${trimmed#"$word"}
        fi
        if ((glued && n >= 0)) && [[ $word == :* || ${words[n]} == *: ]]; then
            words[n]+=$word
        else
            words[++n]=$word
        fi
        ((i == COMP_CWORD)) && cword=$n
    done
    ((COMP_CWORD >= ${#COMP_WORDS[@]})) && cword=$((n + 1)) && words[cword]=""
    cur=${words[cword]-}
    prev=${words[cword - 1]-}
}

# Completions for a word holding ':' must not repeat what bash keeps before
# the last ':' of it.
_tarvek_trim_colons() {
    if declare -F __ltrim_colon_completions >/dev/null; then
        __ltrim_colon_completions "$1"
    elif [[ $1 == *:* && $COMP_WORDBREAKS == *:* ]]; then
        local prefix=${1%"${1##*:}"} i
        for i in "${!COMPREPLY[@]}"; do
            COMPREPLY[i]=${COMPREPLY[i]#"$prefix"}
        done
    fi
}

# Options a command's help names; those followed by a placeholder take a value.
_tarvek_options() {
    { "$1" --help; [[ -n $2 ]] && "$1" "$2" --help; } 2>/dev/null |
        grep -oE -- '--[a-z][a-z-]*' | sort -u
}
_tarvek_value_options() {
    { "$1" --help; [[ -n $2 ]] && "$1" "$2" --help; } 2>/dev/null |
        grep -oE -- '--[a-z][a-z-]* [^] -]' | awk '{print $1}' | sort -u
}

_tarvek() {
    local cur prev cword
    local -a words
    _tarvek_words
    local program=${words[0]}
    COMPREPLY=()

    # The command, then (knowing which options of it take a value) the
    # positional words before the cursor.
    local command="" word value_options i
    local -a positional=()
    value_options=" $(_tarvek_value_options "$program" | tr '\n' ' ') "
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        if [[ $word == --* ]]; then
            [[ $word != *=* && $value_options == *" $word "* ]] && ((i++))
        else
            command=$word
            break
        fi
    done
    if [[ -n $command ]]; then
        value_options=" $(_tarvek_value_options "$program" "$command" | tr '\n' ' ') "
        for ((i = i + 1; i < cword; i++)); do
            word=${words[i]}
            if [[ $word == --* ]]; then
                [[ $word != *=* && $value_options == *" $word "* ]] && ((i++))
            else
                positional+=("$word")
            fi
        done
    fi

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "$(_tarvek_options "$program")" -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W "$("$program" --help 2>/dev/null |
                awk '/^Commands:/ {on = 1; next} on && /^  [a-z]/ {print $1} on && /^$/ {exit}')" \
                -- "$cur")
        fi
        return
    fi

    # The value of an option.
    if [[ $prev == --* && $value_options == *" $prev "* ]]; then
        case $prev in
            --channel)
                mapfile -t COMPREPLY < <(compgen -W "$(_tarvek_channels "$program" \
                    "${positional[0]-}" "${words[*]}")" -- "$cur")
                ;;
            --output) mapfile -t COMPREPLY < <(compgen -W "on off" -- "$cur") ;;
            --steps | --csv) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
        esac
        return
    fi
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_tarvek_options "$program" "$command")" -- "$cur")
        return
    fi

    local position=${#positional[@]} candidates=""
    case $command in
        store)
            if ((position == 0)); then
                candidates="list show add remove check"
            elif ((position == 1)) && [[ ${positional[0]} == show || ${positional[0]} == remove ]]; then
                candidates=$(_tarvek_logical_names "$program")
            fi
            ;;
        attributes)
            ((position == 0)) && candidates=$(_tarvek_attribute_table "$program" | awk '{print $1}')
            ;;
        get | set)
            if ((position == 0)); then
                candidates=$(_tarvek_logical_names "$program")
            elif ((position == 1)); then
                candidates=$(_tarvek_attribute_names "$program" "$cur")
            elif ((position == 2)) && [[ $command == set ]]; then
                candidates=$(_tarvek_attribute_values "$program" "${positional[1]}")
            fi
            ;;
        *)
            ((position == 0)) && candidates=$(_tarvek_logical_names "$program")
            ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$candidates" -- "$cur")
    _tarvek_trim_colons "$cur"
}

complete -F _tarvek tarvek

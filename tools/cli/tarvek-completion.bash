# bash completion for tarvek: commands, options, attribute names, their
# values, store subcommands and logical names. Everything is asked of the
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

# The values an attribute takes: on/off for booleans, else the ends of its
# TARVEK_VAL_* names after the part they share ("series2" for
# TARVEK_VAL_OUTPUT_MODE_SERIES2), which tarvek accepts as they stand.
_tarvek_attribute_values() {
    local program=$1 name=${2^^}
    name=${name//-/_}
    [[ $name == TARVEK_ATTR_* ]] || name=TARVEK_ATTR_$name
    _tarvek_attribute_table "$program" | awk -v name="$name" '
        $1 != name { next }
        $2 == "ViBoolean" { print "on"; print "off"; exit }
        {
            n = 0
            for (i = 3; i <= NF; i++) if ($i ~ /^TARVEK_VAL_/) values[++n] = substr($i, 12)
            if (n == 0) exit
            prefix = values[1]
            for (i = 2; i <= n; i++)
                while (prefix != "" && index(values[i], prefix) != 1) sub(/[^_]*_?$/, "", prefix)
            if (prefix !~ /_$/) sub(/[^_]*$/, "", prefix)
            for (i = 1; i <= n; i++) {
                value = substr(values[i], length(prefix) + 1)
                print tolower(value == "" ? values[i] : value)
            }
            exit
        }'
}

_tarvek_logical_names() {
    "$1" store list 2>/dev/null | awk '{print $1}'
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
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]}
    COMPREPLY=()

    # The command, then (knowing which options of it take a value) the
    # positional words before the cursor.
    local command="" word value_options i
    local -a positional=()
    value_options=" $(_tarvek_value_options "$program" | tr '\n' ' ') "
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $word == --* ]]; then
            [[ $word != *=* && $value_options == *" $word "* ]] && ((i++))
        else
            command=$word
            break
        fi
    done
    if [[ -n $command ]]; then
        value_options=" $(_tarvek_value_options "$program" "$command" | tr '\n' ' ') "
        for ((i = i + 1; i < COMP_CWORD; i++)); do
            word=${COMP_WORDS[i]}
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
            --channel) mapfile -t COMPREPLY < <(compgen -W "CH1 CH2 CH3" -- "$cur") ;;
            --output) mapfile -t COMPREPLY < <(compgen -W "on off" -- "$cur") ;;
            --steps | --csv) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
        esac
        return
    fi
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_tarvek_options "$program" "$command")" -- "$cur")
        return
    fi

    local position=${#positional[@]} words=""
    case $command in
        store)
            if ((position == 0)); then
                words="list show add remove check"
            elif ((position == 1)) && [[ ${positional[0]} == show || ${positional[0]} == remove ]]; then
                words=$(_tarvek_logical_names "$program")
            fi
            ;;
        attributes)
            ((position == 0)) && words=$(_tarvek_attribute_table "$program" | awk '{print $1}')
            ;;
        get | set)
            if ((position == 0)); then
                words=$(_tarvek_logical_names "$program")
            elif ((position == 1)); then
                words=$(_tarvek_attribute_names "$program" "$cur")
            elif ((position == 2)) && [[ $command == set ]]; then
                words=$(_tarvek_attribute_values "$program" "${positional[1]}")
            fi
            ;;
        *)
            ((position == 0)) && words=$(_tarvek_logical_names "$program")
            ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}

complete -F _tarvek tarvek

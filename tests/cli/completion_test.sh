#!/usr/bin/env bash
# The bash completion of tarvek, driven the way bash drives it: COMP_LINE and
# COMP_POINT as typed, COMP_WORDS split at COMP_WORDBREAKS (so a VISA
# resource arrives in pieces at every "::"), and the replies it leaves.
#   completion_test.sh TARVEK COMPLETION_SCRIPT
set -u
program=$1
script=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export IVI_CONFIG_STORE=$work/store.xml
"$program" store add Bench --resource TCPIP::127.0.0.1::5025::SOCKET --driver-setup Model:6512 \
    --virtual Motor=CH1 >/dev/null || exit 1
"$program" store add Rack --resource TCPIP::127.0.0.1::5026::SOCKET --virtual Left=CH1,Right=CH3 \
    >/dev/null || exit 1

failures=0

# Splits a line as readline does with the default COMP_WORDBREAKS: at blanks,
# and a run of ':' or '=' is a word of its own.
split_words() {
    python3 -c '
import re, sys
line = sys.argv[1]
words = re.findall(r"[:=]+|[^\s:=]+", line)
if line.endswith(" ") or not words:
    words.append("")
print("\n".join(words))' "$1"
}

# complete LINE: prints the replies, one per line, for the cursor at the end.
complete_line() {
    local line=$1
    mapfile -t words < <(split_words "$line")
    bash -c 'source "$1"; shift; COMP_LINE=$1; COMP_POINT=${#1}; shift
             COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tarvek
             printf "%s\n" "${COMPREPLY[@]}"' _ "$script" "$line" "${words[@]}"
}

# expect LINE EXACT-REPLIES (space separated, sorted)
expect() {
    local line=$1 want=$2 got
    got=$(complete_line "$line" | sort | tr '\n' ' ' | sed 's/ $//')
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$line' completes to '$got', expected '$want'"
        failures=$((failures + 1))
    fi
}

R=TCPIP::127.0.0.1::5025::SOCKET
cases=(
    # The words after a resource with "::" are counted as one resource.
    "$program get $R voltage_le|voltage_level"
    "$program set $R output_mode ser|series2 series3"
    "$program get $R ocp_enabled --channel |CH1 CH2 CH3"
    "$program set TCPIP0::127.0.0.1::hislip0::INSTR remote_state remote|remote remote_with_lock"
    # Logical names: their virtual names, and one output when the store says so.
    "$program measure Bench --channel |CH1 Motor"
    "$program get Rack voltage_level --channel |CH1 CH2 CH3 Left Right"
    "$program get Rack voltage_level --channel R|Right"
    "$program measure $R --options DriverSetup=Model:6510 --channel |CH1"
    # What already worked keeps working.
    "$program st|store"
    "$program store show |Bench Rack"
    "$program get B|Bench"
    "$program apply $R --output |off on"
    "$program set Bench ocp_enabled |off on"
)
for row in "${cases[@]}"; do
    expect "${row%%|*}" "${row#*|}"
done
# A word being typed that holds "::" gets replies without the part bash keeps.
got=$(COMP_WORDBREAKS=$' \t\n"'"'"'><=;|&(:' complete_line "$program store show Ben")
[[ $got == Bench ]] || { echo "FAIL: store show Ben -> '$got'"; failures=$((failures + 1)); }

if ((failures > 0)); then
    echo "$failures completion case(s) failed"
    exit 1
fi
echo "completion test passed"

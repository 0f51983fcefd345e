#!/bin/bash
# Installs the build into a temporary prefix and uses it as another project
# would: builds a C program with pkg-config and with find_package(TARVEK
# CONFIG), runs both in simulation and through a logical name that the
# installed tarvek added to a store, and reads the installed man pages.
#   install_test.sh BUILD_DIR CONSUMER_SOURCE_DIR CMAKE C_COMPILER GENERATOR
set -euo pipefail
build=$1 source=$2 cmake=$3 cc=$4 generator=$5

work=$(mktemp -d /tmp/tarvek-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || {
    cat "$work/install.log"; fail "cmake --install"; }
libdir=$(dirname "$(find "$prefix" -name libTARVEK_64.so -print -quit)")
[ -n "$libdir" ] || fail "libTARVEK_64.so not installed"
for lib in libTARVEK_64 libtkvisa libtk6x1x; do
    readelf -d "$libdir/$lib.so" | grep -q "SONAME.*\[$lib\.so\.1\]" || fail "$lib has no soname .so.1"
done

expect() {  # expect "TEXT" COMMAND...: runs the command and looks for TEXT in its output
    local text=$1; shift
    local out
    out=$("$@" 2>&1) || { echo "$out"; fail "$* exited with $?"; }
    grep -qF -- "$text" <<<"$out" || { echo "$out"; fail "$* did not print '$text'"; }
}

# pkg-config: compile and link as a Makefile would, run from the prefix.
export PKG_CONFIG_PATH=$libdir/pkgconfig
flags=$(pkg-config --cflags --libs tarvek tkvisa) || fail "pkg-config tarvek tkvisa"
[ "$(pkg-config --modversion tarvek)" = "$(pkg-config --modversion tkvisa)" ] || fail "versions differ"
# shellcheck disable=SC2086
"$cc" -Wall -Werror -o "$work/consumer_pc" "$source/consumer.c" $flags || fail "pkg-config build"
LD_LIBRARY_PATH=$libdir expect "model 6512, CH1 at 4.50 V" "$work/consumer_pc"
# The IVI-ANSI-C interface alone, as strict C99.
flags=$(pkg-config --cflags --libs tk6x1x) || fail "pkg-config tk6x1x"
# shellcheck disable=SC2086
"$cc" -std=c99 -pedantic -Wall -Werror -o "$work/consumer_ansi_pc" "$source/consumer_ansi.c" $flags ||
    fail "pkg-config tk6x1x build"
LD_LIBRARY_PATH=$libdir expect "IVI-ANSI-C: model 6512, CH1 at 4.50 V" "$work/consumer_ansi_pc"

# CMake package: the imported targets carry include directories and the
# library, and CMake sets the run path itself.
"$cmake" -S "$source" -B "$work/consumer_build" -G "$generator" -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_PREFIX_PATH="$prefix" >"$work/configure.log" || {
    cat "$work/configure.log"; fail "find_package(TARVEK CONFIG)"; }
"$cmake" --build "$work/consumer_build" >"$work/build.log" || { cat "$work/build.log"; fail "CMake build"; }
expect "model 6512, CH1 at 4.50 V" "$work/consumer_build/consumer"
expect "IVI-ANSI-C: model 6512, CH1 at 4.50 V" "$work/consumer_build/consumer_ansi"

# The installed tool runs without any library path, and what it adds to a
# store the installed driver opens.
export IVI_CONFIG_STORE=$work/store.xml
expect "Added Sim" "$prefix/bin/tarvek" store add Sim --resource TCPIP::192.0.2.1::5025::SOCKET \
    --simulate --driver-setup Model:6313
expect "model 6313, CH1 at 4.50 V" "$work/consumer_build/consumer" Sim ""
expect "Usage: tarvek-emulator" "$prefix/bin/tarvek-emulator" --help

# Man pages and completion.
for page in tarvek tarvek-store tarvek-emulator; do
    [ -f "$prefix/share/man/man1/$page.1" ] || fail "no man page $page.1"
done
if command -v man >/dev/null; then
    MANPATH=$prefix/share/man expect "tarvek - drive TARVEK DC power supplies" man -P cat tarvek
fi
# Completion asks the installed tarvek for commands, attributes and values.
complete_words() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tarvek
             printf "%s\n" "${COMPREPLY[@]}"' _ "$prefix/share/bash-completion/completions/tarvek" "$@"
}
expect "store" complete_words "$prefix/bin/tarvek" st
expect "voltage_level" complete_words "$prefix/bin/tarvek" get Sim volt
expect "series2" complete_words "$prefix/bin/tarvek" set Sim output_mode ""
expect "Sim" complete_words "$prefix/bin/tarvek" store show ""

# The udev rule for USB instruments, in the directory udev reads under a prefix.
rule=$prefix/lib/udev/rules.d/60-tarvek-usbtmc.rules
grep -q 'KERNEL=="usbtmc\[0-9\]\*", GROUP="usbtmc", MODE="0660"' "$rule" || fail "no usbtmc udev rule"
echo "install test passed"

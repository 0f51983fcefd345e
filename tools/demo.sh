#!/usr/bin/env bash
# Starts the emulator on a free loopback port, runs the quickstart example
# against it and stops the emulator again.
set -euo pipefail
BUILD_DIR=${1:-build}
WORK=$(mktemp -d)
"$BUILD_DIR/bin/tarvek-emulator" --model 6313 --port 0 >"$WORK/emulator.out" 2>"$WORK/emulator.err" &
EMULATOR=$!
trap 'kill "$EMULATOR" 2>/dev/null || true; wait "$EMULATOR" 2>/dev/null || true; rm -rf "$WORK"' EXIT
for _ in $(seq 100); do
  RESOURCE=$(head -n 1 "$WORK/emulator.out" 2>/dev/null || true)
  [ -n "$RESOURCE" ] && break
  sleep 0.05
done
if [ -z "${RESOURCE:-}" ]; then
  echo "The emulator did not start:" >&2
  cat "$WORK/emulator.err" >&2
  exit 1
fi
echo "Emulated Series6310 supply listening at $RESOURCE"
echo
"$BUILD_DIR/bin/quickstart" "$RESOURCE"

#!/usr/bin/env bash
# Runs a command on an X display of its own: a fresh Xvfb, ended when the command ends. Xvfb
# picks a free display number itself and reports it (-displayfd), so runs side by side cannot
# race for one as xvfb-run -a can.
# Usage: with_display.sh COMMAND [ARG...]
set -euo pipefail
work=$(mktemp -d)
xvfb=
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# Its output on /dev/null: a server that outlived us must not hold ctest's output open.
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" </dev/null >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 200); do
    grep -q '^[0-9]' "$work/display" 2>/dev/null && break
    kill -0 "$xvfb" 2>/dev/null || { echo "with_display.sh: Xvfb did not start" >&2; exit 1; }
    sleep 0.05
done
DISPLAY=:$(head -1 "$work/display")
export DISPLAY
"$@"

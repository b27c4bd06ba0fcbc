#!/usr/bin/env bash
# "sluta" right after start-up: exit 0, and the trace is exactly start-up plus two key-offs.
set -euo pipefail
vesk=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf 'sluta\n' | "$vesk" --text --chip none --port-trace "$work/t.txt" > "$work/out.txt"
python3 "$here/expected_trace.py" startup > "$work/expected.txt"
[ "$(wc -l < "$work/t.txt")" -eq $((12556 + 86)) ] || { echo "wrong access count"; exit 1; }
diff -q "$work/expected.txt" "$work/t.txt"
[ -z "$(find "$work" -name '*.tmp')" ] || { echo "temporary file left behind"; exit 1; }
echo "startup trace exact"

#!/usr/bin/env bash
# CPU used by one whole real-time playback (about 67 s) in the text front end.
# Usage: bench/playback_cpu.sh path/to/vesk [extra vesk options]
set -euo pipefail
vesk=$1
shift
out=$(mktemp)
trap 'rm -f "$out"' EXIT
printf 'start\n' | /usr/bin/time -f '%e %U %S' -o "$out" "$vesk" --text "$@" > /dev/null
read -r wall user sys < "$out"
awk -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN {
    printf "wall %.1f s, cpu %.2f s (user %.2f, sys %.2f): %.2f%% of a core\n", w, u + s, u, s, 100 * (u + s) / w
}'

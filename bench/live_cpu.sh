#!/usr/bin/env bash
# CPU use of live playback: the whole tune through the text front end, per chip and core.
# Usage: bench/live_cpu.sh path/to/vesk   (takes about 70 s per row; rows run two at a time)
set -euo pipefail
vesk=${1:?usage: live_cpu.sh path/to/vesk}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

run() {  # name, then vesk's options
    local name=$1
    shift
    printf 'start\n' | /usr/bin/time -f '%U %S %e' -o "$work/$name" "$vesk" --text "$@" > /dev/null
}

run none --chip none &
run nuked --emulator nuked &
wait
run mame --emulator mame &
run dosbox --emulator dosbox &
wait

printf '%-8s %8s %8s %9s %8s\n' chip user_s sys_s elapsed_s cpu_%
for name in none nuked mame dosbox; do
    read -r user sys elapsed < "$work/$name"
    awk -v n="$name" -v u="$user" -v s="$sys" -v e="$elapsed" \
        'BEGIN { printf "%-8s %8.2f %8.2f %9.2f %8.2f\n", n, u, s, e, 100 * (u + s) / e }'
done

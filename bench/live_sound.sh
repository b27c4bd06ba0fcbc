#!/usr/bin/env bash
# Live sound through real sound servers: the whole tune played through a PulseAudio server and
# a PipeWire one of our own (a null sink each), recorded from the monitor and compared with the
# render: through the program's own stream (its choice with SDL_AUDIODRIVER unset, "default"
# below) and through SDL's alsa driver by ALSA's pulse plugin, on an idle machine and beside two
# busy loops at normal priority.
# Usage: bench/live_sound.sh path/to/vesk [RUNS]   (about 75 s a run; RUNS per row, default 3)
# "strict" is the verdict on the goal: no drop-outs, every step within 5 ms of its place.
set -euo pipefail
vesk=$(realpath "${1:?usage: live_sound.sh path/to/vesk [RUNS]}")
runs=${2:-3}
live=$(cd "$(dirname "$0")/../tests/live" && pwd)
python=/usr/bin/python3
work=$(mktemp -d)
source "$live/pulse_server.sh"
source "$live/pipewire_server.sh"
busy=()
stop_busy() {
    local pid
    for pid in "${busy[@]}"; do kill "$pid" 2> /dev/null || true; done
    busy=()
}
trap 'stop_busy; stop_pulse_server; stop_pipewire_server; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$vesk" --render "$work/render.wav" --capture "$work/render.vgm"
# The machine's load shows how much else wanted the two cores meanwhile.
printf '%-10s %-10s %-5s %3s %10s %11s %12s %9s %9s %5s %6s %5s\n' server driver load run \
    latency_ms range_ms placement_sd worst_ms drop_outs seen strict loadavg
row() {  # server, SDL driver ("" for SDL's own choice), load
    local server=$1 driver=$2 load=$3 run out status
    [ "$load" = busy ] && for _ in 1 2; do (while :; do :; done) & busy+=($!); done
    for run in $(seq "$runs"); do
        out=$work/$server-${driver:-default}-$load-$run
        env ${driver:+SDL_AUDIODRIVER=$driver} "$python" "$live/live_sound.py" play "$out" \
            "$vesk" > "$out.log" 2>&1 || { echo "$server $driver run $run failed:"; cat "$out.log"; continue; }
        status=0
        "$python" "$live/live_sound.py" check "$work/render.wav" "$work/render.vgm" "$out" \
            --expect-clean > "$out.check" || status=$?
        # What the program itself counted, beside what the recording shows.
        seen=$(sed -n 's/^vesk: \([0-9]*\) drop-outs\{0,1\}:.*/\1/p' "$out.log")
        awk -v sv="$server" -v d="${driver:-default}" -v l="$load" -v r="$run" \
            -v seen="${seen:-0}" -v ok="$([ "$status" = 0 ] && echo ok || echo FAIL)" \
            -v avg="$(cut -d' ' -f1 /proc/loadavg)" '
            /^placement:/ { sd = $3; worst = $6 }
            /^latency/    { med = $6; lo = $8; hi = $10 }
            /^drop-outs:/ { drops = $2 }
            END { printf "%-10s %-10s %-5s %3s %10s %5s-%-5s %12s %9s %9s %5s %6s %5s\n", sv, d,
                  l, r, med, lo, hi, sd, worst, drops, seen, ok, avg }' "$out.check"
    done
    stop_busy
}
for load in idle busy; do
    start_pulse_server "$work/pulse"
    row pulseaudio "" "$load"
    row pulseaudio alsa "$load"
    stop_pulse_server
    start_pipewire_server "$work/pipewire"
    row pipewire "" "$load"
    stop_pipewire_server
done

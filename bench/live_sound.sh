#!/usr/bin/env bash
# Live sound through a real sound server: the whole tune played through a PulseAudio server of
# our own (a null sink), recorded from its monitor and compared with the render, per SDL driver.
# Usage: bench/live_sound.sh path/to/vesk [RUNS]   (about 75 s a run; RUNS per driver, default 3)
set -euo pipefail
vesk=$(realpath "${1:?usage: live_sound.sh path/to/vesk [RUNS]}")
runs=${2:-3}
live=$(cd "$(dirname "$0")/../tests/live" && pwd)
python=/usr/bin/python3
work=$(mktemp -d)
source "$live/pulse_server.sh"
trap 'stop_pulse_server; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
start_pulse_server "$work"

"$vesk" --render "$work/render.wav" --capture "$work/render.vgm"
# The machine's load shows how much else wanted the two cores meanwhile.
printf '%-11s %3s %10s %11s %12s %9s %9s %5s %5s\n' driver run latency_ms range_ms \
    placement_sd worst_ms drop_outs seen load
for driver in pulseaudio alsa; do
    for run in $(seq "$runs"); do
        out=$work/$driver-$run
        SDL_AUDIODRIVER=$driver "$python" "$live/live_sound.py" play "$out" "$vesk" \
            > "$out.log" 2>&1 || { echo "$driver run $run failed:"; cat "$out.log"; continue; }
        "$python" "$live/live_sound.py" check "$work/render.wav" "$work/render.vgm" "$out" \
            > "$out.check"
        # What the program itself counted, beside what the recording shows.
        seen=$(sed -n 's/^vesk: \([0-9]*\) drop-outs.*/\1/p' "$out.log")
        load=$(cut -d' ' -f1 /proc/loadavg)
        awk -v d="$driver" -v r="$run" -v seen="${seen:-0}" -v load="$load" '
            /^placement:/ { sd = $3; worst = $6 }
            /^latency/    { med = $6; lo = $8; hi = $10 }
            /^drop-outs:/ { drops = $2 }
            END { printf "%-11s %3s %10s %5s-%-5s %12s %9s %9s %5s %5s\n", d, r, med, lo, hi, sd,
                  worst, drops, seen, load }' "$out.check"
    done
done

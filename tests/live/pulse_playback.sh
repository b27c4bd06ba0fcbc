#!/usr/bin/env bash
# The whole tune played live through a PulseAudio server of the test's own, recorded from the
# monitor of its null sink and compared with the program's render: every step sounds, in order,
# at its pitch and near its place, with no long drop-out.
# Usage: pulse_playback.sh VESK SCRATCH_DIR. Exits 77 (skip) if PulseAudio is not installed.
set -euo pipefail

vesk=$1
scratch=$2
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # Debian's numpy is installed for the system's Python
source "$here/pulse_server.sh"

rm -rf "$scratch"
mkdir -p "$scratch"
trap stop_pulse_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
status=0
start_pulse_server "$scratch" || status=$?
[ "$status" -eq 0 ] || exit "$status"

# The reference: the program's own render, and where its key-ons are.
"$vesk" --render "$scratch/render.wav" --capture "$scratch/render.vgm"
# Only what holds on a machine busy with other work is checked here: bench/live_sound.sh
# measures the strict figures.
SDL_AUDIODRIVER=pulseaudio "$python" "$here/live_sound.py" play "$scratch/live" "$vesk"
"$python" "$here/live_sound.py" check "$scratch/render.wav" "$scratch/render.vgm" \
    "$scratch/live" --expect-sound

#!/usr/bin/env bash
# The whole tune played live through a PulseAudio server of the test's own, recorded from the
# monitor of its null sink and compared with the program's render: no drop-outs, and every step,
# the first included, within 5 ms of when it was played.
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
# A machine busy with other work stalls the audio thread or the server now and then for longer
# than any queue inside the 25 ms budget lasts (see docs/measurements.md). So a playback whose
# only fault is drop-outs is played once more; shallow buffers drop out dozens of times a song
# and fail both.
for attempt in 1 2; do
    SDL_AUDIODRIVER=pulseaudio "$python" "$here/live_sound.py" play "$scratch/live$attempt" "$vesk"
    status=0
    "$python" "$here/live_sound.py" check "$scratch/render.wav" "$scratch/render.vgm" \
        "$scratch/live$attempt" --expect-clean || status=$?
    [ "$status" -eq 3 ] && [ "$attempt" -eq 1 ] || exit "$status"
    echo "drop-outs in the first playback; playing once more"
done

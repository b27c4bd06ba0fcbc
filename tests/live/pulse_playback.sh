#!/usr/bin/env bash
# The whole tune played live through a sound server of the test's own, recorded from the
# monitor of its null sink and compared with the program's render: every step sounds, in order,
# at its pitch and near its place, with no long drop-out.
# Usage: pulse_playback.sh VESK SCRATCH_DIR [pulseaudio | pipewire]
#   pulseaudio (the default): PulseAudio itself, through SDL's pulseaudio driver;
#   pipewire: PipeWire with its pulse server and WirePlumber, through whichever driver SDL
#   picks there by itself, as on a desktop that runs PipeWire.
# Exits 77 (skip) if the server is not installed.
set -euo pipefail

vesk=$1
scratch=$2
server=${3:-pulseaudio}
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # Debian's numpy is installed for the system's Python
case $server in
    pulseaudio)
        source "$here/pulse_server.sh"
        start=start_pulse_server stop=stop_pulse_server
        export SDL_AUDIODRIVER=pulseaudio ;;
    pipewire)
        source "$here/pipewire_server.sh"
        start=start_pipewire_server stop=stop_pipewire_server
        unset SDL_AUDIODRIVER ;;
    *) echo "unknown server $server" >&2; exit 2 ;;
esac

rm -rf "$scratch"
mkdir -p "$scratch"
trap '$stop' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
status=0
$start "$scratch" || status=$?
[ "$status" -eq 0 ] || exit "$status"

# The reference: the program's own render, and where its key-ons are.
"$vesk" --render "$scratch/render.wav" --capture "$scratch/render.vgm"
# Only what holds on a machine busy with other work is checked here: bench/live_sound.sh
# measures the strict figures.
"$python" "$here/live_sound.py" play "$scratch/live" "$vesk"
"$python" "$here/live_sound.py" check "$scratch/render.wav" "$scratch/render.vgm" \
    "$scratch/live" --expect-sound

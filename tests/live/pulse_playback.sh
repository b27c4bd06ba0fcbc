#!/usr/bin/env bash
# The whole tune played live through a sound server of the test's own, recorded from the
# monitor of its null sink and compared with the program's render: every step sounds, in order,
# at its pitch and near its place, with no long drop-out, and a stall does not leave it late.
# Usage: pulse_playback.sh VESK SCRATCH_DIR [pulseaudio | pipewire]
#   pulseaudio (the default): PulseAudio itself;
#   pipewire: PipeWire with its pulse server and WirePlumber, as on a desktop that runs it.
# Both are played to through the program's own stream, as it chooses when SDL_AUDIODRIVER is
# unset.
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
        start=start_pulse_server stop=stop_pulse_server ;;
    pipewire)
        source "$here/pipewire_server.sh"
        start=start_pipewire_server stop=stop_pipewire_server ;;
    *) echo "unknown server $server" >&2; exit 2 ;;
esac
unset SDL_AUDIODRIVER

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
# measures the strict figures. The program is held up for 50 ms once, as a busy machine can:
# the sound drops out, and the steps after it are back at their places.
if [ "$server" = pipewire ]; then
    # PipeWire paces its whole graph by its most hurried stream: ours must not ask for less
    # than 512 frames, a pace kept on a busy machine without real-time scheduling. And it is
    # PipeWire's own stream, not one through its pulse server, whose queue adds 20 ms. Noted
    # once it shows.
    (for _ in $(seq 600); do
        pw-dump 2> /dev/null | "$python" -c '
import json, sys
for node in json.load(sys.stdin):
    props = node.get("info", {}).get("props", {})
    if props.get("node.name") == "vesk" and "node.latency" in props:
        print(props["node.latency"], props.get("client.api", "pipewire")); sys.exit(0)
sys.exit(1)' > "$scratch/pace" && exit 0
        sleep 0.1
    done) &
    pace_watch=$!
fi
"$python" "$here/live_sound.py" play "$scratch/live" "$vesk" --stall 20:50
if [ "$server" = pipewire ]; then
    # Not seen by the end of the song is not seen at all.
    kill "$pace_watch" 2> /dev/null || true
    wait "$pace_watch" 2> /dev/null || true
    pace=unseen api=
    [ -s "$scratch/pace" ] && read -r pace api < "$scratch/pace"
    if [ "${pace%/*}" = unseen ] || [ "${pace%/*}" -lt 512 ]; then
        echo "FAIL: the program's stream paces PipeWire at $pace, below 512 frames" >&2
        exit 1
    fi
    if [ "$api" != pipewire ]; then
        echo "FAIL: the program plays through $api, not a PipeWire stream of its own" >&2
        exit 1
    fi
fi
"$python" "$here/live_sound.py" check "$scratch/render.wav" "$scratch/render.vgm" \
    "$scratch/live" --expect-sound

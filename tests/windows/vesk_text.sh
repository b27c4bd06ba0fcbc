#!/usr/bin/env bash
# vesk.exe's text front end under Wine, with the stand-in port library beside it recording every
# access the program makes; what it records is checked against traces built from the chip facts
# (tests/e2e/expected_trace.py), never against the program's own output.
# Usage: vesk_text.sh CASE VESK.EXE DLL_DIR WINE-RUN [ARG...]
#   DLL_DIR holds standin/inpout32.dll and standin_no_inp32/inpout32.dll.
set -euo pipefail
case=$1 vesk=$2 dlls=$3
shift 3
wine=("$@")
here=$(cd "$(dirname "$0")" && pwd)
e2e=$here/../e2e
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8  # Wine reads the command line and file names in the locale's encoding
fail() { echo "FAIL: $*"; exit 1; }

# The program in a folder of its own; the library, when given, beside it as Windows looks for it.
# A name outside every ANSI code page, so a file name the program mangles is not found.
run_dir=$work/vesk-прове-日本
mkdir "$run_dir"
cp "$vesk" "$run_dir/vesk.exe"
install_library() { cp "$dlls/$1/inpout32.dll" "$run_dir/inpout32.dll"; }
export VESK_INPOUT_TRACE=record.txt

python3 "$e2e/expected_trace.py" startup > "$work/startup.txt"
python3 "$e2e/song_steps.py" "$here/../../song/stored_song.cpp" > "$work/steps.txt"
python3 "$e2e/expected_trace.py" song "$work/steps.txt" > "$work/song.txt"

# vesk ARG...: runs the program in its folder, input from $work/in, output in $work/out, err.
vesk() {
    local status=0
    (cd "$run_dir" && timeout 120 "${wine[@]}" ./vesk.exe "$@") < "$work/in" > "$work/out" \
        2> "$work/err" || status=$?
    echo "$status"
}

# A record that ends a playback mid-note: start-up, whole steps, then the step under way with
# its four writes and the two key-offs of "Sluta", which are the step's own last two. So it is
# the whole song's trace cut at the end of a step, after at least one.
check_cut_at_a_step() {
    local lines per_step=$((6 * 43)) startup_lines
    startup_lines=$(($(wc -l < "$work/startup.txt") - 2 * 43))
    lines=$(wc -l < "$1")
    [ $(((lines - startup_lines) % per_step)) = 0 ] && [ "$lines" -gt "$startup_lines" ] ||
        fail "$lines accesses is not start-up and whole steps"
    head -n "$lines" "$work/song.txt" | cmp -s - "$1" || fail "the record is not the song's trace"
    echo "cut after step $(((lines - startup_lines) / per_step))"
}

case $case in
sluta)
    # "sluta" at once, with the default chip: start-up and the two key-offs, in the library's
    # record and in the port trace alike; the captures hold the same register writes.
    install_library standin
    for capture in fångst.vgm fångst.dro; do
        rm -f "$run_dir/record.txt"
        printf 'sluta\n' > "$work/in"
        status=$(vesk --text --port-trace spår.txt --capture "$capture")
        [ "$status" = 0 ] || fail "exit $status: $(cat "$work/err")"
        cmp "$work/startup.txt" "$run_dir/record.txt" || fail "the library's record differs"
        cmp "$work/startup.txt" "$run_dir/spår.txt" || fail "--port-trace differs"
        python3 "$here/capture_check.py" "$run_dir/$capture" "$run_dir/spår.txt"
    done
    [ -z "$(find "$run_dir" -name '*.tmp')" ] || fail "temporary file left behind"
    ;;
mid-note)
    # "start", then "sluta" some steps in: the steps so far, then the key-offs.
    install_library standin
    mkfifo "$work/in"
    { printf 'start\n'; sleep 2.5; printf 'sluta\n'; } > "$work/in" &
    status=$(vesk --text)
    [ "$status" = 0 ] || fail "exit $status: $(cat "$work/err")"
    grep -q '^step 1/74 ' "$work/out" || fail "no progress shown"
    check_cut_at_a_step "$run_dir/record.txt"
    ;;
ctrl-c)
    # Ctrl-C during a note acts as "Sluta" and ends with 128 + SIGINT. Wine hands SIGINT to the
    # console control handler as Ctrl-C.
    install_library standin
    mkfifo "$work/in"
    (cd "$run_dir" && exec timeout 120 "${wine[@]}" ./vesk.exe --text) < "$work/in" \
        > "$work/out" 2> "$work/err" &
    pid=$!
    exec 3> "$work/in"
    printf 'start\n' >&3
    for _ in $(seq 100); do grep -q '^step 2/' "$work/out" && break; sleep 0.1; done
    kill -INT "$pid"
    status=0
    wait "$pid" || status=$?
    exec 3>&-
    [ "$status" = 130 ] || fail "exit $status after Ctrl-C: $(cat "$work/err")"
    check_cut_at_a_step "$run_dir/record.txt"
    ;;
no-library)
    # No inpout32.dll anywhere: the first access fails, naming the library, and nothing is
    # written to a chip.
    printf 'start\n' > "$work/in"
    status=$(vesk --text --port-trace spår.txt)
    [ "$status" = 1 ] || fail "exit $status without the library"
    grep -q '^vesk: run-time error: cannot load inpout32.dll: ' "$work/err" ||
        fail "the error does not name the library: $(cat "$work/err")"
    # and tells a user without a card how to hear the tune all the same.
    tr -d '\r' < "$work/err" | grep -q ' (without a card, --chip emulated plays the tune on an emulated chip)$' ||
        fail "the error does not point to --chip emulated: $(cat "$work/err")"
    ;;
no-inp32)
    # A library without Inp32 is refused before any access reaches it.
    install_library standin_no_inp32
    printf 'start\n' > "$work/in"
    status=$(vesk --text)
    [ "$status" = 1 ] || fail "exit $status with a library lacking Inp32"
    tr -d '\r' < "$work/err" |
        grep -qx 'vesk: run-time error: cannot load inpout32.dll: it has no entry point Inp32 (without a card, --chip emulated plays the tune on an emulated chip)' ||
        fail "the error does not name the entry point: $(cat "$work/err")"
    [ ! -e "$run_dir/record.txt" ] || fail "the library was used all the same"
    ;;
options)
    # The Windows build's options: a real card by default, the emulated chip and the render too.
    : > "$work/in"
    status=$(vesk --help)
    [ "$status" = 0 ] || fail "--help exits $status"
    for word in --text --chip inpout32 emulated none --emulator --render --rate --capture \
        --port-trace --help --version; do
        grep -q -- "$word" "$work/out" || fail "--help does not name $word"
    done
    for word in "ports:" display; do
        grep -q -- "$word" "$work/out" && fail "--help names $word"
    done
    grep -q 'default inpout32' "$work/out" || fail "inpout32 is not the default"
    for args in "--chip ports" "--render x.wav --chip inpout32" "--render x.wav --text" \
        "--emulator kemu" "--rate 7999"; do
        # shellcheck disable=SC2086
        status=$(vesk $args)
        [ "$status" = 2 ] || fail "'$args' exits $status, not 2"
    done
    ;;
emulated-silent | emulated-dummy)
    # The emulated chip live. With no sound device (Wine's audio driver is off) every driver is
    # tried and the tune plays on in silence, saying so once; with SDL's dummy driver it plays
    # there, saying which driver it is. Either way "start", then "sluta" some steps in, traces
    # start-up, whole steps and the key-offs, as with a real card.
    if [ "$case" = emulated-silent ]; then
        unset SDL_AUDIODRIVER
        # Its prefix is its own (the services it starts would outlive it): end them with it.
        trap '"${wine[@]}" --stop; rm -rf "$work"' EXIT
        said='^vesk: no audio device \(wasapi: .*; directsound: .*; winmm: .*\); playing silently$'
    else
        export SDL_AUDIODRIVER=dummy
        said="^vesk: playing through SDL's dummy audio driver$"
    fi
    mkfifo "$work/in"
    { printf 'start\n'; sleep 2.5; printf 'sluta\n'; } > "$work/in" &
    status=$(vesk --text --chip emulated --port-trace spår.txt)
    [ "$status" = 0 ] || fail "exit $status: $(cat "$work/err")"
    tr -d '\r' < "$work/err" > "$work/err.txt"
    [ "$(wc -l < "$work/err.txt")" = 1 ] || fail "not one line on stderr: $(cat "$work/err.txt")"
    grep -Eq "$said" "$work/err.txt" || fail "unexpected: $(cat "$work/err.txt")"
    grep -q '^step 1/74 ' "$work/out" || fail "no progress shown"
    check_cut_at_a_step "$run_dir/spår.txt"
    ;;
render)
    # --render alone takes the emulated chip, though the default chip is a real card, and needs
    # no library: a WAV of 16-bit mono at the rate asked, the same bytes every time (the date
    # in its tags fixed, so that a midnight between the two cannot tell them apart).
    : > "$work/in"
    export SOURCE_DATE_EPOCH=1700000000
    for name in sång-1.wav sång-2.wav; do
        status=$(vesk --render "$name" --emulator dosbox --rate 22050)
        [ "$status" = 0 ] || fail "exit $status: $(cat "$work/err")"
    done
    [ ! -s "$work/err" ] || fail "said something: $(cat "$work/err")"
    cmp "$run_dir/sång-1.wav" "$run_dir/sång-2.wav" || fail "two renders differ"
    python3 - "$run_dir/sång-1.wav" <<'PY' || fail "not the WAV asked for"
import sys, wave
with wave.open(sys.argv[1]) as w:
    assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (1, 2, 22050), w.getparams()
    assert 74 * 0.908 * 22050 < w.getnframes() < (74 * 0.908 + 0.6) * 22050, w.getnframes()
PY
    [ -z "$(find "$run_dir" -name '*.tmp')" ] || fail "temporary file left behind"
    ;;
what-answered)
    # After start-up, one line says what the status reads showed, from the reads start-up makes
    # anyway: the library's record is start-up's trace whatever the card answers.
    printf 'sluta\n' > "$work/in"
    for answer in "standin:OPL2 at 0x388" \
        "standin_opl3:an OPL3 at 0x388 (it plays the tune as an OPL2)" \
        "standin_empty:nothing answers at 0x388: every status read gave 0xff; is the card in, and set to this address?"; do
        install_library "${answer%%:*}"
        rm -f "$run_dir/record.txt"
        status=$(vesk --text)
        [ "$status" = 0 ] || fail "${answer%%:*}: exit $status: $(cat "$work/err")"
        [ "$(tr -d '\r' < "$work/err")" = "vesk: ${answer#*:}" ] ||
            fail "${answer%%:*}: said: $(cat "$work/err")"
        cmp "$work/startup.txt" "$run_dir/record.txt" || fail "${answer%%:*}: the record differs"
    done
    ;;
detect)
    # --detect runs the timer test and says what it found: 0 for an OPL2 whose timer runs, 1
    # for an empty bus. The test's writes keep the chip's delays and leave the timers stopped.
    : > "$work/in"
    install_library standin_timers
    rm -f "$run_dir/record.txt"
    status=$(vesk --detect)
    [ "$status" = 0 ] || fail "exit $status with a chip: $(cat "$work/err")"
    [ "$(tr -d '\r' < "$work/out")" = "OPL2 at 0x388 (timer test: status 0x06, then 0xc6)" ] ||
        fail "said: $(cat "$work/out") $(cat "$work/err")"
    python3 - "$run_dir/record.txt" <<'PY' || fail "not the timer test's accesses"
import sys
lines = open(sys.argv[1]).read().split("\n")[:-1]
writes, reads, selected = [], 0, None
for line in lines:
    kind, port, *value = line.split()
    if kind == "in":
        reads += 1
    elif port == "0388":
        selected = int(value[0], 16)
    else:
        writes.append((selected, int(value[0], 16)))
assert writes == [(4, 0x60), (4, 0x80), (2, 0xFF), (4, 0x21), (4, 0x60), (4, 0x80)], writes
assert reads == 6 * (6 + 35) + 2, reads  # each write's delays, and the two status reads
PY
    install_library standin_empty
    status=$(vesk --detect)
    [ "$status" = 1 ] || fail "exit $status on an empty bus"
    tr -d '\r' < "$work/out" | grep -q '^no OPL chip at 0x388 (timer test: status 0xff, then 0xff)' ||
        fail "said: $(cat "$work/out")"
    ;;
*) echo "usage: vesk_text.sh sluta|mid-note|ctrl-c|no-library|no-inp32|options|emulated-silent|emulated-dummy|render|what-answered|detect VESK.EXE DLL_DIR WINE-RUN..." >&2
   exit 2 ;;
esac
echo "$case: passed"

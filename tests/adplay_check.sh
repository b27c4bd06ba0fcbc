#!/usr/bin/env bash
# Plays vesk's VGM, VGZ and DRO captures of a full render with adplay and compares them with the
# render: length, pitch and loudness, for each emulator core against adplay's run of the same
# core. Debian's adplay cannot open a .vgz, so it plays the .vgz as Python's gzip unpacks it.
# Usage: adplay_check.sh VESK SCRATCH_DIR. Exits 77 (skip) if adplay is not installed.
set -euo pipefail

vesk=$1
scratch=$2
step_s=0.908  # the tune's step length: where to look for a step in the middle of the song

if ! command -v adplay >/dev/null; then
    echo "adplay_check: adplay is not installed (Debian package adplay)" >&2
    exit 77
fi
mkdir -p "$scratch"

# Reads a 16-bit PCM WAV, then measures: where the sound starts and ends, and the frequency peaks of
# one step. Pure Python: numpy is not guaranteed.
analyse() {
    python3 - "$@" <<'PY'
import array, cmath, math, struct, sys

def read_wav(path):
    data = open(path, 'rb').read()
    if data[:4] != b'RIFF' or data[8:12] != b'WAVE':
        sys.exit(f'{path}: not a WAV file')
    at, fmt, samples = 12, None, None
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack('<I', data[at + 4:at + 8])[0]
        body = data[at + 8:at + 8 + size]
        if tag == b'fmt ':
            fmt = struct.unpack('<HHIIHH', body[:16])
        elif tag == b'data':
            samples = body
        at += 8 + size + (size & 1)
    if fmt is None or samples is None:
        sys.exit(f'{path}: no fmt or data chunk')
    kind, channels, rate, _, _, bits = fmt
    if kind != 1 or bits != 16:
        sys.exit(f'{path}: not 16-bit PCM')
    a = array.array('h')
    a.frombytes(samples[:len(samples) // 2 * 2])
    if sys.byteorder == 'big':
        a.byteswap()
    if channels > 1:
        a = array.array('h', a[::channels])
    # adplay writes a bare 44-byte header, and still exits 0, when it cannot read a file.
    if len(a) < rate:
        sys.exit(f'{path}: only {len(a)} samples of audio')
    return a, rate

def fft(x):
    n = len(x)
    if n == 1:
        return x
    even, odd = fft(x[0::2]), fft(x[1::2])
    out = [0] * n
    for k in range(n // 2):
        t = cmath.exp(-2j * math.pi * k / n) * odd[k]
        out[k], out[k + n // 2] = even[k] + t, even[k] - t
    return out

def peaks(a, rate, start_s):
    """Frequency peaks within 20 dB of the strongest, 40 Hz to 5 kHz, Hann window, interpolated."""
    n = 16384
    first = int(start_s * rate)
    x = [a[first + i] * (0.5 - 0.5 * math.cos(2 * math.pi * i / n)) for i in range(n)]
    mag = [abs(c) + 1e-9 for c in fft(x)[:n // 2]]
    lo, hi = int(40 * n / rate), min(int(5000 * n / rate), n // 2 - 2)
    top = max(mag[lo:hi])
    found = []
    for k in range(lo, hi):
        if mag[k] >= top / 10 and mag[k] > mag[k - 1] and mag[k] >= mag[k + 1]:
            l, m, r = (math.log(v) for v in (mag[k - 1], mag[k], mag[k + 1]))
            shift = 0.5 * (l - r) / (l - 2 * m + r) if l - 2 * m + r != 0 else 0.0
            found.append(((k + shift) * rate / n, mag[k]))
    return sorted(found, key=lambda p: -p[1])

def extent(a, rate):
    """Seconds from the start of the file to the first and past the last sample above -34 dB.
    Below that lies the small constant offset that adplay's Nuked core holds at rest (-40 dB)."""
    level = max(max(a), -min(a)) / 50
    first = next(i for i in range(len(a)) if abs(a[i]) > level)
    last = next(i for i in range(len(a) - 1, -1, -1) if abs(a[i]) > level)
    return first / rate, (last + 1) / rate

def rms_db(a, first, last):
    """RMS from sample `first` to `last`, in dB relative to full scale."""
    total = sum(v * v for v in a[first:last])
    return 10 * math.log10(total / max(last - first, 1) / 32768 ** 2)

def capture_length_s(path):
    head = open(path, 'rb').read(0x20)
    if head[:4] == b'Vgm ':
        return struct.unpack('<I', head[0x18:0x1C])[0] / 44100
    if head[:8] == b'DBRAWOPL':
        return struct.unpack('<I', head[0x10:0x14])[0] / 1000
    sys.exit(f'{path}: neither VGM nor DRO')

ours_path, theirs_path, capture_path, step_s = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
level_path = sys.argv[5]
ours, our_rate = read_wav(ours_path)
theirs, their_rate = read_wav(theirs_path)
faults = []

their_len, capture_len = len(theirs) / their_rate, capture_length_s(capture_path)
print(f'{capture_path}: capture {capture_len:.3f} s, adplay {their_len:.3f} s')
if abs(their_len - capture_len) > 0.01 * capture_len:
    faults.append('adplay does not play the capture for its length')

# Our WAV starts at "Start"; the capture at start-up, whose first delay adplay shortens.
# Measured from each file's first sound, that and our release tail drop out.
our_on, our_off = extent(ours, our_rate)
their_on, their_off = extent(theirs, their_rate)
our_span, their_span = our_off - our_on, their_off - their_on
print(f'  sound: ours {our_on:.3f}-{our_off:.3f} s, adplay {their_on:.3f}-{their_off:.3f} s')
if abs(their_span - our_span) > 0.01 * our_span:
    faults.append(f'sounding length {their_span:.3f} s, ours {our_span:.3f} s: off by more than 1%')

# A window well inside a step in the middle of the song, past the first step's shortened delay.
step = int(our_span / step_s / 2)
ours_peaks = peaks(ours, our_rate, our_on + step * step_s + 0.25)
theirs_peaks = peaks(theirs, their_rate, their_on + step * step_s + 0.25)
show = lambda ps: ', '.join(f'{f:.1f}' for f, _ in ps[:4])
print(f'  step {step + 1} peaks (Hz): ours {show(ours_peaks)}; adplay {show(theirs_peaks)}')
def has(ps, f):
    return any(abs(g - f) <= 0.01 * f for g, _ in ps)
if not has(theirs_peaks, ours_peaks[0][0]) or not has(ours_peaks, theirs_peaks[0][0]):
    faults.append(f'step {step + 1} pitch differs')

# Loudness over each file's sounding span: the same core should sound as loud in both players,
# and nothing may reach full scale.
ours_db = rms_db(ours, int(our_on * our_rate), int(our_off * our_rate))
theirs_db = rms_db(theirs, int(their_on * their_rate), int(their_off * their_rate))
peak = max(max(ours), -min(ours))
print(f'  RMS: ours {ours_db:.2f} dBFS, adplay {theirs_db:.2f} dBFS; our peak {peak}')
if abs(ours_db - theirs_db) > 0.5:
    faults.append(f'ours is {ours_db - theirs_db:+.2f} dB against adplay: more than 0.5 dB')
if peak >= 32767:
    faults.append('our render clips')
open(level_path, 'w').write(f'{ours_db:.3f}\n')

for fault in faults:
    print(f'  FAIL: {fault}')
sys.exit(1 if faults else 0)
PY
}

status=0
# Each of our cores with adplay's name for it (adplay plays Nuked in stereo; its left channel is
# taken); the VGZ and the DRO once, on the DOSBox core.
for run in vgm:nuked:nuked vgm:mame:satoh vgm:dosbox:woody vgz:dosbox:woody dro:dosbox:woody; do
    IFS=: read -r format core theirs <<<"$run"
    name=$core-$format
    capture=$scratch/$name.$format
    "$vesk" --render "$scratch/$name.wav" --emulator "$core" --capture "$capture"
    if [ "$format" = vgz ]; then
        python3 -c 'import gzip, sys; open(sys.argv[2], "wb").write(gzip.open(sys.argv[1]).read())' \
            "$capture" "$scratch/$name-unpacked.vgm"
        capture=$scratch/$name-unpacked.vgm
    fi
    if ! adplay -O disk -d "$scratch/adplay-$name.wav" -e "$theirs" -f 48000 \
        "$([ "$theirs" = nuked ] && echo --stereo || echo --mono)" "$capture" \
        >"$scratch/adplay-$name.out" 2>&1; then
        echo "adplay failed on $capture" >&2
        status=1
        continue
    fi
    # adplay reports a file it cannot read on its output, yet exits 0.
    if grep -Eiq '^adplay:|error' "$scratch/adplay-$name.out"; then
        echo "adplay could not play $capture:" >&2
        cat "$scratch/adplay-$name.out" >&2
        status=1
        continue
    fi
    echo "$core ($theirs in adplay):"
    analyse "$scratch/$name.wav" "$scratch/adplay-$name.wav" "$capture" "$step_s" \
        "$scratch/level-$name" || status=1
done

# Switching cores keeps the loudness: our three renders of the song within 0.5 dB.
levels=$(cat "$scratch"/level-*-vgm 2>/dev/null | sort -n)
if [ "$(wc -l <<<"$levels")" = 3 ]; then
    spread=$(awk 'NR == 1 { low = $1 } { high = $1 } END { printf "%.2f", high - low }' <<<"$levels")
    echo "the three cores' RMS within $spread dB"
    awk -v s="$spread" 'BEGIN { exit !(s <= 0.5) }' || { echo "FAIL: cores $spread dB apart"; status=1; }
else
    status=1
fi
exit $status

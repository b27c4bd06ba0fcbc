#!/usr/bin/python3
"""The files a collector keeps, read back by readers vesk did not write: .vgz through Python's
gzip and struct, renders through each codec's own tools (flac, ogginfo, opusinfo, mpg123,
ffprobe, loudgain), decoded back and compared with the WAV.

Usage: collector_files.py VESK SCRATCH_DIR
"""
import datetime
import gzip
import json
import os
import re
import struct
import subprocess
import sys
import wave

import numpy

vesk, scratch = sys.argv[1], sys.argv[2]
os.makedirs(scratch, exist_ok=True)
faults = []
EPOCH = '1700000000'  # 2023-11-14 22:13:20 UTC


def check(ok, message):
    if not ok:
        faults.append(message)
        print(f'FAIL: {message}')


def run(args, epoch=None):
    env = dict(os.environ)
    env.pop('SOURCE_DATE_EPOCH', None)
    if epoch is not None:
        env['SOURCE_DATE_EPOCH'] = epoch
    done = subprocess.run([vesk] + args, env=env, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f'vesk {" ".join(args)} failed ({done.returncode}): {done.stderr}')
    return done


def gd3_of(vgm):
    """The header's GD3 offset followed to the tag, and its eleven strings."""
    at = 0x14 + struct.unpack_from('<I', vgm, 0x14)[0]
    check(vgm[at:at + 4] == b'Gd3 ', 'the header\'s GD3 offset does not point at "Gd3 "')
    check(struct.unpack_from('<I', vgm, at + 4)[0] == 0x100, 'GD3 is not version 1.00')
    length = struct.unpack_from('<I', vgm, at + 8)[0]
    check(at + 12 + length == len(vgm), 'GD3 length does not end the file')
    check(struct.unpack_from('<I', vgm, 4)[0] == len(vgm) - 4, 'end-of-file offset is off')
    return vgm[at + 12:at + 12 + length].decode('utf-16-le').split('\0')[:11]


# ---- .vgz: the .vgm gzip'd, tagged with the capture's date, starting at the first write ----
run(['--render', f'{scratch}/a.wav', '--capture', f'{scratch}/a.vgm'], EPOCH)
run(['--render', f'{scratch}/b.wav', '--capture', f'{scratch}/b.vgz'], EPOCH)
vgm = open(f'{scratch}/a.vgm', 'rb').read()
with open(f'{scratch}/b.vgz', 'rb') as f:
    check(f.read(2) == b'\x1f\x8b', '.vgz is not gzip')
unpacked = gzip.open(f'{scratch}/b.vgz').read()
check(unpacked == vgm, 'the .vgz unpacks to other bytes than the .vgm of the same render')
tags = gd3_of(unpacked)
check(tags[0] == 'Vesk' and tags[4] == 'PC, AdLib-compatible OPL2',
      f'title and system read back as {tags[0]!r}, {tags[4]!r}')
check(tags[8] == '2023/11/14', f'date with SOURCE_DATE_EPOCH reads {tags[8]!r}')
check(tags[9].startswith('vesk '), f'converter reads {tags[9]!r}')
check(all(tags[i] == '' for i in (1, 2, 3, 5, 6, 7, 10)), f'fields nobody knows are filled: {tags}')

# Live, the emulated chip's clock starts with the sound device, some milliseconds before the
# first write; the file starts at that write, with no wait before it. Without SOURCE_DATE_EPOCH
# the date is today's (either side of a midnight during the run).
before = datetime.date.today()
live = subprocess.run([vesk, '--text', '--capture', f'{scratch}/c.vgz'], input='sluta\n',
                      capture_output=True, text=True,
                      env={k: v for k, v in os.environ.items() if k != 'SOURCE_DATE_EPOCH'}
                      | {'SDL_AUDIODRIVER': 'dummy'})
check(live.returncode == 0, f'live capture failed: {live.stderr}')
after = datetime.date.today()
for name, vgm in (('render', unpacked), ('live', gzip.open(f'{scratch}/c.vgz').read())):
    data = 0x34 + struct.unpack_from('<I', vgm, 0x34)[0]
    check(vgm[data] == 0x5A, f'{name}: the data opens with command {vgm[data]:#x}, not a write')
date = gd3_of(gzip.open(f'{scratch}/c.vgz').read())[8]
check(date in {d.strftime('%Y/%m/%d') for d in (before, after)}, f'date reads {date!r}')


# ---- Renders: one row per format ----
STEP_S = 0.908  # the tune's step length
STEPS = 74


def tool(args):
    done = subprocess.run(args, capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def samples_of(path):
    with wave.open(path) as w:
        check(w.getnchannels() == 1 and w.getsampwidth() == 2, f'{path}: not 16-bit mono')
        return numpy.frombuffer(w.readframes(w.getnframes()), '<i2').astype(float), w.getframerate()


def db(x):
    """The level of what sounds, in dB of 16-bit full scale: the chip's DC offset left out, as
    Opus leaves it out."""
    return 20 * numpy.log10(numpy.std(x) / 32768 + 1e-12)


def peaks(x, rate, at_s):
    """Frequencies (Hz) of the spectral peaks within 20 dB of the strongest, 0.4 s from at_s."""
    n = int(0.4 * rate)
    seg = x[int(at_s * rate):int(at_s * rate) + n] * numpy.hanning(n)
    mag = numpy.abs(numpy.fft.rfft(seg, 4 * n)) + 1e-9
    lo, hi = int(40 * 4 * n / rate), int(5000 * 4 * n / rate)
    top = mag[lo:hi].max()
    return [k * rate / (4 * n) for k in range(lo, hi)
            if mag[k] >= top / 10 and mag[k] > mag[k - 1] and mag[k] >= mag[k + 1]]


def strongest(x, rate, at_s):
    n = int(0.4 * rate)
    seg = x[int(at_s * rate):int(at_s * rate) + n] * numpy.hanning(n)
    mag = numpy.abs(numpy.fft.rfft(seg, 4 * n))
    lo, hi = int(40 * 4 * n / rate), int(5000 * 4 * n / rate)
    return (lo + int(mag[lo:hi].argmax())) * rate / (4 * n)


def tags_of(path):
    """Every tag ffprobe sees, container's and stream's, with lower-case names."""
    code, out = tool(['ffprobe', '-v', 'error', '-of', 'json', '-show_entries',
                      'format_tags:stream_tags', path])
    info = json.loads(out) if code == 0 else {}
    found = {}
    for where in [info.get('format', {})] + info.get('streams', []):
        found.update({k.lower(): v for k, v in where.get('tags', {}).items()})
    return found


def loudgain_gain(path):
    """loudgain's track gain (dB) and true peak for the file."""
    code, out = tool(['loudgain', '-q', '-O', path])
    check(code == 0, f'loudgain cannot read {path}: {out}')
    row = out.strip().splitlines()[-1].split('\t')
    return float(row[8].split()[0]), float(row[3])


wav_path = f'{scratch}/r.wav'
run(['--render', wav_path], EPOCH)
wav, wav_rate = samples_of(wav_path)
check(tags_of(wav_path).get('title') == 'Vesk', 'the WAV has no title')

# format: the reader that must accept it, how to decode it, whether the decode is exact.
rows = [
    ('flac', ['flac', '-t'], ['flac', '-d', '-f', '-s', '-o'], True),
    ('ogg', ['ogginfo'], ['oggdec', '-Q', '-o'], False),
    ('opus', ['opusinfo'], ['opusdec', '--quiet', '--rate', '48000'], False),
    ('mp3', ['mpg123', '-t'], ['mpg123', '-q', '-w'], False),
]
for fmt, reader, decoder, exact in rows:
    path = f'{scratch}/r.{fmt}'
    run(['--render', path], EPOCH)
    code, out = tool(reader + [path])
    check(code == 0 and not re.search(r'warning|error', out, re.I), f'{fmt}: {reader[0]}: {out}')

    tags = tags_of(path)
    check(tags.get('title') == 'Vesk', f'{fmt}: title {tags.get("title")!r}')
    check(tags.get('date', '').startswith('2023'), f'{fmt}: date {tags.get("date")!r}')
    if fmt != 'mp3':
        check(tags.get('date') == '2023-11-14', f'{fmt}: date {tags.get("date")!r}')
        software = tags.get('software', tags.get('encoder', ''))
        check(software.startswith('vesk '), f'{fmt}: software {software!r}')

    # The gain and peak in the tags, as loudgain measures the file itself.
    their_gain, their_peak = loudgain_gain(path)
    if fmt == 'opus':
        q78 = tags.get('r128_track_gain')
        check(q78 is not None and 'replaygain_track_gain' not in tags, f'opus: tags {tags}')
        our_gain = int(q78 or 0) / 256
    elif fmt == 'mp3':
        our_gain = their_gain
    else:
        our_gain = float(tags.get('replaygain_track_gain', 'nan').split()[0])
        our_peak = float(tags.get('replaygain_track_peak', 'nan'))
        check(abs(20 * numpy.log10(our_peak / their_peak)) < (0.1 if exact else 1.0),
              f'{fmt}: peak {our_peak} where loudgain finds {their_peak}')
    check(abs(our_gain - their_gain) <= 0.1, f'{fmt}: gain {our_gain} dB, loudgain {their_gain}')
    if fmt != 'mp3':
        print(f'{fmt}: gain {our_gain:.3f} dB, loudgain {their_gain:.2f} dB')

    # On a pipe, the same bytes as in a file.
    piped = subprocess.run(f'"{vesk}" --render /dev/stdout --format {fmt} | cat', shell=True,
                           capture_output=True, env=dict(os.environ, SOURCE_DATE_EPOCH=EPOCH))
    check(piped.returncode == 0 and piped.stdout == open(path, 'rb').read(),
          f'{fmt}: a pipe gets other bytes than a file')

    decoded_path = f'{scratch}/r-{fmt}.wav'
    code, out = tool(decoder + ([decoded_path, path] if fmt != 'opus' else [path, decoded_path]))
    check(code == 0, f'{fmt}: cannot decode: {out}')
    decoded, rate = samples_of(decoded_path)
    check(rate == wav_rate, f'{fmt}: decodes at {rate} Hz')
    if exact:
        check(numpy.array_equal(decoded, wav), f'{fmt}: does not decode to the WAV\'s samples')
        continue
    check(abs(len(decoded) - len(wav)) <= rate // 100, f'{fmt}: {len(decoded)} samples')
    check(abs(db(decoded) - db(wav)) <= 1.0, f'{fmt}: {db(decoded):.2f} dB, WAV {db(wav):.2f} dB')
    print(f'{fmt}: level {db(decoded) - db(wav):+.3f} dB against the WAV')
    for step in range(STEPS):
        at_s = step * STEP_S + 0.3
        window = slice(int(at_s * rate), int((at_s + 0.4) * rate))
        if db(wav[window]) < -60:  # a rest
            ok = db(decoded[window]) < -45
            check(ok, f'{fmt}: the rest at step {step + 1} is not silent')
            continue
        f = strongest(wav, rate, at_s)
        found = peaks(decoded, rate, at_s)
        if not any(abs(g - f) <= max(2.0, 0.01 * f) for g in found):
            check(False, f'{fmt}: step {step + 1} lost its {f:.1f} Hz (has {found[:4]})')
            break

# A name that is no format, a rate the codec lacks: usage errors of one line naming what would
# do. A place that cannot be written: one line, status 1. Nothing is written by any of them.
os.makedirs(f'{scratch}/refused', exist_ok=True)
for args, status, says in [
        (['--render', f'{scratch}/refused/x.aiff'], 2, '.wav, .flac, .ogg, .opus or .mp3'),
        (['--render', f'{scratch}/refused/x.opus', '--rate', '44100'], 2, '48000 Hz, not 44100'),
        (['--render', f'{scratch}/refused/x.mp3', '--rate', '96000'], 2, '48000 Hz, not 96000'),
        (['--render', f'{scratch}/refused/x', '--format', 'aiff'], 2, 'wav, flac, ogg, opus or mp3'),
        (['--render', f'{scratch}/refused/none/x.flac'], 1, 'cannot write')]:
    done = subprocess.run([vesk] + args, capture_output=True, text=True)
    first = done.stderr.splitlines()[0] if done.stderr else ''
    check(done.returncode == status and says in first, f'{args}: {done.returncode} {first!r}')
check(os.listdir(f'{scratch}/refused') == [], 'a refused render left a file')

sys.exit(1 if faults else 0)

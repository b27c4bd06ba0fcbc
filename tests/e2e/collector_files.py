#!/usr/bin/env python3
"""The files a collector keeps, read back by readers vesk did not write: .vgz through Python's
gzip and struct, renders through each codec's own tools.

Usage: collector_files.py VESK SCRATCH_DIR
"""
import datetime
import gzip
import os
import struct
import subprocess
import sys

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

sys.exit(1 if faults else 0)

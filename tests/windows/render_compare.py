#!/usr/bin/env python3
"""vesk.exe --render under Wine against the Linux build's vesk --render, for each core.

The cores give the same samples on both (core_output_digest checks that); libsoxr, built by
another compiler, may round a sample the other way now and then. So the two WAVs must have the
same header and length, and every sample must lie within 1 LSB of the Linux one.

Usage: render_compare.py LINUX_VESK VESK.EXE WINE-RUN [ARG...]
Exits 77 (skipped) when the Linux build is not there.
"""
import array
import os
import subprocess
import sys
import tempfile
import wave

CORES = ("nuked", "mame", "dosbox")
RATE_HZ = 48000
TOLERANCE = 1  # LSB


def read(path):
    with wave.open(path) as w:
        params = (w.getnchannels(), w.getsampwidth(), w.getframerate())
        samples = array.array("h", w.readframes(w.getnframes()))
    if sys.byteorder != "little":
        samples.byteswap()
    return params, samples


def render(command, cwd, name):
    result = subprocess.run(command + ["--render", name, "--rate", str(RATE_HZ)], cwd=cwd,
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    if result.returncode != 0:
        sys.exit(f"FAIL: {command[-1]} exits {result.returncode}: {result.stderr.decode()}")
    return read(os.path.join(cwd, name))


def main():
    linux, exe, wine = sys.argv[1], sys.argv[2], sys.argv[3:]
    if not os.access(linux, os.X_OK):
        print(f"no Linux build at {linux}: nothing to compare with")
        return 77
    failed = False
    with tempfile.TemporaryDirectory() as work:
        for core in CORES:
            want_params, want = render([linux, "--emulator", core], work, f"linux-{core}.wav")
            have_params, have = render(wine + [exe, "--emulator", core], work,
                                       f"windows-{core}.wav")
            if have_params != want_params or len(have) != len(want):
                print(f"FAIL {core}: {have_params} and {len(have)} samples on Windows, "
                      f"{want_params} and {len(want)} on Linux")
                failed = True
                continue
            off_by = [abs(a - b) for a, b in zip(have, want) if a != b]
            worst = max(off_by, default=0)
            print(f"{core}: {len(have)} samples, {len(off_by)} differ, by at most {worst} LSB")
            if worst > TOLERANCE:
                failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

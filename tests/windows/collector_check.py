#!/usr/bin/python3
"""vesk.exe's .vgz capture and compressed renders under Wine, read by the same Linux tools as
the Linux build's: gzip, flac, ogginfo, opusinfo, mpg123. The .vgz is the Linux build's byte for
byte; the FLAC decodes to the Linux FLAC's samples within 1 LSB (libsoxr, built by another
compiler, may round a sample the other way now and then).

Usage: collector_check.py LINUX_VESK VESK.EXE WINE-RUN [ARG...]
Exits 77 (skipped) when the Linux build is not there.
"""
import array
import gzip
import os
import re
import subprocess
import sys
import tempfile
import wave

READERS = {"flac": ["flac", "-t"], "ogg": ["ogginfo"], "opus": ["opusinfo"], "mp3": ["mpg123", "-t"]}


def run(command, cwd):
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    return subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=180, env=env)


def flac_samples(path, cwd):
    out = path + ".wav"
    subprocess.run(["flac", "-d", "-f", "-s", "-o", out, path], cwd=cwd, check=True)
    with wave.open(os.path.join(cwd, out)) as w:
        return array.array("h", w.readframes(w.getnframes()))


def main():
    linux, exe, wine = sys.argv[1], sys.argv[2], sys.argv[3:]
    if not os.access(linux, os.X_OK):
        print(f"no Linux build at {linux}: nothing to compare with")
        return 77
    faults = []
    with tempfile.TemporaryDirectory() as work:
        for who, command in (("linux", [linux]), ("windows", wine + [exe])):
            done = run(command + ["--render", f"{who}.flac", "--capture", f"{who}.vgz"], work)
            if done.returncode != 0:
                return print(f"FAIL: {who} --render .flac: {done.stderr}") or 1
        if gzip.open(f"{work}/windows.vgz").read() != gzip.open(f"{work}/linux.vgz").read():
            faults.append("the .vgz holds another VGM than the Linux build's")
        if open(f"{work}/windows.vgz", "rb").read() != open(f"{work}/linux.vgz", "rb").read():
            faults.append("the .vgz is packed to other bytes than the Linux build's")
        have, want = flac_samples("windows.flac", work), flac_samples("linux.flac", work)
        worst = max((abs(a - b) for a, b in zip(have, want)), default=0)
        print(f"flac: {len(have)} samples, at most {worst} LSB from Linux's")
        if len(have) != len(want) or worst > 1:
            faults.append("the FLAC's samples are not the Linux build's")
        tags = subprocess.run(["metaflac", "--export-tags-to=-", f"{work}/windows.flac"],
                              capture_output=True, text=True).stdout
        if "REPLAYGAIN_TRACK_GAIN=" not in tags or "title=Vesk" not in tags:
            faults.append(f"the FLAC's tags: {tags!r}")
        for fmt, reader in READERS.items():
            done = run(wine + [exe, "--render", f"w.{fmt}"], work)
            if done.returncode != 0:
                faults.append(f"{fmt}: exit {done.returncode}: {done.stderr.strip()}")
                continue
            checked = subprocess.run(reader + [f"w.{fmt}"], cwd=work, capture_output=True,
                                     text=True)
            said = checked.stdout + checked.stderr
            if checked.returncode != 0 or re.search(r"warning|error", said, re.I):
                faults.append(f"{fmt}: {reader[0]}: {said}")
            print(f"{fmt}: {reader[0]} accepts it")
    for fault in faults:
        print(f"FAIL: {fault}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks a VGM or DRO capture against a port trace of the same run: the same register writes
in the same order (a DRO keeps only the registers an OPL2 has), times never going back, and the
fixed header fields. Times themselves are not compared. Written from the format documents.

Usage: capture_check.py CAPTURE.vgm|.dro PORT_TRACE
"""
import struct
import sys

ADDRESS_PORT, DATA_PORT = 0x388, 0x389


def trace_writes(path):
    writes, reg = [], None
    for line in open(path):
        parts = line.split()
        if parts[0] == "out" and int(parts[1], 16) == ADDRESS_PORT:
            reg = int(parts[2], 16) & 0xFF
        elif parts[0] == "out" and int(parts[1], 16) == DATA_PORT:
            writes.append((reg, int(parts[2], 16) & 0xFF))
    return writes


def opl2_registers():
    regs = {0x01, 0x02, 0x03, 0x04, 0x08, 0xBD}
    for base in (0x20, 0x40, 0x60, 0x80, 0xE0):
        regs |= {base + off for off in list(range(0, 6)) + list(range(8, 14)) + list(range(16, 22))}
    for base in (0xA0, 0xB0, 0xC0):
        regs |= {base + ch for ch in range(9)}
    assert len(regs) == 123
    return regs


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def vgm_writes(data):
    assert data[:4] == b"Vgm ", "not a VGM file"
    assert u32(data, 0x04) + 4 == len(data), "end-of-file offset"
    assert u32(data, 0x08) == 0x171, "version"
    assert u32(data, 0x50) == 3579545, "YM3812 clock"
    assert u32(data, 0x5C) == 0, "YMF262 clock"
    gd3 = 0x14 + u32(data, 0x14)
    assert data[gd3:gd3 + 4] == b"Gd3 ", "GD3 tag"
    tags = data[gd3 + 12:].decode("utf-16-le").split("\0")[:11]
    at, writes, samples = 0x34 + u32(data, 0x34), [], 0
    while True:
        cmd = data[at]
        if cmd == 0x5A:
            writes.append((data[at + 1], data[at + 2]))
            at += 3
        elif cmd == 0x61:
            samples += struct.unpack_from("<H", data, at + 1)[0]
            at += 3
        elif cmd in (0x62, 0x63):
            samples += 735 if cmd == 0x62 else 882
            at += 1
        elif 0x70 <= cmd <= 0x7F:
            samples += (cmd & 0x0F) + 1
            at += 1
        elif cmd == 0x66:
            break
        else:
            raise AssertionError(f"unknown VGM command {cmd:#x} at {at:#x}")
    assert samples == u32(data, 0x18), "total samples"
    return writes, tags


def dro_writes(data):
    assert data[:8] == b"DBRAWOPL", "not a DRO file"
    assert struct.unpack_from("<HH", data, 8) == (2, 0), "version"
    pairs = u32(data, 0x0C)
    hardware, fmt, compression, short_code, long_code, n = struct.unpack_from("<6B", data, 0x14)
    assert (hardware, fmt, compression) == (0, 0, 0), "hardware, format, compression"
    assert n <= 127, "codemap length"
    codemap = data[0x1A:0x1A + n]
    at, writes = 0x1A + n, []
    for _ in range(pairs):
        code, value = data[at], data[at + 1]
        at += 2
        if code in (short_code, long_code):
            continue
        assert code < 0x80, "second bank in an OPL2 capture"
        writes.append((codemap[code], value))
    assert at == len(data), "pairs do not fill the file"
    return writes, []


def main():
    capture, trace = sys.argv[1], sys.argv[2]
    data = open(capture, "rb").read()
    expected = trace_writes(trace)
    if capture.lower().endswith(".vgm"):
        got, tags = vgm_writes(data)
        assert tags[0] == "Vesk", f"track name {tags[0]!r}"
        assert tags[9].startswith("vesk "), f"converter {tags[9]!r}"
    else:
        got, _ = dro_writes(data)
        existing = opl2_registers()
        expected = [w for w in expected if w[0] in existing]
    if got != expected:
        first = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b),
                     min(len(got), len(expected)))
        print(f"{capture}: {len(got)} writes, the trace has {len(expected)}; they differ from "
              f"write {first}: {got[first:first + 2]} against {expected[first:first + 2]}")
        sys.exit(1)
    print(f"{capture}: {len(got)} register writes, as in the trace")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the port trace the chip must see, built from the chip facts rather than from the program.

Usage: expected_trace.py startup|song  (startup: start-up then "Sluta"; song: start-up then one
playback, whose step values come from the --steps file: one "f1 b1 f2 b2" line per step).
"""
import sys


def write(reg, val):
    # One register write: address, 6 status reads, data, 35 status reads.
    out = [f"out 0388 {reg & 0xFFFF:04x}"] + ["in 0388"] * 6
    out += [f"out 0389 {val & 0xFFFF:04x}"] + ["in 0388"] * 35
    return out


def startup():
    lines = []
    for reg in range(0x01, 0xF6):  # reset: every register but 0
        lines += write(reg, 0)
    ops = {1: 0, 2: 1, 3: 2, 4: 8, 5: 9}
    for voice in range(1, 6):  # both operators of voices 1-5
        op = ops[voice]
        for base, val in ((0x20, 0x01), (0x40, 0x3F), (0x60, 0xF0), (0x80, 0x77),
                          (0x23, 0x01), (0x43, 0x00), (0x63, 0xF0), (0x83, 0x77)):
            lines += write(base + op, val)
    for reg, val in ((0x40, 23), (0x41, 18), (0x44, 18), (0x42, 43), (0x45, 10), (0x4B, 8),
                     (0x49, 0)):
        lines += write(reg, val)
    return lines


def main():
    mode = sys.argv[1]
    lines = startup()
    if mode == "startup":
        lines += write(0xB0, 0) + write(0xB1, 0)
    elif mode == "song":
        with open(sys.argv[2]) as steps:
            for row in steps:
                f1, b1, f2, b2 = (int(x) for x in row.split())
                for reg, f, b in ((0xA0, f1, b1), (0xA1, f2, b2)):
                    lines += write(reg, f & 0xFF)
                    lines += write(reg + 0x10, ((f & 0x300) >> 8) | (b << 2) | 0x20)
                lines += write(0xB0, 0) + write(0xB1, 0)
    print("\n".join(lines))


main()

#!/usr/bin/env python3
"""Packs the Windows zip: vesk.exe, README.txt and COPYING, under a folder named after the version.

Usage: make_zip.py VESK_EXE README_MD COPYING VERSION OUT_ZIP

README.txt is the README's section on Windows, from its heading up to the next heading of the
same or a higher level, as plain text with Windows line ends. Entries carry a fixed time, so the same
inputs give the same bytes.
"""
import os
import re
import sys
import tempfile
import zipfile

FIXED_TIME = (2026, 1, 1, 0, 0, 0)
WINDOWS_HEADING = "Windows and inpout32.dll"


def windows_section(markdown):
    lines = markdown.splitlines()
    start = next(i for i, line in enumerate(lines)
                 if re.match(r"#+ ", line) and line.lstrip("#").strip() == WINDOWS_HEADING)
    level = len(lines[start]) - len(lines[start].lstrip("#"))
    end = next((i for i in range(start + 1, len(lines))
                if re.match(r"#{1,%d} " % level, lines[i])), len(lines))
    text = "\n".join(lines[start:end]).strip() + "\n"
    text = re.sub(r"^#+ ", "", text, flags=re.M)                  # headings
    text = re.sub(r"\*\*([^*]+)\*\*", r"\1", text)               # bold
    text = re.sub(r"`([^`]+)`", r"\1", text)                       # code
    text = re.sub(r"\[([^\]]+)\]\([^)]+\)", r"\1", text)          # links
    return text


def main():
    exe, readme_md, copying, version, out = sys.argv[1:6]
    with open(readme_md, encoding="utf-8") as f:
        readme = windows_section(f.read())
    folder = f"vesk-{version}-win32"
    entries = [
        ("vesk.exe", open(exe, "rb").read()),
        ("README.txt", readme.replace("\n", "\r\n").encode("utf-8")),
        ("COPYING.txt", open(copying, "rb").read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")),
    ]
    # Written beside the target and renamed into place: never a half-written zip.
    fd, temp = tempfile.mkstemp(prefix=os.path.basename(out) + ".", suffix=".tmp",
                                dir=os.path.dirname(os.path.abspath(out)))
    os.close(fd)
    try:
        with zipfile.ZipFile(temp, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in entries:
                info = zipfile.ZipInfo(f"{folder}/{name}", FIXED_TIME)
                info.compress_type = zipfile.ZIP_DEFLATED
                info.external_attr = 0o644 << 16
                z.writestr(info, data)
        os.replace(temp, out)
    except BaseException:
        os.unlink(temp)
        raise
    print(out)


main()

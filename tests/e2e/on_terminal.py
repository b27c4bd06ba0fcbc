#!/usr/bin/env python3
"""Runs a command with stdout and stderr on a pseudo-terminal and prints the lines the terminal
shows, after a line of its own with the exit status: on_terminal.py [--stdin FILE] COMMAND...
A carriage return goes back to the start of the line, as on the screen, and ESC [ K (erase to
the end of the line) is dropped."""
import os
import pty
import sys

args = sys.argv[1:]
stdin_file = None
if args[:1] == ["--stdin"]:
    stdin_file, args = args[1], args[2:]
pid, master = pty.fork()
if pid == 0:
    if stdin_file is not None:
        fd = os.open(stdin_file, os.O_RDONLY)
        os.dup2(fd, 0)
    os.execvp(args[0], args)
received = b""
while True:
    try:
        chunk = os.read(master, 65536)
    except OSError:  # EIO: the last writer has gone
        break
    if not chunk:
        break
    received += chunk
_, status = os.waitpid(pid, 0)
print(os.waitstatus_to_exitcode(status))
# The terminal turns each \n into \r\n; undone, so that lines compare as written.
for line in received.replace(b"\r\n", b"\n").split(b"\n"):
    shown = b""
    for part in line.split(b"\r"):
        # What is written after a carriage return covers what was there; erased, it is gone.
        if part.startswith(b"\x1b[K"):
            shown, part = b"", part[3:]
        part = part.replace(b"\x1b[K", b"")
        shown = part + shown[len(part):]
    sys.stdout.buffer.write(shown + b"\n")

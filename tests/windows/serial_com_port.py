#!/usr/bin/env python3
"""vesk.exe driving a serial OPL board on a COM port under Wine, a pseudo-terminal standing in
for the board: the port's link in the Wine prefix (dosdevices/comN) points at the pty's slave,
and what reaches the master is decoded by readers written from the protocol descriptions and
compared with the register writes of the program's own port trace.

Usage: serial_com_port.py CASE VESK.EXE WINE-RUN [ARG...]
  CASE     arduino, nuke or retrowave: "start", some steps, "sluta";
           link-lost: the board goes away mid-song; stalled: the board takes nothing;
           no-port: a COM port that does not exist
  WINE-RUN scripts/wine-run.sh and its --prefix; the COM port is made in that prefix.
"""
import os
import select
import subprocess
import sys
import tempfile
import termios
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from capture_check import trace_writes  # noqa: E402

STARTUP_WRITES = 292
STEP_WRITES = 6  # A0, B0, A1, B1 to key on, then B0, B1 to key off
RUN_LIMIT_S = 60

# A port of its own for each case, so cases can run side by side. All past COM9, which Windows
# reaches only as \\.\COMn, and past the ports Wine makes for the machine's own serial lines
# (com1 for /dev/ttyS0 and on).
PORTS = {"arduino": 21, "nuke": 22, "retrowave": 23, "link-lost": 24, "stalled": 25,
         "no-port": 26}


class Fault(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Fault(message)


# ---- What each board reads ----

def read_arduino(wire):  # register, value, register, value...
    check(len(wire) % 2 == 0, f"{len(wire)} bytes: half a write")
    return [(wire[i], wire[i + 1]) for i in range(0, len(wire) - 1, 2)]


def read_nuke(wire):
    """Byte 1 is 0x80 | address >> 6, and the only one with bit 7 set; byte 2 holds the
    address's low six bits and the value's top bit, byte 3 the value's low seven."""
    check(len(wire) % 3 == 0, f"{len(wire)} bytes: part of a write")
    writes = []
    for i in range(0, len(wire) - 2, 3):
        first, second, third = wire[i:i + 3]
        check(first & 0x80 and not second & 0x80 and not third & 0x80,
              f"bytes {i}-{i + 2} ({wire[i:i + 3].hex()}) are not one write")
        address = (first & 0x7F) << 6 | second >> 1
        check(address < 0x100, f"a write to the second bank at byte {i}")
        writes.append((address, (second & 1) << 7 | third))
    return writes


def retrowave_transfers(wire):
    """The transfers in the frames: 0x00, seven bits a byte in bits 7-1 with bit 0 set, most
    significant first, then 0x02. The last group is padded with zero bits."""
    transfers, bits = [], None
    for i, byte in enumerate(wire):
        if byte == 0x00:
            check(bits is None, f"a frame opened inside one at byte {i}")
            bits = []
        elif byte == 0x02:
            check(bits is not None, f"a frame closed outside one at byte {i}")
            whole = len(bits) // 8 * 8
            check(not any(bits[whole:]), f"padding bits set in the frame ending at byte {i}")
            transfers.append(bytes(int("".join(map(str, bits[k:k + 8])), 2)
                                   for k in range(0, whole, 8)))
            bits = None
        else:
            check(bits is not None and byte & 1, f"byte {i} ({byte:02x}) is not a frame's")
            bits += [byte >> bit & 1 for bit in range(7, 0, -1)]
    check(bits is None, "the last frame is not closed")
    return transfers


def read_retrowave(wire):
    """A chip write is the bridge command 42 12, then E1 register, E3 value, FB value (port A
    and port B of the expander). Anything else is set-up, and comes before the first write."""
    writes, setup = [], 0
    for t in retrowave_transfers(wire):
        if len(t) == 8 and t[:3] == b"\x42\x12\xE1" and t[4] == 0xE3 and t[6] == 0xFB \
                and t[7] == t[5]:
            writes.append((t[3], t[5]))
        else:
            check(not writes, f"set-up after the first write: {t.hex()}")
            setup += 1
    check(setup > 0, "the bridge was never set up")
    return writes


READERS = {"arduino": read_arduino, "nuke": read_nuke, "retrowave": read_retrowave}


# ---- A pty for a board, and the program run against it ----

class Board:
    """A pty whose slave is COMn in the prefix. Neither end is inherited by Wine, so closing
    the master really hangs the line up."""

    def __init__(self, prefix, number):
        self.master, self.slave = os.openpty()
        os.set_blocking(self.master, False)
        self.link = os.path.join(prefix, "dosdevices", f"com{number}")
        if os.path.lexists(self.link):  # left by a run that was killed
            os.remove(self.link)
        os.symlink(os.ttyname(self.slave), self.link)
        self.wire = bytearray()

    def read(self, timeout_s):
        """Reads what has arrived, waiting up to timeout_s for it; true if anything came."""
        if self.master < 0 or not select.select([self.master], [], [], timeout_s)[0]:
            return False
        before = len(self.wire)
        try:
            while chunk := os.read(self.master, 65536):
                self.wire += chunk
        except BlockingIOError:
            pass
        return len(self.wire) > before

    def hang_up(self):
        if self.master >= 0:
            os.close(self.master)
        self.master = -1

    def close(self):
        self.hang_up()
        os.close(self.slave)
        os.remove(self.link)


class Run:
    """vesk.exe in the folder `work`, standard output and error in files there."""

    def __init__(self, wine, vesk, work, args):
        self.work = work
        env = dict(os.environ, VESK_NO_ERROR_BOX="1")
        with open(os.path.join(work, "out"), "wb") as out, \
                open(os.path.join(work, "err"), "wb") as err:
            self.process = subprocess.Popen(wine + [vesk] + args, cwd=work, env=env,
                                            stdin=subprocess.PIPE, stdout=out, stderr=err)

    def type(self, text):
        self.process.stdin.write(text.encode())
        self.process.stdin.flush()

    def output(self, name):
        with open(os.path.join(self.work, name), encoding="utf-8", errors="replace") as f:
            return f.read().replace("\r\n", "\n")

    def wait(self, board, each_moment=lambda: None):
        """Reads the board's side until the program ends, calling each_moment as it goes;
        returns the exit status."""
        deadline = time.monotonic() + RUN_LIMIT_S
        while self.process.poll() is None:
            if board is not None:
                board.read(0.02)
            else:
                time.sleep(0.02)
            each_moment()
            if time.monotonic() > deadline:
                self.process.kill()
                self.process.wait()
                raise Fault(f"still running after {RUN_LIMIT_S} s")
        # A pty hands on what was written a moment later: read until nothing more comes.
        while board is not None and board.read(0.2):
            pass
        if not self.process.stdin.closed:
            self.process.stdin.close()
        return self.process.returncode


def one_line_naming(errors, port, start):
    check(errors.count("\n") == 1 and errors.startswith(start) and f"COM{port}" in errors,
          f"not one line naming COM{port} that starts {start!r}: {errors!r}")


# ---- The cases ----

def check_raw_line(board, speed):
    """The line as the program left it: the rate asked for, 8N1, no flow control, raw. The
    kernel keeps a pty at eight bits without parity whatever is asked, so of 8N1 only the stop
    bits tell."""
    iflag, oflag, cflag, lflag, ispeed, ospeed, _ = termios.tcgetattr(board.slave)
    check((ispeed, ospeed) == (speed, speed), f"line speed {ispeed}/{ospeed}, not {speed}")
    t = termios
    check(cflag & (t.CSIZE | t.PARENB | t.CSTOPB | t.CRTSCTS | t.CLOCAL | t.CREAD)
          == t.CS8 | t.CLOCAL | t.CREAD, f"not 8N1 without flow control (c_cflag {cflag:o})")
    check(not iflag & (t.IXON | t.IXOFF | t.ICRNL | t.INLCR | t.ISTRIP),
          f"input not raw (c_iflag {iflag:o})")
    check(not oflag & t.OPOST, "output processed: 0x0A would go out as 0x0D 0x0A")
    check(not lflag & (t.ICANON | t.ECHO | t.ISIG | t.IEXTEN), f"not raw (c_lflag {lflag:o})")


def playback(protocol, wine, vesk, work, board, port):
    """"start", "sluta" a few steps in: the board reads exactly the traced register writes,
    start-up, the steps and the two key-offs, in order."""
    baud, speed = {"arduino": (None, termios.B115200), "nuke": ("57600", termios.B57600),
                   "retrowave": ("2000000", termios.B2000000)}[protocol]
    args = ["--text", "--chip", f"serial:COM{port}:{protocol}", "--port-trace", "t.txt"]
    if baud:
        args += ["--baud", baud]
    run = Run(wine, vesk, work, args)
    run.type("start\n")

    def sluta_at_step_3():
        if not run.process.stdin.closed and "\nstep 3/" in run.output("out"):
            run.type("sluta\n")
            run.process.stdin.close()

    status = run.wait(board, sluta_at_step_3)
    check(status == 0, f"exit {status}: {run.output('err')}")
    traced = trace_writes(os.path.join(work, "t.txt"))
    steps = (len(traced) - STARTUP_WRITES) // STEP_WRITES
    check(len(traced) == STARTUP_WRITES + steps * STEP_WRITES and steps >= 3,
          f"{len(traced)} writes traced is not start-up and three steps or more")
    sent = READERS[protocol](bytes(board.wire))
    if sent != traced:
        first = next((i for i, (a, b) in enumerate(zip(sent, traced)) if a != b),
                     min(len(sent), len(traced)))
        raise Fault(f"the board read {len(sent)} writes, the trace has {len(traced)}; they "
                    f"differ from write {first}: {sent[first:first + 2]} against "
                    f"{traced[first:first + 2]}")
    check_raw_line(board, speed)
    print(f"{protocol}: {len(board.wire)} bytes, {len(sent)} register writes ({steps} steps), "
          "as traced")


def link_lost(wine, vesk, work, board, port):
    """The board goes away after step 1's key-ons: status 1, one line naming the port, and
    what it read before is the trace's beginning."""
    run = Run(wine, vesk, work, ["--text", "--chip", f"serial:COM{port}:nuke", "--port-trace",
                                 "t.txt"])
    run.type("start\n")
    enough = 3 * (STARTUP_WRITES + 4)

    def hang_up_after_step_1():
        if len(board.wire) >= enough:
            board.hang_up()

    status = run.wait(board, hang_up_after_step_1)
    check(board.master < 0, "the program ended before the board went away")
    check(status == 1, f"exit {status}: {run.output('err')}")
    one_line_naming(run.output("err"), port, f"vesk: run-time error: lost the serial board on "
                                             f"COM{port}: ")
    check(run.output("err").rstrip().endswith("(unplugged?)"), "the error does not say unplugged")
    sent = read_nuke(bytes(board.wire[:len(board.wire) // 3 * 3]))
    check(sent == trace_writes(os.path.join(work, "t.txt"))[:len(sent)],
          "what the board read is not the trace's beginning")
    print(f"link-lost: after {len(sent)} writes: {run.output('err').strip()}")


def stalled(wine, vesk, work, board, port):
    """A board that takes nothing (its line's output suspended): after the write limit, status
    1 and one line naming the port."""
    termios.tcflow(board.slave, termios.TCOOFF)
    run = Run(wine, vesk, work, ["--text", "--chip", f"serial:COM{port}:retrowave"])
    run.type("start\n")
    status = run.wait(board)
    check(status == 1, f"exit {status}: {run.output('err')}")
    one_line_naming(run.output("err"), port, f"vesk: run-time error: lost the serial board on "
                                             f"COM{port}: ")
    print(f"stalled: {run.output('err').strip()}")


def no_port(wine, vesk, work, port):
    """No such COM port: status 1, one line naming it, before anything is traced."""
    run = Run(wine, vesk, work, ["--text", "--chip", f"serial:COM{port}", "--port-trace",
                                 "t.txt"])
    run.type("start\nsluta\n")
    run.process.stdin.close()
    status = run.wait(None)
    check(status == 1, f"exit {status}: {run.output('err')}")
    one_line_naming(run.output("err"), port, f"vesk: cannot use serial device COM{port}: ")
    check(not os.path.exists(os.path.join(work, "t.txt")), "a trace was written")
    print(f"no-port: {run.output('err').strip()}")


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in PORTS:
        sys.exit(f"usage: serial_com_port.py {'|'.join(PORTS)} VESK.EXE WINE-RUN [ARG...]")
    case, vesk, wine = sys.argv[1], sys.argv[2], sys.argv[3:]
    check(wine.count("--prefix") == 1, "WINE-RUN needs its --prefix")
    prefix = wine[wine.index("--prefix") + 1]
    port = PORTS[case]
    # The frame layout's worked example, so a wrong reader cannot agree with a wrong program.
    check(retrowave_transfers(bytes.fromhex("00 43 09 B9 25 0F 19 07 F7 01 81 02"))
          == [bytes.fromhex("42 12 E1 20 E3 01 FB 01")], "the RetroWave reader is wrong")
    # The prefix and its server first: the server's start maps COM ports afresh.
    subprocess.run(wine + ["--start"], check=True)
    with tempfile.TemporaryDirectory() as work:
        if case == "no-port":
            link = os.path.join(prefix, "dosdevices", f"com{port}")
            if os.path.lexists(link):
                os.remove(link)
            no_port(wine, vesk, work, port)
            return
        board = Board(prefix, port)
        try:
            if case in READERS:
                playback(case, wine, vesk, work, board, port)
            elif case == "link-lost":
                link_lost(wine, vesk, work, board, port)
            else:
                stalled(wine, vesk, work, board, port)
        finally:
            board.close()


if __name__ == "__main__":
    try:
        main()
    except Fault as fault:
        print(f"FAIL: {fault}")
        sys.exit(1)

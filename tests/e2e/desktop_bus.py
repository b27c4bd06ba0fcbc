#!/usr/bin/env python3
"""The window under Xvfb on a session bus of the test's own, as the desktop sees it: a media
player whose status, track and position follow a playback, whose Play and Stop press its
buttons, and whose taskbar progress shows the step; with no session bus, a window that plays and
says nothing.  Usage: desktop_bus.py quick|whole VESK   (whole: one playback to its end, 70 s)
"""
import os, re, signal, subprocess, sys, tempfile, time

mode, vesk = sys.argv[1], os.path.realpath(sys.argv[2])
here = os.path.dirname(os.path.abspath(__file__))
work = tempfile.mkdtemp()
MPRIS, PLAYER = "org.mpris.MediaPlayer2", "org.mpris.MediaPlayer2.Player"
STEPS, STEP_US = 74, 908000  # every step of the stored song has the length value 2: 0.908 s
WRITE = 1 + 6 + 1 + 35       # trace lines of a write: address, status reads, data, status reads
failures = []
# A time limit's SIGTERM ends the test through its clean-up, so no server outlives it.
signal.signal(signal.SIGTERM, lambda *_: sys.exit("desktop_bus.py: terminated"))


class Failed(Exception):
    pass


def poll(condition, what, timeout_s=60):
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        if value := condition():
            return value
        time.sleep(0.05)
    raise Failed(what() if callable(what) else what)


def server(*command):
    """Starts a server that names its address on a descriptor (FD); returns it and the name."""
    read_end, write_end = os.pipe()
    process = subprocess.Popen([a.replace("FD", str(write_end)) for a in command],
                               pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as report:
        return process, report.readline().strip() or sys.exit(f"{command[0]} did not start")


# -noreset: each case's program is the server's only client, and a server that resets as it
# leaves turns the next case's program away for a moment, which a loaded machine stretches.
xvfb, display = server("Xvfb", "-displayfd", "FD", "-noreset", "-nolisten", "tcp", "-screen", "0",
                       "640x480x24")
bus, address = server("dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=FD")
env = {k: v for k, v in os.environ.items()
       if k not in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS")}
env.update(DISPLAY=f":{display}", XDG_RUNTIME_DIR=work, SDL_AUDIODRIVER="dummy")


def on_bus(bus):  # the environment with this session bus; with None, with none at all
    return dict(env, DBUS_SESSION_BUS_ADDRESS=bus) if bus else env


def run(*command, check=True):
    result = subprocess.run(command, env=on_bus(address), capture_output=True, text=True,
                            timeout=30)
    if check and result.returncode != 0:
        raise Failed(f"{' '.join(command)}: {result.stderr.strip()}")
    return result.stdout.strip()


def call(service, method, *args, check=True):
    return run("gdbus", "call", "--session", "--dest", service, "--object-path",
               "/org/mpris/MediaPlayer2", "--method", method, *args, check=check)


def prop(service, interface, name):
    return call(service, "org.freedesktop.DBus.Properties.Get", interface, name)


def position_us(service):
    return int(re.search(r"int64 (\d+)", prop(service, PLAYER, "Position"))[1])


# The expected traces, from the chip facts and the song's notation, not from the program.
with open(f"{work}/steps.txt", "w") as steps_file:
    subprocess.run([sys.executable, f"{here}/song_steps.py", f"{here}/../../song/stored_song.cpp"],
                   stdout=steps_file, check=True)
song = subprocess.run([sys.executable, f"{here}/expected_trace.py", "song", f"{work}/steps.txt"],
                      capture_output=True, text=True, check=True).stdout.splitlines()
startup = len(song) - STEPS * 6 * WRITE


def steps(count, then_notes_on=False):
    """The trace of a playback's first `count` steps, and with then_notes_on the next one's
    writes up to its wait."""
    end = startup + count * 6 * WRITE
    return song[startup:end] + (song[end:end + 4 * WRITE] if then_notes_on else [])


def cut_steps(trace, nested):
    """The steps in which "Sluta" cut the playback (whose own last writes are the same two
    key-offs) and, with `nested`, the playback nested in one of its steps."""
    got = open(trace).read().splitlines()
    whole, rest = divmod(len(got) - startup - (4 * WRITE if nested else 0), 6 * WRITE)
    for outer in range(1, whole + 1) if nested else [whole]:
        inner = whole - outer + 1
        if rest == 0 and whole > 0 and got == song[:startup] + (
                steps(outer - 1, True) + steps(inner) if nested else steps(outer)):
            return (outer, inner) if nested else outer
    raise Failed(f"{trace}: not start-up and a playback cut by Sluta" + " with one nested" * nested)


class Window:
    """vesk with the window and a port trace; on our bus, with a dbus-monitor beside it."""

    def __init__(self, name, bus):
        self.name, self.bus, self.trace = name, bus, f"{work}/{name}.trace"
        self.monitor_file = f"{work}/{name}.monitor"
        self.processes = []
        if bus == address:
            self.start(["dbus-monitor", "--session",
                        "type='signal',interface='com.canonical.Unity.LauncherEntry'",
                        "type='signal',path='/org/mpris/MediaPlayer2'"], self.monitor_file)
            poll(lambda: "NameLost" in self.signals(), "dbus-monitor did not start")
        self.vesk = self.start([vesk, "--chip", "none", "--port-trace", self.trace], f"{work}/{name}.err")
        self.id = poll(lambda: run("xdotool", "search", "--onlyvisible", "--name", "^B$",
                                   check=False), f"{name}: no window").split()[0]

    def start(self, command, output):
        process = subprocess.Popen(command, env=on_bus(self.bus),
                                   stdout=open(output, "w"), stderr=subprocess.STDOUT)
        self.processes.append(process)
        return process

    def click(self, button):  # the middle of "Start" or "Sluta"
        run("xdotool", "mousemove", "--window", self.id, "90", {"Start": "80", "Sluta": "136"}[button],
            "click", "1")

    def signals(self):
        return open(self.monitor_file).read()

    def updates(self):
        """(step, visible) of each LauncherEntry Update for our desktop file."""
        return [(round(float(progress) * STEPS), visible == "true") for progress, visible in re.findall(
            r'"application://io.github.vesk.desktop"\s+array \[\s+dict entry\(\s+string "progress"\s+'
            r'variant\s+double ([-0-9.e]+)\s+\)\s+dict entry\(\s+string "progress-visible"\s+'
            r'variant\s+boolean (\w+)', self.signals())]

    def await_steps(self, *outer, inner=()):
        """Waits until the taskbar has shown the steps `outer`, or with `inner`, a playback's
        steps from 1 to some step past `outer`, then the nested playback's steps `inner`."""
        def seen():
            shown = [s for s, visible in self.updates() if visible]
            nested_at = shown.index(1, 1) if inner and 1 in shown[1:] else len(shown)
            return (shown[:nested_at] == list(range(1, nested_at + 1)) and
                    shown[:len(outer)] == list(outer) and
                    (not inner or shown[nested_at:nested_at + len(inner)] == list(inner)))
        poll(seen, lambda: f"{self.name}: the taskbar shows {self.updates()}, not {outer} {inner}")

    def said(self, name, value):
        return re.search(rf'"{name}"\s+variant\s+string "{value}"', self.signals())

    def ended(self):
        """Waits for the end, which is "Sluta"'s: status 0 and nothing said."""
        status = self.vesk.wait(timeout=60)
        err = open(f"{work}/{self.name}.err").read()
        if status != 0 or err:
            raise Failed(f"{self.name}: exit status {status}: {err}")


def service():
    return poll(lambda: re.search(r"'(org\.mpris\.MediaPlayer2\.vesk[^']*)'", run(
        "gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
        "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.ListNames")), "not on the bus")[1]


def clicks(w):
    # "Start" and "Sluta" clicked: the status, the position and the taskbar follow.
    player = service()
    for interface, name, value in ((MPRIS, "Identity", "'Vesk'"), (MPRIS, "CanQuit", "true"),
                                   (MPRIS, "DesktopEntry", "'io.github.vesk'"),
                                   (PLAYER, "CanPause", "false"), (PLAYER, "PlaybackStatus", "'Stopped'")):
        if (got := prop(player, interface, name)) != f"(<{value}>,)":
            failures.append(f"clicks: {name} is {got}")
    metadata = prop(player, PLAYER, "Metadata")
    if "'xesam:title': <'Vesk'>" not in metadata or f"'mpris:length': <int64 {STEPS * STEP_US}>" not in metadata:
        failures.append(f"clicks: Metadata {metadata}")
    w.click("Start")
    w.await_steps(1, 2, 3)
    first = position_us(player)
    w.await_steps(1, 2, 3, 4)
    if not (prop(player, PLAYER, "PlaybackStatus") == "(<'Playing'>,)" and w.said("PlaybackStatus", "Playing")
            and 2 * STEP_US <= first < position_us(player) <= STEPS * STEP_US):
        failures.append(f"clicks: not Playing, or Position {first} µs then {position_us(player)} µs")
    w.click("Sluta")
    w.ended()
    cut = cut_steps(w.trace, nested=False)
    # The bar is cleared as the program ends.
    if w.updates() != [(s, True) for s in range(1, cut + 1)] + [(0, False)]:
        failures.append(f"clicks: taskbar updates {w.updates()}")
    return f"Start, then Sluta in step {cut}"


def play_stop(w):
    # Play then Stop through the bus: the writes of "Start" then "Sluta".
    player = service()
    call(player, PLAYER + ".Play")
    w.await_steps(1, 2)
    call(player, PLAYER + ".Stop")  # answered before the program ends
    w.ended()
    return f"Play, then Stop in step {cut_steps(w.trace, nested=False)}"


def nested(w):
    # The play key, then Play during a step's wait: a whole playback nested in the step, as a
    # second "Start" nests one; the play key refused while it plays; then Quit, as "Sluta".
    player = service()
    call(player, PLAYER + ".PlayPause")
    w.await_steps(1, 2, 3)
    before = position_us(player)  # two steps or more
    call(player, PLAYER + ".Play")
    w.await_steps(1, 2, 3, inner=[1])
    if position_us(player) >= before or "member=Seeked" not in w.signals():
        failures.append(f"nested: Position {position_us(player)} µs after {before} µs, or no Seeked")
    w.await_steps(1, 2, 3, inner=[1, 2])
    if call(player, PLAYER + ".PlayPause", check=False):
        failures.append("nested: PlayPause during a playback is not refused")
    call(player, MPRIS + ".Quit")
    w.ended()
    return "Play in step %d, Quit in the nested playback's step %d" % cut_steps(w.trace, nested=True)


def whole(w):
    # One playback to its end: every step shown, then the bar cleared and the status Stopped.
    player = service()
    call(player, PLAYER + ".Play")
    poll(lambda: len(w.updates()) > STEPS, "whole: the playback did not end", 240)
    if (w.updates() != [(s, True) for s in range(1, STEPS + 1)] + [(0, False)] or position_us(player)
            or prop(player, PLAYER, "PlaybackStatus") != "(<'Stopped'>,)" or not w.said("PlaybackStatus", "Stopped")):
        failures.append(f"whole: updates {w.updates()}, Position {position_us(player)} after the end")
    call(player, PLAYER + ".Stop")
    w.ended()
    if open(w.trace).read().splitlines() != song + song[-2 * WRITE:]:  # the key-offs again
        failures.append("whole: not start-up, the song and Sluta's two key-offs")
    return "74 steps shown, then cleared"


def no_bus(w):
    # "Start", then "Sluta": handled in order, the second in the first step's wait.
    w.click("Start")
    w.click("Sluta")
    w.ended()
    return f"Start, then Sluta in step {cut_steps(w.trace, nested=False)}, nothing said"


cases = [("whole", whole, address)] if mode == "whole" else [
    ("clicks", clicks, address), ("play_stop", play_stop, address), ("nested", nested, address),
    ("no_bus", no_bus, None), ("absent_bus", no_bus, f"unix:path={work}/absent")]
try:
    for name, test, bus_address in cases:
        w = None
        try:
            w = Window(name, bus_address)
            print(f"{name}: {test(w)}")
        except (Failed, subprocess.TimeoutExpired) as failure:
            failures.append(f"{name}: {failure}")
        finally:
            for process in w.processes if w else []:
                process.kill()
                process.wait()
finally:
    for process in (xvfb, bus):
        process.terminate()
        process.wait()
    subprocess.run(["rm", "-rf", work])
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else print("desktop bus: all checks passed"))

#!/usr/bin/python3
"""Live playback through a sound server, recorded and compared with the program's own render.

  live_sound.py play OUT VESK [OPTION...]   record the server's monitor while VESK --text plays
  live_sound.py check RENDER.wav RENDER.vgm OUT [--expect-clean | --expect-sound]
  live_sound.py selftest RENDER.wav RENDER.vgm
  live_sound.py watch OUT.held CPU

`play` records the monitor of the default sink (`parec`, 16-bit mono at 48 kHz) to OUT.raw with
the arrival time of every read in OUT.reads, runs VESK --text --capture OUT.vgm with "start" on
its input, and keeps the time each "step" line arrived in OUT.steps. With --stop-after S it sends
"sluta" S seconds after "start" instead of letting the tune play out; each --stall S:MS stops the
program (SIGSTOP) S seconds after "start" for MS milliseconds. Meanwhile a `watch` on each CPU
adds to OUT.held the times that CPU was held up, as a real-time thread there sees them: only
the host can keep it from running.

`check` finds each step's onset in the recording, prints drop-outs, placement and latency. With
--expect-clean it exits 1 if a step is missing or off its place by more than 5 ms, else 3 if
there are drop-outs: the strict figures, for a benchmark. With --expect-sound it exits 1 unless
every step sounds, in order, at its pitch, each step comes within 60 ms of its place after the
step before, the steps after a drop-out sound within 15 ms of where those before it did, no
drop-out is longer than 60 ms, beyond what the machine was held up for then, and drop-outs lose
at most 5% of the time: what holds on a busy machine.
`selftest` checks the onset detector itself on shifted copies of the render.
"""
import os
import signal
import struct
import subprocess
import sys
import threading
import time
import wave

import numpy as np

RATE_HZ = 48000
# The key-on's first samples still hold the old note in the Nuked core (about 16 samples), and
# the resampler spreads the change over a few more: the piece to match starts after them.
SKIP = round(0.00067 * RATE_HZ)
PIECE = round(0.010 * RATE_HZ)
# A step whose piece never gets this loud is a rest: nothing to find.
AUDIBLE = 200
# Among matches nearly as good as the best, the earliest: a held tone matches itself a period
# later almost as well.
NEAR_BEST = 0.02
# Room for a stall of up to 50 ms between two steps, and a little more.
SEARCH_S = 0.070
# A run of exact zeros longer than this while a note sounds is a drop-out. A note's waveform
# crosses zero, but never stays there for a third of a millisecond.
MAX_ZERO_RUN = 16
PLACEMENT_LIMIT_MS = 5.0
# check's exit status when drop-outs are the only fault.
DROP_OUTS_ONLY = 3
# What --expect-sound allows, on a machine busy with other work: the audio thread or the server
# held up for up to 50 ms now and then, and a little more.
STALL_MS = 60.0
# The sound of a step matches the render's this well or better: the right note, not noise.
SAME_NOTE = 0.9
# The machine held up for longer than this is noted by `watch`: a stall the host's own
# scheduling causes (seen here: 100 ms, every half hour or so), which no program can keep
# playing through with a queue short enough for its latency.
HELD_MS = 5.0
# A gap is caused by a hold-up this long before it at most: the deepest queue, and the sink's
# and recorder's own parts.
HELD_BEFORE_S = 0.2
# At most this share of the played time is lost in drop-outs.
LOST_SHARE = 0.05
# A stall puts the step written in it off its place, but the steps after it sound where those
# before it did: sound that comes this much later has stayed late by the time lost.
STAYED_LATE_MS = 15.0
# Steps each side of a drop-out that say where the sound is, the one just after it left out.
AROUND = 5
# The recording falling behind our clock by more than this is time its server left out. Less
# is the sink clock's drift, well under a ms a second.
LEFT_OUT_MS = 3.0


# ---------------------------------------------------------------------------------------------
# Files


def read_wav(path):
    try:
        with wave.open(path) as w:
            params = (w.getnchannels(), w.getsampwidth(), w.getframerate())
            frames = w.readframes(w.getnframes())
    except (wave.Error, EOFError) as e:
        sys.exit(f'{path}: not a WAV file ({e})')
    if params[:2] != (1, 2):
        sys.exit(f'{path}: not 16-bit mono PCM')
    if params[2] != RATE_HZ:
        sys.exit(f'{path}: {params[2]} Hz, not {RATE_HZ}')
    return np.frombuffer(frames, '<i2').astype(np.float64)


def voice1_key_ons(path):
    """Seconds from the start of a VGM capture to each key-on of voice 1 (register 0xB0, bit 5)."""
    b = open(path, 'rb').read()
    if b[:4] != b'Vgm ':
        sys.exit(f'{path}: not a VGM file')
    at = 0x34 + struct.unpack('<I', b[0x34:0x38])[0]
    samples, found = 0, []
    while at < len(b):
        c = b[at]
        if c == 0x5A:
            if b[at + 1] == 0xB0 and b[at + 2] & 0x20:
                found.append(samples)
            at += 3
        elif c == 0x61:
            samples += struct.unpack('<H', b[at + 1:at + 3])[0]
            at += 3
        elif c in (0x62, 0x63):
            samples += 735 if c == 0x62 else 882
            at += 1
        elif 0x70 <= c <= 0x7F:
            samples += c - 0x6F
            at += 1
        elif c == 0x66:
            break
        else:
            sys.exit(f'{path}: unexpected command {c:#04x} at {at:#x}')
    return np.array(found, dtype=np.float64) / 44100.0


def vgm_length_s(path):
    """How long a VGM capture runs: a live one, to the moment the program ended."""
    return struct.unpack('<I', open(path, 'rb').read()[0x18:0x1C])[0] / 44100.0


# ---------------------------------------------------------------------------------------------
# Finding the steps


def normalised_correlation(x, piece):
    """At each lag of `x`, how well `piece` matches it, from -1 to 1, whatever the level."""
    piece = piece - piece.mean()
    n = len(piece)
    sums = np.concatenate(([0.0], np.cumsum(x)))
    squares = np.concatenate(([0.0], np.cumsum(x * x)))
    s, s2 = sums[n:] - sums[:-n], squares[n:] - squares[:-n]
    spread = np.maximum(s2 - s * s / n, 1e-9)
    return np.correlate(x, piece, 'valid') / np.sqrt(spread * np.dot(piece, piece))


def match(x, piece, lo, hi):
    """Where in x[lo:hi] `piece` starts, to a fraction of a sample: the earliest peak of the
    correlation within NEAR_BEST of the best, refined by a parabola through its neighbours;
    and how well it matches there."""
    lo, hi = max(lo, 0), min(hi, len(x) - len(piece))
    if hi - lo < 3:
        return None, 0.0
    c = normalised_correlation(x[lo:hi + len(piece)], piece)
    best = c.max()
    peaks = np.nonzero((c[1:-1] >= c[:-2]) & (c[1:-1] >= c[2:]) & (c[1:-1] >= best - NEAR_BEST))[0]
    i = peaks[0] + 1 if len(peaks) else int(c.argmax())
    shift = 0.0
    if 0 < i < len(c) - 1:
        bend = c[i - 1] - 2 * c[i] + c[i + 1]
        if bend < 0:
            shift = 0.5 * (c[i - 1] - c[i + 1]) / bend
    return lo + i + shift, c[i]


class Steps:
    """The tune as rendered: where each step's key-on is, and the piece that follows it."""

    def __init__(self, render, render_key_ons_s):
        self.render = render
        self.at = np.round((render_key_ons_s - render_key_ons_s[0]) * RATE_HZ).astype(int)
        self.pieces = [render[k + SKIP:k + SKIP + PIECE] for k in self.at]
        self.sounding = [len(p) == PIECE and np.abs(p).max() >= AUDIBLE for p in self.pieces]

    def keep(self, n):
        """Only the first n steps: a playback stopped early."""
        self.at, self.pieces, self.sounding = self.at[:n], self.pieces[:n], self.sounding[:n]


def find_onsets(steps, recording, times_s):
    """The recording's sample at which each sounding step begins, or nan.

    times_s: when each step was played, in seconds on any clock. The first step is looked for
    near the first sound; each later one near where the steps found so far put it.
    With quality, also how well each step's sound matched the render's (-1 to 1).
    """
    onsets = np.full(len(steps.at), np.nan)
    quality = np.zeros(len(steps.at))
    loud = np.nonzero(np.abs(recording) >= AUDIBLE)[0]
    first_loud = np.nonzero(np.abs(steps.render) >= AUDIBLE)[0]
    if len(loud) == 0 or len(first_loud) == 0:
        return onsets, quality
    origin = loud[0] - first_loud[0] - times_s[0] * RATE_HZ
    rate = RATE_HZ
    window = round(SEARCH_S * RATE_HZ)
    found = []
    for i, piece in enumerate(steps.pieces):
        if not steps.sounding[i]:
            continue
        if found:
            # The sink's clock need not run at the rate the player's does.
            if len(found) >= 3:
                rate = np.polyfit(times_s[found[1:]], onsets[found[1:]], 1)[0]
            expected = onsets[found[-1]] + (times_s[i] - times_s[found[-1]]) * rate
        else:
            expected = origin + times_s[i] * RATE_HZ
        at, quality[i] = match(recording, piece, round(expected) + SKIP - window,
                               round(expected) + SKIP + window)
        if at is None:
            continue
        onsets[i] = at - SKIP
        found.append(i)
    return onsets, quality


def placement_ms(onsets, times_s):
    """Each step's distance from its place, once a constant latency and the sink clock's drift
    (a straight line through all steps) are taken out."""
    ok = ~np.isnan(onsets)
    line = np.polyfit(times_s[ok], onsets[ok] / RATE_HZ, 1)
    off = np.full(len(onsets), np.nan)
    off[ok] = (onsets[ok] / RATE_HZ - np.polyval(line, times_s[ok])) * 1000
    return off


def drop_outs(steps, recording, onsets, until):
    """Runs of exact zeros longer than MAX_ZERO_RUN where the render sounds: (sample, length)."""
    zero = np.concatenate(([0], (recording == 0).astype(np.int8), [0]))
    edges = np.diff(zero)
    starts, ends = np.nonzero(edges == 1)[0], np.nonzero(edges == -1)[0]
    found_steps = np.nonzero(~np.isnan(onsets))[0]
    gaps = []
    for start, end in zip(starts, ends):
        if end - start <= MAX_ZERO_RUN or start < onsets[found_steps[0]] or start >= until:
            continue
        # The same stretch in the render, from the nearest step before it.
        j = found_steps[np.searchsorted(onsets[found_steps], start, side='right') - 1]
        at = steps.at[j] + round(start - onsets[j])
        there = steps.render[max(at - 2, 0):at + (end - start) + 2]
        if len(there) and np.abs(there).max() >= AUDIBLE:
            gaps.append((int(start), int(end - start)))
    return gaps


# ---------------------------------------------------------------------------------------------
# The detector's own check


def shifted_copy(render, at, shifts, lead):
    """The render after `lead` samples of silence, with everything from step i's key-on to the
    next one delayed by shifts[i] samples (fractions too; a negative shift comes early), as a
    recording with a wandering latency would hold it."""
    out = np.zeros(lead + len(render) + round(np.abs(shifts).max()) + 2)
    grid = np.arange(len(out), dtype=np.float64)
    bounds = list(at) + [len(render)]
    for i, shift in enumerate(shifts):
        lo, hi = lead + bounds[i] + shift, lead + bounds[i + 1] + shift
        where = (grid >= lo) & (grid < hi)
        out[where] = np.interp(grid[where] - lead - shift, np.arange(len(render)), render)
    return out


def selftest(steps):
    """The detector finds known shifts, step 1's early or late too, and all steps after a 50 ms
    stall, within 1 ms."""
    rng = np.random.default_rng(7)
    times_s = steps.at / RATE_HZ
    sounding = np.array(steps.sounding)
    lead = round(1.5 * RATE_HZ)  # silence before the program starts, as in a recording
    worst = 0.0
    for spread_ms, first_ms, stall_ms in ((3.0, 12.0, 0), (12.0, -12.0, 0), (1.0, 0.0, 50.0)):
        shifts = rng.uniform(-spread_ms, spread_ms, len(steps.at)) * RATE_HZ / 1000
        shifts[0] = first_ms * RATE_HZ / 1000
        shifts[len(shifts) // 2:] += stall_ms * RATE_HZ / 1000
        copy = shifted_copy(steps.render, steps.at, shifts, lead)
        copy += rng.normal(0, 2, len(copy))  # and a little noise
        onsets, _ = find_onsets(steps, copy, times_s)
        errors_ms = np.abs(onsets - (lead + steps.at + shifts))[sounding] * 1000 / RATE_HZ
        if np.isnan(errors_ms).any() or errors_ms.max() > 1.0:
            print(f'selftest: with shifts up to {spread_ms} ms, step 1 at {first_ms:+} ms and a '
                  f'{stall_ms} ms stall, {np.isnan(errors_ms).sum()} steps not found, '
                  f'worst {np.nanmax(errors_ms):.2f} ms')
            return False
        worst = max(worst, errors_ms.max())
    # Reads of 11 ms each, up to 8 ms late, from a server that leaves out 2 cycles at 30 s; and
    # from one that leaves out nothing, held up for a whole second at 40 s.
    t = np.arange(0, 60, 0.011)
    late = rng.uniform(0, 0.008, len(t))
    n = np.round(t * RATE_HZ)
    found = left_out(t + late, n - np.where(t > 30, 1024, 0))
    held = left_out(t + late + np.where((t > 40) & (t < 41), 0.5, 0), n)
    if (len(found) != 1 or abs(found[0][1] - 1024) > RATE_HZ // 1000
            or abs(found[0][0] - 30 * RATE_HZ) > 1100 or held):
        print(f'selftest: 1024 samples left out at 30 s were found as {found}, and a held-up '
              f'recorder as {held}')
        return False
    print(f'selftest: known shifts up to 12 ms and a 50 ms stall found within {worst * 1000:.0f} us, '
          f'and time left out by the server')
    return True


# ---------------------------------------------------------------------------------------------
# Recording a live playback


def stall(program, ms):
    """Holds the whole program back for `ms`, as a machine busy with other work can."""
    program.send_signal(signal.SIGSTOP)
    time.sleep(ms / 1000)
    program.send_signal(signal.SIGCONT)


def watch(path, cpu):
    """Until killed, notes each time a real-time thread on `cpu` woke more than HELD_MS late
    from a 1 ms sleep, as (when, ms late), added to `path`. The host can take one virtual CPU
    away while the other runs on, and whatever waits on that one waits with it: so one watch
    on each. At the lowest real-time priority, below the program's and the servers' threads,
    only the host keeps it from running; where real-time scheduling is not allowed, it watches
    at normal priority, and then also sees the machine's own load."""
    os.sched_setaffinity(0, {cpu})
    try:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(1))
    except OSError:
        pass
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    player = os.getppid()
    # A player that is killed cannot stop its watches: they stop once it has gone.
    while os.getppid() == player:
        before = time.monotonic()
        time.sleep(0.001)
        late_ms = (time.monotonic() - before) * 1000 - 1
        if late_ms > HELD_MS:
            os.write(fd, f'{before:.6f} {late_ms:.1f}\n'.encode())


def recorder_latency_ms():
    """PipeWire runs its whole graph at the pace its most hurried stream asks for: a recorder
    asking for 2 ms would pace the program's stream at 5.3 ms, far harder than it asks for
    itself. PulseAudio paces each stream on its own."""
    info = subprocess.run(['pactl', 'info'], capture_output=True, text=True).stdout
    return 11 if 'on PipeWire' in info else 2


def play(out, vesk, options, stop_after_s, stalls):
    parec = subprocess.Popen(['parec', '--format=s16le', '--rate=48000', '--channels=1',
                              f'--latency-msec={recorder_latency_ms()}', '--raw',
                              '--device=@DEFAULT_MONITOR@'],
                             stdout=subprocess.PIPE)
    reads = []

    def record():
        total = 0
        with open(out + '.raw', 'wb') as f:
            while True:
                data = os.read(parec.stdout.fileno(), 1 << 16)
                if not data:
                    break
                reads.append((time.monotonic(), total + len(data)))
                f.write(data)
                total += len(data)

    recorder = threading.Thread(target=record)
    recorder.start()
    open(out + '.held', 'w').close()
    watchers = [subprocess.Popen([sys.executable, os.path.abspath(__file__), 'watch', out + '.held',
                                  str(cpu)]) for cpu in sorted(os.sched_getaffinity(0))]
    try:
        # A new recording often stays silent for a second or two, and a program started then
        # comes out garbled in its first seconds: wait for audio, then let it settle.
        deadline = time.monotonic() + 15
        while not reads and time.monotonic() < deadline and parec.poll() is None:
            time.sleep(0.01)
        if not reads:
            sys.exit('play: the monitor delivers no audio')
        time.sleep(1.5)
        program = subprocess.Popen([vesk, '--text', '--capture', out + '.vgm'] + options,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        program.stdin.write('start\n')
        program.stdin.flush()
        for at_s, ms in stalls:
            threading.Timer(at_s, stall, (program, ms)).start()
        if stop_after_s is None:
            program.stdin.close()
        else:
            threading.Timer(stop_after_s, lambda: (program.stdin.write('sluta\n'),
                                                   program.stdin.close())).start()
        steps = []
        for line in program.stdout:
            if line.startswith('step '):
                steps.append(time.monotonic())
            else:
                sys.stdout.write(line)
        status = program.wait()
        time.sleep(0.3)
    finally:
        parec.terminate()
        for watcher in watchers:
            watcher.terminate()
        recorder.join()
        for watcher in watchers:
            watcher.wait()
    with open(out + '.reads', 'w') as f:
        f.writelines(f'{t:.6f} {n // 2}\n' for t, n in reads)
    with open(out + '.steps', 'w') as f:
        f.writelines(f'{t:.6f}\n' for t in steps)
    if status != 0:
        sys.exit(f'play: vesk ended with status {status}')


def held_up(out):
    """The times the machine was held up during `play`: (start, ms) on our clock."""
    try:
        held = np.loadtxt(out + '.held', ndmin=2)
    except OSError:
        return np.zeros((0, 2))
    return held.reshape(-1, 2)


def held_for_ms(held):
    """How long any CPU was held up, in all: the CPUs' hold-ups overlap."""
    total_ms, until = 0.0, -np.inf
    for start, ms in sorted(map(tuple, held)):
        end = start + ms / 1000
        total_ms += max(0.0, end - max(start, until)) * 1000
        until = max(until, end)
    return total_ms


def reads(out, left_out=()):
    """When the recorder got its samples: times, and sample counts as in the recording with
    the time left out put back."""
    got = np.loadtxt(out + '.reads', ndmin=2)
    t, n = got[:, 0], got[:, 1].copy()
    for at, samples in left_out:
        n[n > at] += samples
    return t, n


def left_out(t, n):
    """Where the recording left out time, as (sample index, samples). PipeWire's graph, held up
    for more than a cycle, goes on from where its clock has got to, and the sink's monitor skips
    the cycles it missed: the recording then runs early by that much, though no listener was
    given the time back. A read can only be late, so the earliest in each second says how far
    the samples are ahead of our clock; a lasting fall in that is time left out, just after the
    last read that was still as far ahead."""
    ahead = n / RATE_HZ - (t - t[0])
    second = np.floor(t - t[0]).astype(int)
    # The last second is cut short by the recorder's end.
    seconds = np.unique(second)[:-1]
    most = np.array([ahead[second == s].max() for s in seconds])
    skips = []
    for i in range(1, len(seconds)):
        lost_s = most[i - 1] - most[i:].max()
        if lost_s * 1000 < LEFT_OUT_MS:
            continue
        still_ahead = np.nonzero((second <= seconds[i]) & (ahead > most[i:].max() + lost_s / 2))[0]
        skips.append((int(n[still_ahead[-1]]), int(round(lost_s * RATE_HZ))))
    return skips


def placed(skips, recording):
    """The reads place time left out within a cycle or two; the gap a held-up graph also plays,
    if there is one that near, places it exactly."""
    zero = np.concatenate(([0], (recording == 0).astype(np.int8), [0]))
    gaps = np.nonzero(np.diff(zero) == 1)[0]
    exact = []
    for at, samples in skips:
        near = gaps[np.abs(gaps - at) <= SEARCH_S * RATE_HZ]
        exact.append((int(near[np.argmin(np.abs(near - at))]) if len(near) else at, samples))
    return exact


def with_time_put_back(recording, skips):
    """The recording as a sink that kept our clock would have played it: silence where the
    server left time out."""
    for at, samples in reversed(skips):
        recording = np.insert(recording, min(at, len(recording)), np.zeros(samples))
    return recording


def sample_clock(out, skips):
    """A straight line from the recording's sample index to the time it reached the recorder:
    through the earliest arrival in each second, since a read can only be late."""
    t, n = reads(out, skips)
    rough = np.polyfit(n, t, 1)
    early = t - np.polyval(rough, n)
    second = np.floor(t - t[0]).astype(int)
    pick = [np.nonzero(second == s)[0][np.argmin(early[second == s])] for s in np.unique(second)]
    return np.polyfit(n[pick], t[pick], 1)


def latency_ms(out, clock, onsets, times_s):
    """From each key-on write to its sound reaching the recorder. The program prints a step's
    line just before its writes, and a line can only reach us late: the line's lower edge
    against the capture's times maps the capture's clock onto ours. The capture counts the
    device's samples, whose clock need not run at the pace of ours (0.04% apart has been seen),
    so the map is a line, not an offset."""
    lines = np.loadtxt(out + '.steps', ndmin=1)
    count = min(len(lines), len(times_s))
    slope = np.polyfit(times_s[:count], lines[:count], 1)[0] if count >= 3 else 1.0
    origin = np.min(lines[:count] - slope * times_s[:count])
    heard = np.polyval(clock, onsets)
    return (heard - (slope * times_s + origin)) * 1000


def sound_faults(steps, onsets, quality, times_s, gaps, played_s, excused_ms):
    """What --expect-sound fails on, as one line each. excused_ms: for each gap, how long the
    machine as a whole was held up just before or in it."""
    ok = np.nonzero(~np.isnan(onsets))[0]
    faults = []
    for a, b in zip(ok[:-1], ok[1:]):
        apart_ms = ((onsets[b] - onsets[a]) / RATE_HZ - (times_s[b] - times_s[a])) * 1000
        if onsets[b] <= onsets[a]:
            faults.append(f'step {b + 1} sounds before step {a + 1}')
        elif abs(apart_ms) > STALL_MS:
            faults.append(f'step {b + 1} is {apart_ms:+.1f} ms off its place after step {a + 1}')
    # No line is fitted here: one through all steps would bend to a lasting shift.
    lag_ms = (onsets / RATE_HZ - times_s) * 1000
    for at, n in gaps:
        before = [i for i in ok if onsets[i] < at][-AROUND:]
        after = [i for i in ok if onsets[i] > at + n][1:AROUND + 1]
        if len(before) < 3 or len(after) < 3:
            continue
        shift_ms = np.median(lag_ms[after]) - np.median(lag_ms[before])
        if abs(shift_ms) > STAYED_LATE_MS:
            faults.append(f'after the drop-out at {at / RATE_HZ:.3f} s the steps sound '
                          f'{shift_ms:+.1f} ms off where they did before it')
    faults += [f'step {i + 1} does not sound like the render (match {quality[i]:.2f})'
               for i in ok if quality[i] < SAME_NOTE]
    faults += [f'a drop-out of {n * 1000 / RATE_HZ:.1f} ms at {at / RATE_HZ:.3f} s'
               + (f', the machine held up for {held:.1f} ms of it' if held else '')
               for (at, n), held in zip(gaps, excused_ms) if n * 1000 / RATE_HZ > STALL_MS + held]
    lost_s = sum(n for _, n in gaps) / RATE_HZ
    if lost_s > LOST_SHARE * played_s:
        faults.append(f'drop-outs lost {lost_s:.2f} s of {played_s:.1f} s')
    return faults


def check(render_path, render_vgm, out, expect):
    steps = Steps(read_wav(render_path), voice1_key_ons(render_vgm))
    if not selftest(steps):
        return 1
    recording = np.fromfile(out + '.raw', '<i2').astype(np.float64)
    skips = placed(left_out(*reads(out)), recording)
    for at, samples in skips:
        print(f'the server left {samples * 1000 / RATE_HZ:.1f} ms out of the recording at '
              f'{at / RATE_HZ:.3f} s: put back as silence')
    recording = with_time_put_back(recording, skips)
    times_s = voice1_key_ons(out + '.vgm')
    played = min(len(times_s), len(steps.at))
    steps.keep(played)
    times_s = times_s[:played]
    onsets, quality = find_onsets(steps, recording, times_s)
    ok = ~np.isnan(onsets)
    missing = [int(i) + 1 for i in np.nonzero(np.array(steps.sounding) & ~ok)[0]]
    print(f'{played} steps played, {ok.sum()} sounding steps found'
          + (f', not found: {missing}' if missing else ''))
    if ok.sum() < 3:
        print('FAIL: too few steps found in the recording')
        return 1

    off = placement_ms(onsets, times_s)
    # The sound stops where the program ends ("sluta", or the last step's key-off): up to 50 ms
    # before it, by the onsets' own line, nothing should be missing.
    line = np.polyfit(times_s[ok], onsets[ok], 1)
    until = min(onsets[np.nonzero(ok)[0][-1]] + 0.8 * RATE_HZ,
                np.polyval(line, vgm_length_s(out + '.vgm') - 0.05))
    gaps = drop_outs(steps, recording, onsets, until)
    # The recorder's clock, read once for the latency and for the hold-ups below.
    clock = sample_clock(out, skips)
    latency = latency_ms(out, clock, onsets, times_s)
    worst = int(np.nanargmax(np.abs(off)))
    print(f'placement: sd {np.nanstd(off):.2f} ms, worst {off[worst]:+.2f} ms (step {worst + 1}), '
          f'step 1 {off[0]:+.2f} ms')
    print(f'latency, write to recorder: median {np.nanmedian(latency):.1f} ms, '
          f'{np.nanmin(latency):.1f} to {np.nanmax(latency):.1f} ms')
    # Each gap against the hold-ups of the machine as a whole, through the recorder's clock.
    held = held_up(out)
    excused_ms = []
    for at, n in gaps:
        start, end = np.polyval(clock, at) - HELD_BEFORE_S, np.polyval(clock, at + n)
        near = held[(held[:, 0] < end) & (held[:, 0] + held[:, 1] / 1000 > start)]
        excused_ms.append(held_for_ms(near))
    print(f'drop-outs: {len(gaps)}')
    for (at, n), ms in zip(gaps, excused_ms):
        print(f'  {n} samples ({n * 1000 / RATE_HZ:.1f} ms) at {at / RATE_HZ:.3f} s'
              + (f', the machine held up for {ms:.1f} ms' if ms else ''))
    print(f'match with the render: worst {quality[ok].min():.3f}')
    faults = [f'steps not found in the recording: {missing}'] if missing else []
    if expect == 'sound':
        played_s = (until - onsets[np.nonzero(ok)[0][0]]) / RATE_HZ
        faults += sound_faults(steps, onsets, quality, times_s, gaps, played_s, excused_ms)
        for fault in faults:
            print(f'FAIL: {fault}')
        return 1 if faults else 0
    if expect != 'clean':
        return 0
    faults += [f'step {i + 1} is {off[i]:+.2f} ms off its place'
               for i in np.nonzero(ok)[0] if abs(off[i]) > PLACEMENT_LIMIT_MS]
    for fault in faults + ([f'{len(gaps)} drop-outs'] if gaps else []):
        print(f'FAIL: {fault}')
    return 1 if faults else DROP_OUTS_ONLY if gaps else 0


def main(args):
    if len(args) >= 3 and args[0] == 'play':
        options, stop_after, stalls = args[3:], None, []
        if '--stop-after' in options:
            k = options.index('--stop-after')
            stop_after = float(options[k + 1])
            del options[k:k + 2]
        while '--stall' in options:
            k = options.index('--stall')
            at_s, ms = options[k + 1].split(':')
            stalls.append((float(at_s), float(ms)))
            del options[k:k + 2]
        play(args[1], args[2], options, stop_after, stalls)
        return 0
    if len(args) in (4, 5) and args[0] == 'check':
        expect = {'--expect-clean': 'clean', '--expect-sound': 'sound'}.get(args[4] if len(args) == 5 else '')
        if len(args) == 5 and expect is None:
            sys.exit(__doc__)
        return check(args[1], args[2], args[3], expect)
    if len(args) == 3 and args[0] == 'watch':
        watch(args[1], int(args[2]))
        return 0
    if len(args) == 3 and args[0] == 'selftest':
        return 0 if selftest(Steps(read_wav(args[1]), voice1_key_ons(args[2]))) else 1
    sys.exit(__doc__)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))

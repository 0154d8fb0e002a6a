"""When the ball lands on screen and when its tick is heard, both on CLOCK_MONOTONIC.

Sound: a recorder process reads the null sink's monitor through libpulse and, after each
fragment of about 5 ms, notes time.monotonic() and the stream's interpolated latency (signed:
the sink renders ahead, so the next frame may not be heard yet). The null sink hears its frames
back to back at a steady rate, so the notes map every recorded frame to the moment the server
has it heard, the moment a player's own latency figures aim at, to within a few tenths of a
millisecond; the test checks the map against a click whose moment a playback stream foretold.

Screen: a tight loop of XGetSubImage of a strip of the drawing area at the floor, each grab
stamped with time.monotonic(); grabs are well under a millisecond apart.

Run as `avsync.py record SERVER SOURCE TIMING_FILE` or `avsync.py click SERVER SINK`, this file is
the recorder, or plays a click and prints when the server will have it heard."""

import array
import bisect
import ctypes
import ctypes.util
import os
import statistics
import subprocess
import sys
import time

from desktop import E2EError, Process, Recorder, wait_for
from ticks import RATE


class _SampleSpec(ctypes.Structure):
    _fields_ = [("format", ctypes.c_int), ("rate", ctypes.c_uint32), ("channels", ctypes.c_uint8)]


class _BufferAttr(ctypes.Structure):
    _fields_ = [(n, ctypes.c_uint32) for n in ("maxlength", "tlength", "prebuf", "minreq",
                                               "fragsize")]


class _Pulse:
    """One mono 16-bit stream on a threaded main loop, polled rather than called back."""

    # Interpolated, automatically updated timing: a latency reading needs no round trip. Not
    # forced monotonic: each reading stands on its own.
    FLAGS = 0x0002 | 0x0004 | 0x0008 | 0x2000

    def __init__(self, server):
        pa = self.pa = ctypes.CDLL("libpulse.so.0")
        p, i, u, z = ctypes.c_void_p, ctypes.c_int, ctypes.c_uint, ctypes.c_size_t
        attr = ctypes.POINTER(_BufferAttr)
        for name, res, args in [
                ("pa_threaded_mainloop_new", p, []), ("pa_threaded_mainloop_get_api", p, [p]),
                ("pa_threaded_mainloop_start", i, [p]), ("pa_threaded_mainloop_lock", None, [p]),
                ("pa_threaded_mainloop_unlock", None, [p]),
                ("pa_context_new", p, [p, ctypes.c_char_p]),
                ("pa_context_connect", i, [p, ctypes.c_char_p, u, p]),
                ("pa_context_get_state", i, [p]),
                ("pa_stream_new", p, [p, ctypes.c_char_p, ctypes.POINTER(_SampleSpec), p]),
                ("pa_stream_connect_record", i, [p, ctypes.c_char_p, attr, u]),
                ("pa_stream_connect_playback", i, [p, ctypes.c_char_p, attr, u, p, p]),
                ("pa_stream_get_state", i, [p]),
                ("pa_stream_peek", i, [p, ctypes.POINTER(p), ctypes.POINTER(z)]),
                ("pa_stream_drop", i, [p]), ("pa_stream_writable_size", z, [p]),
                ("pa_stream_write", i, [p, ctypes.c_char_p, z, p, ctypes.c_int64, i]),
                ("pa_stream_get_latency", i, [p, ctypes.POINTER(ctypes.c_uint64),
                                              ctypes.POINTER(i)])]:
            f = getattr(pa, name)
            f.restype, f.argtypes = res, args
        self.loop = pa.pa_threaded_mainloop_new()
        self.ctx = pa.pa_context_new(pa.pa_threaded_mainloop_get_api(self.loop), b"pv2-e2e")
        if pa.pa_context_connect(self.ctx, server.encode(), 1, None) < 0:  # NOAUTOSPAWN
            sys.exit("cannot connect to " + server)
        pa.pa_threaded_mainloop_start(self.loop)
        self._await(pa.pa_context_get_state, self.ctx, 4, "connection")  # PA_CONTEXT_READY
        self.stream = self.locked(pa.pa_stream_new, self.ctx, b"e2e",
                                  ctypes.byref(_SampleSpec(3, RATE, 1)), None)  # S16LE mono
        self._usec, self._negative = ctypes.c_uint64(), ctypes.c_int()

    def locked(self, f, *args):
        self.pa.pa_threaded_mainloop_lock(self.loop)
        try:
            return f(*args)
        finally:
            self.pa.pa_threaded_mainloop_unlock(self.loop)

    def _await(self, get, obj, ready, what):
        deadline = time.monotonic() + 10
        while True:
            state = self.locked(get, obj)
            if state == ready:
                return
            if state > ready or time.monotonic() > deadline:
                sys.exit(f"{what} failed (state {state})")
            time.sleep(0.01)

    def ready(self):
        self._await(self.pa.pa_stream_get_state, self.stream, 2, "stream")  # PA_STREAM_READY

    def latency(self):
        """Signed seconds, or None while the server has sent no timing; under the lock."""
        if self.pa.pa_stream_get_latency(self.stream, ctypes.byref(self._usec),
                                         ctypes.byref(self._negative)):
            return None
        return (-1 if self._negative.value else 1) * self._usec.value / 1e6


def _record(server, source, timing_path):
    """Samples to stdout; for each fragment a line "frames_read found_at latency stamped_at":
    the frame after those read is heard at stamped_at - latency."""
    s = _Pulse(server)
    # Fragments of about 5 ms: the server's timing is noted often.
    attr = _BufferAttr(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, RATE // 100)
    if s.locked(s.pa.pa_stream_connect_record, s.stream, source.encode(), ctypes.byref(attr),
                _Pulse.FLAGS):
        sys.exit("cannot record " + source)
    s.ready()
    data, size = ctypes.c_void_p(), ctypes.c_size_t()
    frames = 0
    with open(timing_path, "w", buffering=1) as log:
        while True:
            found = time.monotonic()
            s.pa.pa_threaded_mainloop_lock(s.loop)
            if s.pa.pa_stream_peek(s.stream, ctypes.byref(data), ctypes.byref(size)) < 0:
                sys.exit("pa_stream_peek failed")
            if size.value == 0:
                s.pa.pa_threaded_mainloop_unlock(s.loop)
                time.sleep(0.0002)
                continue
            chunk = ctypes.string_at(data, size.value) if data else bytes(size.value)
            s.pa.pa_stream_drop(s.stream)
            before = time.monotonic()
            latency = s.latency()
            after = time.monotonic()
            s.pa.pa_threaded_mainloop_unlock(s.loop)
            frames += len(chunk) // 2
            os.write(1, chunk)
            # A reading interrupted by the scheduler has no clear moment: left out.
            if latency is not None and after - before < 0.0002:
                log.write(f"{frames} {found:.7f} {latency:.7f} {(before + after) / 2:.7f}\n")


def _click(server, sink):
    """Plays silence, then a 10 ms burst, then silence; prints when the burst's first frame is
    to be heard by the server's timing, taken just before it is written."""
    s = _Pulse(server)
    attr = _BufferAttr(0xFFFFFFFF, 2 * RATE // 50, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF)
    if s.locked(s.pa.pa_stream_connect_playback, s.stream, sink.encode(), ctypes.byref(attr),
                _Pulse.FLAGS, None, None):
        sys.exit("cannot play on " + sink)
    s.ready()
    burst = array.array("h", [(8000 if (i // 20) % 2 == 0 else -8000) for i in range(RATE // 100)])
    start = time.monotonic()
    heard = None
    while time.monotonic() < start + 0.9:
        s.pa.pa_threaded_mainloop_lock(s.loop)
        n = s.pa.pa_stream_writable_size(s.stream) // 2 * 2
        if n:
            before = time.monotonic()
            latency = s.latency() if heard is None and before > start + 0.5 else None
            after = time.monotonic()
            if latency is not None and after - before < 0.0002:
                heard = (before + after) / 2 + latency
                s.pa.pa_stream_write(s.stream, burst.tobytes(), 2 * len(burst), None, 0, 0)
            else:
                s.pa.pa_stream_write(s.stream, bytes(n), n, None, 0, 0)
        s.pa.pa_threaded_mainloop_unlock(s.loop)
        time.sleep(0.001)
    print(f"{heard:.7f}")


def play_click(desktop, sink="e2e"):
    """Plays a click on the sink; returns the moment the server said it would be heard."""
    r = subprocess.run([sys.executable, "-B", os.path.abspath(__file__), "click",
                        desktop.env()["PULSE_SERVER"], sink],
                       env=desktop.env(), capture_output=True, text=True, timeout=20)
    if r.returncode != 0:
        raise E2EError("the click failed: " + r.stderr)
    return float(r.stdout)


class TimedRecorder(Recorder):
    """Records the null sink's monitor and maps its frames to CLOCK_MONOTONIC."""

    def __init__(self, desktop, source="e2e.monitor"):
        self.timing_path = desktop.path("record-timing.txt")
        self._start(Process(
            "recorder",
            [sys.executable, "-B", os.path.abspath(__file__), "record",
             desktop.env()["PULSE_SERVER"], source, self.timing_path],
            desktop.path("recorder.log"), env=desktop.env(), stdout=subprocess.PIPE))

    def wait_settled(self, timeout=10):
        """Waits until the server's timing holds steady and agrees with the arrivals over the
        last 0.3 s; returns the moment. Its first figures on a new recording can be off by
        hundreds of milliseconds. The null sink renders a block (two when one comes short) at
        the moment it begins to be heard, so the earliest arrivals are up to that far ahead."""

        def settled():
            notes = self._notes(time.monotonic() - 0.3, float("inf"))
            if len(notes) < 20:
                return False
            block = statistics.median(b[0] - a[0] for a, b in zip(notes, notes[1:])) / RATE
            heard = [stamped - latency - k / RATE for k, _, latency, stamped in notes]
            ahead = max(stamped - latency - 1 / RATE - found
                        for _, found, latency, stamped in notes)
            return max(heard) - min(heard) < 0.001 and -0.001 < ahead < 2 * block + 0.001

        wait_for(settled, timeout, "the server's timing of the recording to settle")
        return time.monotonic()

    def _notes(self, since, until):
        out = []
        with open(self.timing_path) as f:
            for line in f:
                parts = line.split()
                if len(parts) == 4 and since <= float(parts[1]) <= until:
                    k, found, latency, stamped = int(parts[0]), *map(float, parts[1:])
                    out.append((k, found, latency, stamped))
        return out

    def clock(self, since):
        """A map from recorded frame to the moment it is heard, from the server's timing noted
        since then: the rate from a line through all notes, the offset from the notes within
        half a second of the frame, since the server's figures step by a few tenths of a
        millisecond at its timing updates. Also returns how far the notes stray from the map
        (95th percentile, s)."""
        notes = self._notes(since, float("inf"))
        if len(notes) < 50:
            raise E2EError(f"only {len(notes)} timing notes from the recorder")
        _, period = _fit([(k, stamped - latency) for k, _, latency, stamped in notes])
        frames = [k for k, _, _, _ in notes]
        offsets = [stamped - latency - period * k for k, _, latency, stamped in notes]

        def offset(frame):
            near = offsets[bisect.bisect_left(frames, frame - RATE // 2):
                           bisect.bisect_right(frames, frame + RATE // 2)]
            if not near:
                raise E2EError(f"no timing notes near frame {frame}")
            return statistics.median(near)

        strays = sorted(abs(o - offset(k)) for k, o in zip(frames, offsets))
        return (lambda frame: offset(frame) + period * frame), strays[len(strays) * 95 // 100]


def _fit(points):
    n = len(points)
    mk = sum(k for k, _ in points) / n
    mt = sum(t for _, t in points) / n
    slope = sum((k - mk) * (t - mt) for k, t in points) / sum((k - mk) ** 2 for k, _ in points)
    return mt - slope * mk, slope


class _XImage(ctypes.Structure):
    _fields_ = [(n, ctypes.c_int) for n in ("width", "height", "xoffset", "format")] + [
        ("data", ctypes.c_void_p)] + [
        (n, ctypes.c_int) for n in ("byte_order", "bitmap_unit", "bitmap_bit_order",
                                    "bitmap_pad", "depth", "bytes_per_line", "bits_per_pixel")]


class StripWatcher:
    """Grabs a few rows of a window from the X server: a fraction of a millisecond a grab."""

    def __init__(self, display, window, x, y, width, rows):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        p, i, u, img = ctypes.c_void_p, ctypes.c_int, ctypes.c_uint, ctypes.POINTER(_XImage)
        area = [p, ctypes.c_ulong, i, i, u, u, ctypes.c_ulong, i]
        for name, res, args in [("XOpenDisplay", p, [ctypes.c_char_p]),
                                ("XGetImage", img, area),
                                ("XGetSubImage", img, area + [img, i, i]),
                                ("XDestroyImage", i, [img]), ("XCloseDisplay", i, [p])]:
            f = getattr(x11, name)
            f.restype, f.argtypes = res, args
        self._x11 = x11
        self._dpy = x11.XOpenDisplay(display.encode())
        if not self._dpy:
            raise E2EError("cannot open display " + display)
        self._args = (self._dpy, window, x, y, width, rows, 0xFFFFFFFF, 2)  # ZPixmap
        self._image = x11.XGetImage(*self._args)
        if not self._image or self._image.contents.bits_per_pixel != 32:
            raise E2EError("unexpected image format from the X server")
        self.width, self.rows = width, rows
        self._stride = self._image.contents.bytes_per_line

    def grab(self):
        """Blue, green, red and a spare byte a pixel, row after row."""
        if not self._x11.XGetSubImage(*self._args, self._image, 0, 0):
            raise E2EError("XGetSubImage failed")
        return ctypes.string_at(self._image.contents.data, self._stride * self.rows)

    def watch(self, seconds, pause=0.0003):
        """Grabs for a while; returns (previous grab's moment, this grab's moment, strip) for
        each grab that differs from the one before. A grab's moment is the middle of its
        request."""
        changes = []
        last = previous = None
        end = time.monotonic() + seconds
        while True:
            before = time.monotonic()
            if before > end:
                return changes
            strip = self.grab()
            at = (before + time.monotonic()) / 2
            if strip != last:
                changes.append((previous, at, strip))
                last = strip
            previous = at
            time.sleep(pause)

    def lowest(self, strip, is_ball):
        """The lowest row of the strip with at least 3 pixels of the ball and the middle of
        those pixels, or None."""
        for row in range(self.rows - 1, -1, -1):
            line = strip[row * self._stride:]
            xs = [x for x in range(self.width)
                  if is_ball(line[4 * x + 2], line[4 * x + 1], line[4 * x])]
            if len(xs) >= 3:
                return row, (xs[0] + xs[-1]) / 2
        return None

    def close(self):
        self._x11.XDestroyImage(self._image)
        self._x11.XCloseDisplay(self._dpy)


def landings(watcher, changes, is_ball, spots, tolerance=4):
    """When the ball came to rest at one of the spots (x in the strip): (moment, spot), the
    moment halfway between the grabs before and after. The ball at rest is lower than anywhere
    in flight (a flight is at least a pixel up), so resting is being in the lowest row seen."""
    seen = [(prev, at, watcher.lowest(strip, is_ball)) for prev, at, strip in changes]
    floor = max((b[0] for _, _, b in seen if b), default=None)
    found, resting = [], None
    for prev, at, bottom in seen:
        spot = None
        if bottom and bottom[0] == floor:
            near = [i for i, s in enumerate(spots) if abs(bottom[1] - s) <= tolerance]
            spot = near[0] if near else None
        if spot is not None and spot != resting and prev is not None:
            found.append(((prev + at) / 2, spot))
        resting = spot
    return found


if __name__ == "__main__":
    {"record": _record, "click": _click}[sys.argv[1]](*sys.argv[2:])

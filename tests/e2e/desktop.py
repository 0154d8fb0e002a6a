"""A private desktop for end-to-end runs: an X server, an audio server with a null sink, a
recorder on its monitor and the program, each started here and stopped by its process id."""

import array
import ctypes
import ctypes.util
import os
import select
import shutil
import signal
import stat
import subprocess
import tempfile
import threading
import time

from ticks import RATE as SAMPLE_RATE
SCREEN = (1024, 768)


class E2EError(AssertionError):
    pass


def wait_for(condition, timeout, what, interval=0.05):
    """Polls until condition() returns something true and returns it; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise E2EError(f"gave up after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)


TOOLS = ("Xvfb", "xdotool", "xprop", "import", "pulseaudio", "pactl", "parec")


def require_tools(*names):
    missing = [n for n in names if shutil.which(n) is None]
    if missing:
        raise E2EError("missing tools: " + ", ".join(missing) + " (run scripts/install-deps)")


def running_sound_server():
    """Where a sound server already serves this user, if anywhere. Only looks: connecting could
    start a socket-activated one."""
    if os.environ.get("PULSE_SERVER"):
        return "PULSE_SERVER=" + os.environ["PULSE_SERVER"]
    runtime = os.environ.get("XDG_RUNTIME_DIR") or f"/run/user/{os.getuid()}"
    for path in (os.path.join(runtime, "pulse", "native"), os.path.join(runtime, "pipewire-0"),
                 "/run/pulse/native"):
        try:
            if stat.S_ISSOCK(os.stat(path).st_mode):
                return path
        except OSError:
            pass
    return None


def why_not_here(ci):
    """Why a private desktop cannot be started here, or None. Its audio server is installed only
    on CI (scripts/install-deps ci): on a desktop it would compete with the user's."""
    server = None if ci else running_sound_server()
    if server:
        return (f"a sound server already runs for this user ({server}); these tests start one "
                "of their own and are left to CI (CI=true runs them anyway)")
    missing = [n for n in TOOLS if shutil.which(n) is None]
    if missing:
        how = ("`scripts/install-deps ci` installs them" if ci else
               "`scripts/install-deps test` installs the tools, `scripts/install-deps server` "
               "the PulseAudio server")
        return "missing " + ", ".join(missing) + f" ({how})"
    return None


class Process:
    """One child process in a session of its own, stopped by its id."""

    def __init__(self, name, argv, log_path, env=None, cwd=None, stdout=None, pass_fds=()):
        self.name = name
        self.log_path = log_path
        self._log = open(log_path, "wb")
        # Should this runner be killed (a test time-out), its children go with it.
        guard = ["setpriv", "--pdeathsig", "TERM", "--"] if shutil.which("setpriv") else []
        self.popen = subprocess.Popen(
            guard + argv,
            env=env,
            cwd=cwd,
            stdin=subprocess.DEVNULL,
            stdout=stdout if stdout is not None else self._log,
            stderr=self._log,
            pass_fds=pass_fds,
            start_new_session=True,
        )
        self.pid = self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def wait(self, timeout):
        try:
            return self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self, grace=5.0):
        if self.running():
            try:
                os.kill(self.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            if self.wait(grace) is None:
                os.kill(self.pid, signal.SIGKILL)
                self.wait(grace)
        self._log.close()

    def log(self):
        try:
            with open(self.log_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""


class Recorder:
    """Records the null sink's monitor as mono 16-bit samples, from the moment it starts; the
    sink plays silence when nothing else sounds, so the samples keep time."""

    def __init__(self, desktop):
        self._start(Process(
            "parec",
            ["parec", "--device=e2e.monitor", "--raw", "--format=s16le",
             f"--rate={SAMPLE_RATE}", "--channels=1", "--latency-msec=10"],
            desktop.path("parec.log"),
            env=desktop.env(),
            stdout=subprocess.PIPE,
        ))

    def _start(self, proc):
        """Reads what the recording process writes to its standard output, until it ends."""
        self._lock = threading.Lock()
        self._data = bytearray()
        self.proc = proc
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()
        wait_for(lambda: self.sample_count() > SAMPLE_RATE // 10, 10, "audio from the recorder")

    def _read(self):
        fd = self.proc.popen.stdout.fileno()
        while True:
            chunk = os.read(fd, 8192)
            if not chunk:
                return
            with self._lock:
                self._data += chunk

    def sample_count(self):
        with self._lock:
            return len(self._data) // 2

    def samples(self):
        with self._lock:
            data = bytes(self._data[: len(self._data) // 2 * 2])
        out = array.array("h")
        out.frombytes(data)
        return out

    def stop(self):
        self.proc.stop()
        self._thread.join(5)
        self.proc.popen.stdout.close()


class Image:
    """An RGB screenshot."""

    def __init__(self, width, height, data):
        self.width = width
        self.height = height
        self.data = data

    @staticmethod
    def from_ppm(blob):
        fields = []
        pos = 0
        while len(fields) < 4:
            while blob[pos : pos + 1].isspace():
                pos += 1
            if blob[pos : pos + 1] == b"#":
                pos = blob.index(b"\n", pos) + 1
                continue
            end = pos
            while not blob[end : end + 1].isspace():
                end += 1
            fields.append(blob[pos:end])
            pos = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise E2EError("unexpected screenshot format")
        width, height = int(fields[1]), int(fields[2])
        data = blob[pos + 1 : pos + 1 + 3 * width * height]
        return Image(width, height, data)

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i : i + 3])

    def find(self, rect, match, step=1):
        """Points (x, y) inside rect = (left, top, width, height) whose colour matches."""
        left, top, w, h = rect
        found = []
        for y in range(top, top + h, step):
            row = 3 * y * self.width
            for x in range(left, left + w, step):
                i = row + 3 * x
                if match(self.data[i], self.data[i + 1], self.data[i + 2]):
                    found.append((x, y))
        return found

    def save_ppm(self, path):
        with open(path, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (self.width, self.height))
            f.write(self.data)


class _XClientMessage(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("window", ctypes.c_ulong),
        ("message_type", ctypes.c_ulong),
        ("format", ctypes.c_int),
        ("l", ctypes.c_long * 5),
    ]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessage), ("pad", ctypes.c_long * 24)]


def send_close_request(display, window):
    """What a window manager does when the user clicks the close box: WM_DELETE_WINDOW."""
    xlib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                ctypes.POINTER(_XEvent)]
    xlib.XFlush.argtypes = [ctypes.c_void_p]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    dpy = xlib.XOpenDisplay(display.encode())
    if not dpy:
        raise E2EError("cannot open display " + display)
    try:
        event = _XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = xlib.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.l[0] = xlib.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        event.xclient.l[1] = 0  # CurrentTime
        xlib.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
        xlib.XFlush(dpy)
    finally:
        xlib.XCloseDisplay(dpy)


class Desktop:
    """Xvfb and PulseAudio of our own, in a temporary folder that goes away afterwards."""

    def __init__(self):
        require_tools(*TOOLS)
        self.root = tempfile.mkdtemp(prefix="pv2-e2e-")
        # Where close() copies the logs and working files to, if anywhere.
        self.keep_to = None
        self.home = self.path("home")
        self.runtime = self.path("runtime")
        os.makedirs(self.home)
        os.makedirs(self.runtime, mode=0o700)
        # An empty ALSA configuration: the synthesizer cannot reach a sound card that may be
        # there and falls through to PulseAudio, ours.
        with open(self.path("alsa.conf"), "w"):
            pass
        self.display = None
        self.processes = []
        self.recorder = None
        try:
            self._start_x()
            self._start_audio()
        except BaseException:
            self.close()
            raise

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def env(self, **extra):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "LANG": "C.UTF-8",
            "PULSE_SERVER": "unix:" + os.path.join(self.runtime, "pulse-native"),
            "ALSA_CONFIG_PATH": self.path("alsa.conf"),
            "JACK_NO_START_SERVER": "1",
            "NO_AT_BRIDGE": "1",
            "QT_QPA_PLATFORM": "xcb",
        }
        if self.display:
            env["DISPLAY"] = self.display
        env.update(extra)
        return env

    def _start(self, name, argv, **kw):
        proc = Process(name, argv, self.path(name + ".log"), **kw)
        self.processes.append(proc)
        return proc

    def _start_x(self):
        read_end, write_end = os.pipe()
        try:
            # -displayfd: the server picks a free display number itself and reports it once
            # it accepts connections.
            self.xvfb = self._start(
                "xvfb",
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                 f"{SCREEN[0]}x{SCREEN[1]}x24", "-nolisten", "tcp", "-noreset"],
                env=self.env(),
                pass_fds=(write_end,),
            )
            os.close(write_end)
            write_end = None
            text = b""
            deadline = time.monotonic() + 20
            while not text.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not self.xvfb.running():
                    raise E2EError("Xvfb did not start:\n" + self.xvfb.log())
                ready, _, _ = select.select([read_end], [], [], left)
                if ready:
                    chunk = os.read(read_end, 64)
                    if not chunk:
                        raise E2EError("Xvfb did not start:\n" + self.xvfb.log())
                    text += chunk
            self.display = ":" + text.decode().strip()
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)

    def _start_audio(self):
        socket = os.path.join(self.runtime, "pulse-native")
        self.pulse = self._start(
            "pulseaudio",
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--system=no", "--disallow-module-loading=no", "--log-target=stderr",
             "-L", f"module-native-protocol-unix socket={socket} auth-anonymous=1",
             "-L", f"module-null-sink sink_name=e2e rate={SAMPLE_RATE} channels=2"],
            env=self.env(),
        )

        def ready():
            if not self.pulse.running():
                raise E2EError("PulseAudio stopped:\n" + self.pulse.log())
            r = subprocess.run(["pactl", "info"], env=self.env(), capture_output=True)
            return r.returncode == 0

        wait_for(ready, 20, "PulseAudio to accept clients", interval=0.1)

    def start_recorder(self):
        self.recorder = Recorder(self)
        return self.recorder

    def run(self, *argv, check=True):
        r = subprocess.run(list(argv), env=self.env(), capture_output=True, timeout=30)
        if check and r.returncode != 0:
            raise E2EError(f"{argv[0]} failed: {r.stderr.decode(errors='replace')}")
        return r.stdout.decode(errors="replace")

    def stream_rates(self):
        """The sample rate of each stream playing into the sink."""
        lines = self.run("pactl", "list", "short", "sink-inputs").splitlines()
        return [int(line.rsplit(" ", 1)[-1].removesuffix("Hz")) for line in lines if line]

    def xdotool(self, *args):
        return self.run("xdotool", *[str(a) for a in args])

    def screenshot(self, window):
        blob = subprocess.run(["import", "-window", str(window), "-depth", "8", "ppm:-"],
                              env=self.env(), capture_output=True, timeout=30, check=True).stdout
        return Image.from_ppm(blob)

    def close(self):
        if self.recorder:
            self.recorder.stop()
            self.recorder = None
        for proc in reversed(self.processes):
            proc.stop()
        self.processes = []
        if self.keep_to:
            self._keep(self.keep_to)
        shutil.rmtree(self.root, ignore_errors=True)

    def _keep(self, to):
        """Copies the logs, screenshots and working files (not sockets) for a look later."""
        shutil.rmtree(to, ignore_errors=True)
        for folder, _, files in os.walk(self.root):
            for name in files:
                src = os.path.join(folder, name)
                if os.path.isfile(src) and not os.path.islink(src):
                    dst = os.path.join(to, os.path.relpath(src, self.root))
                    os.makedirs(os.path.dirname(dst), exist_ok=True)
                    shutil.copyfile(src, dst)


class Window:
    def __init__(self, wid, name, x, y, width, height, dialog):
        self.id = wid
        self.name = name
        self.x, self.y, self.width, self.height = x, y, width, height
        self.dialog = dialog

    def __repr__(self):
        kind = "dialog" if self.dialog else "window"
        return f"<{kind} {self.id} {self.name!r} {self.width}x{self.height}+{self.x}+{self.y}>"


class Program:
    """The program under test, started in a working folder of its own."""

    def __init__(self, desktop, binary, menu_text=None, no_soundfont=False, workdir=None):
        self.desktop = desktop
        self.workdir = workdir or desktop.path("work")
        os.makedirs(self.workdir, exist_ok=True)
        if menu_text is not None:
            with open(self.menu_path(), "wb") as f:
                f.write(menu_text.encode("utf-8"))
        argv = [binary]
        if no_soundfont:
            # A mount namespace of its own where the SoundFont folder is empty: the program
            # searches its usual places and finds nothing, as on a machine without one.
            sf2 = "/usr/share/sounds/sf2"
            user = [] if os.geteuid() == 0 else ["--map-root-user"]
            argv = ["unshare", "--mount", *user, "--", "sh", "-c",
                    f'mount -t tmpfs e2e-empty {sf2} && exec "$0"', binary]
        self.proc = desktop._start("pulvano2", argv, env=desktop.env(), cwd=self.workdir)
        self.pid = self.proc.pid

    def menu_path(self):
        return os.path.join(self.workdir, "menu.txt")

    def running(self):
        return self.proc.running()

    def windows(self):
        """The program's mapped top-level windows."""
        if not self.running():
            raise E2EError("the program ended:\n" + self.proc.log())
        out = self.desktop.run("xdotool", "search", "--onlyvisible", "--pid", str(self.pid),
                               check=False)
        found = []
        for line in out.split():
            wid = int(line)
            try:
                geo = self.desktop.run("xdotool", "getwindowgeometry", "--shell", str(wid))
                name = self.desktop.run("xdotool", "getwindowname", str(wid)).rstrip("\n")
                kind = self.desktop.run("xprop", "-id", str(wid), "_NET_WM_WINDOW_TYPE")
            except E2EError:
                continue  # gone in the meantime
            g = dict(kv.split("=", 1) for kv in geo.split())
            found.append(Window(wid, name, int(g["X"]), int(g["Y"]), int(g["WIDTH"]),
                                int(g["HEIGHT"]), "_NET_WM_WINDOW_TYPE_DIALOG" in kind))
        return found

    def wait_window(self, name, timeout=20, dialog=None):
        def find():
            for w in self.windows():
                if w.name == name and (dialog is None or w.dialog == dialog):
                    return w
            return None

        kind = {None: "window", True: "dialog", False: "window"}[dialog]
        return wait_for(find, timeout, f"the {kind} {name!r}", interval=0.1)

    def focus(self, window):
        self.desktop.xdotool("windowfocus", "--sync", window.id)

    def keys(self, window, *keys):
        self.focus(window)
        for k in keys:
            self.desktop.xdotool("key", k)
            time.sleep(0.05)

    def type(self, window, text):
        self.focus(window)
        self.desktop.xdotool("type", "--delay", 20, text)

    def click(self, window, x, y):
        """A left click at (x, y) inside the window."""
        self.desktop.xdotool("mousemove", "--sync", window.x + x, window.y + y)
        self.desktop.xdotool("click", 1)

    def request_close(self, window):
        send_close_request(self.desktop.display, window.id)

    def wait_exit(self, timeout):
        return self.proc.wait(timeout)

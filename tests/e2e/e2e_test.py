"""End-to-end tests: the built program on a private X server and audio server, driven by real
key and mouse events, watched through screenshots and a recording of what it plays.

    python3 e2e_test.py --binary build/pulvano2 [TestCase.test_name ...]

PV2_E2E_KEEP=<folder> keeps the logs and the last screenshot of each test there."""

import argparse
import configparser
import glob
import os
import shutil
import signal
import statistics
import subprocess
import sys
import time
import unittest
import wave
import xml.etree.ElementTree as ElementTree

# The helpers beside this file, without leaving compiled copies in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import avsync  # noqa: E402
import ticks  # noqa: E402
from desktop import E2EError, Desktop, Program, wait_for, why_not_here  # noqa: E402

BINARY = None
BUILD_DIR = None
CPACK = "cpack"

# How far an interval between two ticks may be from the pattern's.
TOLERANCE_MS = 5.0

BEAT_COLOUR = (68, 102, 153)
UPBEAT_COLOUR = (0, 102, 255)
WHITE = (255, 255, 255)

# The failure message; the screen cannot be read back as text, so its width is checked.
MIDI_FAILURE = "MIDIデバイスオープンに失敗しました。サウンド機能は無効となります。"

MENU = (
    ";presets for the end-to-end tests\r\n"
    "Plain parm=(1111) m80 s1 a0 d0 g0 f0\r\n"
    "-\r\n"
    "Waltz parm=(2 1 1) m120 s1 a1 d1 g0 f0 memo=three in one\r\n"
)


def is_ball(r, g, b):
    # The shaded yellow-orange ball; neither background, the memo's white nor the guide line.
    return r >= 210 and g >= 100 and b <= 90


class Layout:
    """Where the main window's parts are, in pixels, from its client size (15 twips a pixel)."""

    def __init__(self, window):
        self.w = window.width
        self.h = window.height
        area_w = round((15 * self.w - 1860) / 15)
        area_h = round((15 * self.h - 2400) / 15)
        self.picture1 = (24, 72, area_w, area_h)
        self.picture2 = (24, 72 + area_h, area_w, 56)
        self.bgdisp = (24 + area_w - 24 + 6, 72 + 8 + 6)
        self.save_button = (self.w - 78 + 36, 320 + 8)

    def landing_centres(self, columns, positions):
        """Centres of the ball's landing spots, relative to the drawing area's left edge, for a
        pattern of the given number of character columns."""
        width = self.picture1[2] - 80
        step = round(width / (columns - 1))
        return [40 + step * p for p in positions]


def background(img, layout):
    """The drawing area's background: the colour of most of a few spots the ball never covers."""
    left, top, w, h = layout.picture1
    spots = [(left + 4, top + 4), (left + w // 4, top + 4), (left + 4, top + h // 3),
             (left + w - 40, top + 4), (left + w - 4, top + h // 3)]
    colours = [img.pixel(x, y) for x, y in spots]
    best = max(set(colours), key=colours.count)
    return best if colours.count(best) >= 3 else None


def find_ball(img, layout):
    """The ball's bounding box (left, top, right, bottom) in window pixels, or None."""
    points = img.find(layout.picture1, is_ball, step=2)
    if len(points) < 150:
        return None
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return (min(xs), min(ys), max(xs), max(ys))


def label_centres(img, layout):
    """Horizontal centres of the marks in the label strip, relative to the drawing area."""
    left, top, w, h = layout.picture2
    # The function-key buttons cover the lower part of the strip.
    dark = [False] * w
    for x, y in img.find((left, top, w, 30), lambda r, g, b: r + g + b < 200):
        dark[x - left] = True
    centres, start = [], None
    for x, d in enumerate(dark + [False]):
        if d and start is None:
            start = x
        elif not d and start is not None:
            centres.append((start + x - 1) / 2)
            start = None
    # Glyphs may fall apart into strokes; strokes closer than a few pixels are one mark.
    merged = []
    for c in centres:
        if merged and c - merged[-1][-1] < 12:
            merged[-1].append(c)
        else:
            merged.append([c])
    return [(m[0] + m[-1]) / 2 for m in merged]


def memo_pixels(img, layout):
    """White pixels in the upper part of the drawing area, where the memo is printed."""
    left, top, w, h = layout.picture1
    return len(img.find((left + 40, top, w - 80, h // 4), lambda r, g, b: (r, g, b) == WHITE))


class E2ETest(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop()
        self.program = None

    def tearDown(self):
        keep = os.environ.get("PV2_E2E_KEEP")
        if keep:
            self.desktop.keep_to = os.path.join(keep, self.id().split(".")[-1])
        result = self._outcome.result
        failed = any(t is self for t, _ in result.failures + result.errors)
        rec = self.desktop.recorder
        if failed and keep and rec is not None:
            with wave.open(self.desktop.path("recording.wav"), "wb") as w:
                w.setnchannels(1)
                w.setsampwidth(2)
                w.setframerate(ticks.RATE)
                w.writeframes(rec.samples().tobytes())
        if failed and keep and self.program is not None and self.program.running():
            try:
                for w in self.program.windows():
                    self.desktop.screenshot(w.id).save_ppm(self.desktop.path(f"end-{w.id}.ppm"))
            except (E2EError, subprocess.SubprocessError):
                pass
        self.desktop.close()
        if failed and self.program is not None:
            print("--- program output ---\n" + self.program.proc.log(), file=sys.stderr)

    def start(self, menu=MENU, no_soundfont=False, binary=None, workdir=None):
        self.program = Program(self.desktop, binary or BINARY, menu_text=menu,
                               no_soundfont=no_soundfont, workdir=workdir)
        return self.program

    def main_window(self, timeout=20):
        return self.program.wait_window("Pulvano2", timeout=timeout, dialog=False)

    def shot(self, window):
        img = self.desktop.screenshot(window.id)
        if os.environ.get("PV2_E2E_KEEP"):
            img.save_ppm(self.desktop.path("last-screenshot.ppm"))
        return img

    def wait_shot(self, window, condition, what, timeout=5):
        """The first screenshot that meets the condition."""
        return wait_for(lambda: (lambda img: img if condition(img) else None)(self.shot(window)),
                        timeout, what)

    @staticmethod
    def heard(rec, since):
        """The ticks recorded after sample `since`, at their places in the whole recording."""
        found = ticks.onsets(rec.samples()[since:])
        for o in found:
            o.sample += since
        return found

    def wait_onsets(self, rec, since, count, timeout, after=None):
        """Waits until `count` ticks were heard after sample `after` (by default `since`) and
        returns all heard since `since`. The analysis always starts at `since`, in silence, so
        that a tick cut in half is not taken for a new one."""
        after = since if after is None else after

        def enough():
            found = self.heard(rec, since)
            return found if sum(o.sample >= after for o in found) >= count else None

        try:
            return wait_for(enough, timeout, f"{count} ticks", interval=0.1)
        except E2EError:
            recorded = (rec.sample_count() - since) / ticks.RATE
            raise E2EError(f"expected {count} ticks within {timeout} s, heard "
                           + self.describe(self.heard(rec, since))
                           + f" in {recorded:.1f} s of recording; program output:\n"
                           + self.program.proc.log())

    def describe(self, found):
        rec = self.desktop.recorder
        return ticks.describe(found, rec.samples() if rec else None)

    def assert_cycle(self, found, cycle):
        phase, worst = ticks.match_cycle(ticks.intervals_ms(found), cycle)
        self.assertLessEqual(worst, TOLERANCE_MS, f"ticks off the pattern {cycle} by {worst:.1f} "
                             "ms; " + self.describe(found))
        return phase

    def assert_downbeats_differ(self, found, period, phase=None):
        """The downbeat ticks, every `period`-th from `phase` on, are another note than the
        others: each differs from each of the others in loudness by more than a factor 1.6.
        Without a phase the best fitting one is taken."""

        def gap(k):
            down = [o.peak for i, o in enumerate(found) if i % period == k]
            other = [o.peak for i, o in enumerate(found) if i % period != k]
            if not down or not other:
                return 0.0
            return min(ticks.loudness_ratio(a, b) for a in down for b in other)

        phases = [phase] if phase is not None else range(period)
        best = max(gap(k) for k in phases)
        self.assertGreater(best, 0.47, f"no distinct downbeat note every {period} ticks: "
                           + ", ".join(str(o.peak) for o in found))

    def watch_colours(self, window, layout, seconds):
        """Screenshots for a while: (background, ball box) of each."""
        seen = []
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            img = self.shot(window)
            seen.append((background(img, layout), find_ball(img, layout)))
            time.sleep(0.03)
        return seen

    def assert_upbeat_on_last_beat(self, seen):
        """With the upbeat box checked the background is the upbeat colour exactly while the
        ball flies back from the last landing spot to the first (leftwards)."""
        colours = {c for c, _ in seen}
        self.assertIn(UPBEAT_COLOUR, colours, f"colours seen: {colours}")
        self.assertIn(BEAT_COLOUR, colours, f"colours seen: {colours}")
        self.assertLessEqual(colours, {UPBEAT_COLOUR, BEAT_COLOUR})
        for (c0, b0), (c1, b1) in zip(seen, seen[1:]):
            if c0 != c1 or b0 is None or b1 is None:
                continue
            moved = b1[0] - b0[0]
            if c0 == UPBEAT_COLOUR:
                self.assertLessEqual(moved, 0, "ball moved right during the upbeat colour")
            else:
                self.assertGreaterEqual(moved, 0, "ball moved left during the beat colour")

    def test_startup_ticks_1111_at_80_and_stop_on_a_beat(self):
        rec = self.desktop.start_recorder()
        p = self.start()
        window = self.main_window()
        # The synthesizer is there: nothing to click away, now or a moment later.
        time.sleep(1.0)
        self.assertEqual([w.id for w in p.windows()], [window.id], p.windows())
        layout = Layout(window)

        img = self.shot(window)
        self.assertEqual(background(img, layout), BEAT_COLOUR)
        self.assertEqual(len(label_centres(img, layout)), 4)
        # Check the upbeat box with the mouse; it hands the focus back to START.
        p.click(window, *layout.bgdisp)
        time.sleep(0.2)

        since = rec.sample_count()
        p.keys(window, "s")
        found = self.wait_onsets(rec, since, 6, 10)
        self.assert_cycle(found, [750.0])
        # The sink's own rate, though the program would choose another: nothing to resample.
        self.assertEqual(self.desktop.stream_rates(), [ticks.RATE])

        seen = self.watch_colours(window, layout, 3.6)
        self.assertTrue(any(ball for _, ball in seen), "no ball in the drawing area")
        self.assert_upbeat_on_last_beat(seen)

        # Stop just after a tick: the metronome finishes the interval, ticks once more on the
        # beat and rests there.
        found = self.wait_onsets(rec, since, 1, 5, after=rec.sample_count())
        time.sleep(0.15)
        p.keys(window, "s")
        time.sleep(3.0)
        after = self.heard(rec, since)
        # The tick heard before the press was found in a recording that may have ended within
        # its first milliseconds, which can place its onset a few samples off: beyond 100 ms is
        # another tick.
        late = [o for o in after if o.sample > found[-1].sample + ticks.RATE // 10]
        self.assertEqual(len(late), 1, f"stop pressed after the tick at {found[-1].ms:.1f} ms; "
                         + self.describe(after))
        self.assert_cycle(after, [750.0])
        # Every fourth tick is the downbeat note.
        self.assert_downbeats_differ(after, 4)

        img = self.shot(window)
        ball = find_ball(img, layout)
        self.assertIsNotNone(ball, "no ball after stopping")
        left, top, w, h = layout.picture1
        centre = (ball[0] + ball[2]) / 2 - left
        spots = layout.landing_centres(4, [0, 1, 2, 3])
        self.assertTrue(any(abs(centre - s) <= 3 for s in spots),
                        f"ball at {centre}, spots {spots}")
        self.assertLessEqual(abs(ball[3] - (top + h - 1)), 2, f"ball {ball} not on the floor")

    def test_landing_and_tick_agree(self):
        """The ball comes to rest at a landing spot on screen when its tick is heard on the
        sink, within 10 ms; both moments on CLOCK_MONOTONIC, as PulseAudio keeps its time."""
        self.assertIn("CLOCK_MONOTONIC", time.get_clock_info("monotonic").implementation)
        rec = self.desktop.recorder = avsync.TimedRecorder(self.desktop)
        recording_since = time.monotonic()
        p = self.start()
        window = self.main_window()
        layout = Layout(window)
        settled = rec.wait_settled()
        # The control: a click a playback stream said would be heard at a moment. The recording
        # woke the suspended null sink, whose first block, 2 s long, is played out whatever the
        # streams ask; clicks inside it were heard 3 to 5 ms, once 364 ms, from their moment.
        time.sleep(max(0.0, recording_since + 2.1 - time.monotonic()))
        told = avsync.play_click(self.desktop)

        # The ball's lowest pixels at rest are in these rows; in flight it is higher.
        left, top, w, h = layout.picture1
        watcher = avsync.StripWatcher(self.desktop.display, window.id, left, top + h - 4, w, 4)
        try:
            since, since_frame = time.monotonic(), rec.sample_count()
            p.keys(window, "s")
            changes = watcher.watch(8.1)
            # At rest on the first spot from the start: only later arrivals are landings. The
            # first start after launch ends its first interval without a tick, so the first
            # landing has none to agree with.
            landed = [(t, s) for t, s in avsync.landings(
                watcher, changes, is_ball, layout.landing_centres(4, [0, 1, 2, 3]))
                if t > since + 0.375][1:]
        finally:
            watcher.close()
        time.sleep(0.3)
        self.assertGreaterEqual(len(landed), 8, f"{len(landed)} landings seen, at "
                                + ", ".join(f"{t - since:.3f} s" for t, _ in landed)
                                + f" after START, in {len(changes)} changes of the floor")

        heard_at, stray = rec.clock(settled)
        self.assertLessEqual(stray, 0.001, "the server's timing of the recording is unsteady")
        clicks = [heard_at(o.sample) for o in ticks.onsets(rec.samples()[:since_frame])]
        click_error = min((t - told for t in clicks), key=abs, default=1.0)
        self.assertLessEqual(abs(click_error), 0.003, f"click heard {1000 * click_error:+.1f} ms "
                             "from the moment the server foretold")

        heard = [heard_at(o.sample) for o in self.heard(rec, since_frame)]
        self.assertTrue(heard, "no ticks heard")
        pairs = [(t, s, min((h - t for h in heard), key=abs)) for t, s in landed]
        offsets = sorted(d for _, _, d in pairs)
        report = (f"heard - landed: median {1000 * statistics.median(offsets):+.1f} ms, from "
                  f"{1000 * offsets[0]:+.1f} to {1000 * offsets[-1]:+.1f} ms; "
                  + ", ".join(f"spot {s} at {t - since:.3f} s {1000 * d:+.1f}" for t, s, d in pairs)
                  + f" (control: click {1000 * click_error:+.2f} ms, timing notes within "
                  f"{1000 * stray:.2f} ms)")
        print(report, file=sys.stderr)
        self.assertLessEqual(abs(statistics.median(offsets)), 0.010, report)
        self.assertLessEqual(sum(abs(d) > 0.010 for d in offsets), 1, report)

    def test_preset_by_keyboard_then_close_while_running(self):
        rec = self.desktop.start_recorder()
        p = self.start()
        window = self.main_window()
        layout = Layout(window)
        # M to the list; Down picks "Plain", the separator, then "Waltz"; Enter back to START.
        p.keys(window, "m", "Down", "Down", "Down", "Return")
        img = self.wait_shot(window, lambda i: memo_pixels(i, layout) > 30, "the preset's memo")
        spots = layout.landing_centres(5, [0, 2, 4])
        labels = label_centres(img, layout)
        self.assertEqual(len(labels), 3, labels)
        for got, want in zip(labels, spots):
            self.assertLessEqual(abs(got - want), 4, f"labels {labels}, spots {spots}")

        since = rec.sample_count()
        p.keys(window, "s")
        found = self.wait_onsets(rec, since, 8, 10)
        phase = self.assert_cycle(found, [1000.0, 500.0, 500.0])
        # The tick before the long first beat of the bar is the downbeat note.
        self.assert_downbeats_differ(found, 3, (3 - phase) % 3)
        seen = self.watch_colours(window, layout, 2.6)
        self.assertIn(UPBEAT_COLOUR, {c for c, _ in seen})

        # Close just after the downbeat tick, a whole second before the next: the process ends
        # cleanly and nothing sounds after it.
        while True:
            found = self.wait_onsets(rec, since, 1, 5, after=rec.sample_count())
            if (phase + len(found) - 1) % 3 == 0:
                break
        time.sleep(0.1)
        p.request_close(window)
        self.assertEqual(p.wait_exit(10), 0, p.proc.log())
        self.assertEqual(p.proc.log().strip(), "", "the program complained")
        time.sleep(1.5)
        after = self.heard(rec, since)
        # The tick heard before the press was found in a recording that may have ended within
        # its first milliseconds, which can place its onset a few samples off: beyond 100 ms is
        # another tick.
        late = [o for o in after if o.sample > found[-1].sample + ticks.RATE // 10]
        self.assertEqual(late, [], f"closed after the tick at {found[-1].ms:.1f} ms; "
                         + self.describe(after))

    def test_practice_count_in_and_silent_bars(self):
        """A preset with a count-in bar and one silent bar after each played one, at 120: the
        count-in sounds the downbeat note on every count (the first interval after launch is
        silent), the pattern follows without a gap, and the silent bars hold nothing."""
        rec = self.desktop.start_recorder()
        p = self.start(menu=MENU + "Trainer parm=(1111) m120 s1 a0 d0 g0 f0 "
                       "practice=(count=1 play=1 mute=1) memo=inner time\r\n")
        window = self.main_window()
        p.keys(window, "m", "Down", "Down", "Down", "Down", "Return")
        since = rec.sample_count()
        p.keys(window, "s")
        # Counts on the ringing triangle rise less above its ring than other ticks do: half a
        # second on, the rings of the counts before are a quarter of a count's peak, and a new
        # count meeting them out of phase peaks at three quarters.
        found = wait_for(lambda: (lambda f: f if len(f) >= 14 else None)(
            ticks.onsets(rec.samples()[since:], rise=1.8)), 20, "14 ticks", interval=0.2)[:14]
        want = [500.0] * 6 + [2500.0] + [500.0] * 3 + [2500.0] + [500.0] * 2
        got = ticks.intervals_ms(found)
        worst = max(abs(g - w) for g, w in zip(got, want))
        # A count's first sample is found where it clearly tops the ring, which can be up to
        # 7 ms in when the two meet out of phase; a gap or an extra interval is 500 ms.
        self.assertLessEqual(worst, 2 * TOLERANCE_MS, f"intervals {[round(g, 1) for g in got]}, "
                             f"meant {want}; " + self.describe(found))
        # Count-in, then each played bar's first beat: the downbeat note; the rest the other.
        down = [found[i].peak for i in (0, 1, 2, 3, 7, 11)]
        other = [found[i].peak for i in (4, 5, 6, 8, 9, 10, 12, 13)]
        gap = min(ticks.loudness_ratio(a, b) for a in down for b in other)
        self.assertGreater(gap, 0.47, "downbeat notes " + ", ".join(map(str, down))
                           + "; others " + ", ".join(map(str, other)))

    def test_save_dialog_appends_the_line(self):
        p = self.start()
        window = self.main_window()
        layout = Layout(window)
        with open(p.menu_path(), "rb") as f:
            before = f.read()
        p.click(window, *layout.bgdisp)
        p.click(window, *layout.save_button)
        dialog = p.wait_window("Save", timeout=10)
        p.keys(dialog, "ctrl+a")
        p.type(dialog, "E2E title")
        p.keys(dialog, "Tab")
        p.type(dialog, "e2e memo")
        p.click(dialog, round(4200 / 15) + 44, round(3120 / 15) + 16)
        wait_for(lambda: all(w.name != "Save" for w in p.windows()), 10, "the dialog to close")
        expected = before + b"E2E title parm=(1111) m80 s1 a1 d0 g0 f0 memo=e2e memo\r\n"
        with open(p.menu_path(), "rb") as f:
            self.assertEqual(f.read(), expected)

        # The list was read again and has the focus: its new last entry applies the new preset
        # (the one before it, "Waltz", has three beats).
        p.keys(window, *["Down"] * 4)
        self.wait_shot(window, lambda i: memo_pixels(i, layout) > 30
                       and len(label_centres(i, layout)) == 4, "the saved preset applied")
        p.request_close(window)
        self.assertEqual(p.wait_exit(10), 0, p.proc.log())

    def test_no_soundfont_message_once_then_silent(self):
        if os.geteuid() != 0 and os.system("unshare --mount --map-root-user true 2>/dev/null"):
            self.skipTest("no mount namespace for an empty SoundFont folder")
        rec = self.desktop.start_recorder()
        p = self.start(no_soundfont=True)
        box = p.wait_window("Pulvano2", timeout=20)
        self.assertTrue(box.dialog, f"expected the failure message first, got {box}")
        self.assertEqual(len(p.windows()), 1)
        img = self.shot(box)
        # One line of text as wide as the message, and the OK button below it.
        rows = [y for y in range(img.height)
                if len(img.find((0, y, img.width, 1), lambda r, g, b: r + g + b < 150)) > 3]
        self.assertTrue(rows, "the message box is empty")
        text = img.find((0, rows[0], img.width, 20), lambda r, g, b: r + g + b < 150)
        width = max(x for x, _ in text) - min(x for x, _ in text)
        self.assertGreater(width, 12 * len(MIDI_FAILURE) * 0.6, "message text too short")
        p.keys(box, "Return")

        window = self.main_window()
        layout = Layout(window)
        time.sleep(1.5)
        self.assertEqual([w.id for w in p.windows()], [window.id], "a second message appeared")
        since = rec.sample_count()
        p.keys(window, "s")
        self.wait_shot(window, lambda i: find_ball(i, layout), "the ball to fly")
        time.sleep(2.5)
        self.assertEqual([w.id for w in p.windows()], [window.id], "a message appeared on start")
        self.assertEqual(self.heard(rec, since), [], "sound without a synthesizer")
        p.request_close(window)
        self.assertEqual(p.wait_exit(10), 0, p.proc.log())

    def test_package_desktop_entry_starts_the_program(self):
        if not BUILD_DIR:
            self.skipTest("no build folder to package")
        out = self.desktop.path("package")
        r = subprocess.run([CPACK, "-G", "DEB", "-B", out], cwd=BUILD_DIR, capture_output=True,
                           timeout=180)
        self.assertEqual(r.returncode, 0, (r.stdout + r.stderr).decode(errors="replace"))
        debs = glob.glob(os.path.join(out, "*.deb"))
        self.assertEqual(len(debs), 1, debs)
        depends = subprocess.run(["dpkg-deb", "-f", debs[0], "Depends"], capture_output=True,
                                 text=True, check=True).stdout
        for needed in ("libfluidsynth3", "libqt6widgets6", "timgm6mb-soundfont",
                       "fonts-ipafont-gothic"):
            self.assertIn(needed, depends)

        root = self.desktop.path("root")
        subprocess.run(["dpkg-deb", "-x", debs[0], root], check=True)
        entry_path = os.path.join(root, "usr/share/applications/pulvano2.desktop")
        if shutil.which("desktop-file-validate"):
            r = subprocess.run(["desktop-file-validate", entry_path], capture_output=True,
                               text=True)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(entry_path, encoding="utf-8")
        de = entry["Desktop Entry"]
        self.assertEqual((de["Type"], de["Name"]), ("Application", "Pulvano2"))
        icons = glob.glob(os.path.join(root, "usr/share/icons/hicolor/*/apps/" + de["Icon"] + ".*"))
        self.assertTrue(icons, "no icon named " + de["Icon"])
        for icon in icons:
            if icon.endswith(".svg"):
                self.assertTrue(ElementTree.parse(icon).getroot().tag.endswith("svg"))

        # As a launcher does: the command of the entry, found on the PATH, started in the home
        # folder, where the user has put the example presets.
        command = [a for a in de["Exec"].split() if not a.startswith("%")]
        binary = shutil.which(command[0], path=os.path.join(root, "usr/bin"))
        self.assertIsNotNone(binary, de["Exec"])
        with open(os.path.join(root, "usr/share/doc/pulvano2/examples/menu.txt"), "rb") as f:
            example = f.read().decode("utf-8")
        p = self.start(menu=example, binary=binary, workdir=self.desktop.home)
        window = self.main_window()
        layout = Layout(window)
        time.sleep(1.0)
        self.assertEqual([w.id for w in p.windows()], [window.id], p.windows())
        p.keys(window, "m", "Down", "Return")
        self.wait_shot(window, lambda i: memo_pixels(i, layout) > 30
                       and len(label_centres(i, layout)) == 4, "the first example preset applied")
        p.request_close(window)
        self.assertEqual(p.wait_exit(10), 0, p.proc.log())


def main():
    global BINARY, BUILD_DIR, CPACK
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary")
    parser.add_argument("--build-dir", help="the build folder, for the package")
    parser.add_argument("--cpack", default="cpack")
    parser.add_argument("--why-skipped", action="store_true",
                        help="only say why the tests would be skipped here, if they would")
    args, names = parser.parse_known_args()
    # On CI nothing may be skipped silently: what is missing there is a failure.
    ci = os.environ.get("CI") == "true"
    why_not = why_not_here(ci)
    if args.why_skipped:
        if why_not and not ci:
            print("The end-to-end tests were skipped: " + why_not + ".")
        return 0
    if why_not:
        print(("End-to-end tests cannot run on CI: " if ci else "Skipped: ") + why_not + ".")
        return 1 if ci else 77
    if not args.binary:
        parser.error("--binary is required")
    BINARY = os.path.abspath(args.binary)
    BUILD_DIR = args.build_dir and os.path.abspath(args.build_dir)
    CPACK = args.cpack
    # A time-out's SIGTERM ends the test through its tear-down, which stops what it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    loader = unittest.defaultTestLoader
    module = sys.modules[__name__]
    if names:
        suite = loader.loadTestsFromNames(names, module)
    else:
        suite = loader.loadTestsFromModule(module)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    # 77: CTest's "skipped", when nothing ran for lack of what the tests need.
    return 77 if result.skipped and len(result.skipped) == result.testsRun else 0


if __name__ == "__main__":
    sys.exit(main())

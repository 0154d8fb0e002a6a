// Measures the metronome as its user meets it: runs the real main window with the FluidSynth
// backend on a PulseAudio null sink of a server of its own, records the sink and finds every
// tick, and compares
//  - each tick with the grid the clock asked for, from the very first one (START is pressed
//    soon after the window opens, as a user does);
//  - the moment each landing frame of the ball reaches the window with the moment its tick
//    leaves the sink;
//  - the CPU and wake-ups of the program and of the sound server, playing and stopped, with
//    those of gtick, another metronome, playing the same tempo on the same server.
//
// The window runs in a child process (the same program with --app) that this one steers through
// its standard input and output, so that its CPU, memory and start-up are its own.

#include "audio/fluidsynth_midi_out.h"
#include "beat/beat_clock.h"
#include "beat/practice.h"
#include "platform/numeric.h"
#include "platform/text_file.h"
#include "platform/tick_counter.h"
#include "shell/frm_main.h"
#include "shell/picture_box.h"
#include "sound/tick_sound.h"
#include "support/recording_help_viewer.h"
#include "support/recording_message_boxes.h"
#include "tick_analysis.h"
#include "ui/sprite.h"

#include <pulse/pulseaudio.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pv2::bench {
namespace {

// A desktop's usual rate; the program follows the sink's.
constexpr double kRate = 48000.0;
const char *const kSink = "pv2bench";

struct Settings {
    QString pattern = QStringLiteral("1111");
    int tempo = 120;
    double seconds = 60;
    // START this long after the window first shows.
    double warmup = 1.5;
    // The stopped window is measured this long, after settling.
    double idle = 20;
    double settle = 5;
    double peerSeconds = 20;
    // Playing on, unrecorded, for the cost.
    double costSeconds = 20;
    bool load = false;
    bool peer = true;
    bool offscreen = false;
    // 0: the backend's own.
    int periodSize = 0;
    int delayMs = 0;
    QString outDir = QStringLiteral("bench-results");
    QString driver;   // empty: the backend's own order
    QString report;   // --app: where the window's side writes its findings
    QString practice; // a preset line's practice token, applied before START
};

// CPU time of each thread so far, in nanoseconds, by thread name. Read from each thread's own
// CPU clock: /proc's figures come in 10 ms ticks, too coarse for a thread that uses 0.2 %.
std::map<std::string, int64_t> threadCpuNs() {
    std::map<std::string, int64_t> out;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream in((tasks.filePath(tid) + QStringLiteral("/comm")).toStdString());
        std::string name;
        std::getline(in, name);
        // The kernel's clock id for a thread's scheduler time (CPUCLOCK_SCHED, per thread).
        const auto clock = static_cast<clockid_t>((~static_cast<clockid_t>(tid.toInt()) << 3) | 6);
        timespec ts{};
        if (name.empty() || clock_gettime(clock, &ts) != 0)
            continue;
        out[name] += int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
    }
    return out;
}

long statusKb(const char *field, const std::string &path = "/proc/self/status") {
    std::ifstream in(path);
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    return -1;
}

// ---- the window's side ----

// Passes everything on and notes each timed note-on with its due moment.
class LoggingMidiOut : public MidiOut {
public:
    explicit LoggingMidiOut(MidiOut &inner) : m_inner(inner) { ticks.reserve(100000); }
    int open() override { return m_inner.open(); }
    void shortMsg(uint32_t packed) override { m_inner.shortMsg(packed); }
    void shortMsgAt(uint32_t packed, uint32_t dueTick) override {
        const int64_t now = steadyClockNs();
        const int64_t nowMs = now / 1'000'000;
        const int64_t dueNs = (nowMs + tickDiff(dueTick, static_cast<uint32_t>(nowMs))) * 1'000'000;
        if ((packed & 0xF0) == 0x90 && ((packed >> 16) & 0xFF) != 0)
            ticks.push_back({packed, dueNs, now});
        m_inner.shortMsgAt(packed, dueTick);
    }
    void close() override { m_inner.close(); }
    void setTimerPeriod(int periodMs) override { m_inner.setTimerPeriod(periodMs); }
    int delayMs() const override { return m_inner.delayMs(); }
    int outputLatencyMs() const override { return m_inner.outputLatencyMs(); }
    void holdAwake(bool hold) override { m_inner.holdAwake(hold); }
    void setTickNotes(const std::vector<int> &notes) override { m_inner.setTickNotes(notes); }

    struct Sent {
        uint32_t packed;
        int64_t dueNs, sentNs;
    };
    std::vector<Sent> ticks;

private:
    MidiOut &m_inner;
};

void reply(const char *what, int64_t ns) {
    std::printf("@pv2 %s %lld\n", what, static_cast<long long>(ns));
    std::fflush(stdout);
}

class FirstPaint : public QObject {
public:
    int64_t ns = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && ns == 0) {
            ns = -1;
            // Stamped once this paint has been done.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    ns = steadyClockNs();
                    reply("shown", ns);
                },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }
};

// Notes the moment each landing of the ball reaches the window, from the picture itself: the ball
// at rest lies on the floor at one of the landing spots; in flight it is above the floor.
class LandingWatch {
public:
    explicit LandingWatch(frm_main &w) : m_w(w) { landings.reserve(100000); }

    void frameShown() {
        const int64_t now = steadyClockNs();
        const int x = restingAt();
        if (x >= 0 && x != m_last)
            landings.push_back({now, x});
        m_last = x;
    }

    struct Landing {
        int64_t ns;
        int x;
    };
    std::vector<Landing> landings;

private:
    int restingAt() {
        const QImage &img = m_w.Picture1->image();
        const EngineState &st = m_w.state();
        const int bw = st.ballWidth, bh = st.ballHeight;
        const int floor = img.height() - bh;
        if (floor < 0 || img.format() != QImage::Format_RGB32)
            return -1;
        const QRgb bg = m_w.Picture1->background().rgb();
        if (m_ref.isNull() || bg != m_refBackground || m_ref.size() != QSize(bw, bh)) {
            m_ref = QImage(bw, bh, QImage::Format_RGB32);
            m_ref.fill(bg);
            drawSprite(m_ref, makeBallSprite(bw), 0, 0, bw, bh);
            m_refBackground = bg;
        }
        const int spots = std::clamp<int>(std::max<int>(st.beatsPerBar, 2), 1, kMaxBeats);
        for (int i = 0; i < spots; ++i) {
            const int x = st.beats[static_cast<size_t>(i)].x;
            if (x < 0 || x + bw > img.width())
                continue;
            bool same = true;
            for (int row = 0; row < bh && same; ++row)
                same = std::memcmp(img.constScanLine(floor + row) + 4 * x, m_ref.constScanLine(row),
                                   4 * size_t(bw)) == 0;
            if (same)
                return x;
        }
        return -1;
    }

    frm_main &m_w;
    QImage m_ref;
    QRgb m_refBackground = 0;
    int m_last = -1;
};

int runApp(int argc, char **argv, const Settings &s) {
    preferPlainFrameTransfer();
    FluidSynthMidiOut::Options options;
    options.tickNotes = {TickSound::kOrdinaryNote, TickSound::kDownbeatNote};
    // The sink's rate for FluidSynth's own drivers too, which cannot learn it.
    options.sampleRate = kRate;
    if (s.periodSize > 0)
        options.periodSize = s.periodSize;
    if (!s.driver.isEmpty())
        options.audioDrivers = {s.driver.toStdString()};
    FluidSynthMidiOut fluid(options);
    if (s.delayMs > 0)
        fluid.setDelayMs(s.delayMs);
    // As the program does, before the toolkit starts: the window's open finds it ready.
    fluid.open();
    QApplication app(argc, argv);
    SteadyTickCounter counter;
    LoggingMidiOut midi(fluid);
    RecordingMessageBoxes boxes;
    RecordingHelpViewer help;
    RealFileAccess files;
    ClockRandom random;
    QTemporaryDir work;
    Services services{counter, midi, boxes, help, files, random, work.path(), [] {}};
    frm_main window(services);
    FirstPaint firstPaint;
    window.installEventFilter(&firstPaint);
    LandingWatch landings(window);
    window.Picture1->setShownHook([&] { landings.frameShown(); });
    window.show();

    int64_t wall0 = 0, wall1 = 0, stoppedNs = 0;
    std::map<std::string, int64_t> threads0, threads1;
    auto handle = [&](const std::string &command) {
        if (command == "start") {
            if (const auto p = parsePracticeToken(s.practice))
                window.run().setPractice(*p);
            window.Text1->setText(s.pattern);
            window.setSpeedText(QString::number(s.tempo));
            threads0 = threadCpuNs();
            wall0 = steadyClockNs();
            window.btn_start_Click();
            reply("started", wall0);
        } else if (command == "stop") {
            wall1 = steadyClockNs();
            threads1 = threadCpuNs();
            // A practice timer may have stopped it already.
            if (!window.state().isStopped)
                window.btn_start_Click();
            auto *poll = new QTimer(&window);
            QObject::connect(poll, &QTimer::timeout, &window, [&, poll] {
                if (window.beat_timer->isActive())
                    return;
                poll->stop();
                poll->deleteLater();
                stoppedNs = steadyClockNs();
                reply("stopped", stoppedNs);
            });
            poll->start(50);
        } else if (command == "idle") {
            window.btn_start->setFocus();
            reply("idle", steadyClockNs());
        } else if (command == "quit") {
            QCoreApplication::exit(0);
        }
    };
    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&commands, &QSocketNotifier::activated, &window, [&] {
        char buf[256];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            // The measuring side is gone.
            commands.setEnabled(false);
            QCoreApplication::exit(1);
            return;
        }
        pending.append(buf, static_cast<size_t>(n));
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            const std::string command = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            handle(command);
        }
    });
    const int rc = app.exec();

    std::ofstream out(s.report.toStdString());
    const auto st = fluid.stats();
    out << "first_paint_ns " << firstPaint.ns << '\n'
        << "started_ns " << wall0 << '\n'
        << "stopped_ns " << stoppedNs << '\n'
        << "peak_rss_kb " << statusKb("VmHWM") << '\n'
        << "anon_rss_kb " << statusKb("RssAnon") << '\n'
        << "audio_driver " << (fluid.audioDriver().empty() ? "-" : fluid.audioDriver()) << '\n'
        << "delay_ms " << fluid.delayMs() << '\n'
        << "period_frames " << options.periodSize << '\n'
        << "timer_ms " << window.settings().timerInterval << '\n'
        << "tempo_text " << window.cmb_speed->currentText().toStdString() << '\n'
        << "late " << st.lateMessages << '\n'
        << "stale " << st.staleNotes << '\n'
        << "placed " << st.ticksPlaced << '\n'
        << "rate_ppm " << st.deviceRatePpm << '\n'
        << "jumps " << st.streamJumps << '\n'
        << "underruns " << st.underruns << '\n'
        << "realtime " << (st.realtime ? "yes" : "no") << '\n'
        << "latency_ms " << st.outputLatencyMs << '\n'
        << "asleep " << (st.asleep ? 1 : 0) << '\n'
        << "sleeps " << st.sleeps << '\n'
        << "boxes " << boxes.texts.size() << '\n'
        << "platform " << QGuiApplication::platformName().toStdString() << '\n'
        << "frames " << window.Picture1->directFrames() << " copied, "
        << window.Picture1->paintedFrames() << " painted\n";
    out << "threads";
    const double seconds = double(wall1 - wall0) / 1e9;
    for (const auto &[name, ns] : threads1)
        out << ' ' << name << '=' << 100.0 * double(ns - threads0[name]) / 1e9 / seconds << '%';
    out << '\n';
    for (const auto &t : midi.ticks)
        out << "tick " << t.packed << ' ' << t.dueNs << ' ' << t.sentNs << '\n';
    for (const auto &l : landings.landings)
        out << "landing " << l.ns << ' ' << l.x << '\n';
    out << "first_spot " << window.state().beats[0].x << '\n';
    out << "beats_per_bar " << window.state().beatsPerBar << '\n';
    return rc;
}

// ---- the measuring side ----

// Records the sink's monitor and times its frames by the sound server's own timing information.
//
// Twenty times a second the server is asked for its timing figures; as each answer arrives they
// say how long ago the frame at the read position left the sink (pa_stream_get_latency on a
// record stream: the monitor's and the sink's buffering and the transport). A straight line
// through all these over the whole recording gives every frame's moment on the steady clock, and
// so every tick's. Only fresh figures count: between updates the library assumes the nominal
// rate, which a null sink does not keep, and the updates it makes by itself come 1.5 s apart. None
// of this passes through the program: its own mapping comes from its playback stream's requests and
// latency figures, taken at other moments on another stream, while this takes the sound as it came
// out of the sink and the server's account of when it did.
class Recorder {
public:
    // Fragments this long, not smaller: the monitor's latency bounds the sink's, so short
    // fragments would set how often the server wakes and show as the program's cost. The timing
    // comes from the server's figures, not from when the reads arrive, and needs no short ones.
    static constexpr int kFragmentMs = 100;
    static constexpr int kTimingMs = 50;

    bool start(const std::string &server, std::string &error) {
        samples.reserve(static_cast<size_t>(kRate * 2 * 400));
        m_loop = pa_threaded_mainloop_new();
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "pv2-bench");
        pa_context_set_state_callback(m_context, &Recorder::signal, this);
        if (pa_context_connect(m_context, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(m_loop) < 0) {
            error = pa_strerror(pa_context_errno(m_context));
            return false;
        }
        pa_threaded_mainloop_lock(m_loop);
        bool ok = waitReady(error);
        pa_threaded_mainloop_unlock(m_loop);
        return ok;
    }

    void stop() {
        if (!m_loop)
            return;
        pa_threaded_mainloop_lock(m_loop);
        if (m_timer) {
            pa_threaded_mainloop_get_api(m_loop)->time_free(m_timer);
            m_timer = nullptr;
        }
        if (m_stream) {
            pa_stream_disconnect(m_stream);
            pa_stream_unref(m_stream);
            m_stream = nullptr;
        }
        pa_context_disconnect(m_context);
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_stop(m_loop);
        pa_context_unref(m_context);
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
    }
    ~Recorder() { stop(); }

    std::vector<int16_t> samples; // interleaved stereo
    std::vector<TimedFrame> timed;
    std::vector<Read> reads; // when each read arrived, for comparison only

private:
    static void signal(pa_context *, void *self) {
        pa_threaded_mainloop_signal(static_cast<Recorder *>(self)->m_loop, 0);
    }
    static void streamSignal(pa_stream *, void *self) {
        pa_threaded_mainloop_signal(static_cast<Recorder *>(self)->m_loop, 0);
    }

    bool waitReady(std::string &error) {
        for (;;) {
            const pa_context_state_t st = pa_context_get_state(m_context);
            if (st == PA_CONTEXT_READY)
                break;
            if (!PA_CONTEXT_IS_GOOD(st)) {
                error = pa_strerror(pa_context_errno(m_context));
                return false;
            }
            pa_threaded_mainloop_wait(m_loop);
        }
        const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(kRate), 2};
        m_stream = pa_stream_new(m_context, "tick recording", &format, nullptr);
        pa_stream_set_state_callback(m_stream, &Recorder::streamSignal, this);
        pa_stream_set_read_callback(m_stream, &Recorder::onRead, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(kRate * kFragmentMs / 1000) * 4;
        const std::string device = std::string(kSink) + ".monitor";
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_record(m_stream, device.c_str(), &attr, flags) < 0) {
            error = pa_strerror(pa_context_errno(m_context));
            return false;
        }
        for (;;) {
            const pa_stream_state_t st = pa_stream_get_state(m_stream);
            if (st == PA_STREAM_READY) {
                m_timer = pa_context_rttime_new(m_context, pa_rtclock_now() + kTimingMs * 1000,
                                                &Recorder::askTiming, this);
                return true;
            }
            if (!PA_STREAM_IS_GOOD(st)) {
                error = pa_strerror(pa_context_errno(m_context));
                return false;
            }
            pa_threaded_mainloop_wait(m_loop);
        }
    }

    static void askTiming(pa_mainloop_api *, pa_time_event *event, const struct timeval *,
                          void *data) {
        auto *self = static_cast<Recorder *>(data);
        if (pa_operation *o =
                pa_stream_update_timing_info(self->m_stream, &Recorder::onTiming, self))
            pa_operation_unref(o);
        pa_context_rttime_restart(self->m_context, event, pa_rtclock_now() + kTimingMs * 1000);
    }

    static void onTiming(pa_stream *stream, int success, void *data) {
        auto *self = static_cast<Recorder *>(data);
        pa_usec_t latency = 0;
        int negative = 0;
        // Everything that arrived has been read, so the figure is for frame m_frames.
        if (!success || pa_stream_get_latency(stream, &latency, &negative) != 0)
            return;
        const int64_t now = steadyClockNs();
        const double ns = double(latency) * 1e3 * (negative ? -1 : 1);
        self->timed.push_back({double(self->m_frames), double(now) - ns});
    }

    static void onRead(pa_stream *stream, size_t, void *data) {
        auto *self = static_cast<Recorder *>(data);
        const int64_t now = steadyClockNs();
        while (pa_stream_readable_size(stream) > 0) {
            const void *bytes = nullptr;
            size_t n = 0;
            if (pa_stream_peek(stream, &bytes, &n) < 0 || n == 0)
                break;
            const size_t count = n / sizeof(int16_t);
            if (bytes) {
                const auto *p = static_cast<const int16_t *>(bytes);
                self->samples.insert(self->samples.end(), p, p + count);
            } else {
                self->samples.insert(self->samples.end(), count, 0); // a hole: silence
            }
            self->m_frames += static_cast<int64_t>(n / 4);
            pa_stream_drop(stream);
        }
        self->reads.push_back({now, self->m_frames});
    }

    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    pa_stream *m_stream = nullptr;
    pa_time_event *m_timer = nullptr;
    int64_t m_frames = 0;
};

// How many streams play on the server, not paused; -1 when it cannot tell.
int playingStreams(const std::string &server) {
    pa_threaded_mainloop *loop = pa_threaded_mainloop_new();
    pa_context *context = pa_context_new(pa_threaded_mainloop_get_api(loop), "pv2-bench-query");
    struct Query {
        pa_threaded_mainloop *loop;
        int count = 0;
        bool done = false;
    } q{loop};
    pa_context_set_state_callback(
        context,
        [](pa_context *, void *l) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(l), 0);
        },
        loop);
    int result = -1;
    if (pa_context_connect(context, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
        pa_threaded_mainloop_start(loop) >= 0) {
        pa_threaded_mainloop_lock(loop);
        while (PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) &&
               pa_context_get_state(context) != PA_CONTEXT_READY)
            pa_threaded_mainloop_wait(loop);
        if (pa_context_get_state(context) == PA_CONTEXT_READY) {
            pa_operation *o = pa_context_get_sink_input_info_list(
                context,
                [](pa_context *, const pa_sink_input_info *info, int eol, void *data) {
                    auto *q = static_cast<Query *>(data);
                    if (eol) {
                        q->done = true;
                        pa_threaded_mainloop_signal(q->loop, 0);
                    } else if (info && !info->corked) {
                        ++q->count;
                    }
                },
                &q);
            while (o && !q.done && pa_operation_get_state(o) == PA_OPERATION_RUNNING)
                pa_threaded_mainloop_wait(loop);
            if (o)
                pa_operation_unref(o);
            if (q.done)
                result = q.count;
        }
        pa_context_disconnect(context);
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
    }
    pa_context_unref(context);
    pa_threaded_mainloop_free(loop);
    return result;
}

// Children go when the bench goes, however it ends.
void tieToParent(QProcess &p) {
    p.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// A sound server of our own, so that nothing else plays into the recording and its cost is the
// program's doing. Like a desktop's, it suspends the sink when nothing plays (after 1 s rather
// than 5, to keep the runs short).
class SoundServer {
public:
    bool start(QString &error) {
        if (!m_dir.isValid()) {
            error = QStringLiteral("no temporary directory");
            return false;
        }
        const QString socket = m_dir.filePath(QStringLiteral("native"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path());
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("pulseaudio.log")));
        tieToParent(m_process);
        m_process.start(
            QStringLiteral("pulseaudio"),
            {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=false"),
             QStringLiteral("--disable-shm=false"), QStringLiteral("-L"),
             QStringLiteral("module-native-protocol-unix socket=%1 auth-anonymous=1").arg(socket),
             QStringLiteral("-L"),
             QStringLiteral("module-null-sink sink_name=%1 rate=%2 format=s16le channels=2")
                 .arg(QString::fromLatin1(kSink))
                 .arg(static_cast<int>(kRate)),
             QStringLiteral("-L"), QStringLiteral("module-suspend-on-idle timeout=1")});
        if (!m_process.waitForStarted(5000)) {
            error = QStringLiteral("pulseaudio did not start (scripts/install-deps installs it)");
            return false;
        }
        server = "unix:" + socket.toStdString();
        for (int i = 0; i < 100; ++i) {
            if (QFile::exists(socket))
                return true;
            if (m_process.state() == QProcess::NotRunning)
                break;
            QThread::msleep(50);
        }
        error = QStringLiteral("pulseaudio did not open its socket; see ") +
                m_dir.filePath(QStringLiteral("pulseaudio.log"));
        return false;
    }
    ~SoundServer() { finish(m_process); }
    qint64 pid() const { return m_process.processId(); }
    std::string server;

    static void finish(QProcess &p) {
        if (p.state() == QProcess::NotRunning)
            return;
        p.terminate();
        if (!p.waitForFinished(3000))
            p.kill();
        p.waitForFinished(1000);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

// An X server of our own for the window and for gtick.
class VirtualDisplay {
public:
    bool start() {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            return false;
        for (int n = 91; n < 140; ++n) {
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) || QFile::exists(socket))
                continue;
            m_process.setStandardOutputFile(QProcess::nullDevice());
            m_process.setStandardErrorFile(QProcess::nullDevice());
            tieToParent(m_process);
            m_process.start(QStringLiteral("Xvfb"),
                            {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"),
                             QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                             QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            if (!m_process.waitForStarted(5000))
                return false;
            for (int i = 0; i < 100 && m_process.state() == QProcess::Running; ++i) {
                if (QFile::exists(socket)) {
                    name = QStringLiteral(":%1").arg(n);
                    return true;
                }
                QThread::msleep(50);
            }
            // Another server took the number first.
            SoundServer::finish(m_process);
        }
        return false;
    }
    ~VirtualDisplay() { SoundServer::finish(m_process); }
    QString name;

private:
    QProcess m_process;
};

// CPU and context switches of a whole process so far. The CPU from the process's own CPU clock
// (to the nanosecond, every thread, those gone included); the switches summed over its threads.
struct CostSample {
    int64_t wallNs = 0;
    int64_t cpuNs = -1;
    int64_t switches = -1;
    // Of which the process was preempted, not asleep: no wake-up of an idle core.
    int64_t preempted = -1;
};

CostSample costNow(qint64 pid) {
    CostSample c;
    c.wallNs = steadyClockNs();
    clockid_t clock{};
    timespec ts{};
    if (pid > 0 && clock_getcpuclockid(static_cast<pid_t>(pid), &clock) == 0 &&
        clock_gettime(clock, &ts) == 0)
        c.cpuNs = int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const std::string status = tasks.filePath(tid + QStringLiteral("/status")).toStdString();
        const long v = statusKb("voluntary_ctxt_switches", status);
        const long nv = statusKb("nonvoluntary_ctxt_switches", status);
        if (v >= 0 && nv >= 0) {
            c.switches = std::max<int64_t>(c.switches, 0) + v + nv;
            c.preempted = std::max<int64_t>(c.preempted, 0) + nv;
        }
    }
    return c;
}

struct Cost {
    double cpuPercent = NAN;
    double switchesPerSecond = NAN;
    double preemptedPerSecond = NAN;
    bool valid() const { return !std::isnan(cpuPercent); }
    Cost operator+(const Cost &o) const {
        return {cpuPercent + o.cpuPercent, switchesPerSecond + o.switchesPerSecond,
                preemptedPerSecond + o.preemptedPerSecond};
    }
};

Cost costBetween(const CostSample &a, const CostSample &b) {
    Cost c;
    const double seconds = double(b.wallNs - a.wallNs) / 1e9;
    if (seconds <= 0 || a.cpuNs < 0 || b.cpuNs < 0)
        return c;
    c.cpuPercent = 100.0 * double(b.cpuNs - a.cpuNs) / 1e9 / seconds;
    if (a.switches >= 0 && b.switches >= 0) {
        c.switchesPerSecond = double(b.switches - a.switches) / seconds;
        c.preemptedPerSecond = double(b.preempted - a.preempted) / seconds;
    }
    return c;
}

// Cost of several processes over one window of time.
class CostWindow {
public:
    explicit CostWindow(std::vector<qint64> pids) : m_pids(std::move(pids)) {
        for (qint64 p : m_pids)
            m_start.push_back(costNow(p));
    }
    std::vector<Cost> end() const {
        std::vector<Cost> out;
        for (size_t i = 0; i < m_pids.size(); ++i)
            out.push_back(costBetween(m_start[i], costNow(m_pids[i])));
        return out;
    }

private:
    std::vector<qint64> m_pids;
    std::vector<CostSample> m_start;
};

// Processes that keep every core busy, at the same priority as the program.
class BusyLoad {
public:
    void start() {
        const long cores = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
        for (long i = 0; i < cores; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                // Never outlives the bench.
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                setpriority(PRIO_PROCESS, 0, 0);
                volatile uint64_t n = 0;
                for (;;)
                    n = n + 1;
            }
            if (pid > 0)
                m_pids.push_back(pid);
        }
    }
    void stop() {
        for (pid_t pid : m_pids) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        m_pids.clear();
    }
    ~BusyLoad() { stop(); }
    size_t count() const { return m_pids.size(); }

private:
    std::vector<pid_t> m_pids;
};

// gtick, another metronome, on the same server and display. It has no command line for its
// settings; its run-control file sets the tempo and the sound output, and its START button is
// clicked with xdotool.
class Peer {
public:
    // Empty when it plays; else why not.
    std::string play(const Settings &s, const std::string &server, const QString &display) {
        if (QStandardPaths::findExecutable(QStringLiteral("gtick")).isEmpty())
            return "gtick is not installed (Debian package gtick)";
        if (display.isEmpty())
            return "no X display for it (Xvfb is not installed, or --offscreen)";
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            return "xdotool is not installed; nothing can press gtick's Start";
        if (s.tempo < 30 || s.tempo > 250)
            return "gtick plays 30 to 250 BPM only";
        {
            // Its indicator blinking on the beat, as the program's ball lands on it.
            std::ofstream rc(m_home.filePath(QStringLiteral(".gtickrc")).toStdString());
            rc << "SampleFilename = <default>\nSoundDevice = <pulseaudio>\nSpeed = " << s.tempo
               << "\nVolume = 100\nMeter = 1\nVisualTick = 1\n";
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("PULSE_SERVER"), QString::fromStdString(server));
        env.insert(QStringLiteral("DISPLAY"), display);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_home.filePath(QStringLiteral("gtick.log")));
        tieToParent(m_process);
        m_process.start(QStringLiteral("gtick"), {});
        if (!m_process.waitForStarted(5000))
            return "gtick did not start";
        m_display = display;
        m_window = xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                            QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                            QStringLiteral("^GTick")})
                       .section(QLatin1Char('\n'), 0, 0);
        if (m_window.isEmpty())
            return "gtick's window did not show";
        QThread::msleep(500);
        clickStart();
        QThread::msleep(2000);
        // It opens its stream when it starts playing.
        if (playingStreams(server) < 1)
            return "gtick played nothing after its Start button was clicked";
        return {};
    }
    // Its Start button is Stop while it plays. False when it still plays.
    bool stop(const std::string &server) {
        clickStart();
        QThread::msleep(1000);
        return playingStreams(server) == 0;
    }
    qint64 pid() const { return m_process.processId(); }
    void clickStart() {
        // The button spans the window's middle, just above the status bar.
        const QString geometry =
            xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), m_window});
        int w = 426, h = 295;
        for (const QString &line : geometry.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("WIDTH=")))
                w = line.mid(6).toInt();
            if (line.startsWith(QLatin1String("HEIGHT=")))
                h = line.mid(7).toInt();
        }
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), m_window,
                 QString::number(w / 2), QString::number(h - 42), QStringLiteral("click"),
                 QStringLiteral("1")});
    }
    ~Peer() { SoundServer::finish(m_process); }

private:
    QString xdotool(const QStringList &args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), args);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished(1000);
            return {};
        }
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }

    QTemporaryDir m_home;
    QProcess m_process;
    QString m_display, m_window;
};

// The sound of each tick as the backend renders it, from the first frame of the tick.
std::vector<std::vector<float>> tickTemplates(std::string &soundFont) {
    std::vector<std::vector<float>> out;
    for (int note : {TickSound::kOrdinaryNote, TickSound::kDownbeatNote}) {
        int64_t now = 5'000'000'000;
        FluidSynthMidiOut::Options o;
        o.offline = true;
        o.sampleRate = kRate;
        o.clockNs = [&now] { return now; };
        o.tickNotes = {TickSound::kOrdinaryNote, TickSound::kDownbeatNote};
        FluidSynthMidiOut synth(o);
        if (synth.open() != 0)
            return {};
        soundFont = synth.soundFont();
        std::vector<float> l(512), r(512), mono;
        auto block = [&] {
            now = 5'000'000'000 + std::llround(double(mono.size()) / kRate * 1e9);
            synth.render(l.data(), r.data(), 512);
            for (int i = 0; i < 512; ++i)
                mono.push_back(0.5f * (l[i] + r[i]));
        };
        block();
        const uint32_t due = 5'100 - static_cast<uint32_t>(synth.delayMs());
        synth.shortMsgAt(packMidi(0x99, note, 127), due);
        synth.shortMsgAt(packMidi(0x89, note), due);
        // A second of it: the triangle rings that long, and each tick found is taken out of the
        // recording whole.
        const auto second = static_cast<size_t>(kRate);
        while (mono.size() < 512 + second / 10 + 512 + second)
            block();
        // From the note-on's frame, where the backend places a tick, not from the first sound
        // above some threshold: the side stick's attack rises 4 frames later than the
        // triangle's, and a threshold would shift one kind against the other by that much.
        const auto first = mono.begin() + std::llround(0.1 * kRate);
        if (std::any_of(mono.begin(), first, [](float x) { return std::fabs(x) > 1e-6f; }) ||
            mono.end() - first < std::ptrdiff_t(second))
            return {};
        out.emplace_back(first, first + std::ptrdiff_t(second));
    }
    return out;
}

struct Landed {
    int64_t ns;
    int x;
};

std::map<std::string, std::string> readReport(const QString &path, std::vector<Expected> &expected,
                                              std::vector<Landed> &landings) {
    std::map<std::string, std::string> values;
    std::ifstream in(path.toStdString());
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "tick") {
            uint32_t packed = 0;
            int64_t due = 0, sent = 0;
            fields >> packed >> due >> sent;
            const int kind = ((packed >> 8) & 0xFF) == TickSound::kDownbeatNote ? 1 : 0;
            expected.push_back({due, due + int64_t{BeatClock::kTickLead} * 1'000'000, kind});
        } else if (key == "landing") {
            Landed l{};
            fields >> l.ns >> l.x;
            landings.push_back(l);
        } else {
            std::string rest;
            std::getline(fields, rest);
            values[key] = rest.empty() ? rest : rest.substr(1);
        }
    }
    return values;
}

double median(std::vector<double> v) {
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

// Each tick heard against the landing frame of its beat.
struct PictureSound {
    int pairs = 0;
    double medianMs = NAN;    // heard - landed
    double spreadMs = NAN;    // the widest max - min over 20 beats in a row
    double landedMs = NAN;    // landed - beat, median
    double heardBeatMs = NAN; // heard - beat, median
};

PictureSound pictureAgainstSound(const Report &rep, const std::vector<Expected> &expectedIn,
                                 const std::vector<Landed> &landings, int firstSpot,
                                 const CaptureClock &clock) {
    PictureSound out;
    std::vector<Expected> expected = expectedIn;
    std::sort(expected.begin(), expected.end(),
              [](const Expected &a, const Expected &b) { return a.dueNs < b.dueNs; });
    double shortest = 1e12;
    for (size_t i = 1; i < expected.size(); ++i)
        shortest = std::min(shortest, double(expected[i].beatNs - expected[i - 1].beatNs));
    auto nearest = [&](double ns, bool firstSpotOnly) {
        const Landed *best = nullptr;
        for (const Landed &l : landings)
            if ((!firstSpotOnly || l.x == firstSpot) &&
                (!best || std::fabs(double(l.ns) - ns) < std::fabs(double(best->ns) - ns)))
                best = &l;
        return best;
    };
    // How long after its beat a landing shows: the bar's first beat lands on the first spot, a
    // bar apart, so a picture delayed by more than half a beat still meets its own beat.
    std::vector<double> lags;
    for (const TickResult &t : rep.ticks) {
        const Expected &e = expected[static_cast<size_t>(t.index)];
        if (e.kind == 1 && firstSpot >= 0)
            if (const Landed *l = nearest(double(e.beatNs), true))
                lags.push_back(double(l->ns - e.beatNs));
    }
    const double lag = lags.empty() ? 0 : median(lags);
    const double tolerance = 0.45 * shortest;
    std::vector<double> diffs, landed, heard;
    for (const TickResult &t : rep.ticks) {
        const double beat = double(expected[static_cast<size_t>(t.index)].beatNs);
        const Landed *best = nearest(beat + lag, false);
        if (best && std::fabs(double(best->ns) - beat - lag) >= tolerance)
            best = nullptr;
        if (!best)
            continue;
        const double heardNs = clock.timeOf(t.frame);
        diffs.push_back((heardNs - double(best->ns)) / 1e6);
        landed.push_back((double(best->ns) - beat) / 1e6);
        heard.push_back((heardNs - beat) / 1e6);
    }
    out.pairs = static_cast<int>(diffs.size());
    out.medianMs = median(diffs);
    out.landedMs = median(landed);
    out.heardBeatMs = median(heard);
    const size_t span = std::min<size_t>(20, diffs.size());
    for (size_t i = 0; span > 0 && i + span <= diffs.size(); ++i) {
        const auto [lo, hi] =
            std::minmax_element(diffs.begin() + static_cast<std::ptrdiff_t>(i),
                                diffs.begin() + static_cast<std::ptrdiff_t>(i + span));
        out.spreadMs = std::isnan(out.spreadMs) ? *hi - *lo : std::max(out.spreadMs, *hi - *lo);
    }
    return out;
}

// Reads the window's replies until the one wanted; passes anything else through.
bool waitFor(QProcess &app, const char *word, int64_t &ns, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        while (app.canReadLine()) {
            const QByteArray line = app.readLine().trimmed();
            const QList<QByteArray> f = line.split(' ');
            if (f.size() >= 3 && f[0] == "@pv2" && f[1] == word) {
                ns = f[2].toLongLong();
                return true;
            }
            if (!line.startsWith("@pv2"))
                std::printf("%s\n", line.constData());
        }
        if (app.state() == QProcess::NotRunning)
            return false;
        app.waitForReadyRead(100);
    }
    return false;
}

void sleepSeconds(double s) {
    QThread::usleep(static_cast<unsigned long>(std::max(0.0, s) * 1e6));
}

const char *verdict(bool ok) {
    return ok ? "ok" : "MISSED";
}

std::string costCells(const Cost &c) {
    char buf[80];
    if (!c.valid())
        return "         -           -            -";
    std::snprintf(buf, sizeof buf, "%10.3f  %10.1f   %10.1f", c.cpuPercent, c.switchesPerSecond,
                  c.preemptedPerSecond);
    return buf;
}

// The practice settings checked in the recording against what they mean, from the ticks heard
// alone: beat j counts from the first bar line after START (the lead-in's landing), each heard
// tick is put on its beat by its moment, and then
//  - a count-in bar sounds every beat with the downbeat note, played bars their notes, silent
//    bars nothing (the first beat may be silent: the first interval after launch is);
//  - the beats lie on one straight grid through count-in, silent bars and played bars alike
//    (without a ladder), or the interval changes only where a bar begins (with one);
//  - with a timer, the last tick is a bar line, at or after the timer's minutes.
void practiceFigures(const PracticeSettings &p, const std::vector<Onset> &onsets,
                     const CaptureClock &clock, double startNs, double beatMs, int beatsPerBar,
                     double heardAfterBeatMs, double recordedUntilNs) {
    struct Heard {
        long j;
        double ms;
        int kind;
    };
    std::vector<Heard> heard;
    const double firstBarNs = startNs + beatMs * 1e6 + heardAfterBeatMs * 1e6;
    // Each tick is as many beats after the one before as the last interval heard says, so that
    // a ladder's tempo is followed.
    double interval = beatMs;
    for (const Onset &o : onsets) {
        const double ms = (clock.timeOf(o.frame) - firstBarNs) / 1e6;
        if (heard.empty()) {
            heard.push_back({std::lround(ms / beatMs), ms, o.kind});
            continue;
        }
        const long beats = std::max(1L, std::lround((ms - heard.back().ms) / interval));
        if (beats == 1)
            interval = ms - heard.back().ms;
        heard.push_back({heard.back().j + beats, ms, o.kind});
    }
    if (heard.empty()) {
        std::printf("  practice: no ticks heard  FAIL\n");
        return;
    }
    // What each beat should sound: -1 nothing, 0 the ordinary note, 1 the downbeat's.
    auto meant = [&](long j) {
        const long bar = j / beatsPerBar, beat = j % beatsPerBar;
        if (bar < p.countInBars)
            return 1;
        const long played = bar - p.countInBars;
        if (p.mute == PracticeSettings::Mute::Bars && played > 0 &&
            played % (p.playBars + p.muteBars) >= p.playBars)
            return -1;
        return beat == 0 && beatsPerBar > 1 ? 1 : 0;
    };
    int wrong = 0, missing = 0, silentHeard = 0;
    const long lastJ = heard.back().j;
    for (const Heard &h : heard) {
        if (h.j < 0 || meant(h.j) < 0)
            ++silentHeard;
        else if (meant(h.j) != h.kind)
            ++wrong;
    }
    for (long j = 1; j <= lastJ; ++j) {
        const bool found =
            std::any_of(heard.begin(), heard.end(), [&](const Heard &h) { return h.j == j; });
        if (!found && meant(j) >= 0 && p.mute != PracticeSettings::Mute::Chance)
            ++missing;
    }
    std::printf("  practice %s: %zu ticks heard over %ld beats; wrong note %d, missing %d, "
                "heard in a silent bar or before the first bar %d  %s\n",
                qPrintable(practiceToken(p)), heard.size(), lastJ + 1, wrong, missing, silentHeard,
                verdict(wrong == 0 && missing == 0 && silentHeard == 0));
    if (p.ladderStep == 0) {
        // One line through every heard tick: a gap or an extra interval anywhere puts the ticks
        // after it off the line.
        double sj = 0, sm = 0, sjj = 0, sjm = 0;
        for (const Heard &h : heard) {
            sj += double(h.j);
            sm += h.ms;
            sjj += double(h.j) * double(h.j);
            sjm += double(h.j) * h.ms;
        }
        const double n = double(heard.size());
        const double slope = n > 1 ? (n * sjm - sj * sm) / (n * sjj - sj * sj) : beatMs;
        const double origin = (sm - slope * sj) / n;
        double worst = 0;
        for (const Heard &h : heard)
            worst = std::max(worst, std::fabs(h.ms - (origin + slope * double(h.j))));
        std::printf("    one grid through count-in, played and silent bars: beat %.4f ms (%.4f "
                    "meant), worst tick off it %.4f ms  %s  (<= 1 ms: no gap, no extra interval; "
                    "the figures above hold its precision)\n",
                    slope, beatMs, worst,
                    verdict(worst <= 1.0 && std::fabs(slope - beatMs) < 0.01));
    } else {
        int offBarLine = 0, changes = 0;
        for (size_t i = 2; i < heard.size(); ++i) {
            if (heard[i].j != heard[i - 1].j + 1 || heard[i - 1].j != heard[i - 2].j + 1)
                continue;
            const double a = heard[i - 1].ms - heard[i - 2].ms;
            const double b = heard[i].ms - heard[i - 1].ms;
            if (std::fabs(a - b) > 0.5) {
                ++changes;
                offBarLine += heard[i - 1].j % beatsPerBar != 0;
            }
        }
        const double lastInterval = heard.size() > 1 ? heard.back().ms - heard.end()[-2].ms : 0;
        std::printf("    ladder: %d tempo changes, %d of them off a bar line  %s; last tempo "
                    "%.2f BPM (target %d)\n",
                    changes, offBarLine, verdict(changes > 0 && offBarLine == 0),
                    lastInterval > 0 ? 60000.0 / lastInterval : 0.0, p.ladderTarget);
    }
    if (p.timerMinutes > 0) {
        const double endMs = (clock.timeOf(onsets.back().frame) - startNs) / 1e6 - heardAfterBeatMs;
        const double beyond = endMs - p.timerMinutes * 60000.0;
        const bool recordedPast = recordedUntilNs > startNs + (endMs + 2000) * 1e6;
        std::printf("    timer: the last tick %.3f s after START, %+.0f ms from %d min, on a bar "
                    "line: %s  %s  (on a bar line, within one bar after)\n",
                    endMs / 1000, beyond, p.timerMinutes, lastJ % beatsPerBar == 0 ? "yes" : "no",
                    verdict(recordedPast && lastJ % beatsPerBar == 0 && beyond >= -1 &&
                            beyond <= beatMs * beatsPerBar));
    }
}

int runBench(const Settings &s, const QString &self) {
    QDir().mkpath(s.outDir);
    QString name = s.pattern;
    name.replace(QLatin1Char(' '), QLatin1Char('_'));
    name = QStringLiteral("ticks_%1_at_%2%3")
               .arg(name)
               .arg(s.tempo)
               .arg(s.load ? QStringLiteral("_load") : QString());
    const QString base = QDir(s.outDir).filePath(name);

    SoundServer pulse;
    QString error;
    if (!pulse.start(error)) {
        std::fprintf(stderr, "tick_timing: %s\n", qPrintable(error));
        return 2;
    }
    VirtualDisplay display;
    if (!s.offscreen)
        display.start();
    Recorder recorder;
    std::string recError;
    if (!recorder.start(pulse.server, recError)) {
        std::fprintf(stderr, "tick_timing: cannot record the sink: %s\n", recError.c_str());
        return 2;
    }
    // The recording woke the suspended sink, which renders its longest block (2 s on a null
    // sink) before any stream's latency applies and does not rewind it: a stream the program
    // opened meanwhile would not be read until that block ends.
    sleepSeconds(2.1);
    std::printf(
        "tick_timing: pattern \"%s\", tempo %d, %.0f s recorded from START, pressed %.1f s after "
        "the window showed%s; window on %s\n",
        qPrintable(s.pattern), s.tempo, s.seconds, s.warmup,
        s.load ? ", every core kept busy meanwhile" : "",
        display.name.isEmpty() ? "the offscreen platform"
                               : qPrintable(QStringLiteral("Xvfb ") + display.name));
    std::fflush(stdout);

    const qint64 serverPid = pulse.pid();
    BusyLoad load;
    if (s.load)
        load.start();

    QTemporaryDir tmp;
    const QString reportPath = tmp.filePath(QStringLiteral("report.txt"));
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SERVER"), QString::fromStdString(pulse.server));
    if (display.name.isEmpty()) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    } else {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display.name);
    }
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tieToParent(app);
    const QStringList args = {QStringLiteral("--app"),
                              QStringLiteral("--report"),
                              reportPath,
                              QStringLiteral("--pattern"),
                              s.pattern,
                              QStringLiteral("--tempo"),
                              QString::number(s.tempo),
                              QStringLiteral("--period-size"),
                              QString::number(s.periodSize),
                              QStringLiteral("--delay"),
                              QString::number(s.delayMs),
                              QStringLiteral("--driver"),
                              s.driver.isEmpty() ? QStringLiteral("-") : s.driver,
                              QStringLiteral("--practice"),
                              s.practice.isEmpty() ? QStringLiteral("-") : s.practice};
    const int64_t spawnNs = steadyClockNs();
    app.start(self, args);
    auto fail = [&](const char *what) {
        std::fprintf(stderr, "tick_timing: the window's process %s\n", what);
        app.kill();
        app.waitForFinished(2000);
        return 1;
    };
    auto send = [&](const char *command) {
        app.write(command);
        app.write("\n");
        app.waitForBytesWritten(1000);
    };
    int64_t shownNs = 0, startedNs = 0, stoppedNs = 0, ignored = 0;
    if (!waitFor(app, "shown", shownNs, 30000))
        return fail("showed no window");
    sleepSeconds(s.warmup - double(steadyClockNs() - shownNs) / 1e9);
    const qint64 appPid = app.processId();

    send("start");
    if (!waitFor(app, "started", startedNs, 10000))
        return fail("did not start");
    CostWindow recordedWindow({appPid, serverPid});
    sleepSeconds(s.seconds);
    const std::vector<Cost> recorded = recordedWindow.end();
    // The recording costs the server a wake-up for every block the sink renders, so the cost
    // goes on being measured, playing on, without it.
    recorder.stop();
    const int64_t recordingEndNs = steadyClockNs();
    sleepSeconds(0.5);
    CostWindow runningWindow({appPid, serverPid});
    sleepSeconds(s.costSeconds);
    const std::vector<Cost> running = runningWindow.end();
    send("stop");
    if (!waitFor(app, "stopped", stoppedNs, 10000))
        return fail("did not stop");
    load.stop();

    send("idle");
    if (!waitFor(app, "idle", ignored, 10000))
        return fail("did not answer");
    sleepSeconds(s.settle);
    CostWindow stoppedWindow({appPid, serverPid});
    sleepSeconds(s.idle);
    const std::vector<Cost> stopped = stoppedWindow.end();
    send("quit");
    if (!app.waitForFinished(10000) || app.exitCode() != 0)
        return fail("failed");

    // gtick once the program is gone, so that the server's figures are gtick's doing alone.
    auto peer = std::make_unique<Peer>();
    std::string peerSkipped = s.peer ? std::string() : "--no-peer";
    std::string peerNote;
    std::vector<Cost> peerRunning, peerStopped;
    if (s.peer) {
        peerSkipped = peer->play(s, pulse.server, display.name);
        if (peerSkipped.empty()) {
            CostWindow w({peer->pid(), serverPid});
            sleepSeconds(s.peerSeconds);
            peerRunning = w.end();
            if (!peer->stop(pulse.server))
                peerNote = " (gtick still played after its Stop button was clicked)";
        }
    }
    if (peerSkipped.empty()) {
        sleepSeconds(s.settle);
        CostWindow w({peer->pid(), serverPid});
        sleepSeconds(std::min(s.idle, 10.0));
        peerStopped = w.end();
    }
    peer.reset();

    std::vector<Expected> expected;
    std::vector<Landed> landings;
    const auto values = readReport(reportPath, expected, landings);
    // Only the ticks the recording holds whole.
    const int64_t lastBeatNs = recordingEndNs - 500'000'000;
    expected.erase(std::remove_if(expected.begin(), expected.end(),
                                  [&](const Expected &e) { return e.beatNs > lastBeatNs; }),
                   expected.end());
    auto value = [&](const char *key) {
        const auto it = values.find(key);
        return it == values.end() ? std::string("?") : it->second;
    };
    auto number = [&](const char *key) {
        const std::string v = value(key);
        return v == "?" ? NAN : std::strtod(v.c_str(), nullptr);
    };

    std::string soundFont;
    const auto templates = tickTemplates(soundFont);
    const size_t frames = recorder.samples.size() / 2;
    std::vector<float> mono(frames);
    for (size_t i = 0; i < mono.size(); ++i)
        mono[i] = 0.5f * (recorder.samples[2 * i] + recorder.samples[2 * i + 1]) / 32768.0f;
    // From just after START: the server's figures before the program's stream settles the
    // sink's latency place the frames differently.
    std::vector<TimedFrame> timed;
    for (const TimedFrame &p : recorder.timed)
        if (p.timeNs >= double(startedNs) + 0.3e9)
            timed.push_back(p);
    const ClockFit fit = fitTimedFrames(timed, kRate);
    const CaptureClock &clock = fit.clock;
    std::vector<Onset> onsets = findOnsets(mono, templates);
    Report rep = analyse(expected, onsets, clock, kRate);
    // The ticks of the beats left out are in the recording too: once the delay is known, they go.
    // From the last beat kept, not the cut: the next beat may lie before the cut too.
    int64_t shortestNs = 1'000'000'000, lastKeptNs = expected.empty() ? 0 : expected[0].beatNs;
    for (size_t i = 1; i < expected.size(); ++i) {
        shortestNs = std::min(shortestNs, expected[i].beatNs - expected[i - 1].beatNs);
        lastKeptNs = std::max(lastKeptNs, expected[i].beatNs);
    }
    const double lastHeardNs =
        double(lastKeptNs) + rep.offsetMeanMs * 1e6 + 0.5 * double(shortestNs);
    onsets.erase(
        std::remove_if(onsets.begin(), onsets.end(),
                       [&](const Onset &o) { return clock.timeOf(o.frame) > lastHeardNs; }),
        onsets.end());
    rep = analyse(expected, onsets, clock, kRate);
    const double firstSpot = number("first_spot");
    const PictureSound ps = pictureAgainstSound(
        rep, expected, landings, std::isnan(firstSpot) ? -1 : static_cast<int>(firstSpot), clock);
    // What timing by the reads' arrival, as before, would have said at the middle.
    const CaptureClock byArrival = fitCaptureClock(recorder.reads, kRate);
    const double arrivalMs = (byArrival.timeOf(frames / 2.0) - clock.timeOf(frames / 2.0)) / 1e6;

    int gridErrors = 0;
    for (size_t i = 1; i < expected.size(); ++i)
        if ((expected[i].dueNs - expected[i - 1].dueNs) % 1'000'000 != 0)
            ++gridErrors;
    double firstTenWorst = 0;
    for (size_t i = 0; i < std::min<size_t>(10, rep.ticks.size()); ++i)
        firstTenWorst = std::max(firstTenWorst, std::fabs(rep.ticks[i].deviationMs));

    const double firstPaintMs = (double(shownNs) - double(spawnNs)) / 1e6;
    const double peakMb = number("peak_rss_kb") / 1024.0;
    const double anonMb = number("anon_rss_kb") / 1024.0;
    const bool allThere = rep.found == rep.expected && rep.extra == 0 && rep.wrongKind == 0;
    const double late = number("late"), underruns = number("underruns");

    std::printf("  audio: %s via %s, period %s frames, delay %s ms, timer %s ms; window on %s, "
                "frames %s\n",
                soundFont.c_str(), value("audio_driver").c_str(), value("period_frames").c_str(),
                value("delay_ms").c_str(), value("timer_ms").c_str(), value("platform").c_str(),
                value("frames").c_str());
    std::printf("  reference: the server's timing for the recording, %d points (%d left out), "
                "%.3f ms about the line; sink %+.1f ppm against the steady clock; timing by the "
                "reads' arrival would put ticks %+.2f ms later\n",
                fit.used, fit.dropped, fit.residualSdNs / 1e6, rep.deviceRatePpm, arrivalMs);
    std::printf("  ticks found / expected:      %d / %d  (missing %d, extra %d, wrong note %d)  "
                "%s\n",
                rep.found, rep.expected, rep.missing, rep.extra, rep.wrongKind,
                verdict(allThere && rep.expected > 0));
    std::printf("  mean interval error:         %+.2f ppm  %s  (<= 100 ppm; in sink frames "
                "%+.1f ppm)\n",
                rep.meanIntervalPpm, verdict(std::fabs(rep.meanIntervalPpm) <= 100),
                rep.meanIntervalPpmFrames);
    std::printf("  interval SD, from the first: %.4f ms  %s  (<= 0.05 ms)\n", rep.intervalSdMs,
                verdict(rep.intervalSdMs <= 0.05));
    std::printf("  worst deviation from grid:   %.4f ms  %s  (<= 0.1 ms; first ten ticks %.4f "
                "ms)\n",
                rep.worstDeviationMs, verdict(rep.worstDeviationMs <= 0.1), firstTenWorst);
    std::printf("  drift, first to last ten:    %+.4f ms\n", rep.driftMs);
    std::printf("  tick heard after its beat:   %.2f ms (sd %.3f ms)\n", rep.offsetMeanMs,
                rep.offsetSdMs);
    std::printf("  tick heard - ball landed:    median %+.2f ms  %s  (|.| <= 5 ms); spread over "
                "20 beats %.2f ms  %s  (<= 8 ms); %d of %d landings paired; landing frame %+.2f "
                "ms and tick %+.2f ms from the beat\n",
                ps.medianMs, verdict(std::fabs(ps.medianMs) <= 5), ps.spreadMs,
                verdict(ps.spreadMs <= 8), ps.pairs, rep.found, ps.landedMs, ps.heardBeatMs);
    std::printf("  backend: output latency %s ms by its own account; late ticks %s  %s (%s left "
                "out), underruns %s  %s (0 and 0%s); asleep when stopped %s, sleeps %s\n",
                value("latency_ms").c_str(), value("late").c_str(), verdict(late == 0),
                value("stale").c_str(), value("underruns").c_str(), verdict(underruns == 0),
                s.load ? ", under load" : "", value("asleep").c_str(), value("sleeps").c_str());
    std::printf("  ticks placed %s, device rate by the backend %s ppm, stream stalls followed "
                "%s, clock grid errors %d, message boxes %s, output thread real-time %s\n",
                value("placed").c_str(), value("rate_ppm").c_str(), value("jumps").c_str(),
                gridErrors, value("boxes").c_str(), value("realtime").c_str());

    std::printf("  cost                              CPU %% core   switches/s  preempted/s   "
                "target\n");
    auto row = [](const char *what, const Cost &c, const std::string &target) {
        std::printf("    %-30s %s   %s\n", what, costCells(c).c_str(), target.c_str());
    };
    auto okCost = [](const Cost &c, double cpu, double perSecond) {
        return std::string(
            verdict(c.valid() && c.cpuPercent <= cpu && c.switchesPerSecond <= perSecond));
    };
    row("program, playing, recorded", recorded[0], "");
    row("server, playing, recorded", recorded[1], "(recording the sink costs it too)");
    row("program, playing", running[0], "");
    row("server, program playing", running[1], "<= 1 %, <= 200/s  " + okCost(running[1], 1, 200));
    row("program, stopped", stopped[0], "");
    row("server, program stopped", stopped[1], "");
    const Cost both = stopped[0] + stopped[1];
    row("program + server, stopped", both, "<= 0.05 %, <= 1/s  " + okCost(both, 0.05, 1));
    if (peerSkipped.empty()) {
        row("gtick, playing", peerRunning[0], "");
        row("server, gtick playing", peerRunning[1], "");
        row("gtick, stopped", peerStopped[0], peerNote);
        row("server, gtick stopped", peerStopped[1], "");
        row("gtick + server, stopped", peerStopped[0] + peerStopped[1], "");
    } else {
        std::printf("    gtick: skipped: %s\n", peerSkipped.c_str());
    }
    std::printf("  CPU by thread, playing:     %s\n", value("threads").c_str());
    std::printf("  peak RSS:                    %.1f MB  %s  (<= 40 MB)\n", peakMb,
                verdict(peakMb <= 40));
    std::printf("  anonymous RSS, stopped:      %.1f MB  %s  (<= 10 MB)\n", anonMb,
                verdict(anonMb <= 10));
    std::printf("  first painted frame:         %.0f ms after start  %s  (<= 400 ms)\n",
                firstPaintMs, verdict(firstPaintMs <= 400));

    if (const auto p = parsePracticeToken(s.practice)) {
        const double bars = number("beats_per_bar");
        const int beatsPerBar = std::isnan(bars) ? 1 : std::max(1, static_cast<int>(bars));
        practiceFigures(*p, onsets, clock, double(startedNs), 60000.0 / s.tempo, beatsPerBar,
                        rep.offsetMeanMs, double(recordingEndNs));
    }

    writeCsv(rep, (base + QStringLiteral(".csv")).toStdString());
    const std::string title = "pattern \"" + s.pattern.toStdString() + "\" at " +
                              std::to_string(s.tempo) + ": deviation of each tick (ms)";
    writePlot(rep, title, (base + QStringLiteral(".png")).toStdString(), 0.1);
    std::printf("  wrote %s.csv and %s.png\n", qPrintable(base), qPrintable(base));
    return 0;
}

} // namespace
} // namespace pv2::bench

namespace {

void usage() {
    std::printf(
        "usage: tick_timing [--pattern TEXT] [--tempo BPM] [--seconds S] [--warmup S]\n"
        "                   [--cost-seconds S] [--idle S] [--settle S] [--peer-seconds S]\n"
        "                   [--load] [--no-peer]\n"
        "                   [--offscreen] [--period-size FRAMES] [--delay MS] [--driver NAME]\n"
        "                   [--practice TOKEN] [--out DIR]\n"
        "Runs the metronome on a PulseAudio null sink of its own, presses START --warmup\n"
        "seconds (1.5) after the window shows, records the sink and reports the timing of\n"
        "every tick against the grid and against the landing frames of the ball, and the\n"
        "CPU and wake-ups of the program and the sound server playing and stopped (for\n"
        "--idle seconds, after --settle), beside gtick's when it is installed. The cost while\n"
        "playing is measured for --cost-seconds after the recording ends. --load keeps every\n"
        "core busy while it plays. --practice \"practice=(count=1 play=2 mute=1)\" plays with\n"
        "those practice settings and checks the recording against what they mean.\n");
}

} // namespace

int main(int argc, char **argv) {
    using namespace pv2::bench;
    Settings s;
    bool app = false;
    // Parsed by hand: the window's process must not pay for a second application object.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--app" || arg == "--load" || arg == "--no-peer" || arg == "--offscreen") {
            app = app || arg == "--app";
            s.load = s.load || arg == "--load";
            s.peer = s.peer && arg != "--no-peer";
            s.offscreen = s.offscreen || arg == "--offscreen";
            continue;
        }
        const bool hasValue = i + 1 < argc;
        const QString v = hasValue ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        if (arg == "--help" || arg == "-h" || !hasValue) {
            usage();
            return arg == "--help" || arg == "-h" ? 0 : 2;
        }
        ++i;
        if (arg == "--pattern")
            s.pattern = v;
        else if (arg == "--tempo")
            s.tempo = v.toInt();
        else if (arg == "--seconds")
            s.seconds = v.toDouble();
        else if (arg == "--warmup")
            s.warmup = v.toDouble();
        else if (arg == "--idle")
            s.idle = v.toDouble();
        else if (arg == "--settle")
            s.settle = v.toDouble();
        else if (arg == "--cost-seconds")
            s.costSeconds = v.toDouble();
        else if (arg == "--peer-seconds")
            s.peerSeconds = v.toDouble();
        else if (arg == "--period-size")
            s.periodSize = v.toInt();
        else if (arg == "--delay")
            s.delayMs = v.toInt();
        else if (arg == "--driver")
            s.driver = v == QLatin1String("-") ? QString() : v;
        else if (arg == "--out")
            s.outDir = v;
        else if (arg == "--report")
            s.report = v;
        else if (arg == "--practice")
            s.practice = v == QLatin1String("-") ? QString() : v;
        else {
            usage();
            return 2;
        }
    }
    if (app)
        return runApp(argc, argv, s);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication gui(argc, argv);
    return runBench(s, QCoreApplication::applicationFilePath());
}

// Measures the metronome at its audio output: runs the real main window with the FluidSynth
// backend on a PulseAudio null sink, records the sink, finds every tick and compares it with the
// grid the clock asked for. Also CPU use, peak memory and the time to the first painted frame.
//
// The window runs in a child process (the same program with --app), so that its CPU, memory and
// start-up are its own; this process runs the sound server and the recorder.

#include "beat/beat_clock.h"
#include "platform/fluidsynth_midi_out.h"
#include "platform/help_viewer.h"
#include "platform/message_boxes.h"
#include "platform/numeric.h"
#include "platform/text_file.h"
#include "platform/tick_counter.h"
#include "shell/frm_main.h"
#include "shell/picture_box.h"
#include "tick_analysis.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace pv2::bench {
namespace {

constexpr double kRate = 44100.0;
const char *const kSink = "pv2bench";

struct Settings {
    QString pattern = QStringLiteral("1111");
    int tempo = 120;
    double seconds = 60;
    double warmup = 10;
    int periodSize = FluidSynthMidiOut::Options{}.periodSize;
    int delayMs = FluidSynthMidiOut::kDefaultDelayMs;
    QString outDir = QStringLiteral("bench-results");
    QString driver; // empty: the backend's own order
    QString report; // --app: where the window's side writes its findings
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

int64_t processCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

long statusKb(const char *field) {
    std::ifstream in("/proc/self/status");
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

    struct Sent {
        uint32_t packed;
        int64_t dueNs, sentNs;
    };
    std::vector<Sent> ticks;

private:
    MidiOut &m_inner;
};

class FirstPaint : public QObject {
public:
    int64_t ns = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && ns == 0) {
            ns = -1;
            // Stamped once this paint has been done.
            QMetaObject::invokeMethod(
                this, [this] { ns = steadyClockNs(); }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }
};

int runApp(int argc, char **argv, const Settings &s) {
    QApplication app(argc, argv);
    SteadyTickCounter counter;
    FluidSynthMidiOut::Options options;
    options.periodSize = s.periodSize;
    if (!s.driver.isEmpty())
        options.audioDrivers = {s.driver.toStdString()};
    FluidSynthMidiOut fluid(options);
    fluid.setDelayMs(s.delayMs);
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
    window.show();

    int64_t cpu0 = 0, wall0 = 0, cpu1 = 0, wall1 = 0;
    std::map<std::string, int64_t> threads0, threads1;
    QTimer::singleShot(static_cast<int>(s.warmup * 1000), &window, [&] {
        window.Text1->setText(s.pattern);
        window.setSpeedText(QString::number(s.tempo));
        threads0 = threadCpuNs();
        cpu0 = processCpuNs();
        wall0 = steadyClockNs();
        window.btn_start_Click();
        QTimer::singleShot(static_cast<int>(s.seconds * 1000), &window, [&] {
            cpu1 = processCpuNs();
            wall1 = steadyClockNs();
            threads1 = threadCpuNs();
            window.btn_start_Click();
            auto *poll = new QTimer(&window);
            QObject::connect(poll, &QTimer::timeout, &window, [&, poll] {
                if (window.beat_timer->isActive())
                    return;
                poll->stop();
                // The last tick and its tail reach the recording.
                QTimer::singleShot(1500, &app, [] { QCoreApplication::exit(0); });
            });
            poll->start(50);
        });
    });
    app.exec();

    std::ofstream out(s.report.toStdString());
    const auto st = fluid.stats();
    out << "first_paint_ns " << firstPaint.ns << '\n'
        << "cpu_percent "
        << 100.0 * double(cpu1 - cpu0) / double(std::max<int64_t>(1, wall1 - wall0)) << '\n'
        << "peak_rss_kb " << statusKb("VmHWM") << '\n'
        << "audio_driver " << (fluid.audioDriver().empty() ? "-" : fluid.audioDriver()) << '\n'
        << "delay_ms " << fluid.delayMs() << '\n'
        << "timer_ms " << window.settings().timerInterval << '\n'
        << "tempo_text " << window.cmb_speed->currentText().toStdString() << '\n'
        << "late " << st.lateMessages << '\n'
        << "placed " << st.ticksPlaced << '\n'
        << "rate_ppm " << st.deviceRatePpm << '\n'
        << "jumps " << st.streamJumps << '\n'
        << "boxes " << boxes.texts.size() << '\n'
        << "frames " << window.Picture1->directFrames() << " copied, "
        << window.Picture1->paintedFrames() << " painted\n";
    out << "threads";
    const double seconds = double(wall1 - wall0) / 1e9;
    for (const auto &[name, ns] : threads1)
        out << ' ' << name << '=' << 100.0 * double(ns - threads0[name]) / 1e9 / seconds << '%';
    out << '\n';
    for (const auto &t : midi.ticks)
        out << "tick " << t.packed << ' ' << t.dueNs << ' ' << t.sentNs << '\n';
    return 0;
}

// ---- the measuring side ----

class Recorder {
public:
    static constexpr int kFragment = 2048;

    bool start(const std::string &server, std::string &error) {
        const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(kRate), 2};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        // Reads of the backend's own block size. Small fragments make the server wake on a
        // finer grid that beats against the playing stream's blocks, which then reach the
        // backend's callbacks as a sawtooth of several milliseconds.
        attr.fragsize = kFragment * 4;
        int err = 0;
        const std::string device = std::string(kSink) + ".monitor";
        m_pa = pa_simple_new(server.c_str(), "pv2-bench", PA_STREAM_RECORD, device.c_str(),
                             "tick recording", &format, nullptr, &attr, &err);
        if (!m_pa) {
            error = pa_strerror(err);
            return false;
        }
        samples.reserve(static_cast<size_t>(kRate * 2 * 200));
        m_thread = std::thread([this] { loop(); });
        return true;
    }
    void stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_pa)
            pa_simple_free(m_pa);
        m_pa = nullptr;
    }

    std::vector<int16_t> samples; // interleaved stereo
    std::vector<Read> reads;

private:
    void loop() {
        std::vector<int16_t> buf(kFragment * 2);
        int64_t frames = 0;
        while (!m_stop) {
            int err = 0;
            if (pa_simple_read(m_pa, buf.data(), buf.size() * sizeof(int16_t), &err) < 0)
                break;
            const int64_t now = steadyClockNs();
            frames += kFragment;
            samples.insert(samples.end(), buf.begin(), buf.end());
            reads.push_back({now, frames});
        }
    }

    pa_simple *m_pa = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

// A sound server of our own, so that nothing else plays into the recording.
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
        m_process.start(
            QStringLiteral("pulseaudio"),
            {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=false"),
             QStringLiteral("--disable-shm=false"), QStringLiteral("-L"),
             QStringLiteral("module-native-protocol-unix socket=%1 auth-anonymous=1").arg(socket),
             QStringLiteral("-L"),
             QStringLiteral("module-null-sink sink_name=%1 rate=%2 format=s16le channels=2")
                 .arg(QString::fromLatin1(kSink))
                 .arg(static_cast<int>(kRate))});
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
    ~SoundServer() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(1000);
        }
    }
    std::string server;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

// The sound of each tick as the backend renders it, from the first frame of the tick.
std::vector<std::vector<float>> tickTemplates(std::string &soundFont) {
    std::vector<std::vector<float>> out;
    for (uint32_t note : {37u, 81u}) {
        int64_t now = 5'000'000'000;
        FluidSynthMidiOut::Options o;
        o.offline = true;
        o.sampleRate = kRate;
        o.clockNs = [&now] { return now; };
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
        // The first block's end is rendered at 5 s: due + delay = 5.1 s is frame 512 + 4410.
        const uint32_t due = 5'100 - static_cast<uint32_t>(synth.delayMs());
        synth.shortMsgAt(packMidi(0x99, note, 127), due);
        synth.shortMsgAt(packMidi(0x89, note), due);
        while (mono.size() < 512 + 4410 + 4096)
            block();
        out.emplace_back(mono.begin() + 512 + 4410, mono.end());
    }
    return out;
}

std::map<std::string, std::string> readReport(const QString &path,
                                              std::vector<Expected> &expected) {
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
            const int kind = ((packed >> 8) & 0xFF) == 81 ? 1 : 0;
            expected.push_back({due, due + int64_t{BeatClock::kTickLead} * 1'000'000, kind});
        } else {
            std::string rest;
            std::getline(fields, rest);
            values[key] = rest.empty() ? rest : rest.substr(1);
        }
    }
    return values;
}

int runBench(const Settings &s, const QString &self) {
    QDir().mkpath(s.outDir);
    QString name = s.pattern;
    name.replace(QLatin1Char(' '), QLatin1Char('_'));
    name = QStringLiteral("ticks_%1_at_%2").arg(name).arg(s.tempo);
    const QString base = QDir(s.outDir).filePath(name);

    SoundServer pulse;
    QString error;
    if (!pulse.start(error)) {
        std::fprintf(stderr, "tick_timing: %s\n", qPrintable(error));
        return 2;
    }
    Recorder recorder;
    std::string recError;
    if (!recorder.start(pulse.server, recError)) {
        std::fprintf(stderr, "tick_timing: cannot record the sink: %s\n", recError.c_str());
        return 2;
    }

    QTemporaryDir tmp;
    const QString reportPath = tmp.filePath(QStringLiteral("report.txt"));
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SERVER"), QString::fromStdString(pulse.server));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    const QStringList args = {QStringLiteral("--app"),
                              QStringLiteral("--report"),
                              reportPath,
                              QStringLiteral("--pattern"),
                              s.pattern,
                              QStringLiteral("--tempo"),
                              QString::number(s.tempo),
                              QStringLiteral("--seconds"),
                              QString::number(s.seconds),
                              QStringLiteral("--warmup"),
                              QString::number(s.warmup),
                              QStringLiteral("--period-size"),
                              QString::number(s.periodSize),
                              QStringLiteral("--delay"),
                              QString::number(s.delayMs),
                              QStringLiteral("--driver"),
                              s.driver.isEmpty() ? QStringLiteral("-") : s.driver};
    std::printf("tick_timing: pattern \"%s\", tempo %d, %.0f s after %.0f s of warm-up\n",
                qPrintable(s.pattern), s.tempo, s.seconds, s.warmup);
    std::fflush(stdout);
    const int64_t spawnNs = steadyClockNs();
    app.start(self, args);
    const int budgetMs = static_cast<int>((s.warmup + s.seconds + 60) * 1000);
    if (!app.waitForFinished(budgetMs) || app.exitCode() != 0) {
        app.kill();
        recorder.stop();
        std::fprintf(stderr, "tick_timing: the window's process failed\n");
        return 1;
    }
    recorder.stop();

    std::vector<Expected> expected;
    const auto values = readReport(reportPath, expected);
    auto value = [&](const char *key) {
        const auto it = values.find(key);
        return it == values.end() ? std::string("?") : it->second;
    };

    std::string soundFont;
    const auto templates = tickTemplates(soundFont);
    std::vector<float> mono(recorder.samples.size() / 2);
    for (size_t i = 0; i < mono.size(); ++i)
        mono[i] = 0.5f * (recorder.samples[2 * i] + recorder.samples[2 * i + 1]) / 32768.0f;
    const CaptureClock clock = fitCaptureClock(recorder.reads, kRate);
    const auto onsets = findOnsets(mono, templates);
    const Report rep = analyse(expected, onsets, clock, kRate);

    // The grid the clock itself asked for: beats a whole number of milliseconds apart.
    int gridErrors = 0;
    for (size_t i = 1; i < expected.size(); ++i)
        if ((expected[i].dueNs - expected[i - 1].dueNs) % 1'000'000 != 0)
            ++gridErrors;

    const double firstPaintMs =
        (std::stod(value("first_paint_ns")) - static_cast<double>(spawnNs)) / 1e6;
    const double cpu = std::stod(value("cpu_percent"));
    const double rssMb = std::stod(value("peak_rss_kb")) / 1024.0;
    auto verdict = [](bool ok) { return ok ? "ok" : "MISSED"; };
    const bool allThere = rep.found == rep.expected && rep.extra == 0 && rep.wrongKind == 0;

    std::printf("  audio: %s via %s, period %d frames, delay %s ms, timer %s ms\n",
                soundFont.c_str(), value("audio_driver").c_str(), s.periodSize,
                value("delay_ms").c_str(), value("timer_ms").c_str());
    std::printf("  ticks found / expected:      %d / %d  (missing %d, extra %d, wrong note %d) "
                "%s\n",
                rep.found, rep.expected, rep.missing, rep.extra, rep.wrongKind,
                verdict(allThere && rep.expected > 0));
    std::printf("  mean interval error:         %+.2f ppm  %s   (device clock %+.1f ppm against "
                "the steady clock; in device frames %+.1f ppm)\n",
                rep.meanIntervalPpm, verdict(std::fabs(rep.meanIntervalPpm) <= 100),
                rep.deviceRatePpm, rep.meanIntervalPpmFrames);
    std::printf("  interval standard deviation: %.4f ms  %s\n", rep.intervalSdMs,
                verdict(rep.intervalSdMs <= 0.05));
    std::printf("  worst deviation from grid:   %.4f ms  %s\n", rep.worstDeviationMs,
                verdict(rep.worstDeviationMs <= 0.1));
    std::printf("  drift, first to last ten:    %+.4f ms\n", rep.driftMs);
    std::printf("  tick heard after its beat:   %.2f ms (sd %.3f ms; the capture clock is good to "
                "a few ms)\n",
                rep.offsetMeanMs, rep.offsetSdMs);
    std::printf("  tick loudness vs rendering:  %.3f .. %.3f\n", rep.gainMin, rep.gainMax);
    std::printf("  late messages %s, ticks placed %s, device rate by the backend %s ppm, "
                "stream stalls followed %s, clock grid errors %d, message boxes %s\n",
                value("late").c_str(), value("placed").c_str(), value("rate_ppm").c_str(),
                value("jumps").c_str(), gridErrors, value("boxes").c_str());
    std::printf("  CPU while running:           %.2f %% of one core  %s\n", cpu,
                verdict(cpu <= 1.0));
    std::printf("  CPU by thread:              %s\n", value("threads").c_str());
    std::printf("  frames of the ball:          %s\n", value("frames").c_str());
    std::printf("  peak RSS:                    %.1f MB  %s\n", rssMb, verdict(rssMb <= 60));
    std::printf("  first painted frame:         %.0f ms after start  %s\n", firstPaintMs,
                verdict(firstPaintMs <= 400));

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
        "                   [--period-size FRAMES] [--delay MS] [--driver NAME] [--out DIR]\n"
        "Runs the metronome on a PulseAudio null sink, records it and reports the\n"
        "timing of every tick, CPU use, peak memory and the time to the first frame.\n");
}

} // namespace

int main(int argc, char **argv) {
    using namespace pv2::bench;
    Settings s;
    bool app = false;
    // Parsed by hand: the window's process must not pay for a second application object.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        const QString v = hasValue ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        if (arg == "--app") {
            app = true;
            continue;
        }
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

#include "audio/fluidsynth_midi_out.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

namespace pv2 {
namespace {

constexpr double kRate = 44100.0;
// The reverb keeps a tiny offset against denormals: anything below -100 dB is silence.
constexpr float kSilence = 1e-5f;
constexpr size_t kSettle = static_cast<size_t>(0.3 * kRate);

FluidSynthMidiOut::Options offline() {
    FluidSynthMidiOut::Options o;
    o.offline = true;
    o.sampleRate = kRate;
    o.tickNotes = {37, 81};
    return o;
}

// Filled with garbage first, so that a render that writes nothing shows.
std::vector<float> renderMono(FluidSynthMidiOut &synth, double seconds) {
    const int frames = static_cast<int>(seconds * kRate);
    std::vector<float> left(frames, 1.0f), right(frames, 1.0f);
    synth.render(left.data(), right.data(), frames);
    for (int i = 0; i < frames; ++i)
        left[i] += right[i];
    return left;
}

float peak(const std::vector<float> &s, size_t from = 0, size_t to = SIZE_MAX) {
    float p = 0;
    for (size_t i = from; i < std::min(to, s.size()); ++i)
        p = std::max(p, std::fabs(s[i]));
    return p;
}

size_t firstSound(const std::vector<float> &s, size_t from = 0) {
    for (size_t i = from; i < s.size(); ++i)
        if (std::fabs(s[i]) > 1e-4f)
            return i - from;
    return s.size() - std::min(from, s.size());
}

// Band-pass around the tone, then the mean period between the first and the last upward zero
// crossing (interpolated), so vibrato and sample loops average out over hundreds of cycles.
double fundamentalHz(const std::vector<float> &s, double around, size_t from) {
    const double w0 = 2 * std::numbers::pi * around / kRate, alpha = std::sin(w0) / (2 * 4.0);
    const double b0 = alpha / (1 + alpha), a1 = -2 * std::cos(w0) / (1 + alpha);
    const double a2 = (1 - alpha) / (1 + alpha);
    std::vector<double> y(s.begin(), s.end());
    for (int pass = 0; pass < 2; ++pass) {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (double &v : y) {
            const double out = b0 * v - b0 * x2 - a1 * y1 - a2 * y2;
            x2 = x1, x1 = v, y2 = y1, y1 = out;
            v = out;
        }
    }
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = from + 1; i < y.size(); ++i) {
        if (y[i - 1] < 0 && y[i] >= 0) {
            last = static_cast<double>(i - 1) + y[i - 1] / (y[i - 1] - y[i]);
            if (first < 0)
                first = last;
            ++crossings;
        }
    }
    return crossings < 100 ? 0 : (crossings - 1) * kRate / (last - first);
}

double cents(double f, double ref) {
    return 1200 * std::log2(f / ref);
}

// A freshly started piccolo A on channel 1, measured after its attack; the release and the
// reverb tail are rendered away so the next note starts from silence.
double measureA(FluidSynthMidiOut &synth) {
    synth.shortMsg(0x007F4590);
    const auto sound = renderMono(synth, 1.5);
    synth.shortMsg(0x00004580);
    renderMono(synth, 2.0);
    return fundamentalHz(sound, 440.0, kSettle);
}

TEST(FluidSynthMidiOut, OpenNeedsALoadableSoundFont) {
    QTemporaryDir dir;
    const std::string garbage = dir.filePath("garbage.sf2").toStdString();
    std::ofstream(garbage) << "RIFF but not a SoundFont";
    const std::string missing = dir.filePath("missing.sf2").toStdString();
    const std::string real = FluidSynthMidiOut::Options{}.soundFonts[1];

    const struct {
        std::vector<std::string> soundFonts;
        int result;
        std::string loaded;
    } cases[] = {
        {{}, FluidSynthMidiOut::kNoSoundFont, ""},
        {{missing}, FluidSynthMidiOut::kNoSoundFont, ""},
        {{missing, garbage}, FluidSynthMidiOut::kNoSoundFont, ""},
        {{missing, garbage, real}, 0, real},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.soundFonts));
        auto options = offline();
        options.soundFonts = c.soundFonts;
        FluidSynthMidiOut synth(options);
        EXPECT_EQ(synth.open(), c.result);
        EXPECT_EQ(synth.isOpen(), c.result == 0);
        EXPECT_EQ(synth.soundFont(), c.loaded);
        // A failed open leaves a device that takes messages and stays silent.
        synth.shortMsg(0x007F4590);
        if (c.result == 0)
            EXPECT_GT(peak(renderMono(synth, 0.2)), 0.01f);
        else
            EXPECT_EQ(peak(renderMono(synth, 0.2)), 0.0f);
        synth.close();
        synth.close();
        EXPECT_FALSE(synth.isOpen());
        EXPECT_EQ(peak(renderMono(synth, 0.1)), 0.0f);
    }
}

TEST(FluidSynthMidiOut, OpenNeedsAnAudioDriverUnlessOffline) {
    // No sound server to stream to either.
    const char *was = std::getenv("PULSE_SERVER");
    const std::string saved = was ? was : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/pulvano2-test", 1);
    for (const auto &drivers :
         {std::vector<std::string>{}, {"no-such-driver"}, {FluidSynthMidiOut::kPulseStream}}) {
        FluidSynthMidiOut::Options options;
        options.audioDrivers = drivers;
        FluidSynthMidiOut synth(options);
        EXPECT_EQ(synth.open(), FluidSynthMidiOut::kNoAudioOutput);
        EXPECT_FALSE(synth.isOpen());
        EXPECT_TRUE(synth.soundFont().empty());
        synth.shortMsg(0x007F4590);
    }
    if (was)
        setenv("PULSE_SERVER", saved.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
}

TEST(FluidSynthMidiOut, TicksSoundAtOnceAfterSilence) {
    FluidSynthMidiOut synth(offline());
    ASSERT_EQ(synth.open(), 0);
    EXPECT_TRUE(synth.audioDriver().empty());
    synth.shortMsg(0x000014C0);
    EXPECT_LT(peak(renderMono(synth, 0.2)), kSilence);

    for (const uint32_t note : {37u, 81u}) {
        SCOPED_TRACE(note);
        synth.shortMsg(packMidi(0x99, note, 127));
        synth.shortMsg(packMidi(0x89, note));
        const auto sound = renderMono(synth, 0.3);
        // Notes start on the next 64-sample block of the synth.
        EXPECT_LT(firstSound(sound), 128u);
        EXPECT_GT(peak(sound, 0, static_cast<size_t>(0.05 * kRate)), 0.01f);
        renderMono(synth, 3.0);
    }
}

TEST(FluidSynthMidiOut, NoteOffEitherWayEndsTheTone) {
    FluidSynthMidiOut synth(offline());
    ASSERT_EQ(synth.open(), 0);
    synth.shortMsg(0x000048C0);
    for (const uint32_t off : {0x00004580u, 0x00004590u}) {
        SCOPED_TRACE(off);
        synth.shortMsg(0x007F4590);
        const float held = peak(renderMono(synth, 0.5));
        // Messages the backend does not play must not disturb the tone.
        synth.shortMsg(0x00407FD0);
        synth.shortMsg(0x000000F8);
        EXPECT_GT(peak(renderMono(synth, 0.5)), held / 2);
        synth.shortMsg(off);
        const auto after = renderMono(synth, 3.0);
        EXPECT_LT(peak(after, after.size() - static_cast<size_t>(0.5 * kRate)), held / 100);
    }
}

// The seven steps of the tuning window, in this order so each one follows the last. The data
// entry's fine half must apply with its coarse half, though FluidSynth reads it only before.
TEST(FluidSynthMidiOut, TuningStepsShiftThePitchByTheirCents) {
    const struct {
        const char *caption;
        int coarse, fine;
    } steps[] = {{"+3", 76, 115}, {"+2", 73, 0}, {"+1", 69, 3},  {" 0", 64, 0},
                 {"-1", 60, 53},  {"-2", 58, 0}, {"-3", 56, 100}};
    FluidSynthMidiOut synth(offline());
    ASSERT_EQ(synth.open(), 0);
    synth.shortMsg(0x000048C0);
    const double reference = measureA(synth);
    ASSERT_NEAR(cents(reference, 440.0), 0.0, 25.0) << reference << " Hz";
    double last = 0;
    for (const auto &step : steps) {
        SCOPED_TRACE(step.caption);
        for (uint32_t m :
             {0x000164B0u, 0x000065B0u, 0x06B0 + 65536u * step.coarse, 0x26B0 + 65536u * step.fine})
            synth.shortMsg(m);
        last = (step.coarse * 128 + step.fine - 8192) / 8192.0 * 100.0;
        EXPECT_NEAR(cents(measureA(synth), reference), last, 1.0);
    }
    EXPECT_NEAR(last, -11.28, 0.01);

    // Selecting another parameter forgets the last data entry: a lone fine value must not apply
    // the tuning's coarse value as a bend range. Bend 0x3000 is +1 semitone under the range of 2.
    for (uint32_t m : {0x000065B0u, 0x000064B0u, 0x000026B0u, 0x006000E0u})
        synth.shortMsg(m);
    EXPECT_NEAR(cents(measureA(synth), reference), 100.0 + last, 1.0);
}

// Offline rendering through the audio callback's path, against a clock the test moves: each
// block of 512 frames is rendered when the clock says its time has come.
class TimedRendering {
public:
    static constexpr int kBlock = 512;
    static constexpr int64_t kStartNs = 5'000'000'000;
    static constexpr uint32_t kStartMs = kStartNs / 1'000'000;

    // With sleeping, the rendering plays a stream that the backend may pause: while paused,
    // nothing is asked for and the recording gets silence.
    explicit TimedRendering(int fillFrames = 0, bool sleeping = false) : m_fill(fillFrames) {
        auto options = offline();
        options.clockNs = [this] { return m_nowNs; };
        if (sleeping)
            options.pauseOutput = [this](bool p) {
                paused = p;
                pauses.push_back(p);
                if (onPause)
                    onPause(p);
            };
        synth = std::make_unique<FluidSynthMidiOut>(options);
        EXPECT_EQ(synth->open(), 0);
    }

    // Renders on, appending to the recording; each frame is heard latencyNs after it is asked for.
    void renderFor(double seconds, int64_t latencyNs = 0) {
        const auto frames = static_cast<size_t>(seconds * kRate);
        std::vector<float> l(kBlock), r(kBlock);
        for (size_t done = 0; done < frames; done += kBlock) {
            m_nowNs = kStartNs + std::llround(static_cast<double>(sound.size()) / kRate * 1e9) -
                      latencyNs;
            if (paused) {
                sound.insert(sound.end(), kBlock, 0.0f);
                continue;
            }
            synth->render(l.data(), r.data(), kBlock, m_fill, latencyNs);
            for (int i = 0; i < kBlock; ++i)
                sound.push_back(l[i] + r[i]);
        }
    }
    void tickAt(uint32_t due, uint32_t note = 37) {
        synth->shortMsgAt(packMidi(0x99, note, 127), due);
        synth->shortMsgAt(packMidi(0x89, note), due);
    }
    // The frame of the recording, heard as counted from kStartNs, that a message due at dueMs
    // (on the tick counter) should start on.
    size_t frameFor(uint32_t dueMs) const {
        const double ns = dueMs * 1e6 + synth->delayMs() * 1e6 - kStartNs;
        return static_cast<size_t>(std::llround(ns * kRate / 1e9));
    }
    size_t onsetAfter(uint32_t dueMs) const { return firstSound(sound, frameFor(dueMs)); }
    bool silentUntil(uint32_t dueMs) const { return peak(sound, 0, frameFor(dueMs)) < kSilence; }
    uint32_t nowMs() const { return static_cast<uint32_t>(m_nowNs / 1'000'000); }

    std::unique_ptr<FluidSynthMidiOut> synth;
    bool paused = false;
    std::vector<bool> pauses;
    std::function<void(bool)> onPause;
    std::vector<float> sound;

private:
    int m_fill;
    int64_t m_nowNs = kStartNs;
};

// Where a note played at once by the synthesizer itself begins to sound, in frames.
size_t plainOnset(uint32_t before, uint32_t on) {
    FluidSynthMidiOut synth(offline());
    EXPECT_EQ(synth.open(), 0);
    if (before)
        synth.shortMsg(before);
    synth.shortMsg(on);
    return firstSound(renderMono(synth, 0.5));
}

size_t tickOnset(uint32_t note = 37) {
    return plainOnset(0, packMidi(0x99, note, 127));
}

// Frames 7127 and 9332 for one note, 29750 and 35483 for the other: none on a 64-frame block of
// the synthesizer, each pair on different phases of it. Every tick of a note is the same sound.
TEST(FluidSynthMidiOut, TimedTicksStartOnTheirExactSample) {
    const std::pair<uint32_t, uint32_t> cases[2][2] = {{{37, 100}, {37, 150}},
                                                       {{81, 613}, {81, 743}}};
    for (const auto &pair : cases) {
        std::vector<float> first;
        for (const auto &[note, afterMs] : pair) {
            SCOPED_TRACE(testing::Message() << "note " << note << " at +" << afterMs);
            TimedRendering run;
            run.synth->shortMsg(0x000014C0);
            run.renderFor(0.01);
            const uint32_t due = TimedRendering::kStartMs + afterMs;
            run.tickAt(due, note);
            run.renderFor(afterMs / 1000.0 + 1.5);
            const size_t at = run.frameFor(due);
            EXPECT_NE(at % 64, 0u);
            EXPECT_TRUE(run.silentUntil(due));
            EXPECT_EQ(run.onsetAfter(due), tickOnset(note));
            EXPECT_GT(peak(run.sound, at, at + 2205), 0.01f);
            EXPECT_EQ(run.synth->stats().ticksPlaced, 1);
            EXPECT_EQ(run.synth->stats().lateMessages, 0);
            std::vector<float> tick(run.sound.begin() + std::min(at, run.sound.size()),
                                    run.sound.end());
            tick.resize(44100);
            if (first.empty())
                first = tick;
            for (size_t i = 0; i < tick.size(); ++i)
                tick[i] -= first[i];
            EXPECT_LT(peak(tick), 2 * kSilence);
        }
    }
}

// The ticks' volume: a softer tick is the same rendering scaled, on the same sample.
TEST(FluidSynthMidiOut, ASofterTickIsItsRenderingScaled) {
    std::vector<float> loud;
    for (uint32_t velocity : {127u, 32u}) {
        TimedRendering run;
        run.renderFor(0.01);
        const uint32_t due = TimedRendering::kStartMs + 100;
        run.synth->shortMsgAt(packMidi(0x99, 37, velocity), due);
        run.synth->shortMsgAt(packMidi(0x89, 37), due);
        run.renderFor(1.0);
        EXPECT_EQ(run.synth->stats().ticksPlaced, 1);
        const auto at = static_cast<std::ptrdiff_t>(run.frameFor(due));
        const std::vector<float> tick(run.sound.begin() + at, run.sound.begin() + at + 22050);
        if (loud.empty()) {
            loud = tick;
            continue;
        }
        float worst = 0;
        for (size_t i = 0; i < tick.size(); ++i)
            worst = std::max(worst, std::fabs(tick[i] - loud[i] * 32.0f / 127.0f));
        EXPECT_LT(worst, 2 * kSilence);
    }
}

// The same sound, sample for sample; the synthesizer's own rest may begin a few frames apart,
// below hearing.
TEST(FluidSynthMidiOut, TicksKeepTheirSampleWhenTheOutputTakesABlockInPieces) {
    std::vector<float> whole;
    for (int fill : {0, 100, 7}) {
        SCOPED_TRACE(testing::Message() << "fill " << fill);
        TimedRendering run(fill);
        run.renderFor(0.01);
        for (uint32_t at : {100u, 613u, 700u})
            run.tickAt(TimedRendering::kStartMs + at, at == 613 ? 81 : 37);
        run.renderFor(2.0);
        EXPECT_EQ(run.synth->stats().ticksPlaced, 3);
        if (whole.empty())
            whole = run.sound;
        ASSERT_EQ(run.sound.size(), whole.size());
        for (size_t i = 0; i < whole.size(); ++i)
            run.sound[i] -= whole[i];
        EXPECT_LT(peak(run.sound), kSilence);
    }
}

TEST(FluidSynthMidiOut, ALateTimedTickSoundsAtOnce) {
    TimedRendering run;
    run.renderFor(1.0);
    const size_t now = run.sound.size();
    run.tickAt(TimedRendering::kStartMs); // due a second ago: far more than the delay
    run.renderFor(1.0);
    EXPECT_LT(peak(run.sound, 0, now), kSilence);
    EXPECT_EQ(firstSound(run.sound, now), tickOnset());
    EXPECT_EQ(run.synth->stats().lateMessages, 2);
    EXPECT_EQ(run.synth->stats().ticksPlaced, 1);
}

// Other messages, and ticks once the percussion channel has changed since open, go to the
// synthesizer itself: within one of its blocks after their frame, never early.
TEST(FluidSynthMidiOut, OtherTimedMessagesSoundThroughTheSynthesizer) {
    const struct {
        const char *what;
        uint32_t before; // sent at once before the timed note, 0 for none
        uint32_t on, off;
    } cases[] = {
        {"a tone on channel 1", 0, 0x007F4590, 0x00004580},
        {"a tick after a program change on channel 10", 0x000000C9, 0x007F2599, 0x00002589},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TimedRendering run;
        if (c.before)
            run.synth->shortMsg(c.before);
        run.renderFor(0.5);
        const uint32_t due = TimedRendering::kStartMs + 700;
        run.synth->shortMsgAt(c.on, due);
        run.synth->shortMsgAt(c.off, due + 300);
        run.renderFor(1.5);
        EXPECT_TRUE(run.silentUntil(due));
        const size_t plain = plainOnset(c.before, c.on);
        EXPECT_GE(run.onsetAfter(due), plain);
        EXPECT_LT(run.onsetAfter(due), plain + 64);
        EXPECT_EQ(run.synth->stats().ticksPlaced, 0);
    }
}

TEST(FluidSynthMidiOut, DelayCoversTheBeatTimerAndTheOutputLatency) {
    const struct {
        int periodMs, latencyMs, delayMs;
    } cases[] = {{5, 0, 50}, {10, 0, 50}, {11, 0, 51}, {100, 0, 140}, {20, 45, 105}};
    for (const auto &c : cases)
        EXPECT_EQ(FluidSynthMidiOut::delayForTimerPeriod(c.periodMs, c.latencyMs), c.delayMs)
            << c.periodMs;
    FluidSynthMidiOut synth(offline());
    EXPECT_EQ(synth.delayMs(), FluidSynthMidiOut::kDefaultDelayMs);
    synth.setTimerPeriod(100);
    EXPECT_EQ(synth.delayMs(), 140);
    synth.setDelayMs(130);
    synth.setTimerPeriod(20);
    EXPECT_EQ(synth.delayMs(), 130);
}

// Placed for when it is heard: an output that reports more latency gets the tick that much
// sooner in its frames, and the reported latency covers the request it was measured on.
TEST(FluidSynthMidiOut, ATickIsPlacedForTheMomentItIsHeard) {
    for (int64_t latencyMs : {0, 37}) {
        SCOPED_TRACE(testing::Message() << latencyMs << " ms");
        TimedRendering run;
        run.renderFor(0.05, latencyMs * 1'000'000);
        const uint32_t due = TimedRendering::kStartMs + 300;
        run.tickAt(due);
        run.renderFor(1.0, latencyMs * 1'000'000);
        EXPECT_TRUE(run.silentUntil(due));
        EXPECT_EQ(run.onsetAfter(due), tickOnset());
        // The request's own span, 512 frames, comes on top.
        EXPECT_EQ(run.synth->outputLatencyMs(), latencyMs + 12);
    }
}

// The output pauses once the last sound has died away and wakes with the next message, placed
// on its frame as if it had never slept.
TEST(FluidSynthMidiOut, SleepsWhenNothingSoundsAndWakesInTime) {
    TimedRendering run(0, true);
    EXPECT_TRUE(run.paused);
    run.synth->shortMsg(0x000014C0); // wakes it; it sounds nothing, so it sleeps again
    EXPECT_FALSE(run.paused);
    run.renderFor(1.0);
    EXPECT_TRUE(run.paused);
    run.renderFor(2.0);

    // A tick posted a lead ahead wakes the output; it never sleeps while a tick waits or sounds.
    uint32_t due = run.nowMs();
    run.tickAt(due);
    EXPECT_FALSE(run.paused);
    run.tickAt(due + 3000);
    run.renderFor(5.0);
    EXPECT_TRUE(run.silentUntil(due));
    for (uint32_t d : {due, due + 3000})
        EXPECT_EQ(run.onsetAfter(d), tickOnset()) << d;
    EXPECT_EQ(std::count(run.pauses.begin(), run.pauses.end(), true), 3);
    EXPECT_TRUE(run.paused);

    // A tick posted just as the output pauses is not lost: it wakes it again.
    bool postOnPause = true;
    run.onPause = [&](bool p) {
        if (p && std::exchange(postOnPause, false))
            run.tickAt(due = run.nowMs() + 100);
    };
    run.synth->shortMsg(0x000014C0);
    run.renderFor(1.0);
    EXPECT_FALSE(run.paused);
    run.renderFor(3.0);
    EXPECT_EQ(run.onsetAfter(due), tickOnset());
    EXPECT_EQ(run.synth->stats().lateMessages, 0);
    EXPECT_TRUE(run.paused);

    // A held tone keeps it awake until it is released and has died away.
    run.synth->shortMsg(0x007F4590);
    run.renderFor(3.0);
    EXPECT_FALSE(run.paused);
    run.synth->shortMsg(0x00004580);
    run.renderFor(3.0);
    EXPECT_TRUE(run.paused);

    // A run holds it awake through any silence, and lets it sleep when it ends.
    run.synth->holdAwake(true);
    EXPECT_FALSE(run.paused);
    run.renderFor(3.0);
    EXPECT_FALSE(run.paused);
    run.synth->holdAwake(false);
    run.renderFor(1.0);
    EXPECT_TRUE(run.paused);
}

} // namespace
} // namespace pv2

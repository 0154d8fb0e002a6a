#include "audio/fluidsynth_midi_out.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pv2 {
namespace {

constexpr double kRate = 44100.0;
constexpr int64_t kStartNs = 5'000'000'000;
constexpr uint32_t kStartMs = kStartNs / 1'000'000;
// The reverb keeps a tiny offset against denormals: anything below -100 dB is silence.
constexpr float kSilence = 1e-5f;

FluidSynthMidiOut::Options offline() {
    FluidSynthMidiOut::Options o;
    o.offline = true;
    o.tickNotes = {37, 81};
    return o;
}

// Filled with garbage first, so that a render that writes nothing shows.
std::vector<float> renderMono(FluidSynthMidiOut &synth, double seconds) {
    const int frames = static_cast<int>(seconds * kRate);
    std::vector<float> left(frames, 1.0f), right(frames, 1.0f);
    synth.render(left.data(), right.data(), frames);
    std::transform(left.begin(), left.end(), right.begin(), left.begin(), std::plus<>());
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

// What a fresh synthesizer plays for these messages sent at once.
std::vector<float> plainSound(std::initializer_list<uint32_t> messages) {
    FluidSynthMidiOut synth(offline());
    EXPECT_EQ(synth.open(), 0);
    for (uint32_t m : messages)
        synth.shortMsg(m);
    return renderMono(synth, 0.5);
}

// A freshly started piccolo A on channel 1 in cents from 440 Hz, measured after its attack; its
// note-off, either way, then lets the release and the reverb tail die away before the next note.
// The period is the mean between the first and the last upward zero crossing (interpolated), so
// vibrato and sample loops average out over hundreds of cycles.
double centsOfA(FluidSynthMidiOut &synth, uint32_t off = 0x00004580) {
    synth.shortMsg(0x007F4590);
    const auto y = renderMono(synth, 1.5);
    synth.shortMsg(off);
    renderMono(synth, 2.0);
    std::vector<double> at;
    for (size_t i = static_cast<size_t>(0.3 * kRate) + 1; i < y.size(); ++i)
        if (y[i - 1] < 0 && y[i] >= 0)
            at.push_back(static_cast<double>(i - 1) + y[i - 1] / (y[i - 1] - y[i]));
    const double period = at.size() < 100 ? NAN : (at.back() - at.front()) / (at.size() - 1);
    return 1200 * std::log2(kRate / period / 440);
}

// Open takes the first loadable SoundFont and, unless offline, needs an audio driver (there is no
// sound server to stream to here). A failed open leaves a device that takes messages, silent.
TEST(FluidSynthMidiOut, OpenNeedsASoundFontAndAnAudioDriver) {
    using F = FluidSynthMidiOut;
    QTemporaryDir dir;
    const std::string garbage = dir.filePath("garbage.sf2").toStdString();
    std::ofstream(garbage) << "RIFF but not a SoundFont";
    const std::string missing = garbage + ".missing", real = F::Options{}.soundFonts[1];
    qputenv("PULSE_SERVER", "unix:/nonexistent/pulvano2-test");
    const struct {
        std::vector<std::string> soundFonts, drivers;
        int result;
    } cases[] = {{{missing, garbage}, {}, F::kNoSoundFont},
                 {{missing, garbage, real}, {}, 0},
                 {{real}, {"no-such-driver", F::kPulseStream}, F::kNoAudioOutput}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.soundFonts));
        auto options = offline();
        options.soundFonts = c.soundFonts;
        options.audioDrivers = c.drivers;
        options.offline = c.drivers.empty();
        F synth(options);
        EXPECT_EQ(synth.open(), c.result);
        EXPECT_EQ(synth.soundFont(), c.result ? "" : real);
        synth.shortMsg(0x007F4590);
        EXPECT_EQ(peak(renderMono(synth, 0.2)) > 0.01f, c.result == 0);
        synth.close(); // and again when it goes
    }
}

// Start-up opens the device before the window does; the window's open must find it as it was.
TEST(FluidSynthMidiOut, OpeningAgainKeepsTheDeviceUntilClosedOrGivenOtherNotes) {
    FluidSynthMidiOut synth(offline());
    // Whether a note from before the change still sounds after the open; one after it always does.
    const auto soundsAfter = [&synth](const std::function<void()> &change) {
        synth.shortMsg(0x007F4590);
        change();
        EXPECT_EQ(synth.open(), 0);
        const bool kept = peak(renderMono(synth, 0.2)) > 0.01f;
        synth.shortMsg(0x007F4590);
        EXPECT_GT(peak(renderMono(synth, 0.2)), 0.01f);
        return kept;
    };
    ASSERT_EQ(synth.open(), 0);
    EXPECT_TRUE(soundsAfter([] {}));
    EXPECT_TRUE(soundsAfter([&synth] { synth.setTickNotes({37, 81}); }));
    EXPECT_FALSE(soundsAfter([&synth] { synth.close(); }));
    EXPECT_FALSE(soundsAfter([&synth] { synth.setTickNotes({77, 76}); }));
}

// The seven steps of the tuning window, in this order so each one follows the last. The data
// entry's fine half must apply with its coarse half, though FluidSynth reads it only before.
TEST(FluidSynthMidiOut, TuningStepsShiftThePitchByTheirCents) {
    const int steps[][2] = {{76, 115}, {73, 0}, {69, 3}, {64, 0}, {60, 53}, {58, 0}, {56, 100}};
    FluidSynthMidiOut synth(offline());
    ASSERT_EQ(synth.open(), 0);
    synth.shortMsg(0x000048C0);
    const double reference = centsOfA(synth);
    ASSERT_NEAR(reference, 0.0, 25.0);
    double last = 0;
    for (const auto [coarse, fine] : steps) {
        for (uint32_t m :
             {0x000164B0u, 0x000065B0u, 0x06B0 + 65536u * coarse, 0x26B0 + 65536u * fine})
            synth.shortMsg(m);
        last = (coarse * 128 + fine - 8192) / 8192.0 * 100.0;
        EXPECT_NEAR(centsOfA(synth) - reference, last, 1.0);
    }

    // Selecting another parameter forgets the last data entry: a lone fine value must not apply
    // the tuning's coarse value as a bend range. Bend 0x3000 is +1 semitone under the range of 2.
    for (uint32_t m : {0x000065B0u, 0x000064B0u, 0x000026B0u, 0x006000E0u})
        synth.shortMsg(m);
    EXPECT_NEAR(centsOfA(synth, 0x00004590) - reference, 100.0 + last, 1.0);
}

// Offline rendering through the audio callback's path, against a clock the test moves: each
// block of 512 frames is rendered when the clock says its time has come.
class TimedRendering {
public:
    static constexpr int kBlock = 512;

    // The rendering plays a stream that the backend may pause: while paused, nothing is asked
    // for and the recording gets silence.
    explicit TimedRendering(int fillFrames = 0) : m_fill(fillFrames) {
        auto options = offline();
        options.clockNs = [this] { return m_nowNs; };
        options.pauseOutput = [this](bool p) {
            paused = p;
            sleeps += p;
            onPause(p);
        };
        synth = std::make_unique<FluidSynthMidiOut>(options);
        EXPECT_EQ(synth->open(), 0);
    }

    // Renders on, appending to the recording; each frame is heard latencyNs after it is asked for.
    void renderFor(double seconds, int64_t latencyNs = 0) {
        std::vector<float> l(kBlock), r(kBlock);
        for (size_t done = 0; done < seconds * kRate; done += kBlock) {
            m_nowNs = kStartNs + std::llround(sound.size() / kRate * 1e9) - latencyNs;
            const bool heard = !paused;
            if (heard)
                synth->render(l.data(), r.data(), kBlock, m_fill, latencyNs);
            for (int i = 0; i < kBlock; ++i)
                sound.push_back(heard ? l[i] + r[i] : 0.0f);
        }
    }
    void tickAt(uint32_t due, uint32_t note = 37, uint32_t velocity = 127) {
        synth->shortMsgAt(packMidi(0x99, note, velocity), due);
        synth->shortMsgAt(packMidi(0x89, note), due);
    }
    // The frame of the recording, heard as counted from kStartNs, that a message due at dueMs
    // (on the tick counter) should start on.
    size_t frameFor(uint32_t dueMs) const {
        const double ns = dueMs * 1e6 + synth->delayMs() * 1e6 - kStartNs;
        return static_cast<size_t>(std::llround(ns * kRate / 1e9));
    }
    size_t onsetAfter(uint32_t dueMs) const { return firstSound(sound, frameFor(dueMs)); }
    uint32_t nowMs() const { return static_cast<uint32_t>(m_nowNs / 1'000'000); }

    std::unique_ptr<FluidSynthMidiOut> synth;
    bool paused = false;
    int sleeps = 0;
    std::function<void(bool)> onPause = [](bool) {};
    std::vector<float> sound;

private:
    int m_fill;
    int64_t m_nowNs = kStartNs;
};

// A tick due at a given moment is its rendering alone, scaled by its velocity, from its exact
// frame on: none of these is on a 64-frame block of the synthesizer, and they fall on different
// phases of it. So too when the output takes a block in pieces, and when it reports latency: the
// tick then comes that much sooner in its frames.
TEST(FluidSynthMidiOut, TimedTicksAreTheirRenderingOnTheirExactSample) {
    const struct {
        int fill;
        int64_t latencyMs;
        // Each: ms after the start (below 0: due before it is posted, heard 60 ms later; so
        // -55 just late, -1000 long past), note, velocity.
        std::vector<std::array<int, 3>> ticks;
    } cases[] = {
        {0, 0, {{150, 37, 127}, {613, 81, 127}, {743, 81, 127}, {-1000, 37, 127}, {-55, 81, 127}}},
        {7, 37, {{100, 37, 32}, {613, 81, 127}, {700, 37, 127}}}};
    std::vector<float> alone[2];
    for (uint32_t note : {37u, 81u}) {
        TimedRendering run;
        run.renderFor(0.01);
        run.tickAt(kStartMs + 100, note);
        run.renderFor(2.5);
        alone[note == 81].assign(run.sound.begin() + run.frameFor(kStartMs + 100), run.sound.end());
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "fill " << c.fill << ", " << c.latencyMs << " ms");
        TimedRendering run(c.fill);
        run.synth->shortMsg(0x000014C0);
        run.renderFor(0.01, c.latencyMs * 1'000'000);
        const size_t posted = run.sound.size();
        for (const auto [afterMs, note, velocity] : c.ticks)
            run.tickAt(kStartMs + afterMs, note, velocity);
        run.renderFor(2.0, c.latencyMs * 1'000'000);
        int64_t late = 0, stale = 0;
        for (const auto [afterMs, note, velocity] : c.ticks) {
            // A late one sounds at once, from the first frame rendered after it; one long past
            // not at all.
            const size_t at = afterMs < 0 ? posted : run.frameFor(kStartMs + afterMs);
            late += afterMs < 0;
            stale += afterMs <= -1000;
            const auto &tick = alone[note == 81];
            for (size_t i = at; afterMs > -1000 && i < run.sound.size() && i - at < tick.size();
                 ++i)
                run.sound[i] -= tick[i - at] * velocity / 127.0f;
        }
        EXPECT_LT(peak(run.sound), 2 * kSilence);
        EXPECT_EQ(run.synth->stats().ticksPlaced, int64_t(c.ticks.size()) - stale);
        EXPECT_EQ(run.synth->stats().lateMessages, 2 * late);
        EXPECT_EQ(run.synth->stats().staleNotes, stale);
        // The request's own span, 512 frames, comes on top.
        EXPECT_EQ(run.synth->outputLatencyMs(), c.latencyMs + 12);
    }
}

TEST(FluidSynthMidiOut, APairChosenLaterIsRenderedAtTheNextOpen) {
    TimedRendering run;
    run.synth->setTickNotes({77, 76});
    ASSERT_EQ(run.synth->open(), 0);
    run.tickAt(kStartMs + 100, 76);
    run.renderFor(0.5);
    EXPECT_EQ(run.synth->stats().ticksPlaced, 1);
}

// Other messages, and ticks once the percussion channel has changed since open, go to the
// synthesizer itself: within one of its blocks after their frame, never early. A tick after a
// program change on channel 10 shows both, posted after a sleep has let the SoundFont go.
TEST(FluidSynthMidiOut, OtherTimedMessagesSoundThroughTheSynthesizer) {
    TimedRendering run;
    run.synth->shortMsg(0x000000C9);
    run.renderFor(2.0);
    ASSERT_TRUE(run.paused);
    const uint32_t due = run.nowMs() + 200;
    run.synth->shortMsgAt(0x007F2599, due);
    run.synth->shortMsgAt(0x00002589, due + 300);
    run.renderFor(1.5);
    EXPECT_LT(peak(run.sound, 0, run.frameFor(due)), kSilence);
    const size_t plain = firstSound(plainSound({0x000000C9, 0x007F2599}));
    EXPECT_GE(run.onsetAfter(due), plain);
    EXPECT_LT(run.onsetAfter(due), plain + 64);
    EXPECT_EQ(run.synth->stats().ticksPlaced, 0);
}

TEST(FluidSynthMidiOut, DelayCoversTheBeatTimerAndTheOutputLatency) {
    const int cases[][3] = {{5, 0, 50}, {11, 0, 51}, {100, 0, 140}, {20, 45, 105}};
    for (const auto [periodMs, latencyMs, delayMs] : cases)
        EXPECT_EQ(FluidSynthMidiOut::delayForTimerPeriod(periodMs, latencyMs), delayMs);
    FluidSynthMidiOut synth(offline());
    synth.setTimerPeriod(100);
    EXPECT_EQ(synth.delayMs(), 140);
}

// The output pauses once the last sound has died away and wakes with the next message, placed
// on its frame as if it had never slept.
TEST(FluidSynthMidiOut, SleepsWhenNothingSoundsAndWakesInTime) {
    TimedRendering run;
    EXPECT_TRUE(run.paused);
    run.renderFor(2.0);
    const size_t onset = firstSound(plainSound({packMidi(0x99, 37, 127)}));

    // A tick posted a lead ahead wakes the output; it never sleeps while a tick waits or sounds.
    uint32_t due = run.nowMs();
    run.tickAt(due);
    EXPECT_FALSE(run.paused);
    run.tickAt(due + 3000);
    run.renderFor(1.0);
    // Their renderings play; the SoundFont stays out of memory.
    EXPECT_FALSE(run.synth->stats().samplesLoaded);
    run.renderFor(4.0);
    EXPECT_LT(peak(run.sound, 0, run.frameFor(due)), kSilence);
    for (uint32_t d : {due, due + 3000})
        EXPECT_EQ(run.onsetAfter(d), onset) << d;
    EXPECT_TRUE(run.paused);

    // A message that sounds nothing wakes it until it sleeps again; a tick posted just as the
    // output pauses is not lost: it wakes it again.
    run.onPause = [&](bool p) {
        if (p && run.sleeps == 3)
            run.tickAt(due = run.nowMs() + 100);
    };
    run.synth->shortMsg(0x000014C0);
    EXPECT_FALSE(run.paused);
    run.renderFor(1.0);
    EXPECT_FALSE(run.paused);
    run.renderFor(3.0);
    EXPECT_EQ(run.onsetAfter(due), onset);
    EXPECT_EQ(run.synth->stats().lateMessages, 0);
    EXPECT_TRUE(run.paused);

    // A held tone keeps it awake until it is released and has died away; so does a run through
    // any silence, which lets it sleep when it ends. The tone's samples go with the sleep.
    for (bool tone : {true, false}) {
        tone ? run.synth->shortMsg(0x007F4590) : run.synth->holdAwake(true);
        EXPECT_FALSE(run.paused);
        run.renderFor(3.0);
        EXPECT_FALSE(run.paused);
        EXPECT_EQ(run.synth->stats().samplesLoaded, tone);
        tone ? run.synth->shortMsg(0x00004580) : run.synth->holdAwake(false);
        run.renderFor(3.0);
        EXPECT_TRUE(run.paused);
        EXPECT_FALSE(run.synth->stats().samplesLoaded);
    }
}

// The SoundFont is loaded only for a note the renderings do not play, so a program chosen
// before must still be the one that note plays.
TEST(FluidSynthMidiOut, ASoundFontLoadedForANoteKeepsTheProgramsChosenBefore) {
    auto tone = [](bool programFirst) {
        FluidSynthMidiOut synth(offline());
        EXPECT_EQ(synth.open(), 0);
        EXPECT_FALSE(synth.stats().samplesLoaded);
        if (programFirst)
            synth.shortMsg(0x000048C0);
        synth.shortMsg(0x007F4591);
        EXPECT_TRUE(synth.stats().samplesLoaded);
        if (!programFirst)
            synth.shortMsg(0x000048C0);
        synth.shortMsg(0x007F4590);
        const auto sound = renderMono(synth, 0.5);
        // An output that cannot pause lets them go all the same once nothing sounds.
        for (uint32_t off : {0x00004580u, 0x00004581u})
            synth.shortMsg(off);
        for (int i = 0; i < 30; ++i)
            renderMono(synth, 0.1);
        EXPECT_FALSE(synth.stats().samplesLoaded);
        return sound;
    };
    EXPECT_EQ(tone(true), tone(false));
}

// A window that plays its own notes keeps the SoundFont, loaded in the background, through the
// output's sleeps; once it lets go, the output frees it as it next sleeps, waking for that if it
// must, and leaves no thread behind (FluidSynth polls from one for samples a voice still holds).
TEST(FluidSynthMidiOut, KeptSoundsOutlastASleepAndGoWhenLetGo) {
    const auto pollers = [] {
        int n = 0;
        for (const QString &t :
             QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm("/proc/self/task/" + t + "/comm");
            n += comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "timer";
        }
        return n;
    };
    TimedRendering run;
    for (bool played : {true, false}) {
        run.synth->keepSounds(true);
        if (played) {
            run.synth->shortMsg(0x007F4590);
            EXPECT_TRUE(run.synth->stats().samplesLoaded);
            run.renderFor(0.5);
            EXPECT_GT(peak(run.sound, run.sound.size() - 4410), 0.01f);
            run.synth->shortMsg(0x00004580);
            run.renderFor(3.0);
            EXPECT_TRUE(run.paused);
            EXPECT_TRUE(run.synth->stats().samplesLoaded);
        }
        run.synth->keepSounds(false);
        EXPECT_FALSE(run.paused);
        run.renderFor(1.0);
        EXPECT_TRUE(run.paused);
        EXPECT_FALSE(run.synth->stats().samplesLoaded) << played;
        EXPECT_EQ(pollers(), 0) << played;
    }
}

} // namespace
} // namespace pv2

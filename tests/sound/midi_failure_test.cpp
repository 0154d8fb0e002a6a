// The MIDI output failing at any moment: the program goes on, and so does the clock.
#include "../beat/clock_fakes.h"
#include "platform/fluidsynth_midi_out.h"
#include "platform/message_boxes.h"
#include "platform/midi_out.h"
#include "sound/tick_sound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace pv2 {
namespace {

const QString kOpenFailed =
    QStringLiteral("MIDIデバイスオープンに失敗しました。サウンド機能は無効となります。");

// A device that may refuse to open and may vanish later: from then on every send fails
// inside the platform (and is counted) while the program is told nothing.
class FlakyMidiOut : public MidiOut {
public:
    int openResult = 0;
    bool gone = false;
    int opens = 0, closes = 0, delivered = 0, lost = 0;

    int open() override {
        ++opens;
        return openResult;
    }
    void shortMsg(uint32_t) override { (gone ? lost : delivered)++; }
    void shortMsgAt(uint32_t packed, uint32_t) override { shortMsg(packed); }
    void close() override { ++closes; }
};

// The clock of the main window with its tick going to a TickSound on the given device.
struct SoundingClock {
    explicit SoundingClock(MidiOut &midi) : tick(midi, boxes) {}

    EngineState st;
    FakeTickCounter counter{0xFFFFFFFFu - 4000}; // wraps during the run too
    test::FakeView view;
    test::FakeTimer timer;
    test::ScriptedRandom random;
    RecordingMessageBoxes boxes;
    TickSound tick;
    BeatClock clock{st,
                    counter,
                    view,
                    timer,
                    random,
                    [this](bool downbeat, uint32_t due) { tick.sendTick(downbeat, due); },
                    [] { return false; },
                    [] { return false; }};
    uint32_t start = 0;
    std::vector<uint32_t> beatStarts;

    // Tempo 120, "1111": 500 ms beats.
    void startRunning() {
        ScheduleInput in;
        in.tempoText = QStringLiteral("120");
        in.patternText = QStringLiteral("1111");
        in.areaWidth = 609;
        in.areaHeight = 433;
        const ScheduleResult r = buildSchedule(st.beats, in);
        st.beatsPerBar = r.beatsPerBar;
        st.tempo = r.tempo;
        st.isStopped = false;
        st.curBeat = static_cast<int16_t>(st.beatsPerBar - 1);
        start = counter.now();
        clock.armBeatTimer(20);
    }
    // Fires every 7 ms (an odd period, so the firings fall at every phase of the beat).
    void runFor(int ms, const std::function<void(int)> &at = {}) {
        for (int t = 0; t < ms; t += 7) {
            if (at)
                at(t);
            const uint32_t before = st.beatStartTick;
            counter.advance(7);
            clock.onTimer();
            if (st.beatStartTick != before)
                beatStarts.push_back(st.beatStartTick);
        }
    }
    // Every beat where the grid puts it, none lost, none doubled.
    void expectBeatsOnTheGrid(size_t count) const {
        ASSERT_EQ(beatStarts.size(), count);
        for (size_t i = 0; i < beatStarts.size(); ++i)
            EXPECT_EQ(beatStarts[i], start + 500u * static_cast<uint32_t>(i + 1)) << i;
        EXPECT_TRUE(timer.active);
    }
};

TEST(MidiFailure, OpenFailingTellsOnceAndTheClockRunsSilently) {
    FlakyMidiOut midi;
    midi.openResult = 2;
    SoundingClock c(midi);
    c.tick.openTickDevice();
    EXPECT_EQ(c.boxes.texts, QStringList{kOpenFailed});
    EXPECT_FALSE(c.tick.deviceOpen());

    c.startRunning();
    c.runFor(10000);
    c.expectBeatsOnTheGrid(20);
    EXPECT_EQ(midi.delivered + midi.lost, 0);
    EXPECT_EQ(c.boxes.texts.size(), 1);

    c.tick.closeTickDevice(); // shutting down without a device
    EXPECT_EQ(midi.closes, 0);
}

// The device vanishes at a moment that falls anywhere within a beat: right on it, between the
// tick and the beat, in the middle of a flight.
TEST(MidiFailure, DeviceVanishingAtAnyMomentNeverStopsTheClock) {
    for (int vanishAt : {0, 1003, 1456, 1493, 1750, 3000}) {
        FlakyMidiOut midi;
        SoundingClock c(midi);
        c.tick.openTickDevice();
        ASSERT_TRUE(c.tick.deviceOpen());
        c.startRunning();
        c.runFor(10000, [&](int t) {
            if (t >= vanishAt)
                midi.gone = true;
        });
        SCOPED_TRACE(vanishAt);
        c.expectBeatsOnTheGrid(20);
        // The first beat after start has no tick; each later one a note-on and a note-off,
        // whether they reach a device or not.
        EXPECT_EQ(midi.delivered + midi.lost, 1 + 2 * 19);
        EXPECT_GT(midi.lost, 0);
        EXPECT_TRUE(c.boxes.texts.isEmpty()); // a failed send is not reported
        c.tick.closeTickDevice();
        c.tick.closeTickDevice();
        EXPECT_EQ(midi.closes, 1);
    }
}

float peakOf(FluidSynthMidiOut &synth, int frames) {
    std::vector<float> l(frames), r(frames);
    synth.render(l.data(), r.data(), frames);
    float p = 0;
    for (int i = 0; i < frames; ++i)
        p = std::max({p, std::fabs(l[i]), std::fabs(r[i])});
    return p;
}

// The built-in synthesizer shut down under the running clock (its audio output gone), then
// brought back.
TEST(MidiFailure, SynthesizerClosedMidRunIsSilentAndCanComeBack) {
    FluidSynthMidiOut::Options o;
    o.offline = true;
    FluidSynthMidiOut synth(o);
    SoundingClock c(synth);
    c.tick.openTickDevice();
    ASSERT_TRUE(c.tick.deviceOpen()) << c.boxes.texts.join(' ').toStdString();
    c.startRunning();

    // About 20 ms of sound for every 21 ms of clock: the ticks are heard.
    constexpr int kFrames = 882;
    float heard = 0;
    c.runFor(2100, [&](int t) {
        if (t % 21 == 0)
            heard = std::max(heard, peakOf(synth, kFrames));
    });
    EXPECT_GT(heard, 0.01f);

    synth.close();
    ASSERT_FALSE(synth.isOpen());
    float afterClose = 0;
    c.runFor(4900, [&](int t) {
        if (t % 21 == 0)
            afterClose = std::max(afterClose, peakOf(synth, kFrames));
    });
    EXPECT_EQ(afterClose, 0.0f);
    EXPECT_TRUE(c.tick.deviceOpen()); // nobody told the program, and nothing else is needed
    EXPECT_TRUE(c.boxes.texts.isEmpty());

    ASSERT_EQ(synth.open(), 0);
    float back = 0;
    c.runFor(3000, [&](int t) {
        if (t % 21 == 0)
            back = std::max(back, peakOf(synth, kFrames));
    });
    EXPECT_GT(back, 0.01f);
    c.expectBeatsOnTheGrid(20);

    c.tick.closeTickDevice();
    EXPECT_FALSE(synth.isOpen());
}

} // namespace
} // namespace pv2

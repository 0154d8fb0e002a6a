// The MIDI output failing at any moment: the program goes on, and so does the clock.
#include "../beat/clock_fakes.h"
#include "audio/fluidsynth_midi_out.h"
#include "audio/midi_out.h"
#include "sound/tick_sound.h"
#include "support/recording_message_boxes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace pv2 {
namespace {

// A device that may refuse to open and may vanish later: from then on every send fails
// inside the platform (and is counted) while the program is told nothing.
class FlakyMidiOut : public MidiOut {
public:
    int openResult = 0;
    bool gone = false;
    int closes = 0, delivered = 0, lost = 0;

    int open() override { return openResult; }
    void shortMsg(uint32_t) override { (gone ? lost : delivered)++; }
    void shortMsgAt(uint32_t packed, uint32_t) override { shortMsg(packed); }
    void close() override { ++closes; }
};

// The clock at tempo 120, "1111", its ticks going to a TickSound.
struct SoundingClock : test::ClockRig {
    explicit SoundingClock(MidiOut &midi) : tick(midi, boxes) {
        counter.set(0xFFFFFFFFu - 4000); // wraps during the run too
        tick.openTickDevice();
    }
    RecordingMessageBoxes boxes;
    TickSound tick;

    void sendTick(bool downbeat, uint32_t due) override { tick.sendTick(downbeat, due); }

    // Every 7 ms, so the firings fall at every phase of the beat; `at` runs before each one.
    template <typename F> void run(int ms, F at) {
        for (int t = 0; t < ms; t += 7) {
            at(t);
            fireAt(counter.now() + 7);
        }
    }
    // Every beat where the grid puts it, none lost, none doubled.
    void expectBeatsOnTheGrid(uint32_t start, size_t count) const {
        ASSERT_EQ(beatStarts.size(), count);
        for (size_t i = 0; i < count; ++i)
            EXPECT_EQ(beatStarts[i], start + 500u * static_cast<uint32_t>(i + 1)) << i;
        EXPECT_TRUE(active);
    }
};

TEST(MidiFailure, OpenFailingTellsOnceAndTheClockRunsSilently) {
    FlakyMidiOut midi;
    midi.openResult = 2;
    SoundingClock c(midi);
    EXPECT_EQ(c.boxes.texts,
              QStringList{QStringLiteral(
                  "MIDIデバイスオープンに失敗しました。サウンド機能は無効となります。")});
    EXPECT_FALSE(c.tick.deviceOpen());
    c.start();
    const uint32_t start = c.counter.now();
    c.run(10000, [](int) {});
    c.expectBeatsOnTheGrid(start, 20);
    EXPECT_EQ(midi.delivered + midi.lost, 0);
    EXPECT_EQ(c.boxes.texts.size(), 1);
    c.tick.closeTickDevice(); // shutting down without a device
    EXPECT_EQ(midi.closes, 0);
}

// The device vanishes right on a beat, between the tick and the beat, or in mid-flight.
TEST(MidiFailure, DeviceVanishingAtAnyMomentNeverStopsTheClock) {
    for (int vanishAt : {0, 1003, 1456, 1493, 1750}) {
        SCOPED_TRACE(vanishAt);
        FlakyMidiOut midi;
        SoundingClock c(midi);
        ASSERT_TRUE(c.tick.deviceOpen());
        c.start();
        const uint32_t start = c.counter.now();
        c.run(10000, [&](int t) { midi.gone = t >= vanishAt; });
        c.expectBeatsOnTheGrid(start, 20);
        // The program change, then no tick on the first beat after the start and a note-on and
        // a note-off on each later one, whether they reach a device or not.
        EXPECT_EQ(midi.delivered + midi.lost, 1 + 2 * 19);
        EXPECT_GT(midi.lost, 0);
        EXPECT_TRUE(c.boxes.texts.isEmpty()); // a failed send is not reported
        c.tick.closeTickDevice();
        c.tick.closeTickDevice();
        EXPECT_EQ(midi.closes, 1);
    }
}

// The built-in synthesizer shut down under the running clock (its audio output gone), then
// brought back.
TEST(MidiFailure, SynthesizerClosedMidRunIsSilentAndCanComeBack) {
    FluidSynthMidiOut::Options o;
    o.offline = true;
    o.tickNotes = {TickSound::kOrdinaryNote, TickSound::kDownbeatNote};
    FluidSynthMidiOut synth(o);
    SoundingClock c(synth);
    ASSERT_TRUE(c.tick.deviceOpen()) << c.boxes.texts.join(' ').toStdString();
    c.start();
    const uint32_t start = c.counter.now();
    // About 20 ms of sound for every 21 ms of clock; returns the loudest sample heard.
    auto listen = [&](int ms) {
        float peak = 0;
        std::vector<float> l(882), r(882);
        c.run(ms, [&](int t) {
            if (t % 21 != 0)
                return;
            synth.render(l.data(), r.data(), 882);
            for (size_t i = 0; i < l.size(); ++i)
                peak = std::max({peak, std::fabs(l[i]), std::fabs(r[i])});
        });
        return peak;
    };
    EXPECT_GT(listen(2100), 0.01f);
    synth.close();
    ASSERT_FALSE(synth.isOpen());
    EXPECT_EQ(listen(4900), 0.0f);
    EXPECT_TRUE(c.tick.deviceOpen()); // nobody told the program, and nothing else is needed
    EXPECT_TRUE(c.boxes.texts.isEmpty());
    ASSERT_EQ(synth.open(), 0);
    EXPECT_GT(listen(3000), 0.01f);
    c.expectBeatsOnTheGrid(start, 20);
    c.tick.closeTickDevice();
    EXPECT_FALSE(synth.isOpen());
}

} // namespace
} // namespace pv2

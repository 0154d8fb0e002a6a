// The MIDI output failing to open or vanishing: the program goes on, and so does the clock.
#include "../beat/clock_fakes.h"
#include "sound/tick_sound.h"
#include "support/recording_message_boxes.h"
#include "support/recording_midi_out.h"

#include <gtest/gtest.h>

#include <vector>

namespace pv2 {
namespace {

// The clock at tempo 120, "1111", started with its ticks going to a TickSound.
struct SoundingClock : test::ClockRig {
    explicit SoundingClock(MidiOut &midi) : tick(midi, boxes) {
        counter.set(0xFFFFFFFFu - 4000); // wraps during the run too
        tick.openTickDevice();
        start();
        begin = counter.now();
    }
    RecordingMessageBoxes boxes;
    TickSound tick;
    uint32_t begin;

    void sendTick(bool downbeat, uint32_t due) override { tick.sendTick(downbeat, due); }

    // Every 7 ms, so the firings fall at every phase of the beat.
    void run(int ms) {
        for (int t = 0; t < ms; t += 7)
            fireAt(counter.now() + 7);
    }
    // Ten seconds' beats where the grid puts them, none lost, none doubled.
    void expectBeatsOnTheGrid() const {
        ASSERT_EQ(beatStarts.size(), 20u);
        for (uint32_t i = 0; i < 20; ++i)
            EXPECT_EQ(beatStarts[i], begin + 500 * (i + 1)) << i;
        EXPECT_TRUE(active);
    }
};

// Failing to open is told once and nothing is sent. A device vanishing later fails inside the
// platform, and the program is told nothing: it goes on sending as to the open one.
TEST(MidiFailure, TheClockRunsWhetherTheDeviceOpensOrNot) {
    for (int openResult : {2, 0}) {
        SCOPED_TRACE(openResult);
        RecordingMidiOut midi(nullptr, openResult);
        SoundingClock c(midi);
        EXPECT_EQ(c.tick.deviceOpen(), openResult == 0);
        c.run(10000);
        c.expectBeatsOnTheGrid();
        // The program change, then no tick on the first beat after the start and a note-on and
        // a note-off on each later one.
        EXPECT_EQ(midi.events.size(), openResult ? 0u : 1 + 2 * 19u);
        EXPECT_EQ(c.boxes.texts,
                  openResult ? QStringList{QStringLiteral("MIDIデバイスオープンに失敗しました。"
                                                          "サウンド機能は無効となります。")}
                             : QStringList{});
        c.tick.closeTickDevice(); // both shut-down paths
        c.tick.closeTickDevice();
        EXPECT_EQ(midi.closeCount, openResult ? 0 : 1);
    }
}

} // namespace
} // namespace pv2

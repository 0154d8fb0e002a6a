// The MIDI output failing to open or vanishing: the program goes on, and so does the clock.
#include "../beat/clock_fakes.h"
#include "sound/tick_sound.h"
#include "support/recording_message_boxes.h"
#include "support/recording_midi_out.h"

#include <gtest/gtest.h>

namespace pv2 {
namespace {

struct SoundingClock : test::ClockRig {
    void sendTick(bool downbeat, uint32_t due) override { tick.sendTick(downbeat, due); }
    RecordingMidiOut midi;
    RecordingMessageBoxes boxes;
    TickSound tick{midi, boxes};
};

// The clock at tempo 120, "1111", with its ticks going to a TickSound. Failing to open is told
// once and nothing is sent. A device vanishing later fails inside the platform, and the program
// is told nothing: it goes on sending as to the open one.
TEST(MidiFailure, TheClockRunsWhetherTheDeviceOpensOrNot) {
    for (int openResult : {2, 0}) {
        SCOPED_TRACE(openResult);
        SoundingClock c;
        c.midi.openResult = openResult;
        c.counter.set(0xFFFFFFFFu - 4000); // wraps during the run too
        c.tick.openTickDevice();
        c.start();
        const uint32_t begin = c.counter.now();
        for (int t = 0; t < 10000; t += 7) // firings at every phase of the beat
            c.fireAt(c.counter.now() + 7);
        // Ten seconds' beats where the grid puts them, none lost, none doubled.
        ASSERT_EQ(c.beatStarts.size(), 20u);
        for (uint32_t i = 0; i < 20; ++i)
            EXPECT_EQ(c.beatStarts[i], begin + 500 * (i + 1)) << i;
        // The program change, then no tick on the first beat after the start and a note-on and
        // a note-off on each later one.
        EXPECT_EQ(c.midi.events.size(), openResult ? 0u : 1 + 2 * 19u);
        EXPECT_EQ(c.boxes.texts,
                  openResult ? QStringList{QStringLiteral("MIDIデバイスオープンに失敗しました。"
                                                          "サウンド機能は無効となります。")}
                             : QStringList{});
        c.tick.closeTickDevice(); // both shut-down paths
        c.tick.closeTickDevice();
        EXPECT_EQ(c.midi.closeCount, openResult ? 0 : 1);
    }
}

} // namespace
} // namespace pv2

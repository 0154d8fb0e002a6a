#include "clock_fakes.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace pv2;
using namespace pv2::test;

TEST(SteadyClock, TicksComeFiftyMsAheadWithTheDownbeatNoteBeforeBeatZero) {
    const struct {
        const char *pattern, *ticks; // ms after START, o or D for the downbeat note
    } cases[] = {{"1111", "950o 1450o 1950o 2450D "},
                 {"11", "950o 1450D 1950o 2450D "},
                 {"1", "950o 1450o 1950o 2450o "}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pattern);
        ClockRig rig;
        rig.pattern = c.pattern;
        rig.start();
        const uint32_t t0 = rig.counter.now();
        rig.runFor(2600);
        // The very first interval after program start has no tick; each is sent when due.
        std::string got;
        for (const Tick &t : rig.ticks)
            got += std::to_string(t.due - t0) + (t.downbeat ? 'D' : 'o') +
                   (t.sentAt == t.due ? " " : "(late) ");
        EXPECT_EQ(got, c.ticks);
    }
}

TEST(SteadyClock, SoundOffSendsNothingAndKeepsTheTickPending) {
    ClockRig rig;
    rig.start();
    rig.runFor(1000);
    rig.ticks.clear();
    rig.st.soundOn = false;
    rig.runFor(460); // past the tick moment of the next beat
    EXPECT_TRUE(rig.ticks.empty());
    rig.st.soundOn = true;
    rig.runFor(1);
    // Switched back on inside the last 50 ms: that beat's tick sounds late, at once.
    EXPECT_EQ(rig.ticks.size(), 1u);
}

TEST(SteadyClock, StopCompletesOnTheNextBeatAtRestAndALaterStartTicksAtOnce) {
    ClockRig rig;
    rig.start();
    rig.runFor(700); // into beat 0's interval
    rig.requestStop();
    const auto ticksBefore = rig.ticks.size();
    rig.runFor(200);
    EXPECT_TRUE(rig.active) << "the interval runs to its end";
    rig.runFor(1000);
    EXPECT_TRUE(!rig.active && rig.memos == 1 && !rig.st.stopRequested && rig.st.curBeat == 1);
    EXPECT_EQ(rig.ticks.size(), ticksBefore + 1) << "the tick of the stopping beat still sounds";
    EXPECT_EQ(rig.balls.back(), QPoint(rig.st.beats[1].x, rig.height - 44));
    // Unlike the first run, a later one ticks the downbeat that ends its first interval.
    rig.start();
    rig.runFor(480);
    ASSERT_EQ(rig.ticks.size(), ticksBefore + 2);
    EXPECT_TRUE(rig.ticks.back().downbeat);
    EXPECT_EQ(rig.ticks.back().due, rig.st.beatStartTick + 450);
}

TEST(SteadyClock, PendingScheduleIsAdoptedAtTheBeatOnly) {
    ClockRig rig;
    rig.start();
    rig.runFor(1100);
    rig.applyTempo("60");
    EXPECT_EQ(rig.st.beats[2].ms, 500);
    rig.runFor(395); // beat 2 noticed at 1490 (10 ms early)
    EXPECT_TRUE(rig.st.beats[2].ms == 1000 && !rig.st.nextBeatsPending);
    const uint32_t start = rig.st.beatStartTick;
    rig.runFor(1000);
    EXPECT_EQ(rig.st.beatStartTick, start + 1000);
}

TEST(SteadyClock, FlightFollowsTheArcAndTreatsAnEarlyBeatAsItsStart) {
    ClockRig rig;
    rig.start();
    const uint32_t t0 = rig.counter.now();
    const BeatSlot s = rig.st.beats[3];
    rig.fireAt(t0 + 250); // half way: top of the arc
    EXPECT_EQ(rig.balls.back(), QPoint(roundToInt16(s.x + 250 * s.vx), rig.height - 44 - s.height));
    rig.fireAt(t0 + 495); // beat noticed 5 ms early; the next flight has not begun
    rig.fireAt(t0 + 497);
    EXPECT_EQ(rig.balls.back(), QPoint(rig.st.beats[0].x, rig.height - 44));
}

TEST(SteadyClock, AStalledMachineStartsAgainAndAStartResynchronisesTheSlot) {
    ClockRig rig;
    rig.pattern = "111111";
    rig.start();
    rig.runFor(600);
    rig.fireAt(rig.counter.now() + 5000); // suspended for five seconds
    EXPECT_EQ(rig.st.beatStartTick, rig.counter.now());
    const int beat = rig.st.curBeat;
    rig.runFor(100);
    EXPECT_EQ(rig.st.curBeat, beat) << "no burst of missed beats";
    rig.runFor(1800);
    rig.requestStop();
    rig.runFor(600);
    rig.pattern = "11";
    rig.start();
    EXPECT_TRUE(rig.st.curBeat == 1 && rig.clock.slotIndex() == 1);
}

TEST(FluctClock, BeatsVaryWithinBoundsAndStayOnTheirScheduledMoments) {
    ClockRig rig;
    rig.pattern = "1";
    rig.tempoText = "60";
    rig.fluctChecked = true;
    rig.random.values = {0.3f, 0.61f, 0.9f, 0.27f};
    rig.clock.reseedFluct();
    rig.start();
    // The first interval is the plain beat, bouncing in place.
    EXPECT_TRUE(rig.st.beats[0].ms == 1000 && rig.st.beats[0].dx == 0);
    const double W = rig.st.trackWidth;
    uint32_t grid = rig.st.beatStartTick;
    for (size_t i = 1; i <= 300; ++i) {
        grid += static_cast<uint32_t>(rig.st.beats[0].ms);
        while (rig.beatStarts.size() < i)
            rig.fireAt(rig.counter.now() + 23);
        ASSERT_EQ(rig.st.beatStartTick, grid) << i;
        EXPECT_TRUE(rig.st.beats[0].ms >= 700 && rig.st.beats[0].ms <= 1000) << i;
        EXPECT_TRUE(rig.st.beats[1].x >= std::floor(0.15 * W) - 1 &&
                    rig.st.beats[1].x <= std::ceil(0.85 * W) + 1)
            << i;
    }
    for (const auto &t : rig.ticks)
        EXPECT_FALSE(t.downbeat);
}

#include "clock_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

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

// A pattern changed while a tempo waits for its beat: the rebuilt schedule is the one that plays.
TEST(SteadyClock, ARebuildReplacesAPendingSchedule) {
    ClockRig rig;
    rig.start();
    rig.runFor(1100);
    rig.applyTempo("60");
    rig.pattern = "11";
    rig.rebuildBeats();
    const int16_t x = rig.st.beats[1].x;
    rig.runFor(1500);
    EXPECT_EQ(rig.st.beats[1].x, x);
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

// A simulated day: the fake counter jumps from one timer firing to the next.
TEST(SteadyClock, ADayOfTempoAndPatternChangesKeepsEveryBeatOnTheGrid) {
    constexpr int64_t kHour = 3600 * 1000;
    ClockRig rig;
    // Three hours before the 32-bit counter wraps, so the day crosses the wrap once.
    const uint32_t t0 = 0xFFFFFFFFu - static_cast<uint32_t>(3 * kHour);
    rig.counter.set(t0);
    rig.tempoText = "208";
    rig.start();
    std::mt19937 gen(20240501u);
    auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); };
    const char *patterns[] = {"1111", "111", "11", "111111", "3 3 2-", "4-", "11111", "1"};
    const int tempos[] = {208, 200, 216, 180, 240, 96};

    uint32_t grid = t0; // where the current interval began on the grid
    int64_t beats = 0, ticks = 0, changes = 0, elapsed = 0;
    int64_t nextChange = rnd(120000, 300000);
    while (elapsed < 24 * kHour) {
        // Mostly up to 12 ms late, now and then up to 45 ms.
        const int gap = 20 + (rnd(0, 99) == 0 ? rnd(13, 45) : rnd(0, 12));
        elapsed += gap;
        if (elapsed >= nextChange) {
            // Between two firings, as a window event comes: a pattern takes effect at once, a
            // tempo at the next beat.
            if (++changes % 2) {
                rig.pattern = patterns[rnd(0, 7)];
                rig.rebuildBeats();
            } else {
                rig.applyTempo(QString::number(tempos[rnd(0, 5)]));
            }
            nextChange += rnd(120000, 300000);
        }
        const int32_t ms = rig.st.beats[std::clamp<int>(rig.st.curBeat, 0, kMaxBeats - 1)].ms;
        const uint32_t due = grid + static_cast<uint32_t>(ms);
        const uint32_t now = t0 + static_cast<uint32_t>(elapsed);
        rig.beatStarts.clear();
        rig.fireAt(now);
        rig.balls.clear();
        for (const Tick &t : rig.ticks)
            ASSERT_TRUE(t.due == due - 50u && tickDiff(t.sentAt, t.due) >= 0) << "beat " << beats;
        ticks += static_cast<int64_t>(rig.ticks.size());
        rig.ticks.clear();
        const int32_t early = tickDiff(due, now); // > 0 while the beat is not due yet
        if (rig.beatStarts.empty()) {
            ASSERT_GT(early, 10) << "beat missed at beat " << beats;
            continue;
        }
        ++beats;
        ASSERT_LE(early, 10) << "beat noticed too early, beat " << beats;
        grid = due;
        ASSERT_EQ(rig.st.beatStartTick, grid) << "off the grid at beat " << beats;
        // Every pattern here beats evenly, at the tempo the box shows by now.
        ASSERT_EQ(rig.st.beats[rig.st.curBeat].ms, std::lround(60000.0 / rig.tempoText.toInt()))
            << "beat " << beats;
    }
    EXPECT_LT(rig.counter.now(), t0);
    EXPECT_GT(changes, 400);
    // The first beat after the start has no tick; every later beat has exactly one.
    EXPECT_EQ(ticks, beats - 1);
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

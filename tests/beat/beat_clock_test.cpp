#include "clock_fakes.h"

#include <gtest/gtest.h>
#include <random>

using namespace pv2;
using namespace pv2::test;

namespace {

struct BeatEvent {
    uint32_t noticedAt;
    uint32_t gridStart;
    int beat;
};

// Fires the timer with the given period plus random lateness and records each beat.
std::vector<BeatEvent> runBeats(ClockRig &rig, int count, int period, std::mt19937 &gen,
                                int maxLate) {
    std::vector<BeatEvent> out;
    std::uniform_int_distribution<int> late(0, maxLate);
    uint32_t t = rig.counter.now();
    while (static_cast<int>(out.size()) < count) {
        t += static_cast<uint32_t>(period + late(gen));
        const int before = rig.st.curBeat;
        const uint32_t startBefore = rig.st.beatStartTick;
        rig.fireAt(t);
        if (rig.st.curBeat != before || rig.st.beatStartTick != startBefore)
            out.push_back({t, rig.st.beatStartTick, rig.st.curBeat});
    }
    return out;
}

} // namespace

TEST(SteadyClock, TicksComeFiftyMsAheadWithTheDownbeatNoteBeforeBeatZero) {
    ClockRig rig;
    rig.tempoText = "120"; // 500 ms beats
    rig.start();
    const uint32_t t0 = rig.counter.now();
    rig.runFor(2600);
    // The very first interval after program start has no tick.
    ASSERT_GE(rig.ticks.size(), 4u);
    EXPECT_EQ(rig.ticks[0].due, t0 + 1000 - 50);
    EXPECT_EQ(rig.ticks[0].sentAt, t0 + 950);
    const bool expectDown[] = {false, false, false, true};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(rig.ticks[i].due, t0 + 500 * (i + 2) - 50) << i;
        EXPECT_EQ(rig.ticks[i].downbeat, expectDown[i]) << i;
    }
}

TEST(SteadyClock, OneBeatBarNeverUsesTheDownbeatNote) {
    ClockRig rig;
    rig.pattern = "1";
    rig.start();
    rig.runFor(5000);
    ASSERT_FALSE(rig.ticks.empty());
    for (const auto &t : rig.ticks)
        EXPECT_FALSE(t.downbeat);
}

TEST(SteadyClock, FirstRunStartsSilentLaterStartsTickTheFirstDownbeat) {
    ClockRig rig;
    rig.tempoText = "120";
    rig.start();
    rig.runFor(400);
    EXPECT_TRUE(rig.ticks.empty());
    rig.runFor(600); // beat 0 reached
    rig.requestStop();
    rig.runFor(1000);
    ASSERT_FALSE(rig.timer.active);
    rig.ticks.clear();
    rig.start();
    const uint32_t t0 = rig.counter.now();
    rig.runFor(480);
    ASSERT_EQ(rig.ticks.size(), 1u);
    EXPECT_TRUE(rig.ticks[0].downbeat);
    EXPECT_EQ(rig.ticks[0].due, t0 + 450);
}

TEST(SteadyClock, SoundOffSendsNothingAndKeepsTheTickPending) {
    ClockRig rig;
    rig.tempoText = "120";
    rig.start();
    rig.runFor(1000);
    rig.ticks.clear();
    rig.st.soundOn = false;
    rig.runFor(460); // past the tick moment of the next beat
    EXPECT_TRUE(rig.ticks.empty());
    rig.st.soundOn = true;
    rig.runFor(1);
    // Switched back on inside the last 50 ms: that beat's tick sounds late, at once.
    ASSERT_EQ(rig.ticks.size(), 1u);
}

TEST(SteadyClock, UpbeatColourCoversExactlyTheLastBeatOfTheBar) {
    ClockRig rig;
    rig.upbeat = true;
    rig.tempoText = "120";
    rig.start();
    rig.runFor(5 * 500);
    // Beats 0,1,2,3 then 0 again.
    const std::vector<uint32_t> want = {0x996644, 0x996644, 0x996644, 0xFF6600, 0x996644};
    EXPECT_EQ(rig.view.backgrounds, want);
    rig.upbeat = false;
    rig.runFor(2000);
    EXPECT_EQ(rig.view.backgrounds.size(), want.size());
}

TEST(SteadyClock, StopCompletesOnTheNextBeatAtRestWithTheMemo) {
    ClockRig rig;
    rig.tempoText = "120";
    rig.start();
    rig.runFor(700); // into beat 0's interval
    rig.requestStop();
    const auto ticksBefore = rig.ticks.size();
    rig.runFor(200);
    EXPECT_TRUE(rig.timer.active) << "the interval runs to its end";
    rig.runFor(1000);
    EXPECT_FALSE(rig.timer.active);
    EXPECT_EQ(rig.view.memos, 1);
    EXPECT_FALSE(rig.st.stopRequested);
    EXPECT_EQ(rig.st.curBeat, 1);
    EXPECT_EQ(rig.ticks.size(), ticksBefore + 1) << "the tick of the stopping beat still sounds";
    const auto last = rig.view.balls.back();
    EXPECT_EQ(last.x, rig.st.beats[1].x);
    EXPECT_EQ(last.y, rig.view.height - 44);
}

TEST(SteadyClock, PendingScheduleIsAdoptedAtTheBeatOnly) {
    ClockRig rig;
    rig.tempoText = "120";
    rig.start();
    rig.runFor(1100);
    rig.applyTempo("60");
    EXPECT_EQ(rig.st.beats[2].ms, 500);
    rig.runFor(395); // beat 2 noticed at 1490 (10 ms early)
    EXPECT_EQ(rig.st.beats[2].ms, 1000);
    EXPECT_FALSE(rig.st.nextBeatsPending);
    const uint32_t start = rig.st.beatStartTick;
    rig.runFor(1000);
    EXPECT_EQ(rig.st.beatStartTick, start + 1000);
}

TEST(SteadyClock, FlightFollowsTheArcAndTreatsAnEarlyBeatAsItsStart) {
    ClockRig rig;
    rig.tempoText = "120";
    rig.start();
    const uint32_t t0 = rig.counter.now();
    const BeatSlot s = rig.st.beats[3];
    rig.fireAt(t0 + 250); // half way: top of the arc
    EXPECT_EQ(rig.view.balls.back().x, roundToInt16(s.x + 250 * s.vx));
    EXPECT_EQ(rig.view.balls.back().y, rig.view.height - 44 - s.height);
    rig.fireAt(t0 + 495); // beat noticed 5 ms early; the next flight has not begun
    rig.fireAt(t0 + 497);
    EXPECT_EQ(rig.view.balls.back().x, rig.st.beats[0].x);
    EXPECT_EQ(rig.view.balls.back().y, rig.view.height - 44);
}

TEST(SteadyClock, ElapsedTimeIsRightAcrossTheCounterWrap) {
    ClockRig rig;
    rig.counter.set(0xFFFFFF00u);
    rig.tempoText = "120";
    rig.start();
    const uint32_t t0 = rig.counter.now();
    std::mt19937 gen(1);
    const auto beats = runBeats(rig, 20, 20, gen, 0);
    for (size_t i = 0; i < beats.size(); ++i)
        EXPECT_EQ(beats[i].gridStart, static_cast<uint32_t>(t0 + 500u * (i + 1))) << i;
}

TEST(SteadyClock, Tempo208WithA20MsTimerKeeps288MsBeats) {
    ClockRig rig;
    rig.tempoText = "208";
    rig.start();
    const uint32_t t0 = rig.st.beatStartTick;
    std::mt19937 gen(2);
    const auto beats = runBeats(rig, 1000, 20, gen, 0);
    EXPECT_EQ(beats.back().gridStart - t0, 288u * 1000u);
}

TEST(SteadyClock, BeatsStayOnTheGridOverTenThousandBeatsAtRandomTimerPhases) {
    ClockRig rig;
    rig.tempoText = "132";
    rig.start();
    const uint32_t t0 = rig.st.beatStartTick;
    std::mt19937 gen(3);
    const int period = 20;
    const auto beats = runBeats(rig, 10000, period, gen, 7);
    const uint32_t T = static_cast<uint32_t>(rig.st.beats[0].ms);
    for (size_t i = 0; i < beats.size(); ++i) {
        const uint32_t grid = t0 + T * static_cast<uint32_t>(i + 1);
        ASSERT_EQ(beats[i].gridStart, grid) << i;
        const int32_t err = tickDiff(beats[i].noticedAt, grid);
        ASSERT_GE(err, -10) << i;
        ASSERT_LE(err, period + 7) << i;
    }
}

TEST(SteadyClock, AStalledMachineStartsAgainInsteadOfRacing) {
    ClockRig rig;
    rig.tempoText = "120";
    rig.start();
    rig.runFor(600);
    rig.fireAt(rig.counter.now() + 5000); // suspended for five seconds
    const uint32_t restarted = rig.st.beatStartTick;
    EXPECT_EQ(restarted, rig.counter.now());
    const int beat = rig.st.curBeat;
    rig.runFor(100);
    EXPECT_EQ(rig.st.curBeat, beat) << "no burst of missed beats";
}

TEST(SteadyClock, StartResynchronisesTheSlotWithTheCurrentBeat) {
    ClockRig rig;
    rig.pattern = "111111";
    rig.tempoText = "120";
    rig.start();
    rig.runFor(2500);
    rig.requestStop();
    rig.runFor(600);
    rig.pattern = "11";
    rig.start();
    EXPECT_EQ(rig.clock.slotIndex(), rig.st.curBeat);
    EXPECT_EQ(rig.st.curBeat, 1);
}

TEST(FluctClock, MapStepsWithoutTheRandomTerm) {
    EXPECT_DOUBLE_EQ(BeatClock::fluctNext(0.25, 0.0f), 0.375);
    EXPECT_DOUBLE_EQ(BeatClock::fluctNext(0.75, 0.0f), 0.625);
    EXPECT_DOUBLE_EQ(BeatClock::fluctNext(0.5, 0.0f), 0.0);
    // The random term moves the state off the fixed points.
    EXPECT_GT(BeatClock::fluctNext(0.0, 0.5f), 0.0);
    EXPECT_LT(BeatClock::fluctNext(1.0, 0.5f), 1.0);
}

TEST(FluctClock, BeatsVaryWithinBoundsAndStayOnTheirScheduledMoments) {
    ClockRig rig;
    rig.pattern = "1";
    rig.tempoText = "60";
    rig.fluctChecked = true;
    rig.random.values = {0.3f, 0.61f, 0.9f, 0.27f};
    rig.clock.reseedFluct();
    rig.start();
    const uint32_t t0 = rig.counter.now();
    const double W = rig.st.trackWidth;
    // The first interval is the plain beat, bouncing in place at the centre.
    EXPECT_EQ(rig.st.beats[0].ms, 1000);
    EXPECT_EQ(rig.st.beats[0].dx, 0);
    uint32_t expectedStart = t0;
    std::mt19937 gen(4);
    for (int i = 0; i < 300; ++i) {
        const auto before = rig.st.beatStartTick;
        const int32_t len = rig.st.beats[0].ms;
        runBeats(rig, 1, 20, gen, 5);
        EXPECT_EQ(rig.st.beatStartTick, before + static_cast<uint32_t>(len));
        expectedStart += static_cast<uint32_t>(len);
        ASSERT_EQ(rig.st.beatStartTick, expectedStart);
        EXPECT_GE(rig.st.beats[0].ms, 700);
        EXPECT_LE(rig.st.beats[0].ms, 1000);
        EXPECT_GE(rig.st.beats[1].x, std::floor(0.15 * W) - 1);
        EXPECT_LE(rig.st.beats[1].x, std::ceil(0.85 * W) + 1);
        EXPECT_EQ(rig.st.nextBeatTick, rig.st.beatStartTick + rig.st.beats[0].ms);
    }
    for (const auto &t : rig.ticks)
        EXPECT_FALSE(t.downbeat);
}

TEST(FluctClock, GroupedOneBeatPatternStillHasABase) {
    ClockRig rig;
    rig.pattern = "1-";
    rig.tempoText = "120";
    rig.fluctChecked = true;
    rig.start();
    rig.runFor(3000);
    EXPECT_EQ(rig.st.fluctBeatMs, 500);
    EXPECT_GT(rig.st.beats[0].ms, 0);
    EXPECT_TRUE(std::isfinite(rig.st.beats[0].vx));
    EXPECT_TRUE(std::isfinite(rig.st.beats[0].lift));
}

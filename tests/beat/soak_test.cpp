// A simulated day of running: the fake counter jumps from one timer firing to the next, so 24
// hours take a few seconds.
#include "clock_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>

using namespace pv2;
using namespace pv2::test;

namespace {

constexpr int64_t kHour = 3600 * 1000;

TEST(Soak, TwentyFourHoursAtRandomTimerPhasesKeepEveryBeatOnTheGrid) {
    ClockRig rig;
    // Three hours before the 32-bit counter wraps, so the day crosses the wrap once.
    const uint32_t t0 = 0xFFFFFFFFu - static_cast<uint32_t>(3 * kHour);
    rig.counter.set(t0);
    rig.tempoText = QStringLiteral("208");
    rig.pattern = QStringLiteral("1111");
    rig.start(20);
    ASSERT_EQ(rig.st.beats[0].ms, 288);

    std::mt19937 gen(20240501u);
    std::uniform_int_distribution<int> usualLate(0, 12);
    std::uniform_int_distribution<int> rare(0, 99);
    std::uniform_int_distribution<int> busyLate(13, 45);
    std::uniform_int_distribution<int64_t> changeGap(2 * 60 * 1000, 5 * 60 * 1000);
    const QString patterns[] = {"1111", "111", "11", "111111", "3 3 2-", "4-", "11111", "1"};
    const QString tempos[] = {"208", "200", "216", "180", "240", "208", "96"};
    std::uniform_int_distribution<size_t> pickPattern(0, std::size(patterns) - 1);
    std::uniform_int_distribution<size_t> pickTempo(0, std::size(tempos) - 1);

    // Beat lengths any schedule of this run may hold (every pattern above beats evenly).
    std::set<int32_t> lengths;
    for (const QString &t : tempos)
        lengths.insert(static_cast<int32_t>(std::lround(60000.0 / t.toInt())));

    uint32_t grid = t0; // where the current interval began on the grid
    int64_t beats = 0;
    int64_t ticks = 0;
    int64_t patternChanges = 0, tempoChanges = 0;
    double expectedBeats = 0; // time over the beat length, summed
    int playing = 208;        // the tempo the beats in progress were built for
    int pending = 0;          // a tempo waiting for the next beat, 0 if none
    int64_t elapsed = 0;
    int64_t nextChange = changeGap(gen);
    bool changePattern = true;
    const int64_t day = 24 * kHour;

    while (elapsed < day) {
        const int gap = 20 + (rare(gen) == 0 ? busyLate(gen) : usualLate(gen));
        elapsed += gap;
        expectedBeats += gap / std::round(60000.0 / playing);

        if (elapsed >= nextChange) {
            // A change lands between two firings, as a window event would.
            if (changePattern) {
                // Takes effect at once, with the tempo the box shows by now.
                rig.pattern = patterns[pickPattern(gen)];
                rig.rebuildBeats();
                playing = rig.tempoText.toInt();
                pending = 0;
                ++patternChanges;
            } else {
                const QString &t = tempos[pickTempo(gen)];
                rig.applyTempo(t);
                pending = t.toInt();
                ++tempoChanges;
            }
            changePattern = !changePattern;
            nextChange += changeGap(gen);
        }

        const int slot = std::clamp<int>(rig.st.curBeat, 0, kMaxBeats - 1);
        const int32_t ms = rig.st.beats[slot].ms;
        const uint32_t due = grid + static_cast<uint32_t>(ms);
        const uint32_t now = t0 + static_cast<uint32_t>(elapsed);
        const int16_t beatBefore = rig.st.curBeat;
        const uint32_t startBefore = rig.st.beatStartTick;
        rig.fireAt(now);
        rig.view.balls.clear();

        for (const Tick &t : rig.ticks) {
            ++ticks;
            ASSERT_EQ(t.due, due - 50u) << "tick " << ticks;
            ASSERT_GE(tickDiff(t.sentAt, t.due), 0) << "tick " << ticks;
        }
        rig.ticks.clear();

        const bool beat = rig.st.curBeat != beatBefore || rig.st.beatStartTick != startBefore;
        const int32_t early = tickDiff(due, now); // > 0 while the beat is not due yet
        if (!beat) {
            ASSERT_GT(early, 10) << "beat missed at beat " << beats;
            continue;
        }
        ++beats;
        ASSERT_LE(early, 10) << "beat noticed too early, beat " << beats;
        ASSERT_TRUE(lengths.count(ms)) << ms;
        grid = due;
        ASSERT_EQ(rig.st.beatStartTick, grid) << "off the grid at beat " << beats;
        if (pending != 0) {
            playing = pending;
            pending = 0;
        }
        ASSERT_EQ(rig.st.beats[rig.st.curBeat].ms, std::lround(60000.0 / playing))
            << "beat " << beats;
    }

    // The counter wrapped once, and the day really was a day of the tempi played.
    EXPECT_LT(rig.counter.now(), t0);
    EXPECT_GT(patternChanges, 200);
    EXPECT_GT(tempoChanges, 200);
    // The first beat after program start has no tick; every later beat has exactly one.
    EXPECT_EQ(ticks, beats - 1);
    // Each change may shift the count by a fraction of a beat (an interval in progress, or one
    // finished on a record of the longer bar), never by more.
    EXPECT_NEAR(static_cast<double>(beats), expectedBeats,
                static_cast<double>(patternChanges + tempoChanges));
}

} // namespace

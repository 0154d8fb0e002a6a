#include "beat/practice.h"

#include <gtest/gtest.h>

namespace pv2::test {
namespace {

using Mute = PracticeSettings::Mute;

PracticeSettings practice(int count, Mute mute, int play, int muteBars, int step = 0, int every = 1,
                          int target = 0) {
    return {true, count, mute, play, muteBars, muteBars, false, step, every, target};
}

// Bars from START: C count-in, P played, M muted; the tempo each plays at.
TEST(PracticeRun, EachBarIsCountedInPlayedOrMutedAtItsLadderTempo) {
    struct Case {
        const char *name;
        PracticeSettings p;
        const char *bars;
        std::vector<int> tempi;
    } cases[] = {
        {"off", PracticeSettings{}, "PPPP", {80, 80, 80, 80}},
        {"count 1, play 2 mute 1, +5 every 2 to 95",
         practice(1, Mute::Bars, 2, 1, 5, 2, 95),
         "CPPMPPMPPM",
         {80, 80, 80, 85, 85, 90, 90, 95, 95, 95}},
        {"count 2, play 1 mute 3, -10 every bar to 50",
         practice(2, Mute::Bars, 1, 3, -10, 1, 50),
         "CCPMMMPMMM",
         {80, 80, 80, 70, 60, 50, 50, 50, 50, 50}},
        {"a target behind the start holds it",
         practice(0, Mute::Off, 4, 4, 5, 1, 60),
         "PPPP",
         {80, 80, 80, 80}},
        {"out of range: count 2, play 16, mute 1",
         practice(7, Mute::Bars, 99, -3),
         "CCPPPP",
         {80, 80, 80, 80, 80, 80}},
    };
    for (const Case &c : cases) {
        PracticeRun run(c.p, 80);
        std::string bars;
        std::vector<int> tempi;
        for (size_t b = 0; b < std::strlen(c.bars); ++b) {
            const PracticeRun::BarStart &s = b == 0 ? run.bar() : run.land(true);
            bars += s.countIn ? 'C' : (s.muted ? 'M' : 'P');
            tempi.push_back(s.tempo);
            EXPECT_TRUE(s.showBall) << c.name;
        }
        EXPECT_EQ(bars, c.bars) << c.name;
        EXPECT_EQ(tempi, c.tempi) << c.name;
    }
}

// The tick for a landing is decided before the landing: one ahead of a bar line belongs to the
// bar that line begins. Count-in ticks all sound the downbeat; muted bars send nothing.
TEST(PracticeRun, TicksFollowTheBarOfTheirLanding) {
    PracticeSettings p = practice(1, Mute::Bars, 1, 1);
    p.hideBall = true;
    // "1111" from its first spot (landings 1, 2, 3, then the bar line on 0), and from START,
    // whose lead-in from the last spot lands on the bar line at once.
    struct Case {
        int startSpot;
        const char *heard;
    } cases[] = {{0, "DDDDooo....Dooo."}, {3, "DDDDDooo....Dooo"}};
    for (const Case &c : cases) {
        PracticeRun run(p, 120, 0, c.startSpot == 3);
        std::string heard;
        for (int beat = c.startSpot + 1; beat <= c.startSpot + 16; ++beat) {
            const bool barLine = beat % 4 == 0;
            const PracticeRun::Tick t = run.tick(barLine, barLine);
            heard += !t.sound ? '.' : (t.downbeatSound ? 'D' : 'o');
            const PracticeRun::BarStart &s = run.land(barLine);
            EXPECT_EQ(s.showBall, !s.muted) << beat;
        }
        EXPECT_EQ(heard, c.heard) << c.startSpot;
    }
}

TEST(PracticeRun, AChanceMutesAboutItsShareButNeverTheFirstBarAndTicksAgreeWithLandings) {
    for (int percent : {10, 50, 90}) {
        PracticeRun run(practice(0, Mute::Chance, 1, percent), 100, 1234u);
        int muted = 0;
        const int bars = 2000;
        EXPECT_FALSE(run.bar().muted || run.barState(0).muted);
        for (int b = 1; b <= bars; ++b) {
            const bool tickSounds = run.tick(true, true).sound;
            const bool barMuted = run.land(true).muted;
            EXPECT_EQ(tickSounds, !barMuted) << b;
            muted += barMuted;
        }
        EXPECT_NEAR(muted * 100.0 / bars, percent, 4.0) << percent;
    }
    // Another seed, another sequence.
    PracticeRun a(practice(0, Mute::Chance, 1, 50), 100, 1u),
        b(practice(0, Mute::Chance, 1, 50), 100, 2u);
    int differ = 0;
    for (int i = 1; i < 64; ++i)
        differ += a.barState(i).muted != b.barState(i).muted;
    EXPECT_GT(differ, 0);
}

TEST(PracticeRun, TheTimerEndsOnTheFirstBarLineAtOrAfterItsMinutes) {
    PracticeSettings p{.on = true};
    EXPECT_FALSE(PracticeRun(p, 80).stopsAt(int64_t{1} << 40));
    p.timerMinutes = 2;
    const PracticeRun run(p, 80);
    EXPECT_TRUE(!run.stopsAt(119'999) && run.stopsAt(120'000) && run.stopsAt(121'500));
}

} // namespace
} // namespace pv2::test

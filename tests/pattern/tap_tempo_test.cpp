#include "pattern/tap_tempo.h"

#include <gtest/gtest.h>

#include <vector>

using namespace pv2;

namespace {

// Taps at `start` and then after each gap; returns what each tap after the first reported
// (-1 for none).
std::vector<int> tapGaps(TapTempo &tap, uint32_t start, const std::vector<int32_t> &gaps) {
    EXPECT_EQ(tap.tap(start), std::nullopt);
    std::vector<int> out;
    uint32_t now = start;
    for (int32_t g : gaps) {
        now += static_cast<uint32_t>(g);
        out.push_back(tap.tap(now).value_or(-1));
    }
    return out;
}

TEST(TapTempo, EvenTapsGiveTheTempoFromTheSecondTap) {
    TapTempo tap;
    EXPECT_EQ(tapGaps(tap, 100000, {500, 500, 500, 500, 500}),
              (std::vector<int>{120, 120, 120, 120, 120}));
}

TEST(TapTempo, AveragesTheLastThreeIntervals) {
    TapTempo tap;
    EXPECT_EQ(tapGaps(tap, 100000, {500, 600, 700, 400}), (std::vector<int>{120, 109, 100, 105}));
}

TEST(TapTempo, AverageRoundsHalvesToEven) {
    TapTempo tap;
    // Mean 500.5 becomes 500 (120), not 501 (119).
    EXPECT_EQ(tapGaps(tap, 100000, {500, 501}), (std::vector<int>{120, 120}));
}

TEST(TapTempo, PauseStartsANewSeries) {
    TapTempo tap;
    EXPECT_EQ(tapGaps(tap, 100000, {300, 300, 300, 2001, 1000, 500}),
              (std::vector<int>{200, 200, 200, -1, 60, 80}));
}

TEST(TapTempo, GapOfExactly2000Counts) {
    TapTempo tap;
    EXPECT_EQ(tapGaps(tap, 100000, {2000, 2000}), (std::vector<int>{30, 30}));
}

TEST(TapTempo, FirstTapNeverGivesATempo) {
    // Even when the counter is still small at the first tap.
    TapTempo tap;
    EXPECT_EQ(tap.tap(1000), std::nullopt);
    EXPECT_EQ(tap.tap(1500), 120);
}

TEST(TapTempo, DoubleReportsAreIgnored) {
    TapTempo tap;
    // Same millisecond, then 1 ms later: both ignored; the next gap counts from the last real tap.
    EXPECT_EQ(tapGaps(tap, 100000, {500, 0, 1, 499, 500}),
              (std::vector<int>{120, -1, -1, 120, 120}));
}

TEST(TapTempo, ShortestCountedGapStaysInRange) {
    TapTempo tap;
    EXPECT_EQ(tapGaps(tap, 100000, {2, 2, 2, 2}), (std::vector<int>{30000, 30000, 30000, 30000}));
}

TEST(TapTempo, GapAcrossTheCounterWrap) {
    TapTempo tap;
    EXPECT_EQ(tapGaps(tap, 0xFFFFFF00u, {500, 500}), (std::vector<int>{120, 120}));
}

TEST(TapTempo, CounterGoingBackStartsANewSeries) {
    TapTempo tap;
    EXPECT_EQ(tapGaps(tap, 100000, {500, -5000, 600}), (std::vector<int>{120, -1, 100}));
}

} // namespace

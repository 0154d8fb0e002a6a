#include "beat/calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <utility>

using namespace pv2;

namespace {

constexpr int _ = INT_MIN;               // no tap for this click
constexpr uint32_t kFirst = 0xFFFFF000u; // the counter wraps during the clicks

struct Case {
    const char *name;
    int leadIn; // tap - click, ms, at each lead-in click
    int counted[kCalibrationClicks - kCalibrationLeadIn];
    std::optional<int> expected;
    std::vector<std::pair<int, int>> extra = {}; // further taps: click index, tap - click
};

} // namespace

TEST(Calibration, OffsetIsTheRoundedMeanOfTheGoodTapsAfterTheLeadIn) {
    const std::optional<int> none;
    // clang-format off
    const Case cases[] = {
        //          lead-in  counted clicks
        {"late",          120, {120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120}, 120},
        {"early",         -80, {-80, -80, -80, -80, -80, -80, -80, -80, -80, -80, -80, -80}, -80},
        {"leadIn",       -200, {120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120}, 120},
        {"rounded",         0, { 10,  13,  10,  13,  10,  13,  10,  13,  10,  13,  10,  13}, 12},
        {"missing",         _, {120,   _, 120, 120,   _, 120, 120,   _, 120, 120,   _, 120}, 120},
        {"tooFew",          0, {120, 120, 120, 120, 120, 120, 120,   _,   _,   _,   _,   _}, none},
        {"outlier",         _, {120, 120, 120, 120, 120, 290, 120, 120, 120, 120, 120, 120}, 120},
        {"nearOutlier",     _, {100, 100, 100, 100, 100, 145, 100, 100, 100, 100, 100, 100}, 104},
        {"outlierToFew",    _, {120, 120, 120, 250, 120, 120, 120, 120,   _,   _,   _,   _}, none},
        {"clampLate",     280, {280, 280, 280, 280, 280, 280, 280, 280, 280, 280, 280, 280}, 250},
        {"clampEarly",   -280, {-280,-280,-280,-280,-280,-280,-280,-280,-280,-280,-280,-280}, -250},
        // A click keeps its nearest tap, whichever comes first.
        {"twoTaps",         0, {120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120},
         120, {{5, 160}, {6, 150}}},
        {"twoTapsAreOne",   _, {120, 120, 120, 120, 120, 120, 120,   _,   _,   _,   _,   _},
         none, {{4, 130}}},
        // Half an interval from a click: between two, past the last, before the first.
        {"halfInterval",    _, {270, 270, 270, 270, 270, 270, 270,   _,   _,   _,   _,   _},
         none, {{11, 300}, {15, 300}, {0, -300}, {0, -1000}}},
        {"earlyHalf",       _, {-270,-270,-270,-270,-270,-270,-270,  _,   _,   _,   _,   _},
         none, {{12, -300}}},
    };
    // clang-format on
    for (const Case &c : cases) {
        std::vector<uint32_t> clicks, taps;
        for (int i = 0; i < kCalibrationClicks; ++i) {
            clicks.push_back(kFirst + uint32_t(600 * i));
            const int d = i < kCalibrationLeadIn ? c.leadIn : c.counted[i - kCalibrationLeadIn];
            if (d != _)
                taps.push_back(clicks[i] + uint32_t(d));
        }
        // Taps come in any order: extras alternately before and after the others.
        std::reverse(taps.begin(), taps.end());
        for (size_t k = 0; k < c.extra.size(); ++k) {
            const uint32_t t = clicks[c.extra[k].first] + uint32_t(c.extra[k].second);
            taps.insert(k % 2 ? taps.end() : taps.begin(), t);
        }
        EXPECT_EQ(calibrationOffsetMs(clicks, taps), c.expected) << c.name;
    }
}

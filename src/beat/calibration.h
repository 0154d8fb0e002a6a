#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace pv2 {

// The user taps along with kCalibrationClicks clicks. The first kCalibrationLeadIn clicks (one
// bar of four) only let the user lock in and are not counted.
constexpr int kCalibrationClicks = 16;
constexpr int kCalibrationLeadIn = 4;
// Of the 12 counted clicks, at least this many need a good tap for a result.
constexpr int kCalibrationMinTaps = 8;
// A difference farther than max(this, 4 x the median absolute deviation) from the median
// difference is a slip, not the user's delay.
constexpr int kCalibrationOutlierFloorMs = 50;

// The picture/sound offset in ms from the moments (tick counter, wrap-safe) at which the clicks
// were meant to be heard, evenly spaced, and the moments of the taps, in any order.
// Positive: the user hears the click late. Each tap belongs to the nearest click if closer than
// half the interval; a click keeps only its nearest tap. The result is the rounded
// mean of the kept differences (tap - click), clamped to the offset range; none when too few
// taps are kept.
std::optional<int> calibrationOffsetMs(const std::vector<uint32_t> &clicks,
                                       const std::vector<uint32_t> &taps);

} // namespace pv2

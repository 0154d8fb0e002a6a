#pragma once

#include <array>
#include <cstdint>

namespace pv2 {

// One beat interval: from this beat's landing spot to the next one's.
struct BeatSlot {
    int16_t x = 0;      // left edge of the ball landing on this beat (pixels)
    int16_t dx = 0;     // distance to the next landing spot
    int32_t ms = 0;     // length of the interval
    int16_t height = 0; // peak of the arc above the floor
    double vx = 0;      // dx / ms
    double lift = 0;    // 4 * height / ms
};

constexpr int kMaxBeats = 31;
// The ball's width and height in pixels; the sprite, the schedule and the clock all use it.
constexpr int16_t kBallSize = 44;
using Schedule = std::array<BeatSlot, kMaxBeats>;

} // namespace pv2

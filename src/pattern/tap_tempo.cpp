#include "pattern/tap_tempo.h"

#include "platform/numeric.h"

namespace pv2 {

std::optional<int> TapTempo::tap(uint32_t now) {
    const int32_t gap = tickDiff(now, lastTapTick);
    // The first tap ever, a pause, or a counter that went back starts a new series.
    if (!hasLastTap || gap > kResetGap || gap < 0) {
        hasLastTap = true;
        lastTapTick = now;
        tapCount = 0;
        return std::nullopt;
    }
    if (gap < kMinGap)
        return std::nullopt;

    lastTapTick = now;
    if (tapCount < kMaxIntervals) {
        tapIntervals[tapCount++] = gap;
    } else {
        // Drop the oldest interval.
        for (int i = 0; i + 1 < kMaxIntervals; ++i)
            tapIntervals[i] = tapIntervals[i + 1];
        tapIntervals[kMaxIntervals - 1] = gap;
    }

    int32_t tapTotal = 0;
    for (int i = 0; i < tapCount; ++i)
        tapTotal += tapIntervals[i];
    const int32_t average = roundToInt32(static_cast<double>(tapTotal) / tapCount);
    return 60000 / average;
}

} // namespace pv2

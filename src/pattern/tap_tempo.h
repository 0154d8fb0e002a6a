#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace pv2 {

// Tempo from the mean of the last (up to three) intervals between taps.
class TapTempo {
public:
    // Registers a tap at the tick count `now` (ms); returns the tempo to write into the tempo
    // box, or none when this tap only starts a new series or is ignored.
    std::optional<int> tap(uint32_t now);

    static constexpr int32_t kResetGap = 2000;
    static constexpr int kMaxIntervals = 3;
    // Two reports closer than this are one tap seen twice.
    static constexpr int32_t kMinGap = 2;

private:
    bool hasLastTap = false;
    uint32_t lastTapTick = 0;
    std::array<int32_t, kMaxIntervals> tapIntervals{};
    int tapCount = 0;
};

} // namespace pv2

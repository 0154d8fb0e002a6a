#pragma once

#include <cstdint>

namespace pv2 {

// A 32-bit millisecond counter that wraps after about 49.7 days.
class TickCounter {
public:
    virtual ~TickCounter() = default;
    virtual uint32_t now() = 0;
};

// The clock SteadyTickCounter counts, in nanoseconds: now() is this value divided by a million,
// truncated to 32 bits. Sound placed on the audio clock needs the finer reading.
int64_t steadyClockNs();

class SteadyTickCounter : public TickCounter {
public:
    uint32_t now() override;
};

} // namespace pv2

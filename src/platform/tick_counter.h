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

// Moved by hand in tests.
class FakeTickCounter : public TickCounter {
public:
    explicit FakeTickCounter(uint32_t start = 0) : m_now(start) {}
    uint32_t now() override { return m_now; }
    void set(uint32_t t) { m_now = t; }
    void advance(int32_t ms) { m_now += static_cast<uint32_t>(ms); }

private:
    uint32_t m_now;
};

} // namespace pv2

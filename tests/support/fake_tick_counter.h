#pragma once

#include "platform/tick_counter.h"

#include <cstdint>

namespace pv2 {

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

#include "tick_counter.h"

#include <chrono>

namespace pv2 {

int64_t steadyClockNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

uint32_t SteadyTickCounter::now() {
    return static_cast<uint32_t>(steadyClockNs() / 1'000'000);
}

} // namespace pv2

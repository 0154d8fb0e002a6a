#include "tick_counter.h"

#include <chrono>

namespace pv2 {

uint32_t SteadyTickCounter::now() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(ms);
}

} // namespace pv2

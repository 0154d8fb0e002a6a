#include "support/recording_midi_out.h"

#include "platform/tick_counter.h"

namespace pv2 {

int RecordingMidiOut::open() {
    ++openCount;
    return m_openResult;
}

void RecordingMidiOut::shortMsg(uint32_t packed) {
    events.push_back({packed, stamp(), false, 0});
}

void RecordingMidiOut::shortMsgAt(uint32_t packed, uint32_t dueTick) {
    events.push_back({packed, stamp(), true, dueTick});
}

void RecordingMidiOut::close() {
    ++closeCount;
}

std::vector<uint32_t> RecordingMidiOut::packedMessages() const {
    std::vector<uint32_t> out;
    out.reserve(events.size());
    for (const auto &e : events)
        out.push_back(e.packed);
    return out;
}

uint32_t RecordingMidiOut::stamp() const {
    return m_counter ? m_counter->now() : 0;
}

} // namespace pv2

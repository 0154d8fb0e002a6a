#pragma once

#include "audio/midi_out.h"
#include "platform/tick_counter.h"

#include <cstdint>
#include <vector>

namespace pv2 {

// Remembers every message with the counter value at which it was sent, and every timer period
// the backend is told of; says how long after its due moment a timed message is heard.
class RecordingMidiOut : public MidiOut {
public:
    struct Event {
        uint32_t packed;
        uint32_t tick;
        bool timed;
        uint32_t dueTick;
    };

    explicit RecordingMidiOut(TickCounter *counter = nullptr, int openResult = 0)
        : m_counter(counter), m_openResult(openResult) {}

    int open() override {
        ++openCount;
        return m_openResult;
    }
    void shortMsg(uint32_t packed) override { events.push_back({packed, stamp(), false, 0}); }
    void shortMsgAt(uint32_t packed, uint32_t due) override {
        events.push_back({packed, stamp(), true, due});
    }
    void close() override { ++closeCount; }
    void setTimerPeriod(int periodMs) override { timerPeriods.push_back(periodMs); }
    int delayMs() const override { return delay; }
    void holdAwake(bool hold) override { heldAwake = hold; }
    void setTickNotes(const std::vector<int> &notes) override { tickNotes = notes; }

    std::vector<uint32_t> packedMessages() const {
        std::vector<uint32_t> out;
        for (const auto &e : events)
            out.push_back(e.packed);
        return out;
    }
    void clear() { events.clear(); }

    std::vector<Event> events;
    int openCount = 0;
    int closeCount = 0;
    std::vector<int> timerPeriods;
    int delay = 0;
    bool heldAwake = false;
    std::vector<int> tickNotes;

private:
    uint32_t stamp() const { return m_counter ? m_counter->now() : 0; }
    TickCounter *m_counter;
    int m_openResult;
};

} // namespace pv2

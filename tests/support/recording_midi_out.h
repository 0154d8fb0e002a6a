#pragma once

#include "audio/midi_out.h"

#include <cstdint>
#include <vector>

namespace pv2 {

// Remembers every message and every timer period the backend is told of; says how long after its
// due moment a timed message is heard.
class RecordingMidiOut : public MidiOut {
public:
    struct Event {
        uint32_t packed;
        bool timed;
        uint32_t dueTick;
    };

    int open() override {
        ++openCount;
        return openResult;
    }
    void shortMsg(uint32_t packed) override { events.push_back({packed, false, 0}); }
    void shortMsgAt(uint32_t packed, uint32_t due) override {
        events.push_back({packed, true, due});
    }
    void close() override { ++closeCount; }
    void setTimerPeriod(int periodMs) override { timerPeriods.push_back(periodMs); }
    int delayMs() const override { return delay; }
    void holdAwake(bool hold) override { heldAwake = hold; }
    void keepSounds(bool keep) override { soundsKept.push_back(keep); }
    void setTickNotes(const std::vector<int> &notes) override { tickNotes = notes; }

    std::vector<uint32_t> packedMessages() const {
        std::vector<uint32_t> out;
        for (const auto &e : events)
            out.push_back(e.packed);
        return out;
    }
    void clear() { events.clear(); }

    std::vector<Event> events;
    int openResult = 0, openCount = 0, closeCount = 0;
    std::vector<int> timerPeriods, tickNotes;
    int delay = 0;
    bool heldAwake = false;
    std::vector<bool> soundsKept;
};

} // namespace pv2

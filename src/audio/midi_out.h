#pragma once

#include <cstdint>
#include <vector>

namespace pv2 {

// Short MIDI messages packed as status + 256 * data1 + 65536 * data2. Called from the UI thread;
// a backend with a thread of its own states how it reaches it.
class MidiOut {
public:
    virtual ~MidiOut() = default;
    // 0 on success, like the platform's own open call.
    virtual int open() = 0;
    virtual void shortMsg(uint32_t packed) = 0;
    // A message meant to sound at the given tick-counter moment. Backends without a clock
    // of their own send it at once.
    virtual void shortMsgAt(uint32_t packed, uint32_t dueTick) {
        (void)dueTick;
        shortMsg(packed);
    }
    virtual void close() = 0;
    // The beat timer's period: timed messages may arrive up to that late, and a backend that
    // delays them to absorb it needs to know.
    virtual void setTimerPeriod(int periodMs) { (void)periodMs; }
    // How long after its due moment a timed message is heard; 0 for a backend that sends at once.
    virtual int delayMs() const { return 0; }
    // From a sound's rendering to its being heard, as far as the backend knows.
    virtual int outputLatencyMs() const { return 0; }
    // While a run lasts the output stays awake, and a sleeping one starts now so that the first
    // tick is on time: waking again takes the clock time to settle, and a slow beat or a silent
    // bar would let it sleep between ticks.
    virtual void holdAwake(bool hold) { (void)hold; }
    // While a window that plays notes of its own is open, a backend that frees its instruments
    // when nothing sounds keeps them ready, so that the first note does not wait for them.
    virtual void keepSounds(bool keep) { (void)keep; }
    // The percussion notes a backend may prepare at its next open to place them exactly.
    virtual void setTickNotes(const std::vector<int> &notes) { (void)notes; }
};

constexpr uint32_t packMidi(uint32_t status, uint32_t data1, uint32_t data2 = 0) {
    return status + 256 * data1 + 65536 * data2;
}

} // namespace pv2

#pragma once

#include "audio/audio_clock_map.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace pv2 {

// Short MIDI messages waiting for their frame: posted on one thread (the UI's), taken block by
// block on the audio thread. They pass through a fixed ring that each side advances with one
// atomic store, so neither ever waits for the other, and nothing allocates after construction.
class TimedMessageQueue {
public:
    struct Placed {
        uint32_t packed;
        int offset;      // frames into the block
        int64_t late{0}; // frames by which its own frame had already passed
    };

    explicit TimedMessageQueue(size_t capacity = 256);

    // False when the queue is full and the message was dropped. The posting thread only.
    bool post(uint32_t packed, int64_t dueNs);
    // Only while nothing takes (the output stopped).
    void clear();

    // The messages that sound in the block of frames [first, first + frames), in order of frame
    // and, on the same frame, of posting. A message is due delayNs (as it is when the message is
    // first taken) after its moment; one whose frame is already rendered sounds at the start of
    // the block. Its frame comes from the map as it is in the block that plays it, so that a map
    // corrected after a start still places the first ticks posted before it.
    void take(const AudioClockMap &map, int64_t delayNs, int64_t first, int frames,
              std::vector<Placed> &out);

    // Nothing posted or waiting. Audio thread.
    bool empty();

    // Messages that came too late for their frame, since construction or clear().
    int64_t lateCount() const { return m_late; }

private:
    struct Posted {
        uint32_t packed;
        int64_t dueNs;
    };
    struct Pending {
        uint32_t packed;
        int64_t heardNs;
        uint64_t seq;
    };
    struct Due {
        uint32_t packed;
        int64_t frame; // by the map, possibly before the block
        uint64_t seq;
    };

    // Message n waits in slot n % capacity until the taking side has counted past it.
    std::vector<Posted> m_ring;
    size_t m_capacity;
    std::atomic<uint64_t> m_posted{0}; // written by the posting thread
    std::atomic<uint64_t> m_taken{0};  // written by the audio thread

    // Audio thread only.
    std::vector<Pending> m_pending; // sorted by heardNs, then seq
    std::vector<Due> m_due;         // this block's, reserved like m_pending
    uint64_t m_seq = 0;
    int64_t m_late = 0;
};

} // namespace pv2

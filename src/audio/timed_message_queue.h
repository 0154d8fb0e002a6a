#pragma once

#include "audio/audio_clock_map.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace pv2 {

// Short MIDI messages waiting for their frame: posted on any thread, taken block by block on the
// audio thread. Nothing here allocates after construction, so the audio thread never waits on
// the allocator; the lock is held only to copy a few words.
class TimedMessageQueue {
public:
    struct Placed {
        uint32_t packed;
        int offset; // frames into the block
    };

    explicit TimedMessageQueue(size_t capacity = 256);

    // False when the queue is full and the message was dropped.
    bool post(uint32_t packed, int64_t dueNs);
    void clear();

    // The messages that sound in the block of frames [first, first + frames), in order of frame
    // and, on the same frame, of posting. A message is due delayNs after its moment; one whose
    // frame is already rendered sounds at the start of the block.
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
        int64_t frame;
        uint64_t seq;
    };

    std::mutex m_mutex;
    std::vector<Posted> m_inbox; // guarded by m_mutex
    size_t m_capacity;

    // Audio thread only.
    std::vector<Posted> m_taken;
    std::vector<Pending> m_pending; // sorted by frame, then seq
    uint64_t m_seq = 0;
    int64_t m_late = 0;
};

} // namespace pv2

#include "timed_message_queue.h"

#include <algorithm>
#include <cmath>

namespace pv2 {

TimedMessageQueue::TimedMessageQueue(size_t capacity) : m_ring(capacity), m_capacity(capacity) {
    m_pending.reserve(capacity);
    m_due.reserve(capacity);
}

bool TimedMessageQueue::post(uint32_t packed, int64_t dueNs) {
    const uint64_t n = m_posted.load(std::memory_order_relaxed);
    if (n - m_taken.load(std::memory_order_acquire) >= m_capacity)
        return false;
    m_ring[n % m_capacity] = {packed, dueNs};
    // Sequentially consistent, as the wake-up flag is: an output going to sleep either sees the
    // message in empty() or leaves its flag for the poster to find.
    m_posted.store(n + 1, std::memory_order_seq_cst);
    return true;
}

void TimedMessageQueue::clear() {
    m_posted.store(0);
    m_taken.store(0);
    m_pending.clear();
    m_late = 0;
}

bool TimedMessageQueue::empty() {
    return m_pending.empty() &&
           m_posted.load(std::memory_order_seq_cst) == m_taken.load(std::memory_order_relaxed);
}

void TimedMessageQueue::take(const AudioClockMap &map, int64_t delayNs, int64_t first, int frames,
                             std::vector<Placed> &out) {
    out.clear();
    const uint64_t posted = m_posted.load(std::memory_order_acquire);
    for (uint64_t n = m_taken.load(std::memory_order_relaxed); n < posted; ++n) {
        const Posted p = m_ring[n % m_capacity];
        const Pending entry{p.packed, p.dueNs + delayNs, m_seq++};
        if (m_pending.size() >= m_capacity) {
            // Nothing sensible waits that long: sound the oldest now rather than lose the newest.
            out.push_back({m_pending.front().packed, 0});
            m_pending.erase(m_pending.begin());
        }
        const auto at = std::upper_bound(
            m_pending.begin(), m_pending.end(), entry,
            [](const Pending &a, const Pending &b) { return a.heardNs < b.heardNs; });
        m_pending.insert(at, entry);
    }
    // Only now may the poster reuse the slots.
    m_taken.store(posted, std::memory_order_release);

    // The map only ever grows with time, so the order by moment is the order by frame.
    const int64_t end = first + frames;
    m_due.clear();
    size_t n = 0;
    for (; n < m_pending.size(); ++n) {
        const int64_t frame = std::llround(map.frameAt(m_pending[n].heardNs));
        if (frame >= end)
            break;
        if (frame < first)
            ++m_late;
        m_due.push_back({m_pending[n].packed, frame, m_pending[n].seq});
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
    // Those sharing a frame, the late ones at the block's start among them, in posting order.
    std::sort(m_due.begin(), m_due.end(), [first](const Due &a, const Due &b) {
        const int64_t fa = std::max(a.frame, first), fb = std::max(b.frame, first);
        return fa != fb ? fa < fb : a.seq < b.seq;
    });
    for (const Due &d : m_due)
        out.push_back({d.packed, static_cast<int>(std::max(d.frame, first) - first),
                       std::max<int64_t>(0, first - d.frame)});
}

} // namespace pv2

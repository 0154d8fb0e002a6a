#include "timed_message_queue.h"

#include <algorithm>
#include <cmath>

namespace pv2 {

TimedMessageQueue::TimedMessageQueue(size_t capacity) : m_capacity(capacity) {
    m_inbox.reserve(capacity);
    m_taken.reserve(capacity);
    m_pending.reserve(capacity);
}

bool TimedMessageQueue::post(uint32_t packed, int64_t dueNs) {
    std::lock_guard lock(m_mutex);
    if (m_inbox.size() >= m_capacity)
        return false;
    m_inbox.push_back({packed, dueNs});
    return true;
}

void TimedMessageQueue::clear() {
    std::lock_guard lock(m_mutex);
    m_inbox.clear();
    m_taken.clear();
    m_pending.clear();
    m_late = 0;
}

bool TimedMessageQueue::empty() {
    if (!m_pending.empty())
        return false;
    std::lock_guard lock(m_mutex);
    return m_inbox.empty();
}

void TimedMessageQueue::take(const AudioClockMap &map, int64_t delayNs, int64_t first, int frames,
                             std::vector<Placed> &out) {
    out.clear();
    {
        std::lock_guard lock(m_mutex);
        m_taken.swap(m_inbox);
    }
    for (const Posted &p : m_taken) {
        int64_t frame = std::llround(map.frameAt(p.dueNs + delayNs));
        if (frame < first) {
            frame = first;
            ++m_late;
        }
        const Pending entry{p.packed, frame, m_seq++};
        if (m_pending.size() >= m_capacity) {
            // Nothing sensible waits that long: sound the oldest now rather than lose the newest.
            out.push_back({m_pending.front().packed, 0});
            m_pending.erase(m_pending.begin());
        }
        const auto at =
            std::upper_bound(m_pending.begin(), m_pending.end(), entry,
                             [](const Pending &a, const Pending &b) { return a.frame < b.frame; });
        m_pending.insert(at, entry);
    }
    m_taken.clear();

    const int64_t end = first + frames;
    size_t n = 0;
    while (n < m_pending.size() && m_pending[n].frame < end) {
        out.push_back({m_pending[n].packed, static_cast<int>(m_pending[n].frame - first)});
        ++n;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(n));
}

} // namespace pv2

#include "audio_clock_map.h"

#include <algorithm>
#include <cmath>

namespace pv2 {

AudioClockMap::AudioClockMap(double sampleRate) : AudioClockMap(sampleRate, Tuning{}) {}

AudioClockMap::AudioClockMap(double sampleRate, Tuning tuning)
    : m_rate(sampleRate), m_nsPerFrame(1e9 / sampleRate), m_tuning(tuning) {
    m_points.reserve(ringSize());
    m_late.reserve(ringSize());
}

void AudioClockMap::reset() {
    m_anchored = false;
    m_heard = false;
    m_jumps = 0;
}

void AudioClockMap::anchor(int64_t timeNs, int64_t frontier) {
    m_anchored = true;
    m_anchorTime = timeNs;
    m_anchorFrame = frontier;
    m_phase = 0;
    m_slope = 0;
    m_steerU = 0;
    m_windowEnd = m_tuning.windowSeconds * m_rate;
    m_windowHasPoint = false;
    m_warmupLeft = m_tuning.warmupWindows;
    m_points.clear();
    m_next = 0;
    m_fitSlope = m_learntSlope;
    m_suspectJumps = 0;
    m_heard = false;
}

void AudioClockMap::observe(int64_t timeNs, int64_t frontier) {
    if (!m_anchored) {
        anchor(timeNs, frontier);
        return;
    }
    if (m_heard)
        return;
    const double u = static_cast<double>(frontier - m_anchorFrame);
    const double phi = static_cast<double>(timeNs - m_anchorTime) - u * m_nsPerFrame;
    if (!m_windowHasPoint || phi < m_windowMin.phi) {
        m_windowMin = {u, phi};
        m_windowHasPoint = true;
    }
    if (u < m_windowEnd)
        return;
    const Point edge = m_windowMin;
    m_windowHasPoint = false;
    m_windowEnd = u + m_tuning.windowSeconds * m_rate;

    // A starting stream first fills its buffer in a burst and may then pause: the map takes
    // each of the first windows as it comes and learns nothing from them.
    if (m_warmupLeft > 0) {
        --m_warmupLeft;
        m_phase = edge.phi;
        m_steerU = edge.u;
        return;
    }

    // A stall moves the whole edge and leaves the rate as it was; one odd window moves nothing.
    const double off = edge.phi - mapPhase(edge.u);
    const bool learnt = m_points.size() >= static_cast<size_t>(m_tuning.pointsForRate);
    if (learnt && std::fabs(off) > m_tuning.jumpNs) {
        if (m_suspectJumps == 0 || (off > 0) != (m_suspectOffset > 0)) {
            m_suspectJumps = 1;
            m_suspectOffset = off;
            return;
        }
        const double jump = (off + m_suspectOffset) / 2;
        for (Point &p : m_points)
            p.phi += jump;
        m_phase += jump;
        ++m_jumps;
    }
    m_suspectJumps = 0;
    keep(edge);
    steer(edge);
}

void AudioClockMap::keep(const Point &p) {
    if (m_points.size() < ringSize())
        m_points.push_back(p);
    else
        m_points[m_next] = p;
    m_next = (m_next + 1) % ringSize();
}

void AudioClockMap::steer(const Point &edge) {
    // A rate from a few seconds of readings is mostly noise: until there are more, the map runs
    // at the nominal rate through the latest reading.
    if (m_points.size() < static_cast<size_t>(m_tuning.pointsForRate)) {
        m_phase = edge.phi;
        m_steerU = edge.u;
        m_slope = m_fitSlope;
        return;
    }
    const double n = static_cast<double>(m_points.size());
    double mu = 0, mphi = 0;
    for (const Point &p : m_points) {
        mu += p.u;
        mphi += p.phi;
    }
    mu /= n;
    mphi /= n;
    double suu = 0, sup = 0;
    for (const Point &p : m_points) {
        suu += (p.u - mu) * (p.u - mu);
        sup += (p.u - mu) * (p.phi - mphi);
    }
    if (suu > 0)
        m_fitSlope = sup / suu;
    const double edgeNow = mphi + m_fitSlope * (edge.u - mu);
    if (m_points.size() == static_cast<size_t>(m_tuning.pointsForRate)) {
        m_phase = edgeNow;
        m_steerU = edge.u;
        m_slope = m_fitSlope;
        return;
    }
    // From now on the map stays continuous and closes the remaining gap over steerSeconds.
    const double gap = edgeNow - mapPhase(edge.u);
    m_phase = mapPhase(edge.u);
    m_steerU = edge.u;
    m_slope = m_fitSlope + gap / (m_tuning.steerSeconds * m_rate);
}

bool AudioClockMap::observeHeard(int64_t timeNs, double frame) {
    if (!m_heard) {
        anchor(timeNs, static_cast<int64_t>(std::floor(frame)));
        m_heard = true;
    }
    const double u = frame - static_cast<double>(m_anchorFrame);
    Point p{u, static_cast<double>(timeNs - m_anchorTime) - u * m_nsPerFrame};
    if (!m_points.empty()) {
        // A stream that stalled or ran dry plays on later: two readings agreeing on a new
        // offset move every reading by it; one alone moves nothing.
        const double off = p.phi - mapPhase(u);
        if (std::fabs(off) > m_tuning.heardJumpNs) {
            if (m_suspectJumps == 0 || std::fabs(off - m_suspectOffset) > m_tuning.heardJumpNs) {
                m_suspectJumps = 1;
                m_suspectOffset = off;
                return false;
            }
            for (Point &q : m_points)
                q.phi += off;
            ++m_jumps;
        }
    }
    m_suspectJumps = 0;
    keep(p);
    fitHeard();
    return true;
}

// Least squares through the readings, the slope pulled towards the one learnt before (or the
// nominal rate) as much as that is surer than what the readings' spread can tell. A reading is
// never early, only late by however long the server took to stamp it, which on a quiet machine
// varies: the line is fitted again through the earlier half.
void AudioClockMap::fitHeard() {
    // The prior's spread: 300 ppm of a device never heard, 20 ppm of one measured before.
    const double priorPpm = m_rateLearnt ? 20e-6 : 300e-6;
    const double priorSlope = priorPpm * m_nsPerFrame;
    const double weight = m_tuning.heardNoiseNs * m_tuning.heardNoiseNs / (priorSlope * priorSlope);
    const size_t size = m_points.size();
    const double newest = m_points[(m_next + size - 1) % size].u;
    const double oldest = m_points[size < ringSize() ? 0 : m_next].u;
    // One pass of sums about the newest reading, which keeps them small.
    auto fit = [&](double below) {
        double n = 0, su = 0, sp = 0, suu = 0, sup = 0;
        for (const Point &p : m_points) {
            if (p.phi - mapPhase(p.u) > below)
                continue;
            const double u = p.u - newest;
            n += 1;
            su += u;
            sp += p.phi;
            suu += u * u;
            sup += u * p.phi;
        }
        m_fitSlope = (sup - su * sp / n + weight * m_learntSlope) / (suu - su * su / n + weight);
        m_steerU = newest;
        m_phase = (sp - m_fitSlope * su) / n;
        m_slope = m_fitSlope;
    };
    fit(INFINITY);
    if (size >= 2) {
        m_late.clear();
        for (const Point &p : m_points)
            m_late.push_back(p.phi - mapPhase(p.u));
        // The first few after a start place the first ticks: the earliest of them, not their
        // mean, since one stamped a tenth of a millisecond late now and then would pull it.
        const auto middle = m_late.begin() + static_cast<std::ptrdiff_t>((size - 1) / 2);
        std::nth_element(m_late.begin(), middle, m_late.end());
        fit(*middle);
    }
    // Ten seconds of readings tell the rate to a few ppm.
    if (newest - oldest >= 10 * m_rate) {
        m_learntSlope = m_fitSlope;
        m_rateLearnt = true;
    }
}

int64_t AudioClockMap::readingWantedWithinNs() const {
    if (!m_heard || m_points.size() < 4)
        return 0;
    return !m_rateLearnt || m_points.size() < 8 ? 250'000'000 : -1;
}

double AudioClockMap::frameAt(int64_t timeNs) const {
    if (!m_anchored)
        return 0;
    const double dt = static_cast<double>(timeNs - m_anchorTime);
    // dt = u * nsPerFrame + phase + slope * (u - steerU)
    const double u = (dt - m_phase + m_slope * m_steerU) / (m_nsPerFrame + m_slope);
    return static_cast<double>(m_anchorFrame) + u;
}

double AudioClockMap::timeAt(double frame) const {
    const double u = frame - static_cast<double>(m_anchorFrame);
    return u * m_nsPerFrame + mapPhase(u);
}

double AudioClockMap::ratePpm() const {
    return (m_nsPerFrame / (m_nsPerFrame + m_fitSlope) - 1.0) * 1e6;
}

} // namespace pv2

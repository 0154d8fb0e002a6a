#include "audio_clock_map.h"

#include <algorithm>
#include <cmath>

namespace pv2 {

AudioClockMap::AudioClockMap(double sampleRate) : AudioClockMap(sampleRate, Tuning{}) {}

AudioClockMap::AudioClockMap(double sampleRate, Tuning tuning)
    : m_rate(sampleRate), m_nsPerFrame(1e9 / sampleRate), m_tuning(tuning) {
    m_points.reserve(static_cast<size_t>(std::max(2, m_tuning.windows)));
}

void AudioClockMap::reset() {
    m_anchored = false;
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
    m_fitSlope = 0;
    m_suspectJumps = 0;
}

void AudioClockMap::observe(int64_t timeNs, int64_t frontier) {
    if (!m_anchored) {
        anchor(timeNs, frontier);
        return;
    }
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

    const size_t capacity = static_cast<size_t>(std::max(2, m_tuning.windows));
    if (m_points.size() < capacity)
        m_points.push_back(edge);
    else
        m_points[m_next] = edge;
    m_next = (m_next + 1) % capacity;
    steer(edge);
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

#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pv2 {

// Maps moments of the steady clock to frames of an audio stream, learnt from the moments at
// which the stream's callbacks run.
//
// A callback that starts at time t and renders up to frame F says that frame F is rendered by
// t. Callbacks are often late (the scheduler, a busy machine) and never much early, so the
// earliest callback of each window is the clean reading: the map follows that lower edge.
// The device's clock never runs at exactly the nominal rate; the rate is fitted over the last
// few minutes of windows, and the map is steered towards the edge so slowly that ticks a beat
// apart never see the steering, while over an hour it cannot drift. A jump of the edge that
// lasts two windows (the stream stalled and plays on later) moves the map by as much, keeping
// the rate it has learnt.
//
// A sound server also reports which frame it plays at a moment it states itself. Such a reading
// does not depend on when a callback runs, so once one has come the map follows those alone: a
// line fitted through them, its rate held near the last one learnt until they span enough time
// to tell it better.
class AudioClockMap {
public:
    struct Tuning {
        double windowSeconds = 1.0;
        // Windows kept for the rate fit.
        int windows = 180;
        // Windows the map takes as they come after the anchor.
        int warmupWindows = 2;
        // Windows needed before the fitted rate replaces the nominal one.
        int pointsForRate = 3;
        double steerSeconds = 20.0;
        double jumpNs = 3e6;
        // Readings of the server: how far one may stray before it counts as a jump, and how far
        // apart they stray anyway.
        double heardJumpNs = 1e6;
        double heardNoiseNs = 30e3;
    };

    explicit AudioClockMap(double sampleRate);
    AudioClockMap(double sampleRate, Tuning tuning);

    void reset();
    // One callback, begun at timeNs, that renders the frames before frontier.
    void observe(int64_t timeNs, int64_t frontier);
    // The server's reading: frame was heard at timeNs. False when it strays so far from the map
    // that another reading soon should settle whether the stream jumped.
    bool observeHeard(int64_t timeNs, double frame);
    // How soon another reading would make the map better: at once (0) for the first few after
    // a reset, which average their scatter; a few times a second until the rate is learnt and
    // eight have come; no sooner than the server sends them (-1) after that.
    int64_t readingWantedWithinNs() const;

    bool anchored() const { return m_anchored; }
    // The frame the rendering reaches at timeNs; fractional.
    double frameAt(int64_t timeNs) const;
    // Inverse of frameAt, in nanoseconds relative to the anchor time.
    double timeAt(double frame) const;
    int64_t anchorTime() const { return m_anchorTime; }

    // How far the device's rate is from the nominal one, by the current fit.
    double ratePpm() const;
    // Stalls the map has followed.
    int jumps() const { return m_jumps; }

private:
    struct Point {
        double u;   // frames since the anchor
        double phi; // ns by which the callback came after the nominal time of its frontier
    };

    double mapPhase(double u) const { return m_phase + m_slope * (u - m_steerU); }
    void steer(const Point &edge);
    void anchor(int64_t timeNs, int64_t frontier);
    void fitHeard();
    // Into the ring of points, the oldest giving way.
    void keep(const Point &p);
    size_t ringSize() const { return static_cast<size_t>(std::max(2, m_tuning.windows)); }

    double m_rate;
    double m_nsPerFrame;
    Tuning m_tuning;

    bool m_anchored = false;
    int64_t m_anchorTime = 0;
    int64_t m_anchorFrame = 0;

    // The map: phase(u) = m_phase + m_slope * (u - m_steerU), in ns.
    double m_phase = 0;
    double m_slope = 0;
    double m_steerU = 0;

    double m_windowEnd = 0;
    Point m_windowMin{0, 0};
    bool m_windowHasPoint = false;
    int m_warmupLeft = 0;
    std::vector<Point> m_points; // ring
    std::vector<double> m_late;  // scratch for the fit, reserved: the audio thread calls it
    size_t m_next = 0;
    double m_fitSlope = 0;
    int m_suspectJumps = 0;
    double m_suspectOffset = 0;
    int m_jumps = 0;

    // Following the server's readings since the last anchor.
    bool m_heard = false;
    // The device's rate outlives a reset: the stream pausing does not change it.
    double m_learntSlope = 0;
    bool m_rateLearnt = false;
};

} // namespace pv2

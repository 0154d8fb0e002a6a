#include "beat_clock.h"

#include "platform/numeric.h"
#include "platform/tick_counter.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace pv2 {

void ClockRandom::reseed() {
    static uint32_t salt = 0;
    const auto ns = std::chrono::steady_clock::now().time_since_epoch().count();
    m_gen.seed(static_cast<uint32_t>(ns) ^ (++salt * 0x9E3779B9u));
}

float ClockRandom::next() {
    return std::uniform_real_distribution<float>(0.0f, std::nextafter(1.0f, 0.0f))(m_gen);
}

BeatClock::BeatClock(EngineState &state, TickCounter &counter, BallView &view, BeatTimer &timer,
                     RandomSource &random, TickFn sendTick, FlagFn fluctChecked,
                     FlagFn upbeatColouring)
    : s(state), m_counter(counter), m_view(view), m_timer(timer), m_random(random),
      m_sendTick(std::move(sendTick)), m_fluctChecked(std::move(fluctChecked)),
      m_upbeatColouring(std::move(upbeatColouring)) {}

void BeatClock::onTimer() {
    if (s.beatsPerBar == 1 && m_fluctChecked())
        fluctStep();
    else
        steadyStep();
}

int BeatClock::floorLine() const {
    return m_view.areaHeight() - s.ballHeight;
}

// The next interval starts where the ended one was due, not where the timer noticed it, so the
// timer's lateness never adds up. After a stall of a whole interval or more (suspend, a busy
// machine) it starts afresh rather than racing through the missed beats.
uint32_t BeatClock::nextStart(uint32_t now, int32_t endedMs) const {
    const uint32_t due = s.beatStartTick + static_cast<uint32_t>(endedMs);
    const int32_t late = tickDiff(now, due);
    if (endedMs <= 0 || late >= endedMs)
        return now;
    return due;
}

void BeatClock::steadyStep() {
    const uint32_t now = m_counter.now();
    const int32_t elapsed = tickDiff(now, s.beatStartTick);
    m_view.clearArea();
    m_view.drawGuideLine();

    const int slot = std::clamp<int>(m_slotIndex, 0, kMaxBeats - 1);
    const int32_t ms = s.beats[slot].ms;

    if (elapsed >= ms - kTickLead && s.soundOn && m_tickPending) {
        const bool downbeat = s.curBeat == s.beatsPerBar - 1 && s.beatsPerBar != 1;
        m_sendTick(downbeat, s.beatStartTick + static_cast<uint32_t>(ms - kTickLead));
        m_tickPending = false;
    }

    if (elapsed >= ms - kBeatLead) {
        m_tickPending = true;
        ++s.curBeat;
        if (s.curBeat >= s.beatsPerBar || s.curBeat >= kMaxBeats || s.curBeat < 0)
            s.curBeat = 0;
        m_slotIndex = s.curBeat;
        s.beatStartTick = nextStart(now, ms);
        m_view.landingAt(s.beatStartTick);
        if (m_upbeatColouring())
            m_view.setBackground(m_slotIndex == s.beatsPerBar - 1 ? s.upbeatColor : s.beatColor);
        m_view.drawBall(s.beats[m_slotIndex].x, floorLine());
        if (s.stopRequested) {
            m_timer.stop();
            m_view.showMemo();
            s.stopRequested = false;
        }
        if (s.nextBeatsPending) {
            const int n = std::clamp<int>(s.beatsPerBar, 0, kMaxBeats);
            std::copy_n(s.nextBeats.begin(), n, s.beats.begin());
            s.nextBeatsPending = false;
        }
        return;
    }

    m_slotIndex = std::clamp<int16_t>(s.curBeat, 0, kMaxBeats - 1);
    const BeatSlot &b = s.beats[m_slotIndex];
    // Noticed a little early on the grid: the flight has not begun yet.
    const double e = std::max(0, elapsed);
    s.ballX = roundToInt16(b.x + e * b.vx);
    const double rise = b.ms > 0 ? (1.0 - e / b.ms) * (e * b.lift) : 0.0;
    s.ballY = static_cast<int16_t>(std::clamp(std::floor(floorLine() - rise), -32768.0, 32767.0));
    m_view.drawBall(s.ballX, s.ballY);
}

void BeatClock::fluctStep() {
    const uint32_t now = m_counter.now();
    const int32_t elapsed = tickDiff(now, s.beatStartTick);
    BeatSlot &r0 = s.beats[0];
    BeatSlot &r1 = s.beats[1];

    if (elapsed >= r0.ms - kTickLead && s.soundOn && m_fluctTickPending) {
        m_sendTick(false, s.beatStartTick + static_cast<uint32_t>(r0.ms - kTickLead));
        m_fluctTickPending = false;
    }
    m_view.clearArea();

    if (elapsed < r0.ms - kBeatLead) {
        const double e = std::max(0, tickDiff(m_counter.now(), s.beatStartTick));
        const int x = roundToInt16(r0.x + e * r0.vx);
        const double rise = r0.ms > 0 ? (1.0 - e / r0.ms) * (e * r0.lift) : 0.0;
        const double y = std::clamp(std::floor(floorLine() - rise), -32768.0, 32767.0);
        m_view.drawBall(x, static_cast<int>(y));
        return;
    }

    m_fluctTickPending = true;
    const uint32_t landing = nextStart(now, r0.ms);
    m_view.landingAt(landing);
    m_view.drawBall(r1.x, floorLine());
    if (s.stopRequested) {
        m_timer.stop();
        m_view.showMemo();
        s.stopRequested = false;
    }

    s.chaosDepth = 0.3f;
    s.fluctStateX = fluctNext(s.fluctStateX);
    const double w = s.trackWidth;
    const double target = w * 0.7 * (s.fluctStateX - 0.5) + w * 0.5;
    r0.dx = roundToInt16(target - r1.x);
    r0.x = r1.x;
    r1.x = roundToInt16(target);

    s.fluctStateT = fluctNext(s.fluctStateT);
    const double f = 1.0 - static_cast<double>(s.chaosDepth) * s.fluctStateT;
    r0.ms = std::max<int32_t>(1, roundToInt32(f * s.fluctBeatMs));
    r0.height = roundToInt16(f * f * s.fluctHeight);
    r0.vx = static_cast<double>(r0.dx) / r0.ms;
    r0.lift = 4.0 * r0.height / r0.ms;

    s.beatStartTick = landing;
    s.nextBeatTick = s.beatStartTick + static_cast<uint32_t>(r0.ms);
}

uint32_t BeatClock::nextBeatAt() const {
    if (s.beatsPerBar == 1 && m_fluctChecked())
        return s.nextBeatTick;
    return s.beatStartTick +
           static_cast<uint32_t>(s.beats[std::clamp<int>(m_slotIndex, 0, kMaxBeats - 1)].ms);
}

void BeatClock::armBeatTimer(int periodMs) {
    const uint32_t now = m_counter.now();
    s.beatStartTick = now;
    s.stopRequested = false;
    s.curBeat = std::clamp<int16_t>(s.curBeat, 0, kMaxBeats - 1);
    s.nextBeatTick = now + static_cast<uint32_t>(s.beats[s.curBeat].ms);
    // The first interval is judged by the record of the beat we start from, not by whatever
    // record the previous run stopped on.
    m_slotIndex = s.curBeat;
    m_timer.start(periodMs);
}

double BeatClock::fluctNext(double x, float r) {
    if (x < 0.5)
        return x + 2 * x * x + 0.0000001 * r;
    return x - 2 * (1 - x) * (1 - x) - 0.0000001 * r;
}

double BeatClock::fluctNext(double &state) {
    return fluctNext(state, m_random.next());
}

void BeatClock::reseedFluct() {
    m_random.reseed();
    m_random.next();
    s.fluctStateX = m_random.next();
    m_random.reseed();
    m_random.next();
    s.fluctStateT = m_random.next();
}

} // namespace pv2

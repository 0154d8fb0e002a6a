#pragma once

#include "beat_slot.h"

#include <cstdint>
#include <functional>
#include <random>

namespace pv2 {

class TickCounter;

// What the clock draws on: the drawing area.
class BallView {
public:
    virtual ~BallView() = default;
    virtual int areaHeight() const = 0;
    virtual void clearArea() = 0;                 // to the current background colour
    virtual void setBackground(uint32_t bgr) = 0; // 0x00BBGGRR; also clears
    virtual void drawBall(int x, int y) = 0;
    virtual void drawGuideLine() = 0; // only when the guide line is switched on
    virtual void showMemo() = 0;      // the memo of the preset last applied
    // What is drawn from here on in this step shows the beat due at tick, not the moment the
    // timer noticed it.
    virtual void landingAt(uint32_t tick) { (void)tick; }
};

// The beat timer as the clock sees it.
class BeatTimer {
public:
    virtual ~BeatTimer() = default;
    virtual void start(int periodMs) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// Uniform numbers in [0, 1), reseedable from the clock.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void reseed() = 0;
    virtual float next() = 0;
};

class ClockRandom : public RandomSource {
public:
    void reseed() override;
    float next() override;

private:
    std::mt19937 m_gen{12345u};
};

struct EngineState {
    int16_t tempo = 80;
    int16_t beatsPerBar = 0;
    int16_t curBeat = 0;
    uint32_t beatStartTick = 0;
    uint32_t nextBeatTick = 0;
    bool isStopped = true;
    bool stopRequested = false;
    bool soundOn = true;
    Schedule beats{};
    Schedule nextBeats{};
    bool nextBeatsPending = false;
    int16_t ballWidth = kBallSize;
    int16_t ballHeight = kBallSize;
    int16_t ballX = 0;
    int16_t ballY = 0;
    uint32_t beatColor = 0x996644;
    uint32_t upbeatColor = 0xFF6600;
    double trackWidth = 0;

    // 1/f mode
    double fluctStateX = 0;
    double fluctStateT = 0;
    float chaosDepth = 0.3f;
    int32_t fluctBeatMs = 0; // 32-bit: the plain beat at tempo 1 is 60000 ms
    int16_t fluctHeight = 0;
};

// The timer-driven beat clock: ticks 50 ms ahead of each beat, counts beats, animates the ball.
// Beats fall on the grid start + sum of scheduled lengths, whenever the timer happens to notice.
class BeatClock {
public:
    using TickFn = std::function<void(bool downbeat, uint32_t dueTick)>;
    using FlagFn = std::function<bool()>;

    BeatClock(EngineState &state, TickCounter &counter, BallView &view, BeatTimer &timer,
              RandomSource &random, TickFn sendTick, FlagFn fluctChecked, FlagFn upbeatColouring);

    // One firing of the beat timer.
    void onTimer();
    void steadyStep();
    void fluctStep();

    // Starts the clock from the current beat (curBeat).
    void armBeatTimer(int periodMs);

    // One step of the intermittent map; r in [0, 1).
    static double fluctNext(double x, float r);
    double fluctNext(double &state);

    // Fresh starting values for both map states.
    void reseedFluct();

    int16_t slotIndex() const { return m_slotIndex; }
    // When the beat that ends the current interval is due: a step run then lands on time
    // whatever the timer's period.
    uint32_t nextBeatAt() const;

    static constexpr int kTickLead = 50;
    static constexpr int kBeatLead = 10;

private:
    int floorLine() const;
    uint32_t nextStart(uint32_t now, int32_t endedMs) const;

    EngineState &s;
    TickCounter &m_counter;
    BallView &m_view;
    BeatTimer &m_timer;
    RandomSource &m_random;
    TickFn m_sendTick;
    FlagFn m_fluctChecked;
    FlagFn m_upbeatColouring;

    int16_t m_slotIndex = 0;
    bool m_tickPending = false;
    bool m_fluctTickPending = false;
};

} // namespace pv2

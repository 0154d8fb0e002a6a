#pragma once

#include "beat_clock.h"
#include "schedule.h"

#include <QString>
#include <functional>

namespace pv2 {

// The run rules without widgets: owns the engine state, rebuilds the schedule from the boxes'
// texts and takes the state through start and stop. Arming the clock is left to the caller.
class BeatEngine {
public:
    // What a schedule is built from, read afresh at each rebuild; the engine adds its profile
    // and the ball's width.
    using InputsFn = std::function<ScheduleInput()>;
    // The tempo box must show this text.
    using TempoTextFn = std::function<void(const QString &)>;

    BeatEngine(InputsFn inputs, TempoTextFn showTempoText);

    EngineState &state() { return m_state; }
    const EngineState &state() const { return m_state; }
    const FluctProfile &fluctProfile() const { return m_profile; }
    bool isStopped() const { return m_state.isStopped; }

    void buildSchedule(Schedule &table);
    void rebuildBeats();
    void applyTempo();

    // START: the first interval is the bar's last beat, so the first beat reached is beat 0.
    void start();
    // A start key: from the given beat of the bar.
    void startAt(int beat);
    // The clock stops at the next beat.
    void requestStop();

private:
    InputsFn m_inputs;
    TempoTextFn m_showTempoText;
    EngineState m_state;
    FluctProfile m_profile = fillFluctProfile();
};

} // namespace pv2

#include "beat_engine.h"

#include <algorithm>

namespace pv2 {

BeatEngine::BeatEngine(InputsFn inputs, TempoTextFn showTempoText)
    : m_inputs(std::move(inputs)), m_showTempoText(std::move(showTempoText)) {}

void BeatEngine::buildSchedule(Schedule &table) {
    ScheduleInput in = m_inputs();
    in.profile = &m_profile;
    in.ballWidth = m_state.ballWidth;
    const ScheduleResult r = pv2::buildSchedule(table, in);
    m_state.tempo = r.tempo;
    m_state.beatsPerBar = r.beatsPerBar;
    m_state.trackWidth = r.trackWidth;
    if (r.newTempoText && m_showTempoText)
        m_showTempoText(*r.newTempoText);
    if (r.oneBeat) {
        m_state.fluctBeatMs = r.fluctBeatMs;
        m_state.fluctHeight = r.fluctHeight;
    }
}

// The active schedule now follows the current texts; a pending one built earlier would
// bring back an older pattern at the next beat.
void BeatEngine::rebuildBeats() {
    buildSchedule(m_state.beats);
    m_state.nextBeatsPending = false;
}

void BeatEngine::applyTempo() {
    buildSchedule(m_state.nextBeats);
    m_state.nextBeatsPending = true;
}

void BeatEngine::start() {
    m_state.isStopped = false;
    rebuildBeats();
    m_state.curBeat =
        static_cast<int16_t>(std::clamp<int>(m_state.beatsPerBar - 1, 0, kMaxBeats - 1));
}

void BeatEngine::startAt(int beat) {
    m_state.curBeat =
        static_cast<int16_t>(std::clamp<int>(beat, 0, std::max(0, m_state.beatsPerBar - 1)));
    m_state.isStopped = false;
}

void BeatEngine::requestStop() {
    m_state.stopRequested = true;
    m_state.isStopped = true;
}

} // namespace pv2

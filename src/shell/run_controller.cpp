#include "run_controller.h"

#include "audio/midi_out.h"
#include "beat/beat_engine.h"
#include "beat_display.h"
#include "dialogs/frm_sync.h"
#include "platform/numeric.h"
#include "platform/tick_counter.h"
#include "qt_beat_timer.h"
#include "sound/tick_sound.h"

#include <QPushButton>
#include <QTimer>
#include <algorithm>

namespace pv2 {

RunController::RunController(const Controls &controls, const Parts &parts)
    : c(controls), m_engine(parts.engine), m_display(parts.display), m_tick(parts.tick),
      m_counter(parts.counter), m_midi(parts.midi), m_timerInterval(parts.timerInterval),
      m_timer(std::make_unique<QtBeatTimer>(controls.beat_timer)),
      m_userSettings(parts.settingsFile.isEmpty() ? UserSettings()
                                                  : UserSettings(parts.settingsFile)) {
    m_syncOffset = m_userSettings.syncOffsetMs();
    m_tick.setVolumePercent(m_userSettings.tickVolumePercent());
    m_tick.setPair(m_userSettings.tickPair());
    m_setTempoText = parts.setTempoText;
    m_clock = std::make_unique<BeatClock>(
        m_engine.state(), m_counter, m_display.pacer(), *m_timer, parts.random,
        [this](bool downbeat, uint32_t due) {
            if (m_practiceRun) {
                const PracticeRun::Tick t = m_practiceRun->tick(barLineAhead(), downbeat);
                if (!t.sound)
                    return;
                downbeat = t.downbeatSound;
            }
            m_tick.sendTick(downbeat, due + static_cast<uint32_t>(m_avPlan.tickShiftMs));
        },
        parts.fluctChecked, parts.upbeatColouring);
    connect(c.btn_start, &QPushButton::clicked, this, &RunController::btn_start_Click);
    connect(c.beat_timer, &QTimer::timeout, this, &RunController::beatTimerFired);
    connect(c.landing_timer, &QTimer::timeout, this, &RunController::beatTimerFired);
}

RunController::~RunController() {
    delete m_syncDialog.data();
    delete m_practiceDialog.data();
}

void RunController::btn_start_Click() {
    if (m_engine.isStopped()) {
        m_tick.resetTickSettings();
        c.btn_start->setText(QStringLiteral("STOP"));
        c.btn_start->setFocus();
        m_engine.start();
        m_display.B_Disp();
        armBeatTimer();
    } else {
        stopRun();
        c.btn_start->setFocus();
    }
}

// Stops at the next beat; the ball rests there, even in a silent bar.
void RunController::stopRun() {
    m_engine.requestStop();
    m_display.pacer().hideBallFromNextLanding(false);
    c.btn_start->setText(QStringLiteral("START"));
}

void RunController::btn_start_KeyDown(int keyCode) {
    if (keyCode < '1' || keyCode > '6')
        return;
    if (m_engine.isStopped()) {
        m_engine.startAt(m_display.digitStart()[keyCode - '0']);
        c.btn_start->setText(QStringLiteral("STOP"));
        c.btn_start->setFocus();
        armBeatTimer();
    } else {
        btn_start_Click();
        c.btn_start->setFocus();
    }
}

void RunController::beatTimerFired() {
    FramePacer &pacer = m_display.pacer();
    const uint32_t beatStart = m_engine.state().beatStartTick;
    pacer.beginStep();
    m_clock->onTimer();
    pacer.endStep();
    if (m_practiceRun && m_engine.state().beatStartTick != beatStart)
        practiceLanding();
    if (!c.beat_timer->isActive()) {
        endPractice();
        m_midi.holdAwake(false);
    }
    armLanding();
}

// A step of its own when the next beat is due, so that the landing never waits for the
// periodic timer; the flight keeps the timer's period.
void RunController::armLanding() {
    if (!c.beat_timer->isActive()) {
        c.landing_timer->stop();
        return;
    }
    c.landing_timer->start(std::max(0, tickDiff(m_clock->nextBeatAt(), m_counter.now())));
}

void RunController::armBeatTimer() {
    // Timed ticks may be sent up to one period late; the backend delays them to absorb it, and
    // the output wakes now so that the first tick finds it running.
    const int period = m_timerInterval();
    // Another pair of ticks is rendered for its exact placing before the run, not during it.
    if (m_tick.needsReopen())
        m_tick.openTickDevice();
    m_midi.setTimerPeriod(period);
    m_midi.holdAwake(true);
    m_display.pacer().flush();
    applyAvPlan();
    m_clock->armBeatTimer(period);
    startPractice();
    armLanding();
}

void RunController::stopTimers() {
    c.beat_timer->stop();
    c.landing_timer->stop();
    m_midi.holdAwake(false);
}

void RunController::applyAvPlan() {
    m_avPlan = planAvSync(m_midi.delayMs(), BeatClock::kTickLead, m_syncOffset);
    m_display.pacer().setDelay(m_avPlan.pictureDelayMs);
}

void RunController::openSyncDialog() {
    delete m_syncDialog.data();
    // Clicks for the moment they are heard, without the offset: the taps measure all of it.
    auto click = [this](uint32_t heardTick) {
        const int delay = planAvSync(m_midi.delayMs(), BeatClock::kTickLead, 0).soundDelayMs;
        m_tick.sendTick(false, heardTick - static_cast<uint32_t>(delay), TickSound::kFullVolume);
    };
    m_syncDialog = new frm_sync(m_counter, click, m_syncOffset, c.owner);
    connect(m_syncDialog, &frm_sync::offsetAccepted, this, [this](int ms) {
        m_syncOffset = clampSyncOffsetMs(ms);
        m_userSettings.setSyncOffsetMs(m_syncOffset);
        applyAvPlan();
    });
    m_syncDialog->openModal();
}

void RunController::setPractice(const PracticeSettings &p) {
    m_practice = p.clamped();
    showPracticeStatus();
}

// A run keeps the settings it started with; changes count from the next START.
void RunController::showPracticeStatus() {
    const PracticeSettings &p = m_practiceRun ? m_practiceRun->settings() : m_practice;
    if (!p.on) {
        m_display.setPracticeStatus(QString(), false);
        return;
    }
    QString status = practiceSummary(p);
    bool countIn = false;
    if (m_practiceRun) {
        const PracticeRun::BarStart &bar = m_practiceRun->bar();
        countIn = bar.countIn;
        status += QStringLiteral(" | %1").arg(
            countIn ? QStringLiteral("カウント")
                    : (bar.muted ? QStringLiteral("無音") : QStringLiteral("演奏")));
    }
    m_display.setPracticeStatus(status, countIn);
}

void RunController::startPractice() {
    endPractice();
    if (!m_practice.on)
        return;
    const EngineState &st = m_engine.state();
    m_runStart = st.beatStartTick;
    // Resting on the last spot, the first landing is already the bar line.
    m_practiceRun.emplace(m_practice, st.tempo, m_counter.now(), st.curBeat >= st.beatsPerBar - 1);
    showPracticeStatus();
}

// The landing the clock flies to next is on the first spot.
bool RunController::barLineAhead() const {
    const EngineState &st = m_engine.state();
    return st.curBeat + 1 >= st.beatsPerBar;
}

// After each landing: the bar it begins, and what the bar line ahead brings.
void RunController::practiceLanding() {
    EngineState &st = m_engine.state();
    m_practiceRun->land(st.curBeat == 0);
    showPracticeStatus();
    if (m_engine.isStopped() || !c.beat_timer->isActive() || !barLineAhead())
        return;
    const int bar = m_practiceRun->barIndex();
    const PracticeRun::BarStart next = m_practiceRun->barState(bar + 1);
    m_display.pacer().hideBallFromNextLanding(!next.showBall);
    // A ladder step is built now and taken on at the bar line; between steps the tempo is the
    // user's to change.
    if (next.tempo != m_practiceRun->barState(bar).tempo && m_setTempoText) {
        m_setTempoText(QString::number(next.tempo));
        m_engine.applyTempo();
    }
    if (m_practiceRun->stopsAt(tickDiff(m_clock->nextBeatAt(), m_runStart)))
        stopRun();
}

void RunController::endPractice() {
    if (!m_practiceRun)
        return;
    const bool laddered = m_practiceRun->settings().ladderStep != 0;
    const int startTempo = m_practiceRun->startTempo();
    m_practiceRun.reset();
    m_display.pacer().showBall();
    // The ladder climbed for this run; the next starts where this one did, by any start key.
    if (laddered && m_setTempoText && m_engine.isStopped()) {
        m_setTempoText(QString::number(startTempo));
        m_engine.rebuildBeats();
    }
    showPracticeStatus();
}

void RunController::setTickVolumeAndPair(int percent, int pair) {
    m_tick.setVolumePercent(percent);
    m_tick.setPair(pair);
    m_userSettings.setTickVolumePercent(m_tick.volumePercent());
    m_userSettings.setTickPair(m_tick.pair());
}

void RunController::stepVolume(bool up) {
    setTickVolumeAndPair(m_tick.volumePercent() + (up ? 10 : -10), m_tick.pair());
}

void RunController::openPracticeDialog() {
    delete m_practiceDialog.data();
    QStringList names;
    for (const TickSound::Pair &p : TickSound::kPairs)
        names << QString::fromUtf8(p.name);
    m_practiceDialog =
        new frm_practice({m_practice, m_tick.volumePercent(), m_tick.pair()}, names, c.owner);
    connect(m_practiceDialog, &frm_practice::valuesAccepted, this,
            [this](const frm_practice::Values &v) {
                setPractice(v.practice);
                setTickVolumeAndPair(v.volumePercent, v.pair);
            });
    m_practiceDialog->openModal();
}

} // namespace pv2

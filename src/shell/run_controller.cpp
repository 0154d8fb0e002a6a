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
    m_clock = std::make_unique<BeatClock>(
        m_engine.state(), m_counter, m_display.pacer(), *m_timer, parts.random,
        [this](bool downbeat, uint32_t due) {
            m_tick.sendTick(downbeat, due + static_cast<uint32_t>(m_avPlan.tickShiftMs));
        },
        parts.fluctChecked, parts.upbeatColouring);
    connect(c.btn_start, &QPushButton::clicked, this, &RunController::btn_start_Click);
    connect(c.beat_timer, &QTimer::timeout, this, &RunController::beatTimerFired);
    connect(c.landing_timer, &QTimer::timeout, this, &RunController::beatTimerFired);
}

RunController::~RunController() {
    delete m_syncDialog.data();
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
        m_engine.requestStop();
        c.btn_start->setFocus();
        c.btn_start->setText(QStringLiteral("START"));
    }
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
    pacer.beginStep();
    m_clock->onTimer();
    pacer.endStep();
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
    m_midi.setTimerPeriod(period);
    m_midi.wake();
    m_display.pacer().flush();
    applyAvPlan();
    m_clock->armBeatTimer(period);
    armLanding();
}

void RunController::stopTimers() {
    c.beat_timer->stop();
    c.landing_timer->stop();
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
        m_tick.sendTick(false, heardTick - static_cast<uint32_t>(delay));
    };
    m_syncDialog = new frm_sync(m_counter, click, m_syncOffset, c.owner);
    connect(m_syncDialog, &frm_sync::offsetAccepted, this, [this](int ms) {
        m_syncOffset = clampSyncOffsetMs(ms);
        m_userSettings.setSyncOffsetMs(m_syncOffset);
        applyAvPlan();
    });
    m_syncDialog->openModal();
}

} // namespace pv2

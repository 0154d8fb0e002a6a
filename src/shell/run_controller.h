#pragma once

#include "beat/beat_clock.h"
#include "beat/frame_pacer.h"
#include "beat/practice.h"
#include "dialogs/frm_practice.h"
#include "dialogs/frm_sync.h"
#include "platform/user_settings.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

class QPushButton;
class QTimer;
class QWidget;

namespace pv2 {

class BeatDisplay;
class BeatEngine;
class MidiOut;
class TickCounter;
class TickSound;

// START and STOP, the beat timer and the landings' own steps, and how picture and sound are
// lined up (the user's offset and its window).
class RunController : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QPushButton *btn_start;
        QTimer *beat_timer;
        QTimer *landing_timer;
        QWidget *owner; // of the offset window
    };
    struct Parts {
        BeatEngine &engine;
        BeatDisplay &display;
        TickSound &tick;
        TickCounter &counter;
        MidiOut &midi;
        RandomSource &random;
        const QString &settingsFile; // empty: the desktop's usual place
        std::function<int()> timerInterval;
        BeatClock::FlagFn fluctChecked;
        BeatClock::FlagFn upbeatColouring;
        // The tempo box shows the practice ladder's tempo.
        std::function<void(const QString &)> setTempoText;
    };
    RunController(const Controls &controls, const Parts &parts);
    ~RunController() override;

    void btn_start_Click();
    // Digits 1 to 6 start from the beat their mark stands at, or stop.
    void btn_start_KeyDown(int keyCode);
    void armBeatTimer();
    // What each firing of beat_timer does: one step of the clock, shown as one frame.
    void beatTimerFired();
    void stopTimers();

    // The picture/sound offset window (F9, or the drawing area's context menu).
    void openSyncDialog();
    frm_sync *syncDialog() const { return m_syncDialog; }
    int syncOffsetMs() const { return m_syncOffset; }
    const AvPlan &avPlan() const { return m_avPlan; }
    BeatClock &clock() { return *m_clock; }

    // Practice: count-in, muted bars, the tempo ladder and the timer, taken at START; the ticks'
    // volume and pair, kept per user.
    void setPractice(const PracticeSettings &p);
    const PracticeSettings &practice() const { return m_practice; }
    bool practiceRunning() const { return m_practiceRun.has_value(); }
    void openPracticeDialog();
    frm_practice *practiceDialog() const { return m_practiceDialog; }
    // By ten percent.
    void stepVolume(bool up);
    void setTickVolumeAndPair(int percent, int pair);

private:
    void stopRun();
    bool barLineAhead() const;
    void startPractice();
    void practiceLanding();
    void endPractice();
    void showPracticeStatus();
    void armLanding();
    void applyAvPlan();

    Controls c;
    BeatEngine &m_engine;
    BeatDisplay &m_display;
    TickSound &m_tick;
    TickCounter &m_counter;
    MidiOut &m_midi;
    std::function<int()> m_timerInterval;
    std::unique_ptr<BeatTimer> m_timer;
    std::unique_ptr<BeatClock> m_clock;
    UserSettings m_userSettings;
    int m_syncOffset = 0;
    AvPlan m_avPlan;
    QPointer<frm_sync> m_syncDialog;
    std::function<void(const QString &)> m_setTempoText;
    PracticeSettings m_practice;
    std::optional<PracticeRun> m_practiceRun;
    uint32_t m_runStart = 0;
    QPointer<frm_practice> m_practiceDialog;
};

} // namespace pv2

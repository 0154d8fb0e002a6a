#pragma once

#include "beat/beat_clock.h"
#include "beat/frame_pacer.h"
#include "beat/schedule.h"
#include "dialogs/frm_save.h"
#include "dialogs/frm_sync.h"
#include "dialogs/frm_tune.h"
#include "pattern/tap_tempo.h"
#include "platform/text_file.h"
#include "platform/user_settings.h"
#include "preset/preset_file.h"
#include "sound/tick_sound.h"

#include <QFont>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;

namespace pv2 {

class HelpViewer;
class MessageBoxes;
class MidiOut;
class PictureBox;
class TickCounter;

// Everything the main window reaches outside itself; tests pass fakes.
struct Services {
    TickCounter &counter;
    MidiOut &midi;
    MessageBoxes &boxes;
    HelpViewer &help;
    FileAccess &files;
    RandomSource &random;
    QString workDir;
    std::function<void()> quit;
    // The user's own settings; empty for the desktop's usual place.
    QString settingsFile = {};
};

// Window geometry in twips for an outer size W x H; pure so it can be checked exactly.
struct LayoutGeometry {
    int areaW = 0, areaH = 0;
    int picture2Top = 0;
    int bgLeft = 0, bgTop = 0;
    int endTop = 0;
    int fkeyRowTop = 0;
    int l3Top = 0, bmarkTop = 0;
};
LayoutGeometry computeLayout(int W, int H, int ballHeight);

// How the platform numbers physical keys in a key event's native codes.
enum class NativeKeys { X11, Windows };
#ifdef Q_OS_WIN
inline constexpr NativeKeys kNativeKeys = NativeKeys::Windows;
#else
inline constexpr NativeKeys kNativeKeys = NativeKeys::X11; // xcb and Wayland alike
#endif
// The Windows virtual-key code of a key, which the dispatcher's table is written in.
int virtualKeyOf(const QKeyEvent &e, NativeKeys native = kNativeKeys);

class frm_main : public QWidget {
    Q_OBJECT
public:
    explicit frm_main(const Services &services, QWidget *parent = nullptr);
    ~frm_main() override;

    // Controls, under their given names.
    PictureBox *Picture1 = nullptr;
    PictureBox *Picture2 = nullptr;
    QCheckBox *BGdisp = nullptr;
    QPushButton *btn_end = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QComboBox *cmb_speed = nullptr;
    QPushButton *btn_tap = nullptr;
    QPushButton *btn_start = nullptr;
    QGroupBox *Frame1 = nullptr;
    std::array<QRadioButton *, 2> sound_switch{};
    QPushButton *btn_tune = nullptr;
    QPushButton *btn_save = nullptr;
    QPushButton *btn_reload = nullptr;
    std::array<QPushButton *, 8> btn_f{};
    QCheckBox *L3check = nullptr;
    QCheckBox *chkBmark = nullptr;
    QComboBox *menu1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QCheckBox *chkVar = nullptr;
    QLabel *CursorImage = nullptr;
    QTimer *beat_timer = nullptr;
    // A landing's own step, and frames waiting for their moment.
    QTimer *landing_timer = nullptr;
    QTimer *frame_timer = nullptr;
    // The drawing area's context menu: the picture/sound offset.
    QMenu *picture_menu = nullptr;

    EngineState &state() { return st; }
    BeatClock &clock() { return *m_clock; }
    // What each firing of beat_timer does: one step of the clock, shown as one frame.
    void beatTimerFired();
    // Shows the frames whose moment has come.
    void presentFrames();
    FramePacer &pacer() { return *m_pacer; }
    // The picture/sound offset window (F9, or the drawing area's context menu).
    void openSyncDialog();
    frm_sync *syncDialog() const { return m_syncDialog; }
    int syncOffsetMs() const { return m_syncOffset; }
    const AvPlan &avPlan() const { return m_avPlan; }
    TickSound &tickSound() { return m_tick; }
    const FluctProfile &fluctProfileTable() const { return fluctProfile; }
    const std::array<int16_t, 31> &digitStartTable() const { return digitStart; }
    const std::vector<PresetRecord> &presetRecords() const { return presets; }
    int16_t presetCount() const { return static_cast<int16_t>(presets.size()); }
    const PresetSettings &settings() const { return m_settings; }
    QString presetMemo() const { return m_presetMemo; }
    // What menu1 shows while no entry is picked.
    QString menuText() const;
    frm_save *saveDialog() const { return m_saveDialog; }
    frm_tune *tuneDialog() const { return m_tuneDialog; }
    int fkeyRowTop() const { return m_fkeyRowTop; }

    // Procedures under their given names.
    void Form_KeyDown(int &keyCode, int shift);
    void Form_Resize();
    void btn_start_Click();
    void btn_start_KeyDown(int keyCode);
    void armBeatTimer();
    void buildSchedule(Schedule &table);
    void rebuildBeats();
    void applyTempo();
    void B_Disp();
    void drawL3();
    void dispMemo(const QString &text);
    void setPatMenu();
    void setMenuParm(int index);
    void resetToDefaults();
    void selectPreset(int index);
    void btn_tap_KeyDown(int keyCode);
    void btn_reload_Click();
    void btn_end_Click();
    void btn_save_Click();
    void btn_tune_Click();
    // Sets the tempo box text as code does: no handling of its own runs.
    void setSpeedText(const QString &text);
    // After a save: reload and announce it.
    void presetsSaved();

    static QString menuCaption();
    static QString menuUpdatedCaption();
    static QString menuMissingCaption();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void createControls();
    void Form_Load();
    void onPatternChanged();
    bool speedKeyPress(QKeyEvent *event);
    void speedArrow(bool up);
    void registerTap();
    void helpCommand();
    void soundToggle();
    void tempoStep(bool up);
    void selectSpeedEntry(int index);
    void beatStep(bool plus);
    void setTapColour(const QColor &c);
    void attachFilter(QWidget *w);
    void applyAvPlan();
    void armLanding();

    Services m_services;
    EngineState st;
    TickSound m_tick;
    std::unique_ptr<BeatTimer> m_timerAdapter;
    std::unique_ptr<BallView> m_view;
    std::unique_ptr<FramePacer::OneShot> m_frameShot;
    std::unique_ptr<FramePacer> m_pacer;
    std::unique_ptr<BeatClock> m_clock;
    UserSettings m_userSettings;
    int m_syncOffset = 0;
    AvPlan m_avPlan;
    TapTempo m_tap;

    FluctProfile fluctProfile{};
    PresetSettings m_settings;
    std::vector<PresetRecord> presets;
    QString m_presetMemo;
    std::array<int16_t, 31> digitStart{};
    std::array<int, 11> rightGap{};
    int m_fkeyRowTop = 0;
    QFont drawFont;
    QImage m_ball;
    bool m_speedSelected = false;
    bool m_inPatternUpdate = false;
    bool m_shownOnce = false;
    QPointer<frm_save> m_saveDialog;
    QPointer<frm_tune> m_tuneDialog;
    QPointer<frm_sync> m_syncDialog;

    friend class MainBallView;
};

} // namespace pv2

#pragma once

#include "beat/beat_engine.h"
#include "beat_display.h"
#include "dialogs/frm_tune.h"
#include "key_dispatcher.h"
#include "pattern_box.h"
#include "platform/text_file.h"
#include "preset_menu.h"
#include "run_controller.h"
#include "sound/tick_sound.h"
#include "tempo_box.h"

#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
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

// The main window: its controls, and one controller per part of it wired together here.
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

    BeatEngine &engine() { return m_engine; }
    BeatDisplay &display() { return *m_display; }
    RunController &run() { return *m_run; }
    TempoBox &tempoBox() { return *m_tempo; }
    PatternBox &patternBox() { return *m_pattern; }
    PresetMenu &presetMenu() { return *m_presets; }
    KeyDispatcher &keys() { return m_keys; }
    TickSound &tickSound() { return m_tick; }

    EngineState &state() { return m_engine.state(); }
    BeatClock &clock() { return m_run->clock(); }
    FramePacer &pacer() { return m_display->pacer(); }
    void beatTimerFired() { m_run->beatTimerFired(); }
    void presentFrames() { m_display->presentFrames(); }
    void btn_start_Click() { m_run->btn_start_Click(); }
    void setSpeedText(const QString &text) { m_tempo->setSpeedText(text); }
    void openSyncDialog() { m_run->openSyncDialog(); }
    frm_sync *syncDialog() const { return m_run->syncDialog(); }
    int syncOffsetMs() const { return m_run->syncOffsetMs(); }
    const AvPlan &avPlan() const { return m_run->avPlan(); }
    void btn_reload_Click() { m_presets->btn_reload_Click(); }
    void btn_save_Click() { m_presets->btn_save_Click(); }
    const PresetSettings &settings() const { return m_presets->settings(); }
    int16_t presetCount() const { return static_cast<int16_t>(m_presets->presets().size()); }
    QString presetMemo() const { return m_display->memo(); }
    QString menuText() const { return m_presets->menuText(); }
    frm_save *saveDialog() const { return m_presets->saveDialog(); }
    frm_tune *tuneDialog() const { return m_tuneDialog; }
    int fkeyRowTop() const { return m_fkeyRowTop; }

    void Form_Resize();
    void btn_end_Click();
    void btn_tune_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void createControls();
    void wire();
    void Form_Load();
    void recordRightGaps();
    void helpCommand();
    void soundToggle();
    void stopRunning();
    void applyPresetPractice(const QString &token);

    Services m_services;
    TickSound m_tick;
    BeatEngine m_engine;
    std::unique_ptr<BeatDisplay> m_display;
    std::unique_ptr<RunController> m_run;
    std::unique_ptr<TempoBox> m_tempo;
    std::unique_ptr<PatternBox> m_pattern;
    std::unique_ptr<PresetMenu> m_presets;
    KeyDispatcher m_keys;
    std::array<int, 11> rightGap{};
    int m_fkeyRowTop = 0;
    bool m_shownOnce = false;
    QPointer<frm_tune> m_tuneDialog;
};

} // namespace pv2

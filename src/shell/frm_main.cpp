#include "frm_main.h"

#include "audio/midi_out.h"
#include "picture_box.h"
#include "platform/message_boxes.h"
#include "ui/help_viewer.h"
#include "ui/twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace pv2 {

frm_main::frm_main(const Services &services, QWidget *parent)
    : QWidget(parent), m_services(services), m_tick(services.midi, services.boxes),
      m_engine(
          [this] {
              return ScheduleInput{.tempoText = cmb_speed->currentText(),
                                   .patternText = Text1->text(),
                                   .fluctChecked = chkVar->isChecked(),
                                   .areaWidth = Picture1->image().width(),
                                   .areaHeight = Picture1->image().height(),
                                   .fluctDepth = settings().fluctDepth};
          },
          [this](const QString &text) { setSpeedText(text); }) {
    setWindowTitle(QStringLiteral("Pulvano2"));
    // The design places the client area; move() would place the frame's corner there.
    setGeometry(twipsRect(2550, 1740, 10770, 9060));
    createControls();

    m_display = std::make_unique<BeatDisplay>(
        BeatDisplay::Controls{Picture1, Picture2, chkBmark, L3check, frame_timer}, m_engine.state(),
        m_services.counter);
    m_run = std::make_unique<RunController>(
        RunController::Controls{btn_start, beat_timer, landing_timer, this},
        RunController::Parts{
            m_engine, *m_display, m_tick, m_services.counter, m_services.midi, m_services.random,
            m_services.settingsFile, [this] { return int(settings().timerInterval); },
            [this] { return chkVar->isChecked(); }, [this] { return BGdisp->isChecked(); },
            [this](const QString &text) { setSpeedText(text); }});
    m_tempo = std::make_unique<TempoBox>(TempoBox::Controls{cmb_speed, btn_tap, btn_start},
                                         m_engine, m_services.counter);
    m_pattern =
        std::make_unique<PatternBox>(PatternBox::Controls{Text1, chkVar, cmb_speed}, m_engine,
                                     *m_display, [this] { m_run->clock().reseedFluct(); });
    m_presets = std::make_unique<PresetMenu>(
        PresetMenu::Controls{menu1, btn_save, btn_reload, btn_start, Text1, cmb_speed, sound_switch,
                             BGdisp, chkBmark, chkVar, L3check},
        PresetMenu::Parts{m_engine, *m_display, *m_tempo, m_services.files, m_services.boxes,
                          m_services.workDir,
                          [this](const QString &token) { applyPresetPractice(token); },
                          [this] { return m_run->practice(); }});
    wire();
    Form_Load();
    btn_start->setFocus();
}

frm_main::~frm_main() {
    stopRunning();
    delete m_tuneDialog.data();
    delete m_presets->saveDialog();
    delete m_run->syncDialog();
    // The controls go after this part of the window; the focus leaving the tempo box while they
    // go makes it report the edit as finished, which must not reach a half-destroyed window.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
}

void frm_main::wire() {
    picture_menu->addAction(QStringLiteral("音と表示のずれ(&Z)...\tF9"), m_run.get(),
                            &RunController::openSyncDialog);
    picture_menu->addAction(QStringLiteral("練習(&R)...\tF10"), m_run.get(),
                            &RunController::openPracticeDialog);
    connect(Picture1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { picture_menu->popup(Picture1->mapToGlobal(at)); });
    connect(btn_end, &QPushButton::clicked, this, &frm_main::btn_end_Click);
    connect(btn_tune, &QPushButton::clicked, this, &frm_main::btn_tune_Click);
    connect(L3check, &QCheckBox::toggled, this, [this] { btn_start->setFocus(); });
    connect(BGdisp, &QCheckBox::clicked, this, [this] { btn_start->setFocus(); });
    for (int i = 0; i < 2; ++i)
        connect(sound_switch[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (!on)
                return;
            m_engine.state().soundOn = i == 0;
            btn_start->setFocus();
        });

    m_keys.on(KeyCommand::FocusPattern, [this] { Text1->setFocus(); });
    m_keys.on(KeyCommand::FocusMenu, [this] { menu1->setFocus(); });
    m_keys.on(KeyCommand::FocusTempo, [this] { cmb_speed->setFocus(); });
    m_keys.on(KeyCommand::Help, [this] { helpCommand(); });
    m_keys.on(KeyCommand::BeatMinus, [this] { m_pattern->beatStep(false); });
    m_keys.on(KeyCommand::BeatPlus, [this] { m_pattern->beatStep(true); });
    m_keys.on(KeyCommand::Tap, [this] {
        btn_tap->setFocus();
        m_tempo->btn_tap_KeyDown(vk::Slash);
    });
    m_keys.on(KeyCommand::StartStop, [this] { m_run->btn_start_Click(); });
    m_keys.on(KeyCommand::TempoDown, [this] { m_tempo->tempoStep(false); });
    m_keys.on(KeyCommand::TempoUp, [this] { m_tempo->tempoStep(true); });
    m_keys.on(KeyCommand::SoundToggle, [this] { soundToggle(); });
    m_keys.on(KeyCommand::SyncOffset, [this] { m_run->openSyncDialog(); });
    m_keys.on(KeyCommand::Practice, [this] { m_run->openPracticeDialog(); });
    m_keys.on(KeyCommand::VolumeDown, [this] { m_run->stepVolume(false); });
    m_keys.on(KeyCommand::VolumeUp, [this] { m_run->stepVolume(true); });
    m_keys.ownKeys(cmb_speed, [this](QKeyEvent *e) { return m_tempo->keyPress(e); });
    m_keys.ownKeys(Text1, [this](QKeyEvent *e) { return m_pattern->keyPress(e); });
    m_keys.ownKeys(menu1, [this](QKeyEvent *e) { return m_presets->keyPress(e); });
    m_keys.keepOut(cmb_speed->lineEdit());
    m_keys.onKeyDown(btn_start, [this](int key) { m_run->btn_start_KeyDown(key); });
    m_keys.onKeyDown(btn_tap, [this](int key) { m_tempo->btn_tap_KeyDown(key); });
    for (int i = 0; i < 8; ++i)
        connect(btn_f[i], &QPushButton::clicked, this, [this, i] {
            int key = vk::F1 + i;
            m_keys.Form_KeyDown(key, 0);
        });
    m_keys.attach(this);
}

void frm_main::Form_Load() {
    recordRightGaps();
    m_tick.openTickDevice();
    EngineState &st = m_engine.state();
    st.soundOn = true;
    st.isStopped = true;
    st.beatColor = 0x996644;
    st.upbeatColor = 0xFF6600;
    // The window's own text colour (blue) would only reach text printed on the window itself,
    // and nothing is; the controls keep their own colours.
    Picture1->setBackground(colorFromBgr(st.beatColor));
    m_presets->load();
    m_tempo->load();
}

void frm_main::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (m_shownOnce)
        Form_Resize();
}

void frm_main::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        Form_Resize();
    }
}

void frm_main::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    // Restoring from minimised may not resize; run a full pass all the same.
    if (event->type() == QEvent::WindowStateChange && m_shownOnce && !isMinimized())
        Form_Resize();
}

// A preset with practice settings turns practice on with them; one without turns it off and
// keeps the values for the Practice window.
void frm_main::applyPresetPractice(const QString &token) {
    PracticeSettings p = m_run->practice();
    p.on = false;
    m_run->setPractice(parsePracticeToken(token).value_or(p));
}

// The options' own handling sets soundOn.
void frm_main::soundToggle() {
    sound_switch[m_engine.state().soundOn ? 1 : 0]->setChecked(true);
}

void frm_main::helpCommand() {
    const QString path = QDir(m_services.workDir).filePath(QStringLiteral("pv2help.chm"));
    if (!m_services.help.open(path))
        m_services.boxes.show(QStringLiteral("ヘルプファイル pv2help.chm を開けませんでした。"));
}

void frm_main::btn_tune_Click() {
    if (!m_tuneDialog) {
        m_tuneDialog = new frm_tune(
            [this](uint32_t packed) {
                if (m_tick.deviceOpen())
                    m_services.midi.shortMsg(packed);
            },
            this);
        connect(m_tuneDialog, &frm_tune::closed, this, [this] {
            if (m_tick.deviceOpen())
                m_services.midi.keepSounds(false);
        });
    }
    // Its tone's instrument loads while the window opens, not when the tone is asked for.
    if (m_tick.deviceOpen())
        m_services.midi.keepSounds(true);
    m_tuneDialog->openModal();
}

void frm_main::stopRunning() {
    m_run->stopTimers();
    frame_timer->stop();
    m_tick.closeTickDevice();
}

void frm_main::closeEvent(QCloseEvent *event) {
    btn_start->setFocus();
    stopRunning();
    if (m_presets->saveDialog())
        m_presets->saveDialog()->close();
    event->accept();
}

void frm_main::btn_end_Click() {
    stopRunning();
    if (m_services.quit)
        m_services.quit();
}

} // namespace pv2

#include "preset_menu.h"

#include "beat/beat_engine.h"
#include "beat_display.h"
#include "key_dispatcher.h"
#include "tempo_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace pv2 {

QString PresetMenu::menuCaption() {
    return QStringLiteral("プリセット・メニュー");
}
QString PresetMenu::menuUpdatedCaption() {
    return QStringLiteral("プリセット・メニュー(更新)");
}
QString PresetMenu::menuMissingCaption() {
    return QStringLiteral("メニューファイルがありません");
}

PresetMenu::PresetMenu(const Controls &controls, const Parts &parts)
    : c(controls), m_engine(parts.engine), m_display(parts.display), m_tempo(parts.tempo),
      m_files(parts.files), m_boxes(parts.boxes), m_workDir(parts.workDir),
      m_applyPractice(parts.applyPractice), m_practice(parts.practice) {
    connect(c.menu1, qOverload<int>(&QComboBox::activated), this, &PresetMenu::selectPreset);
    connect(c.btn_reload, &QPushButton::clicked, this, &PresetMenu::btn_reload_Click);
    connect(c.btn_save, &QPushButton::clicked, this, &PresetMenu::btn_save_Click);
}

QString PresetMenu::menuPath() const {
    return QDir(m_workDir).filePath(QStringLiteral("menu.txt"));
}

void PresetMenu::load() {
    m_settings = PresetSettings{};
    c.menu1->setPlaceholderText(menuCaption());
    setPatMenu();
    if (!m_settings.showSaveButtons) {
        c.btn_save->setVisible(false);
        c.btn_reload->setVisible(false);
    }
}

QString PresetMenu::menuText() const {
    return c.menu1->currentIndex() >= 0 ? c.menu1->currentText() : c.menu1->placeholderText();
}

void PresetMenu::setPatMenu() {
    c.menu1->clear();
    PresetList list = readPresetFile(m_files, menuPath(), m_settings);
    m_presets = std::move(list.presets);
    c.menu1->addItems(list.listTexts);
    c.menu1->setCurrentIndex(-1);
    if (!list.ok)
        c.menu1->setPlaceholderText(menuMissingCaption());
}

void PresetMenu::btn_reload_Click() {
    setPatMenu();
    c.menu1->setPlaceholderText(menuUpdatedCaption());
    c.menu1->setFocus();
}

void PresetMenu::presetsSaved() {
    btn_reload_Click();
}

void PresetMenu::resetToDefaults() {
    c.Text1->setText(QStringLiteral("1111"));
    m_tempo.setSpeedText(QStringLiteral("80"));
    c.chkVar->setChecked(false);
    c.L3check->setChecked(false);
    c.sound_switch[1]->setChecked(true);
    c.BGdisp->setChecked(false);
    c.chkBmark->setChecked(false);
    m_display.setMemo(QString());
}

void PresetMenu::setMenuParm(int index) {
    if (index < 0 || index >= static_cast<int>(m_presets.size()))
        return;
    const PresetRecord &p = m_presets[index];
    m_display.clearArea();
    if (!p.parm.isEmpty())
        c.Text1->setText(p.parm);
    if (!p.m.isEmpty())
        m_tempo.setSpeedText(p.m);
    if (p.s == QLatin1String("1"))
        c.sound_switch[0]->setChecked(true);
    else if (p.s == QLatin1String("0"))
        c.sound_switch[1]->setChecked(true);
    auto flag = [](QCheckBox *box, const QString &v) {
        if (v == QLatin1String("1"))
            box->setChecked(true);
        else if (v == QLatin1String("0"))
            box->setChecked(false);
    };
    flag(c.BGdisp, p.a);
    flag(c.chkBmark, p.d);
    flag(c.chkVar, p.f);
    flag(c.L3check, p.g);
    if (p.g == QLatin1String("1"))
        m_display.drawL3();
    m_display.dispMemo(p.memo);
    m_display.setMemo(p.memo);
    if (m_applyPractice)
        m_applyPractice(p.practice);
}

void PresetMenu::selectPreset(int index) {
    if (index < 0 || index >= static_cast<int>(m_presets.size()))
        return;
    if (m_presets[index].title.left(3) == QLatin1String("---"))
        return;
    resetToDefaults();
    setMenuParm(index);
    m_engine.rebuildBeats();
    c.menu1->setFocus();
}

bool PresetMenu::keyPress(QKeyEvent *event) {
    if (virtualKeyOf(*event) == vk::Return) {
        c.next->setFocus();
        return true;
    }
    // Typed text means nothing to the list; a drop-down list would otherwise jump to an
    // entry by its first letter and apply that preset.
    const QString t = event->text();
    return !t.isEmpty() && t.at(0).isPrint();
}

void PresetMenu::btn_save_Click() {
    if (m_saveDialog) {
        m_saveDialog->raise();
        m_saveDialog->activateWindow();
        return;
    }
    SaveSnapshot snap;
    snap.beat = c.Text1->text();
    snap.sound = c.sound_switch[0]->isChecked();
    snap.upbeat = c.BGdisp->isChecked();
    snap.fluct = c.chkVar->isChecked();
    snap.beatNumbers = c.chkBmark->isChecked();
    snap.guideLine = c.L3check->isChecked();
    snap.tempo = c.cmb_speed->currentText();
    m_saveDialog = new frm_save(snap, m_files, menuPath(), m_boxes, [this] { presetsSaved(); });
    if (m_practice)
        m_saveDialog->offerPractice(m_practice());
    m_saveDialog->show();
}

} // namespace pv2

#pragma once

#include "dialogs/frm_save.h"
#include "preset/preset_file.h"

#include <QObject>
#include <QPointer>
#include <array>
#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace pv2 {

class BeatDisplay;
class BeatEngine;
class FileAccess;
class MessageBoxes;
class TempoBox;

// The preset menu read from menu.txt in the working directory, with Save and Reload.
class PresetMenu : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QComboBox *menu1;
        QPushButton *btn_save;
        QPushButton *btn_reload;
        QWidget *next; // where Return in the list goes
        // What a preset sets.
        QLineEdit *Text1;
        QComboBox *cmb_speed;
        std::array<QRadioButton *, 2> sound_switch;
        QCheckBox *BGdisp;
        QCheckBox *chkBmark;
        QCheckBox *chkVar;
        QCheckBox *L3check;
    };
    struct Parts {
        BeatEngine &engine;
        BeatDisplay &display;
        TempoBox &tempo;
        FileAccess &files;
        MessageBoxes &boxes;
        QString workDir;
        // A preset's practice token (empty: none) is applied; the current practice is saved.
        std::function<void(const QString &token)> applyPractice;
        std::function<PracticeSettings()> practice;
    };
    PresetMenu(const Controls &controls, const Parts &parts);

    // Reads the file and shows or hides Save and Reload as it says.
    void load();
    void setPatMenu();
    void setMenuParm(int index);
    void resetToDefaults();
    void selectPreset(int index);
    void btn_reload_Click();
    void btn_save_Click();
    // After a save: reload and announce it.
    void presetsSaved();
    // The list's own keys; true when the key is used up here.
    bool keyPress(QKeyEvent *event);

    // What menu1 shows while no entry is picked.
    QString menuText() const;
    const PresetSettings &settings() const { return m_settings; }
    const std::vector<PresetRecord> &presets() const { return m_presets; }
    frm_save *saveDialog() const { return m_saveDialog; }

    static QString menuCaption();
    static QString menuUpdatedCaption();
    static QString menuMissingCaption();

private:
    QString menuPath() const;

    Controls c;
    BeatEngine &m_engine;
    BeatDisplay &m_display;
    TempoBox &m_tempo;
    FileAccess &m_files;
    MessageBoxes &m_boxes;
    QString m_workDir;
    std::function<void(const QString &)> m_applyPractice;
    std::function<PracticeSettings()> m_practice;
    PresetSettings m_settings;
    std::vector<PresetRecord> m_presets;
    QPointer<frm_save> m_saveDialog;
};

} // namespace pv2

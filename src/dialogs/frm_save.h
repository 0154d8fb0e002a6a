#pragma once

#include "beat/practice.h"

#include <QDateTime>
#include <QLocale>
#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pv2 {

class FileAccess;
class MessageBoxes;

// The main window's settings at the moment the dialog opens.
struct SaveSnapshot {
    QString beat;
    QString tempo;
    bool sound = true;
    bool upbeat = false;
    bool beatNumbers = false;
    bool guideLine = false;
    bool fluct = false;
};

// Appends the current settings to the preset file as one new preset line.
class frm_save : public QWidget {
    Q_OBJECT
public:
    frm_save(const SaveSnapshot &snapshot, FileAccess &files, QString path, MessageBoxes &boxes,
             std::function<void()> onSaved, std::function<QDateTime()> now = {},
             QWidget *parent = nullptr);

    QLineEdit *title = nullptr;
    QLineEdit *memo = nullptr;
    QPushButton *btn_save = nullptr;
    QPushButton *btn_cancel = nullptr;
    QLineEdit *beat = nullptr;
    QLineEdit *tempo = nullptr;
    QCheckBox *chkS = nullptr;
    QCheckBox *chkA = nullptr;
    QCheckBox *chkG = nullptr;
    QCheckBox *chkD = nullptr;
    QCheckBox *chkF = nullptr;
    QCheckBox *chkP = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;

    void btn_save_Click();
    // The practice settings, offered for the line (and ticked when on).
    void offerPractice(const PracticeSettings &p);

    // Numeric date, a blank, the time to the second; midnight gives the date alone.
    static QString dateTimeText(const QDateTime &dt, const QLocale &loc = QLocale::system());

private:
    FileAccess &m_files;
    QString m_path;
    MessageBoxes &m_boxes;
    std::function<void()> m_onSaved;
    PracticeSettings m_practice;
};

} // namespace pv2

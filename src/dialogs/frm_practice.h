#pragma once

#include "beat/practice.h"

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

namespace pv2 {

// The practice layer's settings, the ticks' volume and their pair of notes. Nothing changes
// until OK.
class frm_practice : public QDialog {
    Q_OBJECT
public:
    struct Values {
        PracticeSettings practice;
        int volumePercent = 100;
        int pair = 0;
    };
    frm_practice(const Values &values, const QStringList &pairNames, QWidget *owner = nullptr);

    // Shows the window modally over its owner without blocking, the focus on the first box.
    void openModal();
    Values values() const;

    QCheckBox *chkOn = nullptr;
    QComboBox *cmbCount = nullptr;
    QComboBox *cmbMute = nullptr; // none, bars, chance
    QSpinBox *spnPlay = nullptr;
    QSpinBox *spnMute = nullptr;
    QSpinBox *spnPercent = nullptr;
    QCheckBox *chkHide = nullptr;
    QSpinBox *spnStep = nullptr; // 0: no ladder
    QSpinBox *spnEvery = nullptr;
    QSpinBox *spnTarget = nullptr;
    QSpinBox *spnTimer = nullptr; // 0: no timer
    QSpinBox *spnVolume = nullptr;
    QComboBox *cmbPair = nullptr;
    QPushButton *btn_ok = nullptr;
    QPushButton *btn_cancel = nullptr;

signals:
    void valuesAccepted(const pv2::frm_practice::Values &values);

public slots:
    void accept() override;

private:
    void enableParts();
};

} // namespace pv2

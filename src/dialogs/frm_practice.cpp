#include "frm_practice.h"

#include "ui/twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>

namespace pv2 {

namespace {

QSpinBox *spin(QWidget *parent, int lo, int hi, int value, const QString &suffix = {}) {
    auto *s = new QSpinBox(parent);
    s->setRange(lo, hi);
    s->setValue(std::clamp(value, lo, hi));
    s->setSuffix(suffix);
    return s;
}

QHBoxLayout *row(std::initializer_list<QWidget *> widgets) {
    auto *r = new QHBoxLayout;
    for (QWidget *w : widgets)
        r->addWidget(w);
    r->addStretch();
    return r;
}

} // namespace

frm_practice::frm_practice(const Values &values, const QStringList &pairNames, QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::CustomizeWindowHint) {
    setWindowTitle(QStringLiteral("練習"));
    setFont(designFont("MS UI Gothic", 9));
    setWindowModality(Qt::ApplicationModal);
    const PracticeSettings p = values.practice.clamped();

    chkOn = new QCheckBox(QStringLiteral("練習モード(&P)"), this);
    chkOn->setChecked(p.on);
    cmbCount = new QComboBox(this);
    cmbCount->addItems({QStringLiteral("なし"), QStringLiteral("1小節"), QStringLiteral("2小節")});
    cmbCount->setCurrentIndex(p.countInBars);
    cmbMute = new QComboBox(this);
    cmbMute->addItems({QStringLiteral("なし"), QStringLiteral("小節ごと"), QStringLiteral("確率")});
    cmbMute->setCurrentIndex(static_cast<int>(p.mute));
    spnPlay = spin(this, 1, 16, p.playBars, QStringLiteral(" 小節鳴らす"));
    spnMute = spin(this, 1, 16, p.muteBars, QStringLiteral(" 小節無音"));
    spnPercent = spin(this, 10, 90, p.mutePercent, QStringLiteral(" %"));
    spnPercent->setSingleStep(10);
    chkHide = new QCheckBox(QStringLiteral("無音の小節はボールも隠す(&H)"), this);
    chkHide->setChecked(p.hideBall);
    spnStep = spin(this, -20, 20, p.ladderStep, QStringLiteral(" BPM"));
    spnEvery = spin(this, 1, 64, p.ladderEvery, QStringLiteral(" 小節ごと"));
    spnTarget = spin(this, 1, 800, p.ladderTarget, QStringLiteral(" BPMまで"));
    spnTimer = spin(this, 0, 120, p.timerMinutes, QStringLiteral(" 分"));
    spnTimer->setSpecialValueText(QStringLiteral("なし"));
    spnVolume = spin(this, 0, 100, values.volumePercent, QStringLiteral(" %"));
    spnVolume->setSingleStep(10);
    cmbPair = new QComboBox(this);
    cmbPair->addItems(pairNames);
    cmbPair->setCurrentIndex(std::clamp(values.pair, 0, int(pairNames.size()) - 1));
    btn_ok = new QPushButton(QStringLiteral("OK"), this);
    btn_ok->setDefault(true);
    btn_cancel = new QPushButton(QStringLiteral("キャンセル"), this);

    auto *form = new QFormLayout(this);
    form->addRow(chkOn);
    form->addRow(QStringLiteral("カウントイン(&C)"), cmbCount);
    // A label beside a row of boxes needs its buddy for its mnemonic.
    auto label = [this](const QString &text, QWidget *buddy) {
        auto *l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    form->addRow(label(QStringLiteral("無音の小節(&U)"), cmbMute),
                 row({cmbMute, spnPlay, spnMute, spnPercent}));
    form->addRow(QString(), chkHide);
    form->addRow(label(QStringLiteral("テンポアップ(&L)"), spnStep),
                 row({spnStep, spnEvery, spnTarget}));
    form->addRow(QStringLiteral("タイマー(&T)"), spnTimer);
    form->addRow(QStringLiteral("音量(&V)"), spnVolume);
    form->addRow(QStringLiteral("クリック音(&K)"), cmbPair);
    auto *buttons = row({});
    buttons->addWidget(btn_ok);
    buttons->addWidget(btn_cancel);
    form->addRow(buttons);

    connect(chkOn, &QCheckBox::toggled, this, &frm_practice::enableParts);
    connect(cmbMute, &QComboBox::currentIndexChanged, this, &frm_practice::enableParts);
    connect(spnStep, &QSpinBox::valueChanged, this, &frm_practice::enableParts);
    connect(btn_ok, &QPushButton::clicked, this, &frm_practice::accept);
    connect(btn_cancel, &QPushButton::clicked, this, &frm_practice::reject);
    enableParts();
}

// Only what takes effect is editable; the volume and the pair always do.
void frm_practice::enableParts() {
    const bool on = chkOn->isChecked();
    const auto mute = static_cast<PracticeSettings::Mute>(cmbMute->currentIndex());
    for (QWidget *w : {static_cast<QWidget *>(cmbCount), static_cast<QWidget *>(cmbMute),
                       static_cast<QWidget *>(spnStep), static_cast<QWidget *>(spnTimer)})
        w->setEnabled(on);
    spnPlay->setEnabled(on && mute == PracticeSettings::Mute::Bars);
    spnMute->setEnabled(on && mute == PracticeSettings::Mute::Bars);
    spnPercent->setEnabled(on && mute == PracticeSettings::Mute::Chance);
    chkHide->setEnabled(on && mute != PracticeSettings::Mute::Off);
    spnEvery->setEnabled(on && spnStep->value() != 0);
    spnTarget->setEnabled(on && spnStep->value() != 0);
}

void frm_practice::openModal() {
    show();
    raise();
    activateWindow();
    chkOn->setFocus();
}

frm_practice::Values frm_practice::values() const {
    Values v;
    PracticeSettings &p = v.practice;
    p.on = chkOn->isChecked();
    p.countInBars = cmbCount->currentIndex();
    p.mute = static_cast<PracticeSettings::Mute>(cmbMute->currentIndex());
    p.playBars = spnPlay->value();
    p.muteBars = spnMute->value();
    p.mutePercent = spnPercent->value();
    p.hideBall = chkHide->isChecked();
    p.ladderStep = spnStep->value();
    p.ladderEvery = spnEvery->value();
    p.ladderTarget = spnTarget->value();
    p.timerMinutes = spnTimer->value();
    v.volumePercent = spnVolume->value();
    v.pair = cmbPair->currentIndex();
    return v;
}

void frm_practice::accept() {
    QDialog::accept();
    emit valuesAccepted(values());
}

} // namespace pv2

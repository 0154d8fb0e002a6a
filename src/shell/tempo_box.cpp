#include "tempo_box.h"

#include "beat/beat_engine.h"
#include "pattern/tempo_list.h"
#include "platform/tick_counter.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

namespace pv2 {

TempoBox::TempoBox(const Controls &controls, BeatEngine &engine, TickCounter &counter)
    : c(controls), m_engine(engine), m_counter(counter) {
    connect(c.cmb_speed, qOverload<int>(&QComboBox::activated), this, &TempoBox::selectSpeedEntry);
    connect(c.cmb_speed->lineEdit(), &QLineEdit::textEdited, this,
            [this] { m_speedSelected = false; });
    connect(c.btn_tap, &QPushButton::clicked, this, [this] { btn_tap_KeyDown(191); });
    c.btn_tap->installEventFilter(this);
}

void TempoBox::load() {
    c.cmb_speed->addItems(tempoList());
    c.cmb_speed->setCurrentIndex(-1);
    c.cmb_speed->setEditText(QStringLiteral("80"));
    m_speedSelected = false;
}

void TempoBox::setSpeedText(const QString &text) {
    c.cmb_speed->setEditText(text);
    m_speedSelected = false;
}

void TempoBox::selectSpeedEntry(int index) {
    c.cmb_speed->setCurrentIndex(index);
    c.cmb_speed->setEditText(c.cmb_speed->itemText(index));
    m_speedSelected = true;
    m_engine.applyTempo();
}

void TempoBox::speedArrow(bool up) {
    QComboBox *box = c.cmb_speed;
    int index = -1;
    if (m_speedSelected && box->currentIndex() >= 0)
        index = std::clamp(box->currentIndex() + (up ? -1 : 1), 0, box->count() - 1);
    else
        index = arrowSelection(box->currentText(), up);
    if (index >= 0)
        selectSpeedEntry(index);
}

bool TempoBox::keyPress(QKeyEvent *event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        speedArrow(event->key() == Qt::Key_Up);
        return true;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        m_engine.applyTempo();
        c.btn_start->setFocus();
        return true;
    }
    switch (event->key()) {
    case Qt::Key_Delete: // X11 gives it the text U+007F, which is no character to discard
    case Qt::Key_Backspace:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Right:
        return false;
    default:
        break;
    }
    const QString t = event->text();
    if (t.isEmpty())
        return false; // navigation and editing keys belong to the box
    const QChar ch = t.at(0);
    if ((ch >= u'0' && ch <= u'9') || ch == QChar(8))
        return false;
    if (ch == u'/' || ch == u'p')
        c.btn_tap->setFocus();
    return true;
}

void TempoBox::tempoStep(bool up) {
    const QString text = c.cmb_speed->currentText();
    const auto index = up ? tempoStepUpIndex(text) : tempoStepDownIndex(text);
    if (index)
        selectSpeedEntry(*index);
}

void TempoBox::btn_tap_KeyDown(int) {
    setTapColour(QColor(255, 192, 128));
    if (const auto bpm = m_tap.tap(m_counter.now())) {
        setSpeedText(QString::number(*bpm));
        m_engine.applyTempo();
    }
}

void TempoBox::setTapColour(const QColor &colour) {
    QPalette pal = c.btn_tap->palette();
    pal.setColor(QPalette::Button, colour);
    c.btn_tap->setPalette(pal);
}

// The TAP button shows when it has the focus.
bool TempoBox::eventFilter(QObject *watched, QEvent *event) {
    if (watched == c.btn_tap) {
        if (event->type() == QEvent::FocusIn)
            setTapColour(QColor(192, 170, 120));
        else if (event->type() == QEvent::FocusOut)
            setTapColour(QApplication::palette().color(QPalette::Button));
    }
    return false;
}

} // namespace pv2

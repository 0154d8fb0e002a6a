#include "frm_tune.h"

#include "audio/midi_out.h"
#include "ui/twips.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cmath>

namespace pv2 {

namespace {

// Channel fine tuning per step: coarse (controller 6) and fine (controller 38).
constexpr int kCoarse[7] = {76, 73, 69, 64, 60, 58, 56};
constexpr int kFine[7] = {115, 0, 3, 0, 53, 0, 100};
const char *const kCaptions[7] = {"+3", "+2", "+1", " 0", "-1", "-2", "-3"};
} // namespace

frm_tune::frm_tune(SendFn send, QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::CustomizeWindowHint),
      m_send(std::move(send)) {
    setWindowTitle(QStringLiteral("Calibration"));
    setFont(designFont("MS UI Gothic", 9));
    setFixedSize(twipsRect(0, 0, 4980, 2400).size());
    setWindowModality(Qt::ApplicationModal);

    btn_tune_on = new QPushButton(QStringLiteral("A"), this);
    btn_tune_on->setGeometry(twipsRect(1680, 360, 1215, 735));
    btn_tune_on->setFont(designFont("MS UI Gothic", 18, true));
    btn_tune_close = new QPushButton(QStringLiteral("Close"), this);
    btn_tune_close->setGeometry(twipsRect(1680, 1560, 2775, 495));
    btn_tune_close->setFont(designFont("MS UI Gothic", 15.75));
    btn_tune_B = new QPushButton(QStringLiteral("B-flat"), this);
    btn_tune_B->setGeometry(twipsRect(3360, 360, 1095, 735));
    btn_tune_B->setFont(designFont("MS UI Gothic", 18));
    Frame1 = new QGroupBox(QStringLiteral("Pitch[Hz]"), this);
    Frame1->setGeometry(twipsRect(240, 240, 1095, 2055));
    Frame1->setFont(designFont("MS PGothic", 9));
    for (int i = 0; i < 7; ++i) {
        auto *o = new QRadioButton(QString::fromLatin1(kCaptions[i]), this);
        o->setGeometry(twipsRect(480, 480 + 240 * i, 735, 255));
        o->setFont(designFont("MS PGothic", 9));
        Hz_switch[i] = o;
        connect(o, &QRadioButton::clicked, this, [this, i] { Hz_switch_Click(i); });
    }
    for (auto *b : {btn_tune_on, btn_tune_close, btn_tune_B})
        b->setAutoDefault(false);

    QWidget *order[] = {btn_tune_on,  btn_tune_close, Hz_switch[0], Hz_switch[1],
                        Hz_switch[2], Hz_switch[3],   Hz_switch[4], Hz_switch[5],
                        Frame1,       Hz_switch[6],   btn_tune_B};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    tune_timer = new QTimer(this);
    tune_timer->setInterval(kTimeoutMs);
    connect(tune_timer, &QTimer::timeout, this, &frm_tune::tune_timer_Timer);
    connect(btn_tune_on, &QPushButton::clicked, this, &frm_tune::btn_tune_on_Click);
    connect(btn_tune_B, &QPushButton::clicked, this, &frm_tune::btn_tune_B_Click);
    connect(btn_tune_close, &QPushButton::clicked, this, &frm_tune::btn_tune_close_Click);
}

void frm_tune::resetControls() {
    btn_tune_on->setText(QStringLiteral("A"));
    btn_tune_on->setEnabled(true);
    btn_tune_B->setText(QStringLiteral("B-flat"));
    btn_tune_B->setEnabled(true);
    Hz_switch[3]->setChecked(true);
}

void frm_tune::openModal() {
    resetControls();
    tonePlaying = false;
    m_offSent = false;
    // The position is that of the client area, not of the frame.
    setGeometry(twipsRect(6330, 5520, 4980, 2400));
    tune_timer->start();
    show();
    // Each opening starts like a freshly created window, with the focus on the first control.
    btn_tune_on->setFocus();
    raise();
    activateWindow();
}

void frm_tune::noteOff() {
    m_send(packMidi(0x80, static_cast<uint16_t>(toneNote), 0));
}

void frm_tune::toggleTone(QPushButton *own, QPushButton *other, const QString &caption, int note,
                          int program) {
    if (!tonePlaying) {
        toneNote = static_cast<int16_t>(note);
        toneProgram = program;
        toneVelocity = 127;
        m_send(packMidi(0xC0, static_cast<uint32_t>(toneProgram)));
        m_send(
            packMidi(0x90, static_cast<uint32_t>(toneNote), static_cast<uint32_t>(toneVelocity)));
        tonePlaying = true;
        own->setText(QStringLiteral("STOP"));
        other->setEnabled(false);
        tune_timer->start();
    } else {
        noteOff();
        tonePlaying = false;
        own->setText(caption);
        other->setEnabled(true);
        btn_tune_close->setFocus();
        tune_timer->stop();
    }
}

void frm_tune::btn_tune_on_Click() {
    toggleTone(btn_tune_on, btn_tune_B, QStringLiteral("A"), 69, 23);
}

void frm_tune::btn_tune_B_Click() {
    toggleTone(btn_tune_B, btn_tune_on, QStringLiteral("B-flat"), 70, 72);
}

void frm_tune::Hz_switch_Click(int index) {
    if (index < 0 || index > 6)
        return;
    m_send(packMidi(0xB0, 100, 1));
    m_send(packMidi(0xB0, 101, 0));
    m_send(packMidi(0xB0, 6, static_cast<uint32_t>(kCoarse[index])));
    m_send(packMidi(0xB0, 38, static_cast<uint32_t>(kFine[index])));
}

void frm_tune::btn_tune_close_Click() {
    close();
}

void frm_tune::tune_timer_Timer() {
    noteOff();
    m_offSent = true;
    tonePlaying = false;
    tune_timer->stop();
    close();
}

// Close, the time-out and the close box all end the same way: no tone outlives the window.
void frm_tune::closeEvent(QCloseEvent *event) {
    if (!m_offSent)
        noteOff();
    m_offSent = true;
    tonePlaying = false;
    tune_timer->stop();
    // Not the dialog's own handling, which would come back here through reject().
    event->accept();
    emit closed();
}

void frm_tune::reject() {
    close();
}

} // namespace pv2

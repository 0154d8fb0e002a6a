#include "frm_sync.h"

#include "beat/calibration.h"
#include "platform/numeric.h"
#include "platform/tick_counter.h"
#include "platform/user_settings.h"
#include "ui/twips.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <initializer_list>

namespace pv2 {

namespace {

// Taps that go on a little after the last click must not press OK.
constexpr int kQuietMs = 1000;

bool isTapKey(const QKeyEvent *k) {
    return k->key() == Qt::Key_Space || k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter;
}

} // namespace

frm_sync::frm_sync(TickCounter &counter, PlayClickFn playClickAt, int offsetMs, QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::CustomizeWindowHint),
      m_counter(counter), m_playClickAt(std::move(playClickAt)) {
    setWindowTitle(QStringLiteral("音と表示のずれ"));
    setFont(designFont("MS UI Gothic", 9));
    setWindowModality(Qt::ApplicationModal);

    lbl_offset = new QLabel(QStringLiteral("ずれ(&Z) (ms)"), this);
    spn_offset = new QSpinBox(this);
    spn_offset->setRange(-kSyncOffsetLimitMs, kSyncOffsetLimitMs);
    spn_offset->setValue(clampSyncOffsetMs(offsetMs));
    lbl_offset->setBuddy(spn_offset);
    btn_measure = new QPushButton(QStringLiteral("計測(&M)"), this);
    btn_tap = new QPushButton(QStringLiteral("タップ"), this);
    btn_tap->setFont(designFont("MS UI Gothic", 18, true));
    btn_tap->setMinimumHeight(twipsToPixels(900));
    btn_tap->setAutoDefault(false);
    btn_tap->setEnabled(false);
    lbl_result = new QLabel(this);
    lbl_result->setWordWrap(true);
    lbl_result->setText(QStringLiteral(
        "「計測」を押すと16回クリックが鳴ります。合わせてスペースかEnterを押してください。"));
    btn_ok = new QPushButton(QStringLiteral("OK"), this);
    btn_ok->setDefault(true);
    btn_cancel = new QPushButton(QStringLiteral("キャンセル"), this);

    auto *grid = new QGridLayout(this);
    grid->addWidget(lbl_offset, 0, 0);
    grid->addWidget(spn_offset, 0, 1);
    grid->addWidget(btn_measure, 0, 2);
    grid->addWidget(btn_tap, 1, 0, 1, 3);
    grid->addWidget(lbl_result, 2, 0, 1, 3);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btn_ok);
    buttons->addWidget(btn_cancel);
    grid->addLayout(buttons, 3, 0, 1, 3);

    setTabOrder(spn_offset, btn_measure);
    setTabOrder(btn_measure, btn_tap);
    setTabOrder(btn_tap, btn_ok);
    setTabOrder(btn_ok, btn_cancel);

    // Taps are keys wherever the focus is; the tap button counts its press, not its release.
    installEventFilter(this);
    for (QWidget *w : findChildren<QWidget *>())
        w->installEventFilter(this);

    sync_timer = new QTimer(this);
    sync_timer->setInterval(kTimerMs);
    connect(sync_timer, &QTimer::timeout, this, &frm_sync::sync_timer_Timer);
    connect(btn_measure, &QPushButton::clicked, this, &frm_sync::btn_measure_Click);
    connect(btn_tap, &QPushButton::pressed, this, &frm_sync::tap);
    connect(btn_ok, &QPushButton::clicked, this, &frm_sync::accept);
    connect(btn_cancel, &QPushButton::clicked, this, &frm_sync::reject);
}

void frm_sync::openModal() {
    show();
    raise();
    activateWindow();
    spn_offset->setFocus();
    spn_offset->selectAll();
}

int frm_sync::offsetMs() const {
    return spn_offset->value();
}

void frm_sync::btn_measure_Click() {
    const uint32_t first = m_counter.now() + kFirstClickMs;
    m_clicks.clear();
    for (int i = 0; i < kCalibrationClicks; ++i)
        m_clicks.push_back(first + uint32_t(i * kIntervalMs));
    m_taps.clear();
    m_next = 0;
    m_quiet = false;
    btn_tap->setEnabled(true);
    btn_tap->setFocus();
    for (QWidget *w : std::initializer_list<QWidget *>{spn_offset, btn_measure, btn_ok})
        w->setEnabled(false);
    lbl_result->setText(
        QStringLiteral("クリックに合わせてタップしてください（最初の4回は数えません）。"));
    sync_timer->start();
    sync_timer_Timer();
}

void frm_sync::sync_timer_Timer() {
    if (!calibrating())
        return;
    const uint32_t now = m_counter.now();
    const int count = int(m_clicks.size());
    while (m_next < count && tickDiff(m_clicks[m_next], now) <= kPostAheadMs)
        m_playClickAt(m_clicks[m_next++]);
    if (m_next == count && tickDiff(now, m_clicks.back()) >= kIntervalMs / 2)
        finish();
}

void frm_sync::tap() {
    if (calibrating())
        m_taps.push_back(m_counter.now());
}

void frm_sync::finish() {
    const std::optional<int> offset = calibrationOffsetMs(m_clicks, m_taps);
    stopMeasuring();
    m_quiet = true;
    m_quietUntil = m_counter.now() + kQuietMs;
    if (offset) {
        spn_offset->setValue(*offset);
        const QString sign = *offset > 0 ? QStringLiteral("+") : QString();
        lbl_result->setText(QStringLiteral("計測結果: %1%2 ms").arg(sign).arg(*offset));
    } else {
        lbl_result->setText(
            QStringLiteral("合ったタップが足りません。もう一度「計測」を押してください。"));
    }
    spn_offset->setFocus();
}

void frm_sync::stopMeasuring() {
    sync_timer->stop();
    m_next = -1;
    spn_offset->setEnabled(true);
    btn_measure->setEnabled(true);
    btn_ok->setEnabled(true);
    btn_tap->setEnabled(false);
}

void frm_sync::accept() {
    QDialog::accept();
    emit offsetAccepted(offsetMs());
}

void frm_sync::done(int r) {
    if (calibrating())
        stopMeasuring();
    QDialog::done(r);
}

bool frm_sync::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto *k = static_cast<QKeyEvent *>(event);
        if (isTapKey(k)) {
            if (calibrating()) {
                if (event->type() == QEvent::KeyPress && !k->isAutoRepeat())
                    tap();
                return true;
            }
            if (m_quiet && tickDiff(m_quietUntil, m_counter.now()) > 0)
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace pv2

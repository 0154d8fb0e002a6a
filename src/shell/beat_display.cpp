#include "beat_display.h"

#include "pattern/beat_labels.h"
#include "picture_box.h"
#include "qt_beat_timer.h"
#include "ui/sprite.h"

#include <QCheckBox>
#include <QPainter>
#include <QTimer>
#include <cmath>

namespace pv2 {

BeatDisplay::BeatDisplay(const Controls &controls, EngineState &state, TickCounter &counter)
    : c(controls), st(state), m_ball(makeBallSprite(state.ballWidth)),
      m_shot(std::make_unique<QtBeatTimer>(controls.frame_timer)) {
    m_pacer = std::make_unique<FramePacer>(*this, counter, *m_shot,
                                           [this](const std::function<void()> &draw) {
                                               c.Picture1->beginFrame();
                                               draw();
                                               c.Picture1->endFrame();
                                           });
    connect(c.frame_timer, &QTimer::timeout, this, &BeatDisplay::presentFrames);
    connect(c.chkBmark, &QCheckBox::toggled, this, &BeatDisplay::B_Disp);
    connect(c.L3check, &QCheckBox::toggled, this, &BeatDisplay::drawL3);
}

BeatDisplay::~BeatDisplay() = default;

void BeatDisplay::setPracticeStatus(const QString &status, bool countIn) {
    if (status == m_practiceStatus && countIn == m_countIn)
        return;
    const bool marks = countIn != m_countIn;
    if (status != m_practiceStatus && !m_statusBox.isEmpty()) {
        // A stopped picture is not redrawn: the old words go by hand.
        QPainter p(&c.Picture1->image());
        p.fillRect(m_statusBox, c.Picture1->background());
        p.end();
        c.Picture1->markDrawn(m_statusBox);
        m_statusBox = QRect();
    }
    m_practiceStatus = status;
    m_countIn = countIn;
    if (marks)
        B_Disp();
    renderPracticeStatus();
    drawPracticeStatus();
}

// The words are laid out once per change; every frame only copies them.
void BeatDisplay::renderPracticeStatus() {
    m_statusImage = QImage();
    if (m_practiceStatus.isEmpty())
        return;
    QFont small = m_drawFont;
    small.setBold(false);
    small.setPointSize(8);
    const QImage &area = c.Picture1->image();
    const QFontMetrics fm(small, &area);
    m_statusImage = QImage(fm.horizontalAdvance(m_practiceStatus), fm.height(),
                           QImage::Format_ARGB32_Premultiplied);
    m_statusImage.setDevicePixelRatio(area.devicePixelRatio());
    m_statusImage.fill(Qt::transparent);
    QPainter p(&m_statusImage);
    p.setFont(small);
    p.setPen(QColor(200, 210, 230));
    p.drawText(QPoint(0, fm.ascent()), m_practiceStatus);
}

// In the drawing area's top left corner, with every frame: the beat row's lower part lies under
// the function-key buttons.
void BeatDisplay::drawPracticeStatus() {
    if (m_statusImage.isNull())
        return;
    QPainter p(&c.Picture1->image());
    p.drawImage(QPoint(6, 4), m_statusImage);
    p.end();
    m_statusBox = QRect(QPoint(6, 4), m_statusImage.size()).adjusted(-2, -2, 2, 2);
    c.Picture1->markDrawn(m_statusBox);
}

void BeatDisplay::presentFrames() {
    m_pacer->presentDue();
}

int BeatDisplay::areaHeight() const {
    return c.Picture1->image().height();
}

void BeatDisplay::clearArea() {
    c.Picture1->clear();
    drawPracticeStatus();
}

void BeatDisplay::setBackground(uint32_t bgr) {
    c.Picture1->setBackground(colorFromBgr(bgr));
    drawPracticeStatus();
}

void BeatDisplay::drawBall(int x, int y) {
    drawSprite(c.Picture1->image(), m_ball, x, y, st.ballWidth, st.ballHeight);
    c.Picture1->markDrawn(QRect(x, y, st.ballWidth, st.ballHeight));
}

void BeatDisplay::B_Disp() {
    PictureBox *row = c.Picture2;
    row->clear();
    const bool numbers = c.chkBmark->isChecked();
    m_drawFont.setBold(true);
    m_drawFont.setPointSize(numbers ? 30 : 18);
    QPainter p(&row->image());
    p.setFont(m_drawFont);
    p.setPen(m_countIn ? QColor(230, 120, 0) : row->palette().color(QPalette::WindowText));
    const QFontMetricsF fm(m_drawFont, &row->image());
    const auto labels =
        beatLabels(st.beats, st.beatsPerBar, numbers, fm.horizontalAdvance(QStringLiteral("3")),
                   fm.horizontalAdvance(QStringLiteral("●")), st.ballWidth, m_digitStart);
    for (const auto &l : labels)
        p.drawText(QPointF(l.x, fm.ascent()), l.text);
    p.end();
    row->markDrawn(row->image().rect());
}

void BeatDisplay::drawL3() {
    if (!c.L3check->isChecked())
        return;
    QImage &img = c.Picture1->image();
    const int y = guideLineY(img.height(), st.ballHeight);
    QPainter p(&img);
    p.setPen(QColor(200, 200, 100));
    p.drawLine(0, y, img.width(), y);
    p.end();
    c.Picture1->markDrawn(QRect(0, y - 1, img.width(), 3));
}

void BeatDisplay::dispMemo(const QString &text) {
    m_drawFont.setBold(true);
    m_drawFont.setPointSize(13);
    QImage &img = c.Picture1->image();
    QPainter p(&img);
    p.setFont(m_drawFont);
    const QFontMetricsF fm(m_drawFont, &img);
    const int w = static_cast<int>(std::lround(fm.horizontalAdvance(text)));
    p.setPen(Qt::white);
    const double y = img.height() - 0.88 * img.height();
    const QPointF at(img.width() / 2.0 - w / 2.0, y + fm.ascent());
    p.drawText(at, text);
    p.end();
    c.Picture1->markDrawn(
        fm.boundingRect(text).translated(at).toAlignedRect().adjusted(-2, -2, 2, 2));
}

} // namespace pv2

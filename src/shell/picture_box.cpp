#include "picture_box.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

namespace pv2 {

PictureBox::PictureBox(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_image = QImage(1, 1, QImage::Format_RGB32);
    m_image.fill(m_background);
}

void PictureBox::setBackground(const QColor &c) {
    m_background = c;
    m_image.fill(m_background);
    m_drawn = QRegion();
    update();
}

void PictureBox::clear() {
    if (m_drawn.isEmpty())
        return;
    const QRgb bg = m_background.rgb();
    for (const QRect &r : m_drawn)
        for (int row = r.top(); row <= r.bottom(); ++row) {
            auto *line = reinterpret_cast<QRgb *>(m_image.scanLine(row));
            std::fill(line + r.left(), line + r.right() + 1, bg);
        }
    update(m_drawn);
    m_drawn = QRegion();
}

void PictureBox::markDrawn(const QRect &r) {
    const QRect clipped = r.intersected(m_image.rect());
    if (clipped.isEmpty())
        return;
    m_drawn += clipped;
    update(clipped);
}

void PictureBox::paintEvent(QPaintEvent *event) {
    QPainter p(this);
    for (const QRect &r : event->region())
        p.drawImage(r.topLeft(), m_image, r);
}

void PictureBox::resizeEvent(QResizeEvent *event) {
    const QSize sz = event->size().expandedTo(QSize(1, 1));
    if (sz != m_image.size()) {
        m_image = QImage(sz, QImage::Format_RGB32);
        m_image.fill(m_background);
        m_drawn = QRegion();
    }
    QWidget::resizeEvent(event);
}

} // namespace pv2

#include "picture_box.h"

#include <QPainter>
#include <QResizeEvent>

namespace pv2 {

PictureBox::PictureBox(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_image = QImage(1, 1, QImage::Format_RGB32);
    m_image.fill(m_background);
}

void PictureBox::setBackground(const QColor &c) {
    m_background = c;
    clear();
}

void PictureBox::clear() {
    m_image.fill(m_background);
    update();
}

void PictureBox::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.drawImage(0, 0, m_image);
}

void PictureBox::resizeEvent(QResizeEvent *event) {
    const QSize sz = event->size().expandedTo(QSize(1, 1));
    if (sz != m_image.size()) {
        m_image = QImage(sz, QImage::Format_RGB32);
        m_image.fill(m_background);
    }
    QWidget::resizeEvent(event);
}

} // namespace pv2

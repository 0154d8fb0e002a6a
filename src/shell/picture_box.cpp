#include "picture_box.h"

#include <QBackingStore>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QResizeEvent>
#include <QWindow>
#include <algorithm>
#include <cstring>

namespace pv2 {

void preferPlainFrameTransfer() {
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}

PictureBox::PictureBox(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_image = QImage(1, 1, QImage::Format_RGB32);
    m_image.fill(m_background);
}

void PictureBox::add(Rects &rects, const QRect &r) {
    if (r.isEmpty())
        return;
    if (rects.size() < 4) {
        rects.append(r);
        return;
    }
    QRect box = r;
    for (const QRect &q : rects)
        box |= q;
    rects.clear();
    rects.append(box);
}

QRegion PictureBox::regionOf(const Rects &rects) {
    QRegion out;
    for (const QRect &r : rects)
        out += r;
    return out;
}

void PictureBox::setBackground(const QColor &c) {
    m_background = c;
    m_image.fill(m_background);
    m_drawn.clear();
    update();
}

void PictureBox::clear() {
    if (m_drawn.isEmpty())
        return;
    const QRgb bg = m_background.rgb();
    uchar *bits = m_image.bits();
    const qsizetype stride = m_image.bytesPerLine();
    for (const QRect &r : m_drawn) {
        for (int row = r.top(); row <= r.bottom(); ++row) {
            auto *line = reinterpret_cast<QRgb *>(bits + row * stride);
            std::fill(line + r.left(), line + r.right() + 1, bg);
        }
        changed(r);
    }
    m_drawn.clear();
}

void PictureBox::markDrawn(const QRect &r) {
    const QRect clipped = r.intersected(m_image.rect());
    if (clipped.isEmpty())
        return;
    add(m_drawn, clipped);
    changed(clipped);
}

void PictureBox::changed(const QRect &r) {
    if (m_inFrame)
        add(m_frameDirty, r);
    else
        update(r);
}

void PictureBox::endFrame() {
    m_inFrame = false;
    if (m_frameDirty.isEmpty())
        return;
    const Rects dirty = std::exchange(m_frameDirty, {});
    if (!isVisible())
        return;
    if (copyToBackingStore(dirty)) {
        ++m_directFrames;
        if (m_shownHook)
            m_shownHook();
        return;
    }
    ++m_paintedFrames;
    // repaint() paints and flushes before it returns.
    m_inRepaint = true;
    repaint(regionOf(dirty));
    m_inRepaint = false;
    if (m_shownHook)
        m_shownHook();
}

bool PictureBox::copyToBackingStore(const Rects &rects) {
    QWidget *top = window();
    QWindow *handle = top->windowHandle();
    QBackingStore *store = backingStore();
    if (parentWidget() != top || !handle || !store || !handle->isExposed() ||
        m_image.size() != size() || !children().isEmpty() ||
        !QRect(QPoint(0, 0), store->size()).contains(geometry()))
        return false;
    // Whatever lies on top of the picture (a check box in its corner) must be painted by
    // the toolkit, which knows what covers what.
    QRect box;
    for (const QRect &r : rects)
        box |= r.translated(pos());
    const QList<QObject *> &siblings = top->children();
    for (qsizetype i = siblings.indexOf(this) + 1; i < siblings.size(); ++i) {
        if (!siblings[i]->isWidgetType())
            continue;
        const auto *w = static_cast<const QWidget *>(siblings[i]);
        if (w->isVisible() && !w->isWindow() && w->geometry().intersects(box))
            return false;
    }

    // Only the rectangles are copied; the rest of the box is already in the store as it is.
    const QRegion target(box);
    store->beginPaint(target);
    auto *device = dynamic_cast<QImage *>(store->paintDevice());
    if (device && device->depth() == 32 && device->devicePixelRatio() == 1.0) {
        // Opaque 32-bit pixels copy as they are into either 32-bit layout the store uses.
        for (const QRect &r : rects)
            for (int row = r.top(); row <= r.bottom(); ++row)
                std::memcpy(device->scanLine(row + y()) + 4 * (r.left() + x()),
                            m_image.constScanLine(row) + 4 * r.left(), 4 * size_t(r.width()));
    } else {
        QPainter p(store->paintDevice());
        for (const QRect &r : rects)
            p.drawImage(r.topLeft() + pos(), m_image, r);
    }
    store->endPaint();
    store->flush(target, handle);
    return true;
}

void PictureBox::paintEvent(QPaintEvent *event) {
    QPainter p(this);
    for (const QRect &r : event->region())
        p.drawImage(r.topLeft(), m_image, r);
    // The toolkit flushes as soon as this returns.
    if (!m_inRepaint && m_shownHook)
        m_shownHook();
}

void PictureBox::resizeEvent(QResizeEvent *event) {
    const QSize sz = event->size().expandedTo(QSize(1, 1));
    if (sz != m_image.size()) {
        m_image = QImage(sz, QImage::Format_RGB32);
        m_image.fill(m_background);
        m_drawn.clear();
    }
    QWidget::resizeEvent(event);
}

} // namespace pv2

#include "sprite.h"

#include <QPainter>
#include <QRadialGradient>

namespace pv2 {

QImage makeBallSprite(int size) {
    QImage img(2 * size, size, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    const QRectF disc(1, 1, size - 2, size - 2);
    QRadialGradient shade(disc.center() - QPointF(size * 0.15, size * 0.18), size * 0.62);
    shade.setColorAt(0.0, QColor(255, 250, 190));
    shade.setColorAt(0.45, QColor(255, 200, 40));
    shade.setColorAt(1.0, QColor(215, 110, 0));
    p.setBrush(shade);
    p.drawEllipse(disc);
    // Mask: the same disc in white on black, so OR whitens exactly the ball's pixels.
    p.fillRect(QRect(size, 0, size, size), Qt::black);
    p.setBrush(Qt::white);
    p.drawEllipse(disc.translated(size, 0));
    p.end();
    return img;
}

void drawSprite(QImage &dst, const QImage &sprite, int x, int y, int w, int h) {
    // Done by hand: this runs fifty times a second, and a painter per copy costs more than
    // the copy itself.
    const QRect target = QRect(x, y, w, h).intersected(dst.rect());
    if (target.isEmpty() || sprite.width() < 2 * w || sprite.height() < h ||
        dst.format() != QImage::Format_RGB32 || sprite.format() != QImage::Format_RGB32)
        return;
    uchar *bits = dst.bits();
    const qsizetype stride = dst.bytesPerLine();
    for (int row = target.top(); row <= target.bottom(); ++row) {
        auto *d = reinterpret_cast<QRgb *>(bits + row * stride);
        const auto *src = reinterpret_cast<const QRgb *>(sprite.constScanLine(row - y));
        for (int col = target.left(); col <= target.right(); ++col) {
            const int sx = col - x;
            d[col] = (d[col] | src[w + sx]) & src[sx];
        }
    }
}

void drawSprite(QImage &dst, const QImage &sprite, int x, int y) {
    drawSprite(dst, sprite, x, y, sprite.width() / 2, sprite.height());
}

} // namespace pv2

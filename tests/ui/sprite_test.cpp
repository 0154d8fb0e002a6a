#include "beat/beat_slot.h"
#include "ui/sprite.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace pv2;

// The copy by hand gives what the two raster operations give, clipped at the edges too.
TEST(Sprite, MatchesTheTwoRasterOperations) {
    const QImage ball = makeBallSprite(kBallSize);
    const QColor bg(68, 102, 153); // the usual background
    for (QPoint at : {QPoint(50, 20), QPoint(-30, -25), QPoint(180, 90), QPoint(5000, 0)}) {
        SCOPED_TRACE(at.x());
        QImage byHand(200, 100, QImage::Format_RGB32);
        byHand.fill(bg);
        QImage reference = byHand;
        drawSprite(byHand, ball, at.x(), at.y());
        QPainter p(&reference);
        p.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        p.drawImage(at, ball, QRect(44, 0, 44, 44));
        p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        p.drawImage(at, ball, QRect(0, 0, 44, 44));
        p.end();
        EXPECT_EQ(byHand, reference);
        // Inside the disc the picture replaces the background, outside nothing changes.
        if (at == QPoint(50, 20)) {
            EXPECT_EQ(std::tuple(byHand.pixel(72, 42), byHand.pixelColor(51, 21)),
                      std::tuple(ball.pixel(22, 22), bg));
        }
    }
}

#include "platform/sprite.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace pv2;

namespace {
QImage background(QColor c) {
    QImage img(200, 100, QImage::Format_RGB32);
    img.fill(c);
    return img;
}
} // namespace

TEST(Sprite, BallShowsOnAnyBackgroundAndLeavesTheRestAlone) {
    const QImage ball = makeBallSprite();
    ASSERT_EQ(ball.size(), QSize(88, 44));
    for (QColor bg : {QColor(68, 102, 153), QColor(0, 102, 255), QColor(Qt::black)}) {
        QImage img = background(bg);
        drawSprite(img, ball, 50, 20);
        // Inside the disc the picture replaces the background, outside nothing changes.
        EXPECT_EQ(img.pixel(72, 42), ball.pixel(22, 22));
        EXPECT_EQ(img.pixelColor(51, 21), bg);
        EXPECT_EQ(img.pixelColor(49, 42), bg);
        EXPECT_EQ(img.pixelColor(95, 42), bg);
    }
}

TEST(Sprite, MatchesTheTwoRasterOperations) {
    const QImage ball = makeBallSprite();
    QImage byHand = background(QColor(68, 102, 153));
    QImage reference = byHand;
    drawSprite(byHand, ball, 30, 10);
    QPainter p(&reference);
    p.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
    p.drawImage(QPoint(30, 10), ball, QRect(44, 0, 44, 44));
    p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    p.drawImage(QPoint(30, 10), ball, QRect(0, 0, 44, 44));
    p.end();
    EXPECT_EQ(byHand, reference);
}

TEST(Sprite, ClipsAtTheEdges) {
    const QImage ball = makeBallSprite();
    QImage img = background(QColor(Qt::blue));
    drawSprite(img, ball, -30, -30);
    drawSprite(img, ball, 180, 90);
    drawSprite(img, ball, 5000, -5000);
    EXPECT_EQ(img.pixelColor(180, 90), QColor(Qt::blue)) << "outside the disc";
    EXPECT_EQ(img.pixel(0, 0), ball.pixel(30, 30)) << "inside the disc, clipped";
}

#pragma once

#include <QImage>

namespace pv2 {

// 88 x 44: the ball on white at x 0..43, its mask (white disc on black) at x 44..87.
QImage makeBallSprite(int size = 44);

// The two raster copies: mask with source-OR, then the picture with source-AND, so the ball
// shows on any background. dst must be RGB32.
void drawSprite(QImage &dst, const QImage &sprite, int x, int y, int w = 44, int h = 44);

} // namespace pv2

#pragma once

#include <QImage>

namespace pv2 {

// 2 size x size: the ball on white at the left, its mask (white disc on black) at the right.
QImage makeBallSprite(int size);

// The two raster copies: mask with source-OR, then the picture with source-AND, so the ball
// shows on any background. dst must be RGB32. Without a size, the whole ball of the sprite.
void drawSprite(QImage &dst, const QImage &sprite, int x, int y, int w, int h);
void drawSprite(QImage &dst, const QImage &sprite, int x, int y);

} // namespace pv2

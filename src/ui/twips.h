#pragma once

#include <QFont>
#include <QRect>
#include <cmath>

namespace pv2 {

// Window geometry is designed in twips: 15 to a pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;

inline int twipsToPixels(int twips) {
    return static_cast<int>(std::lround(twips / double(kTwipsPerPixel)));
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

// The face named in the design; fontconfig or Qt's substitutions find a Japanese one.
inline QFont designFont(const char *face, double pt, bool bold = false) {
    QFont f(QString::fromLatin1(face));
    f.setPointSizeF(pt);
    f.setBold(bold);
    return f;
}

} // namespace pv2

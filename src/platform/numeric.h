#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>

namespace pv2 {

// Float to integer as everywhere in the program: nearest, halves to even.
// Out-of-range values saturate instead of overflowing; NaN gives 0.
int16_t roundToInt16(double v);
int32_t roundToInt32(double v);

// Leading blanks skipped, then the longest leading decimal number (sign, digits, one point);
// a text without one reads as 0. Never infinite.
double readNumber(QStringView text);

// Leading and trailing blanks removed; other white space is kept.
QString trimSpaces(const QString &s);

// Wrap-safe difference of two 32-bit millisecond counter values.
inline int32_t tickDiff(uint32_t now, uint32_t then) {
    return static_cast<int32_t>(now - then);
}

} // namespace pv2

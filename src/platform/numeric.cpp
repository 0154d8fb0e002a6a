#include "numeric.h"

#include <cfenv>
#include <cmath>
#include <limits>
#include <string>

namespace pv2 {

namespace {
template <typename T> T roundSaturating(double v) {
    if (std::isnan(v))
        return 0;
    // std::nearbyint honours the default rounding mode, which is to-nearest-even.
    const double r = std::nearbyint(v);
    if (r <= static_cast<double>(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    if (r >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    return static_cast<T>(r);
}
} // namespace

int16_t roundToInt16(double v) {
    return roundSaturating<int16_t>(v);
}
int32_t roundToInt32(double v) {
    return roundSaturating<int32_t>(v);
}

double readNumber(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    std::string digits;
    if (i < n && (text[i] == u'-' || text[i] == u'+'))
        digits += static_cast<char>(text[i++].unicode());
    bool any = false;
    bool point = false;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= u'0' && c <= u'9') {
            any = true;
            // Beyond this many digits the value no longer changes in a double's precision
            // but could still overflow to infinity.
            if (digits.size() < 300)
                digits += static_cast<char>(c);
            else if (!point)
                digits += '0';
        } else if (c == u'.' && !point) {
            point = true;
            digits += '.';
        } else {
            break;
        }
        if (digits.size() > 400)
            break;
    }
    if (!any)
        return 0.0;
    const double v = std::strtod(digits.c_str(), nullptr);
    if (!std::isfinite(v))
        return v > 0 ? std::numeric_limits<double>::max() : std::numeric_limits<double>::lowest();
    return v;
}

QString trimSpaces(const QString &s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b] == u' ')
        ++b;
    while (e > b && s[e - 1] == u' ')
        --e;
    return s.mid(b, e - b);
}

} // namespace pv2

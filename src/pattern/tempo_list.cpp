#include "pattern/tempo_list.h"

#include "platform/numeric.h"

#include <array>

namespace pv2 {

namespace {
constexpr std::array<int, 42> kTempi = {20,  30,  40,  42,  46,  48,  50,  52,  54,  56,  58,
                                        60,  63,  66,  69,  72,  76,  80,  84,  88,  92,  96,
                                        100, 104, 108, 112, 116, 120, 126, 132, 138, 144, 152,
                                        160, 168, 176, 184, 192, 200, 208, 250, 300};
constexpr int kCount = static_cast<int>(kTempi.size());
} // namespace

const QStringList &tempoList() {
    static const QStringList list = [] {
        QStringList l;
        for (int t : kTempi)
            l << QString::number(t);
        return l;
    }();
    return list;
}

std::optional<int> tempoStepDownIndex(const QString &boxText) {
    const int t = roundToInt16(readNumber(boxText));
    if (t <= 20)
        return std::nullopt;
    for (int i = 0; i < kCount; ++i)
        if (kTempi[i] >= t)
            return i - 1;
    return std::nullopt;
}

std::optional<int> tempoStepUpIndex(const QString &boxText) {
    const int t = roundToInt16(readNumber(boxText));
    if (t >= 300)
        return std::nullopt;
    for (int k = kCount - 1; k >= 0; --k)
        if (kTempi[k] <= t)
            return k + 1;
    return std::nullopt;
}

int arrowSelection(const QString &boxText, bool up) {
    const int32_t v = roundToInt32(readNumber(boxText));
    int pre = -1;
    if (up) {
        for (int k = kCount - 1; k >= 0; --k) {
            if (kTempi[k] <= v) {
                pre = (k + 1 == kCount) ? kCount - 1 : k + 1;
                break;
            }
        }
        // Below the list the handler selects nothing; land on the nearest entry, "20".
        return pre < 0 ? 0 : qMax(pre - 1, 0);
    }
    // The slot after the last entry reads as value 0, so it can only match a value of 0 or
    // less, which the first entry already catches.
    for (int i = 0; i < kCount; ++i) {
        if (kTempi[i] >= v) {
            pre = i - 1;
            if (pre < 0)
                return 0; // nothing preselected: the list's step lands on the first entry
            return qMin(pre + 1, kCount - 1);
        }
    }
    return kCount - 1; // above 300: nearest entry, "300"
}

} // namespace pv2

#include "pattern/beat_labels.h"

#include "platform/numeric.h"

#include <algorithm>

namespace pv2 {

std::vector<BeatLabel> beatLabels(const Schedule &beats, int beatsPerBar, bool numbers,
                                  double digitWidth, double dotWidth, int ballWidth,
                                  std::array<int16_t, kMaxBeats> &digitStart) {
    std::vector<BeatLabel> labels;
    const int count = std::clamp(beatsPerBar, 0, kMaxBeats);
    // Two-digit numbers are placed like one digit and run on to the right.
    const double width = numbers ? digitWidth : dotWidth;
    const QString dot(QChar(0x25CF));

    digitStart[1] = 0;
    int n = 1;
    for (int i = 0; i < count; ++i) {
        const BeatSlot &b = beats[static_cast<size_t>(i)];
        if (b.dx == 0)
            continue;
        labels.push_back({numbers ? QString::number(n) : dot, b.x + ballWidth / 2.0 - width / 2.0});
        ++n;
        if (n < kMaxBeats)
            digitStart[static_cast<size_t>(n)] = static_cast<int16_t>(i + 1);
    }
    return labels;
}

int16_t guideLineY(int areaHeight, int ballHeight) {
    const double h = areaHeight;
    const double bh = ballHeight;
    return roundToInt16(h - 0.5 * bh - 0.88 * (h - bh));
}

} // namespace pv2

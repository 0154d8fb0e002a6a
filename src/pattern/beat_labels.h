#pragma once

#include "beat/beat_slot.h"

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace pv2 {

struct BeatLabel {
    QString text;
    double x; // left edge where the label is printed, pixels
};

// The marks of the label strip, one per beat that moves (dx != 0): running numbers or dots,
// centred under the ball as if each label were one character of the given width. Refills
// digitStart: entry 1 = 0, entry n + 1 = index of the n-th labelled beat + 1, up to entry 30.
std::vector<BeatLabel> beatLabels(const Schedule &beats, int beatsPerBar, bool numbers,
                                  double digitWidth, double dotWidth, int ballWidth,
                                  std::array<int16_t, kMaxBeats> &digitStart);

// Height of the guide line: the ball's centre at 88 % of its free travel above the floor.
int16_t guideLineY(int areaHeight, int ballHeight);

} // namespace pv2

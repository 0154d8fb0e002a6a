#pragma once

#include "beat/beat_slot.h"

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace pv2 {

// Timing coefficients indexed by (beats in bar - 1, beat + 1); rows for bars of 2 to 6 beats.
using FluctProfile = std::array<std::array<double, 8>, 8>;

FluctProfile fillFluctProfile();

struct ScheduleInput {
    QString tempoText;   // text of cmb_speed
    QString patternText; // text of Text1
    bool fluctChecked = false;
    int areaWidth = 0; // Picture1 inside size, pixels
    int areaHeight = 0;
    float fluctDepth = 0.2f;
    const FluctProfile *profile = nullptr; // no profile: fluctuation is never applied
    int trackLeft = 40, trackRight = 40, trackTop = 22, trackBottom = 20, ballWidth = kBallSize;
};

struct ScheduleResult {
    int16_t tempo = 1;
    int16_t beatsPerBar = 1;
    double trackWidth = 0;
    std::optional<QString> newTempoText; // the tempo box must show this text
    bool oneBeat = false;                // one-beat schedule: the two values below are valid
    int32_t fluctBeatMs = 0;             // 32 bits: 60000 at tempo 1
    int16_t fluctHeight = 0;
};

// Fills records 0..beatsPerBar-1 of the table (for a one-beat schedule also the x of record 1);
// the other records keep their contents.
ScheduleResult buildSchedule(Schedule &table, const ScheduleInput &in);

// Rewrites ms and x of records 0..n-1 of an evenly beating bar from the profile and returns the
// longest ms. n must be 2..7; otherwise the table is left alone and T is returned.
int32_t applyFluctProfile(int32_t T, Schedule &table, int n, const ScheduleInput &in);

} // namespace pv2

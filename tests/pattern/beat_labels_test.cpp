#include "pattern/beat_labels.h"
#include "qstring_printer.h"

#include <gtest/gtest.h>

using namespace pv2;

namespace {

constexpr int kBall = 44;
constexpr int16_t kUntouched = -7;

std::array<int16_t, kMaxBeats> freshDigitStart() {
    std::array<int16_t, kMaxBeats> d;
    d.fill(kUntouched);
    return d;
}

Schedule evenBar(int count, int16_t firstX, int16_t step) {
    Schedule s{};
    for (int i = 0; i < count; ++i) {
        s[static_cast<size_t>(i)].x = static_cast<int16_t>(firstX + i * step);
        s[static_cast<size_t>(i)].dx = step;
    }
    return s;
}

TEST(BeatLabels, FourNumbersCentredUnderTheBall) {
    const Schedule beats = evenBar(4, 18, 200);
    auto digitStart = freshDigitStart();
    const auto labels = beatLabels(beats, 4, true, 20.0, 31.0, kBall, digitStart);
    ASSERT_EQ(labels.size(), 4u);
    const double centres[] = {40, 240, 440, 640};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(labels[i].text, QString::number(i + 1));
        EXPECT_DOUBLE_EQ(labels[i].x + 20.0 / 2, centres[i]);
    }
    EXPECT_EQ(digitStart[0], kUntouched);
    for (int n = 1; n <= 5; ++n)
        EXPECT_EQ(digitStart[static_cast<size_t>(n)], n - 1);
    EXPECT_EQ(digitStart[6], kUntouched);
}

TEST(BeatLabels, DotsUseTheDotWidth) {
    const Schedule beats = evenBar(4, 18, 200);
    auto digitStart = freshDigitStart();
    const auto labels = beatLabels(beats, 4, false, 20.0, 25.0, kBall, digitStart);
    ASSERT_EQ(labels.size(), 4u);
    for (const BeatLabel &l : labels)
        EXPECT_EQ(l.text, QString(QChar(0x25CF)));
    EXPECT_DOUBLE_EQ(labels[0].x, 27.5);
    EXPECT_DOUBLE_EQ(labels[3].x, 627.5);
    EXPECT_EQ(digitStart[5], 4);
}

TEST(BeatLabels, BeatsInPlaceGetNoLabelAndNumbersRunOn) {
    Schedule beats = evenBar(5, 18, 100);
    beats[1].dx = 0;
    beats[3].dx = 0;
    auto digitStart = freshDigitStart();
    const auto labels = beatLabels(beats, 5, true, 20.0, 25.0, kBall, digitStart);
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels[1].text, QStringLiteral("2"));
    EXPECT_DOUBLE_EQ(labels[1].x, 218 + 22 - 10);
    EXPECT_EQ(labels[2].text, QStringLiteral("3"));
    EXPECT_DOUBLE_EQ(labels[2].x, 418 + 22 - 10);
    EXPECT_EQ(digitStart[1], 0);
    EXPECT_EQ(digitStart[2], 1);
    EXPECT_EQ(digitStart[3], 3);
    EXPECT_EQ(digitStart[4], 5);
    EXPECT_EQ(digitStart[5], kUntouched);
}

TEST(BeatLabels, FullBarStoresUpToEntryThirty) {
    const Schedule beats = evenBar(kMaxBeats, 0, 20);
    auto digitStart = freshDigitStart();
    const auto labels = beatLabels(beats, 40, true, 10.0, 25.0, kBall, digitStart);
    ASSERT_EQ(labels.size(), 31u);
    // Two digits are placed like one and run on to the right.
    EXPECT_EQ(labels[11].text, QStringLiteral("12"));
    EXPECT_DOUBLE_EQ(labels[11].x, 220 + 22 - 5);
    EXPECT_EQ(digitStart[30], 29);
    EXPECT_EQ(digitStart[0], kUntouched);
}

TEST(BeatLabels, EmptyBarOnlyWritesEntryOne) {
    const Schedule beats = evenBar(4, 18, 200);
    for (int perBar : {0, -3}) {
        auto digitStart = freshDigitStart();
        EXPECT_TRUE(beatLabels(beats, perBar, true, 20.0, 25.0, kBall, digitStart).empty());
        EXPECT_EQ(digitStart[1], 0);
        EXPECT_EQ(digitStart[2], kUntouched);
    }
}

TEST(GuideLine, HeightFromTheFloor) {
    EXPECT_EQ(guideLineY(560, 44), 84); // 83.92
    EXPECT_EQ(guideLineY(400, 44), 65); // 64.72
    EXPECT_EQ(guideLineY(44, 44), 22);  // resting ball's centre
    EXPECT_EQ(guideLineY(1, 1), 0);     // 0.5, tie to even
    EXPECT_EQ(guideLineY(26, 1), 4);    // 3.5, tie to even
}

} // namespace

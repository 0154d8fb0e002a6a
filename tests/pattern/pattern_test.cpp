#include "pattern/beat_labels.h"
#include "pattern/pattern_text.h"
#include "pattern/tap_tempo.h"
#include "pattern/tempo_list.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

// Readable QString values in failure messages.
void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace pv2;

namespace {

QString q(const char *s) {
    return QString::fromUtf8(s);
}

// A change starts over at the first rewrite (in "x1y2 " the "y" goes before the trailing space
// becomes "-"); zeros survive where the first rewrite does not reach them; two separate runs
// between digits are left alone; only ASCII digits and spaces count.
TEST(CleanPattern, RewriteTable) {
    const struct {
        const char *input, *expected;
    } cases[] = {
        {"1111", "1111"},   {"4 4 ", "4 4-"},     {"4-4", "44"},     {"3 3-2 2", "3 32 2"},
        {"12-3-", "123"},   {"12--", "12-"},      {"a12", "12"},     {"x4y", "4-"},
        {"abc4def5", "45"}, {"10 4", "1 4"},      {"4 0 4", "4  4"}, {"-", ""},
        {"  ", ""},         {"3 3 2-", "3 3 2-"}, {"", ""},          {"1x2 ", "12-"},
        {"40", "40"},       {"04", "04"},         {"1020", "120"},   {"1-2-3", "1-2-3"},
        {"4x4y4", "4x4y4"}, {"\uFF11\uFF12", ""}, {"\t12\t", "12-"}, {"   7   ", "7-"},
        {"x1y2 ", "12-"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cleanPattern(q(c.input)), q(c.expected)) << "input \"" << c.input << "\"";
    // A long paste ends up at its fixed point too.
    const QString out = cleanPattern(QStringLiteral("0-x 1").repeated(400));
    EXPECT_EQ(cleanPattern(out), out);
}

TEST(PatternKeys, FluctBoxAndBeatMinusPlusFollowTheAllOnesPatterns) {
    const struct {
        const char *text, *minus, *plus, *caption; // caption nullptr: box disabled, kept
    } rows[] = {
        {"1", "1", "11", "1/f fluct."},        {"11", "1", "111", "fluct."},
        {"11111", "1111", "111111", "fluct."}, {"111111", "11111", "111111", "fluct."},
        {"1111111", "1111", "1111", nullptr},  {"", "1111", "1111", nullptr},
        {"1 1", "1111", "1111", nullptr},      {"2", "1111", "1111", nullptr},
        {"11-", "1111", "1111", nullptr},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(beatMinus(q(r.text)), q(r.minus));
        EXPECT_EQ(beatPlus(q(r.text)), q(r.plus));
        const FluctBoxState s = fluctBoxFor(q(r.text));
        EXPECT_EQ(s.enabled, r.caption != nullptr);
        EXPECT_EQ(s.caption, r.caption ? std::optional<QString>(q(r.caption)) : std::nullopt);
        // Only the one-beat pattern gives the 1/f map fresh starting values.
        EXPECT_EQ(s.reseed, r.text == std::string("1"));
    }
}

// The entry an index points at, or "none".
QString entryAt(std::optional<int> index) {
    return index ? tempoList().at(*index) : QStringLiteral("none");
}

TEST(TempoList, MarkingsStepKeysAndArrows) {
    EXPECT_EQ(tempoList().join(' '), "20 30 40 42 46 48 50 52 54 56 58 60 63 66 69 72 76 80 84 88 "
                                     "92 96 100 104 108 112 116 120 126 132 138 144 152 160 168 "
                                     "176 184 192 200 208 250 300");
    const struct {
        const char *box, *stepDown, *stepUp, *arrowDown, *arrowUp;
    } rows[] = {
        {"42", "40", "46", "42", "42"},        {"43", "42", "46", "46", "42"},
        {"21", "20", "30", "30", "20"},        {"20", "none", "30", "20", "20"},
        {"19", "none", "none", "20", "20"},    {"19.5", "none", "30", "20", "20"},
        {"", "none", "none", "20", "20"},      {"-5", "none", "none", "20", "20"},
        {"60.4", "58", "63", "60", "60"},      {"60.6", "60", "63", "63", "60"},
        {"250", "208", "300", "250", "250"},   {"299", "250", "300", "300", "250"},
        {"300", "250", "none", "300", "250"},  {"301", "none", "none", "300", "250"},
        {" 120x", "116", "126", "120", "120"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.box);
        EXPECT_EQ(entryAt(tempoStepDownIndex(q(r.box))), q(r.stepDown));
        EXPECT_EQ(entryAt(tempoStepUpIndex(q(r.box))), q(r.stepUp));
        EXPECT_EQ(entryAt(arrowSelection(q(r.box), false)), q(r.arrowDown));
        EXPECT_EQ(entryAt(arrowSelection(q(r.box), true)), q(r.arrowUp));
    }
}

// Mean of up to three gaps, 500.5 rounding to even; a pause over 2000 ms, a double report or a
// counter going back starts anew; the counter may wrap.
TEST(TapTempo, TempoFromTheMeanOfTheLastThreeIntervals) {
    const struct {
        uint32_t start;
        std::vector<int32_t> gaps;
        std::vector<int> tempi; // what each tap after the first gives, -1 for none
    } cases[] = {
        {100000, {500, 600, 700, 400}, {120, 109, 100, 105}},
        {100000, {500, 501}, {120, 120}},
        {100000, {300, 300, 300, 2001, 1000, 500}, {200, 200, 200, -1, 60, 80}},
        {100000, {2000, 2000}, {30, 30}},
        {100000, {500, 0, 1, 499, 500}, {120, -1, -1, 120, 120}},
        {100000, {2, 2}, {30000, 30000}},
        {0xFFFFFF00u, {500, 500}, {120, 120}},
        {100000, {500, -5000, 600}, {120, -1, 100}},
        {1000, {500}, {120}},
    };
    for (const auto &c : cases) {
        TapTempo tap;
        uint32_t now = c.start;
        EXPECT_EQ(tap.tap(now), std::nullopt);
        std::vector<int> got;
        for (int32_t g : c.gaps)
            got.push_back(tap.tap(now += static_cast<uint32_t>(g)).value_or(-1));
        EXPECT_EQ(got, c.tempi) << "from " << c.start << ", first gap " << c.gaps[0];
    }
}

Schedule evenBar(int count, int16_t step) {
    Schedule s{};
    for (int i = 0; i < count; ++i)
        s[i] = {static_cast<int16_t>(18 + i * step), step};
    return s;
}

// Labels as "text@x" for digits 20 and dots 25 pixels wide; digitStart -7 where nothing is stored.
TEST(BeatLabels, OnePerMovingBeatCentredUnderTheBall) {
    Schedule inPlace = evenBar(5, 100);
    inPlace[1].dx = inPlace[3].dx = 0;
    const struct {
        Schedule beats;
        int perBar;
        bool numbers;
        const char *labels;
        std::vector<int16_t> digitStart; // entry n + 1: where the n-th label's beat ends
    } cases[] = {
        {evenBar(4, 200), 4, true, "1@30 2@230 3@430 4@630", {-7, 0, 1, 2, 3, 4, -7}},
        {evenBar(4, 200), 4, false, "●@27.5 ●@227.5 ●@427.5 ●@627.5", {-7, 0, 1, 2, 3, 4, -7}},
        {inPlace, 5, true, "1@30 2@230 3@430", {-7, 0, 1, 3, 5, -7, -7}},
        {evenBar(4, 200), 0, true, "", {-7, 0, -7, -7, -7, -7, -7}},
        {evenBar(4, 200), -3, true, "", {-7, 0, -7, -7, -7, -7, -7}},
    };
    std::array<int16_t, kMaxBeats> digitStart;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.labels);
        digitStart.fill(-7);
        QStringList out;
        for (const BeatLabel &l : beatLabels(c.beats, c.perBar, c.numbers, 20, 25, 44, digitStart))
            out << l.text + "@" + QString::number(l.x);
        EXPECT_EQ(out.join(' '), q(c.labels));
        EXPECT_EQ(std::vector<int16_t>(digitStart.begin(), digitStart.begin() + 7), c.digitStart);
    }
    // A full bar stores up to entry 30; two digits are placed like one and run on to the right.
    digitStart.fill(-7);
    const auto labels = beatLabels(evenBar(kMaxBeats, 20), 40, true, 10.0, 25.0, 44, digitStart);
    ASSERT_EQ(labels.size(), 31u);
    EXPECT_TRUE(labels[11].text == "12" && labels[11].x == 18 + 220 + 22 - 5);
    EXPECT_TRUE(digitStart[30] == 29 && digitStart[0] == -7);
}

TEST(BeatLabels, GuideLineHeightFromTheFloor) {
    EXPECT_EQ(guideLineY(560, 44), 84); // 83.92
    EXPECT_EQ(guideLineY(1, 1), 0);     // 0.5, tie to even
    EXPECT_EQ(guideLineY(26, 1), 4);    // 3.5, tie to even
}

} // namespace

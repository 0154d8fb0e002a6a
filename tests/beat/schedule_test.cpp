#include "beat/schedule.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace pv2;

namespace {

const FluctProfile kProfile = fillFluctProfile();
const BeatSlot kSentinel{1234, -77, 4321, 99, 9.5, -3.25};

// Flight area 600 x 400 pixels; L = 40 - 44 / 2 = 18, centre x = 318.
ScheduleInput input(const QString &tempo, const QString &pattern, bool fluct = false) {
    return {.tempoText = tempo,
            .patternText = pattern,
            .fluctChecked = fluct,
            .areaWidth = 680,
            .areaHeight = 442,
            .profile = &kProfile};
}

// Built into a table of sentinels, so that records left alone show.
ScheduleResult build(Schedule &t, const ScheduleInput &in) {
    t.fill(kSentinel);
    return buildSchedule(t, in);
}

// "x,ms,dx,height" of records from .. n - 1.
std::string records(const Schedule &t, int n, int from = 0) {
    std::string out;
    for (int i = from; i < n; ++i)
        out += (i > from ? " " : "") + std::to_string(t[i].x) + "," + std::to_string(t[i].ms) +
               "," + std::to_string(t[i].dx) + "," + std::to_string(t[i].height);
    return out;
}

} // namespace

// The tempo is the whole part of the text; the box is rewritten when the text rounds to a tempo
// outside 1..800.
TEST(Schedule, TempoTextIsRoundedClampedAndFloored) {
    const struct {
        const char *text, *tempo, *newText; // newText "-": the box keeps its text
    } cases[] = {
        {"120", "120", "-"},     {"abc", "1", "1"},          {"-5", "1", "1"},
        {"0.5", "1", "1"},       {"0.6", "1", "-"},          {"60.9", "60", "-"},
        {" 72abc", "72", "-"},   {"800", "800", "-"},        {"800.5", "800", "-"},
        {"800.6", "800", "800"}, {"99999999", "800", "800"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        Schedule t;
        const ScheduleResult r = build(t, input(c.text, "1"));
        EXPECT_EQ(QString::number(r.tempo), c.tempo);
        EXPECT_EQ(r.newTempoText.value_or("-"), c.newText);
        EXPECT_EQ(t[0].ms, std::lround(60000.0 / r.tempo));
    }
}

// One click per digit, with spaced arcs only where all beats are of one length; no beat at all
// plays like "1"; a trailing "-" groups; the profile applies to bars of plain single beats only.
TEST(Schedule, RecordsForEachPatternForm) {
    const struct {
        const char *tempo, *pattern;
        bool fluct;
        const char *expected;
    } cases[] = {
        {"120", "1111", false, "18,500,200,400 218,500,200,400 418,500,200,400 618,500,-600,400"},
        {"120", "2 1 1", false, "18,1000,300,400 318,500,300,100 618,500,-600,100"},
        {"120", "1 1 1", false, "18,500,300,283 318,500,300,283 618,500,-600,400"},
        // the shortest beat starts at 5000 ms
        {"10", "1 1 1", false, "18,6000,300,400 318,6000,300,400 618,6000,-600,400"},
        {"12", "1 1 1", false, "18,5000,300,283 318,5000,300,283 618,5000,-600,400"},
        {"120", "101", false, "18,500,600,400 618,500,-600,400"},
        {"120", "4", false, "318,2000,0,400"},
        {"120", "00-", false, "318,500,0,400"},
        {"120", "", false, "318,500,0,400"},
        {"120", "4-", false, "318,500,0,240 318,500,0,240 318,500,0,240 318,500,0,400"},
        {"120", "3 3 2-", false,
         "18,500,0,240 18,500,0,240 18,500,300,400 318,500,0,240 318,500,0,240 318,500,300,400 "
         "618,500,0,240 618,500,-600,400"},
        {"120", "20-", false, "18,500,0,240 18,500,0,240"},
        {"120", " 1111 ", true, "18,514,206,358 224,443,177,266 401,543,217,400 618,500,-600,339"},
        {"120", "2222", true,
         "18,1000,200,400 218,1000,200,400 418,1000,200,400 618,1000,-600,400"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.tempo << " \"" << c.pattern << "\" " << c.fluct);
        Schedule t;
        const ScheduleResult r = build(t, input(c.tempo, c.pattern, c.fluct));
        EXPECT_DOUBLE_EQ(r.trackWidth, 600.0);
        EXPECT_EQ(records(t, r.beatsPerBar), c.expected);
    }
}

TEST(Schedule, FluctProfileDepth) {
    const char *expected[] = {"60000 60000", "30000 90000 60000", "68148 25926 85926 60000",
                              "81636 34338 32010 92010 60000",
                              "82794 54360 27816 47220 87816 60000"};
    for (int n = 2; n <= 6; ++n) {
        ScheduleInput in = input("1", QString(n, u'1'), true);
        in.fluctDepth = 1.0f;
        Schedule t;
        build(t, in);
        std::string got;
        for (int i = 0; i < n; ++i)
            got += (i ? " " : "") + std::to_string(t[i].ms);
        EXPECT_EQ(got, expected[n - 2]);
    }
}

TEST(Schedule, LongPatternsStopAtThirtyOneRecords) {
    Schedule t;
    ASSERT_EQ(build(t, input("120", "99999-")).beatsPerBar, kMaxBeats);
    // Columns 150 px apart: 9 + 9 + 9 records, then 4 of the fourth group.
    EXPECT_EQ(records(t, kMaxBeats, 26),
              "318,500,150,400 468,500,0,240 468,500,0,240 468,500,0,240 468,500,-450,400");
}

// The 1/f mode lands on record 1 first: it gets the x, the records beyond stay untouched.
TEST(Schedule, OneBeatPatternsAreTheBaseOfTheOneOverFMode) {
    Schedule t;
    const ScheduleResult r = build(t, input("120", "4"));
    EXPECT_TRUE(r.oneBeat && r.beatsPerBar == 1 && r.fluctHeight == 400 && r.fluctBeatMs == 500);
    EXPECT_EQ(records(t, 3), "318,2000,0,400 318,4321,-77,99 1234,4321,-77,99");
    EXPECT_FALSE(build(t, input("120", "111", true)).oneBeat);
}

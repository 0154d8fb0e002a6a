#include "beat/schedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace pv2;

namespace {

const FluctProfile kProfile = fillFluctProfile();

// Flight area 600 x 400 pixels; L = 40 - 44 / 2 = 18, centre x = 318.
ScheduleInput input(const QString &tempo, const QString &pattern, bool fluct = false) {
    ScheduleInput in;
    in.tempoText = tempo;
    in.patternText = pattern;
    in.fluctChecked = fluct;
    in.areaWidth = 680;
    in.areaHeight = 442;
    in.profile = &kProfile;
    return in;
}

BeatSlot sentinel() {
    BeatSlot s;
    s.x = 1234;
    s.dx = -77;
    s.ms = 4321;
    s.height = 99;
    s.vx = 9.5;
    s.lift = -3.25;
    return s;
}

Schedule freshTable() {
    Schedule t;
    t.fill(sentinel());
    return t;
}

bool sameSlot(const BeatSlot &a, const BeatSlot &b) {
    return a.x == b.x && a.dx == b.dx && a.ms == b.ms && a.height == b.height && a.vx == b.vx &&
           a.lift == b.lift;
}

// The clock relies on vx and lift matching the record they belong to.
void expectFlightConsistent(const Schedule &t, int n) {
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        ASSERT_GT(t[i].ms, 0);
        EXPECT_TRUE(std::isfinite(t[i].vx));
        EXPECT_TRUE(std::isfinite(t[i].lift));
        EXPECT_DOUBLE_EQ(t[i].vx, double(t[i].dx) / t[i].ms);
        EXPECT_DOUBLE_EQ(t[i].lift, 4.0 * t[i].height / t[i].ms);
    }
}

struct Slot {
    int x, ms, dx, height;
};

struct FormCase {
    const char *tempo;
    const char *pattern;
    bool fluct;
    std::vector<Slot> expected;
};

} // namespace

TEST(ScheduleTempo, TempoTextIsRoundedClampedAndFloored) {
    struct Case {
        const char *text;
        int tempo;
        const char *newText; // nullptr: the box keeps its text
        int T;
    };
    const Case cases[] = {
        {"120", 120, nullptr, 500},   {"7", 7, nullptr, 8571},
        {"0", 1, "1", 60000},         {"abc", 1, "1", 60000},
        {"", 1, "1", 60000},          {"-5", 1, "1", 60000},
        {"0.5", 1, "1", 60000},       {"0.6", 1, nullptr, 60000},
        {"1.5", 1, nullptr, 60000},   {"60.9", 60, nullptr, 1000},
        {" 72abc", 72, nullptr, 833}, {"800", 800, nullptr, 75},
        {"800.5", 800, nullptr, 75},  {"800.6", 800, "800", 75},
        {"900", 800, "800", 75},      {"99999999999999999999", 800, "800", 75},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Schedule t = freshTable();
        const ScheduleResult r = buildSchedule(t, input(c.text, "1"));
        EXPECT_EQ(r.tempo, c.tempo);
        if (c.newText) {
            ASSERT_TRUE(r.newTempoText.has_value());
            EXPECT_EQ(*r.newTempoText, QString(c.newText));
        } else {
            EXPECT_FALSE(r.newTempoText.has_value());
        }
        EXPECT_EQ(t[0].ms, c.T);
        EXPECT_EQ(r.fluctBeatMs, c.T);
    }
}

TEST(ScheduleForms, WorkedExampleFlightValues) {
    Schedule t = freshTable();
    const ScheduleResult r = buildSchedule(t, input("120", "1111"));
    EXPECT_EQ(r.beatsPerBar, 4);
    EXPECT_DOUBLE_EQ(r.trackWidth, 600.0);
    EXPECT_FALSE(r.oneBeat);
    const double vx[] = {0.4, 0.4, 0.4, -1.2};
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(t[i].vx, vx[i]);
        EXPECT_DOUBLE_EQ(t[i].lift, 4.0 * 400 / 500);
    }
}

TEST(ScheduleForms, RecordsForEachPatternForm) {
    const FormCase cases[] = {
        // one click per digit
        {"120",
         "1111",
         false,
         {{18, 500, 200, 400}, {218, 500, 200, 400}, {418, 500, 200, 400}, {618, 500, -600, 400}}},
        {"120",
         "2 1 1",
         false,
         {{18, 1000, 300, 400}, {318, 500, 300, 100}, {618, 500, -600, 100}}},
        {"120", "1 1 1", false, {{18, 500, 300, 283}, {318, 500, 300, 283}, {618, 500, -600, 400}}},
        // all beats 5000 ms or more: the shortest stays 5000, so spacing is not kept
        {"10",
         "1 1 1",
         false,
         {{18, 6000, 300, 400}, {318, 6000, 300, 400}, {618, 6000, -600, 400}}},
        {"12",
         "1 1 1",
         false,
         {{18, 5000, 300, 283}, {318, 5000, 300, 283}, {618, 5000, -600, 400}}},
        {"120", "101", false, {{18, 500, 600, 400}, {618, 500, -600, 400}}},
        {"120", "4", false, {{318, 2000, 0, 400}}},
        // grouped
        {"120",
         "4-",
         false,
         {{318, 500, 0, 240}, {318, 500, 0, 240}, {318, 500, 0, 240}, {318, 500, 0, 400}}},
        {"120", "1-", false, {{318, 500, 0, 400}}},
        {"120",
         "3 3 2-",
         false,
         {{18, 500, 0, 240},
          {18, 500, 0, 240},
          {18, 500, 300, 400},
          {318, 500, 0, 240},
          {318, 500, 0, 240},
          {318, 500, 300, 400},
          {618, 500, 0, 240},
          {618, 500, -600, 400}}},
        {"120", "20-", false, {{18, 500, 0, 240}, {18, 500, 0, 240}}},
        // per-beat fluctuation profile
        {"120",
         "1111",
         true,
         {{18, 514, 206, 358}, {224, 443, 177, 266}, {401, 543, 217, 400}, {618, 500, -600, 339}}},
        {"120",
         " 1111 ",
         true,
         {{18, 514, 206, 358}, {224, 443, 177, 266}, {401, 543, 217, 400}, {618, 500, -600, 339}}},
        {"120", "11", true, {{18, 500, 600, 400}, {618, 500, -600, 400}}},
        {"120", "111", true, {{18, 450, 270, 268}, {288, 550, 330, 400}, {618, 500, -600, 331}}},
        {"120",
         "11111",
         true,
         {{18, 536, 161, 376},
          {179, 457, 137, 273},
          {316, 453, 136, 268},
          {452, 553, 166, 400},
          {618, 500, -600, 327}}},
        {"120",
         "111111",
         true,
         {{18, 538, 129, 388},
          {147, 491, 118, 323},
          {265, 446, 107, 267},
          {372, 479, 115, 308},
          {487, 546, 131, 400},
          {618, 500, -600, 335}}},
        // the profile is only for bars of plain single beats
        {"120",
         "2222",
         true,
         {{18, 1000, 200, 400},
          {218, 1000, 200, 400},
          {418, 1000, 200, 400},
          {618, 1000, -600, 400}}},
        {"120",
         "1111",
         false,
         {{18, 500, 200, 400}, {218, 500, 200, 400}, {418, 500, 200, 400}, {618, 500, -600, 400}}},
    };
    for (const FormCase &c : cases) {
        SCOPED_TRACE(QStringLiteral("tempo %1 pattern \"%2\" fluct %3")
                         .arg(c.tempo, c.pattern)
                         .arg(c.fluct)
                         .toStdString());
        Schedule t = freshTable();
        const ScheduleResult r = buildSchedule(t, input(c.tempo, c.pattern, c.fluct));
        ASSERT_EQ(r.beatsPerBar, int(c.expected.size()));
        for (size_t i = 0; i < c.expected.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(t[i].x, c.expected[i].x);
            EXPECT_EQ(t[i].ms, c.expected[i].ms);
            EXPECT_EQ(t[i].dx, c.expected[i].dx);
            EXPECT_EQ(t[i].height, c.expected[i].height);
        }
        expectFlightConsistent(t, r.beatsPerBar);
    }
}

TEST(ScheduleForms, TextsWithoutAnyBeatPlayLikeOne) {
    for (const char *p : {"0", "00-", "0-", "-", "", "   ", "0 0-", "x"}) {
        SCOPED_TRACE(p);
        Schedule t = freshTable();
        const ScheduleResult r = buildSchedule(t, input("120", p));
        EXPECT_EQ(r.beatsPerBar, 1);
        EXPECT_TRUE(r.oneBeat);
        EXPECT_EQ(t[0].x, 318);
        EXPECT_EQ(t[0].ms, 500);
        EXPECT_EQ(t[0].dx, 0);
        EXPECT_EQ(t[0].height, 400);
        expectFlightConsistent(t, 1);
    }
}

TEST(ScheduleForms, LongPatternsStopAtThirtyOneRecords) {
    {
        Schedule t = freshTable();
        const ScheduleResult r = buildSchedule(t, input("120", "99999-"));
        ASSERT_EQ(r.beatsPerBar, kMaxBeats);
        // Columns 150 px apart: 9 + 9 + 9 records, then 4 of the fourth group.
        EXPECT_EQ(t[26].x, 318);
        EXPECT_EQ(t[27].x, 468);
        EXPECT_EQ(t[30].x, 468);
        EXPECT_EQ(t[30].dx, 18 - 468);
        EXPECT_EQ(t[30].height, 400);
        expectFlightConsistent(t, kMaxBeats);
    }
    {
        Schedule t = freshTable();
        const ScheduleResult r = buildSchedule(t, input("120", QString(40, u'1')));
        ASSERT_EQ(r.beatsPerBar, kMaxBeats);
        EXPECT_EQ(t[30].x, 18 + 30 * 15);
        EXPECT_EQ(t[30].dx, -30 * 15);
        expectFlightConsistent(t, kMaxBeats);
    }
}

TEST(ScheduleOneBeat, BaseOfTheOneOverFMode) {
    struct Case {
        const char *tempo;
        const char *pattern;
        int firstMs;
        int fluctBeatMs;
    };
    const Case cases[] = {
        {"120", "1", 500, 500},   {"120", "4", 2000, 500},   {"120", "1-", 500, 500},
        {"1", "1", 60000, 60000}, {"1", "9", 540000, 60000}, {"1", "1-", 60000, 60000},
        {"800", "1", 75, 75},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(c.tempo, c.pattern).toStdString());
        Schedule t = freshTable();
        const ScheduleResult r = buildSchedule(t, input(c.tempo, c.pattern));
        EXPECT_TRUE(r.oneBeat);
        EXPECT_EQ(r.beatsPerBar, 1);
        EXPECT_EQ(t[0].ms, c.firstMs);
        EXPECT_EQ(r.fluctBeatMs, c.fluctBeatMs);
        EXPECT_EQ(r.fluctHeight, 400);
        // The 1/f mode lands on record 1 first.
        EXPECT_EQ(t[1].x, t[0].x);
    }
    Schedule t = freshTable();
    EXPECT_FALSE(buildSchedule(t, input("120", "11")).oneBeat);
}

TEST(ScheduleBounds, RecordsBeyondTheBarKeepTheirContents) {
    Schedule t = freshTable();
    buildSchedule(t, input("120", "111", true));
    for (int i = 3; i < kMaxBeats; ++i)
        EXPECT_TRUE(sameSlot(t[i], sentinel())) << i;

    t = freshTable();
    buildSchedule(t, input("120", "4"));
    BeatSlot second = sentinel();
    second.x = 318;
    EXPECT_TRUE(sameSlot(t[1], second));
    for (int i = 2; i < kMaxBeats; ++i)
        EXPECT_TRUE(sameSlot(t[i], sentinel())) << i;
}

TEST(ScheduleBounds, AreaSmallerThanMarginsStaysFinite) {
    const char *patterns[] = {"1", "4", "1111", "1 1 1", "2 1 1", "4-", "3 3 2-", "111111"};
    for (int size : {10, 0}) {
        for (const char *p : patterns) {
            for (bool fluct : {false, true}) {
                SCOPED_TRACE(QStringLiteral("%1 %2 %3").arg(size).arg(p).arg(fluct).toStdString());
                ScheduleInput in = input("120", p, fluct);
                in.areaWidth = size;
                in.areaHeight = size;
                Schedule t = freshTable();
                const ScheduleResult r = buildSchedule(t, in);
                EXPECT_EQ(r.trackWidth, 0.0);
                for (int i = 0; i < r.beatsPerBar; ++i) {
                    EXPECT_EQ(t[i].x, 18);
                    EXPECT_EQ(t[i].height, 0);
                }
                expectFlightConsistent(t, r.beatsPerBar);
            }
        }
    }
}

TEST(ScheduleBounds, ExtremeFluctDepthKeepsBeatsPositive) {
    for (float depth : {10.0f, -10.0f, 1e30f}) {
        SCOPED_TRACE(depth);
        ScheduleInput in = input("800", "1111", true);
        in.fluctDepth = depth;
        Schedule t = freshTable();
        const ScheduleResult r = buildSchedule(t, in);
        ASSERT_EQ(r.beatsPerBar, 4);
        expectFlightConsistent(t, 4);
        EXPECT_EQ(t[0].x, 18);
        EXPECT_EQ(t[3].x, 618);
    }
}

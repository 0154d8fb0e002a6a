#include "beat/practice.h"
#include "preset/preset_file.h"

#include <gtest/gtest.h>

namespace pv2::test {
namespace {

using Mute = PracticeSettings::Mute;

std::vector<QString> fields(const PresetRecord &p) {
    return {p.title, p.parm, p.m, p.s, p.a, p.g, p.d, p.f, p.memo};
}

TEST(PracticeToken, WritesWhatIsInUseAndReadsItBack) {
    const PracticeSettings all{.on = true,
                               .countInBars = 1,
                               .mute = Mute::Bars,
                               .ladderStep = 5,
                               .ladderEvery = 8,
                               .ladderTarget = 140,
                               .timerMinutes = 20};
    PracticeSettings chance = all;
    chance.mute = Mute::Chance;
    chance.mutePercent = 30;
    chance.hideBall = true;
    chance.ladderStep = -3;
    chance.ladderTarget = 60;
    const PracticeSettings none{.on = true};
    struct Case {
        PracticeSettings p;
        const char *token;
    } cases[] = {
        {all, "practice=(count=1 play=4 mute=4 ladder=+5/8..140 timer=20)"},
        {chance, "practice=(count=1 mute=30% hide=1 ladder=-3/8..60 timer=20)"},
        {none, "practice=()"},
    };
    PracticeSettings hiddenUnmuted = none;
    hiddenUnmuted.hideBall = true;
    EXPECT_EQ(practiceToken(hiddenUnmuted), "practice=()") << "the ball hides only in muted bars";
    for (const Case &c : cases) {
        EXPECT_EQ(practiceToken(c.p), QString::fromLatin1(c.token));
        const auto back = parsePracticeToken(QStringLiteral("x parm=(1) m80 ") + c.token);
        ASSERT_TRUE(back) << c.token;
        // Values of a mode not in use are not written and come back as their defaults.
        PracticeSettings expected = c.p;
        if (c.p.mute == Mute::Bars)
            expected.mutePercent = PracticeSettings{}.mutePercent;
        if (c.p.mute == Mute::Chance) {
            expected.playBars = PracticeSettings{}.playBars;
            expected.muteBars = PracticeSettings{}.muteBars;
        }
        EXPECT_EQ(*back, expected) << c.token;
    }
}

TEST(PracticeToken, OnlyBeforeTheMemoAndForgivingOfHandEdits) {
    EXPECT_FALSE(parsePracticeToken(QStringLiteral("x parm=(1) m80 s1")));
    EXPECT_FALSE(parsePracticeToken(QStringLiteral("x parm=(1) memo=practice=(count=1)")));
    EXPECT_FALSE(parsePracticeToken(QStringLiteral("x parm=(1) practice=(count=1")));
    const auto p = parsePracticeToken(
        QStringLiteral("x parm=(1) practice=(count=9 play=0 ladder=+5/x..1 junk hide=)"));
    ASSERT_TRUE(p);
    EXPECT_EQ(practiceToken(*p), "practice=(count=2 play=1 mute=4)");
}

// The token must not change any field the line's own expressions read.
TEST(PracticeToken, LeavesEveryFieldOfTheLineAsItReads) {
    const PracticeSettings p{.on = true,
                             .countInBars = 2,
                             .mute = Mute::Chance,
                             .mutePercent = 90,
                             .hideBall = true,
                             .ladderStep = -20,
                             .ladderEvery = 64,
                             .ladderTarget = 800,
                             .timerMinutes = 120};
    const char *lines[] = {
        "Waltz parm=(3-) m96 s1 a0 d1 g0 f0 memo=slow",
        "hello",
        "t parm=(1) m1 s2 a3 d4 g5 f6memo=",
        "a memo=in the title parm=(1) m90",
        "x parm=(1) parm=(2) m90 f1 memo=a memo= b",
    };
    for (const char *raw : lines) {
        const QString line = QString::fromUtf8(raw);
        const QString with = withPracticeToken(line, p);
        EXPECT_EQ(fields(setParm(with)), fields(setParm(line))) << raw;
        if (with != line) {
            EXPECT_EQ(parsePracticeToken(with), p) << raw;
        }
    }
    EXPECT_EQ(withPracticeToken(QStringLiteral("W parm=(1) m9 s1 a0 d0 g0 f0 memo=slow"), p),
              QStringLiteral("W parm=(1) m9 s1 a0 d0 g0 f0 practice=(count=2 mute=90% hide=1 "
                             "ladder=-20/64..800 timer=120) memo=slow"));
}

} // namespace
} // namespace pv2::test

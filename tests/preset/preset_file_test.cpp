#include "fake_file_access.h"
#include "preset/preset_file.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>

namespace pv2 {
namespace {

const QString sep = QStringLiteral("-----------------");

PresetList readBytes(const QByteArray &bytes, PresetSettings &settings) {
    test::MemoryFileAccess fs;
    fs.files.insert(QStringLiteral("menu.txt"), bytes);
    return readPresetFile(fs, QStringLiteral("menu.txt"), settings);
}

PresetList readFixture(const QString &name, PresetSettings &settings) {
    RealFileAccess fs;
    return readPresetFile(fs, QStringLiteral(PV2_TEST_DATA "/") + name, settings);
}

// ---- one line's fields ----

struct FieldCase {
    const char *name;
    const char *line;
    const char *fields; // title|parm|m|s|a|g|d|f|memo
};

class SetParmFields : public ::testing::TestWithParam<FieldCase> {};

TEST_P(SetParmFields, ExtractsAllNineFields) {
    const PresetRecord p = setParm(QString::fromUtf8(GetParam().line));
    const QStringList got{p.title, p.parm, p.m, p.s, p.a, p.g, p.d, p.f, p.memo};
    EXPECT_EQ(got.join(u'|'), QString::fromUtf8(GetParam().fields));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetParmFields,
    ::testing::Values(
        FieldCase{"waltz", "Waltz parm=(3-) m96 s1 a0 d1 g0 f0 memo=slow",
                  "Waltz|3-|96|1|0|0|1|0|slow"},
        FieldCase{"eachFlagItsOwnKey", "T parm=(1) m60 s2 a10 d3 g4 f5", "T|1|60|2|10|4|3|5|"},
        FieldCase{"memoOverridesTempo", "Waltz parm=(3-) m96 s1 memo=try m72",
                  "Waltz|3-|72|1|||||try m72"},
        FieldCase{"noParm", "hello", "||||||||"},
        FieldCase{"badPattern", "Bad parm=(3a) m90", "Bad||90||||||"},
        FieldCase{"titleAndMemoTrimmed",
                  "  Seven   parm=(3 2 2) m120 s0 a1 d1 g1 f0 memo=  count it  ",
                  "Seven|3 2 2|120|0|1|1|1|0|count it"},
        FieldCase{"titleUpToLastParm", "a parm=(1) b parm=(2) m3", "a parm=(1) b|1|3||||||"},
        FieldCase{"emptyMemo", "T parm=(1) m60 memo=", "T|1|60||||||"},
        FieldCase{"noTitle", "parm=(4) m100", "|4|100||||||"}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- classification of lines and the settings ----

struct LineKindCase {
    const char *name;
    QByteArray file;
    QStringList listTexts;
    PresetSettings expected;
};

class LineKinds : public ::testing::TestWithParam<LineKindCase> {};

TEST_P(LineKinds, ClassifiesByFirstCharacters) {
    PresetSettings settings; // defaults: 20, shown, 0.2
    const PresetList list = readBytes(GetParam().file, settings);
    EXPECT_TRUE(list.ok);
    EXPECT_EQ(list.listTexts, GetParam().listTexts);
    EXPECT_EQ(list.presets.size(), static_cast<size_t>(list.listTexts.size()));
    EXPECT_EQ(settings.timerInterval, GetParam().expected.timerInterval);
    EXPECT_EQ(settings.showSaveButtons, GetParam().expected.showSaveButtons);
    EXPECT_FLOAT_EQ(settings.fluctDepth, GetParam().expected.fluctDepth);
}

constexpr float maxFloat = std::numeric_limits<float>::max();

INSTANTIATE_TEST_SUITE_P(
    Table, LineKinds,
    ::testing::Values(
        LineKindCase{"comment", ";Waltz parm=(3) m96\r\n", {}, {}},
        LineKindCase{"separator", "-x\r\n", {sep}, {}},
        LineKindCase{"plainText", "hello\r\n", {"()"}, {}},
        LineKindCase{"emptyLineSkipped", "\r\n\r\n", {}, {}},
        LineKindCase{"lineOfSpaces", "   \r\n", {"()"}, {}},
        LineKindCase{"indentedComment", " ;x\r\n", {"()"}, {}},
        LineKindCase{"indentedSetting", " timer=50\r\n", {"()"}, {}},
        LineKindCase{"caseSensitive", "Timer=50\r\n", {"()"}, {}},
        LineKindCase{"timerBelowRange", "timer=3\r\n", {}, {5, true, 0.2f}},
        LineKindCase{"timerAboveRange", "timer=500\r\n", {}, {100, true, 0.2f}},
        LineKindCase{"timerNotANumber", "timer=abc\r\n", {}, {5, true, 0.2f}},
        LineKindCase{"timerSaturatesAt16Bits", "timer=65556\r\n", {}, {100, true, 0.2f}},
        LineKindCase{"timerHalfToEven", "timer=20.5\r\n", {}, {20, true, 0.2f}},
        LineKindCase{"timerHalfUp", "timer=21.5\r\n", {}, {22, true, 0.2f}},
        LineKindCase{"lastSettingWins", "timer= 30\r\ntimer=40\r\n", {}, {40, true, 0.2f}},
        LineKindCase{"fluct", "fluct=0.35\r\n", {}, {20, true, 0.35f}},
        LineKindCase{"fluctNotLimited", "fluct=-2.5\r\n", {}, {20, true, -2.5f}},
        LineKindCase{"fluctHuge", "fluct=1" + QByteArray(400, '0'), {}, {20, true, maxFloat}},
        LineKindCase{"saveOn", "save=on\r\n", {}, {20, false, 0.2f}},
        LineKindCase{"saveOff", "save=off\r\n", {}, {20, false, 0.2f}},
        LineKindCase{"saveOtherValueIsAnEntry", "save=yes\r\n", {"()"}, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ReadPresetFile, OnlyTheSettingsInTheFileChangeAndAMissingFileShowsTheSaveButtons) {
    PresetSettings settings{50, false, 0.5f};
    readBytes("A parm=(1) m60\r\n", settings);
    EXPECT_EQ(settings.timerInterval, 50);
    EXPECT_FALSE(settings.showSaveButtons);
    EXPECT_FLOAT_EQ(settings.fluctDepth, 0.5f);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    RealFileAccess fs;
    const PresetList list = readPresetFile(fs, dir.filePath("menu.txt"), settings);
    EXPECT_FALSE(list.ok);
    EXPECT_TRUE(list.presets.empty());
    EXPECT_TRUE(list.listTexts.empty());
    EXPECT_TRUE(settings.showSaveButtons);
    EXPECT_EQ(settings.timerInterval, 50);

    // A directory in the file's place cannot be read either.
    ASSERT_TRUE(QDir(dir.path()).mkdir("menu.txt"));
    EXPECT_FALSE(readPresetFile(fs, dir.filePath("menu.txt"), settings).ok);
}

// ---- whole files ----

TEST(PresetFixtures, GoodFile) {
    PresetSettings settings;
    const PresetList list = readFixture("preset_good.txt", settings);
    ASSERT_TRUE(list.ok);
    EXPECT_EQ(list.listTexts,
              (QStringList{"Four(1111)", "Waltz(3-)", sep, "Seven(3 2 2)", "Drift(1)"}));
    EXPECT_EQ(list.presets[2].title, sep);
    EXPECT_EQ(settings.timerInterval, 10);
    EXPECT_FLOAT_EQ(settings.fluctDepth, 0.3f);
    EXPECT_EQ(list.presets[3].memo, QStringLiteral("count it"));
    EXPECT_EQ(list.presets[4].f, QStringLiteral("1"));
}

TEST(PresetFixtures, MalformedFileGivesOneEntryPerNonSettingLine) {
    PresetSettings settings;
    const PresetList list = readFixture("preset_malformed.txt", settings);
    ASSERT_TRUE(list.ok);
    ASSERT_EQ(list.presets.size(), 14u);
    EXPECT_EQ(list.presets[2].parm, QString()); // "(12 m70" is never closed
    EXPECT_EQ(list.presets[2].m, QStringLiteral("70"));
    EXPECT_EQ(list.presets[3].title, QStringLiteral("Twice parm=(1) m50"));
    EXPECT_EQ(list.presets[3].m, QStringLiteral("60"));
    EXPECT_EQ(list.presets[5].m, QString());
    EXPECT_EQ(list.presets[7].title, QStringLiteral("\ttab"));
    EXPECT_EQ(list.presets[13].m, QString(400, u'9'));
    EXPECT_EQ(settings.timerInterval, 5); // "timer=" reads as 0
    EXPECT_FLOAT_EQ(settings.fluctDepth, 0.0f);
}

TEST(PresetFixtures, ReadingStopsBeforeThe102ndEntry) {
    PresetSettings settings;
    const PresetList list = readFixture("preset_120_entries.txt", settings);
    ASSERT_EQ(list.presets.size(), 101u);
    ASSERT_EQ(list.listTexts.size(), 101);
    EXPECT_EQ(list.listTexts.back(), QStringLiteral("P100(1)"));
    EXPECT_EQ(list.presets.back().m, QStringLiteral("160"));
    // The setting between the 101st and 102nd entry is read; the one after is not.
    EXPECT_EQ(settings.timerInterval, 30);
}

TEST(PresetFixtures, OneMegabyteLines) {
    // Many "parm=" and digits, but no 'm' with a digit: the worst case for the backtracking.
    QByteArray longLine = "Long parm=(1) s1";
    while (longLine.size() < 1024 * 1024)
        longLine += " parm=(12 x9";
    PresetSettings settings;
    const PresetList list = readBytes("A parm=(1) m60\r\n" + longLine + " memo=end\r\n" +
                                          QByteArray(1024 * 1024, 'z') + "\r\nB parm=(2) m70\r\n",
                                      settings);
    ASSERT_EQ(list.presets.size(), 4u);
    EXPECT_EQ(list.presets[1].m, QString());
    EXPECT_EQ(list.presets[1].s, QStringLiteral("1"));
    EXPECT_EQ(list.presets[1].memo, QStringLiteral("end"));
    EXPECT_EQ(list.listTexts[2], QStringLiteral("()"));
    EXPECT_EQ(list.listTexts[3], QStringLiteral("B(2)"));
}

// ---- composing a line ----

struct ComposeCase {
    const char *title, *beat, *tempo;
    const char *flags; // s a d g f
    const char *memo, *line, *tempoAfter;
};

TEST(ComposePresetLine, FieldsAsGivenAndATempoReadingAsZeroBecomes80) {
    const ComposeCase cases[] = {
        {"Waltz", "1 2", "96", "10011", "slow", "Waltz parm=(1 2) m96 s1 a0 d0 g1 f1 memo=slow",
         "96"},
        {"T", "1", "60", "01010", "", "T parm=(1) m60 s0 a1 d0 g1 f0", "60"},
        {"T", "1", "60", "00101", "", "T parm=(1) m60 s0 a0 d1 g0 f1", "60"},
        {"T", "1", "", "00000", "", "T parm=(1) m80 s0 a0 d0 g0 f0", "80"},
        {"T", "1", "0", "00000", "", "T parm=(1) m80 s0 a0 d0 g0 f0", "80"},
        {"T", "1", "abc", "00000", "", "T parm=(1) m80 s0 a0 d0 g0 f0", "80"},
        {"T", "1", " 0.0", "00000", "", "T parm=(1) m80 s0 a0 d0 g0 f0", "80"},
        {"T", "1", "120abc", "00000", "", "T parm=(1) m120abc s0 a0 d0 g0 f0", "120abc"},
        {"T", "1", " 72", "00000", "", "T parm=(1) m 72 s0 a0 d0 g0 f0", " 72"},
        {"T", "1", "0.5", "00000", "", "T parm=(1) m0.5 s0 a0 d0 g0 f0", "0.5"},
        // Nothing is trimmed, and a blank memo is written.
        {"", " 3 ", "80", "00000", "   ", " parm=( 3 ) m80 s0 a0 d0 g0 f0 memo=   ", "80"},
        // Line breaks become spaces; only the "80" rule touches the tempo field.
        {"a\r\nb\rc\nd\u2028e\u0085", "1\r2", "9\n6", "00000", "x\vy\fz\u2029",
         "a b c d e  parm=(1 2) m9 6 s0 a0 d0 g0 f0 memo=x y z ", "9\n6"},
    };
    for (const ComposeCase &c : cases) {
        QString tempo = QString::fromUtf8(c.tempo);
        const auto on = [&](int i) { return c.flags[i] == '1'; };
        EXPECT_EQ(composePresetLine(QString::fromUtf8(c.title), QString::fromUtf8(c.beat), tempo,
                                    on(0), on(1), on(2), on(3), on(4), QString::fromUtf8(c.memo)),
                  QString::fromUtf8(c.line));
        EXPECT_EQ(tempo, QString::fromUtf8(c.tempoAfter)) << c.tempo;
    }
}

} // namespace
} // namespace pv2

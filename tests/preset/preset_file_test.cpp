#include "fake_file_access.h"
#include "preset/preset_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace pv2 {
namespace {

const QString dataDir = QStringLiteral(PV2_TEST_DATA);

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

PresetList readBytes(const QByteArray &bytes, PresetSettings &settings) {
    test::MemoryFileAccess fs;
    fs.files.insert(QStringLiteral("menu.txt"), bytes);
    return readPresetFile(fs, QStringLiteral("menu.txt"), settings);
}

PresetList readFixture(const QString &name, PresetSettings &settings) {
    RealFileAccess fs;
    return readPresetFile(fs, dataDir + u'/' + name, settings);
}

// ---- one line's fields ----

struct FieldCase {
    const char *name;
    QString line;
    PresetRecord expected;
    QString listText;
};

class SetParmFields : public ::testing::TestWithParam<FieldCase> {};

TEST_P(SetParmFields, ExtractsAllNineFields) {
    const PresetRecord p = setParm(GetParam().line);
    const PresetRecord &e = GetParam().expected;
    EXPECT_EQ(p.title, e.title);
    EXPECT_EQ(p.parm, e.parm);
    EXPECT_EQ(p.m, e.m);
    EXPECT_EQ(p.s, e.s);
    EXPECT_EQ(p.a, e.a);
    EXPECT_EQ(p.d, e.d);
    EXPECT_EQ(p.g, e.g);
    EXPECT_EQ(p.f, e.f);
    EXPECT_EQ(p.memo, e.memo);
    EXPECT_EQ(presetListText(p), GetParam().listText);
}

// Field order in the expectations: title, parm, m, s, a, g, d, f, memo.
INSTANTIATE_TEST_SUITE_P(
    Table, SetParmFields,
    ::testing::Values(
        FieldCase{"waltz",
                  "Waltz parm=(3-) m96 s1 a0 d1 g0 f0 memo=slow",
                  {"Waltz", "3-", "96", "1", "0", "0", "1", "0", "slow"},
                  "Waltz(3-)"},
        FieldCase{"memoOverridesTempo",
                  "Waltz parm=(3-) m96 s1 a0 d1 g0 f0 memo=try m72",
                  {"Waltz", "3-", "72", "1", "0", "0", "1", "0", "try m72"},
                  "Waltz(3-)"},
        FieldCase{"noParm", "hello", {}, "()"}, FieldCase{"onlySpaces", "   ", {}, "()"},
        FieldCase{
            "badPattern", "Bad parm=(3a) m90", {"Bad", "", "90", "", "", "", "", "", ""}, "Bad()"},
        FieldCase{"titleAndMemoTrimmed",
                  "  Seven   parm=(3 2 2) m120 s0 a1 d1 g1 f0 memo=  count it  ",
                  {"Seven", "3 2 2", "120", "0", "1", "1", "1", "0", "count it"},
                  "Seven(3 2 2)"},
        FieldCase{"titleUpToLastParm",
                  "a parm=(1) b parm=(2) m3",
                  {"a parm=(1) b", "1", "3", "", "", "", "", "", ""},
                  "a parm=(1) b(1)"},
        FieldCase{
            "emptyMemo", "T parm=(1) m60 memo=", {"T", "1", "60", "", "", "", "", "", ""}, "T(1)"},
        FieldCase{"flagOtherThanBit",
                  "T parm=(1) m60 s2 a10",
                  {"T", "1", "60", "2", "10", "", "", "", ""},
                  "T(1)"},
        FieldCase{"noTitle", "parm=(4) m100", {"", "4", "100", "", "", "", "", "", ""}, "(4)"}),
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

const QString sep = QStringLiteral("-----------------");

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
        LineKindCase{"timerBeyond16Bits", "timer=99999\r\n", {}, {100, true, 0.2f}},
        LineKindCase{"timerNegativeBeyond16Bits", "timer=-99999\r\n", {}, {5, true, 0.2f}},
        LineKindCase{"timerHalfToEven", "timer=20.5\r\n", {}, {20, true, 0.2f}},
        LineKindCase{"timerHalfUp", "timer=21.5\r\n", {}, {22, true, 0.2f}},
        LineKindCase{"timerLeadingBlank", "timer= 50\r\n", {}, {50, true, 0.2f}},
        LineKindCase{"lastSettingWins", "timer=30\r\ntimer=40\r\n", {}, {40, true, 0.2f}},
        LineKindCase{"fluct", "fluct=0.35\r\n", {}, {20, true, 0.35f}},
        LineKindCase{"fluctNotLimited", "fluct=-2.5\r\n", {}, {20, true, -2.5f}},
        LineKindCase{"saveOn", "save=on\r\n", {}, {20, false, 0.2f}},
        LineKindCase{"saveOff", "save=off\r\n", {}, {20, false, 0.2f}},
        LineKindCase{"saveOtherValueIsAnEntry", "save=yes\r\n", {"()"}, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ReadPresetFile, HugeFluctValueIsClampedToFloatRange) {
    PresetSettings settings;
    readBytes("fluct=1" + QByteArray(400, '0') + "\r\n", settings);
    EXPECT_EQ(settings.fluctDepth, std::numeric_limits<float>::max());
}

TEST(ReadPresetFile, TwoPresetsSeparatorAndPresetGiveFourEntries) {
    PresetSettings settings;
    const PresetList list =
        readBytes("A parm=(1) m60\r\nB parm=(2) m70\r\n-\r\nC parm=(3) m80\r\n", settings);
    EXPECT_TRUE(list.ok);
    EXPECT_EQ(list.listTexts, (QStringList{"A(1)", "B(2)", sep, "C(3)"}));
    ASSERT_EQ(list.presets.size(), 4u);
    EXPECT_EQ(list.presets[2].title, sep);
    EXPECT_EQ(list.presets[3].m, QStringLiteral("80"));
}

TEST(ReadPresetFile, SettingsOnlyGiveNoEntriesAndApplyTheSettings) {
    PresetSettings settings;
    const PresetList list =
        readBytes("; settings\r\ntimer=50\r\nsave=off\r\nfluct=0.1\r\n", settings);
    EXPECT_TRUE(list.ok);
    EXPECT_TRUE(list.presets.empty());
    EXPECT_TRUE(list.listTexts.empty());
    EXPECT_EQ(settings.timerInterval, 50);
    EXPECT_FALSE(settings.showSaveButtons);
    EXPECT_FLOAT_EQ(settings.fluctDepth, 0.1f);
}

TEST(ReadPresetFile, SettingsAbsentFromTheFileKeepEarlierValues) {
    PresetSettings settings{50, false, 0.5f};
    readBytes("A parm=(1) m60\r\n", settings);
    EXPECT_EQ(settings.timerInterval, 50);
    EXPECT_FALSE(settings.showSaveButtons);
    EXPECT_FLOAT_EQ(settings.fluctDepth, 0.5f);
}

TEST(ReadPresetFile, MissingFileFailsAndShowsTheSaveButtonsAgain) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    RealFileAccess fs;
    PresetSettings settings{50, false, 0.5f};
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

// ---- fixture files ----

TEST(PresetFixtures, GoodFile) {
    PresetSettings settings;
    const PresetList list = readFixture("preset_good.txt", settings);
    ASSERT_TRUE(list.ok);
    EXPECT_EQ(list.listTexts,
              (QStringList{"Four(1111)", "Waltz(3-)", sep, "Seven(3 2 2)", "Drift(1)"}));
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
    EXPECT_EQ(list.listTexts[0], QStringLiteral("()"));
    EXPECT_EQ(list.listTexts[1], QStringLiteral("Bad()"));
    EXPECT_EQ(list.presets[2].parm, QString()); // "(12 m70" is never closed
    EXPECT_EQ(list.presets[2].m, QStringLiteral("70"));
    EXPECT_EQ(list.presets[3].title, QStringLiteral("Twice parm=(1) m50"));
    EXPECT_EQ(list.presets[3].parm, QStringLiteral("1"));
    EXPECT_EQ(list.presets[3].m, QStringLiteral("60"));
    EXPECT_EQ(list.presets[5].m, QString());
    EXPECT_EQ(list.presets[6].memo, QString());
    EXPECT_EQ(list.presets[7].title, QStringLiteral("\ttab"));
    EXPECT_EQ(list.listTexts[11], sep);
    EXPECT_EQ(list.presets[13].m, QString(400, u'9'));
    EXPECT_EQ(settings.timerInterval, 5); // "timer=" reads as 0
    EXPECT_FLOAT_EQ(settings.fluctDepth, 0.0f);
}

TEST(PresetFixtures, Cp932FileWithJapaneseTitles) {
    PresetSettings settings;
    const PresetList list = readFixture("preset_cp932.txt", settings);
    ASSERT_TRUE(list.ok);
    EXPECT_EQ(list.listTexts,
              (QStringList{QStringLiteral("ワルツ(3-)"), sep, QStringLiteral("行進曲(2-)"),
                           QStringLiteral("表拍ソロ(1111)")}));
    EXPECT_EQ(list.presets[0].memo, QStringLiteral("ゆっくり"));
    EXPECT_EQ(list.presets[3].memo, QStringLiteral("表で数える"));
    EXPECT_EQ(list.presets[3].g, QStringLiteral("1"));
}

TEST(PresetFixtures, Utf8FileWithLfEndsAndNoFinalLineEnd) {
    PresetSettings settings;
    const PresetList list = readFixture("preset_utf8_lf.txt", settings);
    ASSERT_TRUE(list.ok);
    EXPECT_EQ(list.listTexts,
              (QStringList{QStringLiteral("ワルツ(3-)"), sep, QStringLiteral("行進曲(2-)")}));
    EXPECT_EQ(list.presets[2].m, QStringLiteral("120"));
    EXPECT_EQ(settings.timerInterval, 40);
}

TEST(PresetFixtures, MixedLineEnds) {
    PresetSettings settings;
    const PresetList list = readFixture("preset_mixed_ends.txt", settings);
    EXPECT_EQ(list.listTexts, (QStringList{"One(1)", "Two(2)", "Three(3)", "Four(4)"}));
    EXPECT_EQ(list.presets[1].m, QStringLiteral("62"));
    EXPECT_EQ(list.presets[3].m, QStringLiteral("64"));
}

TEST(PresetFixtures, ReadingStopsBeforeThe102ndEntry) {
    PresetSettings settings;
    const PresetList list = readFixture("preset_120_entries.txt", settings);
    ASSERT_TRUE(list.ok);
    ASSERT_EQ(list.presets.size(), 101u);
    ASSERT_EQ(list.listTexts.size(), 101);
    EXPECT_EQ(list.listTexts.front(), QStringLiteral("P000(1)"));
    EXPECT_EQ(list.listTexts.back(), QStringLiteral("P100(1)"));
    EXPECT_EQ(list.presets.back().m, QStringLiteral("160"));
    // The setting between the 101st and 102nd entry is read; the one after is not.
    EXPECT_EQ(settings.timerInterval, 30);
}

TEST(PresetFixtures, BinaryGarbageReadsWithoutCrashing) {
    PresetSettings settings;
    const PresetList list = readFixture("preset_garbage.bin", settings);
    EXPECT_TRUE(list.ok);
    EXPECT_EQ(list.presets.size(), static_cast<size_t>(list.listTexts.size()));
    EXPECT_LE(list.presets.size(), 101u);
    EXPECT_GE(settings.timerInterval, 5);
    EXPECT_LE(settings.timerInterval, 100);
}

TEST(PresetFixtures, OneMegabyteLine) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("menu.txt");
    // Many "parm=" and digits, but no 'm' with a digit: the worst case for the backtracking.
    QByteArray longLine = "Long parm=(1) s1";
    while (longLine.size() < 1024 * 1024)
        longLine += " parm=(12 x9";
    longLine += " memo=end";
    writeFile(path, "A parm=(1) m60\r\n" + longLine + "\r\n" + QByteArray(1024 * 1024, 'z') +
                        "\r\nB parm=(2) m70\r\n");

    RealFileAccess fs;
    PresetSettings settings;
    const PresetList list = readPresetFile(fs, path, settings);
    ASSERT_TRUE(list.ok);
    ASSERT_EQ(list.presets.size(), 4u);
    EXPECT_EQ(list.presets[1].m, QString());
    EXPECT_EQ(list.presets[1].s, QStringLiteral("1"));
    EXPECT_EQ(list.presets[1].memo, QStringLiteral("end"));
    EXPECT_EQ(list.listTexts[2], QStringLiteral("()"));
    EXPECT_EQ(list.listTexts[3], QStringLiteral("B(2)"));
}

// ---- composing a line ----

TEST(ComposePresetLine, WaltzExample) {
    QString tempo = QStringLiteral("96");
    EXPECT_EQ(composePresetLine("Waltz", "1 2", tempo, true, false, true, false, false, "slow"),
              QStringLiteral("Waltz parm=(1 2) m96 s1 a0 d1 g0 f0 memo=slow"));
    EXPECT_EQ(tempo, QStringLiteral("96"));
}

TEST(ComposePresetLine, FlagsInOrderSadgf) {
    QString tempo = QStringLiteral("60");
    EXPECT_EQ(composePresetLine("T", "1", tempo, false, true, false, true, true, ""),
              QStringLiteral("T parm=(1) m60 s0 a1 d0 g1 f1"));
}

TEST(ComposePresetLine, TempoReadingAsZeroBecomes80) {
    struct Case {
        QString in, out;
    };
    for (const Case &c : {Case{"", "80"}, Case{"0", "80"}, Case{"abc", "80"}, Case{" 0.0", "80"},
                          Case{"120abc", "120abc"}, Case{" 72", " 72"}, Case{"0.5", "0.5"}}) {
        QString tempo = c.in;
        const QString line =
            composePresetLine("T", "1", tempo, false, false, false, false, false, "");
        EXPECT_EQ(tempo, c.out) << c.in.toStdString();
        EXPECT_EQ(line, "T parm=(1) m" + c.out + " s0 a0 d0 g0 f0") << c.in.toStdString();
    }
}

TEST(ComposePresetLine, NothingTrimmedAndBlankMemoWritten) {
    QString tempo = QStringLiteral("80");
    EXPECT_EQ(composePresetLine("", " 3 ", tempo, false, false, false, false, false, "   "),
              QStringLiteral(" parm=( 3 ) m80 s0 a0 d0 g0 f0 memo=   "));
}

TEST(ComposePresetLine, LineBreaksBecomeSpaces) {
    QString tempo = QStringLiteral("9\n6");
    const QString title = QStringLiteral("a\r\nb\rc\nd") + QChar(0x2028) + u'e' + QChar(0x0085);
    const QString memo = QStringLiteral("x\vy\fz") + QChar(0x2029);
    EXPECT_EQ(composePresetLine(title, "1\r2", tempo, false, false, false, false, false, memo),
              QStringLiteral("a b c d e  parm=(1 2) m9 6 s0 a0 d0 g0 f0 memo=x y z "));
    EXPECT_EQ(tempo, QStringLiteral("9\n6")); // only the "80" rule touches the field
}

// ---- appending a line ----

class AppendPreset : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString menu() const { return dir.filePath("menu.txt"); }
    QTemporaryDir dir;
    RealFileAccess fs;
};

TEST_F(AppendPreset, CreatesAMissingFileAndEndsWithCrLf) {
    EXPECT_EQ(appendPresetLine(fs, menu(), "A parm=(1) m60 s0 a0 d0 g0 f0"), AppendResult::Ok);
    EXPECT_EQ(fileBytes(menu()), QByteArray("A parm=(1) m60 s0 a0 d0 g0 f0\r\n"));
    EXPECT_EQ(appendPresetLine(fs, menu(), "B"), AppendResult::Ok);
    EXPECT_EQ(fileBytes(menu()), QByteArray("A parm=(1) m60 s0 a0 d0 g0 f0\r\nB\r\n"));
}

TEST_F(AppendPreset, LastLineWithoutLineEndIsEndedFirst) {
    writeFile(menu(), "A parm=(1) m60");
    EXPECT_EQ(appendPresetLine(fs, menu(), "B parm=(2) m70"), AppendResult::Ok);
    EXPECT_EQ(fileBytes(menu()), QByteArray("A parm=(1) m60\r\nB parm=(2) m70\r\n"));

    writeFile(menu(), "A\r");
    EXPECT_EQ(appendPresetLine(fs, menu(), "B"), AppendResult::Ok);
    EXPECT_EQ(fileBytes(menu()), QByteArray("A\r\nB\r\n"));

    writeFile(menu(), "A\n");
    EXPECT_EQ(appendPresetLine(fs, menu(), "B"), AppendResult::Ok);
    EXPECT_EQ(fileBytes(menu()), QByteArray("A\nB\r\n"));
}

TEST_F(AppendPreset, Cp932RoundTripKeepsEveryByte) {
    const QByteArray original = fileBytes(dataDir + "/preset_cp932.txt");
    ASSERT_FALSE(original.isEmpty());
    writeFile(menu(), original);

    QString tempo = QStringLiteral("132");
    const QString line = composePresetLine(QStringLiteral("ソナタ表"), "3 3 2-", tempo, true, false,
                                           true, false, false, QStringLiteral("速め"));
    ASSERT_EQ(appendPresetLine(fs, menu(), line), AppendResult::Ok);

    const QByteArray after = fileBytes(menu());
    ASSERT_TRUE(after.startsWith(original));
    EXPECT_EQ(after.mid(original.size()), *encodeText(line + "\r\n", TextEncoding::Cp932));

    PresetSettings settings;
    const PresetList list = readPresetFile(fs, menu(), settings);
    ASSERT_EQ(list.presets.size(), 5u);
    EXPECT_EQ(list.listTexts.front(), QStringLiteral("ワルツ(3-)"));
    EXPECT_EQ(list.listTexts.back(), QStringLiteral("ソナタ表(3 3 2-)"));
    EXPECT_EQ(list.presets.back().memo, QStringLiteral("速め"));
    EXPECT_EQ(list.presets.back().m, QStringLiteral("132"));
}

TEST_F(AppendPreset, Utf8FileStaysUtf8AndAsciiFileTakesTheSystemEncoding) {
    const QString title = QStringLiteral("行進曲");
    writeFile(menu(), title.toUtf8() + " parm=(2) m120\n");
    ASSERT_EQ(appendPresetLine(fs, menu(), title), AppendResult::Ok);
    EXPECT_TRUE(fileBytes(menu()).endsWith("\n" + title.toUtf8() + "\r\n"));

    writeFile(menu(), "timer=20\r\n");
    ASSERT_EQ(appendPresetLine(fs, menu(), title), AppendResult::Ok);
    EXPECT_EQ(fileBytes(menu()), "timer=20\r\n" + *encodeText(title + "\r\n", systemEncoding()));
}

TEST_F(AppendPreset, CharacterMissingFromTheFilesEncodingFailsWithoutTouchingIt) {
    const QByteArray original = fileBytes(dataDir + "/preset_cp932.txt");
    writeFile(menu(), original.left(original.size() - 2)); // no final line end either
    const QByteArray before = fileBytes(menu());
    EXPECT_EQ(appendPresetLine(fs, menu(), QStringLiteral("ドラム🥁 parm=(1) m80")),
              AppendResult::Failed);
    EXPECT_EQ(fileBytes(menu()), before);
}

TEST_F(AppendPreset, FailedWriteLeavesTheFileByteIdentical) {
    writeFile(menu(), "A parm=(1) m60\r\nB");
    const QByteArray before = fileBytes(menu());
    const QString line = QStringLiteral("C parm=(3) m70 s0 a0 d0 g0 f0 memo=half");
    for (qsizetype keep : {0, 1, 3, 20}) {
        test::ShortWriteFileAccess failing(keep);
        EXPECT_EQ(appendPresetLine(failing, menu(), line), AppendResult::Failed) << keep;
        EXPECT_EQ(fileBytes(menu()), before) << keep;
    }
}

TEST_F(AppendPreset, DirectoryInPlaceOfTheFileFails) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("menu.txt"));
    EXPECT_EQ(appendPresetLine(fs, menu(), "A"), AppendResult::Failed);
    EXPECT_TRUE(QFileInfo(menu()).isDir());
}

TEST(AppendPresetInMemory, EachFailingStepLeavesTheFileAsItWas) {
    const QString path = QStringLiteral("menu.txt");
    const QByteArray before = "A parm=(1) m60\r\n";
    {
        test::MemoryFileAccess fs;
        fs.files.insert(path, before);
        fs.failEnsure = true;
        EXPECT_EQ(appendPresetLine(fs, path, "B"), AppendResult::Failed);
        EXPECT_EQ(fs.files.value(path), before);
        EXPECT_EQ(fs.appendCalls, 0);
    }
    {
        test::MemoryFileAccess fs;
        fs.files.insert(path, before);
        fs.failAppend = true;
        EXPECT_EQ(appendPresetLine(fs, path, "B"), AppendResult::Failed);
        EXPECT_EQ(fs.files.value(path), before);
    }
    {
        // The whole line, line end included, goes out in one write.
        test::MemoryFileAccess fs;
        fs.files.insert(path, "A");
        EXPECT_EQ(appendPresetLine(fs, path, "B"), AppendResult::Ok);
        EXPECT_EQ(fs.appendCalls, 1);
        EXPECT_EQ(fs.files.value(path), QByteArray("A\r\nB\r\n"));
    }
}

} // namespace
} // namespace pv2

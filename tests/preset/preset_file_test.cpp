#include "fake_file_access.h"
#include "preset/preset_file.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>
#include <tuple>

namespace pv2 {
namespace {

const QString sep = QStringLiteral("-----------------");

PresetList readBytes(const QByteArray &bytes, PresetSettings &settings) {
    test::MemoryFileAccess fs;
    fs.files.insert(QStringLiteral("menu.txt"), bytes);
    return readPresetFile(fs, QStringLiteral("menu.txt"), settings);
}

PresetList readFixture(const char *name, PresetSettings &settings) {
    RealFileAccess fs;
    return readPresetFile(fs, QStringLiteral(PV2_TEST_DATA "/") + name, settings);
}

// "title|parm|m|s|a|g|d|f|memo"
QString fields(const PresetRecord &p) {
    return QStringList{p.title, p.parm, p.m, p.s, p.a, p.g, p.d, p.f, p.memo}.join(u'|');
}

TEST(SetParm, ExtractsAllNineFields) {
    const std::pair<const char *, const char *> cases[] = {
        // line, title|parm|m|s|a|g|d|f|memo
        {"Waltz parm=(3-) m96 s1 a0 d1 g0 f0 memo=slow", "Waltz|3-|96|1|0|0|1|0|slow"},
        {"T parm=(1) m60 s2 a10 d3 g4 f5", "T|1|60|2|10|4|3|5|"},
        {"Waltz parm=(3-) m96 s1 memo=try m72", "Waltz|3-|72|1|||||try m72"},
        {"hello", "||||||||"},
        {"Bad parm=(3a) m90", "Bad||90||||||"},
        {"  Seven   parm=(3 2 2) m120 s0 a1 d1 g1 f0 memo=  count it  ",
         "Seven|3 2 2|120|0|1|1|1|0|count it"},
        {"a parm=(1) b parm=(2) m3", "a parm=(1) b|1|3||||||"},
        {"T parm=(1) m60 memo=", "T|1|60||||||"},
        {"parm=(4) m100", "|4|100||||||"},
    };
    for (const auto &[line, expected] : cases)
        EXPECT_EQ(fields(setParm(QString::fromUtf8(line))), QString::fromUtf8(expected)) << line;
}

// Settings lines change only their own setting; other lines give entries, except comments.
TEST(ReadPresetFile, ClassifiesLinesByTheirFirstCharacters) {
    constexpr float maxFloat = std::numeric_limits<float>::max();
    const struct {
        QByteArray file;
        QStringList listTexts;
        PresetSettings expected;
    } cases[] = {
        {";Waltz parm=(3) m96\r\n", {}, {}},
        {"-x\r\n", {sep}, {}},
        {"hello\r\n", {"()"}, {}},
        {"\r\n\r\n", {}, {}},
        {"   \r\n ;x\r\n timer=50\r\nTimer=50\r\n", {"()", "()", "()", "()"}, {}},
        {"timer=3\r\n", {}, {5, true, 0.2f}},
        {"timer=500\r\n", {}, {100, true, 0.2f}},
        {"timer=65556\r\n", {}, {100, true, 0.2f}}, // saturates at 16 bits
        {"timer=20.5\r\n", {}, {20, true, 0.2f}},
        {"timer= 30\r\ntimer=40\r\n", {}, {40, true, 0.2f}},
        {"fluct=0.35\r\n", {}, {20, true, 0.35f}},
        {"fluct=-2.5\r\n", {}, {20, true, -2.5f}},
        {"fluct=1" + QByteArray(400, '0'), {}, {20, true, maxFloat}},
        {"save=on\r\n", {}, {20, false, 0.2f}},
        {"save=yes\r\n", {"()"}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file.left(20).toStdString());
        PresetSettings settings; // defaults: 20, shown, 0.2
        const PresetList list = readBytes(c.file, settings);
        EXPECT_TRUE(list.ok && list.presets.size() == size_t(list.listTexts.size()));
        EXPECT_EQ(list.listTexts, c.listTexts);
        // 1e400 is not infinity
        EXPECT_EQ(std::tuple(settings.timerInterval, settings.showSaveButtons, settings.fluctDepth),
                  std::tuple(c.expected.timerInterval, c.expected.showSaveButtons,
                             c.expected.fluctDepth));
    }
}

TEST(ReadPresetFile, AMissingFileOrADirectoryShowsTheSaveButtons) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    RealFileAccess fs;
    for (const bool asDirectory : {false, true}) {
        if (asDirectory) {
            ASSERT_TRUE(QDir(dir.path()).mkdir("menu.txt"));
        }
        PresetSettings settings{50, false, 0.5f};
        const PresetList list = readPresetFile(fs, dir.filePath("menu.txt"), settings);
        EXPECT_TRUE(!list.ok && list.presets.empty() && list.listTexts.empty());
        EXPECT_TRUE(settings.showSaveButtons && settings.timerInterval == 50);
    }
}

TEST(ReadPresetFile, Fixtures) {
    PresetSettings settings;
    PresetList list = readFixture("preset_good.txt", settings);
    ASSERT_TRUE(list.ok);
    EXPECT_EQ(list.listTexts,
              (QStringList{"Four(1111)", "Waltz(3-)", sep, "Seven(3 2 2)", "Drift(1)"}));
    EXPECT_EQ(fields(list.presets[2]), sep + "||||||||");
    EXPECT_EQ(fields(list.presets[3]), "Seven|3 2 2|120|0|1|1|1|0|count it");
    EXPECT_EQ(fields(list.presets[4]), "Drift|1|60|1|0|0|0|1|");
    EXPECT_TRUE(settings.timerInterval == 10 && settings.fluctDepth == 0.3f);

    // One entry per line that is not a setting.
    list = readFixture("preset_malformed.txt", settings);
    ASSERT_TRUE(list.ok);
    ASSERT_EQ(list.presets.size(), 14u);
    EXPECT_EQ(list.presets[2].parm + list.presets[2].m, "70"); // "(12 m70" is never closed
    EXPECT_EQ(list.presets[3].title + list.presets[3].m, "Twice parm=(1) m5060");
    EXPECT_EQ(list.presets[5].m + list.presets[7].title, "\ttab");
    EXPECT_EQ(list.presets[13].m, QString(400, u'9'));
    // "timer=" reads as 0
    EXPECT_TRUE(settings.timerInterval == 5 && settings.fluctDepth == 0.0f);

    // Reading stops before the 102nd entry; the setting just before it is read, the one after not.
    list = readFixture("preset_120_entries.txt", settings);
    ASSERT_TRUE(list.presets.size() == 101u && list.listTexts.size() == 101);
    EXPECT_EQ(list.listTexts.back() + list.presets.back().m, "P100(1)160");
    EXPECT_EQ(settings.timerInterval, 30);
}

TEST(ReadPresetFile, OneMegabyteLines) {
    // Many "parm=" and digits, but no 'm' with a digit: the worst case for the backtracking.
    QByteArray longLine = "Long parm=(1) s1";
    while (longLine.size() < 1024 * 1024)
        longLine += " parm=(12 x9";
    PresetSettings settings;
    const PresetList list = readBytes("A parm=(1) m60\r\n" + longLine + " memo=end\r\n" +
                                          QByteArray(1024 * 1024, 'z') + "\r\nB parm=(2) m70\r\n",
                                      settings);
    ASSERT_EQ(list.presets.size(), 4u);
    EXPECT_EQ(list.presets[1].m + list.presets[1].s + list.presets[1].memo, "1end");
    EXPECT_EQ(list.listTexts.mid(2), (QStringList{"()", "B(2)"}));
}

// Fields as given; a tempo reading as zero becomes 80, nothing else is touched but line breaks.
TEST(ComposePresetLine, FieldsAsGivenAndATempoReadingAsZeroBecomes80) {
    const struct {
        const char *title, *beat, *tempo;
        const char *flags; // s a d g f
        const char *memo, *line, *tempoAfter;
    } cases[] = {
        {"Waltz", "1 2", "96", "10011", "slow", "Waltz parm=(1 2) m96 s1 a0 d0 g1 f1 memo=slow",
         "96"},
        {"T", "1", "60", "01010", "", "T parm=(1) m60 s0 a1 d0 g1 f0", "60"},
        {"T", "1", "60", "00101", "", "T parm=(1) m60 s0 a0 d1 g0 f1", "60"},
        {"T", "1", "", "00000", "", "T parm=(1) m80 s0 a0 d0 g0 f0", "80"},
        {"T", "1", " 0.0", "00000", "", "T parm=(1) m80 s0 a0 d0 g0 f0", "80"},
        {"T", "1", " 72", "00000", "", "T parm=(1) m 72 s0 a0 d0 g0 f0", " 72"},
        {"T", "1", "0.5", "00000", "", "T parm=(1) m0.5 s0 a0 d0 g0 f0", "0.5"},
        {"", " 3 ", "80", "00000", "   ", " parm=( 3 ) m80 s0 a0 d0 g0 f0 memo=   ", "80"},
        {"a\r\nb\rc\nd\u2028e\u0085", "1\r2", "9\n6", "00000", "x\vy\fz\u2029",
         "a b c d e  parm=(1 2) m9 6 s0 a0 d0 g0 f0 memo=x y z ", "9\n6"},
    };
    for (const auto &c : cases) {
        QString tempo = QString::fromUtf8(c.tempo);
        const auto on = [&](int i) { return c.flags[i] == '1'; };
        EXPECT_EQ(composePresetLine(QString::fromUtf8(c.title), QString::fromUtf8(c.beat), tempo,
                                    on(0), on(1), on(2), on(3), on(4), QString::fromUtf8(c.memo)),
                  QString::fromUtf8(c.line));
        EXPECT_EQ(tempo, QString::fromUtf8(c.tempoAfter)) << c.tempo;
    }
}

TEST(DecodeText, SplitsAtCrLfAndLf) {
    const std::pair<QByteArray, QStringList> cases[] = {
        {"", {}},
        {"a\r\nb\nc", {"a", "b", "c"}},
        {"a\r\n\r\n\nb\n", {"a", "", "", "b"}},
        {"a\rb\r\n", {"a\rb"}},
        {"a\r\r\n", {"a\r"}},
        {"a\r", {"a\r"}},
        {"\xEF\xBB\xBFtimer=5\r\n", {"timer=5"}}, // the byte order mark is dropped
    };
    for (const auto &[bytes, lines] : cases)
        EXPECT_EQ(decodeText(bytes).lines, lines) << bytes.toPercentEncoding().toStdString();
}

TEST(DecodeText, ChoosesUtf8OnlyWhenTheBytesAreValidUtf8) {
    const QString title = QStringLiteral("表拍ソロ");
    for (const TextEncoding enc : {TextEncoding::Utf8, TextEncoding::Cp932}) {
        const DecodedText d = decodeText(*encodeText(title + "\r\n", enc));
        EXPECT_TRUE(d.encoding == enc && !d.pureAscii && d.lines == QStringList{title});
    }
    // A UTF-8 sequence cut off at the end of the file is not UTF-8.
    EXPECT_EQ(decodeText("ab\xE3\x81").encoding, TextEncoding::Cp932);
    EXPECT_TRUE(decodeText("timer=5\x7F\r\n").pureAscii);
    EXPECT_FALSE(decodeText("timer=5\x80").pureAscii);
    // An invalid lead byte does not swallow the line end after it.
    EXPECT_EQ(decodeText("a\x81\nb\r\n").lines.value(1), QStringLiteral("b"));
}

TEST(EncodeText, RefusesCharactersTheEncodingLacks) {
    EXPECT_EQ(encodeText(QStringLiteral("ワルツ"), TextEncoding::Cp932),
              QByteArray("\x83\x8F\x83\x8B\x83\x63"));
    EXPECT_EQ(encodeText(QStringLiteral("ソ"), TextEncoding::Cp932), QByteArray("\x83\x5C"));
    EXPECT_FALSE(encodeText(QStringLiteral("drum 🥁"), TextEncoding::Cp932));
    // Encoded without complaint, but read back as "№": as good as lost.
    EXPECT_FALSE(encodeText(QString(QChar(0xF86F)), TextEncoding::Cp932));
    EXPECT_TRUE(encodeText(QStringLiteral("drum 🥁"), TextEncoding::Utf8));
    EXPECT_FALSE(encodeText(QStringLiteral("a") + QChar(0xD800), TextEncoding::Utf8));
}

} // namespace
} // namespace pv2

#include "beat/practice.h"
#include "fake_file_access.h"
#include "preset/preset_file.h"

#include <QFile>
#include <gtest/gtest.h>
#include <limits>
#include <tuple>

namespace pv2 {
namespace {

using namespace test;
const QString sep = QStringLiteral("-----------------");
const QString kPath = QStringLiteral("menu.txt");
const QString kLine = QStringLiteral("ソナタ parm=(3 3 2-) m132 s1 a0 d1 g0 f0 memo=速め");

QByteArray fixture(const QString &name) {
    QFile f(QStringLiteral(PV2_TEST_DATA "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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

TEST(ReadPresetFile, FixturesAndAMissingFile) {
    PresetSettings settings;
    PresetList list = readBytes(fixture("preset_good.txt"), settings);
    ASSERT_TRUE(list.ok);
    EXPECT_EQ(list.listTexts,
              (QStringList{"Four(1111)", "Waltz(3-)", sep, "Seven(3 2 2)", "Drift(1)"}));
    EXPECT_EQ(fields(list.presets[2]), sep + "||||||||");
    EXPECT_EQ(fields(list.presets[4]), "Drift|1|60|1|0|0|0|1|");
    EXPECT_TRUE(settings.timerInterval == 10 && settings.fluctDepth == 0.3f);

    // One entry per line that is not a setting.
    list = readBytes(fixture("preset_malformed.txt"), settings);
    ASSERT_TRUE(list.ok);
    ASSERT_EQ(list.presets.size(), 14u);
    EXPECT_EQ(list.presets[2].parm + list.presets[2].m, "70"); // "(12 m70" is never closed
    EXPECT_EQ(list.presets[3].title + list.presets[3].m, "Twice parm=(1) m5060");
    EXPECT_EQ(list.presets[5].m + list.presets[7].title, "\ttab");
    EXPECT_EQ(list.presets[13].m, QString(400, u'9'));
    // "timer=" reads as 0
    EXPECT_TRUE(settings.timerInterval == 5 && settings.fluctDepth == 0.0f);

    // Reading stops before the 102nd entry; the setting just before it is read, the one after not.
    list = readBytes(fixture("preset_120_entries.txt"), settings);
    ASSERT_TRUE(list.presets.size() == 101u && list.listTexts.size() == 101);
    EXPECT_EQ(list.listTexts.back() + list.presets.back().m, "P100(1)160");
    EXPECT_EQ(settings.timerInterval, 30);

    // A missing file changes no setting but shows the save buttons.
    MemoryFileAccess none;
    settings = {50, false, 0.5f};
    list = readPresetFile(none, kPath, settings);
    EXPECT_TRUE(!list.ok && list.presets.empty() && list.listTexts.empty());
    EXPECT_TRUE(settings.showSaveButtons && settings.timerInterval == 50);
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

TEST(DecodeText, SplitsAtCrLfAndLfAndChoosesUtf8OnlyWhenValid) {
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
    // UTF-8 only when the bytes are valid UTF-8.
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

TEST(EncodeText, RefusesCharactersTheEncodingLacksAndASaveOfOneFails) {
    EXPECT_EQ(encodeText(QStringLiteral("ワルツ"), TextEncoding::Cp932),
              QByteArray("\x83\x8F\x83\x8B\x83\x63"));
    EXPECT_FALSE(encodeText(QStringLiteral("drum 🥁"), TextEncoding::Cp932));
    // Encoded without complaint, but read back as "№": as good as lost.
    EXPECT_FALSE(encodeText(QString(QChar(0xF86F)), TextEncoding::Cp932));
    EXPECT_TRUE(encodeText(QStringLiteral("drum 🥁"), TextEncoding::Utf8));
    EXPECT_FALSE(encodeText(QStringLiteral("a") + QChar(0xD800), TextEncoding::Utf8));
    // Such a character fails a save into the file without touching it.
    const QByteArray before = fixture("preset_cp932.txt").chopped(2); // no final line end either
    MemoryFileAccess fs;
    fs.files.insert(kPath, before);
    EXPECT_EQ(appendPresetLine(fs, kPath, QStringLiteral("ドラム🥁 parm=(1) m80")),
              AppendResult::Failed);
    EXPECT_EQ(fs.files.value(kPath), before);
}

// The line follows the old last line, completed if needed, in the encoding the file shows and
// in one write. After a failure at any step the file is as it was (a missing file may have been
// created empty); when the save still succeeds, the line is there once.
TEST(AppendPresetLine, AppendsTheLineOnceOrNotAtAll) {
    const struct {
        const char *name;
        std::optional<QByteArray> bytes; // nullopt: no file
        const char *ending;              // what completes the old last line
        std::optional<TextEncoding> enc; // nullopt: nothing to tell, the system's
    } cases[] = {
        {"Missing", std::nullopt, "", std::nullopt},
        {"Empty", QByteArray(), "", std::nullopt},
        {"AsciiEnded", QByteArray("A parm=(1) m60 s1\r\n"), "", std::nullopt},
        {"NoLineEnd", QByteArray("A parm=(1) m60 s1"), "\r\n", std::nullopt},
        {"EndsWithCr", QByteArray("A parm=(1) m60 s1\r"), "\n", std::nullopt},
        {"Utf8", QStringLiteral("行進曲 parm=(2) m120\n").toUtf8(), "", TextEncoding::Utf8},
        {"Cp932", fixture("preset_cp932.txt"), "", TextEncoding::Cp932},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto files = [&](int failAt = -1, qsizetype keep = 0) {
            MemoryFileAccess fs(failAt, keep);
            if (c.bytes)
                fs.files.insert(kPath, *c.bytes);
            return fs;
        };
        const QByteArray old = c.bytes.value_or(QByteArray());
        MemoryFileAccess clean = files();
        ASSERT_EQ(appendPresetLine(clean, kPath, kLine), AppendResult::Ok);
        const QByteArray saved = clean.files.value(kPath);
        EXPECT_EQ(saved,
                  old + c.ending + *encodeText(kLine + "\r\n", c.enc.value_or(systemEncoding())));
        EXPECT_EQ(clean.appendCalls, 1);

        const qsizetype added = saved.size() - old.size();
        for (int failAt = 0; failAt < clean.calls; ++failAt) {
            for (qsizetype keep : {qsizetype(0), qsizetype(1), added / 2, added - 1, added}) {
                MemoryFileAccess fs = files(failAt, keep);
                const AppendResult r = appendPresetLine(fs, kPath, kLine);
                ASSERT_TRUE(fs.failed());
                const std::optional<QByteArray> after =
                    fs.files.contains(kPath) ? std::optional(fs.files.value(kPath)) : std::nullopt;
                if (r == AppendResult::Ok)
                    EXPECT_EQ(after, saved) << "step " << failAt;
                else if (c.bytes)
                    EXPECT_EQ(after, c.bytes) << "step " << failAt << " keep " << keep;
                else
                    EXPECT_TRUE(!after || after->isEmpty())
                        << "step " << failAt << " keep " << keep;
            }
        }
    }
}

// Another program rewrites the file between our read and our write.
TEST(AppendPresetLine, AFailedWriteRestoresWhatTheFileHeldJustBefore) {
    const QByteArray replacement = "X parm=(4-) m90\r\nY parm=(2) m70\r\nZ parm=(1) m50\r\n";
    for (const bool writeFails : {false, true}) {
        MemoryFileAccess fs(writeFails ? 3 : -1, 5); // read, create, size, then the write
        fs.files.insert(kPath, "A parm=(1) m60\r\n");
        fs.afterRead = [&] { fs.files[kPath] = replacement; };
        const AppendResult r = appendPresetLine(fs, kPath, QStringLiteral("B parm=(3) m80"));
        EXPECT_EQ(r, writeFails ? AppendResult::Failed : AppendResult::Ok);
        EXPECT_EQ(fs.files.value(kPath),
                  writeFails ? replacement : replacement + "B parm=(3) m80\r\n");
    }
}

using Mute = PracticeSettings::Mute;

// Settings below: on, count-in, mute, play, mute bars, mute %, hide, ladder step, every, target,
// timer minutes.
TEST(PracticeToken, WritesWhatIsInUseAndReadsItBack) {
    const std::pair<PracticeSettings, const char *> cases[] = {
        {{true, 1, Mute::Bars, 4, 4, 30, false, 5, 8, 140, 20},
         "practice=(count=1 play=4 mute=4 ladder=+5/8..140 timer=20)"},
        {{true, 1, Mute::Chance, 4, 4, 30, true, -3, 8, 60, 20},
         "practice=(count=1 mute=30% hide=1 ladder=-3/8..60 timer=20)"},
        {{.on = true}, "practice=()"},
    };
    EXPECT_EQ(practiceToken({true, 0, Mute::Off, 4, 4, 30, true}), "practice=()")
        << "the ball hides only in muted bars";
    for (const auto &[p, token] : cases) {
        EXPECT_EQ(practiceToken(p), QString::fromLatin1(token));
        EXPECT_EQ(parsePracticeToken(QStringLiteral("x parm=(1) m80 ") + token), p) << token;
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
    const PracticeSettings p{true, 2, Mute::Chance, 4, 4, 90, true, -20, 64, 800, 120};
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
} // namespace pv2

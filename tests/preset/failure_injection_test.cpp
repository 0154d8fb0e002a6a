// Appending a preset: the bytes it adds, and the file left as it was when any step fails.
#include "fake_file_access.h"
#include "preset/preset_file.h"

#include <QFile>
#include <gtest/gtest.h>

namespace pv2 {
namespace {

const QString kPath = QStringLiteral("menu.txt");
const QString kLine = QStringLiteral("ソナタ parm=(3 3 2-) m132 s1 a0 d1 g0 f0 memo=速め");

QByteArray fixture(const QString &name) {
    QFile f(QStringLiteral(PV2_TEST_DATA "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct StartingFile {
    const char *name;
    std::optional<QByteArray> bytes; // nullopt: no file
    const char *ending;              // what completes the old last line
    std::optional<TextEncoding> enc; // nullopt: nothing to tell, the system's
};

class AppendPreset : public ::testing::TestWithParam<StartingFile> {
protected:
    test::MemoryFileAccess files(int failAt = -1, qsizetype keep = 0) const {
        test::MemoryFileAccess fs(failAt, keep);
        if (GetParam().bytes)
            fs.files.insert(kPath, *GetParam().bytes);
        return fs;
    }
};

// The line follows the old last line, completed if needed, in the encoding the file shows and
// in one write. After a failure at any step the file is as it was (a missing file may have been
// created empty); when the save still succeeds, the line is there once.
TEST_P(AppendPreset, AppendsTheLineOnceOrNotAtAll) {
    const std::optional<QByteArray> &before = GetParam().bytes;
    const QByteArray old = before.value_or(QByteArray());
    test::MemoryFileAccess clean = files();
    ASSERT_EQ(appendPresetLine(clean, kPath, kLine), AppendResult::Ok);
    const QByteArray saved = clean.files.value(kPath);
    EXPECT_EQ(saved, old + GetParam().ending +
                         *encodeText(kLine + "\r\n", GetParam().enc.value_or(systemEncoding())));
    EXPECT_EQ(clean.appendCalls, 1);

    const qsizetype added = saved.size() - old.size();
    for (int failAt = 0; failAt < clean.calls; ++failAt) {
        for (qsizetype keep : {qsizetype(0), qsizetype(1), added / 2, added - 1, added}) {
            test::MemoryFileAccess fs = files(failAt, keep);
            const AppendResult r = appendPresetLine(fs, kPath, kLine);
            ASSERT_TRUE(fs.failed());
            const std::optional<QByteArray> after =
                fs.files.contains(kPath) ? std::optional(fs.files.value(kPath)) : std::nullopt;
            if (r == AppendResult::Ok)
                EXPECT_EQ(after, saved) << "step " << failAt;
            else if (before)
                EXPECT_EQ(after, before) << "step " << failAt << " keep " << keep;
            else
                EXPECT_TRUE(!after || after->isEmpty()) << "step " << failAt << " keep " << keep;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    PresetFiles, AppendPreset,
    ::testing::Values(
        StartingFile{"Missing", std::nullopt, "", std::nullopt},
        StartingFile{"Empty", QByteArray(), "", std::nullopt},
        StartingFile{"AsciiEnded", QByteArray("A parm=(1) m60 s1\r\n"), "", std::nullopt},
        StartingFile{"NoLineEnd", QByteArray("A parm=(1) m60 s1"), "\r\n", std::nullopt},
        StartingFile{"EndsWithCr", QByteArray("A parm=(1) m60 s1\r"), "\n", std::nullopt},
        StartingFile{"Utf8", QStringLiteral("行進曲 parm=(2) m120\n").toUtf8(), "",
                     TextEncoding::Utf8},
        StartingFile{"Cp932", fixture("preset_cp932.txt"), "", TextEncoding::Cp932}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(AppendPresetLine, CharacterMissingFromTheFilesEncodingFailsWithoutTouchingIt) {
    const QByteArray before = fixture("preset_cp932.txt").chopped(2); // no final line end either
    test::MemoryFileAccess fs;
    fs.files.insert(kPath, before);
    EXPECT_EQ(appendPresetLine(fs, kPath, QStringLiteral("ドラム🥁 parm=(1) m80")),
              AppendResult::Failed);
    EXPECT_EQ(fs.files.value(kPath), before);
}

// Another program rewrites the file between our read and our write.
TEST(AppendPresetLine, AFailedWriteRestoresWhatTheFileHeldJustBefore) {
    const QByteArray replacement = "X parm=(4-) m90\r\nY parm=(2) m70\r\nZ parm=(1) m50\r\n";
    for (const bool writeFails : {false, true}) {
        test::MemoryFileAccess fs(writeFails ? 3 : -1, 5); // read, create, size, then the write
        fs.files.insert(kPath, "A parm=(1) m60\r\n");
        fs.afterRead = [&] { fs.files[kPath] = replacement; };
        const AppendResult r = appendPresetLine(fs, kPath, QStringLiteral("B parm=(3) m80"));
        EXPECT_EQ(r, writeFails ? AppendResult::Failed : AppendResult::Ok);
        EXPECT_EQ(fs.files.value(kPath),
                  writeFails ? replacement : replacement + "B parm=(3) m80\r\n");
    }
}

} // namespace
} // namespace pv2

// The preset file when the file system misbehaves: every step of a save failing in turn, a full
// disk, the file swapped under an open save dialog, and a file that cannot be read.
#include "fake_file_access.h"
#include "platform/help_viewer.h"
#include "platform/message_boxes.h"
#include "platform/midi_out.h"
#include "platform/tick_counter.h"
#include "preset/preset_file.h"
#include "shell/frm_main.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

namespace pv2 {
namespace {

const QString kPath = QStringLiteral("menu.txt");
const QString kLine = QStringLiteral("ソナタ parm=(3 3 2-) m132 s1 a0 d1 g0 f0 memo=速め");
const QString kWriteFailed =
    QStringLiteral("ファイルへの書き込みができませんでした。キャンセルしてください");

std::optional<QByteArray> contents(const test::MemoryFileAccess &fs) {
    if (!fs.files.contains(kPath))
        return std::nullopt;
    return fs.files.value(kPath);
}

QByteArray fixture(const QString &name) {
    QFile f(QStringLiteral(PV2_TEST_DATA) + u'/' + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Files in memory where exactly one call, the `failAt`-th, fails. A failing append still
// writes its first `keep` bytes, as a full disk does.
class FailOnce : public test::MemoryFileAccess {
public:
    int failAt = -1;
    qsizetype keep = 0;
    int calls = 0;
    bool failed = false;
    std::function<void()> afterRead; // runs after a read: the file can be swapped meanwhile

    std::optional<QByteArray> readAll(const QString &path) override {
        if (fails())
            return std::nullopt;
        auto bytes = MemoryFileAccess::readAll(path);
        if (afterRead)
            afterRead();
        return bytes;
    }
    bool ensureExists(const QString &path) override {
        return !fails() && MemoryFileAccess::ensureExists(path);
    }
    std::optional<qint64> size(const QString &path) override {
        if (fails())
            return std::nullopt;
        return MemoryFileAccess::size(path);
    }
    bool append(const QString &path, const QByteArray &bytes) override {
        if (!fails())
            return MemoryFileAccess::append(path, bytes);
        if (files.contains(path))
            files[path] += bytes.left(keep);
        return false;
    }
    bool truncate(const QString &path, qint64 size) override {
        return !fails() && MemoryFileAccess::truncate(path, size);
    }

private:
    bool fails() {
        if (calls++ != failAt)
            return false;
        failed = true;
        return true;
    }
};

struct StartingFile {
    const char *name;
    std::optional<QByteArray> bytes; // nullopt: no file
};

void PrintTo(const StartingFile &s, std::ostream *os) {
    *os << s.name;
}

class EveryStepFailing : public ::testing::TestWithParam<StartingFile> {};

// All or nothing: after a failure somewhere in a save the file is as it was (a missing file
// may have been created empty); when the save still succeeds, the line is there once.
TEST_P(EveryStepFailing, LeavesTheFileAsItWasOrSaved) {
    const StartingFile &start = GetParam();

    FailOnce clean;
    if (start.bytes)
        clean.files.insert(kPath, *start.bytes);
    ASSERT_EQ(appendPresetLine(clean, kPath, kLine), AppendResult::Ok);
    const QByteArray saved = clean.files.value(kPath);
    const int steps = clean.calls;
    ASSERT_GE(steps, 4);

    const qsizetype added = saved.size() - start.bytes.value_or(QByteArray()).size();
    for (int failAt = 0; failAt < steps; ++failAt) {
        for (qsizetype keep : {qsizetype(0), qsizetype(1), added / 2, added - 1, added}) {
            FailOnce fs;
            if (start.bytes)
                fs.files.insert(kPath, *start.bytes);
            fs.failAt = failAt;
            fs.keep = keep;
            const AppendResult r = appendPresetLine(fs, kPath, kLine);
            ASSERT_TRUE(fs.failed);
            const std::optional<QByteArray> after = contents(fs);
            if (r == AppendResult::Ok) {
                EXPECT_EQ(after, saved) << "step " << failAt;
            } else if (start.bytes) {
                EXPECT_EQ(after, start.bytes) << "step " << failAt << " keep " << keep;
            } else {
                EXPECT_TRUE(!after || after->isEmpty()) << "step " << failAt << " keep " << keep;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    PresetFiles, EveryStepFailing,
    ::testing::Values(StartingFile{"Missing", std::nullopt}, StartingFile{"Empty", QByteArray()},
                      StartingFile{"AsciiEnded", QByteArray("A parm=(1) m60 s1\r\n")},
                      StartingFile{"NoLineEnd", QByteArray("A parm=(1) m60 s1")},
                      StartingFile{"EndsWithCr", QByteArray("A parm=(1) m60 s1\r")},
                      StartingFile{"Utf8", QStringLiteral("行進曲 parm=(2) m120\n").toUtf8()},
                      StartingFile{"Cp932", fixture("preset_cp932.txt")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DiskFull, EveryShortWriteIsTakenBack) {
    const QByteArray before = fixture("preset_cp932.txt");
    ASSERT_FALSE(before.isEmpty());
    qsizetype lineBytes = 0;
    {
        test::MemoryFileAccess fs;
        fs.files.insert(kPath, before);
        ASSERT_EQ(appendPresetLine(fs, kPath, kLine), AppendResult::Ok);
        lineBytes = fs.files.value(kPath).size() - before.size();
    }
    for (qsizetype keep = 0; keep <= lineBytes; ++keep) {
        FailOnce fs;
        fs.files.insert(kPath, before);
        fs.keep = keep;
        fs.failAt = 3; // read, create, size, then the write
        EXPECT_EQ(appendPresetLine(fs, kPath, kLine), AppendResult::Failed) << keep;
        EXPECT_EQ(fs.files.value(kPath), before) << keep;
    }
}

// Another program rewrites the file between our read and our write.
TEST(SwappedDuringSave, AFailedWriteRestoresTheNewContent) {
    const QByteArray replacement = "X parm=(4-) m90\r\nY parm=(2) m70\r\nZ parm=(1) m50\r\n";
    for (const bool writeFails : {false, true}) {
        FailOnce fs;
        fs.files.insert(kPath, "A parm=(1) m60\r\n");
        fs.afterRead = [&] { fs.files[kPath] = replacement; };
        fs.failAt = writeFails ? 3 : -1;
        fs.keep = 5;
        const AppendResult r = appendPresetLine(fs, kPath, QStringLiteral("B parm=(3) m80"));
        if (writeFails) {
            EXPECT_EQ(r, AppendResult::Failed);
            EXPECT_EQ(fs.files.value(kPath), replacement);
        } else {
            EXPECT_EQ(r, AppendResult::Ok);
            EXPECT_EQ(fs.files.value(kPath), replacement + "B parm=(3) m80\r\n");
        }
    }
}

// ---- through the windows ----

// Reads fail while `unreadable` is set, whatever is on disk.
class SwitchableFiles : public RealFileAccess {
public:
    bool unreadable = false;
    std::optional<QByteArray> readAll(const QString &path) override {
        if (unreadable)
            return std::nullopt;
        return RealFileAccess::readAll(path);
    }
};

class PresetFileUnderTheWindow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString menu() const { return dir.filePath(kPath); }
    void writeMenu(const QByteArray &bytes) {
        QFile f(menu());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    QByteArray readMenu() const {
        QFile f(menu());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void create() {
        Services s{counter, midi, boxes, help, files, random, dir.path(), [] {}};
        w = std::make_unique<frm_main>(s);
    }
    // Opens the save dialog and gives it a title.
    frm_save *openSave(const QString &title) {
        w->btn_save_Click();
        frm_save *d = w->saveDialog();
        if (d)
            d->title->setText(title);
        return d;
    }
    void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    QTemporaryDir dir;
    FakeTickCounter counter{5000};
    RecordingMidiOut midi{&counter};
    RecordingMessageBoxes boxes;
    RecordingHelpViewer help;
    SwitchableFiles files;
    ClockRandom random;
    std::unique_ptr<frm_main> w;
};

TEST_F(PresetFileUnderTheWindow, AFileThatCannotBeReadShowsTheFailureText) {
    writeMenu("save=off\r\nA parm=(1) m60 s1\r\n");
    files.unreadable = true;
    create();
    EXPECT_EQ(w->menuText(), QStringLiteral("メニューファイルがありません"));
    EXPECT_EQ(w->presetCount(), 0);
    EXPECT_EQ(w->menu1->count(), 0);
    EXPECT_TRUE(w->settings().showSaveButtons);
    EXPECT_TRUE(boxes.texts.isEmpty());

    // Readable again: Reload brings the entries back; unreadable once more, they all go.
    files.unreadable = false;
    w->btn_reload_Click();
    EXPECT_EQ(w->presetCount(), 1);
    files.unreadable = true;
    w->btn_reload_Click();
    EXPECT_EQ(w->presetCount(), 0);
    EXPECT_EQ(w->menu1->count(), 0);
}

TEST_F(PresetFileUnderTheWindow, FileDeletedWhileTheDialogIsOpenIsWrittenAfresh) {
    writeMenu("A parm=(1) m60 s1 a0 d0 g0 f0\r\n");
    create();
    QPointer<frm_save> d = openSave(QStringLiteral("Fresh"));
    ASSERT_TRUE(d);
    ASSERT_TRUE(QFile::remove(menu()));

    d->btn_save_Click();
    settle();
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_TRUE(d.isNull());
    const QByteArray bytes = readMenu();
    EXPECT_TRUE(bytes.startsWith("Fresh parm=(1111) m")) << bytes.constData();
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    EXPECT_EQ(bytes.count('\n'), 1);
    ASSERT_EQ(w->presetCount(), 1);
    EXPECT_EQ(w->presetRecords()[0].title, QStringLiteral("Fresh"));
}

TEST_F(PresetFileUnderTheWindow, FileReplacedWhileTheDialogIsOpenKeepsTheNewFilesBytes) {
    writeMenu("A parm=(1) m60 s1 a0 d0 g0 f0\r\n");
    create();
    QPointer<frm_save> d = openSave(QStringLiteral("ソナタ"));
    ASSERT_TRUE(d);
    // Another editor saves a file in code page 932 with no final line end.
    QByteArray other = fixture("preset_cp932.txt");
    ASSERT_TRUE(other.endsWith("\r\n"));
    other.chop(2);
    writeMenu(other);

    d->btn_save_Click();
    settle();
    EXPECT_TRUE(boxes.texts.isEmpty());
    const QByteArray bytes = readMenu();
    ASSERT_TRUE(bytes.startsWith(other + "\r\n"));
    EXPECT_EQ(decodeText(bytes).encoding, TextEncoding::Cp932);
    ASSERT_GE(w->presetCount(), 2);
    EXPECT_EQ(w->presetRecords().back().title, QStringLiteral("ソナタ"));
}

TEST_F(PresetFileUnderTheWindow, DirectoryInPlaceOfTheFileFailsUntilTheFileIsBack) {
    writeMenu("A parm=(1) m60 s1 a0 d0 g0 f0\r\n");
    create();
    QPointer<frm_save> d = openSave(QStringLiteral("Later"));
    ASSERT_TRUE(d);
    ASSERT_TRUE(QFile::remove(menu()));
    ASSERT_TRUE(QDir(dir.path()).mkdir(kPath));

    d->btn_save_Click();
    settle();
    ASSERT_EQ(boxes.texts, QStringList{kWriteFailed});
    ASSERT_FALSE(d.isNull()); // the dialog stays open for Cancel or another try
    EXPECT_TRUE(QFileInfo(menu()).isDir());
    EXPECT_EQ(w->presetCount(), 1);

    ASSERT_TRUE(QDir(dir.path()).rmdir(kPath));
    writeMenu("A parm=(1) m60 s1 a0 d0 g0 f0\r\n");
    d->btn_save_Click();
    settle();
    EXPECT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(d.isNull());
    EXPECT_EQ(w->presetCount(), 2);
}

} // namespace
} // namespace pv2

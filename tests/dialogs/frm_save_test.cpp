#include "dialogs/frm_save.h"

#include "../preset/fake_file_access.h"
#include "platform/message_boxes.h"
#include "platform/text_file.h"
#include "widget_helpers.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace pv2 {
namespace {

using test::clickIndicator;
using test::typeInto;

const QString openFailedText =
    QStringLiteral("ファイルへの書き込みができません。キャンセルしてください");
const QString saveFailedText =
    QStringLiteral("ファイルへの書き込みができませんでした。キャンセルしてください");

// The main window as start-up leaves it.
SaveSnapshot startupSnapshot() {
    SaveSnapshot s;
    s.beat = QStringLiteral("1111");
    s.tempo = QStringLiteral("80");
    s.sound = true;
    return s;
}

QDateTime fixedNow() {
    return QDateTime(QDate(2024, 5, 1), QTime(9, 5, 30));
}

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class SaveDialog : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void TearDown() override {
        delete dlg.data();
        flushDeletes();
    }

    QString menu() const { return dir.filePath(QStringLiteral("menu.txt")); }

    QByteArray fileBytes() const {
        QFile f(menu());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

    void writeFile(const QByteArray &bytes) const {
        QFile f(menu());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    frm_save *open(const SaveSnapshot &snap, FileAccess &fa,
                   std::function<QDateTime()> now = fixedNow) {
        dlg = new frm_save(
            snap, fa, menu(), boxes,
            [this] {
                ++savedCalls;
                openWhenSaved = dlg && dlg->isVisible();
            },
            std::move(now));
        dlg->show();
        return dlg;
    }
    frm_save *open(const SaveSnapshot &snap = startupSnapshot()) { return open(snap, files); }

    void clickSave() { QTest::mouseClick(dlg->btn_save, Qt::LeftButton); }

    QTemporaryDir dir;
    RealFileAccess files;
    RecordingMessageBoxes boxes;
    QPointer<frm_save> dlg;
    int savedCalls = 0;
    bool openWhenSaved = true;
};

TEST_F(SaveDialog, WaltzTypedIntoTheFieldsIsWrittenByteForByte) {
    open();
    ASSERT_TRUE(QFile::exists(menu())) << "the opening test creates the file";
    EXPECT_EQ(fileBytes(), QByteArray());

    typeInto(dlg->title, QStringLiteral("Waltz"));
    typeInto(dlg->beat, QStringLiteral("1 2"));
    typeInto(dlg->tempo, QStringLiteral("96"));
    clickIndicator(dlg->chkD, QStyle::SE_CheckBoxIndicator);
    typeInto(dlg->memo, QStringLiteral("slow"));
    clickSave();

    EXPECT_EQ(fileBytes(), QByteArray("Waltz parm=(1 2) m96 s1 a0 d1 g0 f0 memo=slow\r\n"));
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(savedCalls, 1);
    EXPECT_FALSE(openWhenSaved) << "the dialog closes before the preset list is reloaded";
    flushDeletes();
    EXPECT_TRUE(dlg.isNull());
}

TEST_F(SaveDialog, NewPresetIsAppendedAfterTheExistingLines) {
    const QByteArray before = "timer=20\r\n;comment\r\nA parm=(1) m60 s1 a0 d0 g0 f0\r\n";
    writeFile(before);
    open();
    typeInto(dlg->title, QStringLiteral("B"));
    clickSave();
    EXPECT_EQ(fileBytes(), before + "B parm=(1111) m80 s1 a0 d0 g0 f0\r\n");
}

TEST_F(SaveDialog, Cp932FileTakesAJapaneseTitleInItsOwnEncoding) {
    const QByteArray before = "\x83\x8f\x83\x8b\x83\x63 parm=(3-) m96\r\n"; // ワルツ in CP932
    writeFile(before);
    open();
    dlg->title->setText(QStringLiteral("行進曲")); // typed through an input method
    clickSave();
    ASSERT_EQ(savedCalls, 1);
    EXPECT_EQ(fileBytes(), before + "\x8d\x73\x90\x69\x8b\xc8 parm=(1111) m80 s1 a0 d0 g0 f0\r\n");
}

struct SnapshotCase {
    const char *name;
    SaveSnapshot snap;
    bool s, a, d, g, f;
    const char *line;
};

SaveSnapshot withFlags(bool sound, bool upbeat, bool beatNumbers, bool guideLine, bool fluct) {
    SaveSnapshot s;
    s.beat = QStringLiteral("3 3 2-");
    s.tempo = QStringLiteral("132");
    s.sound = sound;
    s.upbeat = upbeat;
    s.beatNumbers = beatNumbers;
    s.guideLine = guideLine;
    s.fluct = fluct;
    return s;
}

class SaveDialogSnapshot : public SaveDialog, public ::testing::WithParamInterface<SnapshotCase> {};

// One flag at a time, so that any two crossed check boxes show.
TEST_P(SaveDialogSnapshot, FillsTheFieldsAndWritesThemUnchanged) {
    const SnapshotCase &c = GetParam();
    open(c.snap);
    EXPECT_EQ(dlg->beat->text(), c.snap.beat);
    EXPECT_EQ(dlg->tempo->text(), c.snap.tempo);
    EXPECT_EQ(dlg->chkS->isChecked(), c.s);
    EXPECT_EQ(dlg->chkA->isChecked(), c.a);
    EXPECT_EQ(dlg->chkD->isChecked(), c.d);
    EXPECT_EQ(dlg->chkG->isChecked(), c.g);
    EXPECT_EQ(dlg->chkF->isChecked(), c.f);
    EXPECT_TRUE(dlg->memo->text().isEmpty());

    typeInto(dlg->title, QStringLiteral("T"));
    clickSave();
    EXPECT_EQ(fileBytes(), QByteArray(c.line));
}

INSTANTIATE_TEST_SUITE_P(
    EachFlag, SaveDialogSnapshot,
    ::testing::Values(SnapshotCase{"none", withFlags(false, false, false, false, false), 0, 0, 0, 0,
                                   0, "T parm=(3 3 2-) m132 s0 a0 d0 g0 f0\r\n"},
                      SnapshotCase{"sound", withFlags(true, false, false, false, false), 1, 0, 0, 0,
                                   0, "T parm=(3 3 2-) m132 s1 a0 d0 g0 f0\r\n"},
                      SnapshotCase{"upbeat", withFlags(false, true, false, false, false), 0, 1, 0,
                                   0, 0, "T parm=(3 3 2-) m132 s0 a1 d0 g0 f0\r\n"},
                      SnapshotCase{"beatNumbers", withFlags(false, false, true, false, false), 0, 0,
                                   1, 0, 0, "T parm=(3 3 2-) m132 s0 a0 d1 g0 f0\r\n"},
                      SnapshotCase{"guideLine", withFlags(false, false, false, true, false), 0, 0,
                                   0, 1, 0, "T parm=(3 3 2-) m132 s0 a0 d0 g1 f0\r\n"},
                      SnapshotCase{"fluct", withFlags(false, false, false, false, true), 0, 0, 0, 0,
                                   1, "T parm=(3 3 2-) m132 s0 a0 d0 g0 f1\r\n"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SaveDialog, TitleIsTheInjectedDateAndTime) {
    const QLocale loc = QLocale::system();
    const QString date = loc.toString(QDate(2024, 5, 1), QLocale::ShortFormat);

    open(startupSnapshot(), files, fixedNow);
    const QString withTime = dlg->title->text();
    EXPECT_TRUE(withTime.startsWith(date + QLatin1Char(' '))) << withTime.toStdString();
    EXPECT_TRUE(withTime.endsWith(QStringLiteral("05:30"))) << withTime.toStdString();
    delete dlg.data();

    // The clock's milliseconds are below what the title shows: 00:00:00.400 is still midnight.
    for (const QTime t : {QTime(0, 0), QTime(0, 0, 0, 400)}) {
        open(startupSnapshot(), files, [t] { return QDateTime(QDate(2024, 5, 1), t); });
        EXPECT_EQ(dlg->title->text(), date) << t.toString("HH:mm:ss.zzz").toStdString();
        delete dlg.data();
    }

    open(startupSnapshot(), files, [] { return QDateTime(QDate(2024, 5, 1), QTime(0, 0, 1)); });
    EXPECT_TRUE(dlg->title->text().endsWith(QStringLiteral("00:01")))
        << dlg->title->text().toStdString();
}

struct FieldCase {
    const char *name;
    const char *title;
    const char *beat;
    const char *tempo;
    const char *memo;
    const char *line;
    const char *tempoAfter;
};

class SaveDialogFields : public SaveDialog, public ::testing::WithParamInterface<FieldCase> {};

// Fields go to the file as typed; only a tempo reading as 0 is replaced, in the field as well.
TEST_P(SaveDialogFields, AreWrittenAsTyped) {
    const FieldCase &c = GetParam();
    SaveSnapshot snap = startupSnapshot();
    snap.sound = false;
    open(snap);
    typeInto(dlg->title, QString::fromUtf8(c.title));
    typeInto(dlg->beat, QString::fromUtf8(c.beat));
    typeInto(dlg->tempo, QString::fromUtf8(c.tempo));
    typeInto(dlg->memo, QString::fromUtf8(c.memo));
    clickSave();
    EXPECT_EQ(fileBytes(), QByteArray(c.line));
    EXPECT_EQ(dlg->tempo->text(), QString::fromUtf8(c.tempoAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SaveDialogFields,
    ::testing::Values(
        FieldCase{"emptyTempo", "A", "1", "", "", "A parm=(1) m80 s0 a0 d0 g0 f0\r\n", "80"},
        FieldCase{"zeroTempo", "A", "1", "0", "", "A parm=(1) m80 s0 a0 d0 g0 f0\r\n", "80"},
        FieldCase{"wordTempo", "A", "1", "fast", "", "A parm=(1) m80 s0 a0 d0 g0 f0\r\n", "80"},
        FieldCase{"tempoWithTail", "A", "1", "120abc", "", "A parm=(1) m120abc s0 a0 d0 g0 f0\r\n",
                  "120abc"},
        FieldCase{"tempoWithLeadingBlank", "A", "1", " 96", "",
                  "A parm=(1) m 96 s0 a0 d0 g0 f0\r\n", " 96"},
        FieldCase{"blankMemo", "A", "1", "60", "   ", "A parm=(1) m60 s0 a0 d0 g0 f0 memo=   \r\n",
                  "60"},
        FieldCase{"emptyTitle", "", "2", "60", "x", " parm=(2) m60 s0 a0 d0 g0 f0 memo=x\r\n",
                  "60"},
        FieldCase{"untrimmedTitle", "  Slow  ", "3a", "60", " m72 ",
                  "  Slow   parm=(3a) m60 s0 a0 d0 g0 f0 memo= m72 \r\n", "60"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SaveDialog, PastedLineBreaksAreWrittenAsSpaces) {
    open();
    QGuiApplication::clipboard()->setText(QStringLiteral("Two\r\nlines"));
    dlg->title->clear();
    QTest::keyClick(dlg->title, Qt::Key_V, Qt::ControlModifier);
    QGuiApplication::clipboard()->setText(QStringLiteral("slow\nthen fast"));
    QTest::keyClick(dlg->memo, Qt::Key_V, Qt::ControlModifier);
    clickSave();
    EXPECT_EQ(fileBytes(), QByteArray("Two lines parm=(1111) m80 s1 a0 d0 g0 f0 "
                                      "memo=slow then fast\r\n"));
}

struct CloseCase {
    const char *name;
    void (*close)(frm_save *);
};

class SaveDialogClose : public SaveDialog, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(SaveDialogClose, ClosesWithoutWriting) {
    open();
    typeInto(dlg->title, QStringLiteral("Lost"));
    GetParam().close(dlg);
    EXPECT_FALSE(dlg && dlg->isVisible());
    EXPECT_EQ(fileBytes(), QByteArray());
    EXPECT_EQ(savedCalls, 0);
    flushDeletes();
    EXPECT_TRUE(dlg.isNull()) << "every opening starts from a new dialog";
}

INSTANTIATE_TEST_SUITE_P(Ways, SaveDialogClose,
                         ::testing::Values(CloseCase{"cancel",
                                                     [](frm_save *d) {
                                                         QTest::mouseClick(d->btn_cancel,
                                                                           Qt::LeftButton);
                                                     }},
                                           CloseCase{"closeBox", [](frm_save *d) { d->close(); }}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(SaveDialog, DirectoryInPlaceOfTheFileShowsBothMessagesAndStaysOpen) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("menu.txt")));
    open();
    EXPECT_EQ(boxes.texts, QStringList{openFailedText});
    EXPECT_TRUE(dlg->isVisible()) << "the dialog opens normally after the message";
    EXPECT_EQ(dlg->beat->text(), QStringLiteral("1111"));

    typeInto(dlg->tempo, QString());
    clickSave();
    EXPECT_EQ(boxes.texts, (QStringList{openFailedText, saveFailedText}));
    ASSERT_TRUE(dlg);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->tempo->text(), QStringLiteral("80"));
    EXPECT_EQ(savedCalls, 0);
    EXPECT_TRUE(QFileInfo(menu()).isDir());
    EXPECT_TRUE(QDir(menu()).isEmpty());

    QTest::mouseClick(dlg->btn_cancel, Qt::LeftButton);
    EXPECT_FALSE(dlg && dlg->isVisible());
    EXPECT_EQ(savedCalls, 0);
}

struct WriteFailure {
    const char *name;
    QByteArray before;
    const char *title;
    std::function<std::unique_ptr<FileAccess>()> files;
};

class SaveDialogWriteFails : public SaveDialog,
                             public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(SaveDialogWriteFails, KeepsTheFileAndTheDialog) {
    const WriteFailure &c = GetParam();
    writeFile(c.before);
    const std::unique_ptr<FileAccess> failing = c.files();
    open(startupSnapshot(), *failing);
    EXPECT_TRUE(boxes.texts.isEmpty());

    dlg->title->setText(QString::fromUtf8(c.title));
    typeInto(dlg->tempo, QString());
    clickSave();
    EXPECT_EQ(boxes.texts, QStringList{saveFailedText});
    EXPECT_EQ(fileBytes(), c.before);
    ASSERT_TRUE(dlg);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->tempo->text(), QStringLiteral("80"));
    EXPECT_EQ(savedCalls, 0);

    // Saving again after the failure fails the same way and still leaves the file alone.
    clickSave();
    EXPECT_EQ(boxes.texts.size(), 2);
    EXPECT_EQ(fileBytes(), c.before);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, SaveDialogWriteFails,
    ::testing::Values(WriteFailure{"diskFullMidLine", "A parm=(1) m60 s1 a0 d0 g0 f0\r\n", "B",
                                   [] { return std::make_unique<test::ShortWriteFileAccess>(7); }},
                      WriteFailure{"diskFullNothingWritten", "A parm=(1) m60\r\n", "B",
                                   [] { return std::make_unique<test::ShortWriteFileAccess>(0); }},
                      WriteFailure{"emojiInCp932File", "\x83\x8f\x83\x8b\x83\x63 parm=(3-) m96\r\n",
                                   "\xf0\x9f\xa5\x81 drums",
                                   [] { return std::make_unique<RealFileAccess>(); }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SaveDialog, CaptionsGeometryAndTabOrder) {
    open();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Save"));
    EXPECT_EQ(dlg->geometry(), QRect(228, 274, 534, 266));
    EXPECT_EQ(dlg->title->geometry(), QRect(88, 120, 289, 28));
    EXPECT_EQ(dlg->btn_cancel->geometry(), QRect(400, 208, 89, 33));
    EXPECT_EQ(dlg->btn_save->text(), QStringLiteral("Save"));
    EXPECT_EQ(dlg->btn_cancel->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(dlg->chkA->text(), QStringLiteral("Pulvano"));
    EXPECT_EQ(dlg->chkD->text(), QStringLiteral("Beat Number"));
    EXPECT_EQ(dlg->Label4->text(), QStringLiteral("TEMPO"));
    EXPECT_EQ(dlg->title->font().family(), QStringLiteral("MS PGothic"));
    EXPECT_DOUBLE_EQ(dlg->title->font().pointSizeF(), 14.25);
    EXPECT_EQ(dlg->parentWidget(), nullptr) << "no owner window";
    EXPECT_EQ(dlg->windowModality(), Qt::NonModal);

    const std::vector<QWidget *> expected = {dlg->title, dlg->memo,  dlg->btn_save, dlg->btn_cancel,
                                             dlg->beat,  dlg->tempo, dlg->chkS,     dlg->chkA,
                                             dlg->chkG,  dlg->chkD,  dlg->chkF};
    EXPECT_EQ(test::tabChain(dlg->title), expected);
}

} // namespace
} // namespace pv2

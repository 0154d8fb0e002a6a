#include "dialogs/frm_save.h"

#include "../preset/fake_file_access.h"
#include "support/recording_message_boxes.h"
#include "widget_helpers.h"

namespace pv2::test {

const QString openFailedText =
    QStringLiteral("ファイルへの書き込みができません。キャンセルしてください");
const QString saveFailedText =
    QStringLiteral("ファイルへの書き込みができませんでした。キャンセルしてください");

// The main window as start-up leaves it.
const SaveSnapshot startup{QStringLiteral("1111"), QStringLiteral("80"), true};
const QDateTime now0(QDate(2024, 5, 1), QTime(9, 5, 30));

class SaveDialog : public ::testing::Test {
protected:
    void TearDown() override {
        delete dlg.data();
        flushDeletes();
    }
    static void flushDeletes() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QString menu() const { return dir.filePath(QStringLiteral("menu.txt")); }
    QByteArray fileBytes() { return files.readAll(menu()).value_or("<unreadable>"); }
    void writeFile(const QByteArray &bytes) const {
        QFile f(menu());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    void open(const SaveSnapshot &snap = startup, FileAccess *fa = nullptr) {
        const auto saved = [this] {
            ++savedCalls;
            openWhenSaved = dlg && dlg->isVisible();
        };
        dlg = new frm_save(snap, fa ? *fa : files, menu(), boxes, saved, [] { return now0; });
        dlg->show();
    }
    void clickSave() { QTest::mouseClick(dlg->btn_save, Qt::LeftButton); }

    QTemporaryDir dir;
    RealFileAccess files;
    RecordingMessageBoxes boxes;
    QPointer<frm_save> dlg;
    int savedCalls = 0;
    bool openWhenSaved = true;
};

// Cancel closes the window as its close box does; every opening starts from a new dialog.
TEST_F(SaveDialog, CancelWritesNothingAndSaveWritesTheFieldsByteForByte) {
    open();
    EXPECT_EQ(fileBytes(), QByteArray()) << "opening creates the file";
    typeInto(dlg->title, QStringLiteral("Lost"));
    QTest::mouseClick(dlg->btn_cancel, Qt::LeftButton);
    flushDeletes();
    EXPECT_TRUE(dlg.isNull());
    EXPECT_EQ(savedCalls, 0);

    open();
    EXPECT_EQ(dlg->windowModality(), Qt::NonModal);
    const std::vector<QWidget *> tabOrder = {dlg->title, dlg->memo,  dlg->btn_save, dlg->btn_cancel,
                                             dlg->beat,  dlg->tempo, dlg->chkS,     dlg->chkA,
                                             dlg->chkG,  dlg->chkD,  dlg->chkF,     dlg->chkP};
    EXPECT_EQ(tabChain(dlg->title), tabOrder);
    typeInto(dlg->title, QStringLiteral("Waltz"));
    typeInto(dlg->beat, QStringLiteral("1 2"));
    typeInto(dlg->tempo, QStringLiteral("96"));
    clickIndicator(dlg->chkD, QStyle::SE_CheckBoxIndicator);
    typeInto(dlg->memo, QStringLiteral("slow"));
    clickSave();
    EXPECT_EQ(fileBytes(), QByteArray("Waltz parm=(1 2) m96 s1 a0 d1 g0 f0 memo=slow\r\n"));
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(std::tuple(savedCalls, openWhenSaved), std::tuple(1, false))
        << "the dialog closes before the preset list is reloaded";
    flushDeletes();
    EXPECT_TRUE(dlg.isNull());
}

// One flag at a time, so that any two crossed check boxes show.
TEST_F(SaveDialog, SnapshotFillsTheCheckBoxesAndIsWrittenUnchanged) {
    for (int i = 0; i < 5; ++i) {
        MemoryFileAccess mem;
        open({QStringLiteral("3 3 2-"), QStringLiteral("132"), i == 0, i == 1, i == 2, i == 3,
              i == 4},
             &mem);
        QString checked;
        for (const QCheckBox *c : {dlg->chkS, dlg->chkA, dlg->chkD, dlg->chkG, dlg->chkF})
            checked += c->isChecked() ? u'1' : u'0';
        EXPECT_EQ(checked, QStringLiteral("00000").replace(i, 1, u'1'));
        dlg->title->setText(QStringLiteral("T"));
        clickSave();
        QByteArray line = "T parm=(3 3 2-) m132 s0 a0 d0 g0 f0\r\n";
        line[22 + 3 * i] = '1';
        EXPECT_EQ(mem.files.value(menu()), line);
    }
}

// Digits and colons in every locale: no zone, no unit words, and a numeric date even where
// the locale's short date spells the month (C).
TEST_F(SaveDialog, TitleIsTheInjectedDateAndTime) {
    open();
    EXPECT_EQ(dlg->title->text(), frm_save::dateTimeText(now0));
    const std::tuple<const char *, QTime, const char *> cases[] = {
        {"C", QTime(9, 5, 30), "2024/05/01 09:05:30"},
        {"ja_JP", QTime(9, 5, 30), "2024/05/01 9:05:30"},
        {"en_US", QTime(21, 5, 30), "5/1/24 9:05:30 PM"},
        {"en_US", QTime(0, 0, 1), "5/1/24 12:00:01 AM"},
        {"de_DE", QTime(9, 5, 30), "01.05.24 09:05:30"},
        // The clock's milliseconds are below what the title shows: 00:00:00.400 is midnight.
        {"en_US", QTime(0, 0, 0, 400), "5/1/24"},
    };
    for (const auto &[locale, time, expected] : cases)
        EXPECT_EQ(frm_save::dateTimeText(QDateTime(QDate(2024, 5, 1), time),
                                         QLocale(QString::fromLatin1(locale))),
                  QString::fromUtf8(expected))
            << locale << " " << time.toString().toStdString();
}

// Another editor rewrites the file in code page 932, with no final line end, while the dialog
// is open: the line goes after its last line, in its encoding.
TEST_F(SaveDialog, TheFileAsItIsAtSaveTimeDecidesHowTheLineIsAdded) {
    writeFile("A parm=(1) m60 s1 a0 d0 g0 f0\r\n");
    open();
    const QByteArray other = "\x83\x8f\x83\x8b\x83\x63 parm=(3-) m96"; // ワルツ
    writeFile(other);
    dlg->title->setText(QStringLiteral("行進曲")); // typed through an input method
    clickSave();
    EXPECT_EQ(savedCalls, 1);
    EXPECT_EQ(fileBytes(),
              other + "\r\n\x8d\x73\x90\x69\x8b\xc8 parm=(1111) m80 s1 a0 d0 g0 f0\r\n");
}

TEST_F(SaveDialog, DirectoryInPlaceOfTheFileShowsBothMessagesAndStaysOpenForAnotherTry) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("menu.txt")));
    open();
    EXPECT_EQ(boxes.texts, QStringList{openFailedText});
    EXPECT_TRUE(dlg->isVisible()) << "the dialog opens normally after the message";

    typeInto(dlg->tempo, QString());
    clickSave();
    EXPECT_EQ(boxes.texts, (QStringList{openFailedText, saveFailedText}));
    ASSERT_TRUE(dlg && dlg->isVisible());
    EXPECT_EQ(dlg->tempo->text(), QStringLiteral("80"));
    EXPECT_EQ(savedCalls, 0);

    ASSERT_TRUE(QDir(dir.path()).rmdir(QStringLiteral("menu.txt")));
    clickSave();
    EXPECT_EQ(std::tuple(boxes.texts.size(), savedCalls), std::tuple(2, 1));
    EXPECT_TRUE(fileBytes().endsWith(" m80 s1 a0 d0 g0 f0\r\n"));
}

} // namespace pv2::test

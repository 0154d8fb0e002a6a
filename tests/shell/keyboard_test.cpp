#include "main_fixture.h"

#include <QSignalSpy>

using namespace pv2;
using namespace pv2::test;

TEST_F(MainWindowTest, StartKeysStartAndStopExactlyOnce) {
    create();
    QSignalSpy clicks(w->btn_start, &QPushButton::clicked);
    for (Qt::Key k : {Qt::Key_S, Qt::Key_Space, Qt::Key_F5}) {
        w->btn_start->setFocus();
        key(k);
        EXPECT_FALSE(w->state().isStopped) << k;
        key(k);
        EXPECT_TRUE(w->state().isStopped) << k;
        runFor(1000);
    }
    EXPECT_EQ(clicks.count(), 0) << "a consumed Space never also presses the button";
}

TEST_F(MainWindowTest, KeysOnStartOtherThanTheDigitsAreConsumed) {
    create();
    for (Qt::Key k : {Qt::Key_7, Qt::Key_Up, Qt::Key_Return, Qt::Key_Z}) {
        key(k);
        EXPECT_TRUE(w->state().isStopped) << k;
        EXPECT_EQ(QApplication::focusWidget(), w->btn_start) << k;
    }
    QTest::keyClick(w->btn_start, Qt::Key_3, Qt::KeypadModifier);
    EXPECT_TRUE(w->state().isStopped);
    key(Qt::Key_3);
    EXPECT_FALSE(w->state().isStopped) << "digit 3 reaches START's own handling";
}

TEST_F(MainWindowTest, LettersMoveTheFocus) {
    create();
    key(Qt::Key_B);
    EXPECT_EQ(QApplication::focusWidget(), w->Text1);
    w->btn_start->setFocus();
    key(Qt::Key_M);
    EXPECT_EQ(QApplication::focusWidget(), w->menu1);
    w->btn_start->setFocus();
    key(Qt::Key_T);
    EXPECT_EQ(QApplication::focusWidget(), w->cmb_speed);
}

TEST_F(MainWindowTest, FocusedTextControlsGetTheirKeys) {
    create();
    w->Text1->setFocus();
    w->Text1->setCursorPosition(4);
    key(Qt::Key_F5);
    key(Qt::Key_S);
    key(Qt::Key_F3);
    EXPECT_TRUE(w->state().isStopped);
    EXPECT_EQ(w->Text1->text(), "1111-") << "S reached the box and was cleaned up";
    w->menu1->setFocus();
    key(Qt::Key_F5);
    key(Qt::Key_T);
    EXPECT_TRUE(w->state().isStopped);
    EXPECT_EQ(QApplication::focusWidget(), w->menu1);
    w->cmb_speed->setFocus();
    key(Qt::Key_F5);
    key(Qt::Key_S);
    EXPECT_TRUE(w->state().isStopped) << "F5 in the tempo box does not start";
    EXPECT_EQ(QApplication::focusWidget(), w->cmb_speed);
}

TEST_F(MainWindowTest, BeatKeysWalkTheAllOnesPatterns) {
    create();
    struct Row {
        const char *from;
        const char *minus;
        const char *plus;
    } rows[] = {{"1", "1", "11"},
                {"11", "1", "111"},
                {"111111", "11111", "111111"},
                {"3 3 2-", "1111", "1111"}};
    for (const auto &r : rows) {
        for (bool plus : {false, true}) {
            w->Text1->setText(r.from);
            w->state().beatsPerBar = 0; // proves the rebuild even when the text stays
            w->btn_start->setFocus();
            key(plus ? Qt::Key_F3 : Qt::Key_F2);
            const QString want = plus ? r.plus : r.minus;
            EXPECT_EQ(w->Text1->text(), want) << r.from << plus;
            EXPECT_EQ(w->state().beatsPerBar, want.size()) << r.from << plus;
        }
    }
}

TEST_F(MainWindowTest, TempoKeysStepThroughTheList) {
    create();
    struct Row {
        const char *from;
        bool up;
        const char *to;
    } rows[] = {{"42", false, "40"},  {"43", false, "42"},   {"30", false, "20"},
                {"20", false, "20"},  {"301", false, "301"}, {"42", true, "46"},
                {"208", true, "250"}, {"299", true, "300"},  {"300", true, "300"},
                {"19", true, "19"},   {"abc", true, "abc"}};
    for (const auto &r : rows) {
        w->setSpeedText(r.from);
        w->state().nextBeatsPending = false;
        w->btn_start->setFocus();
        key(r.up ? Qt::Key_F7 : Qt::Key_F6);
        EXPECT_EQ(w->cmb_speed->currentText(), r.to) << r.from << r.up;
        EXPECT_EQ(w->state().nextBeatsPending, QString(r.from) != r.to) << r.from;
    }
}

TEST_F(MainWindowTest, TapKeysAndTheTapButton) {
    create();
    for (Qt::Key k : {Qt::Key_F4, Qt::Key_A, Qt::Key_P, Qt::Key_Slash}) {
        w->btn_start->setFocus();
        counter.advance(500);
        key(k);
        EXPECT_EQ(QApplication::focusWidget(), w->btn_tap) << k;
    }
    EXPECT_EQ(w->cmb_speed->currentText(), "120");
    w->btn_start->setFocus();
    counter.advance(600);
    QTest::mouseClick(w->btn_f[3], Qt::LeftButton);
    EXPECT_EQ(QApplication::focusWidget(), w->btn_tap);
    EXPECT_EQ(w->cmb_speed->currentText(), "112") << "mean of 500, 500 and 600";
}

TEST_F(MainWindowTest, SoundKeyTogglesAndTwiceRestores) {
    create();
    key(Qt::Key_F8);
    EXPECT_FALSE(w->state().soundOn);
    EXPECT_TRUE(w->sound_switch[1]->isChecked());
    key(Qt::Key_F8);
    EXPECT_TRUE(w->state().soundOn);
    EXPECT_TRUE(w->sound_switch[0]->isChecked());
    QTest::mouseClick(w->btn_f[7], Qt::LeftButton);
    EXPECT_FALSE(w->state().soundOn);
}

TEST_F(MainWindowTest, HelpAsksTheViewerAndReportsAMissingFile) {
    create();
    key(Qt::Key_F1);
    ASSERT_EQ(help.opened.size(), 1);
    EXPECT_EQ(help.opened[0], dir.filePath("pv2help.chm"));
    EXPECT_TRUE(boxes.texts.isEmpty());
    help.result = false;
    QTest::mouseClick(w->btn_f[0], Qt::LeftButton);
    EXPECT_EQ(boxes.texts.size(), 1);
}

TEST_F(MainWindowTest, FunctionButtonsStartAndTheCornerBoxGivesFocusBack) {
    create();
    QTest::mouseClick(w->btn_f[4], Qt::LeftButton);
    EXPECT_FALSE(w->state().isStopped);
    w->Text1->setFocus();
    QTest::mouseClick(w->BGdisp, Qt::LeftButton);
    EXPECT_TRUE(w->BGdisp->isChecked());
    EXPECT_EQ(QApplication::focusWidget(), w->btn_start);
}

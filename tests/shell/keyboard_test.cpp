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
    QTest::mouseClick(w->btn_f[4], Qt::LeftButton);
    EXPECT_FALSE(w->state().isStopped);
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

TEST_F(MainWindowTest, LettersAndTapKeysMoveTheFocusAndTapKeysTap) {
    create();
    w->btn_tap->setFocus();
    EXPECT_EQ(w->btn_tap->palette().color(QPalette::Button), QColor(192, 170, 120));
    const std::pair<Qt::Key, QWidget *> keys[] = {
        {Qt::Key_B, w->Text1},      {Qt::Key_M, w->menu1},   {Qt::Key_T, w->cmb_speed},
        {Qt::Key_F4, w->btn_tap},   {Qt::Key_A, w->btn_tap}, {Qt::Key_P, w->btn_tap},
        {Qt::Key_Slash, w->btn_tap}};
    for (const auto &[k, target] : keys) {
        w->btn_start->setFocus();
        counter.advance(500);
        key(k);
        EXPECT_EQ(QApplication::focusWidget(), target) << k;
    }
    // Four taps 500 ms apart, then one 600 ms later from the function key button, one 700 ms
    // later as a digit on the focused TAP button: the mean of the last three intervals.
    EXPECT_EQ(w->cmb_speed->currentText(), "120");
    w->btn_start->setFocus();
    counter.advance(600);
    QTest::mouseClick(w->btn_f[3], Qt::LeftButton);
    EXPECT_EQ(QApplication::focusWidget(), w->btn_tap);
    EXPECT_EQ(w->cmb_speed->currentText(), "112");
    EXPECT_EQ(w->btn_tap->palette().color(QPalette::Button), QColor(255, 192, 128));
    counter.advance(700);
    key(Qt::Key_3);
    EXPECT_EQ(w->cmb_speed->currentText(), "100");
    EXPECT_TRUE(w->state().nextBeatsPending);
    key(Qt::Key_X);
    EXPECT_EQ(w->cmb_speed->currentText(), "100");
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

TEST_F(MainWindowTest, BeatAndTempoKeysStepAndRebuild) {
    create();
    for (auto [k, to] : {std::pair{Qt::Key_F2, "1"}, {Qt::Key_F3, "111"}}) {
        w->Text1->setText("11");
        w->state().beatsPerBar = 0; // proves the rebuild even when the text stays
        w->btn_start->setFocus();
        key(k);
        EXPECT_EQ(w->Text1->text(), to);
        EXPECT_EQ(w->state().beatsPerBar, QString(to).size());
    }
    const struct {
        Qt::Key k;
        const char *from, *to;
    } tempo[] = {{Qt::Key_F6, "43", "42"}, {Qt::Key_F7, "42", "46"}, {Qt::Key_F6, "20", "20"}};
    for (const auto &r : tempo) {
        w->setSpeedText(r.from);
        w->state().nextBeatsPending = false;
        w->btn_start->setFocus();
        key(r.k);
        EXPECT_EQ(w->cmb_speed->currentText(), r.to) << r.from;
        EXPECT_EQ(w->state().nextBeatsPending, QString(r.from) != r.to) << r.from;
    }
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
    EXPECT_EQ(help.opened, QStringList{dir.filePath("pv2help.chm")});
    EXPECT_TRUE(boxes.texts.isEmpty());
    help.result = false;
    QTest::mouseClick(w->btn_f[0], Qt::LeftButton);
    EXPECT_EQ(boxes.texts.size(), 1);
}

TEST_F(MainWindowTest, TheCornerBoxGivesTheFocusBack) {
    create();
    w->Text1->setFocus();
    QTest::mouseClick(w->BGdisp, Qt::LeftButton);
    EXPECT_TRUE(w->BGdisp->isChecked());
    EXPECT_EQ(QApplication::focusWidget(), w->btn_start);
}

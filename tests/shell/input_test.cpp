#include "main_fixture.h"

using namespace pv2;
using namespace pv2::test;

// The cleaning itself has its table beside the pattern code; here it runs key by key.
TEST_F(MainWindowTest, TypingIntoThePatternBoxIsCleanedKeyByKeyAndDecidesTheFluctuationBox) {
    w->Text1->setFocus();
    w->Text1->clear();
    type("4 4x20");
    EXPECT_EQ(w->Text1->text(), "4420");
    EXPECT_EQ(w->state().beatsPerBar, 4 + 4 + 2); // rebuilt as typed
    type("abcdefghijklmnopq");
    EXPECT_LE(w->Text1->text().size(), 15);
    key(Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), w->cmb_speed);

    w->Text1->setText("1");
    EXPECT_EQ(w->chkVar->text(), "1/f fluct.");
    w->chkVar->setChecked(true);
    w->Text1->setText("-"); // caption and check state left as they were
    EXPECT_EQ(std::tuple(w->Text1->text(), w->state().beatsPerBar, w->chkVar->isEnabled(),
                         w->chkVar->text(), w->chkVar->isChecked()),
              std::tuple(QString(), 1, false, QString("1/f fluct."), true));
}

TEST_F(MainWindowTest, TempoBoxTakesDigitsAndAppliesOnEnterAtTheNextBeat) {
    w->btn_start_Click();
    fire(100);
    w->cmb_speed->setFocus();
    w->cmb_speed->lineEdit()->selectAll();
    type("12a.-0");
    EXPECT_EQ(w->cmb_speed->currentText(), "120");
    key(Qt::Key_Return);
    EXPECT_TRUE(QApplication::focusWidget() == w->btn_start && w->state().beats[3].ms == 750)
        << "not in the middle of a beat";
    runFor(700);
    EXPECT_EQ(w->state().beats[0].ms, 500);
    // A list pick applies at the next beat too.
    w->cmb_speed->activated(w->cmb_speed->findText("60"));
    EXPECT_EQ(w->state().beats[1].ms, 500);
    runFor(500);
    EXPECT_EQ(w->state().beats[1].ms, 1000);
}

TEST_F(MainWindowTest, TempoBoxLimitsFocusKeysAndArrows) {
    w->cmb_speed->setFocus();
    w->cmb_speed->lineEdit()->clear();
    type("900");
    key(Qt::Key_Return);
    EXPECT_EQ(w->state().tempo, 800);
    w->cmb_speed->setFocus();
    type("P");
    EXPECT_EQ(QApplication::focusWidget(), w->cmb_speed) << "capital P is simply discarded";
    key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(w->cmb_speed->currentText(), "800");
    // Editing keys edit, with the text X11 gives them (Delete carries U+007F).
    key(Qt::Key_Home);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
    QApplication::sendEvent(QApplication::focusWidget(), &del);
    EXPECT_EQ(std::tuple(w->cmb_speed->currentText(), w->cmb_speed->lineEdit()->cursorPosition()),
              std::tuple(QString("00"), 0));
    for (const char *toTap : {"p", "/"}) {
        w->cmb_speed->setFocus();
        type(toTap);
        EXPECT_EQ(QApplication::focusWidget(), w->btn_tap);
    }
    EXPECT_EQ(w->cmb_speed->currentText(), "00") << "the tap keys are not typed";
    // The arrow keys land on the list, then step through it (the steps have their table beside
    // the tempo list).
    for (bool up : {false, true}) {
        w->cmb_speed->setFocus();
        w->cmb_speed->lineEdit()->clear();
        type("61");
        w->state().nextBeatsPending = false;
        key(up ? Qt::Key_Up : Qt::Key_Down);
        EXPECT_EQ(w->cmb_speed->currentText(), up ? "60" : "63");
        EXPECT_TRUE(w->state().nextBeatsPending);
    }
    key(Qt::Key_Up);
    EXPECT_EQ(w->cmb_speed->currentText(), "58");
}

// Other keys on START are consumed, and keypad keys do not tap; digit 3 reaches its own handling.
TEST_F(MainWindowTest, StartKeysStartAndStopExactlyOnceOtherKeysAreConsumed) {
    for (Qt::Key k : {Qt::Key_7, Qt::Key_Up, Qt::Key_Return, Qt::Key_Z})
        key(k);
    for (Qt::Key k : {Qt::Key_3, Qt::Key_Slash})
        QTest::keyClick(w->btn_start, k, Qt::KeypadModifier);
    EXPECT_TRUE(w->state().isStopped && QApplication::focusWidget() == w->btn_start);
    QSignalSpy clicks(w->btn_start, &QPushButton::clicked);
    for (Qt::Key k : {Qt::Key_S, Qt::Key_Space, Qt::Key_F5, Qt::Key_3}) {
        keyOn(w->btn_start, k);
        EXPECT_FALSE(w->state().isStopped) << k;
        key(Qt::Key_S);
        EXPECT_TRUE(w->state().isStopped) << k;
        runFor(1000);
    }
    EXPECT_EQ(clicks.count(), 0) << "a consumed Space never also presses the button";
    QTest::mouseClick(w->btn_f[4], Qt::LeftButton);
    EXPECT_FALSE(w->state().isStopped);
    // Focused text controls get their keys.
    key(Qt::Key_S);
    runFor(1000);
    w->Text1->setCursorPosition(4);
    const std::pair<QWidget *, std::vector<Qt::Key>> controls[] = {
        {w->Text1, {Qt::Key_F5, Qt::Key_S, Qt::Key_F3}},
        {w->menu1, {Qt::Key_F5, Qt::Key_T}},
        {w->cmb_speed, {Qt::Key_F5, Qt::Key_S}}};
    for (const auto &[control, keys] : controls) {
        control->setFocus();
        for (Qt::Key k : keys)
            key(k);
        EXPECT_TRUE(w->state().isStopped && QApplication::focusWidget() == control) << keys[1];
    }
    EXPECT_EQ(w->Text1->text(), "1111-") << "S reached the box and was cleaned up";
}

// The digit row counts by its physical key: Shift and the layout make no difference. Only
// the main keyboard's slash is the tap key.
TEST(VirtualKeys, DigitRowByItsKeyKeypadApart) {
    using enum NativeKeys;
    const auto KP = Qt::KeypadModifier;
    const std::tuple<NativeKeys, Qt::Key, Qt::KeyboardModifiers, quint32, quint32, int> cases[] = {
        {X11, Qt::Key_NumberSign, Qt::ShiftModifier, 12, 0x23, '3'}, // US and Japanese
        {X11, Qt::Key_QuoteDbl, {}, 12, 0x22, '3'},                  // French
        {X11, Qt::Key_Agrave, {}, 19, 0xe0, '0'},
        {X11, Qt::Key_3, KP, 89, 0xffb3, 99},
        {X11, Qt::Key_A, {}, 38, 0x61, 'A'},
        {X11, Qt::Key_9, {}, 0, 0, '9'}, // no native codes: the Qt key
        {X11, Qt::Key_Slash, {}, 61, 0x2f, 191},
        {X11, Qt::Key_Slash, KP, 106, 0xffaf, 111},
        {Windows, Qt::Key_NumberSign, Qt::ShiftModifier, 4, 0x33, '3'},
        {Windows, Qt::Key_9, {}, 10, 0x39, '9'}, // X keycode 10 would be the 1 key
        {Windows, Qt::Key_Slash, KP, 0x35, 0x6f, 111},
    };
    for (const auto &[native, k, mods, scanCode, virtualKey, expected] : cases) {
        const QKeyEvent e(QEvent::KeyPress, k, mods, scanCode, virtualKey, 0);
        EXPECT_EQ(virtualKeyOf(e, native), expected)
            << (native == Windows ? "Windows " : "X11 ") << k << " " << scanCode;
    }
}

// The mean of the taps has its table beside the tap tempo; here every tap key reaches it. The
// digit row's 3 key comes as this platform reports it: shifted on a US keyboard, plain on a
// French one.
TEST_F(MainWindowTest, LettersAndTapKeysMoveTheFocusAndTapKeysTap) {
    const bool win = kNativeKeys == NativeKeys::Windows;
    const auto press3 = [&](Qt::Key k, Qt::KeyboardModifiers mods, const char *text) {
        QKeyEvent e(QEvent::KeyPress, k, mods, win ? 4 : 12, win ? 0x33 : quint32(k), 0,
                    QString::fromLatin1(text));
        QApplication::sendEvent(QApplication::focusWidget(), &e);
    };
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
    EXPECT_EQ(
        std::tuple(w->cmb_speed->currentText(), w->btn_tap->palette().color(QPalette::Button)),
        std::tuple(QString("120"), QColor(255, 192, 128)));
    counter.advance(800);
    press3(Qt::Key_NumberSign, Qt::ShiftModifier, "#"); // a digit on the focused TAP button taps
    EXPECT_TRUE(w->cmb_speed->currentText() == "100" && w->state().nextBeatsPending);
    key(Qt::Key_X);
    EXPECT_EQ(w->cmb_speed->currentText(), "100");
    w->btn_start->setFocus();
    press3(Qt::Key_QuoteDbl, {}, "\"");
    EXPECT_EQ(std::tuple(w->state().isStopped, w->state().curBeat), std::tuple(false, 2))
        << "from the label 3 of 1111";
}

TEST_F(MainWindowTest, FunctionKeysStepRebuildSoundAndHelpAndTheCornerBox) {
    for (auto [k, to] : {std::pair{Qt::Key_F2, "1"}, {Qt::Key_F3, "111"}}) {
        w->Text1->setText("11");
        w->state().beatsPerBar = 0; // proves the rebuild even when the text stays
        keyOn(w->btn_start, k);
        EXPECT_EQ(std::tuple(w->Text1->text(), w->state().beatsPerBar),
                  std::tuple(QString(to), QString(to).size()));
    }
    for (auto [k, from, to] :
         {std::tuple{Qt::Key_F6, "43", "42"}, {Qt::Key_F7, "42", "46"}, {Qt::Key_F6, "20", "20"}}) {
        w->setSpeedText(from);
        w->state().nextBeatsPending = false;
        keyOn(w->btn_start, k);
        EXPECT_EQ(std::tuple(w->cmb_speed->currentText(), w->state().nextBeatsPending),
                  std::tuple(QString(to), QString(from) != to));
    }
    key(Qt::Key_F8);
    EXPECT_TRUE(!w->state().soundOn && w->sound_switch[1]->isChecked());
    key(Qt::Key_F8);
    EXPECT_TRUE(w->state().soundOn && w->sound_switch[0]->isChecked());
    key(Qt::Key_F1);
    EXPECT_TRUE(help.opened == QStringList{dir.filePath("pv2help.chm")} && boxes.texts.isEmpty());
    help.result = false;
    QTest::mouseClick(w->btn_f[0], Qt::LeftButton);
    EXPECT_EQ(boxes.texts.size(), 1) << "a missing help file is reported";
    // The corner box gives the focus back.
    w->Text1->setFocus();
    QTest::mouseClick(w->BGdisp, Qt::LeftButton);
    EXPECT_TRUE(w->BGdisp->isChecked() && QApplication::focusWidget() == w->btn_start);
}

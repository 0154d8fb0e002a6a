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
    EXPECT_EQ(w->chkVar->text(), "fluct.");
    type("abcdefghijklmnopq");
    EXPECT_LE(w->Text1->text().size(), 15);
    key(Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), w->cmb_speed);

    w->Text1->setText("1");
    EXPECT_EQ(w->chkVar->text(), "1/f fluct.");
    w->chkVar->setChecked(true);
    w->Text1->setText("-");
    EXPECT_EQ(w->Text1->text(), "");
    EXPECT_EQ(w->state().beatsPerBar, 1);
    EXPECT_FALSE(w->chkVar->isEnabled());
    EXPECT_EQ(w->chkVar->text(), "1/f fluct.") << "caption left as it was";
    EXPECT_TRUE(w->chkVar->isChecked()) << "check state untouched";
}

TEST_F(MainWindowTest, TempoBoxTakesDigitsAndAppliesOnEnterAtTheNextBeat) {
    w->btn_start_Click();
    fire(100);
    w->cmb_speed->setFocus();
    w->cmb_speed->lineEdit()->selectAll();
    type("12a.-0");
    EXPECT_EQ(w->cmb_speed->currentText(), "120");
    key(Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), w->btn_start);
    EXPECT_EQ(w->state().beats[3].ms, 750) << "not in the middle of a beat";
    runFor(700);
    EXPECT_EQ(w->state().beats[0].ms, 500);
    // A list pick applies at the next beat too.
    w->cmb_speed->activated(w->cmb_speed->findText("60"));
    EXPECT_EQ(w->state().beats[1].ms, 500);
    runFor(500);
    EXPECT_EQ(w->state().beats[1].ms, 1000);
}

TEST_F(MainWindowTest, TempoBoxLimitsAndFocusKeys) {
    for (const char *typed : {"", "900"}) {
        w->cmb_speed->setFocus();
        w->cmb_speed->lineEdit()->clear();
        type(typed);
        key(Qt::Key_Return);
    }
    EXPECT_EQ(w->state().tempo, 800);
    w->cmb_speed->setFocus();
    type("P");
    EXPECT_EQ(QApplication::focusWidget(), w->cmb_speed) << "capital P is simply discarded";
    key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(w->cmb_speed->currentText(), "800");
    // Editing keys edit, with the text X11 gives them (Delete carries U+007F).
    const struct {
        Qt::Key k;
        const char *text, *shown;
        int cursor;
    } edits[] = {{Qt::Key_Home, "", "800", 0},
                 {Qt::Key_Delete, "\x7f", "00", 0},
                 {Qt::Key_End, "", "00", 2},
                 {Qt::Key_Backspace, "\b", "0", 1}};
    for (const auto &e : edits) {
        QKeyEvent press(QEvent::KeyPress, e.k, Qt::NoModifier, QString::fromLatin1(e.text));
        QApplication::sendEvent(QApplication::focusWidget(), &press);
        EXPECT_EQ(w->cmb_speed->currentText(), e.shown) << e.k;
        EXPECT_EQ(w->cmb_speed->lineEdit()->cursorPosition(), e.cursor) << e.k;
    }
    for (const char *toTap : {"p", "/"}) {
        w->cmb_speed->setFocus();
        type(toTap);
        EXPECT_EQ(QApplication::focusWidget(), w->btn_tap);
    }
    EXPECT_EQ(w->cmb_speed->currentText(), "0") << "the tap keys are not typed";
}

// The list's steps have their table beside the tempo list; here the keys reach it.
TEST_F(MainWindowTest, ArrowKeysLandOnTheListThenStepThroughIt) {
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

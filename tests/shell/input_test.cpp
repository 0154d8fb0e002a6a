#include "main_fixture.h"

using namespace pv2;
using namespace pv2::test;

TEST_F(MainWindowTest, TypingIntoThePatternBoxIsCleanedKeyByKey) {
    create();
    w->Text1->setFocus();
    w->Text1->clear();
    struct Step {
        QString keys;
        QString shown;
    } steps[] = {{"4", "4"},   {" ", "4-"},  {"4", "44"},  {" ", "44-"},
                 {"x", "44-"}, {"2", "442"}, {"0", "4420"}};
    for (const auto &s : steps) {
        type(s.keys);
        EXPECT_EQ(w->Text1->text(), s.shown) << s.keys.toStdString();
    }
    // A space is only ever typed between two digits.
    w->Text1->clear();
    type("332 ");
    EXPECT_EQ(w->Text1->text(), "332-");
    w->Text1->setCursorPosition(1);
    type(" ");
    w->Text1->setCursorPosition(3);
    type(" ");
    EXPECT_EQ(w->Text1->text(), "3 3 2-");
    EXPECT_EQ(w->state().beatsPerBar, 8);
    type("abcdefghijklmnopq");
    EXPECT_LE(w->Text1->text().size(), 15);
}

TEST_F(MainWindowTest, PatternDecidesTheFluctuationBox) {
    create();
    w->Text1->setText("11");
    EXPECT_EQ(w->chkVar->text(), "fluct.");
    EXPECT_TRUE(w->chkVar->isEnabled());
    w->Text1->setText("1");
    EXPECT_EQ(w->chkVar->text(), "1/f fluct.");
    w->chkVar->setChecked(true);
    w->Text1->setText("12");
    EXPECT_FALSE(w->chkVar->isEnabled());
    EXPECT_EQ(w->chkVar->text(), "1/f fluct.") << "caption left as it was";
    EXPECT_TRUE(w->chkVar->isChecked()) << "check state untouched";
    w->Text1->setText("-");
    EXPECT_EQ(w->Text1->text(), "");
    EXPECT_EQ(w->state().beatsPerBar, 1);
    EXPECT_FALSE(w->chkVar->isEnabled());
}

TEST_F(MainWindowTest, EnterInThePatternBoxMovesToTheTempoBox) {
    create();
    w->Text1->setFocus();
    key(Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), w->cmb_speed);
    EXPECT_EQ(w->Text1->text(), "1111");
}

TEST_F(MainWindowTest, TempoBoxTakesDigitsAndAppliesOnEnterAtTheNextBeat) {
    create();
    w->btn_start_Click();
    fire(100);
    w->cmb_speed->setFocus();
    w->cmb_speed->lineEdit()->selectAll();
    type("12a.-0");
    EXPECT_EQ(w->cmb_speed->currentText(), "120");
    EXPECT_EQ(w->state().beats[3].ms, 750) << "typing alone applies nothing";
    key(Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), w->btn_start);
    EXPECT_TRUE(w->state().nextBeatsPending);
    EXPECT_EQ(w->state().beats[3].ms, 750) << "not in the middle of a beat";
    runFor(700);
    EXPECT_EQ(w->state().beats[0].ms, 500);
    EXPECT_EQ(w->state().tempo, 120);
}

TEST_F(MainWindowTest, TempoBoxLimitsAndFocusKeys) {
    create();
    w->cmb_speed->setFocus();
    w->cmb_speed->lineEdit()->clear();
    key(Qt::Key_Return);
    EXPECT_EQ(w->cmb_speed->currentText(), "1");
    w->cmb_speed->setFocus();
    w->cmb_speed->lineEdit()->clear();
    type("900");
    key(Qt::Key_Return);
    EXPECT_EQ(w->cmb_speed->currentText(), "800");
    EXPECT_EQ(w->state().tempo, 800);

    w->cmb_speed->setFocus();
    type("P");
    EXPECT_EQ(QApplication::focusWidget(), w->cmb_speed) << "capital P is simply discarded";
    EXPECT_EQ(w->cmb_speed->currentText(), "800");
    type("p");
    EXPECT_EQ(QApplication::focusWidget(), w->btn_tap);
    w->cmb_speed->setFocus();
    type("/");
    EXPECT_EQ(QApplication::focusWidget(), w->btn_tap);
    EXPECT_EQ(w->cmb_speed->currentText(), "800");
    w->cmb_speed->setFocus();
    key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(w->cmb_speed->currentText(), "800");
}

TEST_F(MainWindowTest, ArrowKeysOnATypedTempo) {
    create();
    struct Row {
        const char *typed;
        const char *down;
        const char *up;
    } rows[] = {{"61", "63", "60"},    {"60", "60", "60"},    {"19", "20", "20"},
                {"250", "250", "250"}, {"300", "300", "250"}, {"350", "300", "250"}};
    for (const auto &r : rows) {
        for (bool up : {false, true}) {
            w->cmb_speed->setFocus();
            w->cmb_speed->lineEdit()->clear();
            type(r.typed);
            key(up ? Qt::Key_Up : Qt::Key_Down);
            EXPECT_EQ(w->cmb_speed->currentText(), up ? r.up : r.down) << r.typed << up;
            EXPECT_TRUE(w->state().nextBeatsPending);
        }
    }
    // With an entry selected, the arrows step through the list.
    key(Qt::Key_Up);
    EXPECT_EQ(w->cmb_speed->currentText(), "208");
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(w->cmb_speed->currentText(), "300");
}

TEST_F(MainWindowTest, AListPickWhileRunningChangesTheNextBeatOnly) {
    create();
    w->btn_start_Click();
    fire(50);
    w->cmb_speed->activated(w->cmb_speed->findText("120"));
    EXPECT_EQ(w->cmb_speed->currentText(), "120");
    EXPECT_EQ(w->state().beats[3].ms, 750);
    runFor(720);
    EXPECT_EQ(w->state().beats[0].ms, 500);
}

TEST_F(MainWindowTest, TappingSetsTheTempoFromTheMeanOfTheLastIntervals) {
    create();
    w->btn_tap->setFocus();
    EXPECT_EQ(w->btn_tap->palette().color(QPalette::Button), QColor(192, 170, 120));
    const int gaps[] = {0, 500, 600, 700, 400};
    const char *want[] = {"80", "120", "109", "100", "105"};
    for (int i = 0; i < 5; ++i) {
        counter.advance(gaps[i] ? gaps[i] : 5000);
        key(Qt::Key_3); // a digit on the focused TAP button is a tap
        EXPECT_EQ(w->cmb_speed->currentText(), want[i]) << i;
    }
    EXPECT_EQ(w->btn_tap->palette().color(QPalette::Button), QColor(255, 192, 128));
    EXPECT_TRUE(w->state().nextBeatsPending);
    counter.advance(2001);
    key(Qt::Key_3);
    EXPECT_EQ(w->cmb_speed->currentText(), "105") << "a pause starts a new series";
    counter.advance(2000);
    key(Qt::Key_3);
    EXPECT_EQ(w->cmb_speed->currentText(), "30") << "exactly 2000 ms still counts";
    key(Qt::Key_X);
    EXPECT_EQ(w->cmb_speed->currentText(), "30");
    key(Qt::Key_T);
    EXPECT_EQ(QApplication::focusWidget(), w->cmb_speed);
}

#include "main_fixture.h"

using namespace pv2;
using namespace pv2::test;

namespace {
const QByteArray kMenu = "timer=30\r\n"
                         "fluct=0.35\r\n"
                         "; a comment\r\n"
                         "Waltz parm=(3-) m96 s1 a0 d1 g0 f0 memo=slow\r\n"
                         "-\r\n"
                         "Bare line without fields\r\n"
                         "Odd parm=(2 1 1) m120 s2 a1 d0 g1 f0\r\n";

// The window started with kMenu beside it.
class PresetMenuTest : public MainWindowTest {
protected:
    void SetUp() override {
        writeMenu(kMenu);
        create();
    }
    // The memo is printed in white in the top part of the drawing area.
    bool memoShown() const {
        const QImage &img = w->Picture1->image();
        return anyPixel(img, QRect(0, 0, img.width(), img.height() / 4),
                        [](QColor c) { return c == Qt::white; });
    }
};
} // namespace

// The list's texts have their table beside the preset file; here the window shows them. Calib
// opens the tone window on the same device.
TEST_F(PresetMenuTest, StartUpReadsThePresetFile) {
    EXPECT_FLOAT_EQ(w->settings().fluctDepth, 0.35f);
    EXPECT_EQ(w->menuText(), "プリセット・メニュー");
    midi.clear();
    QTest::mouseClick(w->btn_tune, Qt::LeftButton);
    ASSERT_TRUE(w->tuneDialog() && w->tuneDialog()->isVisible());
    EXPECT_EQ(midi.soundsKept, std::vector<bool>{true});
    w->tuneDialog()->btn_tune_on_Click();
    w->tuneDialog()->btn_tune_close_Click();
    EXPECT_EQ(midi.packedMessages(), (std::vector<uint32_t>{0x000017C0, 0x007F4590, 0x00004580}));
    EXPECT_EQ(midi.soundsKept, (std::vector<bool>{true, false}));
    w->btn_start_Click();
    EXPECT_EQ(std::tuple(w->beat_timer->interval(), midi.timerPeriods),
              std::tuple(30, std::vector<int>{30}));
}

TEST_F(MainWindowTest, MissingFileShowsTheFailureTextAndReloadReplacesTheList) {
    EXPECT_EQ(std::tuple(w->presetCount(), w->menuText()),
              std::tuple(0, QString("メニューファイルがありません")));
    writeMenu(kMenu);
    QTest::mouseClick(w->btn_reload, Qt::LeftButton);
    EXPECT_EQ(std::tuple(w->presetCount(), w->menuText(), QApplication::focusWidget()),
              std::tuple(4, QString("プリセット・メニュー(更新)"), w->menu1));
    writeMenu("Only parm=(4) m60\r\n");
    w->btn_reload_Click();
    EXPECT_EQ(w->menu1->count(), 1);
}

// From the keyboard: M, then Down picks the first entry; Return goes back to START.
TEST_F(PresetMenuTest, ChoosingAPresetWhileRunningSwitchesAtOnceAndTheStopShowsItsMemoAgain) {
    w->btn_start_Click();
    fire(100);
    key(Qt::Key_M);
    type("O"); // typed letters pick nothing: "Odd" stays unapplied
    key(Qt::Key_Down);
    EXPECT_EQ(controls(), "3- m96 s10 a0 d1 g0 f0 memo=slow");
    EXPECT_TRUE(w->state().beats[0].ms == 625 && QApplication::focusWidget() == w->menu1);
    key(Qt::Key_Return);
    EXPECT_TRUE(QApplication::focusWidget() == w->btn_start && memoShown());
    // The flight draws over the memo; the stop shows it again.
    fire(100);
    EXPECT_FALSE(memoShown());
    w->btn_start_Click();
    runFor(1000);
    ASSERT_FALSE(w->beat_timer->isActive());
    EXPECT_TRUE(memoShown());
}

// Every entry starts from the defaults; a field that is missing, or a flag other than 0 or 1,
// leaves the default; a separator changes nothing, not even the focus.
TEST_F(PresetMenuTest, ChoosingEntriesStartsFromTheDefaultsAndSavingReloads) {
    w->Text1->setText("2 1 1");
    w->setSpeedText("150");
    w->chkBmark->setChecked(true);
    w->L3check->setChecked(true);
    emit w->menu1->activated(0);
    emit w->menu1->activated(2);
    EXPECT_EQ(controls(), "1111 m80 s01 a0 d0 g0 f0 memo=");
    EXPECT_FALSE(w->state().soundOn);

    emit w->menu1->activated(3);
    EXPECT_EQ(controls(), "2 1 1 m120 s01 a1 d0 g1 f0 memo=") << "s2 leaves the sound OFF";
    EXPECT_EQ(w->state().beats[0].ms, 1000);

    w->Text1->setText("44");
    w->btn_start->setFocus();
    emit w->menu1->activated(1);
    EXPECT_TRUE(w->Text1->text() == "44" && QApplication::focusWidget() == w->btn_start);

    // Save opens one dialog with the current settings and reloads the list.
    w->Text1->setText("2 1 1");
    w->setSpeedText("132"); // typed, not yet applied
    w->chkBmark->setChecked(true);
    QTest::mouseClick(w->btn_save, Qt::LeftButton);
    frm_save *dlg = w->saveDialog();
    ASSERT_NE(dlg, nullptr);
    QTest::mouseClick(w->btn_save, Qt::LeftButton);
    EXPECT_EQ(w->saveDialog(), dlg) << "one dialog at a time";
    dlg->title->setText("Mine");
    QTest::mouseClick(dlg->btn_save, Qt::LeftButton);
    EXPECT_TRUE(readMenu().endsWith("\r\nMine parm=(2 1 1) m132 s0 a1 d1 g1 f0\r\n"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(std::tuple(w->saveDialog(), w->menu1->itemText(4), QApplication::focusWidget()),
              std::tuple(nullptr, QString("Mine(2 1 1)"), w->menu1));
    // Closing the window closes the dialog.
    w->btn_save_Click();
    const QPointer<frm_save> again = w->saveDialog();
    w->close();
    EXPECT_FALSE(again && again->isVisible());
}

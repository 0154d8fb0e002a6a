#include "main_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using namespace pv2;
using namespace pv2::test;

TEST_F(MainWindowTest, StartsWithTheDesignDefaults) {
    create();
    EXPECT_EQ(w->windowTitle(), "Pulvano2");
    EXPECT_EQ(w->size(), QSize(718, 604));
    EXPECT_EQ(w->Text1->text(), "1111");
    EXPECT_EQ(w->cmb_speed->currentText(), "80");
    EXPECT_EQ(w->cmb_speed->count(), 42);
    EXPECT_EQ(w->cmb_speed->itemText(0), "20");
    EXPECT_EQ(w->cmb_speed->itemText(4), "46");
    EXPECT_EQ(w->cmb_speed->itemText(41), "300");
    EXPECT_EQ(w->cmb_speed->currentIndex(), -1) << "no entry selected";
    EXPECT_EQ(QApplication::focusWidget(), w->btn_start);
    EXPECT_TRUE(w->sound_switch[0]->isChecked());
    EXPECT_TRUE(w->state().isStopped);
    EXPECT_TRUE(w->state().soundOn);
    EXPECT_FALSE(w->beat_timer->isActive());
    EXPECT_EQ(w->btn_start->text(), "START");
    EXPECT_EQ(w->settings().timerInterval, 20);
    EXPECT_FLOAT_EQ(w->settings().fluctDepth, 0.2f);
    // The first layout pass has built a schedule for "1111".
    EXPECT_EQ(w->state().beatsPerBar, 4);
    const auto &p = w->fluctProfileTable();
    EXPECT_DOUBLE_EQ(p[3][2], 0.5679);
    EXPECT_DOUBLE_EQ(p[5][5], -0.4636);
    EXPECT_DOUBLE_EQ(p[2][3], 0.0);
}

TEST_F(MainWindowTest, OpensTheDeviceAndSendsTheProgramChange) {
    create();
    EXPECT_EQ(midi.openCount, 1);
    EXPECT_EQ(midi.packedMessages(), std::vector<uint32_t>{0x000014C0});
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST(MainWindowOpenFailure, TellsOnceAndRunsSilently) {
    QTemporaryDir dir;
    FakeTickCounter counter{5000};
    RecordingMidiOut midi{&counter, 2};
    RecordingMessageBoxes boxes;
    RecordingHelpViewer help;
    RealFileAccess files;
    ScriptedRandom random;
    frm_main w(Services{counter, midi, boxes, help, files, random, dir.path(), {}});
    w.show();
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.texts[0], "MIDIデバイスオープンに失敗しました。サウンド機能は無効となります。");
    EXPECT_TRUE(w.state().soundOn);
    w.btn_start_Click();
    for (int i = 0; i < 400; ++i) {
        counter.advance(10);
        w.clock().onTimer();
    }
    EXPECT_TRUE(midi.events.empty()) << "nothing is sent to a device that is not open";
    EXPECT_GT(w.state().curBeat + 0, -1);
    w.close();
    EXPECT_EQ(midi.closeCount, 0);
}

TEST_F(MainWindowTest, ClosingStopsTheTimerThenClosesTheDeviceOnce) {
    create();
    w->btn_start_Click();
    ASSERT_TRUE(w->beat_timer->isActive());
    w->close();
    EXPECT_FALSE(w->beat_timer->isActive());
    EXPECT_EQ(midi.closeCount, 1);
    const auto sent = midi.events.size();
    w->clock().onTimer(); // a stray firing after the close sends nothing
    EXPECT_EQ(midi.events.size(), sent);
    w.reset();
    EXPECT_EQ(midi.closeCount, 1);
}

TEST_F(MainWindowTest, ExitClosesTheDeviceOnceAndEndsAtOnce) {
    create();
    w->btn_start_Click();
    w->Text1->setFocus();
    QTest::mouseClick(w->btn_end, Qt::LeftButton);
    EXPECT_FALSE(w->beat_timer->isActive());
    EXPECT_EQ(midi.closeCount, 1);
    EXPECT_EQ(quits, 1);
    w.reset();
    EXPECT_EQ(midi.closeCount, 1);
}

TEST_F(MainWindowTest, ControlsSitAtTheirDesignPlaces) {
    create(false);
    EXPECT_EQ(w->btn_start->geometry(), QRect(640, 144, 73, 33));
    EXPECT_EQ(w->Text1->geometry(), QRect(320, 24, 217, 33));
    EXPECT_EQ(w->menu1->geometry(), QRect(24, 24, 289, 29));
    EXPECT_EQ(w->btn_f[4]->text(), "START/STOP");
    EXPECT_EQ(w->btn_f[7]->text(), "SOUND ON/OFF");
    EXPECT_EQ(w->Text1->maxLength(), 15);
    EXPECT_EQ(w->btn_f[0]->focusPolicy(), Qt::ClickFocus);
    EXPECT_EQ(w->btn_start->font().pointSizeF(), 12.0);
    EXPECT_TRUE(w->btn_start->font().bold());
    EXPECT_EQ(w->sound_switch[1]->text(), "OFF");
    EXPECT_EQ(w->chkVar->text(), "fluct.");
}

TEST_F(MainWindowTest, TabWalksFromStartThroughTheRightColumn) {
    create();
    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->sound_switch[0]);
    w->chkVar->setFocus();
    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->BGdisp);
}

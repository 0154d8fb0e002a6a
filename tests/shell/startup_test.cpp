#include "main_fixture.h"

using namespace pv2;
using namespace pv2::test;

TEST_F(MainWindowTest, StartsWithTheDesignDefaultsAndOpensTheDevice) {
    EXPECT_EQ(w->windowTitle(), "Pulvano2");
    EXPECT_EQ(w->geometry(), QRect(170, 116, 718, 604)) << "the client area, not the frame";
    EXPECT_EQ(w->btn_start->geometry(), QRect(640, 144, 73, 33));
    EXPECT_EQ(w->Text1->geometry(), QRect(320, 24, 217, 33));
    EXPECT_EQ(controls(), "1111 m80 s1 a0 d0 g0 f0 memo=");
    EXPECT_EQ(w->Text1->maxLength(), 15);
    EXPECT_EQ(w->cmb_speed->count(), 42);
    EXPECT_EQ(w->cmb_speed->itemText(0), "20");
    EXPECT_EQ(w->cmb_speed->currentIndex(), -1) << "no entry selected";
    EXPECT_EQ(QApplication::focusWidget(), w->btn_start);
    EXPECT_TRUE(w->state().isStopped);
    EXPECT_TRUE(w->state().soundOn);
    EXPECT_FALSE(w->beat_timer->isActive());
    EXPECT_EQ(w->settings().timerInterval, 20);
    // The first layout pass has built a schedule for "1111".
    EXPECT_EQ(w->state().beatsPerBar, 4);
    EXPECT_EQ(midi.openCount, 1);
    EXPECT_EQ(midi.packedMessages(), std::vector<uint32_t>{0x000014C0}); // program 20
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST_F(MainWindowTest, ClosingOrExitStopsTheTimerThenClosesTheDeviceOnce) {
    for (bool viaExit : {false, true}) {
        SCOPED_TRACE(viaExit);
        create();
        midi.closeCount = 0;
        w->btn_start_Click();
        ASSERT_TRUE(w->beat_timer->isActive());
        w->Text1->setFocus();
        if (viaExit)
            QTest::mouseClick(w->btn_end, Qt::LeftButton);
        else
            w->close();
        EXPECT_FALSE(w->beat_timer->isActive());
        EXPECT_EQ(midi.closeCount, 1);
        EXPECT_EQ(quits, viaExit ? 1 : 0);
        const auto sent = midi.events.size();
        w->clock().onTimer(); // a stray firing afterwards sends nothing
        EXPECT_EQ(midi.events.size(), sent);
        w.reset();
        EXPECT_EQ(midi.closeCount, 1);
    }
}

TEST_F(MainWindowTest, TabWalksFromStartThroughTheRightColumn) {
    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->sound_switch[0]);
    w->chkVar->setFocus();
    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->BGdisp);
}

#include "main_fixture.h"

using namespace pv2;
using namespace pv2::test;

TEST_F(MainWindowTest, StartsWithTheDesignDefaultsAndOpensTheDevice) {
    EXPECT_EQ(w->geometry(), QRect(170, 116, 718, 604)) << "the client area, not the frame";
    EXPECT_EQ(controls(), "1111 m80 s1 a0 d0 g0 f0 memo=");
    EXPECT_EQ(w->cmb_speed->currentIndex(), -1) << "no entry selected";
    EXPECT_TRUE(w->state().isStopped && w->state().soundOn);
    EXPECT_EQ(w->state().beatsPerBar, 4) << "the first layout pass has built a schedule";
    EXPECT_EQ(midi.packedMessages(), std::vector<uint32_t>{0x000014C0}); // program 20
    EXPECT_TRUE(boxes.texts.isEmpty());
    // Tab walks from START through the right column.
    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->sound_switch[0]);
    w->chkVar->setFocus();
    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->BGdisp);
}

TEST_F(MainWindowTest, ClosingOrExitStopsTheTimerThenClosesTheDeviceOnce) {
    for (bool viaExit : {false, true}) {
        create();
        midi.closeCount = 0;
        w->btn_start_Click();
        w->Text1->setFocus();
        if (viaExit)
            QTest::mouseClick(w->btn_end, Qt::LeftButton);
        else
            w->close();
        EXPECT_FALSE(w->beat_timer->isActive()) << viaExit;
        EXPECT_EQ(quits, viaExit ? 1 : 0);
        const auto sent = midi.events.size();
        w->clock().onTimer(); // a stray firing afterwards sends nothing
        EXPECT_EQ(midi.events.size(), sent) << viaExit;
        w.reset();
        EXPECT_EQ(midi.closeCount, 1) << viaExit;
    }
}

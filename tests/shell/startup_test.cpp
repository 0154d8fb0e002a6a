#include "main_fixture.h"

using namespace pv2;
using namespace pv2::test;

TEST_F(MainWindowTest, StartsWithTheDesignDefaultsAndOpensTheDevice) {
    EXPECT_EQ(w->geometry(), QRect(170, 116, 718, 604)) << "the client area, not the frame";
    EXPECT_EQ(controls(), "1111 m80 s10 a0 d0 g0 f0 memo=");
    EXPECT_EQ(w->state().beatsPerBar, 4) << "the first layout pass has built a schedule";
    EXPECT_EQ(midi.packedMessages(), std::vector<uint32_t>{0x000014C0}); // program 20
    EXPECT_TRUE(boxes.texts.isEmpty());
    // Tab walks from START through the right column.
    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->sound_switch[0]);
    keyOn(w->chkVar, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->BGdisp);
}

TEST_F(MainWindowTest, ClosingOrExitStopsTheTimerThenClosesTheDeviceOnce) {
    for (bool viaExit : {false, true}) {
        create();
        midi.closeCount = 0;
        w->btn_start_Click();
        w->Text1->setFocus();
        viaExit ? QTest::mouseClick(w->btn_end, Qt::LeftButton) : void(w->close());
        EXPECT_EQ(std::tuple(w->beat_timer->isActive(), quits), std::tuple(false, viaExit ? 1 : 0));
        const auto sent = midi.events.size();
        w->clock().onTimer(); // a stray firing afterwards sends nothing
        EXPECT_EQ(midi.events.size(), sent) << viaExit;
        w.reset();
        EXPECT_EQ(midi.closeCount, 1) << viaExit;
    }
}

TEST(Layout, MinimumWindowGivesTheDesignedArea) {
    // Smaller asks are snapped back to the minimum. The F-key row is at H - 816, the guide line's
    // box at (5600 - 44 / 15) * 0.12 + 1200.
    for (QSize asked : {QSize(8000, 8000), QSize(5000, 100)}) {
        const LayoutGeometry g = computeLayout(asked.width(), asked.height(), 44);
        EXPECT_EQ(std::tuple(g.areaW, g.areaH, g.picture2Top, g.endTop, g.fkeyRowTop, g.bmarkTop,
                             g.l3Top),
                  std::tuple(6140, 5600, 6680, 6200, 7184, 6848, 1872));
    }
}

// Every pass rebuilds the schedule for the new area; restoring from minimised runs one too.
TEST_F(MainWindowTest, ResizingMovesTheRightColumnTheBandAndTheKeysOnlyAndRebuilds) {
    writeMenu("save=off\r\n"); // hidden buttons are moved all the same
    create();
    EXPECT_EQ(std::tuple(w->btn_reload->isVisible(), w->btn_tune->y()), std::tuple(false, 272))
        << "nothing moves up into the gap";
    w->Text1->setText("1 1 1");
    const std::pair<QWidget *, QPoint> moves[] = {{w->btn_start, {100, 0}}, {w->btn_save, {100, 0}},
                                                  {w->btn_end, {100, 60}},  {w->btn_f[0], {0, 60}},
                                                  {w->Picture2, {0, 60}},   {w->Text1, {0, 0}}};
    std::vector<QPoint> before;
    for (const auto &m : moves)
        before.push_back(m.first->pos());
    w->resize(w->width() + 100, w->height() + 60);
    for (size_t i = 0; i < std::size(moves); ++i)
        EXPECT_EQ(moves[i].first->pos(), before[i] + moves[i].second) << i;
    EXPECT_EQ(w->Picture1->size(), QSize(718 + 100 - 124, 604 + 60 - 160));
    w->resize(900, 700);
    const auto &st = w->state();
    EXPECT_EQ(st.trackWidth, w->Picture1->image().width() - 80);
    EXPECT_EQ(st.beats[2].x, roundToInt16(18 + st.trackWidth));
    w->showMinimized();
    w->state().beatsPerBar = 0;
    w->showNormal();
    EXPECT_EQ(w->state().beatsPerBar, 3);
}

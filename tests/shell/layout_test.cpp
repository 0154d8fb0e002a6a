#include "main_fixture.h"

#include <QGroupBox>

using namespace pv2;
using namespace pv2::test;

TEST(Layout, MinimumWindowGivesTheDesignedArea) {
    // Smaller asks are snapped back to the minimum.
    for (QSize asked : {QSize(8000, 8000), QSize(5000, 100)}) {
        const LayoutGeometry g = computeLayout(asked.width(), asked.height(), 44);
        EXPECT_EQ(g.areaW, 6140);
        EXPECT_EQ(g.areaH, 5600);
        EXPECT_EQ(g.picture2Top, 6680);
        EXPECT_EQ(g.endTop, 6200);
        EXPECT_EQ(g.fkeyRowTop, 7184); // H - 816
        EXPECT_EQ(g.bmarkTop, 6848);
        EXPECT_EQ(g.l3Top, 1872); // (5600 - 44 / 15) * 0.12 + 1200
    }
}

// Every pass rebuilds the schedule for the new area; restoring from minimised runs one too.
TEST_F(MainWindowTest, ResizingMovesTheRightColumnTheBandAndTheKeysOnlyAndRebuilds) {
    writeMenu("save=off\r\n"); // hidden buttons are moved all the same
    create();
    EXPECT_FALSE(w->btn_reload->isVisible());
    EXPECT_EQ(w->btn_tune->y(), 272) << "nothing moves up into the gap";
    w->Text1->setText("1 1 1");
    const std::pair<QWidget *, QPoint> moves[] = {
        {w->btn_start, {100, 0}}, {w->btn_tap, {100, 0}},  {w->Frame1, {100, 0}},
        {w->btn_save, {100, 0}},  {w->btn_end, {100, 60}}, {w->btn_f[0], {0, 60}},
        {w->btn_f[4], {0, 60}},   {w->Picture2, {0, 60}},  {w->Text1, {0, 0}}};
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

#include "main_fixture.h"

#include "shell/picture_box.h"

#include <QGroupBox>
#include <QLabel>

using namespace pv2;
using namespace pv2::test;

TEST(Layout, MinimumWindowGivesTheDesignedArea) {
    const LayoutGeometry g = computeLayout(8000, 8000, 44);
    EXPECT_EQ(g.areaW, 6140);
    EXPECT_EQ(g.areaH, 5600);
    EXPECT_EQ(g.picture2Top, 6680);
    EXPECT_EQ(g.endTop, 6200);
    EXPECT_EQ(g.fkeyRowTop, 7184); // H - 816
    EXPECT_EQ(g.bmarkTop, 6848);
    EXPECT_EQ(g.l3Top, 1872); // (5600 - 2.93) * 0.12 + 1200
    // Smaller asks are snapped back to the minimum.
    const LayoutGeometry s = computeLayout(5000, 100, 44);
    EXPECT_EQ(s.areaW, 6140);
    EXPECT_EQ(s.areaH, 5600);
}

TEST_F(MainWindowTest, WideningMovesTheRightColumnOnly) {
    create();
    const QPoint start = w->btn_start->pos(), tap = w->btn_tap->pos(), end = w->btn_end->pos();
    const QPoint f5 = w->btn_f[4]->pos(), frame = w->Frame1->pos();
    w->resize(w->width() + 100, w->height());
    EXPECT_EQ(w->btn_start->pos(), start + QPoint(100, 0));
    EXPECT_EQ(w->btn_tap->pos(), tap + QPoint(100, 0));
    EXPECT_EQ(w->btn_end->pos(), end + QPoint(100, 0));
    EXPECT_EQ(w->Frame1->pos(), frame + QPoint(100, 0));
    EXPECT_EQ(w->btn_f[4]->pos(), f5);
    EXPECT_EQ(w->Picture1->width(), 718 + 100 - 124);
}

TEST_F(MainWindowTest, HeighteningMovesTheBandAndFunctionKeysDown) {
    create();
    const int f1 = w->btn_f[0]->y(), band = w->Picture2->y(), start = w->btn_start->y();
    const int end = w->btn_end->y();
    w->resize(w->width(), w->height() + 60);
    EXPECT_EQ(w->btn_f[0]->y(), f1 + 60);
    EXPECT_EQ(w->Picture2->y(), band + 60);
    EXPECT_EQ(w->btn_end->y(), end + 60);
    EXPECT_EQ(w->btn_start->y(), start);
    EXPECT_EQ(w->Picture1->height(), 604 + 60 - 160);
}

TEST_F(MainWindowTest, EveryPassRebuildsForTheNewArea) {
    create();
    w->Text1->setText("1 1 1");
    w->resize(900, 700);
    const auto &st = w->state();
    const int width = w->Picture1->image().width();
    EXPECT_EQ(w->Picture1->width(), 900 - 124);
    EXPECT_EQ(st.trackWidth, width - 80);
    EXPECT_EQ(st.beats[2].x, roundToInt16(18 + st.trackWidth));
    EXPECT_EQ(st.beatsPerBar, 3);
}

TEST_F(MainWindowTest, HiddenSaveButtonsAreStillMoved) {
    writeMenu("save=off\r\n");
    create();
    EXPECT_FALSE(w->btn_save->isVisible());
    EXPECT_FALSE(w->btn_reload->isVisible());
    const QPoint save = w->btn_save->pos();
    w->resize(w->width() + 45, w->height());
    EXPECT_EQ(w->btn_save->pos(), save + QPoint(45, 0));
    EXPECT_EQ(w->btn_tune->y(), 272) << "nothing moves up into the gap";
}

TEST_F(MainWindowTest, MinimisedDoesNothingAndRestoringRunsAPass) {
    create();
    w->showMinimized();
    w->state().beatsPerBar = 0;
    w->showNormal();
    EXPECT_EQ(w->state().beatsPerBar, 4);
}

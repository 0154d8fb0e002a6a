#include "main_fixture.h"

#include "pattern/beat_labels.h"
#include "shell/picture_box.h"

using namespace pv2;
using namespace pv2::test;

namespace {
// Pixels of the drawing area that the ball's mask covers at (x, y) all differ from the
// background; the ball's own colours are warm, the background is blue.
bool ballAt(const QImage &img, int x, int y) {
    const QColor c = img.pixelColor(x + 22, y + 22);
    return c.red() > 200 && c.blue() < 120;
}
} // namespace

TEST_F(MainWindowTest, StartAnimatesTheBallAndStopRestsOnABeat) {
    create();
    QTest::mouseClick(w->btn_start, Qt::LeftButton);
    EXPECT_EQ(w->btn_start->text(), "STOP");
    EXPECT_FALSE(w->state().isStopped);
    EXPECT_TRUE(w->beat_timer->isActive());
    EXPECT_EQ(w->beat_timer->interval(), 20);
    EXPECT_EQ(w->state().curBeat, 3);

    const auto &st = w->state();
    const QImage &img = w->Picture1->image();
    const int floor = img.height() - 44;
    fire(375); // half of the 750 ms interval: the top of the arc from beat 3 back to beat 0
    const BeatSlot s = st.beats[3];
    EXPECT_EQ(st.ballX, roundToInt16(s.x + 375 * s.vx));
    EXPECT_EQ(st.ballY, floor - s.height);
    EXPECT_TRUE(ballAt(img, st.ballX, st.ballY));
    EXPECT_FALSE(ballAt(img, st.beats[3].x, floor));

    QTest::mouseClick(w->btn_start, Qt::LeftButton);
    EXPECT_EQ(w->btn_start->text(), "START");
    EXPECT_TRUE(w->beat_timer->isActive()) << "the interval runs to its beat";
    runFor(800);
    EXPECT_FALSE(w->beat_timer->isActive());
    EXPECT_EQ(st.curBeat, 0);
    EXPECT_TRUE(ballAt(img, st.beats[0].x, floor));
}

TEST_F(MainWindowTest, TicksFollowTheBeatsFromTheSecondInterval) {
    create();
    midi.clear();
    w->btn_start_Click();
    runFor(750 * 5, 1);
    const std::vector<uint32_t> want = {0x007F2599, 0x007F2599, 0x007F2599, 0x007F5199};
    EXPECT_EQ(ticksSent(), want);
    for (const auto &e : midi.events)
        EXPECT_TRUE(e.timed);
    // Note-off right after every note-on.
    ASSERT_EQ(midi.events.size(), 8u);
    EXPECT_EQ(midi.events[1].packed, 0x00002589u);
    EXPECT_EQ(midi.events[7].packed, 0x00005189u);
}

TEST_F(MainWindowTest, StartingAgainBeforeTheStoppingBeatCancelsTheStop) {
    create();
    w->btn_start_Click();
    fire(100);
    w->btn_start_Click();
    ASSERT_TRUE(w->state().stopRequested);
    w->btn_start_Click();
    EXPECT_FALSE(w->state().stopRequested);
    EXPECT_EQ(w->state().curBeat, 3);
    runFor(2000);
    EXPECT_TRUE(w->beat_timer->isActive());
}

TEST_F(MainWindowTest, DigitKeysStartFromTheLabelledBeat) {
    create();
    w->Text1->setText("3 3 2-"); // labels on beats 0, 3, 6
    w->btn_start->setFocus();
    EXPECT_EQ(w->digitStartTable()[1], 0);
    EXPECT_EQ(w->digitStartTable()[2], 3);
    EXPECT_EQ(w->digitStartTable()[3], 6);
    key(Qt::Key_2);
    EXPECT_TRUE(w->beat_timer->isActive());
    EXPECT_EQ(w->state().curBeat, 3);
    EXPECT_EQ(w->btn_start->text(), "STOP");
    key(Qt::Key_5); // running: the digit asks for the stop
    EXPECT_TRUE(w->state().stopRequested);
    runFor(2000);
    EXPECT_FALSE(w->beat_timer->isActive());
    w->Text1->setText("11");
    w->btn_start->setFocus();
    key(Qt::Key_3); // an entry past the last beat is clamped to it
    EXPECT_EQ(w->state().curBeat, 1);
}

TEST_F(MainWindowTest, GuideLineAndLabelsAreDrawn) {
    create();
    w->L3check->setChecked(true);
    const QImage &img = w->Picture1->image();
    const int y = guideLineY(img.height(), 44);
    EXPECT_EQ(img.pixelColor(10, y), QColor(200, 200, 100));
    EXPECT_EQ(QApplication::focusWidget(), w->btn_start);
    // The labels sit under the middle of each landing spot.
    const QImage &strip = w->Picture2->image();
    const QColor bg = strip.pixelColor(1, 1);
    for (int i = 0; i < 4; ++i) {
        const int cx = w->state().beats[i].x + 22;
        bool found = false;
        for (int yy = 0; yy < strip.height() && !found; ++yy)
            found = strip.pixelColor(cx, yy) != bg;
        EXPECT_TRUE(found) << i;
    }
}

TEST_F(MainWindowTest, OneBeatFluctuationRunsTheMapFromAClickStart) {
    create();
    w->Text1->setText("1");
    EXPECT_EQ(w->chkVar->text(), "1/f fluct.");
    EXPECT_TRUE(w->chkVar->isEnabled());
    EXPECT_EQ(random.reseeds, 2);
    w->chkVar->setChecked(true);
    w->setSpeedText("60");
    w->btn_start_Click();
    EXPECT_EQ(w->state().beats[0].ms, 1000);
    runFor(10000, 3);
    EXPECT_TRUE(w->beat_timer->isActive());
    const auto ticks = ticksSent();
    EXPECT_GE(ticks.size(), 9u);
    for (auto t : ticks)
        EXPECT_EQ(t, 0x007F2599u);
}

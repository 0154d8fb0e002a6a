#include "main_fixture.h"

#include "pattern/beat_labels.h"

using namespace pv2;
using namespace pv2::test;

// Starting again before the stopping beat cancels the stop; a stop rests on the next beat.
TEST_F(MainWindowTest, StartAnimatesTheBallAndStopRestsOnABeat) {
    QTest::mouseClick(w->btn_start, Qt::LeftButton);
    const auto &st = w->state();
    const int floor = w->Picture1->image().height() - 22; // where the ball's centre lands
    fire(375); // half of the 750 ms interval: the top of the arc from beat 3 back to beat 0
    EXPECT_TRUE(warm(st.ballX + 22, floor - st.beats[3].height));
    EXPECT_FALSE(warm(st.beats[3].x + 22, floor));
    w->btn_start_Click();
    ASSERT_TRUE(st.stopRequested);
    w->btn_start_Click();
    EXPECT_EQ(std::tuple(st.stopRequested, w->btn_start->text()),
              std::tuple(false, QString("STOP")));

    QTest::mouseClick(w->btn_start, Qt::LeftButton);
    EXPECT_EQ(w->btn_start->text(), "START");
    EXPECT_TRUE(w->beat_timer->isActive()) << "the interval runs to its beat";
    runFor(800);
    EXPECT_EQ(std::tuple(w->beat_timer->isActive(), st.curBeat), std::tuple(false, 0));
    EXPECT_TRUE(warm(st.beats[0].x + 22, floor));
}

// The guide line and the labels are drawn too.
TEST_F(MainWindowTest, TicksFollowTheBeatsFromTheSecondIntervalAndTheUpbeatIsColoured) {
    w->L3check->setChecked(true);
    const QImage &img = w->Picture1->image();
    EXPECT_EQ(img.pixelColor(10, guideLineY(img.height(), 44)), QColor(200, 200, 100));
    // Something is printed under the middle of each landing spot.
    const QImage &strip = w->Picture2->image();
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(anyPixel(strip, QRect(w->state().beats[i].x + 22, 0, 1, strip.height()),
                             [&](QColor c) { return c != strip.pixelColor(1, 1); }))
            << i;
    midi.clear();
    w->BGdisp->setChecked(true);
    w->btn_start_Click();
    runFor(750 * 4, 1);
    EXPECT_EQ(img.pixelColor(1, 1), QColor(0x00, 0x66, 0xFF)) << "beat 3";
    runFor(750, 1);
    EXPECT_EQ(img.pixelColor(1, 1), QColor(0x44, 0x66, 0x99)) << "beat 0";
    // Note-on then note-off of note 37, and of note 81 before beat 0, all timed.
    EXPECT_EQ(midi.packedMessages(), (std::vector<uint32_t>{0x7F2599, 0x2589, 0x7F2599, 0x2589,
                                                            0x7F2599, 0x2589, 0x7F5199, 0x5189}));
    EXPECT_TRUE(
        std::all_of(midi.events.begin(), midi.events.end(), [](auto &e) { return e.timed; }));
}

TEST_F(MainWindowTest, DigitKeysStartFromTheLabelledBeat) {
    w->Text1->setText("3 3 2-"); // labels on beats 0, 3, 6
    keyOn(w->btn_start, Qt::Key_2);
    EXPECT_EQ(std::tuple(w->beat_timer->isActive(), midi.timerPeriods, w->state().curBeat),
              std::tuple(true, std::vector<int>{20}, 3));
    key(Qt::Key_5); // running: the digit asks for the stop
    runFor(2000);
    EXPECT_FALSE(w->beat_timer->isActive());
    w->Text1->setText("11");
    keyOn(w->btn_start, Qt::Key_3); // an entry past the last beat is clamped to it
    EXPECT_EQ(w->state().curBeat, 1);
}

TEST_F(MainWindowTest, OneBeatFluctuationRunsTheMapFromAClickStart) {
    random.values = {0, 0.3f, 0, 0.6f}; // starting values of the two map states
    w->Text1->setText("1");
    w->chkVar->setChecked(true);
    w->setSpeedText("60");
    w->btn_start_Click();
    EXPECT_EQ(w->state().beats[0].ms, 1000);
    runFor(10000, 3);
    const auto ticks = notesOn();
    EXPECT_GE(ticks.size(), 9u);
    for (auto [note, velocity, due] : ticks)
        EXPECT_EQ(std::tuple(note, velocity), std::tuple(37, 127));
    EXPECT_NE(w->state().beats[0].ms, 1000) << "the beats vary";
}

// A backend heard 90 ms after a tick's due moment: the picture waits 40 ms beyond the 50 ms lead.
// The user's offset (F9 or the drawing area's menu) moves the sound, is kept for the next start of
// the program, and the measuring clicks are placed for when they are heard, without it.
TEST_F(MainWindowTest, PictureAndSoundAgreeAndTheUsersOffsetIsKept) {
    midi.delay = 90;
    create();
    w->btn_start_Click();
    EXPECT_TRUE(midi.heldAwake) << "the output stays awake for the run";
    EXPECT_EQ(std::tuple(w->avPlan().pictureDelayMs, w->avPlan().tickShiftMs), std::tuple(40, 0));
    EXPECT_TRUE(w->landing_timer->isActive() && w->landing_timer->interval() == 750)
        << "a step of its own at the first beat";

    key(Qt::Key_F9);
    ASSERT_TRUE(w->syncDialog() && w->syncDialog()->isVisible());
    w->syncDialog()->spn_offset->setValue(-100); // the screen lags the sound by 100 ms
    w->syncDialog()->accept();
    EXPECT_EQ(std::tuple(w->avPlan().pictureDelayMs, w->avPlan().tickShiftMs), std::tuple(0, 60));
    midi.clear();
    // The first interval after the program starts has no tick: the first is at the second beat.
    const uint32_t beat = w->state().beatStartTick + 1500;
    runFor(1600);
    EXPECT_EQ(midi.events.at(0).dueTick, beat - 50 + 60) << "heard at the beat + 100 ms";

    w->picture_menu->actions().at(0)->trigger();
    frm_sync *dialog = w->syncDialog();
    EXPECT_EQ(dialog->offsetMs(), -100);
    midi.clear();
    dialog->btn_measure_Click();
    const uint32_t firstClick = counter.now() + frm_sync::kFirstClickMs;
    counter.advance(frm_sync::kFirstClickMs);
    dialog->sync_timer_Timer();
    EXPECT_EQ(midi.events.at(0).dueTick, firstClick - 90);
    dialog->reject();

    create();
    EXPECT_EQ(w->syncOffsetMs(), -100);
}

#include "main_fixture.h"

using namespace pv2;
using namespace pv2::test;

using Mute = PracticeSettings::Mute;

// "1111" at 80: START's lead-in lands on the bar line, and the program's first interval is
// silent, so the count-in bar sounds three downbeat notes; then bars play and rest in turn, each
// on the grid.
TEST_F(MainWindowTest, CountInThenPlayedAndSilentBarsOnTheGrid) {
    w->run().setPractice({.on = true,
                          .countInBars = 1,
                          .mute = Mute::Bars,
                          .playBars = 1,
                          .muteBars = 1,
                          .hideBall = true});
    midi.clear();
    w->btn_start_Click();
    const uint32_t start = w->state().beatStartTick;
    // The ball is left out in the silent bar (landings 9 to 12) only.
    for (int beat : {7, 11, 15}) {
        runFor(tickDiff(start + 750u * uint32_t(beat) + 300, counter.now()));
        const QImage &img = w->Picture1->image();
        EXPECT_EQ(anyPixel(img, img.rect(), isWarm), beat != 11) << beat;
    }
    runFor(tickDiff(start + 750 * 24 + 100, counter.now()));
    // Beat k after START is due at start + 750 k - 50; the pattern's first downbeat is beat 5.
    std::vector<std::pair<int, uint32_t>> want, sent;
    // Note 81 through the count-in and on each bar's downbeat.
    for (int k : {2, 3, 4, 5, 6, 7, 8, 13, 14, 15, 16, 21, 22, 23, 24})
        want.emplace_back(k <= 5 || k % 8 == 5 ? 81 : 37, start + 750u * uint32_t(k) - 50);
    for (auto [note, velocity, due] : notesOn())
        sent.emplace_back(note, due);
    EXPECT_EQ(sent, want);
}

// The ladder changes the tempo on bar lines and the box shows it; the timer ends the run on the
// first bar line after its minute, and the next run starts from the first tempo again.
TEST_F(MainWindowTest, TheLadderClimbsOnBarLinesAndTheTimerStopsOnOne) {
    w->run().setPractice(
        {.on = true, .ladderStep = 10, .ladderEvery = 1, .ladderTarget = 100, .timerMinutes = 1});
    w->btn_start_Click();
    const uint32_t start = w->state().beatStartTick;
    std::vector<std::pair<int, QString>> shown; // from which landing the box shows a tempo
    std::vector<int> intervals;
    uint32_t lastBeat = start;
    while (w->beat_timer->isActive() && intervals.size() < 200) {
        fire(5);
        if (w->state().beatStartTick == lastBeat)
            continue;
        intervals.push_back(tickDiff(w->state().beatStartTick, lastBeat));
        lastBeat = w->state().beatStartTick;
        if (w->beat_timer->isActive() &&
            (shown.empty() || shown.back().second != w->cmb_speed->currentText()))
            shown.emplace_back(int(intervals.size()), w->cmb_speed->currentText());
    }
    // Landing 1 is the first bar line; bar 2 begins at landing 5 at 90, bar 3 at landing 9 at
    // 100, and the target holds. The box shows a tempo from the landing before its bar.
    for (size_t i = 0; i < intervals.size(); ++i)
        EXPECT_NEAR(intervals[i], i < 5 ? 750 : (i < 9 ? 667 : 600), 1) << i;
    EXPECT_EQ(shown, (std::vector<std::pair<int, QString>>{{1, "80"}, {4, "90"}, {8, "100"}}));
    // Stopped, resting on a bar line, and the output may sleep once the run has ended.
    EXPECT_EQ(std::tuple(w->beat_timer->isActive(), midi.heldAwake, w->state().curBeat),
              std::tuple(false, false, 0));
    EXPECT_NEAR(tickDiff(lastBeat, start), 60000 + 1200, 1200) << "within a bar at 100";
    EXPECT_EQ(w->cmb_speed->currentText(), "80");
    // A digit key starts there too, not at the ladder's top.
    keyOn(w->btn_start, Qt::Key_1);
    EXPECT_EQ(std::tuple(w->beat_timer->isActive(), w->state().tempo), std::tuple(true, 80));
}

// With one beat to the bar every landing is a bar line: the timer's stop stays a stop. Without a
// ladder, a tempo the user sets during the run stays.
TEST_F(MainWindowTest, TheTimerStopsAOneBeatRunForGoodAndTheUsersTempoStays) {
    w->run().setPractice({.on = true, .countInBars = 1, .timerMinutes = 1});
    w->Text1->setText("1");
    w->btn_start_Click();
    runFor(58000);
    key(Qt::Key_F7);
    const QString raised = w->cmb_speed->currentText();
    EXPECT_NE(raised, "80");
    runFor(8000);
    EXPECT_EQ(std::tuple(w->beat_timer->isActive(), w->cmb_speed->currentText()),
              std::tuple(false, raised));
    runFor(2000);
    EXPECT_FALSE(w->beat_timer->isActive());
}

// F10 and the drawing area's menu open the Practice window; OK applies it. The volume keys step
// by ten percent, 0 sends nothing, and volume and pair are kept for the next start; presets carry
// the practice settings.
TEST_F(MainWindowTest, PracticeWindowVolumeKeysTheUsersTickSoundAndPresets) {
    key(Qt::Key_F10);
    frm_practice *dlg = w->run().practiceDialog();
    ASSERT_TRUE(dlg && dlg->isVisible());
    dlg->chkOn->setChecked(true);
    dlg->cmbCount->setCurrentIndex(2);
    dlg->cmbPair->setCurrentIndex(1);
    dlg->spnVolume->setValue(50);
    const int opened = midi.openCount;
    dlg->accept();
    EXPECT_EQ(w->run().practice(), (PracticeSettings{.on = true, .countInBars = 2}));
    // The new pair is rendered ahead by reopening the device at the next START.
    EXPECT_EQ(std::tuple(midi.tickNotes, midi.openCount),
              std::tuple(std::vector<int>{77, 76}, opened));
    w->btn_start_Click();
    EXPECT_EQ(midi.openCount, opened + 1);
    w->btn_start_Click();
    runFor(3000);

    keyOn(w->btn_start, Qt::Key_Minus);
    key(Qt::Key_Plus, Qt::KeypadModifier);
    key(Qt::Key_Minus);
    EXPECT_EQ(w->tickSound().volumePercent(), 40);
    midi.clear();
    w->tickSound().sendTick(true, 0);
    // The wood blocks' downbeat, note 76, at 40 %: velocity 51.
    EXPECT_EQ(midi.packedMessages(), (std::vector<uint32_t>{0x334C99, 0x4C89}));
    for (int i = 0; i < 6; ++i)
        key(Qt::Key_Minus);
    midi.clear();
    w->tickSound().sendTick(false, 0);
    EXPECT_TRUE(midi.events.empty()) << "silent at 0 %";

    w->picture_menu->actions().at(1)->trigger();
    dlg = w->run().practiceDialog();
    EXPECT_TRUE(dlg->isVisible() && dlg->cmbCount->currentIndex() == 2);
    dlg->reject();

    writeMenu("Plain parm=(1111) m80 s1 a0 d0 g0 f0\r\n");
    create();
    EXPECT_EQ(std::pair(w->tickSound().volumePercent(), w->tickSound().pair()), std::pair(0, 1));
    EXPECT_FALSE(w->run().practice().on) << "practice lives in presets, not in the user's settings";

    // Saved with a preset (before the memo), read back with it; a preset without practice turns
    // it off.
    const PracticeSettings p{
        .on = true, .countInBars = 1, .mute = Mute::Chance, .mutePercent = 30, .timerMinutes = 20};
    w->run().setPractice(p);
    w->btn_save_Click();
    frm_save *save = w->saveDialog();
    ASSERT_TRUE(save && save->chkP->isChecked());
    save->title->setText("Trainer");
    save->memo->setText("slow");
    save->btn_save_Click();
    EXPECT_TRUE(readMenu().endsWith("Trainer parm=(1111) m80 s1 a0 d0 g0 f0 practice=(count=1 "
                                    "mute=30% timer=20) memo=slow\r\n"));
    ASSERT_EQ(w->menu1->count(), 2);

    emit w->menu1->activated(0);
    EXPECT_EQ(std::tuple(w->run().practice().on, w->run().practice().timerMinutes),
              std::tuple(false, 20))
        << "the timer kept for the Practice window";
    emit w->menu1->activated(1);
    EXPECT_EQ(std::tuple(w->run().practice(), w->presetMemo()), std::tuple(p, QString("slow")));

    // Off: offered unticked, and the line is as it always was.
    emit w->menu1->activated(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    w->btn_save_Click();
    ASSERT_TRUE(w->saveDialog() && !w->saveDialog()->chkP->isChecked());
    w->saveDialog()->btn_save_Click();
    EXPECT_FALSE(readMenu().split('\n').at(2).contains("practice"));
}

#include "beat/calibration.h"
#include "beat/frame_pacer.h"
#include "clock_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <tuple>
#include <utility>

using namespace pv2;
using namespace pv2::test;

TEST(SteadyClock, TicksComeFiftyMsAheadWithTheDownbeatNoteBeforeBeatZero) {
    const struct {
        const char *pattern, *ticks; // ms after START, o or D for the downbeat note
    } cases[] = {{"1111", "950o 1450o 1950o 2450D "}, {"1", "950o 1450o 1950o 2450o "}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pattern);
        ClockRig rig;
        rig.pattern = c.pattern;
        rig.start();
        const uint32_t t0 = rig.counter.now();
        rig.runFor(2600);
        // The very first interval after program start has no tick; each is sent when due.
        std::string got;
        for (const Tick &t : rig.ticks)
            got += std::to_string(t.due - t0) + (t.downbeat ? 'D' : 'o') +
                   (t.sentAt == t.due ? " " : "(late) ");
        EXPECT_EQ(got, c.ticks);
    }
}

TEST(SteadyClock, FlightFollowsTheArcAStopRestsOnTheNextBeatAndARestartTicksAtOnce) {
    ClockRig rig;
    rig.start();
    const uint32_t t0 = rig.counter.now();
    const BeatSlot s = rig.st.beats[3];
    rig.fireAt(t0 + 250); // half way: top of the arc, half the way across
    EXPECT_EQ(rig.balls.back(), QPoint(s.x + s.dx / 2, rig.height - 44 - s.height));
    rig.fireAt(t0 + 495); // beat noticed 5 ms early; the next flight has not begun
    rig.fireAt(t0 + 497);
    EXPECT_EQ(rig.balls.back(), QPoint(rig.st.beats[0].x, rig.height - 44));
    rig.runFor(203); // into beat 0's interval
    rig.engine.requestStop();
    const auto ticksBefore = rig.ticks.size();
    rig.runFor(200);
    EXPECT_TRUE(rig.active) << "the interval runs to its end";
    rig.runFor(1000);
    EXPECT_TRUE(!rig.active && rig.memos == 1 && !rig.st.stopRequested && rig.st.curBeat == 1);
    EXPECT_EQ(rig.ticks.size(), ticksBefore + 1) << "the tick of the stopping beat still sounds";
    EXPECT_EQ(rig.balls.back(), QPoint(rig.st.beats[1].x, rig.height - 44));
    // Unlike the first run, a later one ticks the downbeat that ends its first interval.
    rig.start();
    rig.runFor(480);
    ASSERT_EQ(rig.ticks.size(), ticksBefore + 2);
    EXPECT_TRUE(rig.ticks.back().downbeat);
    EXPECT_EQ(rig.ticks.back().due, rig.st.beatStartTick + 450);
}

// Sound switched off sends nothing and keeps the tick pending. A tempo waits for the next beat;
// a pattern changed meanwhile rebuilds the schedule that plays.
TEST(SteadyClock, SoundOffThenAPendingTempoAndARebuild) {
    ClockRig rig;
    rig.start();
    rig.runFor(1000);
    rig.ticks.clear();
    rig.st.soundOn = false;
    rig.applyTempo("60");
    EXPECT_EQ(rig.st.beats[2].ms, 500);
    rig.runFor(460); // past the tick moment of the next beat
    EXPECT_TRUE(rig.ticks.empty());
    rig.st.soundOn = true;
    rig.runFor(1);
    // Switched back on inside the last 50 ms: that beat's tick sounds late, at once.
    EXPECT_EQ(rig.ticks.size(), 1u);
    rig.runFor(29); // beat 2 noticed at 1490 (10 ms early)
    EXPECT_TRUE(rig.st.beats[2].ms == 1000 && !rig.st.nextBeatsPending);
    const uint32_t start = rig.st.beatStartTick;
    rig.runFor(1000);
    EXPECT_EQ(rig.st.beatStartTick, start + 1000);
    rig.applyTempo("120");
    rig.pattern = "11";
    rig.engine.rebuildBeats();
    const int16_t x = rig.st.beats[1].x;
    rig.runFor(1500);
    EXPECT_EQ(rig.st.beats[1].x, x);
}

TEST(SteadyClock, AStalledMachineStartsAgainAndAStartResynchronisesTheSlot) {
    ClockRig rig;
    rig.pattern = "111111";
    rig.start();
    rig.runFor(600);
    rig.fireAt(rig.counter.now() + 5000); // suspended for five seconds
    EXPECT_EQ(rig.st.beatStartTick, rig.counter.now());
    const int beat = rig.st.curBeat;
    rig.runFor(100);
    EXPECT_EQ(rig.st.curBeat, beat) << "no burst of missed beats";
    rig.runFor(1800);
    rig.engine.requestStop();
    rig.runFor(600);
    rig.pattern = "11";
    rig.start();
    EXPECT_TRUE(rig.st.curBeat == 1 && rig.clock.slotIndex() == 1);
}

// A simulated day: the fake counter jumps from one timer firing to the next.
TEST(SteadyClock, ADayOfTempoAndPatternChangesKeepsEveryBeatOnTheGrid) {
    constexpr int64_t kHour = 3600 * 1000;
    ClockRig rig;
    // Three hours before the 32-bit counter wraps, so the day crosses the wrap once.
    const uint32_t t0 = 0xFFFFFFFFu - static_cast<uint32_t>(3 * kHour);
    rig.counter.set(t0);
    rig.tempoText = "208";
    rig.start();
    std::mt19937 gen(20240501u);
    auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); };
    const char *patterns[] = {"1111", "111", "11", "111111", "3 3 2-", "4-", "11111", "1"};
    const int tempos[] = {208, 200, 216, 180, 240, 96};

    uint32_t grid = t0; // where the current interval began on the grid
    int64_t beats = 0, ticks = 0, changes = 0, elapsed = 0;
    int64_t nextChange = rnd(120000, 300000);
    while (elapsed < 24 * kHour) {
        // Mostly up to 12 ms late, now and then up to 45 ms.
        const int gap = 20 + (rnd(0, 99) == 0 ? rnd(13, 45) : rnd(0, 12));
        elapsed += gap;
        if (elapsed >= nextChange) {
            // Between two firings, as a window event comes: a pattern takes effect at once, a
            // tempo at the next beat.
            if (++changes % 2) {
                rig.pattern = patterns[rnd(0, 7)];
                rig.engine.rebuildBeats();
            } else {
                rig.applyTempo(QString::number(tempos[rnd(0, 5)]));
            }
            nextChange += rnd(120000, 300000);
        }
        const int32_t ms = rig.st.beats[std::clamp<int>(rig.st.curBeat, 0, kMaxBeats - 1)].ms;
        const uint32_t due = grid + static_cast<uint32_t>(ms);
        const uint32_t now = t0 + static_cast<uint32_t>(elapsed);
        rig.beatStarts.clear();
        rig.fireAt(now);
        rig.balls.clear();
        for (const Tick &t : rig.ticks)
            ASSERT_TRUE(t.due == due - 50u && tickDiff(t.sentAt, t.due) >= 0) << "beat " << beats;
        ticks += static_cast<int64_t>(rig.ticks.size());
        rig.ticks.clear();
        const int32_t early = tickDiff(due, now); // > 0 while the beat is not due yet
        if (rig.beatStarts.empty()) {
            ASSERT_GT(early, 10) << "beat missed at beat " << beats;
            continue;
        }
        ++beats;
        ASSERT_LE(early, 10) << "beat noticed too early, beat " << beats;
        grid = due;
        ASSERT_EQ(rig.st.beatStartTick, grid) << "off the grid at beat " << beats;
        // Every pattern here beats evenly, at the tempo the box shows by now.
        ASSERT_EQ(rig.st.beats[rig.st.curBeat].ms, std::lround(60000.0 / rig.tempoText.toInt()))
            << "beat " << beats;
    }
    EXPECT_LT(rig.counter.now(), t0);
    EXPECT_GT(changes, 400);
    // The first beat after the start has no tick; every later beat has exactly one.
    EXPECT_EQ(ticks, beats - 1);
}

TEST(FluctClock, BeatsVaryWithinBoundsAndStayOnTheirScheduledMoments) {
    ClockRig rig;
    rig.pattern = "1";
    rig.tempoText = "60";
    rig.fluctChecked = true;
    rig.random.values = {0.3f, 0.61f, 0.9f, 0.27f};
    rig.clock.reseedFluct();
    rig.start();
    const double W = rig.st.trackWidth;
    uint32_t grid = rig.st.beatStartTick;
    for (size_t i = 1; i <= 300; ++i) {
        grid += static_cast<uint32_t>(rig.st.beats[0].ms);
        while (rig.beatStarts.size() < i)
            rig.fireAt(rig.counter.now() + 23);
        ASSERT_EQ(rig.st.beatStartTick, grid) << i;
        EXPECT_TRUE(rig.st.beats[0].ms >= 700 && rig.st.beats[0].ms <= 1000) << i;
        EXPECT_TRUE(rig.st.beats[1].x >= std::floor(0.15 * W) - 1 &&
                    rig.st.beats[1].x <= std::ceil(0.85 * W) + 1)
            << i;
    }
}

namespace {

TEST(AvSync, PictureWaitsForWhatTheLeadCannotCoverAndTheOffsetMovesOnlyTheTick) {
    struct Case {
        int backendDelay, offset, pictureDelay, tickShift;
    } cases[] = {
        {50, 0, 0, 0},      // the lead covers the path
        {78, 0, 28, 0},     // output latency beyond the lead: the picture waits
        {78, 200, 228, 0},  // Bluetooth: the picture waits for the ear too
        {78, -20, 8, 0},    // a slow screen takes part of the wait
        {78, -100, 0, 72},  // a slower screen: the tick waits instead
        {0, 120, 120, 0},   // no clock in the backend: only the picture can move
        {50, -250, 0, 250}, // the offset's floor
    };
    for (const Case &c : cases) {
        const AvPlan p = planAvSync(c.backendDelay, 50, c.offset);
        // Heard (in the backend's terms, plus what lies beyond) when the landing is shown.
        const int heard = -50 + c.tickShift + std::max(c.backendDelay, 50) + c.offset;
        EXPECT_EQ(std::tuple(p.pictureDelayMs, p.tickShiftMs, heard),
                  std::tuple(c.pictureDelay, c.tickShift, c.pictureDelay))
            << c.backendDelay << " " << c.offset;
    }
}

// The clock drawing through a pacer onto the rig; the rig fires the beat timer and the pacer's
// single shot, whichever is due first, as the event loop would.
struct PacedRig : ClockRig {
    struct Shot : BeatTimer {
        TickCounter &counter;
        bool armed = false;
        uint32_t at = 0;
        explicit Shot(TickCounter &c) : counter(c) {}
        void start(int ms) override {
            armed = true;
            at = counter.now() + uint32_t(ms);
        }
        void stop() override { armed = false; }
        bool isActive() const override { return armed; }
    } shot{counter};
    FramePacer pacer{*this, counter, shot, [](const std::function<void()> &draw) { draw(); }};
    BeatClock paced = BeatClock(
        st, counter, pacer, *this, random, [this](bool d, uint32_t due) { sendTick(d, due); },
        [this] { return fluctChecked; }, [] { return false; });

    void startPaced(int period) {
        engine.start();
        paced.armBeatTimer(period);
    }
    void step() {
        pacer.beginStep();
        paced.onTimer();
        pacer.endStep();
    }
    // The beat timer fires every period, each time a little late; besides, a step runs when each
    // beat is due, and the pacer shows what waits.
    void run(int32_t ms, int period, int lateness) {
        const uint32_t end = counter.now() + static_cast<uint32_t>(ms);
        uint32_t next = counter.now() + static_cast<uint32_t>(period);
        int n = 0;
        while (tickDiff(end, counter.now()) > 0 && (active || shot.armed)) {
            const uint32_t fire = next + static_cast<uint32_t>(n * 7 % (lateness + 1));
            const uint32_t beat = paced.nextBeatAt();
            if (shot.armed &&
                (!active || (tickDiff(shot.at, fire) <= 0 && tickDiff(shot.at, beat) <= 0))) {
                counter.set(shot.at);
                shot.armed = false;
                pacer.presentDue();
            } else if (active && tickDiff(beat, fire) < 0) {
                counter.set(beat);
                step();
            } else {
                counter.set(fire);
                step();
                ++n;
                next += static_cast<uint32_t>(period);
            }
        }
    }
};

TEST(FramePacer, LandingsShowAtTheirBeatAndEverythingWaitsThePictureDelay) {
    for (int delay : {0, 28, 230}) {
        for (int period : {5, 20, 100}) {
            PacedRig r;
            r.pacer.setDelay(delay);
            r.startPaced(period);
            const uint32_t start = r.counter.now();
            r.run(4000, period, period / 2);
            const int floor = r.height - r.st.ballHeight;
            // Landings: the ball on the floor at a beat's spot, at start + n * 500 + delay; each
            // stays long enough for a display to show it.
            std::vector<uint32_t> landings;
            const auto &at = r.ballTimes;
            for (size_t i = 0; i < at.size(); ++i) {
                // In order, and never a flight frame shown before its own moment.
                EXPECT_TRUE(i == 0 || tickDiff(at[i], at[i - 1]) >= 0);
                if (r.balls[i].y() != floor || (i > 0 && r.balls[i - 1].y() == floor))
                    continue;
                landings.push_back(at[i]);
                if (i + 1 < at.size()) {
                    EXPECT_GE(tickDiff(at[i + 1], at[i]), FramePacer::kLandingHoldMs)
                        << delay << " " << period << " " << i;
                }
            }
            ASSERT_GE(landings.size(), 7u) << delay << " " << period;
            for (size_t k = 0; k < landings.size(); ++k)
                EXPECT_EQ(tickDiff(landings[k], start), int32_t(500 * (k + 1) + delay))
                    << delay << " " << period << " " << k;
        }
    }
}

TEST(FramePacer, AStopShowsItsLastLandingAndDrawingOutsideAStepFlushesFirst) {
    PacedRig r;
    r.pacer.setDelay(40);
    r.startPaced(20);
    r.run(700, 20, 0);
    r.engine.requestStop();
    r.run(2000, 20, 0);
    EXPECT_TRUE(!r.active && r.pacer.waiting() == 0u && r.memos == 1);
    EXPECT_EQ(r.balls.back(), QPoint(r.st.beats[r.st.curBeat].x, r.height - r.st.ballHeight));

    // A frame still waiting is shown before a drawing made outside the clock.
    r.startPaced(20);
    r.run(60, 20, 0);
    ASSERT_GT(r.pacer.waiting(), 0u);
    const size_t before = r.balls.size();
    r.pacer.drawBall(1, 2);
    EXPECT_TRUE(r.pacer.waiting() == 0u && r.balls.size() > before + 1);
    EXPECT_EQ(r.balls.back(), QPoint(1, 2));
}

constexpr int _ = INT_MIN;               // no tap for this click
constexpr uint32_t kFirst = 0xFFFFF000u; // the counter wraps during the clicks

struct Case {
    const char *name;
    int leadIn; // tap - click, ms, at each lead-in click
    int counted[kCalibrationClicks - kCalibrationLeadIn];
    std::optional<int> expected;
    std::vector<std::pair<int, int>> extra = {}; // further taps: click index, tap - click
};

} // namespace

TEST(Calibration, OffsetIsTheRoundedMeanOfTheGoodTapsAfterTheLeadIn) {
    const std::optional<int> none;
    // clang-format off
    const Case cases[] = {
        //          lead-in  counted clicks
        {"late",          120, {120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120}, 120},
        {"leadIn",       -200, {120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120}, 120},
        {"rounded",         0, { 10,  13,  10,  13,  10,  13,  10,  13,  10,  13,  10,  13}, 12},
        {"missing",         _, {120,   _, 120, 120,   _, 120, 120,   _, 120, 120,   _, 120}, 120},
        {"tooFew",          0, {120, 120, 120, 120, 120, 120, 120,   _,   _,   _,   _,   _}, none},
        {"outlier",         _, {120, 120, 120, 120, 120, 290, 120, 120, 120, 120, 120, 120}, 120},
        {"nearOutlier",     _, {100, 100, 100, 100, 100, 145, 100, 100, 100, 100, 100, 100}, 104},
        {"outlierToFew",    _, {120, 120, 120, 250, 120, 120, 120, 120,   _,   _,   _,   _}, none},
        {"clampLate",     280, {280, 280, 280, 280, 280, 280, 280, 280, 280, 280, 280, 280}, 250},
        // A click keeps its nearest tap, whichever comes first.
        {"twoTaps",         0, {120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120},
         120, {{5, 160}, {6, 150}}},
        {"twoTapsAreOne",   _, {120, 120, 120, 120, 120, 120, 120,   _,   _,   _,   _,   _},
         none, {{4, 130}}},
        // Half an interval from a click: between two, past the last, before the first.
        {"halfInterval",    _, {270, 270, 270, 270, 270, 270, 270,   _,   _,   _,   _,   _},
         none, {{11, 300}, {15, 300}, {0, -300}, {0, -1000}}},
    };
    // clang-format on
    for (const Case &c : cases) {
        std::vector<uint32_t> clicks, taps;
        for (int i = 0; i < kCalibrationClicks; ++i) {
            clicks.push_back(kFirst + uint32_t(600 * i));
            const int d = i < kCalibrationLeadIn ? c.leadIn : c.counted[i - kCalibrationLeadIn];
            if (d != _)
                taps.push_back(clicks[i] + uint32_t(d));
        }
        // Taps come in any order: extras alternately before and after the others.
        std::reverse(taps.begin(), taps.end());
        for (size_t k = 0; k < c.extra.size(); ++k) {
            const uint32_t t = clicks[c.extra[k].first] + uint32_t(c.extra[k].second);
            taps.insert(k % 2 ? taps.end() : taps.begin(), t);
        }
        EXPECT_EQ(calibrationOffsetMs(clicks, taps), c.expected) << c.name;
    }
}

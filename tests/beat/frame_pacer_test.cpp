#include "beat/frame_pacer.h"
#include "clock_fakes.h"

#include <gtest/gtest.h>

#include <tuple>

namespace pv2::test {
namespace {

TEST(AvSync, PictureWaitsForWhatTheLeadCannotCoverAndTheOffsetMovesOnlyTheTick) {
    struct Case {
        int backendDelay, offset, pictureDelay, tickShift;
    } cases[] = {
        {0, 0, 0, 0},       // sends at once: taken as meant
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
        [this] { return fluctChecked; }, [this] { return upbeat; });

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
    r.requestStop();
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

} // namespace
} // namespace pv2::test

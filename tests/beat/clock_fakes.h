#pragma once

#include "beat/beat_clock.h"
#include "beat/beat_engine.h"
#include "platform/numeric.h"
#include "support/fake_tick_counter.h"

#include <QPoint>
#include <QString>
#include <deque>
#include <vector>

namespace pv2::test {

// Replays given numbers, then zeros.
struct ScriptedRandom : RandomSource {
    std::deque<float> values;
    void reseed() override {}
    float next() override {
        if (values.empty())
            return 0.0f;
        const float v = values.front();
        values.pop_front();
        return v;
    }
};

struct Tick {
    bool downbeat;
    uint32_t due;
    uint32_t sentAt;
};

// A clock that draws on and is timed by the rig itself, run by the window's own run rules.
struct ClockRig : BallView, BeatTimer {
    FakeTickCounter counter{1000};
    ScriptedRandom random;
    int height = 433;
    std::vector<QPoint> balls;
    std::vector<uint32_t> ballTimes; // the counter at each ball drawn
    int memos = 0;
    bool active = false;
    std::vector<Tick> ticks;
    std::vector<uint32_t> beatStarts; // grid start of every beat reached by fireAt
    bool fluctChecked = false;
    QString tempoText = QStringLiteral("120"); // 500 ms beats
    QString pattern = QStringLiteral("1111");
    BeatEngine engine = BeatEngine(
        // Tempo and pattern text, the 1/f box, then the area's width and height.
        [this] {
            return ScheduleInput{tempoText, pattern, fluctChecked, 609, height};
        },
        [this](const QString &text) { tempoText = text; });
    EngineState &st = engine.state();
    BeatClock clock = BeatClock(
        st, counter, *this, *this, random, [this](bool d, uint32_t due) { sendTick(d, due); },
        [this] { return fluctChecked; }, [] { return false; });

    virtual void sendTick(bool downbeat, uint32_t due) {
        ticks.push_back({downbeat, due, counter.now()});
    }
    int areaHeight() const override { return height; }
    void clearArea() override {}
    void setBackground(uint32_t) override {}
    void drawBall(int x, int y) override {
        balls.emplace_back(x, y);
        ballTimes.push_back(counter.now());
    }
    void drawGuideLine() override {}
    void showMemo() override { ++memos; }
    void start(int) override { active = true; }
    void stop() override { active = false; }
    bool isActive() const override { return active; }

    void applyTempo(const QString &t) {
        tempoText = t;
        engine.applyTempo();
    }
    // What the START button does.
    void start() {
        engine.start();
        clock.armBeatTimer(20);
    }
    void fireAt(uint32_t t) {
        const uint32_t before = st.beatStartTick;
        counter.set(t);
        clock.onTimer();
        if (st.beatStartTick != before)
            beatStarts.push_back(st.beatStartTick);
    }
    // Fires every `step` ms for `ms` ms while the timer runs.
    void runFor(int32_t ms, int32_t step = 1) {
        const uint32_t end = counter.now() + static_cast<uint32_t>(ms);
        while (active && tickDiff(end, counter.now()) > 0)
            fireAt(counter.now() + static_cast<uint32_t>(step));
    }
};

} // namespace pv2::test

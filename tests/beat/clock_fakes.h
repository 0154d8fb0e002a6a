#pragma once

#include "beat/beat_clock.h"
#include "beat/schedule.h"
#include "platform/numeric.h"
#include "platform/tick_counter.h"

#include <QString>
#include <deque>
#include <vector>

namespace pv2::test {

struct FakeView : BallView {
    struct Ball {
        int x, y;
    };
    int height = 433;
    std::vector<Ball> balls;
    std::vector<uint32_t> backgrounds;
    int clears = 0;
    int guideLines = 0;
    int memos = 0;
    int areaHeight() const override { return height; }
    void clearArea() override { ++clears; }
    void setBackground(uint32_t bgr) override { backgrounds.push_back(bgr); }
    void drawBall(int x, int y) override { balls.push_back({x, y}); }
    void drawGuideLine() override { ++guideLines; }
    void showMemo() override { ++memos; }
};

struct FakeTimer : BeatTimer {
    bool active = false;
    int period = 0;
    void start(int p) override {
        active = true;
        period = p;
    }
    void stop() override { active = false; }
    bool isActive() const override { return active; }
};

// Replays given numbers, then zeros.
struct ScriptedRandom : RandomSource {
    std::deque<float> values;
    int reseeds = 0;
    void reseed() override { ++reseeds; }
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

// A clock wired to fakes, with the window's start and rebuild rules.
struct ClockRig {
    EngineState st;
    FakeTickCounter counter{1000};
    FakeView view;
    FakeTimer timer;
    ScriptedRandom random;
    std::vector<Tick> ticks;
    bool fluctChecked = false;
    bool upbeat = false;
    FluctProfile profile = fillFluctProfile();
    QString tempoText = QStringLiteral("80");
    QString pattern = QStringLiteral("1111");
    int areaWidth = 609;
    BeatClock clock{st,
                    counter,
                    view,
                    timer,
                    random,
                    [this](bool d, uint32_t due) {
                        ticks.push_back({d, due, counter.now()});
                    },
                    [this] { return fluctChecked; },
                    [this] { return upbeat; }};

    void build(Schedule &table) {
        ScheduleInput in;
        in.tempoText = tempoText;
        in.patternText = pattern;
        in.fluctChecked = fluctChecked;
        in.areaWidth = areaWidth;
        in.areaHeight = view.height;
        in.profile = &profile;
        const auto r = buildSchedule(table, in);
        st.tempo = r.tempo;
        st.beatsPerBar = r.beatsPerBar;
        st.trackWidth = r.trackWidth;
        if (r.oneBeat) {
            st.fluctBeatMs = r.fluctBeatMs;
            st.fluctHeight = r.fluctHeight;
        }
    }
    void rebuildBeats() {
        build(st.beats);
        st.nextBeatsPending = false;
    }
    void applyTempo(const QString &t) {
        tempoText = t;
        build(st.nextBeats);
        st.nextBeatsPending = true;
    }
    // What the START button does.
    void start(int period = 20) {
        st.isStopped = false;
        rebuildBeats();
        st.curBeat = static_cast<int16_t>(st.beatsPerBar - 1);
        clock.armBeatTimer(period);
    }
    void requestStop() {
        st.stopRequested = true;
        st.isStopped = true;
    }
    // Fires the timer once at the given moment.
    void fireAt(uint32_t t) {
        counter.set(t);
        clock.onTimer();
    }
    // Fires every `step` ms until `until` (relative to now), while the timer runs.
    void runFor(int32_t ms, int32_t step = 1) {
        const uint32_t end = counter.now() + static_cast<uint32_t>(ms);
        while (timer.active && tickDiff(end, counter.now()) > 0)
            fireAt(counter.now() + static_cast<uint32_t>(step));
    }
};

} // namespace pv2::test

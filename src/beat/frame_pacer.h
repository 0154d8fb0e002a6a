#pragma once

#include "beat_clock.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace pv2 {

class TickCounter;

// How the picture and the tick are lined up for one run. The clock sends each tick tickLead
// before its beat, and the backend makes it heard backendDelay after that; the user's offset is
// what the path beyond the program adds to the sound (Bluetooth: positive) or to the picture
// (a television: negative).
struct AvPlan {
    // How long after its due moment a tick is heard, before the shift.
    int soundDelayMs = 0;
    // The picture shows each moment this much later, so that it lands when the tick is heard.
    int pictureDelayMs = 0;
    // Added to each tick's due moment: the sound waits instead.
    int tickShiftMs = 0;
};
// A backend that sends at once (backendDelay 0) is taken to sound at the beat, as the lead meant.
AvPlan planAvSync(int backendDelayMs, int tickLeadMs, int userOffsetMs);

// Between the clock and the drawing area: collects what one clock step draws as a frame and shows
// it at the moment it stands for. A landing is shown at its beat, not at whichever timer firing
// noticed it; everything is shown pictureDelay later when the sound needs the picture to wait.
class FramePacer : public BallView {
public:
    // timer is a precise single shot whose firing runs presentDue(); showFrame runs one frame's
    // drawing between the target's frame brackets.
    FramePacer(BallView &target, TickCounter &counter, BeatTimer &timer,
               std::function<void(const std::function<void()> &draw)> showFrame);

    // A landing stays at least one refresh of a 60 Hz display before the flight goes on: the
    // next flight frame may be due a fraction of a millisecond after it.
    static constexpr int kLandingHoldMs = 17;

    void setDelay(int ms) { m_delay = ms; }
    // From the next landing on, the clock's ball is left out of the frames (a silent bar the
    // player keeps time through alone), or drawn again; the flight before it keeps its ball.
    void hideBallFromNextLanding(bool hide) { m_hideNext = hide; }
    void showBall() { m_hidden = m_hideNext = false; }
    int delay() const { return m_delay; }

    // Around one step of the clock.
    void beginStep();
    void endStep();
    // Shows the frames whose moment has come, and waits for the next.
    void presentDue();
    // Shows every waiting frame now.
    void flush();
    size_t waiting() const { return m_frames.size(); }

    int areaHeight() const override;
    void clearArea() override;
    void setBackground(uint32_t bgr) override;
    void drawBall(int x, int y) override;
    void drawGuideLine() override;
    void showMemo() override;
    void landingAt(uint32_t tick) override;

private:
    enum class Op : uint8_t { Clear, Background, Ball, Guide, Memo };
    struct Step {
        Op op;
        int x, y;
        uint32_t bgr;
    };
    struct Frame {
        uint32_t showAt = 0;
        bool landing = false;
        std::vector<Step> steps;
    };

    void add(Step s);
    void show(const Frame &f);
    void armFor(uint32_t now);

    BallView &m_target;
    TickCounter &m_counter;
    BeatTimer &m_timer;
    std::function<void(const std::function<void()> &)> m_showFrame;
    int m_delay = 0;
    bool m_inStep = false;
    bool m_holding = false;
    bool m_hidden = false, m_hideNext = false;
    uint32_t m_holdUntil = 0;
    Frame m_current;
    std::vector<Frame> m_frames; // in order of their steps
};

} // namespace pv2

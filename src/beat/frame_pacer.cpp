#include "frame_pacer.h"

#include "platform/numeric.h"
#include "platform/tick_counter.h"

#include <algorithm>

namespace pv2 {

AvPlan planAvSync(int backendDelayMs, int tickLeadMs, int userOffsetMs) {
    AvPlan p;
    p.soundDelayMs = std::max(backendDelayMs, tickLeadMs);
    p.pictureDelayMs = std::max(0, p.soundDelayMs - tickLeadMs + userOffsetMs);
    p.tickShiftMs = tickLeadMs + p.pictureDelayMs - userOffsetMs - p.soundDelayMs;
    return p;
}

FramePacer::FramePacer(BallView &target, TickCounter &counter, BeatTimer &timer,
                       std::function<void(const std::function<void()> &)> showFrame)
    : m_target(target), m_counter(counter), m_timer(timer), m_showFrame(std::move(showFrame)) {}

void FramePacer::beginStep() {
    m_inStep = true;
    m_current.steps.clear();
    m_current.landing = false;
    m_current.showAt = m_counter.now() + static_cast<uint32_t>(m_delay);
}

void FramePacer::endStep() {
    m_inStep = false;
    if (m_current.steps.empty())
        return;
    m_frames.push_back(std::move(m_current));
    m_current = Frame{};
    presentDue();
}

void FramePacer::presentDue() {
    const uint32_t now = m_counter.now();
    if (m_holding && tickDiff(m_holdUntil, now) <= 0)
        m_holding = false;
    size_t n = 0;
    while (!m_holding && n < m_frames.size() && tickDiff(m_frames[n].showAt, now) <= 0) {
        show(m_frames[n]);
        if (m_frames[n++].landing) {
            m_holding = true;
            m_holdUntil = now + static_cast<uint32_t>(kLandingHoldMs);
        }
    }
    m_frames.erase(m_frames.begin(), m_frames.begin() + static_cast<std::ptrdiff_t>(n));
    armFor(now);
}

void FramePacer::flush() {
    for (const Frame &f : m_frames)
        show(f);
    m_frames.clear();
    m_holding = false;
    m_timer.stop();
}

// Only a landing wakes the pacer at its moment: flight frames wait for the next step, a period
// apart anyway, so that a waiting picture costs no wake-up of its own. A held landing wakes it
// once more when the hold ends if a landing waits behind it.
void FramePacer::armFor(uint32_t now) {
    const auto landing =
        std::find_if(m_frames.begin(), m_frames.end(), [](const Frame &f) { return f.landing; });
    if (landing == m_frames.end()) {
        m_timer.stop();
        return;
    }
    int wait = tickDiff(landing->showAt, now);
    if (m_holding)
        wait = std::max(wait, tickDiff(m_holdUntil, now));
    m_timer.start(std::max(0, wait));
}

void FramePacer::show(const Frame &f) {
    m_showFrame([&] {
        for (const Step &s : f.steps) {
            switch (s.op) {
            case Op::Clear:
                m_target.clearArea();
                break;
            case Op::Background:
                m_target.setBackground(s.bgr);
                break;
            case Op::Ball:
                m_target.drawBall(s.x, s.y);
                break;
            case Op::Guide:
                m_target.drawGuideLine();
                break;
            case Op::Memo:
                m_target.showMemo();
                break;
            }
        }
    });
}

// Outside a step (a preset's memo, a stop shown at once) drawing goes straight through, after
// whatever is still waiting.
void FramePacer::add(Step s) {
    if (m_inStep) {
        m_current.steps.push_back(s);
        return;
    }
    flush();
    m_current.steps.assign(1, s);
    show(m_current);
    m_current.steps.clear();
}

int FramePacer::areaHeight() const {
    return m_target.areaHeight();
}
void FramePacer::clearArea() {
    add({Op::Clear, 0, 0, 0});
}
void FramePacer::setBackground(uint32_t bgr) {
    add({Op::Background, 0, 0, bgr});
}
void FramePacer::drawBall(int x, int y) {
    if (m_inStep && m_hidden)
        return;
    add({Op::Ball, x, y, 0});
}
void FramePacer::drawGuideLine() {
    add({Op::Guide, 0, 0, 0});
}
void FramePacer::showMemo() {
    add({Op::Memo, 0, 0, 0});
}
void FramePacer::landingAt(uint32_t tick) {
    if (!m_inStep)
        return;
    m_current.showAt = tick + static_cast<uint32_t>(m_delay);
    m_current.landing = true;
    m_hidden = m_hideNext;
}

} // namespace pv2

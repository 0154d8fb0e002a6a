#pragma once

#include "beat/beat_clock.h"

#include <QTimer>

namespace pv2 {

// A QTimer as the beat clock and the frame pacer see it.
class QtBeatTimer : public BeatTimer {
public:
    explicit QtBeatTimer(QTimer *t) : m_timer(t) {}
    void start(int periodMs) override { m_timer->start(periodMs); }
    void stop() override { m_timer->stop(); }
    bool isActive() const override { return m_timer->isActive(); }

private:
    QTimer *m_timer;
};

} // namespace pv2

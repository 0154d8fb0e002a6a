#pragma once

#include "beat/beat_clock.h"
#include "beat/frame_pacer.h"

#include <QFont>
#include <QImage>
#include <QObject>
#include <array>
#include <memory>

class QCheckBox;
class QTimer;

namespace pv2 {

class PictureBox;
class TickCounter;

// The drawing area and the beat row under it: what the clock draws on (through the frame
// pacer, which frame_timer serves), the beat marks, the guide line and the preset's memo.
class BeatDisplay : public QObject, public BallView {
    Q_OBJECT
public:
    struct Controls {
        PictureBox *Picture1;
        PictureBox *Picture2;
        QCheckBox *chkBmark;
        QCheckBox *L3check;
        QTimer *frame_timer;
    };
    BeatDisplay(const Controls &controls, EngineState &state, TickCounter &counter);
    ~BeatDisplay() override;

    // Draws the beat row and records where each digit key starts.
    void B_Disp();
    void drawL3();
    void dispMemo(const QString &text);

    // The memo of the preset last applied, shown when the clock stops.
    void setMemo(const QString &memo) { m_memo = memo; }
    const QString &memo() const { return m_memo; }
    const std::array<int16_t, 31> &digitStart() const { return m_digitStart; }
    FramePacer &pacer() { return *m_pacer; }
    void presentFrames();
    // While practice is on: a few words in the drawing area's corner, and the beat marks in
    // another colour during a count-in.
    void setPracticeStatus(const QString &status, bool countIn);

    int areaHeight() const override;
    void clearArea() override;
    void setBackground(uint32_t bgr) override;
    void drawBall(int x, int y) override;
    void drawGuideLine() override { drawL3(); }
    void showMemo() override { dispMemo(m_memo); }

private:
    void renderPracticeStatus();
    void drawPracticeStatus();

    Controls c;
    EngineState &st;
    QImage m_ball;
    QFont m_drawFont;
    QString m_memo;
    QString m_practiceStatus;
    QImage m_statusImage;
    QRect m_statusBox;
    bool m_countIn = false;
    std::array<int16_t, 31> m_digitStart{};
    std::unique_ptr<BeatTimer> m_shot;
    std::unique_ptr<FramePacer> m_pacer;
};

} // namespace pv2

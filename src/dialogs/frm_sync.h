#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

namespace pv2 {

class TickCounter;

// The user's picture/sound offset: typed in, or measured by tapping along with clicks.
class frm_sync : public QDialog {
    Q_OBJECT
public:
    // playClickAt plays one click to be heard at the given counter moment; it must not apply
    // the offset itself, so that a measurement gives the whole offset.
    using PlayClickFn = std::function<void(uint32_t heardTick)>;
    frm_sync(TickCounter &counter, PlayClickFn playClickAt, int offsetMs, QWidget *owner = nullptr);

    // Shows the window modally over its owner without blocking, the focus on the offset.
    void openModal();

    // The value in the box; after accepted(), the user's new offset.
    int offsetMs() const;
    bool calibrating() const { return m_next >= 0; }

    QLabel *lbl_offset = nullptr;
    QSpinBox *spn_offset = nullptr;
    QPushButton *btn_measure = nullptr;
    QPushButton *btn_tap = nullptr;
    QLabel *lbl_result = nullptr;
    QPushButton *btn_ok = nullptr;
    QPushButton *btn_cancel = nullptr;
    QTimer *sync_timer = nullptr;

    void btn_measure_Click();
    // Posts the clicks due soon and ends the measurement after the last; all time from the
    // counter, so tests call it directly.
    void sync_timer_Timer();
    void tap();

    static constexpr int kIntervalMs = 600; // 100 BPM
    static constexpr int kFirstClickMs = 1000;
    static constexpr int kPostAheadMs = 300;
    static constexpr int kTimerMs = 20;

signals:
    void offsetAccepted(int offsetMs);

public slots:
    void accept() override;
    void done(int r) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void finish();
    void stopMeasuring();

    TickCounter &m_counter;
    PlayClickFn m_playClickAt;
    std::vector<uint32_t> m_clicks;
    std::vector<uint32_t> m_taps;
    int m_next = -1; // the next click to post; -1 when not measuring
    // Late taps after the end must not press OK by accident.
    uint32_t m_quietUntil = 0;
    bool m_quiet = false;
};

} // namespace pv2

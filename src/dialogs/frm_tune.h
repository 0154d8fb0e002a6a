#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>

class QGroupBox;
class QPushButton;
class QRadioButton;
class QTimer;

namespace pv2 {

// Sounds a sustained A or B-flat on channel 1 and detunes it in seven steps.
class frm_tune : public QDialog {
    Q_OBJECT
public:
    using SendFn = std::function<void(uint32_t packed)>;
    explicit frm_tune(SendFn send, QWidget *owner = nullptr);

    // Shows the window modally over its owner, its controls as designed.
    void openModal();

    QPushButton *btn_tune_on = nullptr;
    QPushButton *btn_tune_close = nullptr;
    QPushButton *btn_tune_B = nullptr;
    QGroupBox *Frame1 = nullptr;
    std::array<QRadioButton *, 7> Hz_switch{};
    QTimer *tune_timer = nullptr;

    bool tonePlaying = false;
    int16_t toneNote = 0;
    int toneProgram = 0;
    int16_t toneVelocity = 127;

    void btn_tune_on_Click();
    void btn_tune_B_Click();
    void btn_tune_close_Click();
    void Hz_switch_Click(int index);
    void tune_timer_Timer();

    static constexpr int kTimeoutMs = 30000;

signals:
    // However it closes, after its last note-off.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void toggleTone(QPushButton *own, QPushButton *other, const QString &caption, int note,
                    int program);
    void noteOff();
    void resetControls();

    SendFn m_send;
    bool m_offSent = false;
};

} // namespace pv2

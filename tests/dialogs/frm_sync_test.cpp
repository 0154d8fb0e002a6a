#include "dialogs/frm_sync.h"

#include "support/fake_tick_counter.h"
#include "widget_helpers.h"

#include <optional>

namespace pv2::test {

constexpr int kStepMs = 10;

class SyncWindow : public ::testing::Test {
protected:
    void TearDown() override { sync.hide(); }

    void key(Qt::Key k) { QTest::keyClick(sync.focusWidget(), k); }

    // Measuring or not, the click timer, and which of OK and the tap button take a click.
    std::string state() const {
        const QStringList s{sync.calibrating() ? "measuring" : "idle",
                            sync.sync_timer->isActive() ? "timer" : "no timer",
                            sync.btn_ok->isEnabled() ? "OK" : "OK(off)",
                            sync.btn_tap->isEnabled() ? "tap" : "tap(off)"};
        return s.join(' ').toStdString();
    }
    // Runs the timer over `ms` of fake time, calling `at` at each step.
    void runFor(int ms, const std::function<void()> &at) {
        for (int t = 0; t < ms; t += kStepMs) {
            counter.advance(kStepMs);
            sync.sync_timer_Timer();
            at();
        }
    }

    FakeTickCounter counter{0xFFFFF800u};              // wraps during the first measurement
    std::vector<std::pair<uint32_t, uint32_t>> posted; // counter at posting, heard moment
    std::vector<int> acceptedWith;
    QWidget owner;
    frm_sync sync{counter, [this](uint32_t heard) { posted.emplace_back(counter.now(), heard); },
                  30, &owner};
};

// Keyboard only: 16 clicks 600 ms apart from 1 s after the press, each posted 300 ms ahead; the
// taps of the counted clicks give the offset, which OK then confirms.
TEST_F(SyncWindow, MeasuresTheOffsetFromTapsAndOkConfirmsIt) {
    QObject::connect(&sync, &frm_sync::offsetAccepted,
                     [this](int ms) { acceptedWith.push_back(ms); });
    using Action = std::function<void()>;
    // Name, tap, release, how late the taps are, how many, the offset shown, the result's text.
    const std::tuple<const char *, Action, Action, int, int, int, const char *> cases[] = {
        {"space", [&] { key(Qt::Key_Space); }, {}, -60, 16, -60, "-60 ms"},
        // The press is the tap, not the release 80 ms later.
        {"button", [&] { QTest::mousePress(sync.btn_tap, Qt::LeftButton); },
         [&] { QTest::mouseRelease(sync.btn_tap, Qt::LeftButton); }, 120, 16, 120, "+120 ms"},
        {"tooFew", [&] { key(Qt::Key_Return); }, {}, 40, 11, 120, "足りません"},
    };
    owner.show();
    sync.openModal();
    EXPECT_EQ(QApplication::activeModalWidget(), &sync);
    EXPECT_EQ(sync.offsetMs(), 30);
    // The tap button is skipped until a measurement starts.
    std::vector<QWidget *> order;
    for (int i = 0; i < 4; ++i) {
        key(Qt::Key_Tab);
        order.push_back(sync.focusWidget());
    }
    EXPECT_EQ(order, (std::vector<QWidget *>{sync.btn_measure, sync.btn_ok, sync.btn_cancel,
                                             sync.spn_offset}));
    for (const auto &[name, tap, release, late, taps, offset, label] : cases) {
        SCOPED_TRACE(name);
        counter.advance(1000); // keys just after a measurement are still taken as taps
        posted.clear();
        key(Qt::Key_Tab); // from the offset to 計測
        key(Qt::Key_Space);
        ASSERT_EQ(state(), "measuring timer OK(off) tap");
        EXPECT_EQ(sync.focusWidget(), sync.btn_tap);
        const uint32_t first = counter.now() + 1000;
        std::vector<std::pair<uint32_t, uint32_t>> expected;
        for (uint32_t i = 0; i < 16; ++i)
            expected.emplace_back(first + 600 * i - 300, first + 600 * i);

        std::optional<uint32_t> ended;
        runFor(600 * 15 + 1000 + 300, [&] {
            if (!sync.calibrating() && !ended)
                ended = counter.now();
            const int32_t since = int32_t(counter.now() - first) - late;
            if (since >= 0 && since % 600 == 0 && since / 600 < taps)
                tap();
            if (release && since >= 80 && since % 600 == 80)
                release();
        });
        EXPECT_EQ(posted, expected);
        EXPECT_EQ(ended, first + 600 * 15 + 300) << "half an interval after the last click";
        EXPECT_EQ(state(), "idle no timer OK tap(off)");
        EXPECT_EQ(sync.spn_offset->value(), offset);
        EXPECT_TRUE(sync.lbl_result->text().contains(QString::fromUtf8(label)))
            << sync.lbl_result->text().toStdString();
        EXPECT_EQ(sync.focusWidget(), sync.spn_offset);
    }
    // One more tap just after the end does not confirm; Enter a moment later does.
    counter.advance(100);
    key(Qt::Key_Return);
    EXPECT_TRUE(sync.isVisible());
    counter.advance(1000);
    key(Qt::Key_Return);
    EXPECT_EQ(std::tuple(sync.isVisible(), sync.result(), sync.offsetMs()),
              std::tuple(false, int(QDialog::Accepted), 120));
    EXPECT_EQ(acceptedWith, std::vector<int>{120});

    // Escape ends a measurement and closes the window; no click follows.
    sync.openModal();
    sync.btn_measure->setFocus();
    key(Qt::Key_Space);
    ASSERT_TRUE(sync.calibrating());
    runFor(1500, [] {});
    const size_t before = posted.size();
    key(Qt::Key_Escape);
    EXPECT_EQ(std::tuple(sync.isVisible(), sync.result(), sync.offsetMs()),
              std::tuple(false, int(QDialog::Rejected), 120));
    EXPECT_EQ(state(), "idle no timer OK tap(off)");
    runFor(1000, [] {});
    EXPECT_EQ(posted.size(), before) << "no click after the window closed";
}

} // namespace pv2::test

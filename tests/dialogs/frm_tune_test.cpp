#include "dialogs/frm_tune.h"

#include "widget_helpers.h"

namespace pv2::test {

using Messages = std::vector<uint32_t>;

constexpr uint32_t progA = 0x000017C0, onA = 0x007F4590, offA = 0x00004580;
constexpr uint32_t progB = 0x000048C0, onB = 0x007F4690, offB = 0x00004680;
constexpr uint32_t offNone = 0x00000080;

class TuneWindow : public ::testing::Test {
protected:
    void TearDown() override { tune.hide(); }

    void click(QPushButton *b) { QTest::mouseClick(b, Qt::LeftButton); }
    void clickHz(int i) { clickIndicator(tune.Hz_switch[i], QStyle::SE_RadioButtonIndicator); }

    // Open or closed, sounding or not, the two buttons (disabled ones marked), the time-out.
    std::string state() const {
        QStringList s{tune.isVisible() ? "open" : "closed",
                      tune.tonePlaying ? "sounding" : "silent"};
        for (QPushButton *b : {tune.btn_tune_on, tune.btn_tune_B})
            s << b->text() + (b->isEnabled() ? "" : "(off)");
        s << (tune.tune_timer->isActive() ? "timer" : "no timer");
        return s.join(' ').toStdString();
    }
    // Messages sent by `action` alone.
    template <typename F> Messages during(F action) {
        sent.clear();
        action();
        return sent;
    }

    Messages sent; // declared before the window, which may still send while it is destroyed
    QWidget owner;
    frm_tune tune{[this](uint32_t m) { sent.push_back(m); }, &owner};
};

// Every way out stops the tone with exactly one note-off, also when nothing sounds. Each button
// starts and stops its own tone; while it sounds the other cannot start one.
TEST_F(TuneWindow, EveryWayOutSendsOneNoteOffOfTheLastTone) {
    const std::pair<const char *, std::function<void()>> ways[] = {
        {"closeButton", [&] { click(tune.btn_tune_close); }},
        {"closeBox", [&] { tune.close(); }},
        {"timeout", [&] { QMetaObject::invokeMethod(tune.tune_timer, "timeout"); }},
    };
    for (const auto &[way, closeIt] : ways) {
        SCOPED_TRACE(way);
        // Nothing has sounded before the first way; after it, B was the last tone.
        const uint32_t lastOff = way == ways[0].first ? offNone : offB;
        EXPECT_EQ(during([&] { tune.openModal(); }), Messages{});
        EXPECT_EQ(during(closeIt), Messages{lastOff}) << "no tone at this opening";
        EXPECT_EQ(state(), "closed silent A B-flat no timer");

        tune.openModal();
        EXPECT_EQ(during([&] { click(tune.btn_tune_on); }), (Messages{progA, onA}));
        EXPECT_EQ(during([&] { click(tune.btn_tune_B); }), Messages{}) << "locked";
        EXPECT_EQ(during(closeIt), Messages{offA}) << "A sounding";
        EXPECT_EQ(state(), "closed silent STOP B-flat(off) no timer");

        tune.openModal();
        EXPECT_EQ(during([&] { click(tune.btn_tune_B); }), (Messages{progB, onB}));
        EXPECT_EQ(state(), "open sounding A(off) STOP timer");
        EXPECT_EQ(during([&] { click(tune.btn_tune_B); }), Messages{offB});
        // A stopped tone stops the time-out too.
        EXPECT_EQ(state(), "open silent A B-flat no timer");
        EXPECT_EQ(tune.focusWidget(), tune.btn_tune_close);
        EXPECT_EQ(during(closeIt), Messages{offB}) << "B stopped earlier";
    }

    // Modal without blocking; a reopening is in the design state.
    owner.show();
    tune.openModal();
    EXPECT_EQ(QApplication::activeModalWidget(), &tune);
    EXPECT_EQ(tune.tune_timer->interval(), 30000) << "the time-out runs from the opening";
    const std::vector<QWidget *> chain = tabChain(tune.btn_tune_on);
    EXPECT_EQ(std::vector<QWidget *>(chain.begin(), chain.begin() + 3),
              (std::vector<QWidget *>{tune.btn_tune_on, tune.btn_tune_close, tune.Hz_switch[0]}));
    EXPECT_EQ(chain.back(), tune.btn_tune_B);
    clickHz(5);
    click(tune.btn_tune_on);
    click(tune.btn_tune_on);
    tune.btn_tune_on_Click();
    QMetaObject::invokeMethod(tune.tune_timer, "timeout"); // leaves "STOP" and B-flat disabled
    EXPECT_EQ(during([&] { tune.openModal(); }), Messages{}) << "the device keeps its tuning";
    EXPECT_EQ(state(), "open silent A B-flat timer");
    EXPECT_TRUE(tune.focusWidget() == tune.btn_tune_on && tune.Hz_switch[3]->isChecked());
}

// Each item sends the four fine-tuning messages, silent or while a tone sounds.
TEST_F(TuneWindow, PitchItemsSendTheFourFineTuningMessages) {
    const std::pair<uint32_t, uint32_t> coarseFine[7] = {
        {0x004C06B0, 0x007326B0}, {0x004906B0, 0x000026B0}, {0x004506B0, 0x000326B0},
        {0x004006B0, 0x000026B0}, {0x003C06B0, 0x003526B0}, {0x003A06B0, 0x000026B0},
        {0x003806B0, 0x006426B0}};
    tune.openModal();
    for (const bool sounding : {false, true}) {
        if (sounding)
            click(tune.btn_tune_on);
        for (int i : {1, 2, 3, 4, 5, 6, 0}) {
            EXPECT_EQ(during([&] { clickHz(i); }),
                      (Messages{0x000164B0, 0x000065B0, coarseFine[i].first, coarseFine[i].second}))
                << i << " sounding " << sounding;
            EXPECT_TRUE(tune.Hz_switch[i]->isChecked());
        }
    }
    EXPECT_EQ(state(), "open sounding STOP B-flat(off) timer") << "retuning does not stop the tone";
}

} // namespace pv2::test

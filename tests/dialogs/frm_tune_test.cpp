#include "dialogs/frm_tune.h"

#include "widget_helpers.h"

#include <QApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace pv2 {
namespace {

using Messages = std::vector<uint32_t>;

constexpr uint32_t progA = 0x000017C0, onA = 0x007F4590, offA = 0x00004580;
constexpr uint32_t progB = 0x000048C0, onB = 0x007F4690, offB = 0x00004680;
constexpr uint32_t offNone = 0x00000080;

class TuneWindow : public ::testing::Test {
protected:
    void TearDown() override { tune.hide(); }

    void click(QPushButton *b) { QTest::mouseClick(b, Qt::LeftButton); }
    void clickHz(int i) {
        test::clickIndicator(tune.Hz_switch[i], QStyle::SE_RadioButtonIndicator);
    }
    void fireTimeout() { QMetaObject::invokeMethod(tune.tune_timer, "timeout"); }

    // Messages sent by `action` alone.
    template <typename F> Messages during(F action) {
        sent.clear();
        action();
        return sent;
    }

    Messages sent; // declared before the window, which may still send while it is destroyed
    frm_tune tune{[this](uint32_t m) { sent.push_back(m); }};
};

struct CloseWay {
    const char *name;
    void (*close)(frm_tune &);
};

const CloseWay closeWays[] = {
    {"closeButton", [](frm_tune &t) { QTest::mouseClick(t.btn_tune_close, Qt::LeftButton); }},
    {"closeBox", [](frm_tune &t) { t.close(); }},
    {"escape", [](frm_tune &t) { QTest::keyClick(&t, Qt::Key_Escape); }},
    {"timeout", [](frm_tune &t) { QMetaObject::invokeMethod(t.tune_timer, "timeout"); }},
};

class TuneWindowClose : public TuneWindow, public ::testing::WithParamInterface<CloseWay> {};

// Every way out stops the tone with exactly one note-off, also when nothing sounds.
TEST_P(TuneWindowClose, SendsOneNoteOffOfTheLastTone) {
    const auto closeIt = GetParam().close;

    EXPECT_EQ(during([&] { tune.openModal(); }), Messages{});
    EXPECT_EQ(during([&] { closeIt(tune); }), Messages{offNone}) << "before any tone";
    EXPECT_FALSE(tune.isVisible());
    EXPECT_FALSE(tune.tune_timer->isActive());

    tune.openModal();
    EXPECT_EQ(during([&] { click(tune.btn_tune_on); }), (Messages{progA, onA}));
    EXPECT_EQ(during([&] { closeIt(tune); }), Messages{offA}) << "A sounding";
    EXPECT_FALSE(tune.isVisible());
    EXPECT_FALSE(tune.tonePlaying);
    EXPECT_FALSE(tune.tune_timer->isActive());

    tune.openModal();
    click(tune.btn_tune_B);
    click(tune.btn_tune_B);
    EXPECT_EQ(during([&] { closeIt(tune); }), Messages{offB}) << "B stopped earlier";

    tune.openModal();
    EXPECT_EQ(during([&] { closeIt(tune); }), Messages{offB}) << "a later opening";
}

INSTANTIATE_TEST_SUITE_P(Ways, TuneWindowClose, ::testing::ValuesIn(closeWays),
                         [](const auto &info) { return std::string(info.param.name); });

struct ToneCase {
    const char *name;
    QPushButton *frm_tune::*own;
    QPushButton *frm_tune::*other;
    const char *caption;
    Messages start;
    uint32_t off;
    int16_t note;
    int program;
};

class TuneWindowTone : public TuneWindow, public ::testing::WithParamInterface<ToneCase> {};

TEST_P(TuneWindowTone, ButtonStartsAndStopsItsToneAndLocksTheOther) {
    const ToneCase &c = GetParam();
    QPushButton *own = tune.*c.own;
    QPushButton *other = tune.*c.other;
    tune.openModal();

    EXPECT_EQ(during([&] { click(own); }), c.start);
    EXPECT_TRUE(tune.tonePlaying);
    EXPECT_EQ(tune.toneNote, c.note);
    EXPECT_EQ(tune.toneProgram, c.program);
    EXPECT_EQ(tune.toneVelocity, 127);
    EXPECT_EQ(own->text(), QStringLiteral("STOP"));
    EXPECT_FALSE(other->isEnabled());
    EXPECT_TRUE(tune.tune_timer->isActive());
    EXPECT_EQ(during([&] { click(other); }), Messages{}) << "the other tone cannot start";

    EXPECT_EQ(during([&] { click(own); }), Messages{c.off});
    EXPECT_FALSE(tune.tonePlaying);
    EXPECT_EQ(own->text(), QString::fromLatin1(c.caption));
    EXPECT_TRUE(other->isEnabled());
    EXPECT_EQ(tune.focusWidget(), tune.btn_tune_close);
    EXPECT_FALSE(tune.tune_timer->isActive()) << "a stopped tone stops the time-out";
    EXPECT_TRUE(tune.isVisible());

    EXPECT_EQ(during([&] { click(own); }), c.start) << "starts again";
    EXPECT_TRUE(tune.tune_timer->isActive());
}

INSTANTIATE_TEST_SUITE_P(
    Tones, TuneWindowTone,
    ::testing::Values(
        ToneCase{
            "A", &frm_tune::btn_tune_on, &frm_tune::btn_tune_B, "A", {progA, onA}, offA, 69, 23},
        ToneCase{"Bflat",
                 &frm_tune::btn_tune_B,
                 &frm_tune::btn_tune_on,
                 "B-flat",
                 {progB, onB},
                 offB,
                 70,
                 72}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(TuneWindow, AThenCloseSendsProgramNoteOnAndNoteOff) {
    tune.openModal();
    click(tune.btn_tune_on);
    click(tune.btn_tune_close);
    EXPECT_EQ(sent, (Messages{progA, onA, offA}));
    EXPECT_FALSE(tune.isVisible());
}

struct PitchStep {
    int item;
    const char *caption;
    uint32_t coarse, fine;
};

class TuneWindowPitch : public TuneWindow, public ::testing::WithParamInterface<PitchStep> {};

TEST_P(TuneWindowPitch, ItemSendsTheFourFineTuningMessages) {
    const PitchStep &c = GetParam();
    const Messages expected = {0x000164B0, 0x000065B0, c.coarse, c.fine};
    tune.openModal();
    EXPECT_EQ(tune.Hz_switch[c.item]->text(), QString::fromLatin1(c.caption));
    if (c.item == 3)
        clickHz(0); // move off the item selected at opening first

    EXPECT_EQ(during([&] { clickHz(c.item); }), expected) << "silent";
    EXPECT_TRUE(tune.Hz_switch[c.item]->isChecked());

    click(tune.btn_tune_on);
    clickHz(c.item == 0 ? 1 : 0);
    EXPECT_EQ(during([&] { clickHz(c.item); }), expected) << "while A sounds";
    EXPECT_TRUE(tune.tonePlaying) << "retuning does not stop the tone";
    EXPECT_EQ(tune.btn_tune_on->text(), QStringLiteral("STOP"));
}

INSTANTIATE_TEST_SUITE_P(Steps, TuneWindowPitch,
                         ::testing::Values(PitchStep{0, "+3", 0x004C06B0, 0x007326B0},
                                           PitchStep{1, "+2", 0x004906B0, 0x000026B0},
                                           PitchStep{2, "+1", 0x004506B0, 0x000326B0},
                                           PitchStep{3, " 0", 0x004006B0, 0x000026B0},
                                           PitchStep{4, "-1", 0x003C06B0, 0x003526B0},
                                           PitchStep{5, "-2", 0x003A06B0, 0x000026B0},
                                           PitchStep{6, "-3", 0x003806B0, 0x006426B0}),
                         [](const auto &info) { return "item" + std::to_string(info.param.item); });

TEST_F(TuneWindow, TimeoutStopsTheToneOnceAndClosesTheWindow) {
    tune.openModal();
    EXPECT_TRUE(tune.tune_timer->isActive()) << "the time-out runs from the opening";
    EXPECT_EQ(tune.tune_timer->interval(), 30000);
    click(tune.btn_tune_B);

    EXPECT_EQ(during([&] { fireTimeout(); }), Messages{offB});
    EXPECT_FALSE(tune.isVisible());
    EXPECT_FALSE(tune.tonePlaying);
    EXPECT_FALSE(tune.tune_timer->isActive());
}

TEST_F(TuneWindow, ReopeningShowsTheDesignStateWhateverWasLeft) {
    tune.openModal();
    clickHz(5);
    click(tune.btn_tune_on);
    fireTimeout(); // closes with A's caption at "STOP" and B-flat disabled

    EXPECT_EQ(during([&] { tune.openModal(); }), Messages{}) << "the device keeps its tuning";
    EXPECT_TRUE(tune.isVisible());
    EXPECT_FALSE(tune.tonePlaying);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(tune.Hz_switch[i]->isChecked(), i == 3) << i;
    EXPECT_EQ(tune.btn_tune_on->text(), QStringLiteral("A"));
    EXPECT_EQ(tune.btn_tune_B->text(), QStringLiteral("B-flat"));
    EXPECT_TRUE(tune.btn_tune_on->isEnabled());
    EXPECT_TRUE(tune.btn_tune_B->isEnabled());
    EXPECT_TRUE(tune.tune_timer->isActive());
    EXPECT_EQ(tune.toneNote, 69) << "kept for the life of the program";
}

TEST_F(TuneWindow, OpensModalWithoutBlockingAndFocusOnA) {
    QWidget owner;
    frm_tune owned([](uint32_t) {}, &owner);
    owner.show();
    owned.openModal();
    EXPECT_TRUE(owned.isVisible());
    EXPECT_EQ(owned.parentWidget(), &owner);
    EXPECT_EQ(owned.windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(QApplication::activeModalWidget(), &owned);
    EXPECT_EQ(owned.focusWidget(), owned.btn_tune_on);

    // A stop moves the focus to Close; the next opening starts from A again.
    owned.btn_tune_on_Click();
    owned.btn_tune_on_Click();
    ASSERT_EQ(owned.focusWidget(), owned.btn_tune_close);
    owned.btn_tune_close_Click();
    owned.openModal();
    EXPECT_EQ(owned.focusWidget(), owned.btn_tune_on);
    owned.close();
}

TEST_F(TuneWindow, CaptionsFontsGeometryAndTabOrder) {
    tune.openModal();
    EXPECT_EQ(tune.windowTitle(), QStringLiteral("Calibration"));
    EXPECT_EQ(tune.geometry(), QRect(422, 368, 332, 160));
    EXPECT_FALSE(tune.windowFlags() &
                 (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint));
    EXPECT_EQ(tune.font().family(), QStringLiteral("MS UI Gothic"));
    EXPECT_DOUBLE_EQ(tune.font().pointSizeF(), 9);

    EXPECT_EQ(tune.btn_tune_on->text(), QStringLiteral("A"));
    EXPECT_EQ(tune.btn_tune_on->geometry(), QRect(112, 24, 81, 49));
    EXPECT_DOUBLE_EQ(tune.btn_tune_on->font().pointSizeF(), 18);
    EXPECT_TRUE(tune.btn_tune_on->font().bold());
    EXPECT_EQ(tune.btn_tune_B->text(), QStringLiteral("B-flat"));
    EXPECT_FALSE(tune.btn_tune_B->font().bold());
    EXPECT_EQ(tune.btn_tune_close->text(), QStringLiteral("Close"));
    EXPECT_EQ(tune.btn_tune_close->geometry(), QRect(112, 104, 185, 33));
    EXPECT_DOUBLE_EQ(tune.btn_tune_close->font().pointSizeF(), 15.75);
    EXPECT_EQ(tune.Frame1->title(), QStringLiteral("Pitch[Hz]"));
    EXPECT_EQ(tune.Frame1->font().family(), QStringLiteral("MS PGothic"));
    EXPECT_EQ(tune.Hz_switch[6]->geometry(), QRect(32, 128, 49, 17));

    QStringList captions;
    for (QRadioButton *o : tune.Hz_switch)
        captions << o->text();
    EXPECT_EQ(captions, (QStringList{"+3", "+2", "+1", " 0", "-1", "-2", "-3"}));

    const std::vector<QWidget *> chain = test::tabChain(tune.btn_tune_on);
    ASSERT_GE(chain.size(), 3u);
    EXPECT_EQ(chain[0], tune.btn_tune_on);
    EXPECT_EQ(chain[1], tune.btn_tune_close);
    EXPECT_EQ(chain[2], tune.Hz_switch[0]);
    EXPECT_EQ(chain.back(), tune.btn_tune_B);
}

} // namespace
} // namespace pv2

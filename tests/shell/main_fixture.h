#pragma once

#include "../beat/clock_fakes.h"
#include "platform/text_file.h"
#include "shell/frm_main.h"
#include "shell/picture_box.h"
#include "support/fake_tick_counter.h"
#include "support/recording_help_viewer.h"
#include "support/recording_message_boxes.h"
#include "support/recording_midi_out.h"

#include <QtTest>
#include <QtWidgets>
#include <gtest/gtest.h>

namespace pv2::test {

// The main window with every service faked, in its own working directory; each test starts with
// it shown, and may create it again after changing the services or the files.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { create(); }

    QTemporaryDir dir;
    FakeTickCounter counter{100000};
    RecordingMidiOut midi;
    RecordingMessageBoxes boxes;
    RecordingHelpViewer help;
    RealFileAccess files;
    ScriptedRandom random;
    int quits = 0;
    std::unique_ptr<frm_main> w;

    void writeMenu(const QByteArray &bytes) {
        QFile f(dir.filePath("menu.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    QByteArray readMenu() { return files.readAll(dir.filePath("menu.txt")).value_or(""); }
    void create() {
        w.reset();
        w = std::make_unique<frm_main>(Services{counter, midi, boxes, help, files, random,
                                                dir.path(), [this] { ++quits; },
                                                dir.filePath("settings.ini")});
        w->show();
        QApplication::setActiveWindow(w.get());
        w->btn_start->setFocus();
    }
    // A key press sent where the keyboard would send it: to the focused control.
    void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), k, mods);
    }
    void keyOn(QWidget *target, Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        target->setFocus();
        key(k, mods);
    }
    void type(const QString &text) { QTest::keyClicks(QApplication::focusWidget(), text); }
    // One timer firing at now + ms.
    void fire(int ms) {
        counter.advance(ms);
        w->beatTimerFired();
    }
    // Firings every step ms; once the timer has stopped, its last landing shows at its beat.
    void runFor(int ms, int step = 5) {
        for (int t = 0; t < ms && w->beat_timer->isActive(); t += step)
            fire(step);
        if (!w->beat_timer->isActive() && w->pacer().waiting() > 0) {
            counter.advance(10);
            w->presentFrames();
        }
    }
    // The controls a preset sets, spelt like a preset line but with both sound switches: "s10" is
    // ON, "s01" OFF.
    std::string controls() const {
        const auto on = [](QAbstractButton *b) { return QString(b->isChecked() ? "1" : "0"); };
        return QStringLiteral("%1 m%2 s%3 a%4 d%5 g%6 f%7 memo=%8")
            .arg(w->Text1->text(), w->cmb_speed->currentText(),
                 on(w->sound_switch[0]) + on(w->sound_switch[1]), on(w->BGdisp), on(w->chkBmark),
                 on(w->L3check), on(w->chkVar), w->presetMemo())
            .toStdString();
    }
    // The note-ons sent, as (note, velocity, due tick).
    std::vector<std::tuple<int, int, uint32_t>> notesOn() const {
        std::vector<std::tuple<int, int, uint32_t>> out;
        for (const auto &e : midi.events)
            if ((e.packed & 0xFF) == 0x99)
                out.emplace_back(int(e.packed >> 8 & 0xFF), int(e.packed >> 16 & 0xFF), e.dueTick);
        return out;
    }
    // The ball's colours are warm, the background is blue.
    static bool isWarm(QColor c) { return c.red() > 200 && c.blue() < 120; }
    bool warm(int x, int y) const { return isWarm(w->Picture1->image().pixelColor(x, y)); }
    // Whether any pixel of `img` inside `r` passes `pred`.
    template <typename P> static bool anyPixel(const QImage &img, const QRect &r, P pred) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (pred(img.pixelColor(x, y)))
                    return true;
        return false;
    }
};

} // namespace pv2::test

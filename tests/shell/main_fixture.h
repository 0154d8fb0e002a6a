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
    RecordingMidiOut midi{&counter};
    RecordingMessageBoxes boxes;
    RecordingHelpViewer help;
    RealFileAccess files;
    ScriptedRandom random;
    int quits = 0;
    std::unique_ptr<frm_main> w;

    void writeMenu(const QByteArray &bytes) {
        QFile f(dir.filePath("menu.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray readMenu() {
        QFile f(dir.filePath("menu.txt"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void create(bool show = true) {
        w.reset();
        const auto quit = [this] { ++quits; };
        const QString ini = dir.filePath("settings.ini");
        Services s{counter, midi, boxes, help, files, random, dir.path(), quit, ini};
        w = std::make_unique<frm_main>(s);
        if (show) {
            w->show();
            QApplication::setActiveWindow(w.get());
            w->btn_start->setFocus();
        }
    }
    // A key press sent where the keyboard would send it: to the focused control.
    void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget *target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, k, mods);
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
    // The controls a preset sets, spelt like a preset line; a sound switch with neither option
    // checked shows as "s-".
    std::string controls() const {
        const auto on = [](QAbstractButton *b) { return QString(b->isChecked() ? "1" : "0"); };
        const QString s = w->sound_switch[0]->isChecked()   ? "1"
                          : w->sound_switch[1]->isChecked() ? "0"
                                                            : "-";
        return QStringLiteral("%1 m%2 s%3 a%4 d%5 g%6 f%7 memo=%8")
            .arg(w->Text1->text(), w->cmb_speed->currentText(), s, on(w->BGdisp), on(w->chkBmark),
                 on(w->L3check), on(w->chkVar), w->presetMemo())
            .toStdString();
    }
    struct Note {
        int note, velocity;
        uint32_t due;
    };
    std::vector<Note> notesOn() const {
        std::vector<Note> out;
        for (const auto &e : midi.events)
            if ((e.packed & 0xFF) == 0x99)
                out.push_back({int(e.packed >> 8 & 0xFF), int(e.packed >> 16 & 0xFF), e.dueTick});
        return out;
    }
    // The ball's colours are warm, the background is blue.
    bool warm(int x, int y) const {
        const QColor c = w->Picture1->image().pixelColor(x, y);
        return c.red() > 200 && c.blue() < 120;
    }
};

} // namespace pv2::test

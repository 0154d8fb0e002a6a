// CPU cost of one beat-timer firing in the real main window (offscreen), paint included.
#include "platform/text_file.h"
#include "shell/frm_main.h"
#include "shell/picture_box.h"
#include "support/fake_tick_counter.h"
#include "support/recording_help_viewer.h"
#include "support/recording_message_boxes.h"
#include "support/recording_midi_out.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    pv2::FakeTickCounter counter(1000);
    pv2::RecordingMidiOut midi;
    pv2::RecordingMessageBoxes boxes;
    pv2::RecordingHelpViewer help;
    pv2::RealFileAccess files;
    pv2::ClockRandom random;
    pv2::frm_main w(pv2::Services{counter, midi, boxes, help, files, random, dir.path(), {}});
    w.show();
    QApplication::processEvents();
    w.btn_start_Click();
    const int firings = argc > 1 ? std::atoi(argv[1]) : 20000;
    timespec a{}, b{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
    for (int i = 0; i < firings; ++i) {
        counter.advance(20);
        w.beatTimerFired();
        QApplication::processEvents(); // any paint the firing left to the event loop
        if (i % 1000 == 0)
            midi.clear();
    }
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
    const double us = ((b.tv_sec - a.tv_sec) * 1e9 + (b.tv_nsec - a.tv_nsec)) / 1e3 / firings;
    std::printf("one firing with its paint: %.1f us of CPU; at 50 firings a second %.2f %% of "
                "one core (%d frames copied straight to the window, %d painted)\n",
                us, us * 50 / 1e4, w.Picture1->directFrames(), w.Picture1->paintedFrames());
    return 0;
}

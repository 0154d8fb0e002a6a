#include "audio/fluidsynth_midi_out.h"
#include "frm_main.h"
#include "picture_box.h"
#include "platform/text_file.h"
#include "platform/tick_counter.h"
#include "platform/user_settings.h"
#include "sound/tick_sound.h"
#include "ui/help_viewer.h"
#include "ui/qt_message_boxes.h"

#include <QApplication>
#include <QDir>
#include <QStyleFactory>

int main(int argc, char **argv) {
    pv2::preferPlainFrameTransfer();
    pv2::FluidSynthMidiOut::Options sound;
    sound.tickNotes = pv2::TickSound::pairNotes(pv2::UserSettings().tickPair());
    pv2::FluidSynthMidiOut midi(sound);
    // Loading the SoundFont takes 13 MB for a moment. Before the toolkit has touched its
    // libraries and fonts, that moment is not the process's largest; the window's own open then
    // finds the device ready, and reports what this one found.
    midi.open();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pulvano2"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    pv2::SteadyTickCounter counter;
    pv2::QtMessageBoxes boxes;
    pv2::DesktopHelpViewer help;
    pv2::RealFileAccess files;
    pv2::ClockRandom random;
    pv2::Services services{counter,
                           midi,
                           boxes,
                           help,
                           files,
                           random,
                           QDir::currentPath(),
                           [] { QCoreApplication::exit(0); }};
    pv2::frm_main window(services);
    window.show();
    return app.exec();
}

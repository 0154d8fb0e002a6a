#pragma once

#include "midi_out.h"

#include <memory>
#include <string>
#include <vector>

namespace pv2 {

// A General MIDI synthesizer inside the program, so that it sounds where the system has none.
class FluidSynthMidiOut : public MidiOut {
public:
    struct Options {
        // The first file that loads is used.
        std::vector<std::string> soundFonts = {"/usr/share/sounds/sf2/default-GM.sf2",
                                               "/usr/share/sounds/sf2/TimGM6mb.sf2",
                                               "/usr/share/sounds/sf2/FluidR3_GM.sf2"};
        // Tried in order; an empty name stands for FluidSynth's own default driver.
        std::vector<std::string> audioDrivers = {"", "pulseaudio", "pipewire", "alsa", "jack"};
        double sampleRate = 44100.0;
        // No audio driver: the caller pulls the sound out with render().
        bool offline = false;
    };

    // Results of open() besides 0.
    static constexpr int kNoSoundFont = 1;
    static constexpr int kNoAudioOutput = 2;

    FluidSynthMidiOut();
    explicit FluidSynthMidiOut(Options options);
    ~FluidSynthMidiOut() override;
    FluidSynthMidiOut(const FluidSynthMidiOut &) = delete;
    FluidSynthMidiOut &operator=(const FluidSynthMidiOut &) = delete;

    int open() override;
    void shortMsg(uint32_t packed) override;
    void shortMsgAt(uint32_t packed, uint32_t dueTick) override;
    void close() override;

    bool isOpen() const;
    // The SoundFont and the audio driver in use; empty while closed (the driver also when offline).
    const std::string &soundFont() const;
    const std::string &audioDriver() const;

    // Offline only: renders the next frames. Silence while closed or when a driver plays.
    void render(float *left, float *right, int frames);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace pv2

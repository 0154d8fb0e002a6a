#include "fluidsynth_midi_out.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <utility>

#if defined(__linux__)
#include <dlfcn.h>
#endif

namespace pv2 {

namespace {

constexpr int kDataEntryMsb = 6;
constexpr int kDataEntryLsb = 38;
constexpr int kNrpnLsb = 98;
constexpr int kNrpnMsb = 99;
constexpr int kRpnLsb = 100;
constexpr int kRpnMsb = 101;
constexpr int kResetAllControllers = 121;

#if defined(__linux__)
void dropAlsaError(const char *, int, const char *, int, const char *, ...) {}
#endif

// Without a sound card every failed driver would print several lines; the caller reports
// failure through open()'s result instead. Panics still reach stderr.
void silenceLibraryLogs() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, nullptr, nullptr);
#if defined(__linux__)
        // ALSA prints its own errors; it is loaded with FluidSynth, so no link to it is needed.
        using Handler = void (*)(const char *, int, const char *, int, const char *, ...);
        using SetHandler = int (*)(Handler);
        if (void *sym = dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))
            reinterpret_cast<SetHandler>(sym)(dropAlsaError);
#endif
    });
}

} // namespace

struct FluidSynthMidiOut::Impl {
    Options options;
    fluid_settings_t *settings = nullptr;
    fluid_synth_t *synth = nullptr;
    fluid_audio_driver_t *driver = nullptr;
    std::string soundFont;
    std::string audioDriver;
    // Per channel: the last data entry MSB sent for a registered parameter, -1 if none since
    // the parameter was selected.
    std::array<int, 16> dataMsb{};
    std::array<bool, 16> nrpnSelected{};

    bool loadSoundFont();
    bool startDriver();
    void controlChange(int channel, int controller, int value);
    void release();
};

bool FluidSynthMidiOut::Impl::loadSoundFont() {
    for (const auto &path : options.soundFonts) {
        // Checking the header first keeps other files away from the DLS loader, which
        // complains on stderr.
        if (fluid_is_soundfont(path.c_str()) &&
            fluid_synth_sfload(synth, path.c_str(), 1) != FLUID_FAILED) {
            soundFont = path;
            return true;
        }
    }
    return false;
}

bool FluidSynthMidiOut::Impl::startDriver() {
    std::string fallback;
    char *current = nullptr;
    if (fluid_settings_dupstr(settings, "audio.driver", &current) == FLUID_OK && current) {
        fallback = current;
        fluid_free(current);
    }
    // A build with no real driver defaults to writing a file into the working directory.
    if (fallback == "file")
        fallback.clear();

    std::vector<std::string> tried;
    for (const auto &wanted : options.audioDrivers) {
        const std::string name = wanted.empty() ? fallback : wanted;
        if (name.empty() || std::find(tried.begin(), tried.end(), name) != tried.end())
            continue;
        tried.push_back(name);
        if (fluid_settings_setstr(settings, "audio.driver", name.c_str()) != FLUID_OK)
            continue;
        driver = new_fluid_audio_driver(settings, synth);
        if (driver) {
            audioDriver = name;
            return true;
        }
    }
    return false;
}

void FluidSynthMidiOut::Impl::controlChange(int channel, int controller, int value) {
    fluid_synth_cc(synth, channel, controller, value);
    switch (controller) {
    case kRpnLsb:
    case kRpnMsb:
    case kNrpnLsb:
    case kNrpnMsb:
        nrpnSelected[channel] = controller == kNrpnLsb || controller == kNrpnMsb;
        dataMsb[channel] = -1;
        break;
    case kResetAllControllers:
        nrpnSelected[channel] = false;
        dataMsb[channel] = -1;
        break;
    case kDataEntryMsb:
        // FluidSynth forgets an NRPN selection after its data entry: repeating it would misfire.
        dataMsb[channel] = nrpnSelected[channel] ? -1 : value;
        break;
    case kDataEntryLsb:
        // FluidSynth reads the LSB only when the MSB arrives; the MIDI standard lets the LSB
        // follow it, so apply the parameter again with both halves.
        if (dataMsb[channel] >= 0)
            fluid_synth_cc(synth, channel, kDataEntryMsb, dataMsb[channel]);
        break;
    default:
        break;
    }
}

void FluidSynthMidiOut::Impl::release() {
    // The driver pulls from the synth on its own thread: stop it first.
    if (driver)
        delete_fluid_audio_driver(driver);
    if (synth)
        delete_fluid_synth(synth);
    if (settings)
        delete_fluid_settings(settings);
    driver = nullptr;
    synth = nullptr;
    settings = nullptr;
    soundFont.clear();
    audioDriver.clear();
    dataMsb.fill(-1);
    nrpnSelected.fill(false);
}

FluidSynthMidiOut::FluidSynthMidiOut() : FluidSynthMidiOut(Options{}) {}

FluidSynthMidiOut::FluidSynthMidiOut(Options options) : m_impl(std::make_unique<Impl>()) {
    m_impl->options = std::move(options);
    m_impl->release();
}

FluidSynthMidiOut::~FluidSynthMidiOut() {
    close();
}

int FluidSynthMidiOut::open() {
    close();
    silenceLibraryLogs();
    Impl &d = *m_impl;
    d.settings = new_fluid_settings();
    if (!d.settings)
        return kNoAudioOutput;
    fluid_settings_setnum(d.settings, "synth.sample-rate", d.options.sampleRate);
    d.synth = new_fluid_synth(d.settings);
    if (!d.synth) {
        d.release();
        return kNoAudioOutput;
    }
    if (!d.loadSoundFont()) {
        d.release();
        return kNoSoundFont;
    }
    if (!d.options.offline && !d.startDriver()) {
        d.release();
        return kNoAudioOutput;
    }
    return 0;
}

void FluidSynthMidiOut::shortMsg(uint32_t packed) {
    Impl &d = *m_impl;
    if (!d.synth)
        return;
    const int status = packed & 0xFF;
    const int data1 = (packed >> 8) & 0xFF;
    const int data2 = (packed >> 16) & 0xFF;
    if (status < 0x80 || data1 > 0x7F || data2 > 0x7F)
        return;
    const int channel = status & 0x0F;
    switch (status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(d.synth, channel, data1);
        break;
    case 0x90:
        if (data2 == 0)
            fluid_synth_noteoff(d.synth, channel, data1);
        else
            fluid_synth_noteon(d.synth, channel, data1, data2);
        break;
    case 0xB0:
        d.controlChange(channel, data1, data2);
        break;
    case 0xC0:
        fluid_synth_program_change(d.synth, channel, data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(d.synth, channel, data1 + 128 * data2);
        break;
    default:
        break;
    }
}

void FluidSynthMidiOut::shortMsgAt(uint32_t packed, uint32_t dueTick) {
    (void)dueTick;
    shortMsg(packed);
}

void FluidSynthMidiOut::close() {
    m_impl->release();
}

bool FluidSynthMidiOut::isOpen() const {
    return m_impl->synth != nullptr;
}

const std::string &FluidSynthMidiOut::soundFont() const {
    return m_impl->soundFont;
}

const std::string &FluidSynthMidiOut::audioDriver() const {
    return m_impl->audioDriver;
}

void FluidSynthMidiOut::render(float *left, float *right, int frames) {
    if (frames <= 0)
        return;
    const Impl &d = *m_impl;
    if (!d.synth || d.driver) {
        std::fill(left, left + frames, 0.0f);
        std::fill(right, right + frames, 0.0f);
        return;
    }
    fluid_synth_write_float(d.synth, frames, left, 0, 1, right, 0, 1);
}

} // namespace pv2

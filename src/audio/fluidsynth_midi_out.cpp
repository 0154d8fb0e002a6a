#include "fluidsynth_midi_out.h"

#include "audio/audio_clock_map.h"
#include "platform/numeric.h"
#if defined(PV2_HAVE_PULSE_STREAM)
#include "audio/pulse_stream.h"
#endif
#include "audio/timed_message_queue.h"
#include "platform/tick_counter.h"

#include <fluidsynth.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <mutex>
#include <optional>
#include <thread>
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

constexpr int kPercussionChannel = 9;
constexpr int kTickVelocity = 127;
// Below -100 dB: the reverb keeps a tiny offset against denormals, which is not sound.
constexpr float kQuiet = 1e-5f;
// The synthesizer counts as idle once its output has stayed below kQuiet this long.
constexpr double kIdleAfterSeconds = 0.25;
constexpr double kLongestTickSeconds = 6.0;
// A timed note whose moment passed longer ago than this is left out: after a stall of the output
// every tick it held back would otherwise sound at once, a burst off the beat.
constexpr double kStaleSeconds = 0.03;

// Pages freed inside the heap stay resident until trimmed: free() only ever shrinks its top.
void trimHeap() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

constexpr size_t kMaxVoices = 64;

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

bool isNoteOn(uint32_t packed) {
    return (packed & 0xF0) == 0x90 && ((packed >> 16) & 0xFF) != 0;
}

// Anything on the percussion channel but a note: the tick renderings no longer match it.
bool changesTicks(uint32_t packed) {
    const uint32_t kind = packed & 0xF0;
    return (packed & 0x0F) == kPercussionChannel && kind != 0x80 && kind != 0x90;
}

float peakOf(const float *s, int from, int to) {
    float p = 0;
    for (int i = from; i < to; ++i)
        p = std::max(p, std::fabs(s[i]));
    return p;
}

} // namespace

struct FluidSynthMidiOut::Impl {
    // The sound of one tick: note-on and note-off together, reverb tail included. Kept in
    // 16 bits, half the memory of floats.
    struct Tick {
        int note = 0;
        std::vector<int16_t> left, right;
        // The value of one step of the samples.
        float step = 0;
    };
    // What the last open gave, for the notes it rendered; forgotten at close.
    struct LastOpen {
        std::vector<int> notes;
        int result = 0;
    };
    std::optional<LastOpen> lastOpen;
    struct Voice {
        const Tick *tick;
        int64_t start;
        float gain;
    };

    Options options;
    // options.sampleRate as the owner gave it: each open starts from it again, whatever rate the
    // last device or FluidSynth settled on.
    double askedRate = 0;
    std::function<int64_t()> clock;
    fluid_settings_t *settings = nullptr;
    fluid_synth_t *synth = nullptr;
    fluid_audio_driver_t *driver = nullptr;
#if defined(PV2_HAVE_PULSE_STREAM)
    std::unique_ptr<PulseStream> pulse;
    // Connected before the synthesizer is made, to learn the device's rate; the stream comes later.
    std::unique_ptr<PulseStream> connected;
#endif
    std::string soundFont;
    std::string audioDriver;
    // The SoundFont's samples are half the program's memory, and the ticks play from their
    // renderings: it is loaded only while something else may sound, and unloaded when the output
    // sleeps. Taken by the UI thread across loading and sending; the audio thread only tries it.
    // Written under fontMutex; -1 while unloaded, which any thread may read.
    std::mutex fontMutex;
    std::atomic<int> fontId{-1};
    // Kept for a window that plays notes of its own; loaded meanwhile on a thread of its own, so
    // that a run's beat timer does not wait for it. Its result is taken over by the UI thread.
    std::atomic<bool> keepFont{false};
    std::thread loader;
    std::atomic<bool> loaderDone{false};
    int loaderId = -1;

    // Per channel: the last data entry MSB sent for a registered parameter, -1 if none since
    // the parameter was selected. Timed messages reach it from the audio thread.
    std::mutex controllerMutex;
    std::array<int, 16> dataMsb{};
    std::array<bool, 16> nrpnSelected{};

    std::atomic<int64_t> delayNs{int64_t{kDefaultDelayMs} * 1'000'000};
    std::atomic<int> timerPeriodMs{20};
    bool delayFixed = false;
    TimedMessageQueue queue;
    // One per tick note, sized at construction: the audio thread only reads them.
    std::vector<Tick> ticks;
    // Cleared when the percussion channel changes: the renderings no longer match it.
    std::atomic<bool> ticksMatch{false};

    // Audio thread only.
    std::unique_ptr<AudioClockMap> clockMap;
    std::vector<TimedMessageQueue::Placed> placed;
    std::array<Voice, kMaxVoices> voices{};
    // Whether the last timed note-on of each tick note was a rendering, whose note-off is in it.
    std::vector<char> renderedOn;
    size_t voiceCount = 0;
    int64_t framePos = 0;
    // While the synthesizer has nothing to play it is not run at all: the ticks come from their
    // renderings, so during a metronome run it would only compute silence.
    bool synthIdle = false;
    int64_t quietFrames = 0;

    std::atomic<bool> synthTouched{false};
    // Sleeping: the output is paused; the next message wakes it and the map starts afresh, since
    // the frames stood still while time went on.
    std::atomic<bool> asleep{false};
    std::atomic<bool> heldAwake{false};
    std::atomic<bool> reanchor{false};
    // The map is anchored on an estimate until the server's timing first arrives.
    bool provisional = false;
    int64_t quietSince = 0;
    // Render-to-heard, the largest lately seen (audio thread), and as published.
    int64_t latencyPeakNs = 0;
    std::atomic<int64_t> latencyNs{0};
    std::atomic<int64_t> timedCount{0}, lateCount{0}, staleCount{0}, ticksPlaced{0}, sleepCount{0};
    std::atomic<double> ratePpm{0};
    std::atomic<int> streamJumps{0};

    int loadFile(const std::string &path);
    bool loadSoundFont();
    bool needsSamples(uint32_t packed, bool timed) const;
    void reloadSoundFont();
    void startLoad();
    void finishLoad(std::unique_lock<std::mutex> &lock, bool wait);
    std::unique_lock<std::mutex> lockForMessage(uint32_t packed, bool timed);
    void unloadSoundFont();
    // True when it let the SoundFont go.
    bool releaseSamples();
    void connectServer();
    bool startDriver();
    void renderTicks();
    void apply(uint32_t packed);
    void controlChange(int channel, int controller, int value);
    size_t tickIndex(uint32_t packed) const;
    bool placeTick(const TimedMessageQueue::Placed &p, int64_t first);
    bool dropStale(const TimedMessageQueue::Placed &p);
    void process(int frames, float *left, float *right);
    // The output asks for this many frames next, the first to be heard latencyNs from now (-1:
    // unknown): what the clock map learns from. The map counts frames as heard.
    void request(int frames, int64_t latencyNs);
    int64_t estimatedLatencyNs() const;
    // The server's reading: frame was heard ageNs ago. What the map follows once it has one.
    // Returns how soon it wants the next (0: at once; negative: no hurry).
    int64_t heard(int64_t ageNs, double frame);
    bool canSleep() const;
    void pauseOutput(bool paused);
    void maybeSleep();
    void wake();
    void fill(int frames, float *left, float *right);
    bool playing() const;
    void renderSynth(float *left, float *right, int from, int to);
    void mixVoices(float *left, float *right, int64_t first, int frames);
    void release();

    static int audioCallback(void *data, int len, int nfx, float *fx[], int nout, float *out[]);
};

// The SoundFont's id, or -1. Checking the header first keeps other files away from the DLS
// loader, which complains on stderr; the file may also have changed since it was first loaded.
int FluidSynthMidiOut::Impl::loadFile(const std::string &path) {
    if (!fluid_is_soundfont(path.c_str()))
        return -1;
    const int id = fluid_synth_sfload(synth, path.c_str(), 1);
    return id == FLUID_FAILED ? -1 : id;
}

bool FluidSynthMidiOut::Impl::loadSoundFont() {
    for (const auto &path : options.soundFonts) {
        fontId = loadFile(path);
        if (fontId >= 0) {
            soundFont = path;
            return true;
        }
    }
    return false;
}

// Everything but a note-on leaves the channel's state for a later load to pick up, and a timed
// tick's note-on plays its rendering; a message that changes the percussion channel ends that.
bool FluidSynthMidiOut::Impl::needsSamples(uint32_t packed, bool timed) const {
    return changesTicks(packed) ||
           (isNoteOn(packed) && !(timed && ticksMatch && tickIndex(packed) < ticks.size()));
}

// With fontMutex held. The file may have gone since open; its notes are then silent.
void FluidSynthMidiOut::Impl::reloadSoundFont() {
    if (fontId >= 0 || soundFont.empty())
        return;
    fontId = loadFile(soundFont);
}

// With fontMutex held.
void FluidSynthMidiOut::Impl::startLoad() {
    if (fontId >= 0 || loader.joinable() || soundFont.empty())
        return;
    loaderDone = false;
    loader = std::thread([this] {
        // FluidSynth holds its own lock meanwhile: the audio thread's rendering does not take it,
        // and the ticks of a run reach the synthesizer through nothing else.
        loaderId = loadFile(soundFont);
        loaderDone = true;
    });
}

// With fontMutex held: takes over the loader's result once it is done, or waits for it. The
// audio thread may take the lock meanwhile; it finds nothing to unload until the result is ours.
void FluidSynthMidiOut::Impl::finishLoad(std::unique_lock<std::mutex> &lock, bool wait) {
    if (!loader.joinable() || (!wait && !loaderDone))
        return;
    lock.unlock();
    loader.join();
    lock.lock();
    fontId = loaderId;
}

// Held while the message is applied or posted, so that the audio thread cannot unload the
// samples it needs in between.
std::unique_lock<std::mutex> FluidSynthMidiOut::Impl::lockForMessage(uint32_t packed, bool timed) {
    std::unique_lock lock(fontMutex);
    const bool needed = needsSamples(packed, timed);
    finishLoad(lock, needed);
    if (needed)
        reloadSoundFont();
    return lock;
}

void FluidSynthMidiOut::Impl::unloadSoundFont() {
    if (fontId < 0)
        return;
    // Only ever called with nothing heard: a voice fading below hearing when the synthesizer
    // stopped being run would otherwise hold the samples, and FluidSynth would poll until it
    // ended, which it never does unrun. Resetting the channels' presets lets the next load give
    // them back by bank and program.
    fluid_synth_all_sounds_off(synth, -1);
    // The mixer lets go of a stopped voice only as it next renders: a few blocks, unheard.
    std::array<float, 256> l{}, r{};
    fluid_synth_write_float(synth, static_cast<int>(l.size()), l.data(), 0, 1, r.data(), 0, 1);
    fluid_synth_sfunload(synth, fontId, 1);
    fontId = -1;
}

// Audio thread, once nothing has sounded for a while and the output has paused if it can:
// nothing is waiting on it then.
bool FluidSynthMidiOut::Impl::releaseSamples() {
    if (fontId < 0)
        return false;
    std::unique_lock lock(fontMutex, std::try_to_lock);
    if (!lock.owns_lock() || fontId < 0 || keepFont || synthTouched || !queue.empty() ||
        (canSleep() && !asleep))
        return false;
    unloadSoundFont();
    return true;
}

int FluidSynthMidiOut::Impl::audioCallback(void *data, int len, int nfx, float *fx[], int nout,
                                           float *out[]) {
    auto *d = static_cast<Impl *>(data);
    for (int i = 0; i < nfx; ++i)
        if (fx[i])
            std::fill(fx[i], fx[i] + len, 0.0f);
    for (int i = 2; i < nout; ++i)
        if (out[i])
            std::fill(out[i], out[i] + len, 0.0f);
    if (nout < 2) {
        if (nout == 1)
            std::fill(out[0], out[0] + len, 0.0f);
        return FLUID_OK;
    }
    d->process(len, out[0], out[1]);
    return FLUID_OK;
}

void FluidSynthMidiOut::Impl::connectServer() {
#if defined(PV2_HAVE_PULSE_STREAM)
    const auto &drivers = options.audioDrivers;
    if (options.offline || std::find(drivers.begin(), drivers.end(), kPulseStream) == drivers.end())
        return;
    auto stream = std::make_unique<PulseStream>();
    if (!stream->connect())
        return;
    if (options.deviceRate && stream->deviceRate() > 0)
        options.sampleRate = stream->deviceRate();
    connected = std::move(stream);
#endif
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
        if (name == kPulseStream) {
#if defined(PV2_HAVE_PULSE_STREAM)
            if (!connected)
                continue;
            // In place before the stream exists: its callbacks start during open().
            pulse = std::move(connected);
            asleep = true;
            PulseStream::Callbacks callbacks;
            callbacks.request = [this](int frames, int64_t latency) { request(frames, latency); };
            callbacks.fill = [this](float *l, float *r, int frames) { fill(frames, l, r); };
            callbacks.heard = [this](int64_t ageNs, double frame) { return heard(ageNs, frame); };
            const int latencyFrames =
                static_cast<int>(options.streamLatencyMs * options.sampleRate / 1000.0);
            // It starts paused; a message wakes it.
            if (pulse->open(options.sampleRate, latencyFrames, std::move(callbacks))) {
                audioDriver = name;
                return true;
            }
            pulse.reset();
            asleep = false;
#endif
            continue;
        }
        if (fluid_settings_setstr(settings, "audio.driver", name.c_str()) != FLUID_OK)
            continue;
        driver = new_fluid_audio_driver2(settings, &Impl::audioCallback, this);
        if (driver) {
            audioDriver = name;
            return true;
        }
    }
    return false;
}

// Renders each tick on the synthesizer as it is now (fresh from open), until its sound and
// reverb have died away.
void FluidSynthMidiOut::Impl::renderTicks() {
    constexpr int kChunk = 1024;
    const auto limit = static_cast<size_t>(kLongestTickSeconds * options.sampleRate);
    float l[kChunk], r[kChunk];
    std::vector<float> left, right;
    for (Tick &t : ticks) {
        left.clear();
        right.clear();
        fluid_synth_noteon(synth, kPercussionChannel, t.note, kTickVelocity);
        fluid_synth_noteoff(synth, kPercussionChannel, t.note);
        while (left.size() < limit) {
            fluid_synth_write_float(synth, kChunk, l, 0, 1, r, 0, 1);
            left.insert(left.end(), l, l + kChunk);
            right.insert(right.end(), r, r + kChunk);
            if (fluid_synth_get_active_voice_count(synth) == 0 &&
                std::max(peakOf(l, 0, kChunk), peakOf(r, 0, kChunk)) < kQuiet)
                break;
        }
        const int n = static_cast<int>(left.size());
        const float peak = std::max(peakOf(left.data(), 0, n), peakOf(right.data(), 0, n));
        t.step = peak / 32767.0f;
        // The tail ends where it is below hearing or below a step; a note the kit lacks leaves
        // only the reverb's offset, which is no sound at all.
        const float quiet = std::max(kQuiet, t.step / 2);
        size_t end = peak < kQuiet ? 0 : left.size();
        while (end > 0 && std::fabs(left[end - 1]) < quiet && std::fabs(right[end - 1]) < quiet)
            --end;
        auto toSteps = [&t](float v) { return static_cast<int16_t>(std::lround(v / t.step)); };
        t.left.resize(end);
        t.right.resize(end);
        std::transform(left.begin(), left.begin() + std::ptrdiff_t(end), t.left.begin(), toSteps);
        std::transform(right.begin(), right.begin() + std::ptrdiff_t(end), t.right.begin(),
                       toSteps);
        t.left.shrink_to_fit();
        t.right.shrink_to_fit();
    }
    ticksMatch = true;
}

void FluidSynthMidiOut::Impl::controlChange(int channel, int controller, int value) {
    std::lock_guard lock(controllerMutex);
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

void FluidSynthMidiOut::Impl::apply(uint32_t packed) {
    const int status = packed & 0xFF;
    const int data1 = (packed >> 8) & 0xFF;
    const int data2 = (packed >> 16) & 0xFF;
    if (status < 0x80 || data1 > 0x7F || data2 > 0x7F)
        return;
    const int channel = status & 0x0F;
    const int kind = status & 0xF0;
    if (changesTicks(packed))
        ticksMatch = false;
    switch (kind) {
    case 0x80:
        fluid_synth_noteoff(synth, channel, data1);
        break;
    case 0x90:
        if (data2 == 0)
            fluid_synth_noteoff(synth, channel, data1);
        else
            fluid_synth_noteon(synth, channel, data1, data2);
        break;
    case 0xB0:
        controlChange(channel, data1, data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth, channel, data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth, channel, data1 + 128 * data2);
        break;
    default:
        break;
    }
}

// Which tick a percussion note is; ticks.size() for any other note.
size_t FluidSynthMidiOut::Impl::tickIndex(uint32_t packed) const {
    if ((packed & 0x0F) != kPercussionChannel)
        return ticks.size();
    const int note = (packed >> 8) & 0xFF;
    for (size_t i = 0; i < ticks.size(); ++i)
        if (ticks[i].note == note)
            return i;
    return ticks.size();
}

// A tick's note-on starts its rendering; its note-off is already in it.
bool FluidSynthMidiOut::Impl::placeTick(const TimedMessageQueue::Placed &p, int64_t first) {
    const uint32_t status = p.packed & 0xFF;
    const uint32_t velocity = (p.packed >> 16) & 0xFF;
    const bool noteOn = isNoteOn(p.packed);
    const bool noteOff = (status & 0xF0) == 0x80 || ((status & 0xF0) == 0x90 && velocity == 0);
    const size_t index = tickIndex(p.packed);
    if (index == ticks.size() || !(noteOn || noteOff))
        return false;
    if (noteOff)
        return renderedOn[index];
    renderedOn[index] = ticksMatch;
    if (!renderedOn[index])
        return false;
    if (voiceCount == voices.size()) {
        // The oldest has faded the most.
        std::move(voices.begin() + 1, voices.end(), voices.begin());
        --voiceCount;
    }
    // A softer tick is its rendering scaled: the ticks' volume, not another timbre.
    voices[voiceCount++] = {&ticks[index], first + p.offset,
                            static_cast<float>(velocity) / static_cast<float>(kTickVelocity)};
    ++ticksPlaced;
    return true;
}

bool FluidSynthMidiOut::Impl::dropStale(const TimedMessageQueue::Placed &p) {
    if (!isNoteOn(p.packed) || p.late <= static_cast<int64_t>(kStaleSeconds * options.sampleRate))
        return false;
    // Its note-off then finds the note silent, or the rendering it would have ended.
    const size_t index = tickIndex(p.packed);
    if (index < ticks.size())
        renderedOn[index] = ticksMatch;
    ++staleCount;
    return true;
}

void FluidSynthMidiOut::Impl::renderSynth(float *left, float *right, int from, int to) {
    if (to <= from)
        return;
    if (synthIdle) {
        std::fill(left + from, left + to, 0.0f);
        std::fill(right + from, right + to, 0.0f);
        return;
    }
    fluid_synth_write_float(synth, to - from, left, from, 1, right, from, 1);
}

void FluidSynthMidiOut::Impl::mixVoices(float *left, float *right, int64_t first, int frames) {
    size_t kept = 0;
    for (size_t i = 0; i < voiceCount; ++i) {
        const Voice v = voices[i];
        const auto length = static_cast<int64_t>(v.tick->left.size());
        const int64_t from = std::max(first, v.start);
        const int64_t to = std::min(first + frames, v.start + length);
        const float gain = v.gain * v.tick->step;
        for (int64_t f = from; f < to; ++f) {
            left[f - first] += gain * v.tick->left[static_cast<size_t>(f - v.start)];
            right[f - first] += gain * v.tick->right[static_cast<size_t>(f - v.start)];
        }
        if (v.start + length > first + frames)
            voices[kept++] = v;
    }
    voiceCount = kept;
}

void FluidSynthMidiOut::Impl::process(int frames, float *left, float *right) {
    request(frames, estimatedLatencyNs());
    fill(frames, left, right);
}

int64_t FluidSynthMidiOut::Impl::estimatedLatencyNs() const {
#if defined(PV2_HAVE_PULSE_STREAM)
    if (pulse)
        return int64_t{options.streamLatencyMs} * 1'000'000;
#endif
    // FluidSynth's drivers keep two periods queued and say nothing of the server behind them.
    if (driver)
        return 2 * static_cast<int64_t>(options.periodSize * 1e9 / options.sampleRate);
    return 0;
}

void FluidSynthMidiOut::Impl::request(int frames, int64_t latency) {
    const bool known = latency >= 0;
    if (reanchor.exchange(false) || (provisional && known))
        clockMap->reset();
    if (!clockMap->anchored())
        provisional = !known;
    const auto span = static_cast<int64_t>(frames * 1e9 / options.sampleRate);
    // The output holds the rest of its buffer ahead of these frames: none of it when it asks
    // for the whole, as the server's stream does first.
    if (!known)
        latency = std::max<int64_t>(0, estimatedLatencyNs() - span);
    clockMap->observe(clock() + latency + span, framePos + frames);
    // A frame requested now is rendered now and heard latency + span later at the most; the
    // peak decays by a millisecond a second so that a passing stall is forgotten.
    latencyPeakNs = std::max(latency + span, latencyPeakNs - span / 1000);
    latencyNs.store(latencyPeakNs, std::memory_order_relaxed);
}

int64_t FluidSynthMidiOut::Impl::heard(int64_t ageNs, double frame) {
    if (reanchor.exchange(false))
        clockMap->reset();
    provisional = false;
    if (!clockMap->observeHeard(clock() - ageNs, frame))
        return 0;
    return clockMap->readingWantedWithinNs();
}

bool FluidSynthMidiOut::Impl::canSleep() const {
#if defined(PV2_HAVE_PULSE_STREAM)
    if (pulse)
        return true;
#endif
    return options.offline && options.pauseOutput;
}

void FluidSynthMidiOut::Impl::pauseOutput(bool paused) {
#if defined(PV2_HAVE_PULSE_STREAM)
    if (pulse) {
        pulse->setPaused(paused);
        return;
    }
#endif
    if (options.pauseOutput)
        options.pauseOutput(paused);
}

// Audio thread, after a fill: once nothing has sounded for a while and nothing waits, the output
// pauses. A message posted meanwhile either is seen here or finds the flag set and wakes it.
void FluidSynthMidiOut::Impl::maybeSleep() {
    if (!synthIdle || voiceCount > 0 || !queue.empty() || heldAwake) {
        quietSince = framePos;
        return;
    }
    if (framePos - quietSince <
        static_cast<int64_t>(options.sleepAfterSeconds * options.sampleRate))
        return;
    if (!canSleep()) {
        // An output that cannot pause plays silence on; the samples may go all the same.
        if (releaseSamples())
            trimHeap();
        return;
    }
    asleep = true;
    if (!queue.empty() || synthTouched) {
        bool expected = true;
        if (asleep.compare_exchange_strong(expected, false))
            return; // stays awake; nobody else saw the flag
    }
    ++sleepCount;
    quietSince = framePos;
    pauseOutput(true);
    releaseSamples();
    // The SoundFont's thousands of small blocks, and a megabyte or so of freed pages that a
    // run and the window's repaints leave behind.
    trimHeap();
}

void FluidSynthMidiOut::Impl::wake() {
    if (!asleep.exchange(false))
        return;
    reanchor = true;
    pauseOutput(false);
}

void FluidSynthMidiOut::Impl::fill(int frames, float *left, float *right) {
    const int64_t first = framePos;
    queue.take(*clockMap, delayNs.load(std::memory_order_relaxed), first, frames, placed);
    // The quiet period starts afresh with each message: a note's attack may begin silent.
    if (synthTouched.exchange(false)) {
        synthIdle = false;
        quietFrames = 0;
    }

    int done = 0;
    for (const auto &p : placed) {
        if (dropStale(p) || placeTick(p, first))
            continue;
        renderSynth(left, right, done, p.offset);
        done = p.offset;
        apply(p.packed);
        synthIdle = false;
        quietFrames = 0;
    }
    renderSynth(left, right, done, frames);

    if (!synthIdle) {
        // From the sound alone: asking the synthesizer for its voices would take its lock here.
        const float peak = std::max(peakOf(left, 0, frames), peakOf(right, 0, frames));
        if (peak < kQuiet)
            quietFrames += frames;
        else
            quietFrames = 0;
        synthIdle = quietFrames >= static_cast<int64_t>(options.sampleRate * kIdleAfterSeconds);
    }
    mixVoices(left, right, first, frames);
    framePos += frames;
    maybeSleep();

    lateCount.store(queue.lateCount(), std::memory_order_relaxed);
    ratePpm.store(clockMap->ratePpm(), std::memory_order_relaxed);
    streamJumps.store(clockMap->jumps(), std::memory_order_relaxed);
}

bool FluidSynthMidiOut::Impl::playing() const {
#if defined(PV2_HAVE_PULSE_STREAM)
    if (pulse)
        return true;
#endif
    return driver != nullptr;
}

void FluidSynthMidiOut::Impl::release() {
    // The output pulls from the synth on its own thread: stop it first.
#if defined(PV2_HAVE_PULSE_STREAM)
    pulse.reset();
    connected.reset();
#endif
    if (driver)
        delete_fluid_audio_driver(driver);
    if (loader.joinable())
        loader.join();
    if (synth)
        delete_fluid_synth(synth);
    if (settings)
        delete_fluid_settings(settings);
    driver = nullptr;
    synth = nullptr;
    settings = nullptr;
    soundFont.clear();
    audioDriver.clear();
    fontId = -1;
    keepFont = false;
    loaderDone = false;
    dataMsb.fill(-1);
    nrpnSelected.fill(false);
    queue.clear();
    for (Tick &t : ticks) {
        t.left = {};
        t.right = {};
    }
    ticksMatch = false;
    clockMap.reset();
    voiceCount = 0;
    std::fill(renderedOn.begin(), renderedOn.end(), char{0});
    framePos = 0;
    synthIdle = false;
    quietFrames = 0;
    synthTouched = false;
    asleep = false;
    reanchor = false;
    provisional = false;
    quietSince = 0;
    latencyPeakNs = 0;
    latencyNs = 0;
    sleepCount = 0;
    timedCount = 0;
    lateCount = 0;
    staleCount = 0;
    ticksPlaced = 0;
    ratePpm = 0;
    streamJumps = 0;
}

FluidSynthMidiOut::FluidSynthMidiOut() : FluidSynthMidiOut(Options{}) {}

FluidSynthMidiOut::FluidSynthMidiOut(Options options) : m_impl(std::make_unique<Impl>()) {
    m_impl->options = std::move(options);
    m_impl->askedRate = m_impl->options.sampleRate;
    m_impl->clock = m_impl->options.clockNs ? m_impl->options.clockNs : steadyClockNs;
    m_impl->placed.reserve(1024);
    m_impl->release();
}

FluidSynthMidiOut::~FluidSynthMidiOut() {
    close();
}

int FluidSynthMidiOut::delayForTimerPeriod(int periodMs, int outputLatencyMs) {
    return std::max(kDefaultDelayMs, outputLatencyMs + periodMs + kDelayMarginMs);
}

int FluidSynthMidiOut::open() {
    Impl &d = *m_impl;
    if (d.lastOpen && d.lastOpen->notes == d.options.tickNotes)
        return d.lastOpen->result;
    const int result = openAnew();
    d.lastOpen = Impl::LastOpen{d.options.tickNotes, result};
    return result;
}

int FluidSynthMidiOut::openAnew() {
    close();
    silenceLibraryLogs();
    Impl &d = *m_impl;
    d.settings = new_fluid_settings();
    if (!d.settings)
        return kNoAudioOutput;
    d.options.sampleRate = d.askedRate;
    d.connectServer();
    fluid_settings_setnum(d.settings, "synth.sample-rate", d.options.sampleRate);
    fluid_settings_setint(d.settings, "audio.period-size", d.options.periodSize);
    fluid_settings_setint(d.settings, "audio.periods", 2);
    // Not synth.dynamic-sample-loading, though it would keep only the presets in use: FluidSynth
    // before 2.4 then plays stray data after a sample's end, a click 160 ms into the side stick.
    // A tone and the rendering of one tick at a time: every voice costs memory up front.
    fluid_settings_setint(d.settings, "synth.polyphony", 16);
    d.synth = new_fluid_synth(d.settings);
    if (!d.synth) {
        d.release();
        return kNoAudioOutput;
    }
    if (!d.loadSoundFont()) {
        d.release();
        return kNoSoundFont;
    }
    // The rate FluidSynth settled on is the one everything below counts in.
    fluid_settings_getnum(d.settings, "synth.sample-rate", &d.options.sampleRate);
    d.clockMap = std::make_unique<AudioClockMap>(d.options.sampleRate);
    // The notes may have changed since the last open (another pair).
    d.ticks.clear();
    for (int note : d.options.tickNotes)
        d.ticks.push_back({note, {}, {}});
    d.renderedOn.assign(d.ticks.size(), 0);
    d.renderTicks();
    d.unloadSoundFont();
    trimHeap();
    const bool started = d.options.offline || d.startDriver();
#if defined(PV2_HAVE_PULSE_STREAM)
    d.connected.reset();
#endif
    if (!started) {
        d.release();
        return kNoAudioOutput;
    }
    d.latencyNs = d.estimatedLatencyNs();
    setTimerPeriod(d.timerPeriodMs);
    if (d.canSleep()) {
        // Nothing sounds yet; a stream starts paused already.
        d.asleep = true;
        d.pauseOutput(true);
    }
    return 0;
}

void FluidSynthMidiOut::shortMsg(uint32_t packed) {
    Impl &d = *m_impl;
    if (!d.synth)
        return;
    {
        const auto lock = d.lockForMessage(packed, false);
        d.apply(packed);
        // After the message, so that a callback deciding to rest cannot miss it.
        d.synthTouched = true;
    }
    d.wake();
}

void FluidSynthMidiOut::shortMsgAt(uint32_t packed, uint32_t dueTick) {
    Impl &d = *m_impl;
    if (!d.synth)
        return;
    const int64_t nowMs = d.clock() / 1'000'000;
    const int64_t dueMs = nowMs + tickDiff(dueTick, static_cast<uint32_t>(nowMs));
    ++d.timedCount;
    bool posted = false;
    {
        const auto lock = d.lockForMessage(packed, true);
        posted = d.queue.post(packed, dueMs * 1'000'000);
    }
    if (!posted)
        shortMsg(packed);
    d.wake();
}

void FluidSynthMidiOut::close() {
    m_impl->lastOpen.reset();
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

void FluidSynthMidiOut::setDelayMs(int ms) {
    m_impl->delayFixed = true;
    m_impl->delayNs = int64_t{std::max(0, ms)} * 1'000'000;
}

void FluidSynthMidiOut::setTimerPeriod(int periodMs) {
    Impl &d = *m_impl;
    d.timerPeriodMs = periodMs;
    if (!d.delayFixed)
        d.delayNs = int64_t{delayForTimerPeriod(periodMs, outputLatencyMs())} * 1'000'000;
}

int FluidSynthMidiOut::outputLatencyMs() const {
    return static_cast<int>((m_impl->latencyNs.load(std::memory_order_relaxed) + 999'999) /
                            1'000'000);
}

void FluidSynthMidiOut::keepSounds(bool keep) {
    Impl &d = *m_impl;
    if (!d.synth)
        return;
    {
        std::unique_lock lock(d.fontMutex);
        d.keepFont = keep;
        if (keep) {
            d.startLoad();
            return;
        }
        d.finishLoad(lock, true);
        if (d.fontId < 0)
            return;
    }
    // Only the audio thread unloads, as it pauses: one that sleeps already wakes to sleep again.
    d.wake();
}

void FluidSynthMidiOut::holdAwake(bool hold) {
    m_impl->heldAwake = hold;
    if (hold && m_impl->synth)
        m_impl->wake();
}

void FluidSynthMidiOut::setTickNotes(const std::vector<int> &notes) {
    m_impl->options.tickNotes = notes;
}

int FluidSynthMidiOut::delayMs() const {
    return static_cast<int>(m_impl->delayNs.load() / 1'000'000);
}

FluidSynthMidiOut::Stats FluidSynthMidiOut::stats() const {
    const Impl &d = *m_impl;
    Stats s;
    s.timedMessages = d.timedCount.load();
    s.lateMessages = d.lateCount.load();
    s.staleNotes = d.staleCount.load();
    s.ticksPlaced = d.ticksPlaced.load();
    s.deviceRatePpm = d.ratePpm.load();
    s.streamJumps = d.streamJumps.load();
    s.outputLatencyMs = static_cast<double>(d.latencyNs.load()) / 1e6;
    s.asleep = d.asleep.load();
    s.sleeps = d.sleepCount.load();
    s.samplesLoaded = d.fontId >= 0;
#if defined(PV2_HAVE_PULSE_STREAM)
    if (d.pulse) {
        s.underruns = d.pulse->underruns();
        s.realtime = d.pulse->realtime();
    }
#endif
    return s;
}

void FluidSynthMidiOut::render(float *left, float *right, int frames, int fillFrames,
                               int64_t latencyNs) {
    if (frames <= 0)
        return;
    Impl &d = *m_impl;
    if (!d.synth || d.playing()) {
        std::fill(left, left + frames, 0.0f);
        std::fill(right, right + frames, 0.0f);
        return;
    }
    d.request(frames, latencyNs);
    const int step = fillFrames > 0 ? fillFrames : frames;
    for (int done = 0; done < frames; done += step) {
        const int n = std::min(step, frames - done);
        d.fill(n, left + done, right + done);
    }
}

} // namespace pv2

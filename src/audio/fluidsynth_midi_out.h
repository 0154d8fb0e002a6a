#pragma once

#include "audio/midi_out.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pv2 {

// A General MIDI synthesizer inside the program, so that it sounds where the system has none.
//
// Timed messages sound on the audio clock, their due moment plus a constant delay later. The
// percussion ticks are placed on their exact sample: the synthesizer renders each tick once at
// open, and the audio callback mixes that sound in at the tick's frame, where a note-on sent to
// the synthesizer would start only at its next 64-frame block.
//
// Threads. The UI thread alone calls open, close, shortMsg, shortMsgAt, holdAwake, keepSounds,
// setTickNotes, setTimerPeriod and setDelayMs (offline, render too). The audio thread, the stream's
// or FluidSynth's driver's, runs the request, heard and fill callbacks. They share atomics, the
// timed queue's lock-free ring and FluidSynth's own lock. A late fill is heard as a click, so the
// audio thread never takes a lock the UI holds for longer than a synthesizer call, never allocates
// and never calls Qt; only once nothing has sounded for a while, and it has paused the output if
// it can, does it free the SoundFont, and then only if the UI thread is not using it. keepSounds
// loads the SoundFont on a thread of its own, which holds FluidSynth's lock meanwhile: the ticks'
// renderings and the rendering itself do not take it, so a run goes on, but a timed message they do
// not cover waits for the load. stats(), delayMs() and outputLatencyMs() are safe on any thread.
class FluidSynthMidiOut : public MidiOut {
public:
    static constexpr const char *kPulseStream = "pulse-stream";

    struct Options {
        // The first file that loads is used.
        std::vector<std::string> soundFonts = {"/usr/share/sounds/sf2/default-GM.sf2",
                                               "/usr/share/sounds/sf2/TimGM6mb.sf2",
                                               "/usr/share/sounds/sf2/FluidR3_GM.sf2"};
        // Tried in order; an empty name stands for FluidSynth's own default driver, and
        // kPulseStream for this program's own stream to a PulseAudio or PipeWire server, which
        // wakes the process half as often as FluidSynth's way there through ALSA.
        std::vector<std::string> audioDrivers = {kPulseStream, "",     "pulseaudio",
                                                 "pipewire",   "alsa", "jack"};
        double sampleRate = 44100.0;
        // The server's stream then plays at its device's rate where the server says it, which
        // spares the server resampling every block; sampleRate is for every other output.
        bool deviceRate = true;
        // No audio driver: the caller pulls the sound out with render().
        bool offline = false;
        // Frames per callback of FluidSynth's own drivers, which keep two of them.
        int periodSize = 1024;
        // The whole latency asked of the sound server's stream. The picture waits for what the
        // tick lead cannot cover, so this only buys safety on a busy machine, and every halving
        // doubles the server's wake-ups.
        int streamLatencyMs = 50;
        // Percussion notes (channel 10) rendered once at full velocity at open and placed on
        // their exact frame, scaled by their velocity; others wait for the synthesizer's next
        // block. Given by the owner, from
        // the notes the tick sound plays.
        std::vector<int> tickNotes;
        // The output pauses this long after the last sound has died away, and wakes with the
        // next message.
        double sleepAfterSeconds = 0.5;
        // Offline: told when an output would pause (true) or resume (false), so that tests can
        // play the stream's part.
        std::function<void(bool paused)> pauseOutput;
        // The clock the tick counter counts, in nanoseconds (steadyClockNs when empty).
        std::function<int64_t()> clockNs;
    };

    // Results of open() besides 0.
    static constexpr int kNoSoundFont = 1;
    static constexpr int kNoAudioOutput = 2;

    // A timed message is heard its delay after its moment. The beat clock sends each tick at
    // least 50 ms before its beat and its timer notices that moment up to one period late; the
    // delay must also cover the output's latency, or the frame is rendered before the message
    // arrives. The margin is for a busy machine holding the window's thread back; the picture
    // waits for it, which nobody sees.
    static constexpr int kDefaultDelayMs = 50;
    static constexpr int kDelayMarginMs = 40;
    // The delay that covers a beat timer of the given period (the preset file allows up to 100)
    // and the output latency.
    static int delayForTimerPeriod(int periodMs, int outputLatencyMs = 0);

    struct Stats {
        int64_t timedMessages = 0;
        // Timed messages whose frame had already been rendered: they sounded at once.
        int64_t lateMessages = 0;
        // Late notes left out: their moment had passed by more than a flam.
        int64_t staleNotes = 0;
        // Ticks mixed in from their rendering.
        int64_t ticksPlaced = 0;
        // The audio device's rate against the steady clock.
        double deviceRatePpm = 0;
        // Stalls of the audio stream the timing followed.
        int streamJumps = 0;
        // Times the output ran dry while playing.
        int64_t underruns = 0;
        // The server's stream is filled at a real-time priority, asked for once a fill came late
        // (FluidSynth's own drivers say nothing of theirs).
        bool realtime = false;
        // From a frame's rendering to its being heard, as the output reports it.
        double outputLatencyMs = 0;
        // The output is paused because nothing sounds; how often it went to sleep.
        bool asleep = false;
        int64_t sleeps = 0;
        // The SoundFont is in memory: kept for a window, or from a note the renderings do not cover
        // until nothing has sounded for a while.
        bool samplesLoaded = false;
    };

    FluidSynthMidiOut();
    explicit FluidSynthMidiOut(Options options);
    ~FluidSynthMidiOut() override;
    FluidSynthMidiOut(const FluidSynthMidiOut &) = delete;
    FluidSynthMidiOut &operator=(const FluidSynthMidiOut &) = delete;

    // Opening again with nothing changed since (not closed, the same tick notes) keeps the device
    // as it is and gives the same answer: start-up can open it before the window exists.
    int open() override;
    void shortMsg(uint32_t packed) override;
    // Heard delayMs() after dueTick, or as soon as can be when that frame is already rendered;
    // a note-on not at all when that frame passed tens of milliseconds ago.
    void shortMsgAt(uint32_t packed, uint32_t dueTick) override;
    void close() override;

    bool isOpen() const;
    // The SoundFont and the audio driver in use; empty while closed (the driver also when offline).
    const std::string &soundFont() const;
    const std::string &audioDriver() const;

    // Takes effect for messages posted afterwards.
    void setDelayMs(int ms);
    void setTimerPeriod(int periodMs) override;
    int delayMs() const override;
    int outputLatencyMs() const override;
    void holdAwake(bool hold) override;
    void keepSounds(bool keep) override;
    // Rendered at the next open.
    void setTickNotes(const std::vector<int> &notes) override;
    Stats stats() const;

    // Offline only: renders the next frames, timed messages included, the first of them to be
    // heard latencyNs from now. Silence while closed or when a driver plays. With fillFrames,
    // the frames are asked for at once and delivered that many at a time, as a sound server's
    // stream takes them.
    void render(float *left, float *right, int frames, int fillFrames = 0, int64_t latencyNs = 0);

private:
    int openAnew();

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace pv2

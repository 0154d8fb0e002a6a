#pragma once

#include <functional>
#include <memory>
#include <string>

namespace pv2 {

// A playback stream on a PulseAudio (or PipeWire) sound server, filled on the client library's
// own thread. FluidSynth reaches the same server through ALSA's plug-in, which adds a second
// thread and a second wake-up to every block; this costs one.
class PulseStream {
public:
    struct Callbacks {
        // The server asks for this many frames; the fills that follow deliver them.
        std::function<void(int frames)> request;
        // Renders the next frames, at most maxFill at a time.
        std::function<void(float *left, float *right, int frames)> fill;
    };
    static constexpr int kMaxFill = 4096;

    PulseStream();
    ~PulseStream();
    PulseStream(const PulseStream &) = delete;
    PulseStream &operator=(const PulseStream &) = delete;

    // Connects to the user's sound server (never starts one) and starts playing stereo at the
    // rate, buffering about two blocks. False when there is no server or it refuses.
    bool open(double sampleRate, int blockFrames, Callbacks callbacks);
    // Stops the thread before returning: no callback runs afterwards.
    void close();
    bool isOpen() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace pv2

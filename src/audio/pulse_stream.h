#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace pv2 {

// A playback stream on a PulseAudio (or PipeWire) sound server, filled on the client library's
// own thread. FluidSynth reaches the same server through ALSA's plug-in, which adds a second
// thread and a second wake-up to every block; this costs one.
class PulseStream {
public:
    struct Callbacks {
        // The server asks for this many frames; the first of them will be heard latencyNs from
        // now by the server's timing information (-1 while it has none). The fills that follow
        // deliver the frames.
        std::function<void(int frames, int64_t latencyNs)> request;
        // Renders the next frames, at most kMaxFill at a time.
        std::function<void(float *left, float *right, int frames)> fill;
        // Each new reading of the server's timing, before the request it came with: the frame
        // (counted from the first one written) that was heard ageNs ago. Returns how soon the
        // next reading is wanted (0: at once; negative: whenever the server sends one).
        std::function<int64_t(int64_t ageNs, double frame)> heard;
    };
    static constexpr int kMaxFill = 4096;

    PulseStream();
    ~PulseStream();
    PulseStream(const PulseStream &) = delete;
    PulseStream &operator=(const PulseStream &) = delete;

    // Connects to the user's sound server (never starts one), unless connected already. False
    // when there is none.
    bool connect();
    // The rate of the device the server plays to by default, once connected; 0 when it did not
    // say. A stream at this rate spares the server resampling every block.
    double deviceRate() const;
    // Connects if need be and plays stereo at the rate with about latencyFrames from a frame's
    // request to its being heard. Starts paused. False when there is no server or it refuses.
    bool open(double sampleRate, int latencyFrames, Callbacks callbacks);
    // Stops the thread before returning: no callback runs afterwards.
    void close();
    bool isOpen() const;

    // A paused stream asks for nothing, and the server may let its device sleep. Any thread,
    // the callbacks' included.
    void setPaused(bool paused);
    // Times the server ran out of frames while playing.
    int64_t underruns() const;
    // The thread that fills the stream got a real-time priority. It asks for one only once a
    // fill comes late or the server runs dry.
    bool realtime() const;
    // A fill that finds latencyNs of a bufferNs buffer still ahead of it, playingNs after the
    // stream started playing, came late enough that the thread needs a higher priority.
    static bool fillCameLate(int64_t latencyNs, int64_t bufferNs, int64_t playingNs);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace pv2

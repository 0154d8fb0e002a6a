#include "pulse_stream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include <pthread.h>
#include <sched.h>

namespace pv2 {

namespace {
constexpr pa_usec_t kConnectTimeout = 3 * PA_USEC_PER_SEC;
constexpr size_t kFrameBytes = 2 * sizeof(float);
} // namespace

struct PulseStream::Impl {
    Callbacks callbacks;
    std::atomic<int64_t> underruns{0};
    std::atomic<bool> realtime{false};
    bool priorityTried = false;
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
    pa_time_event *timer = nullptr;
    bool timedOut = false;
    double rate = 0;
    double deviceRate = 0;
    int64_t bufferNs = 0;
    // The last reading taken, and when the stream last started playing: a reading from before
    // then has the frames standing still.
    pa_usec_t readingAt = 0;
    pa_usec_t playingSince = 0;
    // When the last reading was asked for on the steady clock, and how soon the next is wanted.
    pa_usec_t askedAt = 0;
    int64_t wantWithinUs = 0;
    std::vector<float> left, right, interleaved;

    static void contextChanged(pa_context *, void *data) {
        pa_threaded_mainloop_signal(static_cast<Impl *>(data)->loop, 0);
    }
    static void streamChanged(pa_stream *, void *data) {
        pa_threaded_mainloop_signal(static_cast<Impl *>(data)->loop, 0);
    }
    static void expired(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *data) {
        auto *d = static_cast<Impl *>(data);
        d->timedOut = true;
        pa_threaded_mainloop_signal(d->loop, 0);
    }
    static void writable(pa_stream *s, size_t bytes, void *data) {
        static_cast<Impl *>(data)->write(s, bytes);
    }
    static void ranDry(pa_stream *s, void *data) {
        auto *d = static_cast<Impl *>(data);
        d->underruns.fetch_add(1, std::memory_order_relaxed);
        if (!d->priorityTried)
            d->raisePriority();
        // The frames will be heard later than they were: the sooner the map knows, the better.
        d->askForReading(s);
    }

    void askForReading(pa_stream *s) {
        askedAt = pa_rtclock_now();
        if (pa_operation *op = pa_stream_update_timing_info(s, nullptr, nullptr))
            pa_operation_unref(op);
    }

    // The server states when it measured, on its wall clock, which is this machine's.
    void reportHeard(pa_stream *s) {
        const pa_timing_info *t = pa_stream_get_timing_info(s);
        if (!callbacks.heard || pa_stream_is_corked(s) == 1)
            return;
        const pa_usec_t at = t ? pa_timeval_load(&t->timestamp) : 0;
        if (!t || !t->playing || t->read_index_corrupt || at == readingAt || at <= playingSince) {
            // Between the server's own updates, which come seconds apart once a stream runs.
            if (wantWithinUs >= 0 && pa_rtclock_now() - askedAt >= pa_usec_t(wantWithinUs))
                askForReading(s);
            return;
        }
        readingAt = at;
        timeval now{};
        const auto ageNs = (static_cast<int64_t>(pa_timeval_load(pa_gettimeofday(&now))) -
                            static_cast<int64_t>(at)) *
                           1000;
        const double frame = static_cast<double>(t->read_index) / kFrameBytes -
                             static_cast<double>(t->sink_usec) * rate / 1e6;
        const int64_t wantNs = callbacks.heard(ageNs, frame);
        wantWithinUs = wantNs < 0 ? -1 : wantNs / 1000;
        if (wantNs == 0)
            askForReading(s);
    }

    // A busy machine can hold a fill back until the device runs dry. Then this thread asks for
    // the lowest real-time priority, below the server's own threads, where the system allows it.
    // Not before: a real-time thread preempts the server's main thread at every request, which
    // costs the server a quarter more context switches on an idle machine.
    void raisePriority() {
        priorityTried = true;
#if defined(__linux__)
        sched_param p{};
        p.sched_priority = sched_get_priority_min(SCHED_RR);
        realtime = pthread_setschedparam(pthread_self(), SCHED_RR, &p) == 0;
#endif
    }

    void write(pa_stream *s, size_t bytes) {
        int frames = static_cast<int>(bytes / kFrameBytes);
        if (frames <= 0)
            return;
        // The latency of the write index: when the first frame written now will be heard. It is
        // interpolated from the server's last report, so a late callback sees a shorter one.
        pa_usec_t usec = 0;
        int negative = 0;
        int64_t latencyNs = -1;
        if (pa_stream_get_latency(s, &usec, &negative) == 0)
            latencyNs = (negative ? -1 : 1) * static_cast<int64_t>(usec) * 1000;
        if (!priorityTried && latencyNs >= 0 && pa_stream_is_corked(s) == 0) {
            timeval now{};
            const auto playingNs = (static_cast<int64_t>(pa_timeval_load(pa_gettimeofday(&now))) -
                                    static_cast<int64_t>(playingSince)) *
                                   1000;
            if (PulseStream::fillCameLate(latencyNs, bufferNs, playingNs))
                raisePriority();
        }
        reportHeard(s);
        callbacks.request(frames, latencyNs);
        while (frames > 0) {
            const int n = std::min(frames, kMaxFill);
            callbacks.fill(left.data(), right.data(), n);
            for (int i = 0; i < n; ++i) {
                interleaved[2 * size_t(i)] = left[size_t(i)];
                interleaved[2 * size_t(i) + 1] = right[size_t(i)];
            }
            if (pa_stream_write(s, interleaved.data(), size_t(n) * kFrameBytes, nullptr, 0,
                                PA_SEEK_RELATIVE) < 0)
                return;
            frames -= n;
        }
    }

    // With the loop locked: waits until ready() says true (connected) or false (failed).
    template <typename Ready> bool waitFor(Ready ready) {
        timedOut = false;
        timer = pa_context_rttime_new(context, pa_rtclock_now() + kConnectTimeout, expired, this);
        bool ok = false;
        for (;;) {
            const int r = ready();
            if (r >= 0) {
                ok = r == 1;
                break;
            }
            if (timedOut)
                break;
            pa_threaded_mainloop_wait(loop);
        }
        if (timer)
            pa_threaded_mainloop_get_api(loop)->time_free(timer);
        timer = nullptr;
        return ok;
    }

    bool connectContext() {
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Pulvano2");
        if (!context)
            return false;
        pa_context_set_state_callback(context, contextChanged, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        return waitFor([this] {
            const pa_context_state_t s = pa_context_get_state(context);
            return s == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(s) ? -1 : 0;
        });
    }

    static void sinkFound(pa_context *, const pa_sink_info *info, int eol, void *data) {
        auto *d = static_cast<Impl *>(data);
        if (eol == 0 && info)
            d->deviceRate = info->sample_spec.rate;
        pa_threaded_mainloop_signal(d->loop, 0);
    }

    void askDeviceRate() {
        pa_operation *op =
            pa_context_get_sink_info_by_name(context, "@DEFAULT_SINK@", sinkFound, this);
        if (!op)
            return;
        waitFor([op] { return pa_operation_get_state(op) == PA_OPERATION_RUNNING ? -1 : 1; });
        // Timed out: no late answer may write the rate while the caller reads it.
        if (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
            pa_operation_cancel(op);
        pa_operation_unref(op);
    }

    bool openStream(double sampleRate, int latencyFrames) {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(sampleRate), 2};
        stream = pa_stream_new(context, "Pulvano2", &format, nullptr);
        if (!stream)
            return false;
        pa_stream_set_state_callback(stream, streamChanged, this);
        pa_stream_set_write_callback(stream, writable, this);
        pa_stream_set_underflow_callback(stream, ranDry, this);
        // With ADJUST_LATENCY tlength is the whole latency; the server gives the device
        // (tlength - 2 minreq) / 2 of it, and PipeWire sets its graph's quantum from the same
        // share. A small minreq leaves the device nearly half: it then wakes least often, and
        // each time it takes one block from this stream, so the requests come no more often.
        // A third for minreq left it a sixth, and the server woke half as often again; a
        // twentieth, 7 % more often than a fiftieth, and a fiftieth 3 % more than this.
        pa_buffer_attr attr{};
        const auto tlength = static_cast<uint32_t>(latencyFrames * kFrameBytes);
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = tlength;
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = tlength / 200;
        attr.fragsize = static_cast<uint32_t>(-1);
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                           PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_START_CORKED);
        if (pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
            return false;
        return waitFor([this] {
            const pa_stream_state_t s = pa_stream_get_state(stream);
            return s == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(s) ? -1 : 0;
        });
    }

    void release() {
        if (!loop)
            return;
        pa_threaded_mainloop_stop(loop);
        if (stream) {
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream, nullptr, nullptr);
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        if (context) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        pa_threaded_mainloop_free(loop);
        stream = nullptr;
        context = nullptr;
        loop = nullptr;
        deviceRate = 0;
    }
};

PulseStream::PulseStream() : m_impl(std::make_unique<Impl>()) {}

PulseStream::~PulseStream() {
    close();
}

bool PulseStream::connect() {
    Impl &d = *m_impl;
    if (d.loop) {
        pa_threaded_mainloop_lock(d.loop);
        const bool ready = d.context && pa_context_get_state(d.context) == PA_CONTEXT_READY;
        pa_threaded_mainloop_unlock(d.loop);
        if (ready)
            return true;
        // The server went away since: start afresh.
        d.release();
    }
    d.loop = pa_threaded_mainloop_new();
    if (!d.loop)
        return false;
    if (pa_threaded_mainloop_start(d.loop) < 0) {
        pa_threaded_mainloop_free(d.loop);
        d.loop = nullptr;
        return false;
    }
    pa_threaded_mainloop_lock(d.loop);
    const bool ok = d.connectContext();
    if (ok)
        d.askDeviceRate();
    pa_threaded_mainloop_unlock(d.loop);
    if (!ok)
        d.release();
    return ok;
}

double PulseStream::deviceRate() const {
    return m_impl->deviceRate;
}

bool PulseStream::open(double sampleRate, int latencyFrames, Callbacks callbacks) {
    Impl &d = *m_impl;
    if (d.stream)
        close();
    if (!callbacks.request || !callbacks.fill || latencyFrames <= 0 || sampleRate <= 0 ||
        !connect())
        return false;
    pa_threaded_mainloop_lock(d.loop);
    d.callbacks = std::move(callbacks);
    d.underruns = 0;
    d.realtime = false;
    d.priorityTried = false;
    d.rate = sampleRate;
    d.bufferNs = static_cast<int64_t>(latencyFrames / sampleRate * 1e9);
    d.readingAt = 0;
    d.playingSince = 0;
    d.askedAt = 0;
    d.wantWithinUs = 0;
    d.left.assign(kMaxFill, 0.0f);
    d.right.assign(kMaxFill, 0.0f);
    d.interleaved.assign(2 * size_t(kMaxFill), 0.0f);
    const bool ok = d.openStream(sampleRate, latencyFrames);
    pa_threaded_mainloop_unlock(d.loop);
    if (!ok)
        d.release();
    return ok;
}

void PulseStream::close() {
    m_impl->release();
}

bool PulseStream::isOpen() const {
    return m_impl->stream != nullptr;
}

int64_t PulseStream::underruns() const {
    return m_impl->underruns.load(std::memory_order_relaxed);
}

bool PulseStream::fillCameLate(int64_t latencyNs, int64_t bufferNs, int64_t playingNs) {
    // Until the stream has played a buffer's worth, the buffer is still filling from empty.
    // Once it runs, the server asks for more when the device has taken its half, so a fill on
    // time finds about half the buffer ahead of it; at a third, the device is a sixth from
    // running dry.
    return playingNs >= bufferNs && latencyNs < bufferNs / 3;
}

bool PulseStream::realtime() const {
    return m_impl->realtime.load(std::memory_order_relaxed);
}

void PulseStream::setPaused(bool paused) {
    Impl &d = *m_impl;
    if (!d.loop || !d.stream)
        return;
    const bool inLoop = pa_threaded_mainloop_in_thread(d.loop);
    if (!inLoop)
        pa_threaded_mainloop_lock(d.loop);
    if (!paused) {
        timeval now{};
        d.playingSince = pa_timeval_load(pa_gettimeofday(&now));
        d.wantWithinUs = 0;
    }
    if (pa_operation *op = pa_stream_cork(d.stream, paused ? 1 : 0, nullptr, nullptr))
        pa_operation_unref(op);
    if (!inLoop)
        pa_threaded_mainloop_unlock(d.loop);
}

} // namespace pv2

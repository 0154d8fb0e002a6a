#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pv2::bench {

// One tick found in a recording.
struct Onset {
    double frame = 0; // where its sound starts, to a fraction of a frame
    int kind = 0;     // index of the template it matches
    double match = 0; // normalised correlation with that template
    double gain = 0;  // its loudness against the template's: 2 would be a doubled tick
};

// Finds every tick: a sharp rise of energy, then the template and frame that match it best.
// Each template starts on the first frame of its tick's sound.
std::vector<Onset> findOnsets(const std::vector<float> &recording,
                              const std::vector<std::vector<float>> &templates,
                              double minMatch = 0.7);

// When the frames of a recording were captured, on the steady clock, from the moments its reads
// returned: the earliest return for each frame count is the clean reading.
struct CaptureClock {
    double originNs = 0; // capture time of frame 0
    double nsPerFrame = 0;
    double timeOf(double frame) const { return originNs + frame * nsPerFrame; }
    // The device's rate against the steady clock.
    double ratePpm(double nominalRate) const { return (1e9 / nsPerFrame / nominalRate - 1) * 1e6; }
};
struct Read {
    int64_t timeNs;
    int64_t frames; // frames read so far
};
CaptureClock fitCaptureClock(const std::vector<Read> &reads, double rate);

// A frame of a recording and the steady-clock moment the sound server's timing information
// puts it at.
struct TimedFrame {
    double frame = 0;
    double timeNs = 0;
};
struct ClockFit {
    CaptureClock clock;
    int used = 0, dropped = 0; // points kept, and those left out as far off the line
    double residualSdNs = 0;   // of the points kept
};
// A straight line through them by least squares, fitted again without the points far off it:
// a timing update that arrived late must not bend the whole clock.
ClockFit fitTimedFrames(const std::vector<TimedFrame> &points, double rate);

// A tick the clock asked for.
struct Expected {
    int64_t dueNs;  // on the steady clock
    int64_t beatNs; // the beat it announces
    int kind;
};

struct TickResult {
    int index = 0;
    int kind = 0;
    double beatMs = 0;      // scheduled beat, from the first one
    double heardMs = 0;     // onset on the steady clock, from the first beat
    double deviationMs = 0; // from the fitted grid
    double intervalErrorMs = 0;
    double offsetMs = 0; // heard - beat
    double frame = 0;
    double gain = 0;
};

struct Report {
    int expected = 0;
    int found = 0;   // matched to an expected tick
    int missing = 0; // expected, not heard
    int extra = 0;   // heard, not expected (doubled or stray)
    int wrongKind = 0;
    double meanIntervalPpm = 0;       // on the steady clock
    double meanIntervalPpmFrames = 0; // counting the device's frames at the nominal rate
    double deviceRatePpm = 0;
    double intervalSdMs = 0;
    double worstDeviationMs = 0;
    double driftMs = 0; // mean offset of the last ten ticks minus that of the first ten
    double offsetMeanMs = 0;
    double offsetSdMs = 0;
    double gainMin = 0, gainMax = 0;
    std::vector<TickResult> ticks;
};

Report analyse(const std::vector<Expected> &expected, const std::vector<Onset> &onsets,
               const CaptureClock &clock, double rate);

void writeCsv(const Report &report, const std::string &path);
// Per-tick deviation from the fitted grid, with the target band.
bool writePlot(const Report &report, const std::string &title, const std::string &path,
               double bandMs);

} // namespace pv2::bench

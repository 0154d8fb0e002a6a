#include "tick_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace pv2::bench {
namespace {

constexpr double kRate = 44100.0;

// Two clicks unlike each other: a decaying noise burst and a decaying 3 kHz tone, each with a
// few silent frames before its attack, as a synthesizer's note has.
std::vector<std::vector<float>> clicks() {
    std::mt19937 gen(3);
    std::normal_distribution<float> noise(0, 0.3f);
    std::vector<std::vector<float>> t(2, std::vector<float>(8000, 0.0f));
    for (int i = 6; i < 8000; ++i) {
        const float decay = std::exp(-(i - 6) / 600.0f);
        t[0][i] = noise(gen) * decay;
        t[1][i] = 0.4f * std::sin(2 * 3.14159265f * 3000 * i / 44100.0f) * decay;
    }
    return t;
}

void mixIn(std::vector<float> &rec, const std::vector<float> &tmpl, size_t at, float gain = 1) {
    for (size_t i = 0; i < tmpl.size() && at + i < rec.size(); ++i)
        rec[at + i] += gain * tmpl[i];
}

TEST(TickAnalysis, FindsEachTickOnItsFrameOverTheTailsOfOthers) {
    const auto t = clicks();
    std::vector<float> rec(static_cast<size_t>(3 * kRate));
    std::mt19937 gen(5);
    std::normal_distribution<float> hiss(0, 3e-5f);
    for (float &x : rec)
        x = hiss(gen);
    // 100 ms apart: each starts while the last still rings.
    const size_t at[] = {1000, 5410, 9821, 14233, 18643, 23059};
    for (size_t i = 0; i < std::size(at); ++i)
        mixIn(rec, t[i % 3 == 0 ? 1 : 0], at[i], i == 4 ? 2.0f : 1.0f);

    const auto onsets = findOnsets(rec, t);
    ASSERT_EQ(onsets.size(), std::size(at));
    for (size_t i = 0; i < std::size(at); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(onsets[i].frame, static_cast<double>(at[i]), 0.05);
        EXPECT_EQ(onsets[i].kind, i % 3 == 0 ? 1 : 0);
        EXPECT_GT(onsets[i].match, 0.9);
        EXPECT_NEAR(onsets[i].gain, i == 4 ? 2.0 : 1.0, 0.05);
    }
}

TEST(TickAnalysis, CaptureClockFollowsTheEarliestReads) {
    // The device runs 80 ppm fast; reads return late by up to 5 ms, never early.
    const double nsPerFrame = 1e9 / (kRate * (1 + 80e-6));
    std::mt19937 gen(9);
    std::exponential_distribution<double> late(1 / 0.5e6);
    std::vector<Read> reads;
    for (int64_t k = 1; k <= 5000; ++k) {
        const int64_t frames = k * 512;
        const double t = 7e9 + frames * nsPerFrame + std::min(5e6, late(gen));
        reads.push_back({static_cast<int64_t>(t), frames});
    }
    const CaptureClock c = fitCaptureClock(reads, kRate);
    EXPECT_NEAR(c.ratePpm(kRate), 80.0, 1.0);
    EXPECT_NEAR(c.timeOf(1'000'000), 7e9 + 1'000'000 * nsPerFrame, 0.05e6);
}

TEST(TickAnalysis, ServerTimedClockIgnoresTheOddLateUpdate) {
    // The sink runs 300 ppm fast; the server's figures scatter by 20 us, and one in fifty
    // comes 8 ms off, as a timing update that arrived late does.
    const double nsPerFrame = 1e9 / (kRate * (1 + 300e-6));
    std::mt19937 gen(4);
    std::normal_distribution<double> grain(0, 20e3);
    std::vector<TimedFrame> points;
    for (int k = 0; k < 3000; ++k) {
        const double frame = k * 441.0;
        points.push_back({frame, 3e12 + frame * nsPerFrame + grain(gen) + (k % 50 == 7 ? 8e6 : 0)});
    }
    const ClockFit fit = fitTimedFrames(points, kRate);
    EXPECT_NEAR(fit.clock.ratePpm(kRate), 300.0, 0.5);
    EXPECT_NEAR(fit.clock.timeOf(600'000), 3e12 + 600'000 * nsPerFrame, 5e3);
    EXPECT_EQ(fit.dropped, 60);
    EXPECT_NEAR(fit.residualSdNs, 20e3, 3e3);
}

TEST(TickAnalysis, ComparesTheTicksHeardWithTheGrid) {
    // Ticks heard a constant delay after their beat on a clock of exact frames, every fourth the
    // bar's first with a note of its own; one is missing, one comes twice, one is 0.2 ms late
    // and one has the other note. The delay may be longer than a beat.
    struct Case {
        int64_t beatMs;
        double delayMs;
    };
    for (const Case c : {Case{500, 60}, Case{75, 93}}) {
        SCOPED_TRACE(c.beatMs);
        CaptureClock clock;
        clock.originNs = 0;
        clock.nsPerFrame = 1e9 / kRate;
        std::vector<Expected> expected;
        std::vector<Onset> onsets;
        for (int k = 0; k < 40; ++k) {
            const int64_t beat = 1'000'000'000 + int64_t{k} * c.beatMs * 1'000'000;
            expected.push_back({beat - 50'000'000, beat, k % 4 == 0 ? 1 : 0});
            if (k == 7)
                continue;
            double heard = static_cast<double>(beat) + c.delayMs * 1e6 + (k == 20 ? 0.2e6 : 0);
            const int kind = k == 30 ? 1 - expected.back().kind : expected.back().kind;
            onsets.push_back({heard / clock.nsPerFrame, kind, 0.99, 1.0});
            if (k == 12)
                onsets.push_back({(heard + 40e6) / clock.nsPerFrame, kind, 0.99, 1.0});
        }
        const Report r = analyse(expected, onsets, clock, kRate);
        EXPECT_EQ(r.expected, 40);
        EXPECT_EQ(r.found, 39);
        EXPECT_EQ(r.missing, 1);
        EXPECT_EQ(r.extra, 1);
        EXPECT_EQ(r.wrongKind, 1);
        EXPECT_NEAR(r.offsetMeanMs, c.delayMs, 0.01);
        EXPECT_NEAR(r.worstDeviationMs, 0.2, 0.01);
        EXPECT_NEAR(r.meanIntervalPpm, 0.0, 1.0);
        // Only the late tick moves its two intervals, among the 37 between neighbours.
        EXPECT_NEAR(r.intervalSdMs, std::sqrt(2 * 0.04 / 37), 0.002);
        EXPECT_NEAR(r.driftMs, 0.0, 0.01);
    }
}

} // namespace
} // namespace pv2::bench

#include "audio/audio_clock_map.h"
#include "audio/pulse_stream.h"
#include "audio/timed_message_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace pv2 {
namespace {

constexpr double kRate = 44100.0;
constexpr int64_t kMs = 1'000'000;
constexpr int64_t kDelay = 50 * kMs;

// An hour of an audio device whose clock runs ppm away from the steady clock, then laterPpm
// from half past on (warming up). Block k is asked for when the device has played up to its start,
// the callback late by a little scheduling noise and now and then by 3 ms. One message is due every
// 500 ms, posted when a 20 ms timer would notice it. Returns each one's delay to the ear in ms.
std::vector<double> runAnHour(double ppm, double laterPpm, int block) {
    const double rate = kRate * (1 + ppm * 1e-6), laterRate = kRate * (1 + laterPpm * 1e-6);
    const double half = 1800 * kRate;
    const int64_t start = 1'000 * kMs;
    auto heardNs = [&](int64_t frame) {
        const double f = double(frame);
        return double(start) +
               (std::min(f, half) / rate + std::max(0.0, f - half) / laterRate) * 1e9;
    };
    std::mt19937 gen{7};
    std::uniform_real_distribution<double> noise(0, 0.05e6);
    std::bernoulli_distribution hiccup(0.02);
    std::uniform_int_distribution<int64_t> lateness(0, 20 * kMs);
    AudioClockMap map(kRate);
    TimedMessageQueue queue;
    std::vector<TimedMessageQueue::Placed> out;
    std::vector<double> delays;
    auto due = [&](uint32_t n) { return start + (100 + 500 * int64_t{n}) * kMs; };
    uint32_t next = 0; // the next message to post
    int64_t nextPost = due(0) + lateness(gen);
    for (int64_t first = 0; first < 3600 * kRate; first += block) {
        const double late = noise(gen) + (hiccup(gen) ? 3e6 : 0);
        const int64_t now = std::llround(heardNs(first) + late);
        for (; nextPost < now; ++next, nextPost = due(next) + lateness(gen))
            queue.post(next, due(next));
        map.observe(now, first + block);
        queue.take(map, kDelay, first, block, out);
        for (const auto &p : out)
            delays.push_back((heardNs(first + p.offset) - double(due(p.packed))) / 1e6);
    }
    EXPECT_EQ(queue.lateCount(), 0);
    return delays;
}

TEST(AudioClockMap, HoldsOneDelayWithoutDriftOverAnHour) {
    const struct {
        double ppm, laterPpm;
        int block;
    } cases[] = {{0, 0, 2048}, {0, 20, 2048}, {250, 250, 512}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.ppm << "/" << c.laterPpm << " ppm, " << c.block);
        const auto delays = runAnHour(c.ppm, c.laterPpm, c.block);
        ASSERT_GE(delays.size(), 7190u);
        // Rendered D after the due moment, heard one block later.
        const double expected = kDelay / 1e6 + c.block / kRate * 1e3;
        // Within a millisecond while the rate is learnt (six seconds), then within 50 us with
        // neighbouring ticks differing by the rounding to whole frames at most; a new rate is
        // learnt and steered to within ten minutes.
        for (size_t i = 0; i < delays.size(); ++i) {
            if (c.laterPpm != c.ppm && i >= 3600 && i < 4800)
                continue;
            ASSERT_NEAR(delays[i], expected, i < 12 ? 1.0 : 0.05) << i;
            if (i >= 12) {
                ASSERT_LT(std::fabs(delays[i] - delays[i - 1]), 0.03) << i;
            }
        }
    }
}

TEST(AudioClockMap, FollowsAStallKeepingTheRateItLearnt) {
    AudioClockMap map(kRate);
    const int block = 1024;
    int64_t k = 0;
    // When block k is asked for, on a device 100 ppm fast moved by shiftMs.
    auto at = [&](int64_t shiftMs) {
        return 1'000 * kMs + std::llround(k * block / (kRate * (1 + 100e-6)) * 1e9) + shiftMs * kMs;
    };
    // Blocks up to second n, 43 a second; with check, the map must place each on its frame.
    auto feed = [&](int64_t n, int64_t shiftMs, bool check = false) {
        for (; k < n * 43; ++k) {
            map.observe(at(shiftMs), (k + 1) * block);
            if (check) {
                ASSERT_NEAR(map.frameAt(at(shiftMs)), (k + 1) * block, 1.0) << k;
            }
        }
    };
    feed(60, 0);
    EXPECT_NEAR(map.frameAt(at(0)), (k + 1) * block, 1.0);
    EXPECT_NEAR(map.ratePpm(), 100.0, 2.0);
    // The device stalled for 80 ms and plays on from where it was.
    feed(63, 80);
    EXPECT_EQ(map.jumps(), 1);
    feed(120, 80, true);
    // One slow window is not a stall.
    feed(121, 90);
    feed(130, 80);
    EXPECT_EQ(map.jumps(), 1);
    EXPECT_NEAR(map.frameAt(at(80)), (k + 1) * block, 1.0);
}

// A device 160 ppm fast, read by the server as often as the map asks (a write callback comes
// every 16 ms) and every 1.5 s otherwise, each reading up to 40 us off; the callbacks come up to 20
// ms late. Ticks 750 ms apart are placed 60 ms before they are heard, as the backend does.
TEST(AudioClockMap, FollowsTheServersReadingsFromTheFirstTickThroughAStallAndAPause) {
    const double rate = kRate * (1 + 160e-6);
    int64_t shift = 0; // a stall moves the heard frames later
    auto timeOf = [&](double f) { return 1'000 * kMs + std::llround(f / rate * 1e9) + shift; };
    std::mt19937 gen{3};
    // A reading is stamped up to 40 us after it was taken, and one of the first 150 us.
    std::uniform_real_distribution<double> noise(0, 40e3), late(0, 20e6);
    int readings = 0;
    AudioClockMap map(kRate);
    double reading = 0.01 * rate;
    auto wanted = [&] { return map.readingWantedWithinNs(); };
    auto nextReading = [&] { return (wanted() == 0 ? 0.016 : wanted() > 0 ? 0.25 : 1.5) * rate; };
    // Everything up to the moment the tick heard at frame f is placed; returns the placement's
    // error in ms.
    auto placeTick = [&](double f) {
        for (; timeOf(reading) < timeOf(f) - 60 * kMs; reading += nextReading()) {
            map.observe(timeOf(reading) + std::llround(late(gen)), int64_t(reading));
            const double stamp = ++readings == 2 ? 150e3 : noise(gen);
            map.observeHeard(timeOf(reading) + std::llround(stamp), reading);
        }
        return (map.frameAt(timeOf(f)) - f) / kRate * 1e3;
    };
    for (double f = 0.1 * rate; f < 120 * rate; f += 0.75 * rate)
        ASSERT_NEAR(placeTick(f), 0, 0.05) << f / rate;
    EXPECT_NEAR(map.ratePpm(), 160, 3);
    EXPECT_LT(wanted(), 0);
    // One stray reading moves nothing; two agreeing on 30 ms more are a stall, followed at once.
    EXPECT_FALSE(map.observeHeard(timeOf(reading) + 30 * kMs, reading));
    EXPECT_NEAR(placeTick(130 * rate), 0, 0.05);
    shift = 30 * kMs;
    EXPECT_FALSE(map.observeHeard(timeOf(reading), reading));
    EXPECT_TRUE(map.observeHeard(timeOf(reading + 100), reading + 100));
    EXPECT_EQ(map.jumps(), 1);
    EXPECT_NEAR(placeTick(131 * rate), 0, 0.05);
    // After a pause one reading places the ticks, at the rate learnt before (the nominal one
    // would be 10 frames off 1.45 s later).
    map.reset();
    shift = 5'000 * kMs;
    map.observeHeard(timeOf(150 * rate), 150 * rate);
    EXPECT_NEAR(map.frameAt(timeOf(151.45 * rate)) - 151.45 * rate, 0, 1.0);
}

// A map of a stream that has rendered 2048-frame blocks on time since 1 s; the next block
// starts at frame 10 * 2048.
AudioClockMap steadyMap() {
    AudioClockMap map(kRate);
    for (int64_t k = 0; k < 10; ++k)
        map.observe(1'000 * kMs + std::llround(k * 2048 / kRate * 1e9), (k + 1) * 2048);
    return map;
}

TEST(TimedMessageQueue, PlacesMessagesInOrderOnTheirFrameOrAtOnceWhenLate) {
    const AudioClockMap map = steadyMap();
    const int64_t first = 10 * 2048;
    // The moment that, with the delay, falls on the block's first frame.
    const int64_t onFirst = std::llround(map.timeAt(first)) + map.anchorTime() - kDelay;
    // Message n is due dueUs[n] after that: one in the next block posted first, a note-on and a
    // note-off sharing their moment, one late by a frame, one by far more than the delay, one
    // 2/3 of a frame before the next.
    const int64_t dueUs[] = {60'000, 0, 10'000, 10'000, -23, -5'000'000, 10'015};
    TimedMessageQueue queue;
    for (uint32_t n = 0; n < std::size(dueUs); ++n)
        ASSERT_TRUE(queue.post(n, onFirst + dueUs[n] * 1000));
    std::vector<TimedMessageQueue::Placed> out;
    std::vector<std::pair<uint32_t, int>> got; // message, frame from first
    for (int b = 0; b < 2; ++b) {
        queue.take(map, kDelay, first + b * 2048, 2048, out);
        for (const auto &p : out)
            got.emplace_back(p.packed, b * 2048 + p.offset);
    }
    // Late ones at once, after those due there and in the order they were posted.
    EXPECT_EQ(got, (std::vector<std::pair<uint32_t, int>>{
                       {1, 0}, {4, 0}, {5, 0}, {2, 441}, {3, 441}, {6, 442}, {0, 2646}}));
    EXPECT_EQ(queue.lateCount(), 2);
}

// Refusing a message once the ring is full keeps the ones it holds; clear() forgets them all.
// A tick posted at a start waits while the map is still a guess; the server's first reading
// then corrects the map by 2 ms, and the tick sounds where the corrected map puts it.
TEST(TimedMessageQueue, PlacesByTheMapOfTheBlockThatPlaysIt) {
    AudioClockMap map = steadyMap();
    const int64_t first = 10 * 2048;
    const int64_t due = std::llround(map.timeAt(first + 3000)) + map.anchorTime() - kDelay;
    TimedMessageQueue queue;
    queue.post(7, due);
    std::vector<TimedMessageQueue::Placed> out;
    queue.take(map, kDelay, first, 2048, out);
    EXPECT_TRUE(out.empty());
    map.observeHeard(due + kDelay - 2 * kMs, first + 3000);
    queue.take(map, kDelay, first + 2048, 2048, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NEAR(out[0].offset, 3000 - 2048 + 0.002 * kRate, 1);
}

TEST(TimedMessageQueue, AFullQueueRefusesAndClearForgets) {
    TimedMessageQueue queue(2);
    EXPECT_TRUE(queue.post(1, 0) && queue.post(2, 0));
    EXPECT_FALSE(queue.post(3, 0));
    queue.clear();
    EXPECT_TRUE(queue.empty());
}

// On time, a fill finds about half of the 50 ms ahead of it; on a busy machine down to 18 ms.
TEST(PulseStream, AsksForPriorityOnlyOnceAFillRisksRunningDry) {
    struct Row {
        int64_t latencyMs, playingMs;
        bool late;
    };
    for (const Row r : {Row{25, 5000, false}, Row{18, 5000, false}, Row{16, 5000, true},
                        Row{0, 5000, true}, Row{0, 20, false}, Row{16, 49, false}})
        EXPECT_EQ(PulseStream::fillCameLate(r.latencyMs * kMs, kDelay, r.playingMs * kMs), r.late)
            << r.latencyMs << " ms ahead, " << r.playingMs << " ms playing";
}

} // namespace
} // namespace pv2

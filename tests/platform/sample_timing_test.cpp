#include "platform/audio_clock_map.h"
#include "platform/timed_message_queue.h"

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

// An audio device whose clock runs ppm away from the steady clock. Block k is asked for when
// the device has played up to its start, and the callback runs late by a little scheduling
// noise and now and then by a few milliseconds. Frame f is heard at start + f / rate.
struct Device {
    double ppm = 0;
    int block = 2048;
    int64_t startNs = 1'000 * kMs;
    std::mt19937 gen{7};

    double rate() const { return kRate * (1 + ppm * 1e-6); }
    int64_t callbackNs(int64_t k) {
        std::uniform_real_distribution<double> noise(0, 0.05e6);
        std::bernoulli_distribution hiccup(0.02);
        const double late = noise(gen) + (hiccup(gen) ? 3e6 : 0);
        return startNs + std::llround(static_cast<double>(k * block) / rate() * 1e9 + late);
    }
    double heardNs(int64_t frame) const {
        return static_cast<double>(startNs) + static_cast<double>(frame) / rate() * 1e9;
    }
};

struct Tick {
    int64_t dueNs;
    double heardNs;
};

// Runs the device for the given time with one message due every intervalMs, each posted when a
// 20 ms timer would notice it (up to 20 ms late), and returns when each was heard.
std::vector<Tick> run(Device &dev, double seconds, int intervalMs = 500) {
    AudioClockMap map(kRate);
    TimedMessageQueue queue;
    std::vector<TimedMessageQueue::Placed> out;
    std::vector<int64_t> posted;
    std::vector<Tick> ticks;
    std::uniform_int_distribution<int64_t> lateness(0, 20 * kMs);
    int64_t nextDue = dev.startNs + 100 * kMs;
    int64_t nextPost = nextDue + lateness(dev.gen);
    const auto blocks = static_cast<int64_t>(seconds * kRate / dev.block);
    for (int64_t k = 0; k < blocks; ++k) {
        const int64_t now = dev.callbackNs(k);
        while (nextPost < now) {
            queue.post(static_cast<uint32_t>(posted.size()), nextDue);
            posted.push_back(nextDue);
            nextDue += intervalMs * kMs;
            nextPost = nextDue + lateness(dev.gen);
        }
        const int64_t first = k * dev.block;
        map.observe(now, first + dev.block);
        queue.take(map, kDelay, first, dev.block, out);
        for (const auto &p : out)
            ticks.push_back({posted[p.packed], dev.heardNs(first + p.offset)});
    }
    EXPECT_EQ(queue.lateCount(), 0);
    return ticks;
}

// Delay from the due moment to the ear, in ms.
double delayMs(const Tick &t) {
    return (t.heardNs - static_cast<double>(t.dueNs)) / 1e6;
}

TEST(AudioClockMap, HoldsOneDelayWithoutDriftOverAnHour) {
    struct Case {
        double ppm;
        int block;
    };
    for (const Case c : {Case{0, 2048}, Case{100, 2048}, Case{-100, 2048}, Case{250, 512}}) {
        SCOPED_TRACE(testing::Message() << c.ppm << " ppm, blocks of " << c.block);
        Device dev;
        dev.ppm = c.ppm;
        dev.block = c.block;
        const auto ticks = run(dev, 3600);
        ASSERT_GE(ticks.size(), 7190u);
        // Rendered D after the due moment, heard one block later.
        const double expected = kDelay / 1e6 + c.block / dev.rate() * 1e3;
        const size_t settled = 12; // six seconds to learn the device's rate
        double lo = 1e9, hi = -1e9, worstStep = 0;
        for (size_t i = settled; i < ticks.size(); ++i) {
            lo = std::min(lo, delayMs(ticks[i]));
            hi = std::max(hi, delayMs(ticks[i]));
            worstStep = std::max(worstStep, std::fabs(delayMs(ticks[i]) - delayMs(ticks[i - 1])));
        }
        EXPECT_NEAR(lo, expected, 0.05);
        EXPECT_NEAR(hi, expected, 0.05);
        // Neighbouring ticks differ by the rounding to whole frames at most.
        EXPECT_LT(worstStep, 0.03);
        for (size_t i = 0; i < settled; ++i)
            EXPECT_NEAR(delayMs(ticks[i]), expected, 1.0) << i;
    }
}

TEST(AudioClockMap, FollowsAStallKeepingTheRateItLearnt) {
    AudioClockMap map(kRate);
    const int block = 1024;
    const double rate = kRate * (1 + 100e-6);
    auto at = [&](int64_t k, int64_t shiftNs) {
        return 1'000 * kMs + std::llround(k * block / rate * 1e9) + shiftNs;
    };
    int64_t k = 0;
    for (; k < 60 * 43; ++k)
        map.observe(at(k, 0), (k + 1) * block);
    EXPECT_NEAR(map.frameAt(at(k, 0)), k * block + block, 1.0);
    EXPECT_NEAR(map.ratePpm(), 100.0, 2.0);
    // The device stalled for 80 ms and plays on from where it was.
    const int64_t stalled = k;
    for (; k < stalled + 3 * 43; ++k)
        map.observe(at(k, 80 * kMs), (k + 1) * block);
    EXPECT_EQ(map.jumps(), 1);
    for (; k < stalled + 60 * 43; ++k) {
        map.observe(at(k, 80 * kMs), (k + 1) * block);
        ASSERT_NEAR(map.frameAt(at(k, 80 * kMs)), k * block + block, 1.0) << k;
    }
    // One slow window is not a stall.
    for (int i = 0; i < 43; ++i, ++k)
        map.observe(at(k, 80 * kMs + 10 * kMs), (k + 1) * block);
    for (; k < stalled + 70 * 43; ++k)
        map.observe(at(k, 80 * kMs), (k + 1) * block);
    EXPECT_EQ(map.jumps(), 1);
    EXPECT_NEAR(map.frameAt(at(k, 80 * kMs)), k * block + block, 1.0);
}

// A map of a stream that has rendered 2048-frame blocks on time since 1 s; the next block
// starts at frame 10 * 2048.
AudioClockMap steadyMap() {
    AudioClockMap map(kRate);
    for (int64_t k = 0; k < 10; ++k)
        map.observe(1'000 * kMs + std::llround(k * 2048 / kRate * 1e9), (k + 1) * 2048);
    return map;
}

TEST(TimedMessageQueue, PlacesMessagesOnTheirFrameOrAtOnceWhenLate) {
    const AudioClockMap map = steadyMap();
    const int64_t first = 10 * 2048;
    const int64_t firstNs = std::llround(map.timeAt(first)) + map.anchorTime();
    struct Case {
        const char *what;
        int64_t dueNs; // before the delay
        int offset;    // -1: not in this block
    };
    const Case cases[] = {
        {"on the block's first frame", firstNs - kDelay, 0},
        {"inside the block", firstNs - kDelay + 10 * kMs, 441},
        {"past by less than the delay", firstNs - 40 * kMs, 441},
        {"late by a frame", firstNs - kDelay - 23'000, 0},
        {"passed by more than the delay", firstNs - kDelay - 5'000 * kMs, 0},
        {"in the next block", firstNs - kDelay + 60 * kMs, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TimedMessageQueue queue;
        std::vector<TimedMessageQueue::Placed> out;
        ASSERT_TRUE(queue.post(0x99, c.dueNs));
        queue.take(map, kDelay, first, 2048, out);
        if (c.offset < 0) {
            EXPECT_TRUE(out.empty());
            queue.take(map, kDelay, first + 2048, 2048, out);
            ASSERT_EQ(out.size(), 1u);
            EXPECT_EQ(out[0].offset, 60 * 441 / 10 - 2048);
        } else {
            ASSERT_EQ(out.size(), 1u);
            EXPECT_EQ(out[0].offset, c.offset);
        }
        const bool late = c.offset == 0 && c.dueNs + kDelay < firstNs;
        EXPECT_EQ(queue.lateCount(), late ? 1 : 0);
    }
}

TEST(TimedMessageQueue, KeepsMessagesInOrder) {
    const AudioClockMap map = steadyMap();
    const int64_t first = 10 * 2048;
    const int64_t due = std::llround(map.timeAt(first)) + map.anchorTime() - kDelay;
    TimedMessageQueue queue;
    std::vector<TimedMessageQueue::Placed> out;
    // Note-on and note-off of one tick share their moment; a later tick posted first still
    // sounds after them; late messages keep the order they were posted in.
    queue.post(1, due + 20 * kMs);
    queue.post(2, due + 10 * kMs);
    queue.post(3, due + 10 * kMs);
    queue.post(4, due - 100 * kMs);
    queue.post(5, due - 200 * kMs);
    queue.take(map, kDelay, first, 2048, out);
    std::vector<uint32_t> order;
    std::vector<int> offsets;
    for (const auto &p : out) {
        order.push_back(p.packed);
        offsets.push_back(p.offset);
    }
    EXPECT_EQ(order, (std::vector<uint32_t>{4, 5, 2, 3, 1}));
    EXPECT_EQ(offsets, (std::vector<int>{0, 0, 441, 441, 882}));
}

TEST(TimedMessageQueue, AFullQueueRefusesAndClearForgets) {
    const AudioClockMap map = steadyMap();
    TimedMessageQueue queue(2);
    std::vector<TimedMessageQueue::Placed> out;
    EXPECT_TRUE(queue.post(1, 0));
    EXPECT_TRUE(queue.post(2, 0));
    EXPECT_FALSE(queue.post(3, 0));
    queue.clear();
    queue.take(map, kDelay, 10 * 2048, 2048, out);
    EXPECT_TRUE(out.empty());
}

} // namespace
} // namespace pv2

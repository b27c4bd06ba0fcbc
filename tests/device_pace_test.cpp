// The device's pace, which writes are stamped against, the times it ran dry, and the drop-outs
// counted from them.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sound/callback_clock.h"
#include "sound/drop_out_count.h"

namespace {

constexpr int kRateHz = 48000;
constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kBuffer = 128;           // frames per callback
constexpr std::int64_t kDryAfterNs = 13 * kMs;  // queue and buffer
constexpr std::int64_t kStartNs = 1'000 * kMs;

std::int64_t frameNs(std::int64_t frame) { return frame * 1'000'000'000 / kRateHz; }

struct Callback {
    std::int64_t frame;
    std::int64_t late_ns;  // after the earliest the device would ask for it
};

std::vector<sound::CallbackClock::Step> run(const std::vector<Callback>& callbacks) {
    sound::CallbackClock pace(kRateHz, kDryAfterNs);
    std::vector<sound::CallbackClock::Step> steps;
    for (const Callback& c : callbacks)
        steps.push_back(pace.onCallback(c.frame, kStartNs + frameNs(c.frame) + c.late_ns));
    return steps;
}

TEST(CallbackClock, UnevenCallbacksKeepEveryFrameInItsPlace) {
    // A sound server asks in bursts: three callbacks at once, then a pause, and one now and
    // then a few ms late. Every frame keeps its place on the pace all the same.
    std::vector<Callback> callbacks;
    for (std::int64_t i = 0; i < 60; ++i) {
        const std::int64_t in_burst = i % 3;
        std::int64_t late = (2 - in_burst) * frameNs(kBuffer);  // all three at once
        if (i % 17 == 5) late += 4 * kMs;
        callbacks.push_back({i * kBuffer, late});
    }
    const auto steps = run(callbacks);
    for (std::size_t i = 3; i < steps.size(); ++i) {
        EXPECT_EQ(steps[i].frame_ns, kStartNs + frameNs(callbacks[i].frame)) << "callback " << i;
        EXPECT_FALSE(steps[i].ran_dry) << "callback " << i;
    }
}

TEST(CallbackClock, NeverPlacesAFrameAfterItsCallback) {
    // Writes are stamped from the frame's place; one after the callback's own time could land
    // on samples the callback has already rendered.
    std::vector<Callback> callbacks;
    for (std::int64_t i = 0; i < 40; ++i) callbacks.push_back({i * kBuffer, (i * 7919 % 11) * kMs});
    const auto steps = run(callbacks);
    for (std::size_t i = 0; i < steps.size(); ++i)
        EXPECT_LE(steps[i].frame_ns, kStartNs + frameNs(callbacks[i].frame) + callbacks[i].late_ns);
}

TEST(CallbackClock, CallbackLaterThanTheQueueIsOneDropOutAndANewPace) {
    // Given a steady device, when one callback comes 20 ms late and the device carries on from
    // there (it has played 20 ms of silence), then that is one drop-out, and later frames take
    // the new pace rather than the old one.
    std::vector<Callback> callbacks;
    for (std::int64_t i = 0; i < 40; ++i) callbacks.push_back({i * kBuffer, i < 20 ? 0 : 20 * kMs});
    const auto steps = run(callbacks);
    int dry = 0;
    for (const auto& s : steps) dry += s.ran_dry ? 1 : 0;
    EXPECT_EQ(dry, 1);
    EXPECT_TRUE(steps[20].ran_dry);
    EXPECT_EQ(steps[39].frame_ns, kStartNs + frameNs(callbacks[39].frame) + 20 * kMs);
}

TEST(CallbackClock, LateButWithinTheQueueIsNoDropOut) {
    std::vector<Callback> callbacks;
    for (std::int64_t i = 0; i < 40; ++i)
        callbacks.push_back({i * kBuffer, i == 20 ? 12 * kMs : 0});
    for (const auto& s : run(callbacks)) EXPECT_FALSE(s.ran_dry);
}

TEST(DropOutCount, CountsEachHeardGapOnce) {
    // Parts 5 ms apart; the queue lasts 15 ms. Each case: which parts are heard, and which come
    // after the device said it ran dry.
    constexpr std::int64_t kQueueNs = 15 * kMs;
    struct Case {
        const char* what;
        const char* heard;
        const char* dry;
        int counted;
    } cases[] = {
        {"a gap in a note", "1111111111", "0000100000", 1},
        {"said twice in one gap, 5 ms apart", "1111111111", "0000110000", 1},
        {"two gaps 25 ms apart", "1111111111", "0010000010", 2},
        {"the gap after a note's end", "1111000000", "0000100000", 1},
        {"before a note's start", "0000011111", "0000010000", 1},
        {"in silence", "1100000011", "0000100000", 0},
        {"nothing played", "0000000000", "0100100100", 0},
    };
    for (const Case& c : cases) {
        sound::DropOutCount count;
        int counted = 0;
        for (int i = 0; c.heard[i] != '\0'; ++i) {
            const std::int64_t at_ns = kStartNs + std::int64_t{i} * 5 * kMs;
            if (count.onPart(at_ns, c.heard[i] == '1', c.dry[i] == '1', kQueueNs)) ++counted;
        }
        EXPECT_EQ(counted, c.counted) << c.what;
    }
}

}  // namespace

// The device's pace, which writes are stamped against, and the times it ran dry.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sound/callback_clock.h"

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

}  // namespace

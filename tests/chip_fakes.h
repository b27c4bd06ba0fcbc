// Test doubles for the chip's ports, the clock and the event pump.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/run_error.h"
#include "fm/opl2.h"
#include "fm/port_io.h"
#include "playback/timed_wait.h"

namespace fakes {

// The run-time fault's message, or "" when f runs to its end.
inline std::string faultOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const common::RunError& e) {
        return e.what();
    }
    return "";
}

struct Access {
    bool is_out;
    std::uint16_t port;
    std::int16_t value;  // 0 for reads
};

// One register write as the chip sees it: the selected register, then the data value.
struct Write {
    int reg;
    int value;
    friend bool operator==(const Write&, const Write&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Write& w) {
        return os << "0x" << std::hex << w.reg << "<-0x" << w.value << std::dec << " (" << w.value
                  << ")";
    }
};

// Records every access and decodes the stream into register writes as it goes, so a pump
// action can see how far the program has got.
class RecordingPort final : public fm::PortIo {
public:
    void out(std::uint16_t port, std::int16_t value) override {
        if (on_access) on_access();
        accesses_.push_back({true, port, value});
        if (port == fm::opl2::kAddressPort) pending_reg_ = value;
        if (port == fm::opl2::kDataPort) writes_.push_back({pending_reg_, value});
    }
    std::uint8_t in(std::uint16_t port) override {
        if (on_access) on_access();
        accesses_.push_back({false, port, 0});
        return fm::opl2::kIdleStatus;
    }

    const std::vector<Access>& accesses() const { return accesses_; }
    const std::vector<Write>& writes() const { return writes_; }

    // Empty if every access from `from` on belongs to a whole write: the address out, 6 status
    // reads, the data out, 35 status reads. Otherwise where the stream first goes wrong.
    std::string patternFault(std::size_t from = 0) const {
        constexpr std::size_t kPerWrite = 1 + 6 + 1 + 35;
        if ((accesses_.size() - from) % kPerWrite != 0)
            return "access count " + std::to_string(accesses_.size() - from) +
                   " is not whole writes";
        for (std::size_t i = from; i < accesses_.size(); ++i) {
            const std::size_t at = (i - from) % kPerWrite;
            const Access& a = accesses_[i];
            const bool want_out = at == 0 || at == 7;
            const std::uint16_t want_port = at == 7 ? fm::opl2::kDataPort : fm::opl2::kAddressPort;
            if (a.is_out != want_out || a.port != want_port) {
                std::ostringstream os;
                os << "access " << i << " is " << (a.is_out ? "out " : "in ") << std::hex << a.port
                   << ", expected " << (want_out ? "out " : "in ") << want_port;
                return os.str();
            }
        }
        return {};
    }

    std::function<void()> on_access;  // runs before each access is recorded

private:
    std::vector<Access> accesses_;
    std::vector<Write> writes_;
    int pending_reg_ = -1;
};

// A seconds-since-midnight counter under the test's control. Time is kept in double and
// read out in float, like a platform counter; it wraps to 0 at midnight.
class FakeClock final : public playback::Clock {
public:
    static constexpr double kDay = 86400.0;

    explicit FakeClock(float start = 3600.0f) : now_(start) {}

    // Sets the time of day, as a user or daylight saving time would: no time passes.
    void set(float seconds) { now_ = seconds; }
    void advance(double seconds) {
        elapsed_ += seconds;
        now_ += seconds;
        while (now_ >= kDay) now_ -= kDay;
    }
    // Each read moves the clock on by this much after returning the time.
    void setAdvancePerRead(double seconds) { per_read_ = seconds; }

    double now() const { return now_; }
    // Seconds that have passed since the clock was made, whatever the time of day did: the
    // monotonic clock beside it.
    double elapsed() const { return elapsed_; }
    int reads() const { return reads_; }

    float secondsSinceMidnight() override {
        ++reads_;
        const auto t = static_cast<float>(now_);
        advance(per_read_);
        return t;
    }

private:
    double now_;
    double elapsed_ = 0.0;
    double per_read_ = 0.0;
    int reads_ = 0;
};

// Thrown when a wait pumps far more often than any test expects: a wait that never ends.
struct RunawayWait {};

// Each pass runs the actions scripted for it (passes count from 1), then "blocks": the clock
// moves on by the requested max_block, or by a fixed tick if one is given.
class ScriptedPump final : public playback::EventPump {
public:
    explicit ScriptedPump(FakeClock& clock, double fixed_tick = 0.0)
        : clock_(clock), tick_(fixed_tick) {}

    void at(int pass, std::function<void()> action) { script_.emplace(pass, std::move(action)); }
    void everyPass(std::function<void()> action) { every_ = std::move(action); }
    void setPassLimit(int limit) { limit_ = limit; }

    void processEvents(double max_block_s) override {
        if (++passes_ > limit_) throw RunawayWait{};
        blocks_.push_back(max_block_s);
        clock_times_.push_back(clock_.now());
        // Copied out first: an action may nest a whole playback that pumps again.
        const int pass = passes_;
        auto [first, last] = script_.equal_range(pass);
        std::vector<std::function<void()>> due;
        for (auto it = first; it != last; ++it) due.push_back(it->second);
        for (auto& action : due) action();
        if (every_) every_();
        clock_.advance(tick_ > 0.0 ? tick_ : max_block_s);
    }

    int passes() const { return passes_; }
    const std::vector<double>& blocks() const { return blocks_; }
    // The clock's time as each pass began.
    const std::vector<double>& clockTimes() const { return clock_times_; }

private:
    FakeClock& clock_;
    double tick_;
    std::multimap<int, std::function<void()>> script_;
    std::function<void()> every_;
    std::vector<double> blocks_;
    std::vector<double> clock_times_;
    int passes_ = 0;
    int limit_ = 1'000'000;
};

}  // namespace fakes

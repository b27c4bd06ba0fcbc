// The timed wait that holds a note: it keeps the window's events flowing until its time is up.
#pragma once

namespace playback {

// Seconds since local midnight, as the platform's single-precision counter gives them.
class Clock {
public:
    virtual ~Clock() = default;
    virtual float secondsSinceMidnight() = 0;
};

// Handles every pending event (any handler may run to its end in here), then blocks until the
// next event arrives or max_block_s has passed, whichever is first. A pump never spins.
class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void processEvents(double max_block_s) = 0;
};

// The longest a pump may block per pass; a click is never kept waiting longer than this.
inline constexpr double kPumpSliceSeconds = 0.005;
// The clock counts from midnight and starts again from 0 after this many seconds.
inline constexpr double kSecondsPerDay = 86400.0;

class TimedWait {
public:
    TimedWait(Clock& clock, EventPump& pump) : clock_(clock), pump_(pump) {}

    // Returns at the first check at which Seconds of clock time have passed since the call.
    void Sleep(double Seconds);

private:
    Clock& clock_;
    EventPump& pump_;
};

}  // namespace playback

// What every front end shares: the chain of port backends, the output files, and the way out.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/message.h"
#include "app/options.h"
#include "common/atomic_file.h"
#include "fm/port_io.h"
#include "fm/ports/direct_port.h"
#include "fm/ports/key_on_watch.h"
#include "fm/ports/status_watch.h"
#include "sound/chip_session.h"

namespace app {

// The date the output files carry, "2026-12-08": today's, in local time. With SOURCE_DATE_EPOCH
// set (the reproducible-builds convention), that moment's date in UTC, so that two runs can give
// the same bytes.
std::string outputDate();

class Program {
public:
    // Builds the port chain the options ask for. Raises std::runtime_error with a one-line
    // reason (an unwritable output file, a chip that cannot be opened). `monotonic_s` times a
    // capture where no emulated chip keeps time: seconds on a clock that never jumps, by default
    // the steady clock. The time of day would not do: it jumps back an hour when daylight
    // saving time ends. `port_instructions` gives --chip ports its way to the card, by default
    // the machine's own ioperm, outb and inb.
    explicit Program(Options options, std::function<double()> monotonic_s = {},
                     std::function<std::unique_ptr<fm::PortInstructions>()> port_instructions = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    const Options& options() const { return options_; }
    // The front of the chain: every register write of the window object goes in here.
    fm::PortIo& port() { return *chain_.back(); }

    // Puts a backend in front of the chain; it must forward to `next`.
    template <typename Port, typename... Args>
    Port& wrap(Args&&... args) {
        auto port = std::make_unique<Port>(*chain_.back(), std::forward<Args>(args)...);
        Port& ref = *port;
        chain_.push_back(std::move(port));
        return ref;
    }
    // Something to finish on the way out (commit a file, close a device), run newest first.
    // `abandon` runs in its place when the run is abandoned (see abandon()); without it, the
    // finisher runs then too.
    void atExit(std::function<void()> finish, std::function<void()> abandon = {}) {
        finishers_.push_back({std::move(finish), std::move(abandon)});
    }

    // Keys off voices 1 and 2 if either still sounds, finishes every output, then ends the
    // process at once: nothing further runs.
    [[noreturn]] void exit(int status);
    // One line on stderr naming the fault, then exit(1). Outputs keep what was written so far.
    [[noreturn]] void fail(const std::string& message);
    // For a run that failed before it began (an output that cannot be written): one line on
    // stderr, then status 1 with every output removed unfinished, so that the files it would
    // have written stay exactly as they were.
    [[noreturn]] void abandon(const std::string& message);

    // Runs the finishers without ending the process; for tests and orderly shutdown.
    int finish(int status);

    // After start-up, with a real card: one line saying what its status reads showed. Where
    // they showed no chip, `warn` (the window's message) is given the same line too.
    void sayWhatAnswered(const std::function<void(const std::string&)>& warn = {});
    // --detect: probes the chip (the timer test on a card's ports; what the link or the kernel
    // knows elsewhere), prints the finding, and returns the exit status: 0 found, 1 not.
    int detect();

    // The emulated chip at the back of the chain, or nullptr with --chip none. Its
    // writeTimeSeconds() is the time source for anything that records register writes.
    sound::ChipSession* soundChip() { return sound_chip_.get(); }
    // Where live sound was asked for and no device opened: what to tell the user of a window,
    // who does not see the line on stderr (the reason, that the tune plays on in silence, and
    // what to do). "" otherwise.
    std::string noSoundMessage() const;

private:
    struct Finisher {
        std::function<void()> finish;
        std::function<void()> abandon;
    };
    int runFinishers(int status, bool abandoning);
    void keyOff();

    Options options_;
    std::unique_ptr<fm::PortIo> makeChip();
    std::function<double()> captureClock(std::function<double()> monotonic_s);
    std::function<std::unique_ptr<fm::PortInstructions>()> port_instructions_;

    std::unique_ptr<sound::ChipSession> sound_chip_;
    std::vector<std::unique_ptr<fm::PortIo>> chain_;
    std::vector<Finisher> finishers_;
    std::unique_ptr<common::AtomicFile> trace_file_;
    fm::KeyOnWatch* key_on_ = nullptr;
    // With a card's ports: what its status reads answered.
    fm::StatusWatch* status_watch_ = nullptr;
    // Where the chip cannot be probed through its ports: what the link or the kernel knows.
    std::string link_report_;
    bool link_found_ = false;
};

// The status of a run that failed: 1, or 128 + the quit signal that brought the failure about
// (a wait on a stalled board or on a FIFO, cut short), as the signal itself would end it.
int failureStatus();

}  // namespace app

// --chip ports through the port-instruction seam. The instructions here are stand-ins: a test
// must never reach the machine's ioperm, outb or inb (tests run as root, where they work).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/platform/quit_signals.h"
#include "app/program.h"
#include "capture_readers.h"
#include "fake_time_front_end.h"

namespace {

// Logs each call in the port trace's own format, so the two compare line by line.
struct LoggingInstructions final : fm::PortInstructions {
    LoggingInstructions(std::vector<std::string>& log, int refuse_with, std::uint8_t status = 0x06)
        : log_(log), refuse_with_(refuse_with), status_(status) {}
    int ioperm(std::uint16_t from, int count) override {
        log_.push_back("ioperm " + hex(from) + " " + std::to_string(count));
        return refuse_with_;
    }
    void outb(std::uint8_t value, std::uint16_t port) override {
        log_.push_back("out " + hex(port) + " " + hex(value));
    }
    std::uint8_t inb(std::uint16_t port) override {
        log_.push_back("in " + hex(port));
        return status_;
    }
    static std::string hex(unsigned v) {
        char text[8];
        std::snprintf(text, sizeof text, "%04x", v);
        return text;
    }
    std::vector<std::string>& log_;
    int refuse_with_;
    std::uint8_t status_;
};

// A card whose timer 1 runs in real time, as the chip's does: written one tick short of
// overflow and started, it raises IRQ and its flag once 80 us have passed. Bits 2-1 read as
// `kind_bits`: 0x06 for an OPL2, 0x00 for an OPL3.
struct TimerCard final : fm::PortInstructions {
    explicit TimerCard(std::vector<std::string>& log, std::uint8_t kind_bits, bool has_timer = true)
        : log_(log), kind_bits_(kind_bits), has_timer_(has_timer) {}
    int ioperm(std::uint16_t, int) override { return 0; }
    void outb(std::uint8_t value, std::uint16_t port) override {
        if (port == 0x388) selected_ = value;
        if (port != 0x389) return;
        log_.push_back(LoggingInstructions::hex(selected_) + "<-" +
                       LoggingInstructions::hex(value));
        if (selected_ == 0x02) count_ = value;
        if (selected_ != 0x04) return;
        if (value & 0x80) {  // resets the flags, and nothing else
            flags_ = 0;
            return;
        }
        masked_ = value & 0x40;
        running_ = (value & 0x01) != 0;
        started_ = std::chrono::steady_clock::now();
    }
    std::uint8_t inb(std::uint16_t) override {
        const auto overflow_after = std::chrono::microseconds(80 * (256 - count_));
        if (has_timer_ && running_ && !masked_ &&
            std::chrono::steady_clock::now() - started_ >= overflow_after)
            flags_ = 0xC0;
        return static_cast<std::uint8_t>(flags_ | kind_bits_);
    }
    std::vector<std::string>& log_;
    std::uint8_t kind_bits_;
    bool has_timer_;
    std::uint8_t selected_ = 0;
    int count_ = 0;
    int flags_ = 0;
    int masked_ = 0;
    bool running_ = false;
    std::chrono::steady_clock::time_point started_;
};

class DirectPorts : public ::testing::Test {
protected:
    // Once the ports are granted, root lent through sudo is given back; the tests' own root,
    // were they run through sudo, is not the program's to give.
    DirectPorts() { unsetenv("SUDO_UID"); }

    app::Program makeProgram(int refuse_with = 0, std::uint8_t status = 0x06) {
        app::Options options;
        options.text = true;
        options.chip = app::Chip::Ports;
        options.port_trace = trace().string();
        return app::Program(options, {}, [this, refuse_with, status] {
            return std::make_unique<LoggingInstructions>(log_, refuse_with, status);
        });
    }
    // Start-up, then "sluta"; what the program said afterwards on stderr.
    std::string runStartUp(app::Program& program) {
        app::clearQuitSignal();
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        EXPECT_EQ(write(fds[1], "sluta\n", 6), 6);
        close(fds[1]);
        std::FILE* out = std::tmpfile();
        testing::internal::CaptureStderr();
        fakes::FakeClock clock;
        fakes::FakeTimeFrontEnd front_end(program.port(), clock, fds[0], out,
                                          [&program](int status) { program.finish(status); });
        front_end.setAfterLoad([&program] { program.sayWhatAnswered(); });
        EXPECT_EQ(front_end.runToEnd(), 0) << front_end.fault;
        close(fds[0]);
        std::fclose(out);
        return testing::internal::GetCapturedStderr();
    }
    std::filesystem::path trace() const { return dir_.path() / "t.txt"; }

    readers::ScratchDir dir_;
    std::vector<std::string> log_;
};

TEST_F(DirectPorts, EveryAccessReachesTheCardExactlyAsTraced) {
    app::clearQuitSignal();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "start\nsluta\n", 12), 12);
    close(fds[1]);
    std::FILE* out = std::tmpfile();
    {
        app::Program program = makeProgram();
        fakes::FakeClock clock;
        fakes::FakeTimeFrontEnd front_end(program.port(), clock, fds[0], out,
                                          [&program](int status) { program.finish(status); });
        EXPECT_EQ(front_end.runToEnd(), 0) << front_end.fault;
    }
    close(fds[0]);
    std::fclose(out);

    // The card's two ports are asked for once, before any access; then every access, status
    // reads included (on a real card they are the chip's delay), as the trace has it.
    std::vector<std::string> expected = {"ioperm 0388 2"};
    std::ifstream in(trace());
    for (std::string line; std::getline(in, line);) expected.push_back(line);
    ASSERT_GT(expected.size(), 12556u) << "start-up and a step";
    EXPECT_EQ(log_, expected);
}

TEST_F(DirectPorts, StartUpSaysWhatItsStatusReadsShowedWithoutAnAccessOfItsOwn) {
    const struct {
        std::uint8_t status;
        const char* line;
    } cases[] = {
        {0x06, "vesk: OPL2 at 0x388\n"},
        {0x00, "vesk: an OPL3 at 0x388 (it plays the tune as an OPL2)\n"},
        {0xFF,
         "vesk: nothing answers at 0x388: every status read gave 0xff; is the card in, and set "
         "to this address?\n"},
        // Bits 2-1 as neither chip reads them: something else sits at the address.
        {0x02,
         "vesk: something at 0x388 answers as neither an OPL2 nor an OPL3 (its status read 0x02 "
         "to 0x02); vesk --detect runs the timer test\n"},
    };
    std::vector<std::string> first_log;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        log_.clear();
        app::Program program = makeProgram(0, c.status);
        EXPECT_EQ(runStartUp(program), c.line);
        // Start-up's accesses are the same whatever the card answers: exactly the trace's.
        std::vector<std::string> traced = {"ioperm 0388 2"};
        std::ifstream in(trace());
        for (std::string line; std::getline(in, line);) traced.push_back(line);
        EXPECT_EQ(log_, traced);
        if (first_log.empty()) first_log = log_;
        EXPECT_EQ(log_, first_log);
    }
}

TEST_F(DirectPorts, TimerTestFindsTheChipAndLeavesItsTimersStopped) {
    const struct {
        std::uint8_t kind_bits;
        bool has_timer;
        int status;
        const char* line;
    } cases[] = {
        {0x06, true, 0, "OPL2 at 0x388 (timer test: status 0x06, then 0xc6)\n"},
        {0x00, true, 0,
         "an OPL3 at 0x388 (timer test: status 0x00, then 0xc0); it plays the tune as an OPL2\n"},
        {0x06, false, 1,
         "something answers at 0x388, but its timer never ran (status 0x06, then 0x06): some PCI "
         "chips have no timers, so whether it is an OPL is unknown\n"},
        {0xFF, false, 1,
         "no OPL chip at 0x388 (timer test: status 0xff, then 0xff); is the card in, and set to "
         "this address?\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> writes;
        app::Options options;
        options.chip = app::Chip::Ports;
        options.detect = true;
        app::Program program(options, {}, [&] {
            return std::make_unique<TimerCard>(writes, c.kind_bits, c.has_timer);
        });
        testing::internal::CaptureStdout();
        EXPECT_EQ(program.detect(), c.status);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
        // Masked and reset, timer 1 one tick short of overflow and started, then masked and
        // reset again: the chip is left as it was found.
        EXPECT_EQ(writes, (std::vector<std::string>{"0004<-0060", "0004<-0080", "0002<-00ff",
                                                    "0004<-0021", "0004<-0060", "0004<-0080"}));
    }
}

TEST_F(DirectPorts, RootLentThroughSudoIsGivenBackBeforeAnyFileIsMade) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can be lent";
    constexpr uid_t kUser = 65534;  // nobody, whom sudo would have named
    std::filesystem::permissions(dir_.path(), std::filesystem::perms::all);
    // Given `sudo vesk --chip ports --port-trace FILE`, when the program has its ports, then
    // the trace is made by the user, and root cannot be taken back.
    EXPECT_EXIT(
        {
            setenv("SUDO_UID", "65534", 1);
            setenv("SUDO_GID", "65534", 1);
            app::Program program = makeProgram();
            const bool user = geteuid() == kUser && getegid() == kUser && setuid(0) != 0;
            std::_Exit(program.finish(0) == 0 && user ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
    struct stat made {};
    ASSERT_EQ(stat(trace().c_str(), &made), 0) << "the trace was not written";
    EXPECT_EQ(made.st_uid, kUser);
    EXPECT_EQ(made.st_gid, kUser);
}

TEST_F(DirectPorts, RefusedPortsAreOneLineNamingTheCauseAndTheRemedy) {
    try {
        makeProgram(EPERM);
        FAIL() << "refused ports must stop the program before it plays";
    } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        for (const char* part : {"ioperm", "Operation not permitted", "root", "CAP_SYS_RAWIO"})
            EXPECT_NE(message.find(part), std::string::npos) << message;
    }
    EXPECT_EQ(log_, (std::vector<std::string>{"ioperm 0388 2"})) << "no access without them";
    EXPECT_TRUE(dir_.entries().empty()) << "no trace begun";
}

}  // namespace

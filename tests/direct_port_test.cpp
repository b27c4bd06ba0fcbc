// --chip ports through the port-instruction seam. The instructions here are stand-ins: a test
// must never reach the machine's real ioperm, outb or inb (the tests run as root, where they
// would succeed).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/platform/quit_signals.h"
#include "app/program.h"
#include "capture_readers.h"
#include "chip_fakes.h"
#include "fake_time_front_end.h"
#include "fm/ports/direct_port.h"

namespace {

// Logs every call in the port trace's own format, so the two can be compared line by line.
class LoggingInstructions final : public fm::PortInstructions {
public:
    struct Log {
        std::vector<std::string> permits;
        std::vector<std::string> accesses;
        int refuse_with = 0;  // errno value for ioperm, or 0 to grant
    };
    explicit LoggingInstructions(Log& log) : log_(log) {}

    int ioperm(std::uint16_t from, int count) override {
        log_.permits.push_back(hex(from) + "+" + std::to_string(count));
        return log_.refuse_with;
    }
    void outb(std::uint8_t value, std::uint16_t port) override {
        EXPECT_TRUE(granted()) << "outb before ioperm";
        log_.accesses.push_back("out " + hex(port) + " " + hex(value));
    }
    std::uint8_t inb(std::uint16_t port) override {
        EXPECT_TRUE(granted()) << "inb before ioperm";
        log_.accesses.push_back("in " + hex(port));
        return 0x06;
    }

private:
    bool granted() const { return !log_.permits.empty() && log_.refuse_with == 0; }
    static std::string hex(unsigned v) {
        char text[8];
        std::snprintf(text, sizeof text, "%04x", v & 0xFFFF);
        return text;
    }
    Log& log_;
};

std::vector<std::string> lines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class DirectPorts : public ::testing::Test {
protected:
    void SetUp() override { app::clearQuitSignal(); }

    app::Options portsOptions() const {
        app::Options options;
        options.text = true;
        options.chip = app::Chip::Ports;
        options.port_trace = (dir_.path() / "t.txt").string();
        return options;
    }
    std::function<std::unique_ptr<fm::PortInstructions>()> standIn() {
        return [this] { return std::make_unique<LoggingInstructions>(log_); };
    }

    readers::ScratchDir dir_;
    LoggingInstructions::Log log_;
};

TEST_F(DirectPorts, EveryAccessReachesTheCardExactlyAsTraced) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string typed = "start\nsluta\n";
    ASSERT_EQ(write(fds[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    close(fds[1]);
    std::FILE* out = std::tmpfile();
    {
        app::Program program(portsOptions(), {}, standIn());
        // The card's two ports are asked for once, before anything plays.
        EXPECT_EQ(log_.permits, (std::vector<std::string>{"0388+2"}));
        EXPECT_TRUE(log_.accesses.empty());
        fakes::FakeClock clock;
        fakes::FakeTimeFrontEnd front_end(program.port(), clock, fds[0], out,
                                          [&program](int status) { program.finish(status); });
        EXPECT_EQ(front_end.runToEnd(), 0) << front_end.fault;
    }
    close(fds[0]);
    std::fclose(out);

    // Status reads included: on a real card they are the chip's delay.
    const auto traced = lines(dir_.path() / "t.txt");
    ASSERT_GT(traced.size(), 12556u) << "start-up and a step";
    EXPECT_EQ(log_.accesses, traced);
    EXPECT_EQ(log_.permits.size(), 1u);
}

TEST_F(DirectPorts, ValuesGoOutAsTheirLowByte) {
    fm::DirectPort port(std::make_unique<LoggingInstructions>(log_));
    port.out(0x389, -1);
    port.out(0x388, 0x1B0);
    EXPECT_EQ(port.in(0x388), 0x06);
    EXPECT_EQ(log_.accesses,
              (std::vector<std::string>{"out 0389 00ff", "out 0388 00b0", "in 0388"}));
}

TEST_F(DirectPorts, RefusedPortsAreOneLineNamingTheCauseAndTheRemedy) {
    const struct {
        int error;
        std::vector<std::string> says;
    } cases[] = {
        {EPERM, {"ioperm", "Operation not permitted", "root", "CAP_SYS_RAWIO"}},
        {EINVAL, {"ioperm", "Invalid argument"}},
    };
    for (const auto& c : cases) {
        log_.refuse_with = c.error;
        try {
            app::Program program(portsOptions(), {}, standIn());
            ADD_FAILURE() << "refused ports must stop the program before it plays";
        } catch (const std::runtime_error& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
            for (const auto& part : c.says)
                EXPECT_NE(message.find(part), std::string::npos) << message;
        }
        EXPECT_TRUE(log_.accesses.empty()) << "no access without the ports";
        // Nothing is left behind: the trace was never begun.
        EXPECT_TRUE(dir_.entries().empty());
    }
}

}  // namespace

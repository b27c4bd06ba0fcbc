// --chip ports through the port-instruction seam. The instructions here are stand-ins: a test
// must never reach the machine's ioperm, outb or inb (tests run as root, where they work).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
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
    LoggingInstructions(std::vector<std::string>& log, int refuse_with)
        : log_(log), refuse_with_(refuse_with) {}
    int ioperm(std::uint16_t from, int count) override {
        log_.push_back("ioperm " + hex(from) + " " + std::to_string(count));
        return refuse_with_;
    }
    void outb(std::uint8_t value, std::uint16_t port) override {
        log_.push_back("out " + hex(port) + " " + hex(value));
    }
    std::uint8_t inb(std::uint16_t port) override {
        log_.push_back("in " + hex(port));
        return 0x06;
    }
    static std::string hex(unsigned v) {
        char text[8];
        std::snprintf(text, sizeof text, "%04x", v);
        return text;
    }
    std::vector<std::string>& log_;
    int refuse_with_;
};

class DirectPorts : public ::testing::Test {
protected:
    app::Program makeProgram(int refuse_with = 0) {
        app::Options options;
        options.text = true;
        options.chip = app::Chip::Ports;
        options.port_trace = trace().string();
        return app::Program(options, {}, [this, refuse_with] {
            return std::make_unique<LoggingInstructions>(log_, refuse_with);
        });
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

// Serial OPL boards, stood in for by pseudo-terminals: the program runs with
// --chip serial:/dev/pts/N:PROTOCOL, and a reader on the master side decodes what a board
// would receive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/platform/quit_signals.h"
#include "app/program.h"
#include "board_readers.h"
#include "capture_readers.h"
#include "chip_fakes.h"
#include "common/run_error.h"
#include "fake_time_front_end.h"

extern char** environ;

namespace {

using boards::Bytes;
using fakes::Write;

constexpr std::size_t kStartupWrites = 292;
constexpr std::size_t kStepKeyOnWrites = 4;  // A0, B0, A1, B1

// A pseudo-terminal pair: the program opens the slave by name; the test reads the master.
// Neither end is inherited by the program, so closing the master really hangs the line up.
class Pty {
public:
    Pty() {
        char name[64] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
            return;
        }
        name_ = name;
        fcntl(master_, F_SETFD, FD_CLOEXEC);
        fcntl(slave_, F_SETFD, FD_CLOEXEC);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        closeMaster();
        if (slave_ >= 0) close(slave_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& name() const { return name_; }
    int slave() const { return slave_; }
    bool open() const { return master_ >= 0; }
    void closeMaster() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }
    // Until nothing more arrives: a pty hands on what the program wrote a moment later.
    void drainInto(Bytes& wire) {
        for (std::size_t before = SIZE_MAX; before != wire.size();) {
            before = wire.size();
            readInto(wire, 100);
        }
    }
    // Moves whatever the program has sent into `wire`, waiting up to timeout_ms for the first
    // byte.
    void readInto(Bytes& wire, int timeout_ms) {
        if (master_ < 0) return;
        pollfd ready{master_, POLLIN, 0};
        if (poll(&ready, 1, timeout_ms) <= 0) return;
        std::uint8_t buffer[4096];
        for (ssize_t got; (got = read(master_, buffer, sizeof buffer)) > 0;)
            wire.insert(wire.end(), buffer, buffer + got);
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string name_;
};

struct Finished {
    int status = -1;  // the exit status; -1 if it had to be killed
    Bytes wire;
    std::string stderr_text;
};

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the program with `args`, typing `input` on its standard input, and reads the board's
// side all the while. Standard input ends after `input` unless `hang_up` is given: then it
// stays open, and the master is closed as soon as hang_up(bytes so far) says so.
Finished runProgram(Pty& pty, const std::filesystem::path& dir, std::vector<std::string> args,
                    const std::string& input,
                    std::function<bool(const Bytes&)> hang_up = {}) {
    Finished run;
    int to_stdin[2];
    if (pipe2(to_stdin, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2";
        return run;
    }
    const std::string err_path = (dir / "stderr.txt").string();
    const std::string out_path = (dir / "stdout.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_stdin[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    args.insert(args.begin(), VESK_BINARY);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, VESK_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(to_stdin[0]);
    if (spawned != 0) {
        close(to_stdin[1]);
        ADD_FAILURE() << "cannot start " << VESK_BINARY;
        return run;
    }
    if (write(to_stdin[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        ADD_FAILURE() << "could not type the input";
    int keep_stdin = to_stdin[1];
    if (!hang_up) {
        close(keep_stdin);
        keep_stdin = -1;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        pty.readInto(run.wire, 20);
        if (hang_up && pty.open() && hang_up(run.wire)) pty.closeMaster();
        if (!pty.open()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            ADD_FAILURE() << "the program did not end within 60 s";
            break;
        }
    }
    pty.drainInto(run.wire);
    if (keep_stdin >= 0) close(keep_stdin);
    run.stderr_text = readText(err_path);
    return run;
}

std::vector<Write> decode(const std::string& protocol, const Bytes& wire) {
    if (protocol == "arduino") return boards::readArduino(wire);
    if (protocol == "nuke") return boards::readNuke(wire);
    const auto stream = boards::readRetroWave(wire);
    EXPECT_GT(stream.transfers_before_first_write, 0u) << "the bridge was never set up";
    EXPECT_FALSE(stream.other_transfer_after_a_write) << "something other than a write mid-song";
    return stream.writes;
}

struct Board {
    const char* protocol;
    const char* baud;  // "" for the default
    speed_t speed;
    friend void PrintTo(const Board& board, std::ostream* os) {
        *os << board.protocol << " at " << (*board.baud != '\0' ? board.baud : "the default rate");
    }
};

class BoardOnPty : public ::testing::TestWithParam<Board> {
protected:
    readers::ScratchDir dir_;
    Pty pty_;
};

TEST_P(BoardOnPty, ReceivesExactlyTheTracedRegisterWritesOnARawLine) {
    const Board& board = GetParam();
    std::vector<std::string> args = {"--text", "--chip",
                                     "serial:" + pty_.name() + ":" + board.protocol,
                                     "--port-trace", (dir_.path() / "t.txt").string()};
    if (*board.baud != '\0') args.insert(args.end(), {"--baud", board.baud});
    const Finished run = runProgram(pty_, dir_.path(), args, "start\nsluta\n");
    ASSERT_EQ(run.status, 0) << run.stderr_text;
    EXPECT_EQ(run.stderr_text, "");

    // Start-up, step 1's key-ons and Sluta's key-offs, in order, and nothing else: the way
    // out has nothing left to key off.
    const auto traced = boards::readTraceWrites(dir_.path() / "t.txt");
    ASSERT_GE(traced.size(), kStartupWrites + kStepKeyOnWrites + 2);
    EXPECT_EQ(traced.back(), (Write{0xB1, 0}));
    EXPECT_EQ(decode(board.protocol, run.wire), traced);

    // The line as the program left it: the rate asked for, 8N1, no flow control, raw.
    termios tio{};
    ASSERT_EQ(tcgetattr(pty_.slave(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), board.speed);
    EXPECT_EQ(cfgetispeed(&tio), board.speed);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u) << "parity, 2 stop bits or RTS/CTS";
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u) << "XON/XOFF would eat 0x11 and 0x13";
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "output processing would turn 0x0A into 0x0D 0x0A";
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, BoardOnPty,
    ::testing::Values(Board{"arduino", "", B115200}, Board{"nuke", "57600", B57600},
                      Board{"retrowave", "2000000", B2000000}),
    [](const auto& param_info) { return std::string(param_info.param.protocol); });

TEST(SerialBoard, LinkLostMidSongIsOneLineNamingTheDeviceAndTheCaptureIsFinished) {
    readers::ScratchDir dir;
    Pty pty;
    const auto capture = dir.path() / "c.vgm";
    // Given a playback under way, when the board goes away after step 1's key-ons...
    const Finished run = runProgram(
        pty, dir.path(),
        {"--text", "--chip", "serial:" + pty.name() + ":retrowave", "--capture",
         capture.string(), "--port-trace", (dir.path() / "t.txt").string()},
        "start\n", [](const Bytes& wire) {
            return boards::readRetroWave(wire).writes.size() >= kStartupWrites + kStepKeyOnWrites;
        });
    // ...the next write fails: status 1 and one line naming the device.
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(std::count(run.stderr_text.begin(), run.stderr_text.end(), '\n'), 1)
        << run.stderr_text;
    EXPECT_EQ(run.stderr_text.rfind("vesk: ", 0), 0u) << run.stderr_text;
    EXPECT_NE(run.stderr_text.find(pty.name()), std::string::npos) << run.stderr_text;

    // The capture and the trace are finished and hold what was sent before the fault.
    const auto sent = boards::readRetroWave(run.wire).writes;
    ASSERT_GE(sent.size(), kStartupWrites + kStepKeyOnWrites);
    const auto captured = readers::readVgm(readers::readFile(capture)).writes;
    ASSERT_GE(captured.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i)
        ASSERT_EQ((Write{captured[i].reg, captured[i].value}), sent[i]) << "write " << i;
    const auto traced = boards::readTraceWrites(dir.path() / "t.txt");
    EXPECT_EQ(std::vector<Write>(traced.begin(), traced.begin() + static_cast<std::ptrdiff_t>(
                                                                      sent.size())),
              sent);
    for (const auto& name : dir.entries())
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name << " left half-written";
}

TEST(SerialBoard, UnusableDevicesAreOneLineBeforeAnythingIsWritten) {
    const struct {
        std::string device;
        const char* says;
    } cases[] = {
        {"/nonexistent/ttyUSB9", "No such file or directory"},
        {"/dev/null", "not a serial device"},
    };
    for (const auto& c : cases) {
        readers::ScratchDir dir;
        Pty unused;
        const Finished run = runProgram(
            unused, dir.path(),
            {"--text", "--chip", "serial:" + c.device, "--capture",
             (dir.path() / "c.vgm").string()},
            "start\nsluta\n");
        EXPECT_EQ(run.status, 1) << c.device;
        EXPECT_EQ(std::count(run.stderr_text.begin(), run.stderr_text.end(), '\n'), 1)
            << run.stderr_text;
        EXPECT_NE(run.stderr_text.find(c.device), std::string::npos) << run.stderr_text;
        EXPECT_NE(run.stderr_text.find(c.says), std::string::npos) << run.stderr_text;
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "c.vgm"));
    }
}

// Ends the run with a run-time error at the nth register write; the writes before it go on.
class FaultAtWrite final : public fm::PortIo {
public:
    FaultAtWrite(fm::PortIo& next, std::size_t nth) : next_(next), left_(nth) {}
    void out(std::uint16_t port, std::int16_t value) override {
        if (port == fm::opl2::kDataPort && --left_ == 0)
            throw common::RunError(common::RunError::Kind::Overflow);
        next_.out(port, value);
    }
    std::uint8_t in(std::uint16_t port) override { return next_.in(port); }

private:
    fm::PortIo& next_;
    std::size_t left_;
};

TEST(SerialBoard, AFaultWithAVoiceKeyedOnKeysItOffOnTheWayOut) {
    app::clearQuitSignal();
    Pty pty;
    Bytes wire;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) pty.readInto(wire, 20);
    });

    app::Options options;
    options.text = true;
    options.chip = app::Chip::Serial;
    options.serial_device = pty.name();
    options.serial_protocol = fm::SerialProtocol::RetroWave;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "start\n", 6), 6);
    close(fds[1]);
    std::FILE* out = std::tmpfile();
    {
        app::Program program(options);
        // Step 1 writes A0 and B0 (voice 1 on), then faults on A1, before voice 2 is keyed on.
        program.wrap<FaultAtWrite>(kStartupWrites + 3);
        fakes::FakeClock clock;
        fakes::FakeTimeFrontEnd front_end(program.port(), clock, fds[0], out,
                                          [&program](int status) { program.finish(status); });
        EXPECT_EQ(front_end.runToEnd(), 1);
        EXPECT_EQ(front_end.fault, "run-time error: Overflow");
    }
    close(fds[0]);
    std::fclose(out);
    done = true;
    reader.join();
    pty.drainInto(wire);

    const auto sent = boards::readRetroWave(wire).writes;
    ASSERT_EQ(sent.size(), kStartupWrites + 3);
    EXPECT_EQ(sent[kStartupWrites].reg, 0xA0);
    EXPECT_EQ(sent[kStartupWrites + 1].reg, 0xB0);
    EXPECT_TRUE(sent[kStartupWrites + 1].value & 0x20) << "voice 1 keyed on";
    EXPECT_EQ(sent.back(), (Write{0xB0, 0})) << "only voice 1 was sounding";
}

}  // namespace

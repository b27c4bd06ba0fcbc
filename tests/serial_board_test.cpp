// Serial OPL boards, stood in for by pseudo-terminals: the program runs with
// --chip serial:/dev/pts/N:PROTOCOL, and a reader on the master side decodes what a board
// would receive, by readers written from the protocol descriptions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/platform/quit_signals.h"
#include "app/program.h"
#include "capture_readers.h"
#include "chip_fakes.h"
#include "fake_time_front_end.h"

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
using fakes::Write;
using Writes = std::vector<Write>;

constexpr std::size_t kStartupWrites = 292;
constexpr std::size_t kStepKeyOnWrites = 4;  // A0, B0, A1, B1

// ---- What each board reads ----

Writes readArduino(const Bytes& wire) {  // register, value, register, value...
    EXPECT_EQ(wire.size() % 2, 0u) << "half a write";
    Writes writes;
    for (std::size_t i = 0; i + 1 < wire.size(); i += 2) writes.push_back({wire[i], wire[i + 1]});
    return writes;
}

// Bit 7 opens a write; the 9-bit address and the value fill the next 14 bits.
Writes readNuke(const Bytes& wire) {
    Writes writes;
    for (std::size_t i = 0; i + 2 < wire.size(); i += 3) {
        EXPECT_TRUE(wire[i] & 0x80 && !(wire[i + 1] & 0x80) && !(wire[i + 2] & 0x80)) << i;
        const int address = (wire[i] & 0x07) << 6 | wire[i + 1] >> 1;
        EXPECT_LT(address, 0x100) << "second bank";
        writes.push_back({address, (wire[i + 1] & 1) << 7 | wire[i + 2]});
    }
    EXPECT_EQ(wire.size() % 3, 0u);
    return writes;
}

// Frames are 0x00, 7 bits per byte in bits 7-1 with bit 0 set, then 0x02. A chip write is the
// bridge command 42 12, then port A/port B pairs: E1 register, E3 value, FB value. Anything
// else is set-up, and must come before the first write.
Writes readRetroWave(const Bytes& wire) {
    Writes writes;
    std::size_t setup = 0;
    std::vector<int> bits;
    for (const std::uint8_t byte_on_wire : wire) {
        if (byte_on_wire == 0x00) bits.clear();
        if (byte_on_wire & 1) {
            for (int bit = 7; bit >= 1; --bit) bits.push_back(byte_on_wire >> bit & 1);
        }
        if (byte_on_wire != 0x02) continue;
        Bytes t;
        for (std::size_t b = 0; b + 8 <= bits.size(); b += 8) {
            int byte = 0;
            for (std::size_t k = 0; k < 8; ++k) byte = byte << 1 | bits[b + k];
            t.push_back(static_cast<std::uint8_t>(byte));
        }
        if (t.size() == 8 && t[0] == 0x42 && t[1] == 0x12 && t[2] == 0xE1 && t[4] == 0xE3 &&
            t[6] == 0xFB && t[7] == t[5]) {
            writes.push_back({t[3], t[5]});
        } else {
            EXPECT_TRUE(writes.empty()) << "set-up after the first write";
            ++setup;
        }
    }
    EXPECT_GT(setup, 0u) << "the bridge was never set up";
    return writes;
}

Writes decode(const std::string& protocol, const Bytes& wire) {
    if (protocol == "arduino") return readArduino(wire);
    return protocol == "nuke" ? readNuke(wire) : readRetroWave(wire);
}

// The register writes of a port trace: each data-port write under the register selected last.
Writes traceWrites(const std::filesystem::path& path) {
    std::ifstream in(path);
    Writes writes;
    int selected = 0;
    for (std::string op, port, value; in >> op >> port;) {
        if (op == "in") continue;
        in >> value;
        const int byte = std::stoi(value, nullptr, 16) & 0xFF;
        if (port == "0388") selected = byte;
        if (port == "0389") writes.push_back({selected, byte});
    }
    return writes;
}

// ---- A pty for a board, and the program run against it ----

// Neither end is inherited by the program, so closing the master really hangs the line up.
struct Pty {
    Pty() {
        char name[64] = {};
        EXPECT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() {
        hangUp();
        close(slave);
    }
    void hangUp() {
        if (master >= 0) close(master);
        master = -1;
    }
    // Reads what has arrived, waiting up to timeout_ms for it; true if anything came.
    bool readInto(Bytes& wire, int timeout_ms) {
        pollfd ready{master, POLLIN, 0};
        if (master < 0 || poll(&ready, 1, timeout_ms) <= 0) return false;
        std::uint8_t buffer[4096];
        const std::size_t before = wire.size();
        for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;)
            wire.insert(wire.end(), buffer, buffer + got);
        return wire.size() > before;
    }
    int master = -1, slave = -1;
    std::string path;
};

struct Finished {
    int status = -1;
    Bytes wire;
    std::string errors;  // standard error
};

// Runs the program, typing `input`, reading the board's side all the while. Standard input
// ends after `input`, unless `hang_up` is given: then the master is closed as soon as
// hang_up(bytes so far, the program's pid) says so.
Finished run(Pty& pty, const readers::ScratchDir& dir, std::vector<std::string> args,
             const std::string& input,
             const std::function<bool(const Bytes&, pid_t)>& hang_up = {}) {
    Finished done;
    int in[2];
    EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
    const std::string errors = (dir.path() / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT, 0644);
    args.insert(args.begin(), VESK_BINARY);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, VESK_BINARY, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    // A program that fails before it reads may be gone already: its input is then simply
    // unread, and the write must not end the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    const ssize_t written = write(in[1], input.data(), input.size());
    if (written < 0)
        EXPECT_EQ(errno, EPIPE);
    else
        EXPECT_EQ(written, static_cast<ssize_t>(input.size()));
    if (!hang_up) close(in[1]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (!pty.readInto(done.wire, 20)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (hang_up && hang_up(done.wire, pid)) pty.hangUp();
        if (std::chrono::steady_clock::now() > deadline) kill(pid, SIGKILL);
    }
    done.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // A pty hands on what was written a moment later: read until nothing more comes.
    while (pty.readInto(done.wire, 100)) {
    }
    if (hang_up) close(in[1]);
    std::stringstream text;
    text << std::ifstream(errors).rdbuf();
    done.errors = text.str();
    return done;
}

// Whether the line's settings are `found` again.
bool sameSettings(int fd, const termios& found) {
    termios now{};
    if (tcgetattr(fd, &now) != 0) return false;
    return now.c_iflag == found.c_iflag && now.c_oflag == found.c_oflag &&
           now.c_cflag == found.c_cflag && now.c_lflag == found.c_lflag &&
           cfgetospeed(&now) == cfgetospeed(&found);
}

struct Board {
    const char* protocol;
    const char* baud;  // "" for the default
    speed_t speed;
    friend void PrintTo(const Board& b, std::ostream* os) { *os << b.protocol << " " << b.baud; }
};

class BoardOnPty : public ::testing::TestWithParam<Board> {};

TEST_P(BoardOnPty, ReceivesExactlyTheTracedRegisterWritesOnARawLine) {
    const Board& board = GetParam();
    readers::ScratchDir dir;
    Pty pty;
    std::vector<std::string> args = {"--text", "--chip",
                                     "serial:" + pty.path + ":" + board.protocol, "--port-trace",
                                     (dir.path() / "t.txt").string()};
    if (*board.baud != '\0') args.insert(args.end(), {"--baud", board.baud});
    termios found{};
    ASSERT_EQ(tcgetattr(pty.slave, &found), 0);
    // The line as the program set it, looked at once step 1 has begun; then SIGTERM, which
    // acts as "Sluta".
    termios tio{};
    const Finished done = run(pty, dir, args, "start\n", [&](const Bytes& wire, pid_t pid) {
        // Decoded only once start-up is through: a reader needs the board's set-up bytes whole.
        if (tio.c_cflag == 0 && wire.size() >= 2 * (kStartupWrites + 2) &&
            decode(board.protocol, wire).size() >= kStartupWrites + 2) {
            tcgetattr(pty.slave, &tio);
            kill(pid, SIGTERM);
        }
        return false;
    });
    ASSERT_EQ(done.status, 143) << done.errors;

    // Start-up, step 1's key-ons and the key-offs, in order, and nothing else: the way out
    // finds nothing left to key off.
    const Writes traced = traceWrites(dir.path() / "t.txt");
    ASSERT_EQ(traced.size(), kStartupWrites + kStepKeyOnWrites + 2);
    EXPECT_EQ(decode(board.protocol, done.wire), traced);

    // The rate asked for, 8N1, no flow control, raw.
    EXPECT_EQ(cfgetospeed(&tio), board.speed);
    EXPECT_EQ(cfgetispeed(&tio), board.speed);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD),
              static_cast<tcflag_t>(CS8 | CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "0x0A would go out as 0x0D 0x0A";
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    // And once the program has gone, the line as it was found.
    EXPECT_TRUE(sameSettings(pty.slave, found));
}

INSTANTIATE_TEST_SUITE_P(Protocols, BoardOnPty,
                         ::testing::Values(Board{"arduino", "", B115200},
                                           Board{"nuke", "57600", B57600},
                                           Board{"retrowave", "2000000", B2000000}),
                         [](const auto& param_info) { return param_info.param.protocol; });

TEST(SerialBoard, LinkLostMidSongIsOneLineNamingTheDeviceAndTheCaptureIsFinished) {
    readers::ScratchDir dir;
    Pty pty;
    const auto capture = dir.path() / "c.vgm";
    // Given a playback under way, when the board goes away after step 1's key-ons...
    const Finished done =
        run(pty, dir,
            {"--text", "--chip", "serial:" + pty.path + ":nuke", "--capture", capture.string()},
            "start\n", [](const Bytes& wire, pid_t) {
                return wire.size() >= 3 * (kStartupWrites + kStepKeyOnWrites);
            });
    // ...the next write fails: status 1, one line naming the device.
    EXPECT_EQ(done.status, 1);
    EXPECT_EQ(std::count(done.errors.begin(), done.errors.end(), '\n'), 1) << done.errors;
    EXPECT_NE(done.errors.find(pty.path), std::string::npos) << done.errors;

    // The capture is finished and holds what was sent before the fault.
    const Writes sent = readNuke(done.wire);
    ASSERT_GE(sent.size(), kStartupWrites + kStepKeyOnWrites);
    Writes captured;
    for (const auto& w : readers::readVgm(readers::readFile(capture)).writes)
        captured.push_back({w.reg, w.value});
    captured.resize(sent.size());
    EXPECT_EQ(captured, sent);
}

TEST(SerialBoard, NoDeviceIsOneLineBeforeAnythingIsWritten) {
    readers::ScratchDir dir;
    Pty unused;
    const auto capture = dir.path() / "c.vgm";
    const Finished done =
        run(unused, dir,
            {"--text", "--chip", "serial:/nonexistent/ttyUSB9", "--capture", capture.string()},
            "start\nsluta\n");
    EXPECT_EQ(done.status, 1);
    EXPECT_EQ(std::count(done.errors.begin(), done.errors.end(), '\n'), 1) << done.errors;
    EXPECT_NE(done.errors.find("/nonexistent/ttyUSB9: No such file"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(capture));
}

TEST(SerialBoard, QuitSignalWhileTheBoardTakesNothingEndsAtOnceAndGivesTheLineBack) {
    // Given a board that takes no byte (its line stopped, as flow control stops it)
    readers::ScratchDir dir;
    Pty pty;
    termios found{};
    ASSERT_EQ(tcgetattr(pty.slave, &found), 0);
    ASSERT_EQ(tcflow(pty.slave, TCOOFF), 0);
    const auto trace = dir.path() / "t.txt";
    // when Ctrl-C comes a second into the stall
    std::chrono::steady_clock::time_point sent{};
    const Finished done =
        run(pty, dir, {"--text", "--chip", "serial:" + pty.path, "--port-trace", trace.string()},
            "start\n", [&](const Bytes&, pid_t pid) {
                if (sent == std::chrono::steady_clock::time_point{} &&
                    std::filesystem::exists(dir.path() / "stderr")) {
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                    kill(pid, SIGINT);
                    sent = std::chrono::steady_clock::now();
                }
                return false;
            });
    const auto took = std::chrono::steady_clock::now() - sent;
    // then the program ends as Ctrl-C ends it, long before the stall limit, with its trace
    // finished and the line as it was found
    EXPECT_EQ(done.status, 130) << done.errors;
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_TRUE(std::filesystem::exists(trace));
    tcflow(pty.slave, TCOON);
    EXPECT_TRUE(sameSettings(pty.slave, found));
}

// Runs the program with its standard streams on the pty, which is also its controlling
// terminal when `controlling`; returns the exit status and what the terminal showed.
std::pair<int, std::string> runOnTerminal(Pty& pty, bool controlling,
                                          std::vector<std::string> args) {
    args.insert(args.begin(), VESK_BINARY);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (controlling) {
            setsid();
            ioctl(pty.slave, TIOCSCTTY, 0);
        }
        for (int fd = 0; fd <= 2; ++fd) dup2(pty.slave, fd);
        execv(VESK_BINARY, argv.data());
        _exit(127);
    }
    Bytes shown;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid, &status, WNOHANG) != pid) {
        pty.readInto(shown, 20);
        if (std::chrono::steady_clock::now() > deadline) kill(pid, SIGKILL);
    }
    while (pty.readInto(shown, 100)) {
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(shown.begin(), shown.end())};
}

TEST(SerialBoard, TheProgramsOwnTerminalAndStandardStreamsAreNoBoard) {
    // Each case: whether the pty is the controlling terminal, the device named, the reason.
    const struct {
        bool controlling;
        std::string device;
        std::string why;
    } cases[] = {
        {true, "", "it is this program's own terminal"},
        {false, "/proc/self/fd/0", "it is this program's standard input"},
    };
    for (const auto& c : cases) {
        Pty pty;
        termios found{};
        ASSERT_EQ(tcgetattr(pty.slave, &found), 0);
        const std::string device = c.device.empty() ? pty.path : c.device;
        const auto [status, shown] =
            runOnTerminal(pty, c.controlling, {"--text", "--chip", "serial:" + device});
        EXPECT_EQ(status, 1) << device;
        EXPECT_EQ(shown, "vesk: cannot use serial device " + device + ": " + c.why + "\r\n");
        EXPECT_TRUE(sameSettings(pty.slave, found)) << device;
    }
}

// Ends the run with a run-time error at the nth register write.
struct FaultAtWrite final : fm::PortIo {
    FaultAtWrite(fm::PortIo& next, std::size_t nth) : next_(next), left_(nth) {}
    void out(std::uint16_t port, std::int16_t value) override {
        if (port == fm::opl2::kDataPort && --left_ == 0)
            throw common::RunError(common::RunError::Kind::Overflow);
        next_.out(port, value);
    }
    std::uint8_t in(std::uint16_t port) override { return next_.in(port); }
    fm::PortIo& next_;
    std::size_t left_;
};

TEST(SerialBoard, AFaultWithAVoiceKeyedOnKeysItOffOnTheWayOut) {
    app::clearQuitSignal();
    Pty pty;
    Bytes wire;
    std::atomic<bool> ended{false};
    std::thread reader([&] {
        while (!ended) pty.readInto(wire, 20);
    });
    app::Options options;
    options.chip = app::Chip::Serial;
    options.serial_device = pty.path;
    options.serial_protocol = fm::SerialProtocol::RetroWave;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "start\n", 6), 6);
    close(fds[1]);
    std::FILE* out = std::tmpfile();
    {
        app::Program program(options);
        // Step 1 writes A0 and B0 (voice 1 on), then faults at A1, before voice 2 is keyed on.
        program.wrap<FaultAtWrite>(kStartupWrites + 3);
        fakes::FakeClock clock;
        fakes::FakeTimeFrontEnd front_end(program.port(), clock, fds[0], out,
                                          [&program](int status) { program.finish(status); });
        EXPECT_EQ(front_end.runToEnd(), 1);
    }
    close(fds[0]);
    std::fclose(out);
    ended = true;
    reader.join();
    while (pty.readInto(wire, 100)) {
    }

    const Writes sent = readRetroWave(wire);
    // The way out keys off voices 1 and 2, as "Sluta" does; the board then has nothing left
    // sounding, so its own last-chance key-off sends nothing more.
    ASSERT_EQ(sent.size(), kStartupWrites + 4);
    EXPECT_EQ(sent[kStartupWrites + 1], (Write{0xB0, sent[kStartupWrites + 1].value | 0x20}));
    EXPECT_EQ(sent[kStartupWrites + 2], (Write{0xB0, 0}));
    EXPECT_EQ(sent[kStartupWrites + 3], (Write{0xB1, 0}));
}

}  // namespace

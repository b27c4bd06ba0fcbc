// --capture through the whole program: every way out leaves a finished file, and a render's
// capture holds the trace's writes on the tune's exact grid.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/platform/quit_signals.h"
#include "app/program.h"
#include "app/render/render_front_end.h"
#include "capture_readers.h"
#include "chip_fakes.h"
#include "common/run_error.h"
#include "fake_time_front_end.h"

namespace {

using readers::PlayedWrite;

constexpr std::size_t kStartupWrites = 292;
constexpr std::size_t kWritesPerStep = 6;

// A DRO keeps start-up's writes to the registers the chip has: 170 of its 292.
std::size_t startupWritesIn(const std::string& format) {
    return format == "dro" ? 170 : kStartupWrites;
}

// The writes a capture file holds, in either format, with their times in seconds.
struct CapturedWrite {
    double at_s;
    int reg;
    int value;
};

// A .vgz as Python's gzip unpacks it.
readers::Bytes gunzipped(const std::filesystem::path& path) {
    const std::filesystem::path out = path.string() + ".vgm";
    const std::string command =
        "python3 -c 'import gzip, sys; open(sys.argv[2], \"wb\")"
        ".write(gzip.open(sys.argv[1]).read())' '" +
        path.string() + "' '" + out.string() + "'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("gzip cannot read " + path.string());
    return readers::readFile(out);
}

std::vector<CapturedWrite> readCapture(const std::filesystem::path& path) {
    const bool vgz = path.extension() == ".vgz";
    const readers::Bytes bytes = vgz ? gunzipped(path) : readers::readFile(path);
    const bool vgm = vgz || path.extension() == ".vgm";
    const auto writes = vgm ? readers::readVgm(bytes).writes : readers::readDro(bytes).writes;
    std::vector<CapturedWrite> out;
    for (const PlayedWrite& w : writes)
        out.push_back({static_cast<double>(w.at) / (vgm ? 44100.0 : 1000.0), w.reg, w.value});
    return out;
}

// The register writes of a port trace: each data-port write under the register selected last.
std::vector<fakes::Write> readTraceWrites(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<fakes::Write> writes;
    int selected = 0;
    for (std::string op, port, value; in >> op >> port;) {
        if (op != "out") continue;
        in >> value;
        const int v = std::stoi(value, nullptr, 16) & 0xFF;
        if (port == "0388") selected = v;
        if (port == "0389") writes.push_back({selected, v});
    }
    return writes;
}

// Ends the run with a run-time error at the nth register write; the writes before it go on.
class FaultAtWrite final : public fm::PortIo {
public:
    FaultAtWrite(fm::PortIo& next, int nth) : next_(next), left_(nth) {}
    void out(std::uint16_t port, std::int16_t value) override {
        if (port == fm::opl2::kDataPort && --left_ == 0)
            throw common::RunError(common::RunError::Kind::Overflow);
        next_.out(port, value);
    }
    std::uint8_t in(std::uint16_t port) override { return next_.in(port); }

private:
    fm::PortIo& next_;
    int left_;
};

// Each test runs once per capture format, named by the file's extension.
class ProgramCapture : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(fds_), 0);
        out_ = std::tmpfile();
        app::clearQuitSignal();
    }
    void TearDown() override {
        close(fds_[0]);
        if (fds_[1] >= 0) close(fds_[1]);
        std::fclose(out_);
    }
    // Types `text`; unless more is to come, standard input then ends.
    void type(const std::string& text, bool more = false) {
        ASSERT_EQ(write(fds_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        if (more) return;
        close(fds_[1]);
        fds_[1] = -1;
    }
    std::filesystem::path capturePath() const {
        return dir_.path() / (std::string("s.") + GetParam());
    }
    app::Options textOptions() const {
        app::Options options;
        options.text = true;
        options.chip = app::Chip::None;
        options.capture = capturePath().string();
        return options;
    }
    // The text front end on the fake clock, finishing the program on its way out.
    int runText(app::Program& program) {
        fakes::FakeTimeFrontEnd front_end(program.port(), clock_, fds_[0], out_,
                                          [&program](int status) { program.finish(status); });
        const int status = front_end.runToEnd();
        fault_ = front_end.fault;
        return status;
    }

    readers::ScratchDir dir_;
    fakes::FakeClock clock_{86399.5f};  // half a second before midnight
    int fds_[2] = {-1, -1};
    std::FILE* out_ = nullptr;
    std::string fault_;
};

TEST_P(ProgramCapture, SlutaFinishesTheCaptureRunningToTheMomentOfExit) {
    app::Program program(textOptions(), [this] { return clock_.elapsed(); });
    // Given the tune playing across midnight, when "Sluta" comes two seconds in
    fakes::FakeTimeFrontEnd front_end(program.port(), clock_, fds_[0], out_,
                                      [&program](int status) { program.finish(status); });
    type("start\n", true);
    int passes = 0;
    front_end.on_block = [&] {
        if (++passes == 400) type("sluta\n");
    };
    EXPECT_EQ(front_end.runToEnd(), 0);
    // Then the file holds start-up, two steps, step 3's key-ons and the two key-offs
    const auto writes = readCapture(capturePath());
    const std::size_t step1 = startupWritesIn(GetParam());
    ASSERT_EQ(writes.size(), step1 + 2 * kWritesPerStep + 4 + 2);
    EXPECT_EQ(writes.back().reg, 0xB1);
    // timed by the wait's clock, which near midnight counts in steps of 1/128 s
    const double start_s = writes[step1].at_s;
    EXPECT_NEAR(writes[step1 + kWritesPerStep].at_s - start_s, 0.908, 0.01);
    EXPECT_GT(writes.back().at_s - start_s, 2 * 0.908);  // in step 3
    EXPECT_LT(writes.back().at_s - start_s, 3 * 0.908);
}

TEST_P(ProgramCapture, TurningTheClockBackAnHourPutsNoDayLongWaitInTheFile) {
    // Given a capture with no emulated chip, when daylight saving time ends during step 3 (the
    // time of day jumps back an hour) and "Sluta" comes a little later,
    app::Program program(textOptions(), [this] { return clock_.elapsed(); });
    fakes::FakeTimeFrontEnd front_end(program.port(), clock_, fds_[0], out_,
                                      [&program](int status) { program.finish(status); });
    type("start\n", true);
    int passes = 0;
    front_end.on_block = [&] {
        ++passes;
        if (passes == 400) clock_.set(static_cast<float>(clock_.now() - 3600.0));
        if (passes == 800) type("sluta\n");
    };
    EXPECT_EQ(front_end.runToEnd(), 0);
    // then the file lasts the few seconds that passed, not a day.
    const readers::Bytes bytes = readers::readFile(capturePath());
    const double length_s = std::string(GetParam()) == "vgm"
                                ? readers::readVgm(bytes).total_samples / 44100.0
                                : readers::readDro(bytes).length_ms / 1000.0;
    EXPECT_GT(length_s, 3.0);
    EXPECT_LT(length_s, 10.0);
}

TEST_P(ProgramCapture, EndOfInputFinishesTheCaptureAfterTheWholeTune) {
    app::Program program(textOptions(), [this] { return clock_.elapsed(); });
    type("start\n");
    EXPECT_EQ(runText(program), 0);
    EXPECT_EQ(readCapture(capturePath()).size(), startupWritesIn(GetParam()) + 74 * kWritesPerStep);
}

TEST_P(ProgramCapture, RunTimeErrorKeysOffAndFinishesTheCaptureWithTheWritesBeforeTheFault) {
    app::Program program(textOptions(), [this] { return clock_.elapsed(); });
    // Given a fault at the 5th write of step 2
    program.wrap<FaultAtWrite>(static_cast<int>(kStartupWrites + kWritesPerStep) + 5);
    type("start\n");
    EXPECT_EQ(runText(program), 1);
    EXPECT_EQ(fault_, "run-time error: Overflow");
    // Then the capture holds everything up to it, then the way out's key-offs of the two
    // voices still sounding, and nothing else
    const auto writes = readCapture(capturePath());
    ASSERT_EQ(writes.size(), startupWritesIn(GetParam()) + kWritesPerStep + 4 + 2);
    const CapturedWrite& last_key_on = writes[writes.size() - 3];
    EXPECT_TRUE(last_key_on.reg >= 0xB0 && last_key_on.reg <= 0xB8);  // step 2's second key-on
    EXPECT_EQ(writes[writes.size() - 2].reg, 0xB0);
    EXPECT_EQ(writes[writes.size() - 2].value, 0);
    EXPECT_EQ(writes.back().reg, 0xB1);
    EXPECT_EQ(writes.back().value, 0);
}

TEST_P(ProgramCapture, RunsToTheMomentTheProgramEndsNotItsLastWrite) {
    // Given start-up written, then five quiet seconds
    app::Program program(textOptions(), [this] { return clock_.elapsed(); });
    readers::writeReg(program.port(), 0x20, 0x01);
    clock_.advance(5.0);
    // When the program ends
    program.finish(0);
    // Then the capture lasts those five seconds
    const readers::Bytes bytes = readers::readFile(capturePath());
    const double length_s = std::string(GetParam()) == "vgm"
                                ? readers::readVgm(bytes).total_samples / 44100.0
                                : readers::readDro(bytes).length_ms / 1000.0;
    EXPECT_NEAR(length_s, 5.0, 0.001);
}

INSTANTIATE_TEST_SUITE_P(Formats, ProgramCapture, ::testing::Values("vgm", "dro"));

// A render with --capture and --port-trace; returns the capture's writes and the trace's.
struct RenderedCapture {
    std::vector<CapturedWrite> captured;
    std::vector<fakes::Write> traced;
};

RenderedCapture renderWithCapture(const readers::ScratchDir& dir, const char* capture_name) {
    app::Options options;
    options.emulator =
        sound::Emulator::Dosbox;  // the fastest core: the capture does not depend on it
    options.render = (dir.path() / "s.wav").string();
    options.capture = (dir.path() / capture_name).string();
    options.port_trace = (dir.path() / "s.trace").string();
    app::Program program(options);
    app::RenderFrontEnd front_end(program.port(), *program.soundChip(), options.render, nullptr,
                                  [](int status) { throw fakes::Ended{status}; });
    front_end.render();
    EXPECT_EQ(program.finish(0), 0);
    return {readCapture(options.capture), readTraceWrites(options.port_trace)};
}

TEST(RenderCapture, HoldsTheTracesWritesWithKeyOnsOnTheStepGrid) {
    struct Case {
        const char* name;
        double tolerance_s;
    };
    for (const Case& c :
         {Case{"s.vgm", 1 / 44100.0}, Case{"s.vgz", 1 / 44100.0}, Case{"s.dro", 0.001}}) {
        readers::ScratchDir dir;
        const RenderedCapture run = renderWithCapture(dir, c.name);
        const bool dro = c.name[2] == 'd';
        const auto exists = readers::opl2Registers();
        std::vector<fakes::Write> expected;
        for (const fakes::Write& w : run.traced)
            if (!dro || exists.contains(w.reg)) expected.push_back(w);
        ASSERT_EQ(run.captured.size(), expected.size()) << c.name;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(run.captured[i].reg, expected[i].reg) << c.name << " write " << i;
            ASSERT_EQ(run.captured[i].value, expected[i].value) << c.name << " write " << i;
        }

        // Start-up at 0, "Start" once it has settled, then a step every 0.908 s. A step lasts
        // until the single-precision clock shows 0.908 s gone, which may take one sample more.
        std::vector<double> step_starts;
        for (const CapturedWrite& w : run.captured) {
            const bool first_of_step = w.reg == 0xA0 || w.reg == 0xA1;
            const bool after_startup = w.at_s > 0;
            if (first_of_step && after_startup &&
                (step_starts.empty() || w.at_s > step_starts.back()))
                step_starts.push_back(w.at_s);
        }
        EXPECT_EQ(run.captured.front().at_s, 0.0);
        ASSERT_EQ(step_starts.size(), 74u) << c.name;
        EXPECT_NEAR(step_starts.front(), app::kRenderSettleSeconds, c.tolerance_s) << c.name;
        constexpr double kOneOutputSample = 1 / 48000.0;
        for (std::size_t k = 1; k < step_starts.size(); ++k) {
            const double length_s = step_starts[k] - step_starts[k - 1];
            EXPECT_GE(length_s, 0.908 - c.tolerance_s) << c.name << " step " << k;
            EXPECT_LE(length_s, 0.908 + kOneOutputSample + c.tolerance_s)
                << c.name << " step " << k;
        }
    }
}

}  // namespace

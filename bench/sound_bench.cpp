// A whole-song render against its limit, the bare emulator core fed the same register writes,
// and against adplay playing the render's own VGM capture on the same core: side by side, per
// core, in one run. Also what the program costs before it does anything (vesk --help). Each
// figure is a median; the table at the end puts them side by side.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/render/render_front_end.h"
#include "sound/chip_session.h"
#include "sound/opl_core.h"

extern char** environ;

namespace {

constexpr int kRateHz = 48000;
constexpr int kRepetitions = 5;  // each figure is the median of this many

std::filesystem::path scratch(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("vesk-bench-" + name);
}

// A register write at the chip's own sample.
struct NativeWrite {
    std::int64_t native;
    fm::opl2::RegisterWrite write;
};

// Catches each register write with the chip's time, as a capture would.
class ProgramRecorder final : public fm::PortIo {
public:
    ProgramRecorder(fm::PortIo& next, sound::ChipSession& chip) : next_(next), chip_(chip) {}
    void out(std::uint16_t port, std::int16_t value) override {
        if (auto write = decoder_.out(port, value)) {
            const auto native =
                static_cast<std::int64_t>(chip_.writeTimeSeconds() * fm::opl2::kNativeRateHz + 0.5);
            writes.push_back({native, *write});
        }
        next_.out(port, value);
    }
    std::uint8_t in(std::uint16_t port) override { return next_.in(port); }
    std::vector<NativeWrite> writes;

private:
    fm::PortIo& next_;
    sound::ChipSession& chip_;
    fm::opl2::PortDecoder decoder_;
};

// A whole --render of the tune in this process, through the program's own path: start-up,
// player, wait, queue, both threads, resampler, WAV. Returns how far the chip ran, in output
// samples; `writes`, if given, gets the register program.
std::int64_t renderSong(sound::Emulator emulator, std::vector<NativeWrite>* writes = nullptr) {
    auto chip = sound::ChipSession::forRender(emulator, kRateHz);
    auto port = chip->makePort();
    ProgramRecorder recorder(*port, *chip);
    app::RenderFrontEnd front_end(writes ? static_cast<fm::PortIo&>(recorder) : *port, *chip,
                                  scratch("render.wav"), nullptr, [](int) { std::abort(); });
    front_end.render();
    if (writes) *writes = recorder.writes;
    return chip->run()->frame();
}

// The song's register program at native sample times, and the native samples it lasts: the
// same the render runs the core for.
struct Program {
    std::vector<NativeWrite> writes;
    std::int64_t native_length = 0;
};

const Program& songProgram() {
    static const Program program = [] {
        Program p;
        const std::int64_t frames = renderSong(sound::Emulator::Dosbox, &p.writes);
        p.native_length = (frames * fm::opl2::kNativeRateHz + kRateHz / 2) / kRateHz;
        return p;
    }();
    return program;
}

void rawCore(benchmark::State& state, sound::Emulator emulator) {
    const Program& program = songProgram();
    std::vector<std::int16_t> buffer(512);
    for (auto _ : state) {
        // The core behind the thinnest wrapper there is: no resampler, no queue, no file.
        auto core = sound::makeOplCore(emulator);
        std::int64_t at = 0;
        auto runTo = [&](std::int64_t native) {
            while (at < native) {
                const auto n = static_cast<std::size_t>(std::min<std::int64_t>(512, native - at));
                core->generate(buffer.data(), n);
                at += static_cast<std::int64_t>(n);
            }
        };
        for (const NativeWrite& w : program.writes) {
            runTo(w.native);
            core->write(w.write.reg, w.write.value);
        }
        runTo(program.native_length);
        benchmark::DoNotOptimize(buffer.data());
    }
}

double cpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Besides the wall time, the CPU time of the chip's thread alone (this one): on an idle machine
// the wall time of a render is that, plus the writer's last block.
void inProcessRender(benchmark::State& state, sound::Emulator emulator) {
    double chip_s = 0;
    const double process_start_s = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(scratch("render.wav"));  // as for a whole program, below
        state.ResumeTiming();
        const double start_s = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        renderSong(emulator);
        chip_s += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - start_s;
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process_start_s) * 1000 / n;
    state.counters["chip_thread_ms"] = chip_s * 1000 / n;
}

// Runs a program to its end with its output thrown away; false if it failed. Adds the wall
// time from start to end and the CPU time it used (every thread, and the kernel's share).
bool runProcess(const std::vector<std::string>& argv, double& wall_s, double& cpu_s) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    wall_s += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    cpu_s += seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A whole program run. Its output file, if any, is removed before each run, so that no run
// pays for removing the last one's.
void process(benchmark::State& state, const std::vector<std::string>& argv,
             const std::filesystem::path& output) {
    double cpu_s = 0;
    for (auto _ : state) {
        std::filesystem::remove(output);
        double wall_s = 0;
        if (!runProcess(argv, wall_s, cpu_s)) {
            state.SkipWithError(("cannot run " + argv[0]).c_str());
            return;
        }
        state.SetIterationTime(wall_s);
    }
    state.counters["cpu_ms"] = cpu_s * 1000 / static_cast<double>(state.iterations());
}

// The VGM capture adplay plays: the render's own, the same for every core.
const std::string& capture() {
    static const std::string path = [] {
        const std::string vgm = scratch("song.vgm").string();
        double ignored = 0;
        if (!runProcess(
                {VESK_BINARY, "--render", scratch("capture.wav").string(), "--capture", vgm},
                ignored, ignored))
            std::fprintf(stderr, "sound_bench: cannot make the VGM capture\n");
        return vgm;
    }();
    return path;
}

struct Core {
    sound::Emulator emulator;
    const char* adplay_name;      // the same AdPlug core, as adplay's -e names it
    const char* adplay_channels;  // adplay runs Nuked in stereo only
};
constexpr Core kCores[] = {
    {sound::Emulator::Nuked, "nuked", "--stereo"},
    {sound::Emulator::Mame, "satoh", "--mono"},
    {sound::Emulator::Dosbox, "woody", "--mono"},
};

// Benchmark names are "what/core"; the table below reads them back.
constexpr const char* kBare = "bare core";
constexpr const char* kInProcess = "render in-process";
constexpr const char* kVesk = "vesk --render";
constexpr const char* kNative = "vesk --render --rate 49716";
constexpr const char* kAdplay = "adplay -O disk";

void registerAll() {
    auto common = [](benchmark::internal::Benchmark* b, bool manual_time = false) {
        b->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(kRepetitions);
        b->ReportAggregatesOnly(true);
        if (manual_time)
            b->UseManualTime();
        else
            b->UseRealTime();
    };
    common(benchmark::RegisterBenchmark("vesk --help", process,
                                        std::vector<std::string>{VESK_BINARY, "--help"},
                                        std::filesystem::path()),
           true);
    const auto wav = scratch("out.wav");
    for (const Core& core : kCores) {
        const std::string name = sound::emulatorName(core.emulator);
        auto named = [&name](const char* what) { return std::string(what) + "/" + name; };
        common(benchmark::RegisterBenchmark(named(kBare).c_str(), rawCore, core.emulator));
        common(benchmark::RegisterBenchmark(named(kInProcess).c_str(), inProcessRender,
                                            core.emulator));
        common(
            benchmark::RegisterBenchmark(
                named(kVesk).c_str(), process,
                std::vector<std::string>{VESK_BINARY, "--render", wav.string(), "--emulator", name},
                wav),
            true);
        common(benchmark::RegisterBenchmark(
                   named(kNative).c_str(), process,
                   std::vector<std::string>{VESK_BINARY, "--render", wav.string(), "--emulator",
                                            name, "--rate", "49716"},
                   wav),
               true);
        common(benchmark::RegisterBenchmark(
                   named(kAdplay).c_str(), process,
                   std::vector<std::string>{"adplay", "-O", "disk", "-d", wav.string(), "-e",
                                            core.adplay_name, "-f", std::to_string(kRateHz),
                                            "--16bit", core.adplay_channels, capture()},
                   wav),
               true);
    }
}

// After the usual table, each core's figures side by side, as medians, with their ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.aggregate_name != "median") continue;
            const std::string name = run.run_name.function_name;
            const auto slash = name.find('/');
            Figure& figure = figures_[slash == std::string::npos ? "" : name.substr(slash + 1)]
                                     [name.substr(0, slash)];
            figure.wall_ms = run.GetAdjustedRealTime();
            auto counter = [&run](const char* key, double otherwise) {
                const auto found = run.counters.find(key);
                return found != run.counters.end() ? found->second.value : otherwise;
            };
            figure.cpu_ms = counter("cpu_ms", run.GetAdjustedCPUTime());
            figure.chip_ms = counter("chip_thread_ms", 0);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const Figure& help = figures_[""]["vesk --help"];
        std::printf(
            "\nMedians of %d runs at %d Hz: wall time in ms, and in brackets the CPU time "
            "(the chip's thread alone for the in-process render).\n"
            "vesk --help: %.1f (%.1f)\n\n",
            kRepetitions, kRateHz, help.wall_ms, help.cpu_ms);
        std::printf("%-7s %15s %15s %15s %15s %15s  %9s %9s %9s\n", "core", kBare, "in-process",
                    kVesk, "at 49716 Hz", "adplay", "vesk/bare", "vesk/adpl", "chip/bare");
        for (const Core& core : kCores) {
            auto& f = figures_[sound::emulatorName(core.emulator)];
            const Figure &bare = f[kBare], &in = f[kInProcess], &vesk = f[kVesk],
                         &native = f[kNative], &adplay = f[kAdplay];
            auto cell = [](double wall_ms, double cpu_ms) {
                char text[40];
                std::snprintf(text, sizeof text, "%.1f (%.1f)", wall_ms, cpu_ms);
                return std::string(text);
            };
            auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
            std::printf(
                "%-7s %15s %15s %15s %15s %15s  %9.3f %9.3f %9.3f\n",
                sound::emulatorName(core.emulator), cell(bare.wall_ms, bare.cpu_ms).c_str(),
                cell(in.wall_ms, in.chip_ms).c_str(), cell(vesk.wall_ms, vesk.cpu_ms).c_str(),
                cell(native.wall_ms, native.cpu_ms).c_str(),
                cell(adplay.wall_ms, adplay.cpu_ms).c_str(), ratio(vesk.wall_ms, bare.wall_ms),
                ratio(vesk.wall_ms, adplay.wall_ms), ratio(in.chip_ms, bare.cpu_ms));
        }
    }

private:
    struct Figure {
        double wall_ms = 0;
        double cpu_ms = 0;
        double chip_ms = 0;
    };
    std::map<std::string, std::map<std::string, Figure>> figures_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    registerAll();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* name : {"render.wav", "out.wav", "capture.wav", "song.vgm"})
        std::filesystem::remove(scratch(name));
    benchmark::Shutdown();
}

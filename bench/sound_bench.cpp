// The cost of the render path against the bare emulator core fed the same register writes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/render/render_front_end.h"
#include "sound/sound_chip.h"
#include "sound/opl_emulator.h"

namespace {

constexpr int kRateHz = 48000;

// A register write at the chip's own sample.
struct NativeWrite {
    std::int64_t native;
    fm::opl2::RegisterWrite write;
};

// Catches each register write with the chip's time, as a capture would.
class ProgramRecorder final : public fm::PortIo {
public:
    ProgramRecorder(fm::PortIo& next, sound::SoundChip& chip) : next_(next), chip_(chip) {}
    void out(std::uint16_t port, std::int16_t value) override {
        if (auto write = decoder_.out(port, value)) {
            const auto native = static_cast<std::int64_t>(
                chip_.writeTimeSeconds() * fm::opl2::kNativeRateHz + 0.5);
            writes.push_back({native, *write});
        }
        next_.out(port, value);
    }
    std::uint8_t in(std::uint16_t port) override { return next_.in(port); }
    std::vector<NativeWrite> writes;

private:
    fm::PortIo& next_;
    sound::SoundChip& chip_;
    fm::opl2::PortDecoder decoder_;
};

std::vector<NativeWrite> recorded;

std::filesystem::path scratchWav() {
    return std::filesystem::temp_directory_path() / "vesk-bench.wav";
}

// A whole --render of the tune; `front` may put a recorder in front of the chip's port.
// Returns how far the chip ran, in output samples.
std::int64_t renderSong(sound::Emulator emulator, ProgramRecorder* (*front)(fm::PortIo&,
                                                                           sound::SoundChip&) = nullptr) {
    auto chip = sound::SoundChip::forRender(emulator, kRateHz);
    auto port = chip->makePort();
    std::unique_ptr<ProgramRecorder> recorder(front ? front(*port, *chip) : nullptr);
    app::RenderFrontEnd front_end(recorder ? *recorder : *port, *chip, scratchWav(), nullptr,
                                  [](int) { std::abort(); });
    front_end.render();
    if (recorder) recorded = recorder->writes;
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
        const std::int64_t frames = renderSong(sound::Emulator::Dosbox, [](fm::PortIo& next, sound::SoundChip& chip) {
            return new ProgramRecorder(next, chip);
        });
        p.writes = recorded;
        p.native_length = (frames * fm::opl2::kNativeRateHz + kRateHz / 2) / kRateHz;
        return p;
    }();
    return program;
}

void BM_RawCore(benchmark::State& state) {
    const auto emulator = static_cast<sound::Emulator>(state.range(0));
    const Program& program = songProgram();
    std::vector<std::int16_t> buffer(512);
    for (auto _ : state) {
        // The core behind the thinnest wrapper there is: no resampler, no queue, no file.
        auto core = sound::makeOplEmulator(emulator);
        std::int64_t at = 0;
        auto runTo = [&](std::int64_t native) {
            while (at < native) {
                const auto n = static_cast<std::size_t>(std::min<std::int64_t>(512, native - at));
                core->generate(buffer.data(), n);
                at += n;
            }
        };
        for (const NativeWrite& w : program.writes) {
            runTo(w.native);
            core->write(w.write.reg, w.write.value);
        }
        runTo(program.native_length);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetLabel(sound::emulatorName(emulator));
}

void BM_Render(benchmark::State& state) {
    const auto emulator = static_cast<sound::Emulator>(state.range(0));
    for (auto _ : state) renderSong(emulator);
    state.SetLabel(sound::emulatorName(emulator));
}

constexpr auto kCores = {static_cast<long>(sound::Emulator::Nuked), static_cast<long>(sound::Emulator::Mame),
                         static_cast<long>(sound::Emulator::Dosbox)};

BENCHMARK(BM_RawCore)->ArgsProduct({kCores})->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Render)->ArgsProduct({kCores})->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Prints, after the usual table, each core's render time over its raw time from this run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times_[run.run_name.function_name][run.report_label] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-8s %12s %12s %10s\n", "core", "raw ms", "render ms", "overhead");
        for (const auto& [core, raw] : times_["BM_RawCore"]) {
            const double render = times_["BM_Render"][core];
            std::printf("%-8s %12.1f %12.1f %9.1f%%\n", core.c_str(), raw, render,
                        (render / raw - 1) * 100);
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::filesystem::remove(scratchWav());
    benchmark::Shutdown();
}

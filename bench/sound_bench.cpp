// The cost of the render path against the bare emulator core fed the same register writes.
#include <adplug/emuopl.h>
#include <adplug/nemuopl.h>
#include <adplug/wemuopl.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/render_front_end.h"
#include "app/sound_chip.h"
#include "fm/opl_emulator.h"

namespace {

constexpr int kRateHz = 48000;

struct TimedWrite {
    std::int64_t native;
    int reg;
    int value;
};

// Catches each register write with the chip's time, as a capture would.
class ProgramRecorder final : public fm::PortIo {
public:
    ProgramRecorder(fm::PortIo& next, app::SoundChip& chip) : next_(next), chip_(chip) {}
    void out(std::uint16_t port, std::int16_t value) override {
        if (port == fm::kAddressPort) reg_ = value & 0xFF;
        if (port == fm::kDataPort) {
            const auto native = static_cast<std::int64_t>(chip_.writeTimeSeconds() * fm::kNativeRateHz + 0.5);
            writes.push_back({native, reg_, value & 0xFF});
        }
        next_.out(port, value);
    }
    std::uint8_t in(std::uint16_t port) override { return next_.in(port); }
    std::vector<TimedWrite> writes;

private:
    fm::PortIo& next_;
    app::SoundChip& chip_;
    int reg_ = 0;
};

std::vector<TimedWrite> recorded;

std::filesystem::path scratchWav() {
    return std::filesystem::temp_directory_path() / "vesk-bench.wav";
}

// A whole --render of the tune; `front` may put a recorder in front of the chip's port.
// Returns how far the chip ran, in output samples.
std::int64_t renderSong(fm::Emulator emulator, ProgramRecorder* (*front)(fm::PortIo&,
                                                                           app::SoundChip&) = nullptr) {
    auto chip = app::SoundChip::forRender(emulator, kRateHz);
    auto port = chip->makePort();
    std::unique_ptr<ProgramRecorder> recorder(front ? front(*port, *chip) : nullptr);
    app::RenderFrontEnd front_end(recorder ? *recorder : *port, *chip, scratchWav(), nullptr,
                                  [](int) { std::abort(); });
    front_end.render();
    if (recorder) recorded = recorder->writes;
    return chip->stream()->frame();
}

// The song's register program at native sample times, and the native samples it lasts: the
// same the render runs the core for.
struct Program {
    std::vector<TimedWrite> writes;
    std::int64_t native_length = 0;
};

const Program& songProgram() {
    static const Program program = [] {
        Program p;
        const std::int64_t frames = renderSong(fm::Emulator::Dosbox, [](fm::PortIo& next, app::SoundChip& chip) {
            return new ProgramRecorder(next, chip);
        });
        p.writes = recorded;
        p.native_length = (frames * fm::kNativeRateHz + kRateHz / 2) / kRateHz;
        return p;
    }();
    return program;
}

std::unique_ptr<Copl> bareCore(fm::Emulator emulator) {
    switch (emulator) {
        case fm::Emulator::Nuked: return std::make_unique<CNemuopl>(fm::kNativeRateHz);
        case fm::Emulator::Mame: {
            auto core = std::make_unique<CEmuopl>(fm::kNativeRateHz, true, false);
            core->settype(Copl::TYPE_OPL2);
            return core;
        }
        case fm::Emulator::Dosbox: return std::make_unique<CWemuopl>(fm::kNativeRateHz, true, false);
    }
    return nullptr;
}

void BM_RawCore(benchmark::State& state) {
    const auto emulator = static_cast<fm::Emulator>(state.range(0));
    const Program& program = songProgram();
    std::vector<short> buffer(2 * 512);  // Nuked writes stereo
    for (auto _ : state) {
        auto core = bareCore(emulator);
        std::int64_t at = 0;
        auto runTo = [&](std::int64_t native) {
            while (at < native) {
                const int n = static_cast<int>(std::min<std::int64_t>(512, native - at));
                core->update(buffer.data(), n);
                at += n;
            }
        };
        for (const TimedWrite& w : program.writes) {
            runTo(w.native);
            core->write(w.reg, w.value);
        }
        runTo(program.native_length);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetLabel(fm::emulatorName(emulator));
}

void BM_Render(benchmark::State& state) {
    const auto emulator = static_cast<fm::Emulator>(state.range(0));
    for (auto _ : state) renderSong(emulator);
    state.SetLabel(fm::emulatorName(emulator));
}

constexpr auto kCores = {static_cast<long>(fm::Emulator::Nuked), static_cast<long>(fm::Emulator::Mame),
                         static_cast<long>(fm::Emulator::Dosbox)};

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

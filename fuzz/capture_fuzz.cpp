// The capture writers read back by the tests' own readers: every write the format keeps, in
// order, at its rounded time, and a length that matches the waits.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "capture/dro_writer.h"
#include "capture/vgm_writer.h"
#include "fm/opl2.h"
#include "fuzz_input.h"
#include "tests/readers/capture_readers.h"

namespace {

[[noreturn]] void mismatch() { std::abort(); }

// The writer's own rule, restated: each write at its time rounded to the format's unit, never
// before the one it follows.
void checkTimes(const std::vector<capture::TimedWrite>& kept,
                const std::vector<readers::PlayedWrite>& read, double units_per_s) {
    if (read.size() != kept.size()) mismatch();
    std::uint64_t last = 0;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (read[i].reg != kept[i].reg || read[i].value != kept[i].value) mismatch();
        const double t = kept[i].time_s;
        const auto due = t > 0 ? static_cast<std::uint64_t>(std::llround(t * units_per_s)) : 0;
        last = std::max(last, due);
        if (read[i].at != last) mismatch();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    // Times move on by up to about 65 s a write, sometimes back (a clock is not to be trusted).
    std::vector<capture::TimedWrite> writes;
    double now_s = 0;
    const double end_s = in.u16() / 16.0;
    while (!in.empty() && writes.size() < 4096) {
        now_s += static_cast<double>(in.i16()) / 500.0;
        writes.push_back({now_s, in.byte(), in.byte()});
    }
    const auto vgm =
        readers::readVgm(capture::encodeVgm(writes, end_s, {"t", "s", "p", "2026-12-08"}));
    checkTimes(writes, vgm.writes, capture::kVgmRateHz);
    if (vgm.total_samples != vgm.samples_played) mismatch();

    std::vector<capture::TimedWrite> kept;
    for (const auto& w : writes)
        if (fm::opl2::hasRegister(w.reg)) kept.push_back(w);
    const auto dro = readers::readDro(capture::encodeDro(writes, end_s));
    checkTimes(kept, dro.writes, 1000.0);
    if (dro.length_ms != dro.ms_played) mismatch();
    return 0;
}

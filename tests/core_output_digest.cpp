// Prints a digest of each emulator core's raw output for the song's register program, so that
// builds for different platforms can be compared line by line.
//
//   core_output_digest [--raw DIR]
//
// --raw also writes each core's samples to DIR/CORE.raw, 16-bit little-endian, for a closer look.
//
// The program is start-up and one whole playback, made by the program's own driver and player on
// a clock that counts the chip's samples. Each core is fed it at the chip's own rate, with no
// resampler in between, and the 16-bit samples are digested (64-bit FNV-1a over their
// little-endian bytes). The program's own digest comes first: if it differs, the cores were fed
// different writes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fm/blaster.h"
#include "fm/opl2.h"
#include "playback/player.h"
#include "playback/timed_wait.h"
#include "song/song.h"
#include "sound/opl_core.h"

namespace {

constexpr int kRateHz = fm::opl2::kNativeRateHz;
// The chip settles after start-up, and the last note's release sounds out, as in a render.
constexpr double kSettleSeconds = 0.05;
constexpr double kTailSeconds = 0.5;

struct TimedWrite {
    std::int64_t sample;
    fm::opl2::RegisterWrite write;
};

struct Program {
    std::vector<TimedWrite> writes;
    std::int64_t length = 0;  // in samples
};

// The chip's side of the ports, keeping each register write with the sample it lands on; the
// clock and the wait's pump move time on.
class Recorder final : public fm::PortIo, public playback::Clock, public playback::EventPump {
public:
    void out(std::uint16_t port, std::int16_t value) override {
        if (auto write = decoder_.out(port, value))
            program.writes.push_back({program.length, *write});
    }
    std::uint8_t in(std::uint16_t) override { return fm::opl2::kIdleStatus; }
    float secondsSinceMidnight() override {
        return static_cast<float>(static_cast<double>(program.length) / kRateHz);
    }
    void processEvents(double max_block_s) override { advance(max_block_s); }
    void advance(double seconds) {
        program.length += std::max<std::int64_t>(1, std::llround(std::ceil(seconds * kRateHz)));
    }
    Program program;

private:
    fm::opl2::PortDecoder decoder_;
};

Program songProgram() {
    Recorder recorder;
    song::Song song;
    song.MakeMusic();
    fm::Blaster blaster(recorder);
    blaster.Blasterresetcard();
    blaster.BlasterInit();
    recorder.advance(kSettleSeconds);
    playback::TimedWait wait(recorder, recorder);
    playback::Player player(song, blaster, wait);
    player.PlayOn_Click();
    recorder.advance(kTailSeconds);
    return recorder.program;
}

class Fnv1a {
public:
    void add(std::uint8_t byte) { hash_ = (hash_ ^ byte) * 0x100000001b3u; }
    void add16(std::uint16_t v) {
        add(static_cast<std::uint8_t>(v & 0xFF));
        add(static_cast<std::uint8_t>(v >> 8));
    }
    void add64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) add(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    std::uint64_t value() const { return hash_; }

private:
    std::uint64_t hash_ = 0xcbf29ce484222325u;
};

std::uint64_t programDigest(const Program& program) {
    Fnv1a fnv;
    for (const TimedWrite& w : program.writes) {
        fnv.add64(static_cast<std::uint64_t>(w.sample));
        fnv.add(w.write.reg);
        fnv.add(w.write.value);
    }
    fnv.add64(static_cast<std::uint64_t>(program.length));
    return fnv.value();
}

// Runs the core through the program, digesting its samples and, if `raw` is open, keeping them.
std::uint64_t coreDigest(sound::Emulator emulator, const Program& program, std::ofstream* raw) {
    auto core = sound::makeOplCore(emulator);
    Fnv1a fnv;
    std::vector<std::int16_t> buffer(4096);
    std::int64_t at = 0;
    auto runTo = [&](std::int64_t sample) {
        while (at < sample) {
            const auto n = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), sample - at));
            core->generate(buffer.data(), n);
            for (std::size_t i = 0; i < n; ++i) fnv.add16(static_cast<std::uint16_t>(buffer[i]));
            if (raw)
                raw->write(reinterpret_cast<const char*>(buffer.data()),
                           static_cast<std::streamsize>(n * sizeof(std::int16_t)));
            at += static_cast<std::int64_t>(n);
        }
    };
    for (const TimedWrite& w : program.writes) {
        runTo(w.sample);
        core->write(w.write.reg, w.write.value);
    }
    runTo(program.length);
    return fnv.value();
}

}  // namespace

int main(int argc, char** argv) {
    std::string raw_dir;
    if (argc == 3 && std::strcmp(argv[1], "--raw") == 0) {
        raw_dir = argv[2];
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: core_output_digest [--raw DIR]\n");
        return 2;
    }
    const Program program = songProgram();
    std::printf("program %zu writes %lld samples %016llx\n", program.writes.size(),
                static_cast<long long>(program.length),
                static_cast<unsigned long long>(programDigest(program)));
    for (auto emulator : {sound::Emulator::Nuked, sound::Emulator::Mame, sound::Emulator::Dosbox}) {
        const char* name = sound::emulatorName(emulator);
        std::ofstream raw;
        if (!raw_dir.empty()) {
            raw.open(raw_dir + "/" + name + ".raw", std::ios::binary);
            if (!raw) {
                std::fprintf(stderr, "core_output_digest: cannot write %s/%s.raw\n",
                             raw_dir.c_str(), name);
                return 1;
            }
        }
        std::printf("%s %016llx\n", name,
                    static_cast<unsigned long long>(
                        coreDigest(emulator, program, raw_dir.empty() ? nullptr : &raw)));
    }
    return 0;
}

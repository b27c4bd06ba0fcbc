// --chip alsa through its seam: the kernel's OPL calls that the register writes become. Each call
// is turned back into the registers the kernel's driver writes for it, by the field meanings of
// <sound/asound_fm.h> and the driver's operator table, written out here.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <memory>
#include <variant>
#include <vector>

#include "fm/ports/opl_device_port.h"
#include "real_chip_links.h"

namespace {

using Call = std::variant<fm::OperatorSettings, fm::NoteSettings, fm::ChipParams>;

struct RecordingDevice final : fm::OplDevice {
    explicit RecordingDevice(std::vector<Call>& calls) : calls_(calls) {}
    void setVoice(const fm::OperatorSettings& s) override { calls_.emplace_back(s); }
    void playNote(const fm::NoteSettings& n) override { calls_.emplace_back(n); }
    void setParams(const fm::ChipParams& p) override { calls_.emplace_back(p); }
    std::vector<Call>& calls_;
};

// The driver's table: the register offsets of voice v's first and second operator.
constexpr int kDriverOperatorOffsets[9][2] = {{0x00, 0x03}, {0x01, 0x04}, {0x02, 0x05},
                                              {0x08, 0x0b}, {0x09, 0x0c}, {0x0a, 0x0d},
                                              {0x10, 0x13}, {0x11, 0x14}, {0x12, 0x15}};

// What the driver writes to an OPL2 for one call: register -> value.
std::map<int, int> driverWrites(const Call& call) {
    std::map<int, int> out;
    if (const auto* v = std::get_if<fm::OperatorSettings>(&call)) {
        const int op = kDriverOperatorOffsets[v->voice][v->op];
        out[0x20 + op] = (v->am ? 0x80 : 0) | (v->vibrato ? 0x40 : 0) | (v->do_sustain ? 0x20 : 0) |
                         (v->kbd_scale ? 0x10 : 0) | (v->harmonic & 0x0F);
        out[0x40 + op] = ((v->scale_level << 6) & 0xC0) | (~v->volume & 0x3F);
        out[0x60 + op] = ((v->attack << 4) & 0xF0) | (v->decay & 0x0F);
        out[0x80 + op] = ((v->sustain << 4) & 0xF0) | (v->release & 0x0F);
        out[0xC0 + v->voice] = ((v->feedback << 1) & 0x0E) | (v->connection ? 1 : 0);
        out[0xE0 + op] = v->waveform & 0x07;
    } else if (const auto* n = std::get_if<fm::NoteSettings>(&call)) {
        out[0xA0 + n->voice] = n->fnum & 0xFF;
        out[0xB0 + n->voice] =
            (n->key_on ? 0x20 : 0) | ((n->octave << 2) & 0x1C) | ((n->fnum >> 8) & 0x03);
    } else if (const auto* p = std::get_if<fm::ChipParams>(&call)) {
        out[0x08] = p->kbd_split ? 0x40 : 0;
        out[0xBD] = (p->am_depth ? 0x80 : 0) | (p->vib_depth ? 0x40 : 0) | (p->rhythm ? 0x20 : 0) |
                    (p->bass ? 0x10 : 0) | (p->snare ? 0x08 : 0) | (p->tomtom ? 0x04 : 0) |
                    (p->cymbal ? 0x02 : 0) | (p->hihat ? 0x01 : 0);
    }
    return out;
}

TEST(OplDevice, EveryWriteOfTheTuneReachesTheChipThroughTheCallThatCarriesIt) {
    std::vector<Call> calls;
    fm::OplDevicePort device(std::make_unique<RecordingDevice>(calls));
    fakes::WriteTap tap(device);
    // What the program has written so far, and what the driver has written to the chip.
    std::array<int, 256> written{};
    std::array<int, 256> chip{};
    std::size_t seen = 0;
    int checked = 0;
    tap.on_write = [&] {
        const fm::opl2::RegisterWrite w = tap.writes.back();
        written[w.reg] = w.value;
        // The test register and the timers are the driver's; it takes no call for them.
        const bool carried = w.reg > 0x04 && fm::opl2::hasRegister(w.reg);
        ASSERT_EQ(calls.size() - seen, carried ? 1u : 0u) << "register " << int{w.reg};
        for (; seen < calls.size(); ++seen)
            for (const auto& [reg, value] : driverWrites(calls[seen])) {
                chip[static_cast<std::size_t>(reg)] = value;
                // A call rewrites its neighbours too: with what they already hold.
                EXPECT_EQ(value, written[static_cast<std::size_t>(reg)])
                    << "register " << reg << " after a write of " << int{w.value} << " to "
                    << int{w.reg};
            }
        if (carried) {
            EXPECT_EQ(chip[w.reg], w.value) << "register " << int{w.reg};
            ++checked;
        }
    };
    fakes::playTune(tap);
    // Start-up: the 245 writes of the reset (of which 123 - 4 reach registers with a call),
    // the 47 of the voices; then six per step.
    EXPECT_EQ(checked, 119 + 47 + 74 * 6);
}

}  // namespace

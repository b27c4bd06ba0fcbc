// What the driver puts on the ports: access timing per write, then which registers get what.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip_fakes.h"
#include "fm/blaster.h"

namespace {

using common::Int16;
using fakes::faultOf;
using fakes::RecordingPort;
using fakes::Write;
using W = std::vector<Write>;

Int16 I(int v) { return Int16{v}; }

// The eight voice-setup writes for an operator offset, written out by register role.
W setupWrites(int op) {
    return {{0x20 + op, 0x01}, {0x40 + op, 0x3F}, {0x60 + op, 0xF0}, {0x80 + op, 0x77},
            {0x23 + op, 0x01}, {0x43 + op, 0x00}, {0x63 + op, 0xF0}, {0x83 + op, 0x77}};
}

}  // namespace

TEST(RegisterWrite, IsAddressSixReadsDataThirtyFiveReads) {
    RecordingPort port;
    fm::Blaster(port).Blasterwritereg(I(0xB0), I(0x2E));
    const auto& a = port.accesses();
    ASSERT_EQ(a.size(), 43u);
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].is_out, i == 0 || i == 7) << i;
        EXPECT_EQ(a[i].port, i == 7 ? 0x389 : 0x388) << i;
    }
    EXPECT_EQ(a[0].value, 0xB0);
    EXPECT_EQ(a[7].value, 0x2E);
    EXPECT_EQ(port.patternFault(), "");
}

TEST(RegisterWrite, ValuesGoOutAsSixteenBitsUnmasked) {
    RecordingPort port;
    fm::Blaster b(port);
    b.Blasterwritereg(I(0x40), I(-7));
    b.Blasterwritereg(I(300), I(0x1234));
    ASSERT_EQ(port.accesses().size(), 86u);
    EXPECT_EQ(static_cast<std::uint16_t>(port.accesses()[7].value), 0xFFF9);
    EXPECT_EQ(port.writes(), (W{{0x40, -7}, {300, 0x1234}}));
}

TEST(ChipReset, ZeroesRegisters01ToF5InOrderButNot00) {
    RecordingPort port;
    fm::Blaster(port).Blasterresetcard();
    const auto& w = port.writes();
    ASSERT_EQ(w.size(), 245u);
    for (int r = 0x01; r <= 0xF5; ++r) EXPECT_EQ(w[static_cast<std::size_t>(r - 1)], (Write{r, 0}));
    EXPECT_EQ(port.patternFault(), "");
}

TEST(VoiceOffset, VoicesMapToOperatorOffsetsInGroupsOfThree) {
    const struct {
        int voice, offset, base;
    } table[] = {
        {1, 0, -1},  {2, 1, -1},   {3, 2, -1},        {4, 8, 4},  {5, 9, 4},
        {6, 10, 4},  {7, 16, 9},   {8, 17, 9},        {9, 18, 9}, {0, -1, -1},
        {10, 19, 9}, {-5, -6, -1}, {32758, 32767, 9},
    };
    RecordingPort port;
    fm::Blaster b(port);
    for (const auto& row : table) {
        EXPECT_EQ(b.Blastervoicetoreg(I(row.voice)).value(), row.offset) << "voice " << row.voice;
        EXPECT_EQ(b.OperatorBase.value(), row.base) << "voice " << row.voice;
    }
    EXPECT_TRUE(port.accesses().empty());
    // Voice + OperatorBase itself can leave the range.
    EXPECT_EQ(faultOf([&] { b.Blastervoicetoreg(I(-32768)); }), "Overflow");
    EXPECT_EQ(faultOf([&] { b.Blastervoicetoreg(I(32759)); }), "Overflow");
}

TEST(VoiceSetup, Voice4ProgramsBothOperatorsInOrder) {
    RecordingPort port;
    fm::Blaster(port).Blastersetupvoice(I(4));
    EXPECT_EQ(port.writes(), (W{{0x28, 0x01},
                                {0x48, 0x3F},
                                {0x68, 0xF0},
                                {0x88, 0x77},
                                {0x2B, 0x01},
                                {0x4B, 0x00},
                                {0x6B, 0xF0},
                                {0x8B, 0x77}}));
}

TEST(VoiceSetup, OutOfRangeVoicesWriteWhereTheOffsetPoints) {
    const struct { int voice, op; } table[] = {{9, 18}, {0, -1}, {10, 19}, {-3, -4}};
    for (const auto& row : table) {
        RecordingPort port;
        fm::Blaster(port).Blastersetupvoice(I(row.voice));
        EXPECT_EQ(port.writes(), setupWrites(row.op)) << "voice " << row.voice;
    }
}

TEST(VoiceSetup, RegisterPastTheRangeOverflowsMidSequence) {
    // Voice 32628 has offset 32637: the carrier's 0x83 register is the first past 32767.
    RecordingPort port;
    EXPECT_EQ(faultOf([&] { fm::Blaster(port).Blastersetupvoice(I(32628)); }), "Overflow");
    W expected = setupWrites(32637);
    expected.pop_back();
    EXPECT_EQ(port.writes(), expected);
    EXPECT_EQ(port.patternFault(), "");

    RecordingPort first;  // 0x20 + 32736 is already too far: nothing reaches the port
    EXPECT_EQ(faultOf([&] { fm::Blaster(first).Blastersetupvoice(I(32727)); }), "Overflow");
    EXPECT_TRUE(first.accesses().empty());
}

TEST(VoiceOff, ClearsTheKeyOnRegisterOfThatVoice) {
    const struct {
        int voice, reg;
    } table[] = {{2, 0xB1}, {1, 0xB0}, {9, 0xB8}, {0, 0xAF}, {-200, -25}, {32592, 32767}};
    for (const auto& row : table) {
        RecordingPort port;
        fm::Blaster(port).Blastervoiceoff(I(row.voice));
        EXPECT_EQ(port.writes(), (W{{row.reg, 0}})) << "voice " << row.voice;
    }
}

TEST(VoiceOff, RegisterPastTheRangeOverflowsBeforeAnyAccess) {
    RecordingPort port;
    EXPECT_EQ(faultOf([&] { fm::Blaster(port).Blastervoiceoff(I(32593)); }), "Overflow");
    EXPECT_TRUE(port.accesses().empty());
}

TEST(OperatorLevel, WritesSixtyThreeMinusVolumeUnclamped) {
    // {modulator?, voice, volume, register, value}
    const struct {
        bool modulator;
        int voice, volume, reg, value;
    } table[] = {
        {true, 1, 40, 0x40, 23}, {true, 1, 0, 0x40, 63},         {true, 1, 63, 0x40, 0},
        {true, 1, 70, 0x40, -7}, {true, 1, -10, 0x40, 73},       {true, 5, 63, 0x49, 0},
        {true, 0, 10, 0x3F, 53}, {true, 1, -32704, 0x40, 32767}, {false, 2, 45, 0x44, 18},
        {false, 4, 55, 0x4B, 8}, {false, 9, 63, 0x55, 0},        {false, 3, 70, 0x45, -7},
    };
    for (const auto& row : table) {
        RecordingPort port;
        fm::Blaster b(port);
        if (row.modulator)
            b.Blastermodulate(I(row.voice), I(row.volume));
        else
            b.Blastervolume(I(row.voice), I(row.volume));
        EXPECT_EQ(port.writes(), (W{{row.reg, row.value}}))
            << (row.modulator ? "modulate" : "volume") << " voice " << row.voice << " volume "
            << row.volume;
    }
}

TEST(OperatorLevel, VolumeBelowMinus32704Overflows) {
    RecordingPort port;
    fm::Blaster b(port);
    EXPECT_EQ(faultOf([&] { b.Blastermodulate(I(1), I(-32705)); }), "Overflow");
    EXPECT_EQ(faultOf([&] { b.Blastervolume(I(1), I(-32768)); }), "Overflow");
    EXPECT_EQ(faultOf([&] { b.Blastermodulate(I(32759), I(0)); }), "Overflow");
    EXPECT_TRUE(port.accesses().empty());
}

TEST(ChipInit, SetsUpVoices1To5ThenSevenLevels) {
    RecordingPort port;
    fm::Blaster(port).BlasterInit();
    W expected;
    for (int op : {0, 1, 2, 8, 9}) {
        const W voice = setupWrites(op);
        expected.insert(expected.end(), voice.begin(), voice.end());
    }
    const W levels = {{0x40, 23}, {0x41, 18}, {0x44, 18}, {0x42, 43},
                      {0x45, 10}, {0x4B, 8},  {0x49, 0}};
    expected.insert(expected.end(), levels.begin(), levels.end());
    ASSERT_EQ(expected.size(), 47u);
    EXPECT_EQ(port.writes(), expected);
    EXPECT_EQ(port.patternFault(), "");
}

// The serial boards' wire protocols, in the core the Windows build shares. Expected bytes are
// worked by hand from the protocol descriptions, never taken from the encoders.
#include "fm/ports/serial_protocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using fm::SerialProtocol;

TEST(SerialProtocols, EachWriteGoesOutAsItsProtocolDescribes) {
    const struct {
        SerialProtocol protocol;
        int reg, value;
        Bytes wire;
    } cases[] = {
        {SerialProtocol::Arduino, 0xA0, 0x41, {0xA0, 0x41}},
        {SerialProtocol::Nuke, 0x20, 0x01, {0x80, 0x40, 0x01}},
        {SerialProtocol::Nuke, 0xB0, 0x2E, {0x82, 0x60, 0x2E}},  // 0xB0 >> 6 = 2; 0x30 << 1
        {SerialProtocol::Nuke, 0x01, 0x80, {0x80, 0x03, 0x00}},  // value bit 7 in byte 2's bit 0
        {SerialProtocol::Nuke, 0xFF, 0xFF, {0x83, 0x7F, 0x7F}},
        // The format notes' worked example: the bridge command 42 12 E1 20 E3 01 FB 01.
        {SerialProtocol::RetroWave,
         0x20,
         0x01,
         {0x00, 0x43, 0x09, 0xB9, 0x25, 0x0F, 0x19, 0x07, 0xF7, 0x01, 0x81, 0x02}},
    };
    for (const auto& c : cases) {
        Bytes wire;
        fm::appendSerialWrite(
            c.protocol, {static_cast<std::uint8_t>(c.reg), static_cast<std::uint8_t>(c.value)},
            wire);
        EXPECT_EQ(wire, c.wire) << fm::serialProtocolName(c.protocol) << " " << c.reg;
    }
    // The Arduino sketches define nothing but writes.
    EXPECT_TRUE(fm::serialSetUp(SerialProtocol::Arduino).empty());
    EXPECT_TRUE(fm::serialSetUp(SerialProtocol::Nuke).empty());
}

}  // namespace

// The serial boards' byte protocols, and the serial backend over a recording link. Expected
// bytes come from the protocol descriptions (worked by hand), never from the encoders.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "board_readers.h"
#include "common/run_error.h"
#include "fm/opl2.h"
#include "fm/ports/serial_port.h"
#include "fm/ports/serial_protocol.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using fm::SerialProtocol;

Bytes encode(SerialProtocol protocol, int reg, int value) {
    Bytes out;
    fm::appendSerialWrite(protocol,
                          {static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(value)}, out);
    return out;
}

Bytes unframe(const Bytes& frame) { return boards::unframeRetroWave(frame); }

TEST(SerialProtocols, ArduinoSendsRegisterThenValue) {
    EXPECT_EQ(encode(SerialProtocol::Arduino, 0xA0, 0x41), (Bytes{0xA0, 0x41}));
    EXPECT_EQ(encode(SerialProtocol::Arduino, 0xB1, 0x00), (Bytes{0xB1, 0x00}));
}

TEST(SerialProtocols, NukeSplitsAddressAndValueOverThreeBytes) {
    const struct {
        int reg, value;
        Bytes wire;
    } cases[] = {
        {0x20, 0x01, {0x80, 0x40, 0x01}},
        {0xB0, 0x2E, {0x82, 0x60, 0x2E}},  // 0xB0 >> 6 = 2; (0x30 << 1) = 0x60
        {0x01, 0x80, {0x80, 0x03, 0x00}},  // value bit 7 rides in byte 2's bit 0
        {0xFF, 0xFF, {0x83, 0x7F, 0x7F}},
        {0x00, 0x00, {0x80, 0x00, 0x00}},
    };
    for (const auto& c : cases) EXPECT_EQ(encode(SerialProtocol::Nuke, c.reg, c.value), c.wire);
}

TEST(SerialProtocols, NukeMarksOnlyTheFirstByteSoReceiversCanResynchronise) {
    for (int reg = 0; reg < 256; ++reg) {
        for (int value = 0; value < 256; ++value) {
            const Bytes wire = encode(SerialProtocol::Nuke, reg, value);
            ASSERT_EQ(wire.size(), 3u);
            ASSERT_TRUE(wire[0] & 0x80);
            ASSERT_FALSE(wire[1] & 0x80);
            ASSERT_FALSE(wire[2] & 0x80);
            ASSERT_EQ(wire[0] >> 2 & 1, 0) << "second bank selected";
            ASSERT_EQ((wire[0] & 3) << 6 | wire[1] >> 1, reg);
            ASSERT_EQ((wire[1] & 1) << 7 | wire[2], value);
        }
    }
}

TEST(SerialProtocols, RetroWaveFramesTheWorkedExample) {
    // From the format notes: the command 42 12 E1 20 E3 01 FB 01 on the wire.
    EXPECT_EQ(encode(SerialProtocol::RetroWave, 0x20, 0x01),
              (Bytes{0x00, 0x43, 0x09, 0xB9, 0x25, 0x0F, 0x19, 0x07, 0xF7, 0x01, 0x81, 0x02}));
}

TEST(SerialProtocols, RetroWaveWriteIsTheBridgeCommandForTheFirstBank) {
    for (int reg : {0x01, 0x20, 0xB0, 0xF5}) {
        for (int value : {0x00, 0x2E, 0x80, 0xFF}) {
            const auto r = static_cast<std::uint8_t>(reg);
            const auto v = static_cast<std::uint8_t>(value);
            EXPECT_EQ(unframe(encode(SerialProtocol::RetroWave, reg, value)),
                      (Bytes{0x42, 0x12, 0xE1, r, 0xE3, v, 0xFB, v}));
        }
    }
}

TEST(SerialProtocols, RetroWaveFramingKeepsEveryLengthWhole) {
    // Lengths around every multiple of 7 and 8, so each padding case comes up.
    for (std::size_t length = 1; length <= 24; ++length) {
        Bytes transfer;
        for (std::size_t i = 0; i < length; ++i)
            transfer.push_back(static_cast<std::uint8_t>(0xA5 ^ (i * 37)));
        const Bytes frame = fm::retroWaveFrame(transfer);
        EXPECT_EQ(frame.size(), (length * 8 + 6) / 7 + 2) << length;
        EXPECT_EQ(unframe(frame), transfer) << length;
    }
}

TEST(SerialProtocols, OnlyRetroWaveNeedsASetUpAndOnlyArduinosRestart) {
    EXPECT_TRUE(fm::serialSetUp(SerialProtocol::Arduino).empty());
    EXPECT_TRUE(fm::serialSetUp(SerialProtocol::Nuke).empty());
    EXPECT_GT(fm::serialSettleMs(SerialProtocol::Arduino), 0);
    EXPECT_GT(fm::serialSettleMs(SerialProtocol::Nuke), 0);
    EXPECT_EQ(fm::serialSettleMs(SerialProtocol::RetroWave), 0);

    // Whole frames, each an SPI write to an I/O expander (opcode 0100 AAA0), and not one of
    // them a chip write: the set-up writes no register.
    const Bytes setup = fm::serialSetUp(SerialProtocol::RetroWave);
    ASSERT_FALSE(setup.empty());
    std::size_t start = 0;
    int frames = 0;
    for (std::size_t i = 0; i < setup.size(); ++i) {
        if (setup[i] != 0x02) continue;
        const Bytes transfer = unframe(Bytes(setup.begin() + static_cast<std::ptrdiff_t>(start),
                                             setup.begin() + static_cast<std::ptrdiff_t>(i + 1)));
        start = i + 1;
        ++frames;
        ASSERT_FALSE(transfer.empty());
        if (frames == 1) continue;  // the one-byte chip-select sync
        EXPECT_EQ(transfer[0] & 0xF1, 0x40) << "frame " << frames;
        EXPECT_FALSE(transfer.size() == 8 && transfer[2] == 0xE1) << "frame " << frames;
    }
    EXPECT_EQ(start, setup.size()) << "a frame left open";
}

TEST(SerialProtocols, NamesRoundTrip) {
    for (auto protocol : {SerialProtocol::Arduino, SerialProtocol::Nuke, SerialProtocol::RetroWave})
        EXPECT_EQ(fm::serialProtocolNamed(fm::serialProtocolName(protocol)), protocol);
    EXPECT_FALSE(fm::serialProtocolNamed("Nuke"));
    EXPECT_FALSE(fm::serialProtocolNamed(""));
    EXPECT_EQ(fm::serialProtocolNames(), "arduino, nuke or retrowave");
}

// ---- The backend ----

// Keeps what was sent, one entry per send; fails on request as a lost device does.
class RecordingLink final : public fm::SerialLink {
public:
    struct State {
        std::vector<Bytes> sends;
        bool fail = false;
    };
    explicit RecordingLink(State& state) : state_(state) {}
    void send(std::span<const std::uint8_t> bytes) override {
        if (state_.fail)
            throw common::RunError(common::RunError::Kind::DeviceLost, "lost the board on ttyX");
        state_.sends.emplace_back(bytes.begin(), bytes.end());
    }

private:
    State& state_;
};

class SerialBackend : public ::testing::Test {
protected:
    fm::SerialPort& open(SerialProtocol protocol) {
        port_ = std::make_unique<fm::SerialPort>(std::make_unique<RecordingLink>(link_), protocol);
        return *port_;
    }
    static void write(fm::PortIo& port, int reg, int value) {
        port.out(fm::opl2::kAddressPort, static_cast<std::int16_t>(reg));
        for (int i = 0; i < 6; ++i) port.in(fm::opl2::kAddressPort);
        port.out(fm::opl2::kDataPort, static_cast<std::int16_t>(value));
        for (int i = 0; i < 35; ++i) port.in(fm::opl2::kAddressPort);
    }

    RecordingLink::State link_;
    std::unique_ptr<fm::SerialPort> port_;
};

TEST_F(SerialBackend, EachDataWriteIsOneSendAndStatusReadsNeverReachTheLink) {
    auto& port = open(SerialProtocol::Arduino);
    EXPECT_EQ(port.in(fm::opl2::kAddressPort), 0x06);
    port.out(fm::opl2::kAddressPort, 0x20);
    EXPECT_TRUE(link_.sends.empty()) << "the address alone is no write";
    port.out(fm::opl2::kDataPort, 0x01);
    // The same value again is a write of its own: nothing is merged or dropped.
    port.out(fm::opl2::kDataPort, 0x01);
    write(port, 0xA0, 0x241);  // an 8-bit port takes the low byte
    EXPECT_EQ(link_.sends, (std::vector<Bytes>{{0x20, 0x01}, {0x20, 0x01}, {0xA0, 0x41}}));
}

TEST_F(SerialBackend, RetroWaveSetUpGoesOutOnceJustBeforeTheFirstWrite) {
    auto& port = open(SerialProtocol::RetroWave);
    EXPECT_TRUE(link_.sends.empty()) << "nothing is sent before the first write";
    write(port, 0x20, 0x01);
    write(port, 0x40, 0x10);
    ASSERT_EQ(link_.sends.size(), 2u);
    Bytes first = fm::serialSetUp(SerialProtocol::RetroWave);
    fm::appendSerialWrite(SerialProtocol::RetroWave, {0x20, 0x01}, first);
    EXPECT_EQ(link_.sends[0], first);
    EXPECT_EQ(link_.sends[1], encode(SerialProtocol::RetroWave, 0x40, 0x10));
}

TEST_F(SerialBackend, WayOutKeysOffOnlyTheVoicesStillSounding) {
    auto& port = open(SerialProtocol::Arduino);
    write(port, 0xB0, 0x2E);  // voice 1 on
    write(port, 0xB1, 0x31);  // voice 2 on
    write(port, 0xB1, 0x11);  // voice 2 off again, block and F-number kept
    link_.sends.clear();
    port.keyOffSounding();
    EXPECT_EQ(link_.sends, (std::vector<Bytes>{{0xB0, 0x00}}));
    // Already silent: a clean ending adds nothing to the wire.
    link_.sends.clear();
    port.keyOffSounding();
    EXPECT_TRUE(link_.sends.empty());
}

TEST_F(SerialBackend, ALostLinkStaysLostAndTheWayOutLeavesItAlone) {
    auto& port = open(SerialProtocol::Nuke);
    write(port, 0xB0, 0x2E);
    link_.fail = true;
    try {
        write(port, 0xA1, 0x44);
        FAIL() << "a failed send must raise";
    } catch (const common::RunError& e) {
        EXPECT_EQ(e.kind(), common::RunError::Kind::DeviceLost);
        EXPECT_EQ(std::string(e.what()), "lost the board on ttyX");
    }
    EXPECT_FALSE(port.linkUp());
    // Even if the device came back, the board may hold half a write: no more sends.
    link_.fail = false;
    const std::size_t sent = link_.sends.size();
    EXPECT_THROW(write(port, 0xA1, 0x44), common::RunError);
    port.keyOffSounding();
    EXPECT_EQ(link_.sends.size(), sent);
}

}  // namespace

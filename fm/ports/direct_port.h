// A card's own ports, reached with the x86 port instructions: ISA and PCI cards with legacy FM
// at 0x388, the same protocol the port library speaks on Windows.
#pragma once

#include <cstdint>
#include <memory>

#include "fm/port_io.h"

namespace fm {

// The three calls that touch real ports, behind one seam (app/platform/port_instructions_*
// has the machine's own). Named and ordered as glibc's <sys/io.h> has them.
class PortInstructions {
public:
    virtual ~PortInstructions() = default;
    // Grants this process `count` ports from `from`: 0, or the errno value of the refusal.
    virtual int ioperm(std::uint16_t from, int count) = 0;
    virtual void outb(std::uint8_t value, std::uint16_t port) = 0;
    virtual std::uint8_t inb(std::uint16_t port) = 0;
};

// Every access goes to the card, status reads included: on real hardware they are the delay.
class DirectPort final : public PortIo {
public:
    // Asks for the card's two ports at once. Refused, it raises std::runtime_error with one
    // line naming the cause and what to do.
    explicit DirectPort(std::unique_ptr<PortInstructions> instructions);

    void out(std::uint16_t port, std::int16_t value) override;
    std::uint8_t in(std::uint16_t port) override;

private:
    std::unique_ptr<PortInstructions> instructions_;
};

}  // namespace fm

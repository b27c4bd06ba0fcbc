// Port-trace lines are fixed-width lower-case hex, cheap to write and to diff.
#include "fm/ports/trace_port.h"

namespace fm {

namespace {
void putHex4(std::ostream& out, std::uint16_t v) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const char text[4] = {kDigits[(v >> 12) & 0xF], kDigits[(v >> 8) & 0xF],
                          kDigits[(v >> 4) & 0xF], kDigits[v & 0xF]};
    out.write(text, 4);
}
}  // namespace

void TracePort::out(std::uint16_t port, std::int16_t value) {
    out_.write("out ", 4);
    putHex4(out_, port);
    out_.put(' ');
    putHex4(out_, static_cast<std::uint16_t>(value));
    out_.put('\n');
    next_.out(port, value);
}

std::uint8_t TracePort::in(std::uint16_t port) {
    out_.write("in ", 3);
    putHex4(out_, port);
    out_.put('\n');
    return next_.in(port);
}

}  // namespace fm

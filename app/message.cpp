// Messages are escaped as a whole: a name is never trusted to be printable.
#include "app/message.h"

#include <algorithm>
#include <mutex>

#include "app/platform/input_wait.h"

namespace app {

namespace {

std::mutex g_lock;
std::FILE* g_status_line = nullptr;  // where a status line stands open, guarded by g_lock
std::uint64_t g_lines_shown = 0;     // message lines written to a terminal, guarded by g_lock

void endStatusLineLocked() {
    if (g_status_line == nullptr) return;
    std::fputc('\n', g_status_line);
    std::fflush(g_status_line);
    g_status_line = nullptr;
}

void appendHex(std::string& out, unsigned char byte) {
    constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xf];
}

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t sequenceLength(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;   // the second byte's range, narrowed against overlong forms
    unsigned char high = 0xbf;  // and against surrogates and code points past U+10FFFF
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) low = 0xa0;
        if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xbf) return 0;
    return length;
}

}  // namespace

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        switch (c) {
            case '\0':
                out += "\\0";
                ++i;
                continue;
            case '\t':
                out += "\\t";
                ++i;
                continue;
            case '\n':
                out += "\\n";
                ++i;
                continue;
            case '\r':
                out += "\\r";
                ++i;
                continue;
            default:
                break;
        }
        const std::size_t length = c >= 0x80 ? sequenceLength(text.substr(i)) : 0;
        // U+0080 to U+009F: C2 80 to C2 9F.
        const bool c1_control =
            length == 2 && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0;
        if (length == 0 || c1_control) {
            for (std::size_t j = 0; j < std::max<std::size_t>(length, 1); ++j)
                appendHex(out, static_cast<unsigned char>(text[i + j]));
            i += std::max<std::size_t>(length, 1);
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

void printMessage(std::FILE* stream, std::string_view message) {
    const std::string line = "vesk: " + escaped(message) + "\n";
    const std::lock_guard<std::mutex> hold(g_lock);
    endStatusLineLocked();
    // What the program printed before the message comes before it.
    std::fflush(stdout);
    std::fputs(line.c_str(), stream);
    std::fflush(stream);
    if (isTerminal(stream)) ++g_lines_shown;
}

void printError(std::string_view message) { printMessage(stderr, message); }

void statusLineOpened(std::FILE* stream) {
    const std::lock_guard<std::mutex> hold(g_lock);
    g_status_line = stream;
}

void statusLineClosed() {
    const std::lock_guard<std::mutex> hold(g_lock);
    g_status_line = nullptr;
}

void endStatusLine() {
    const std::lock_guard<std::mutex> hold(g_lock);
    endStatusLineLocked();
}

std::uint64_t messageLinesShown() {
    const std::lock_guard<std::mutex> hold(g_lock);
    return g_lines_shown;
}

}  // namespace app

// Reads typed values off a fuzzer's bytes; past the end every read gives zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    std::int16_t i16() { return static_cast<std::int16_t>(u16()); }
    // Up to `max` bytes, stopping after a 0 byte (not kept).
    std::string text(std::size_t max) {
        std::string s;
        while (!empty() && s.size() < max) {
            const char c = static_cast<char>(byte());
            if (c == '\0') break;
            s.push_back(c);
        }
        return s;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace fuzz

// A 16-bit mono WAV that appears whole or not at all: written under a temporary name, renamed last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

struct sf_private_tag;

namespace sound {

class WavFile {
public:
    // Creates the temporary file beside `path`. Raises std::runtime_error
    // ("cannot write PATH: reason") if that place cannot be written.
    WavFile(std::filesystem::path path, int rate_hz);
    ~WavFile();  // without commit(), the temporary file is removed
    WavFile(const WavFile&) = delete;
    WavFile& operator=(const WavFile&) = delete;

    void write(const std::int16_t* samples, std::size_t count);
    // Finishes the header, closes, and renames into place.
    void commit();
    // Closes and removes the temporary file, for a way out that skips destructors.
    void discard();

private:
    [[noreturn]] void fail(const std::string& reason) const;
    void flush();

    std::filesystem::path path_;
    std::filesystem::path temp_;
    sf_private_tag* file_ = nullptr;
    // libsndfile makes a system call per write; a render hands over a few ms at a time.
    std::vector<std::int16_t> buffer_;
    bool committed_ = false;  // or discarded: nothing is left to clean up
};

}  // namespace sound

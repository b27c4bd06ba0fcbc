// A 16-bit mono WAV that appears whole or not at all, written through the project's output file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "sound/render_format.h"

struct sf_private_tag;

namespace sound {

class WavFile {
public:
    // Opens the output (see common::AtomicFile), with the tags in a LIST chunk ahead of the
    // samples. Raises std::runtime_error ("cannot write PATH: reason") if that place cannot be
    // written.
    WavFile(std::filesystem::path path, int rate_hz, const RenderTags& tags = {});
    ~WavFile();  // without commit(), as discard()
    WavFile(const WavFile&) = delete;
    WavFile& operator=(const WavFile&) = delete;

    void write(const std::int16_t* samples, std::size_t count);
    // Finishes the header, closes, and puts the file in place. On failure nothing is left.
    void commit();
    // Closes and removes the unfinished file, for a way out that skips destructors.
    void discard();

private:
    [[noreturn]] void fail(const std::string& reason);
    void flush();

    common::AtomicFile file_;
    sf_private_tag* sound_file_ = nullptr;
    // libsndfile makes a write per call; a render hands over a few ms at a time.
    std::vector<std::int16_t> buffer_;
};

}  // namespace sound

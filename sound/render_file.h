// A render's output file in any of its formats, appearing whole or not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "sound/loudness.h"
#include "sound/render_format.h"
#include "sound/wav_file.h"

struct sf_private_tag;

namespace sound {

// WAV is written as it comes (WavFile). The compressed formats are encoded into memory and
// written out whole when they are done: their loudness tags need every sample first, and an
// encoder that goes back to finish its header would otherwise give a pipe other bytes than a
// file. Both go through the project's one output file (common::AtomicFile).
class RenderFile {
public:
    // Opens the output. Raises std::runtime_error ("cannot write PATH: reason") if that place
    // cannot be written, or the format cannot be written at this rate or by this build.
    RenderFile(std::filesystem::path path, RenderFormat format, int rate_hz,
               const RenderTags& tags);
    ~RenderFile();  // without commit(), as discard()
    RenderFile(const RenderFile&) = delete;
    RenderFile& operator=(const RenderFile&) = delete;

    void write(const std::int16_t* samples, std::size_t count);
    // Finishes the file and puts it in place. On failure nothing is left.
    void commit();
    // Removes the unfinished file, for a way out that skips destructors.
    void discard();

    // The encoded file as it grows; libsndfile reads, seeks and writes it as a file.
    struct Memory {
        std::vector<std::uint8_t> bytes;
        std::size_t at = 0;
    };

private:
    [[noreturn]] void fail(const std::string& reason);
    void flush();

    RenderFormat format_;
    std::optional<WavFile> wav_;
    std::optional<common::AtomicFile> file_;  // the compressed formats
    Memory memory_;
    sf_private_tag* sound_file_ = nullptr;
    std::optional<Loudness> loudness_;  // the formats with loudness tags
    std::vector<std::int16_t> buffer_;
};

}  // namespace sound

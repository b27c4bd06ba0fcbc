// WAV writing through libsndfile's virtual I/O, so the bytes go through the one output file.
#include "sound/wav_file.h"

#include <sndfile.h>

#include <stdexcept>
#include <string>

namespace sound {

namespace {

constexpr std::size_t kBufferSamples = 1 << 16;

common::AtomicFile& fileOf(void* user) { return *static_cast<common::AtomicFile*>(user); }

SF_VIRTUAL_IO virtualIo() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* user) -> sf_count_t { return fileOf(user).size(); };
    io.seek = [](sf_count_t offset, int whence, void* user) -> sf_count_t {
        return fileOf(user).seek(offset, whence);
    };
    io.read = [](void* data, sf_count_t count, void* user) -> sf_count_t {
        return static_cast<sf_count_t>(fileOf(user).read(data, static_cast<std::size_t>(count)));
    };
    io.write = [](const void* data, sf_count_t count, void* user) -> sf_count_t {
        fileOf(user).write(data, static_cast<std::size_t>(count));
        return fileOf(user).failure().empty() ? count : 0;
    };
    io.tell = [](void* user) -> sf_count_t { return fileOf(user).tell(); };
    return io;
}

}  // namespace

// Random access: libsndfile finishes the header last, so a pipe gets the file made in memory.
WavFile::WavFile(std::filesystem::path path, int rate_hz, const RenderTags& tags)
    : file_(std::move(path), common::AtomicFile::Access::Random) {
    buffer_.reserve(kBufferSamples);
    SF_INFO info{};
    info.samplerate = rate_hz;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    static SF_VIRTUAL_IO io = virtualIo();
    sound_file_ = sf_open_virtual(&io, SFM_WRITE, &info, &file_);
    if (sound_file_ == nullptr) fail(sf_strerror(nullptr));
    setTags(sound_file_, tags);
}

WavFile::~WavFile() { discard(); }

void WavFile::discard() {
    if (sound_file_ != nullptr) sf_close(sound_file_);
    sound_file_ = nullptr;
    file_.discard();
}

void WavFile::fail(const std::string& reason) {
    // The system's reason, where a write failed, says more than libsndfile's.
    const std::string why = file_.failure().empty() ? reason : file_.failure();
    const std::string name = common::utf8Name(file_.path());
    discard();
    throw std::runtime_error("cannot write " + name + ": " + why);
}

void WavFile::write(const std::int16_t* samples, std::size_t count) {
    buffer_.insert(buffer_.end(), samples, samples + count);
    if (buffer_.size() >= kBufferSamples) flush();
}

void WavFile::flush() {
    const auto n = static_cast<sf_count_t>(buffer_.size());
    if (sf_write_short(sound_file_, buffer_.data(), n) != n) fail(sf_strerror(sound_file_));
    buffer_.clear();
}

void WavFile::commit() {
    if (file_.committed()) return;
    flush();
    // Closing writes the final sizes into the header; a full disk may show up only here.
    const int closed = sf_close(sound_file_);
    sound_file_ = nullptr;
    if (closed != 0 || !file_.failure().empty()) fail(sf_error_number(closed));
    file_.commit();
}

}  // namespace sound

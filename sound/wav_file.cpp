// WAV writing through libsndfile on a file descriptor we open, so errors carry the system's reason.
#include "sound/wav_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace sound {

namespace {
constexpr std::size_t kBufferSamples = 1 << 16;
}

WavFile::WavFile(std::filesystem::path path, int rate_hz) : path_(std::move(path)) {
    buffer_.reserve(kBufferSamples);
    std::random_device random;
    temp_ = path_;
    temp_ += "." + std::to_string(random() % 1000000u) + ".tmp";
    const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) fail(std::strerror(errno));
    SF_INFO info{};
    info.samplerate = rate_hz;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (file_ == nullptr) {
        // libsndfile has closed the descriptor already (we handed it over).
        const std::string reason = sf_strerror(nullptr);
        std::error_code ignored;
        std::filesystem::remove(temp_, ignored);
        fail(reason);
    }
}

WavFile::~WavFile() { discard(); }

void WavFile::discard() {
    if (committed_) return;
    committed_ = true;
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
}

void WavFile::fail(const std::string& reason) const {
    throw std::runtime_error("cannot write " + path_.string() + ": " + reason);
}

void WavFile::write(const std::int16_t* samples, std::size_t count) {
    buffer_.insert(buffer_.end(), samples, samples + count);
    if (buffer_.size() >= kBufferSamples) flush();
}

void WavFile::flush() {
    const auto n = static_cast<sf_count_t>(buffer_.size());
    if (sf_write_short(file_, buffer_.data(), n) != n) fail(sf_strerror(file_));
    buffer_.clear();
}

void WavFile::commit() {
    if (committed_) return;
    flush();
    // Closing writes the final sizes into the header; a full disk shows up here.
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) fail(sf_error_number(closed));
    std::error_code error;
    std::filesystem::rename(temp_, path_, error);
    if (error) fail(error.message());
    committed_ = true;
}

}  // namespace sound

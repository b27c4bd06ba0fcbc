// The compressed formats are made in memory and handed to the output file in one piece.
#include "sound/render_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "sound/vorbis_comments.h"

namespace sound {

namespace {

constexpr std::size_t kBufferSamples = 1 << 16;

CommentedFormat commentedFormat(RenderFormat format) {
    if (format == RenderFormat::Flac) return CommentedFormat::Flac;
    return format == RenderFormat::Opus ? CommentedFormat::Opus : CommentedFormat::Vorbis;
}

RenderFile::Memory& memoryOf(void* user) { return *static_cast<RenderFile::Memory*>(user); }

SF_VIRTUAL_IO memoryIo() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* user) -> sf_count_t {
        return static_cast<sf_count_t>(memoryOf(user).bytes.size());
    };
    io.seek = [](sf_count_t offset, int whence, void* user) -> sf_count_t {
        RenderFile::Memory& m = memoryOf(user);
        const sf_count_t base = whence == SEEK_SET   ? 0
                                : whence == SEEK_CUR ? static_cast<sf_count_t>(m.at)
                                                     : static_cast<sf_count_t>(m.bytes.size());
        if (base + offset < 0) return -1;
        m.at = static_cast<std::size_t>(base + offset);
        return base + offset;
    };
    io.read = [](void* data, sf_count_t count, void* user) -> sf_count_t {
        RenderFile::Memory& m = memoryOf(user);
        const std::size_t n = std::min(static_cast<std::size_t>(count),
                                       m.bytes.size() - std::min(m.at, m.bytes.size()));
        if (n > 0) std::memcpy(data, m.bytes.data() + m.at, n);
        m.at += n;
        return static_cast<sf_count_t>(n);
    };
    io.write = [](const void* data, sf_count_t count, void* user) -> sf_count_t {
        RenderFile::Memory& m = memoryOf(user);
        const auto n = static_cast<std::size_t>(count);
        if (m.at + n > m.bytes.size()) m.bytes.resize(m.at + n);
        if (n > 0) std::memcpy(m.bytes.data() + m.at, data, n);
        m.at += n;
        return count;
    };
    io.tell = [](void* user) -> sf_count_t { return static_cast<sf_count_t>(memoryOf(user).at); };
    return io;
}

}  // namespace

RenderFile::RenderFile(std::filesystem::path path, RenderFormat format, int rate_hz,
                       const RenderTags& tags)
    : format_(format) {
    if (format == RenderFormat::Wav) {
        wav_.emplace(std::move(path), rate_hz, tags);
        return;
    }
    file_.emplace(std::move(path));
    if (!renderFormatBuiltIn(format))
        fail(std::string("this build has no ") + renderFormatName(format) + " encoder; it writes " +
             renderFormatsBuiltIn());
    SF_INFO info{};
    info.samplerate = rate_hz;
    info.channels = 1;
    info.format = sndfileFormat(format);
    static SF_VIRTUAL_IO io = memoryIo();
    sound_file_ = sf_open_virtual(&io, SFM_WRITE, &info, &memory_);
    if (sound_file_ == nullptr) fail(sf_strerror(nullptr));
    setTags(sound_file_, tags);
    if (carriesLoudness(format)) loudness_.emplace(rate_hz);
    buffer_.reserve(kBufferSamples);
}

RenderFile::~RenderFile() { discard(); }

void RenderFile::discard() {
    if (wav_) wav_->discard();
    if (sound_file_ != nullptr) sf_close(sound_file_);
    sound_file_ = nullptr;
    if (file_) file_->discard();
}

void RenderFile::fail(const std::string& reason) {
    const std::string name = common::utf8Name(file_->path());
    discard();
    throw std::runtime_error("cannot write " + name + ": " + reason);
}

void RenderFile::write(const std::int16_t* samples, std::size_t count) {
    if (wav_) {
        wav_->write(samples, count);
        return;
    }
    buffer_.insert(buffer_.end(), samples, samples + count);
    if (buffer_.size() >= kBufferSamples) flush();
}

void RenderFile::flush() {
    if (loudness_) loudness_->add(buffer_.data(), buffer_.size());
    const auto n = static_cast<sf_count_t>(buffer_.size());
    if (sf_write_short(sound_file_, buffer_.data(), n) != n) fail(sf_strerror(sound_file_));
    buffer_.clear();
}

void RenderFile::commit() {
    if (wav_) {
        wav_->commit();
        return;
    }
    if (file_->committed()) return;
    flush();
    // Closing ends the stream and finishes the headers (FLAC's STREAMINFO, MP3's LAME frame).
    const int closed = sf_close(sound_file_);
    sound_file_ = nullptr;
    if (closed != 0) fail(sf_error_number(closed));
    // A track with no loudness (silence) gets no gain: a player leaves it as it is.
    if (const auto loudness = loudness_ ? loudness_->result() : std::nullopt) {
        try {
            addComments(memory_.bytes, commentedFormat(format_),
                        replayGainComments(*loudness, format_ == RenderFormat::Opus));
        } catch (const std::runtime_error& e) {
            fail(e.what());
        }
    }
    file_->write(memory_.bytes.data(), memory_.bytes.size());
    file_->commit();
}

}  // namespace sound

// Temporary-then-rename output, so a failed run never leaves a half-written file behind.
#include "common/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <stdexcept>
#include <system_error>

namespace common {

namespace {
std::string reason() { return errno != 0 ? std::strerror(errno) : "cannot write"; }
}  // namespace

AtomicFile::AtomicFile(std::filesystem::path path) : path_(std::move(path)) {
    std::random_device random;
    temp_ = path_;
    temp_ += '.';
    temp_ += std::to_string(random() % 1000000u);
    temp_ += ".tmp";
    errno = 0;
    out_.open(temp_, std::ios::binary | std::ios::trunc);
    if (!out_) throw std::runtime_error("cannot write " + path_.string() + ": " + reason());
}

AtomicFile::~AtomicFile() {
    if (committed_) return;
    out_.close();
    std::error_code ignored;
    std::filesystem::remove(temp_, ignored);
}

void AtomicFile::commit() {
    if (committed_) return;
    errno = 0;
    out_.flush();
    out_.close();
    if (out_.fail()) throw std::runtime_error("cannot write " + path_.string() + ": " + reason());
    std::error_code error;
    std::filesystem::rename(temp_, path_, error);
    if (error) throw std::runtime_error("cannot write " + path_.string() + ": " + error.message());
    committed_ = true;
}

}  // namespace common

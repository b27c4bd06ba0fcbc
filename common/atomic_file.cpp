// Temporary-then-rename output, so a failed run never leaves a half-written file behind.
#include "common/atomic_file.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#endif

#include <cerrno>
#include <cstring>
#include <random>
#include <stdexcept>
#include <system_error>

namespace common {

namespace fs = std::filesystem;

namespace {

// As the system counts them before it gives up on a loop (Linux's MAXSYMLINKS).
constexpr int kMaxLinks = 40;
// A clash with another program's temporary file is retried under a new name.
constexpr int kTempAttempts = 100;

std::string reasonFrom(int error) { return error != 0 ? std::strerror(error) : "cannot write"; }

// Follows symbolic links to the file they finally name, which may not exist yet.
fs::path followLinks(fs::path path) {
    for (int hops = 0; hops < kMaxLinks; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error)) || error) return path;
        fs::path target = fs::read_symlink(path, error);
        if (error) return path;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    throw std::system_error(std::make_error_code(std::errc::too_many_symbolic_link_levels));
}

// Opens for writing ("wb"), or creates it here and nowhere else, never opening an existing file
// or a link ("wb+x"). Windows' C library takes wide names (a narrow one goes through the ANSI
// code page and loses what it cannot hold) and has no "x" mode, but has O_EXCL.
std::FILE* openFile(const fs::path& path, bool exclusive) {
#ifdef _WIN32
    if (!exclusive) return _wfopen(path.c_str(), L"wb");
    int fd = -1;
    if (_wsopen_s(&fd, path.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _SH_DENYNO,
                  _S_IREAD | _S_IWRITE) != 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "wb+");
    if (file == nullptr) _close(fd);
    return file;
#else
    return std::fopen(path.c_str(), exclusive ? "wb+x" : "wb");
#endif
}

}  // namespace

AtomicFile::AtomicFile(fs::path path) : path_(std::move(path)) {
    // What the name finally stands for, through any links (including /dev/stdout's).
    std::error_code error;
    fs::file_status status = fs::status(path_, error);
    switch (status.type()) {
        case fs::file_type::character:
        case fs::file_type::fifo:
            // Nothing to replace: the bytes go straight to the device or the reader.
            in_place_ = true;
            errno = 0;
            file_ = openFile(path_, false);
            if (file_ == nullptr) fail(reasonFrom(errno));
            return;
        case fs::file_type::directory:
            fail(std::strerror(EISDIR));
        case fs::file_type::not_found:
        case fs::file_type::regular:
        case fs::file_type::none:
            // none: the place could not be looked at (a missing folder, no permission); the
            // attempt to create the temporary file below gives the reason.
            break;
        default:
            fail("not a regular file, a character device or a FIFO");
    }
    // The file to replace, found by following the links one by one: renaming over the link
    // itself would turn it into a regular file.
    try {
        target_ = followLinks(path_);
    } catch (const std::system_error& e) {
        fail(e.code().message());
    }
    status = fs::status(target_, error);

    std::random_device random;
    for (int attempt = 0; attempt < kTempAttempts && file_ == nullptr; ++attempt) {
        temp_ = target_;
        temp_ += "." + std::to_string(random() % 1000000u) + ".tmp";
        errno = 0;
        // "x": created here or not at all, never an existing file (or a link) opened.
        file_ = openFile(temp_, true);
        if (file_ == nullptr && errno != EEXIST) break;
    }
    if (file_ == nullptr) {
        temp_.clear();
        fail(reasonFrom(errno));
    }
    // The file that replaces another keeps its permissions.
    if (status.type() == fs::file_type::regular)
        fs::permissions(temp_, status.permissions(), error);
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::fail(const std::string& reason) {
    throw std::runtime_error("cannot write " + utf8Name(path_) + ": " + reason);
}

void AtomicFile::noteFailure() {
    if (failure_.empty()) failure_ = reasonFrom(errno);
}

void AtomicFile::write(const void* data, std::size_t size) {
    if (file_ == nullptr || size == 0) return;
    errno = 0;
    if (std::fwrite(data, 1, size, file_) != size) noteFailure();
}

std::size_t AtomicFile::read(void* data, std::size_t size) {
    return file_ == nullptr ? 0 : std::fread(data, 1, size, file_);
}

std::int64_t AtomicFile::seek(std::int64_t offset, int whence) {
    if (file_ == nullptr || std::fseek(file_, static_cast<long>(offset), whence) != 0) return -1;
    return tell();
}

std::int64_t AtomicFile::tell() { return file_ == nullptr ? -1 : std::ftell(file_); }

std::int64_t AtomicFile::size() {
    const std::int64_t at = tell();
    if (at < 0) return -1;
    const std::int64_t end = seek(0, SEEK_END);
    seek(at, SEEK_SET);
    return end;
}

void AtomicFile::commit() {
    if (committed_) return;
    errno = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_) != 0) noteFailure();
    errno = 0;
    if (std::fclose(file_) != 0) noteFailure();
    file_ = nullptr;
    if (!failure_.empty()) {
        const std::string reason = failure_;
        discard();
        fail(reason);
    }
    if (!in_place_) {
        std::error_code error;
        fs::rename(temp_, target_, error);
        if (error) {
            discard();
            fail(error.message());
        }
    }
    committed_ = true;
}

void AtomicFile::discard() {
    if (committed_) return;
    committed_ = true;
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    std::error_code ignored;
    if (!temp_.empty()) fs::remove(temp_, ignored);
}

AtomicFile::Buffer::int_type AtomicFile::Buffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    file_.write(&byte, 1);
    return c;
}

std::streamsize AtomicFile::Buffer::xsputn(const char* data, std::streamsize size) {
    file_.write(data, static_cast<std::size_t>(size));
    return size;
}

}  // namespace common

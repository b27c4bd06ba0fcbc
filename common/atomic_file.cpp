// Temporary-then-rename output, so a failed run never leaves a half-written file behind.
#include "common/atomic_file.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "common/stop_request.h"

namespace common {

namespace fs = std::filesystem;

namespace {

// As the system counts them before it gives up on a loop (Linux's MAXSYMLINKS).
constexpr int kMaxLinks = 40;
// A clash with another program's temporary file is retried under a new name.
constexpr int kTempAttempts = 100;
// Bytes gathered before they go to a device or a FIFO: a trace is written a line at a time.
constexpr std::size_t kSendChunk = std::size_t{64} * 1024;
// How often a wait for a FIFO's reader, or for room in it, looks at a stop request.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

void printNotice(const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); }
void (*g_notice)(const std::string&) = printNotice;

std::string reasonFrom(int error) { return error != 0 ? std::strerror(error) : "cannot write"; }

#ifdef _WIN32
// Windows' C library takes wide names (a narrow one goes through the ANSI code page and loses
// what it cannot hold). A path of MAX_PATH or more needs the "\\?\" form, which takes no "."
// or ".." and no relative name.
fs::path systemName(const fs::path& path) {
    constexpr std::size_t kMaxPath = 260;
    if (path.native().size() < kMaxPath - 12 || path.native().starts_with(L"\\\\?\\")) return path;
    std::error_code error;
    const fs::path full = fs::absolute(path, error).lexically_normal();
    return error ? path : fs::path(L"\\\\?\\" + full.native());
}
#else
// The kernel's fs.protected_symlinks rule: in a sticky world-writable folder (/tmp), a link is
// followed only for its owner or when the folder's owner made it; a link another user put there
// could otherwise aim us at any file we may write.
bool mayFollow(const fs::path& link, uid_t link_owner) {
    const fs::path folder = link.parent_path().empty() ? fs::path(".") : link.parent_path();
    struct stat about {};
    if (stat(folder.c_str(), &about) != 0) return true;
    const bool shared = (about.st_mode & S_ISVTX) != 0 && (about.st_mode & S_IWOTH) != 0;
    return !shared || link_owner == geteuid() || link_owner == about.st_uid;
}
#endif

// Follows symbolic links to the file they finally name, which may not exist yet. Raises
// std::runtime_error with the reason where a link may not be followed.
fs::path followLinks(fs::path path) {
    for (int hops = 0; hops < kMaxLinks; ++hops) {
#ifdef _WIN32
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error)) || error) return path;
#else
        struct stat about {};
        if (lstat(path.c_str(), &about) != 0 || !S_ISLNK(about.st_mode)) return path;
        if (!mayFollow(path, about.st_uid))
            throw std::runtime_error(
                "a link that another user owns in a shared folder is not followed");
        std::error_code error;
#endif
        fs::path target = fs::read_symlink(path, error);
        if (error) return path;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    throw std::runtime_error(
        std::make_error_code(std::errc::too_many_symbolic_link_levels).message());
}

}  // namespace

fs::path outputTarget(const fs::path& path) {
    try {
        return followLinks(path);
    } catch (const std::runtime_error&) {
        return path;
    }
}

void AtomicFile::setNoticeSink(void (*sink)(const std::string& message)) {
    g_notice = sink != nullptr ? sink : printNotice;
}

AtomicFile::AtomicFile(fs::path path, Access access) : path_(std::move(path)), access_(access) {
    // What the name finally stands for, through any links (including /dev/stdout's).
    std::error_code error;
    const fs::file_status status = fs::status(path_, error);
    switch (status.type()) {
        case fs::file_type::character:
        case fs::file_type::fifo:
            // Nothing to replace: the bytes go straight to the device or the reader.
            openInPlace();
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
    } catch (const std::runtime_error& e) {
        fail(e.what());
    }
    openTemporary();
}

AtomicFile::~AtomicFile() { discard(); }

#ifdef _WIN32

void AtomicFile::openInPlace() {
    in_place_ = true;
    errno = 0;
    if (_wsopen_s(&device_fd_, systemName(path_).c_str(), _O_WRONLY | _O_BINARY, _SH_DENYNO,
                  _S_IREAD | _S_IWRITE) != 0)
        fail(reasonFrom(errno));
}

void AtomicFile::openTemporary() {
    std::error_code error;
    const fs::file_status status = fs::status(target_, error);
    if (status.type() == fs::file_type::regular &&
        _waccess(systemName(target_).c_str(), 2 /* write */) != 0)
        fail(reasonFrom(errno));
    std::random_device random;
    for (int attempt = 0; attempt < kTempAttempts && file_ == nullptr; ++attempt) {
        // Short, so that any name the system takes still has room for it beside it.
        temp_ = target_.parent_path() / ("vesk" + std::to_string(random() % 1000000u) + ".tmp");
        int fd = -1;
        errno = 0;
        // Created here or not at all, never an existing file (or a link) opened.
        if (_wsopen_s(&fd, systemName(temp_).c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY,
                      _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0) {
            if (errno != EEXIST) break;
            continue;
        }
        file_ = _fdopen(fd, "wb+");
        if (file_ == nullptr) _close(fd);
    }
    if (file_ == nullptr) {
        temp_.clear();
        fail(reasonFrom(errno));
    }
    if (status.type() == fs::file_type::regular)
        fs::permissions(systemName(temp_), status.permissions(), error);
}

void AtomicFile::send(const char* data, std::size_t size) {
    while (size > 0 && failure_.empty()) {
        const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30));
        const int wrote = _write(device_fd_, data, chunk);
        if (wrote <= 0) {
            noteFailure(errno);
            return;
        }
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
}

void AtomicFile::closeAll() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (device_fd_ >= 0) _close(device_fd_);
    device_fd_ = -1;
    std::error_code ignored;
    if (!temp_.empty()) fs::remove(systemName(temp_), ignored);
    temp_.clear();
}

#else

void AtomicFile::openInPlace() {
    in_place_ = true;
    // Non-blocking, so that a FIFO with no reader yet, or one that takes no data, is waited
    // for here, where a stop request can cut the wait short.
    for (;;) {
        device_fd_ = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (device_fd_ >= 0) return;
        const int error = errno;
        if (error == EINTR) continue;
        if (error != ENXIO) fail(reasonFrom(error));
        // ENXIO: a FIFO that nobody reads yet.
        if (stopRequested() != 0) fail("stopped while waiting for a reader");
        std::this_thread::sleep_for(kWaitSlice);
    }
}

void AtomicFile::openTemporary() {
    // Everything below is relative to the folder, so that a path near PATH_MAX still has room
    // for the temporary name.
    const fs::path folder = target_.parent_path().empty() ? fs::path(".") : target_.parent_path();
#ifdef O_PATH
    folder_fd_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
    folder_fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
    if (folder_fd_ < 0) fail(reasonFrom(errno));
    const std::string leaf = target_.filename().string();
    struct stat old {};
    const bool replacing = fstatat(folder_fd_, leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (replacing) {
        // As a shell's redirect would: a file the user may not write is left alone.
        if (faccessat(folder_fd_, leaf.c_str(), W_OK, AT_EACCESS) != 0) fail(reasonFrom(errno));
        if (old.st_nlink > 1)
            g_notice(utf8Name(path_) + " is replaced by a new file; its " +
                     std::to_string(old.st_nlink - 1) + " other hard-linked name" +
                     (old.st_nlink > 2 ? "s keep" : " keeps") + " the old content");
    }
    std::random_device random;
    int fd = -1;
    for (int attempt = 0; attempt < kTempAttempts && fd < 0; ++attempt) {
        // Short, so that any name the system takes still has room for it beside it.
        temp_ = "vesk" + std::to_string(random() % 1000000u) + ".tmp";
        // Created here or not at all, never an existing file (or a link) opened.
        fd = openat(folder_fd_, temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const int error = errno;
        temp_.clear();
        fail(reasonFrom(error));
    }
    // The file that replaces another keeps its permissions.
    if (replacing) fchmod(fd, old.st_mode & 07777);
    file_ = fdopen(fd, "w+b");
    if (file_ == nullptr) {
        const int error = errno;
        close(fd);
        fail(reasonFrom(error));
    }
}

void AtomicFile::send(const char* data, std::size_t size) {
    auto last_progress = std::chrono::steady_clock::now();
    while (size > 0 && failure_.empty()) {
        const ssize_t wrote = ::write(device_fd_, data, size);
        if (wrote > 0) {
            data += wrote;
            size -= static_cast<std::size_t>(wrote);
            last_progress = std::chrono::steady_clock::now();
            continue;
        }
        if (wrote < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            noteFailure(errno);
            return;
        }
        // The reader takes its time: wait for room, but not against a request to stop.
        if (stopRequested() != 0 && std::chrono::steady_clock::now() - last_progress > kStopGrace) {
            failure_ = "stopped while the reader took no data";
            return;
        }
        pollfd ready{device_fd_, POLLOUT, 0};
        poll(&ready, 1, static_cast<int>(kWaitSlice.count()));
    }
}

void AtomicFile::closeAll() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (device_fd_ >= 0) close(device_fd_);
    device_fd_ = -1;
    if (!temp_.empty()) unlinkat(folder_fd_, temp_.c_str(), 0);
    temp_.clear();
    if (folder_fd_ >= 0) close(folder_fd_);
    folder_fd_ = -1;
}

#endif

void AtomicFile::fail(const std::string& reason) {
    closeAll();
    committed_ = true;
    throw std::runtime_error("cannot write " + utf8Name(path_) + ": " + reason);
}

void AtomicFile::noteFailure(int error) {
    if (failure_.empty()) failure_ = reasonFrom(error);
}

void AtomicFile::write(const void* data, std::size_t size) {
    if (committed_ || size == 0) return;
    const auto* bytes = static_cast<const char*>(data);
    if (!in_place_) {
        errno = 0;
        if (std::fwrite(bytes, 1, size, file_) != size) noteFailure(errno);
    } else if (access_ == Access::Random) {
        if (pending_.size() < position_ + size) pending_.resize(position_ + size);
        std::copy(bytes, bytes + size, pending_.begin() + static_cast<std::ptrdiff_t>(position_));
        position_ += size;
    } else {
        pending_.append(bytes, size);
        if (pending_.size() >= kSendChunk) {
            send(pending_.data(), pending_.size());
            pending_.clear();
        }
    }
}

std::size_t AtomicFile::read(void* data, std::size_t size) {
    if (committed_) return 0;
    if (!in_place_) return std::fread(data, 1, size, file_);
    if (access_ != Access::Random || position_ >= pending_.size()) return 0;
    const std::size_t n = std::min(size, pending_.size() - position_);
    std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(position_), n,
                static_cast<char*>(data));
    position_ += n;
    return n;
}

std::int64_t AtomicFile::seek(std::int64_t offset, int whence) {
    if (committed_) return -1;
    if (!in_place_) {
        if (std::fseek(file_, static_cast<long>(offset), whence) != 0) return -1;
        return tell();
    }
    if (access_ != Access::Random) return -1;
    const std::int64_t from = whence == SEEK_SET   ? 0
                              : whence == SEEK_CUR ? static_cast<std::int64_t>(position_)
                                                   : static_cast<std::int64_t>(pending_.size());
    if (from + offset < 0) return -1;
    position_ = static_cast<std::size_t>(from + offset);
    return from + offset;
}

std::int64_t AtomicFile::tell() {
    if (committed_) return -1;
    if (!in_place_) return std::ftell(file_);
    return access_ == Access::Random ? static_cast<std::int64_t>(position_) : -1;
}

std::int64_t AtomicFile::size() {
    const std::int64_t at = tell();
    if (at < 0) return -1;
    const std::int64_t end = seek(0, SEEK_END);
    seek(at, SEEK_SET);
    return end;
}

void AtomicFile::commit() {
    if (committed_) return;
    if (in_place_) {
        // Nothing reaches the device unless all of it can: a failed random-access file was
        // never sent.
        if (failure_.empty()) send(pending_.data(), pending_.size());
        pending_.clear();
    } else {
        errno = 0;
        if (std::fflush(file_) != 0 || std::ferror(file_) != 0) noteFailure(errno);
        errno = 0;
        if (std::fclose(file_) != 0) noteFailure(errno);
        file_ = nullptr;
    }
    if (!failure_.empty()) fail(failure_);
    if (!in_place_) {
#ifdef _WIN32
        std::error_code error;
        fs::rename(systemName(temp_), systemName(target_), error);
        if (error) fail(error.message());
#else
        if (renameat(folder_fd_, temp_.c_str(), folder_fd_, target_.filename().c_str()) != 0)
            fail(reasonFrom(errno));
#endif
        temp_.clear();
    }
    closeAll();
    committed_ = true;
}

void AtomicFile::discard() {
    if (committed_) return;
    committed_ = true;
    closeAll();
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

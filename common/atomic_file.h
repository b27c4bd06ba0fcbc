// The one way output files are written: whole or not at all, and never over something else.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <streambuf>
#include <string>

namespace common {

// A path as UTF-8, for messages: a narrow string() goes through Windows' ANSI code page.
inline std::string utf8Name(const std::filesystem::path& path) {
    const std::u8string name = path.u8string();
    return {name.begin(), name.end()};
}

// What writing to PATH would replace: the file its symbolic links finally name, which may not
// exist yet. PATH itself where a link cannot be followed.
std::filesystem::path outputTarget(const std::filesystem::path& path);

// A regular file (or a name that does not exist yet) is written under a short temporary name in
// its folder and renamed over it on commit(), so it appears whole or not at all; the old one stays
// until then. One the caller may not write is refused, as a shell's redirect refuses it. A symbolic
// link is followed where the system's protected_symlinks rule would follow it (in a sticky
// world-writable folder, only a link of the caller's or of the folder's owner): its final target
// is replaced and the link stays a link. A character device or a FIFO (/dev/null, a pipe to
// another program) has nothing to replace and is written in place; a file written with random
// access there is made in memory and sent whole on commit(), so the device gets exactly the bytes
// a regular file would hold. Anything else (a directory, a socket, a block device) is refused
// when the file is opened, before any work is done.
class AtomicFile {
public:
    // How the writer fills the file: front to back, or moving about to finish a header last.
    enum class Access { Sequential, Random };

    // Raises std::runtime_error "cannot write PATH: reason" if the place cannot be written.
    explicit AtomicFile(std::filesystem::path path, Access access = Access::Sequential);
    ~AtomicFile();  // without commit(), as discard()
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Where a warning that does not stop the writing goes (a replaced file with other names
    // that keep the old content): by default stderr.
    static void setNoticeSink(void (*sink)(const std::string& message));

    const std::filesystem::path& path() const { return path_; }
    // Whether the file is written where it stands (a device or a FIFO), not renamed into place.

    // Writing. A failure is kept and reported by commit(), with the system's reason.
    std::ostream& stream() { return stream_; }
    void write(const void* data, std::size_t size);
    // Reading back and moving about, for writers that finish a header last (WAV); with
    // Access::Sequential a device or a FIFO may not seek: -1.
    std::size_t read(void* data, std::size_t size);
    std::int64_t seek(std::int64_t offset, int whence);
    std::int64_t tell();
    std::int64_t size();
    // The first write failure's reason, or "" while there is none.
    const std::string& failure() const { return failure_; }

    // Flushes, closes and renames into place. On any failure the temporary file is removed and
    // std::runtime_error names the file and the reason. A second call does nothing. A device or
    // FIFO that takes no data is waited for, but after a stop request (common/stop_request.h)
    // only briefly.
    void commit();
    // Closes and removes the temporary file; the file it would have replaced stays as it was.
    void discard();
    bool committed() const { return committed_; }

private:
    class Buffer final : public std::streambuf {
    public:
        explicit Buffer(AtomicFile& file) : file_(file) {}

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* data, std::streamsize size) override;

    private:
        AtomicFile& file_;
    };

    [[noreturn]] void fail(const std::string& reason);
    void noteFailure(int error);
    void openInPlace();
    void openTemporary();
    void send(const char* data, std::size_t size);
    void closeAll();

    std::filesystem::path path_;  // as given
    Access access_;
    std::filesystem::path target_;  // what is replaced: path_ with its links followed
    std::filesystem::path temp_;    // empty when written in place
    std::FILE* file_ = nullptr;     // the temporary file
    int folder_fd_ = -1;            // the target's folder, where the temporary file is made
    int device_fd_ = -1;            // in place: the device or FIFO
    std::string pending_;           // in place: bytes not sent yet (all of them with Random)
    std::size_t position_ = 0;      // in place with Random: where the next write goes
    bool in_place_ = false;
    bool committed_ = false;  // or discarded: nothing is left to do
    std::string failure_;
    Buffer buffer_{*this};
    std::ostream stream_{&buffer_};
};

}  // namespace common

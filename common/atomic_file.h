// An output file that appears whole or not at all: written under a temporary name, renamed on commit.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace common {

class AtomicFile {
public:
    // Opens the temporary file beside `path`; an unwritable place raises std::runtime_error.
    explicit AtomicFile(std::filesystem::path path);
    ~AtomicFile();  // without commit(), the temporary file is removed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    std::ofstream& stream() { return out_; }
    const std::filesystem::path& path() const { return path_; }
    // Flushes, closes and renames into place. Raises std::runtime_error if any of that fails.
    void commit();
    bool committed() const { return committed_; }

private:
    std::filesystem::path path_;
    std::filesystem::path temp_;
    std::ofstream out_;
    bool committed_ = false;
};

}  // namespace common

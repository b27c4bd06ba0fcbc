// dlopen: the module takes everything but the window from the program, which exports it.
#include "app/window/window_module.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "app/window/window_front_end.h"

namespace app {

namespace {

constexpr const char* kModuleFile = "vesk_window.so";

// Where the module lies: beside the program in a build tree, in its own folder of the library
// directory once installed (VESK_WINDOW_MODULE_DIR, relative to the program's folder).
std::vector<std::filesystem::path> moduleCandidates() {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path beside = error ? std::filesystem::path() : program.parent_path();
    return {beside / kModuleFile, beside / VESK_WINDOW_MODULE_DIR / kModuleFile};
}

// Why the file at `path` is not a whole shared object of this machine's kind, or "". The loader
// maps a file's segments without looking at its length, and touching a page past the end of a
// truncated file kills the process with SIGBUS; so the file is checked against its program
// headers first.
std::string damage(const std::filesystem::path& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) return error.message();
    std::ifstream in(path, std::ios::binary);
    ElfW(Ehdr) header{};
    if (!in.read(reinterpret_cast<char*>(&header), sizeof header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return "not a shared object";
    if (header.e_phentsize != sizeof(ElfW(Phdr))) return "not built for this machine";
    std::string truncated = "damaged (" + std::to_string(size) + " bytes, cut short)";
    const std::uintmax_t headers_end =
        header.e_phoff + std::uintmax_t{header.e_phnum} * header.e_phentsize;
    if (headers_end > size) return truncated;
    if (header.e_shoff + std::uintmax_t{header.e_shnum} * header.e_shentsize > size)
        return truncated;
    in.seekg(static_cast<std::streamoff>(header.e_phoff));
    for (int i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) segment{};
        if (!in.read(reinterpret_cast<char*>(&segment), sizeof segment)) return truncated;
        if (segment.p_type == PT_LOAD && segment.p_offset + segment.p_filesz > size)
            return truncated;
    }
    return {};
}

}  // namespace

std::string openWindow(Program& program, int& argc, char** argv) {
    std::string reasons;
    for (const auto& path : moduleCandidates()) {
        if (!std::filesystem::exists(path)) continue;
        if (const std::string why = damage(path); !why.empty()) {
            reasons += std::string(reasons.empty() ? "" : "; ") + path.string() + ": " + why;
            continue;
        }
        // Bound at once: a module that does not fit this program fails here, not mid-tune.
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            reasons += std::string(reasons.empty() ? "" : "; ") + dlerror();
            continue;
        }
        auto* entry = reinterpret_cast<WindowEntry*>(dlsym(module, kWindowEntryName));
        if (entry == nullptr) {
            reasons += std::string(reasons.empty() ? "" : "; ") + dlerror();
            continue;
        }
        // Returns only where no display can be opened.
        return std::string(entry(&program, &argc, argv)) + "; using the text front end";
    }
    return "cannot load the window (" +
           (reasons.empty() ? std::string(kModuleFile) + " not found" : reasons) +
           "); using the text front end";
}

}  // namespace app

// dlopen: the module takes everything but the window from the program, which exports it.
#include "app/window/window_module.h"

#include <dlfcn.h>

#include <filesystem>
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

}  // namespace

std::string openWindow(Program& program, int& argc, char** argv) {
    std::string reasons;
    for (const auto& path : moduleCandidates()) {
        if (!std::filesystem::exists(path)) continue;
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
        entry(&program, &argc, argv);
    }
    return reasons.empty() ? std::string(kModuleFile) + " not found" : reasons;
}

}  // namespace app

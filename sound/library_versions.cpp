// What --version says of the sound libraries: each one loaded, at the version it is.
#include "sound/library_versions.h"

#include <adplug/adplug.h>
#ifdef _WIN32
#include <SDL.h>
#endif

namespace sound {

std::string loadedLibraryVersions() {
    std::string text = "AdPlug " + CAdPlug::get_version();
#ifdef _WIN32
    // Linked in. Elsewhere SDL is loaded only when live sound starts, which --version never
    // does, and Qt only with the window.
    SDL_version sdl{};
    SDL_GetVersion(&sdl);
    text += ", SDL " + std::to_string(sdl.major) + "." + std::to_string(sdl.minor) + "." +
            std::to_string(sdl.patch);
#endif
    return text;
}

}  // namespace sound

// SDL2 is loaded at the first call into it, not with the program: a render and a trace never
// call it, and loading SDL2 with the libraries it needs takes longer than a render of a light
// core spends on anything but the chip. Only the calls the live audio makes are here; a call
// added there that is missing here fails to link, by its name.
#include <SDL.h>
#include <dlfcn.h>

#include <string>

namespace {

// SDL2's soname, the same for every 2.x release.
constexpr const char* kLibrary = "libSDL2-2.0.so.0";

struct Library {
    void* handle = nullptr;
    std::string error;  // why it did not load
};

const Library& library() {
    static const Library loaded = [] {
        Library l;
        l.handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
        if (l.handle == nullptr) l.error = dlerror();
        return l;
    }();
    return loaded;
}

// The library's own function of this name, or nullptr if the library did not load.
template <typename Function>
Function* real(const char* name) {
    const Library& l = library();
    return l.handle == nullptr ? nullptr : reinterpret_cast<Function*>(dlsym(l.handle, name));
}

}  // namespace

// Each looks its function up once; the lookups are thread-safe, being function-local statics.
// Without the library, each fails the way SDL reports failure, and SDL_GetError says why.
extern "C" {

SDL_bool SDL_SetHint(const char* name, const char* value) {
    static auto* const f = real<decltype(SDL_SetHint)>("SDL_SetHint");
    return f != nullptr ? f(name, value) : SDL_FALSE;
}

int SDL_InitSubSystem(Uint32 flags) {
    static auto* const f = real<decltype(SDL_InitSubSystem)>("SDL_InitSubSystem");
    return f != nullptr ? f(flags) : -1;
}

void SDL_QuitSubSystem(Uint32 flags) {
    static auto* const f = real<decltype(SDL_QuitSubSystem)>("SDL_QuitSubSystem");
    if (f != nullptr) f(flags);
}

const char* SDL_GetError(void) {
    static auto* const f = real<decltype(SDL_GetError)>("SDL_GetError");
    return f != nullptr ? f() : library().error.c_str();
}

const char* SDL_GetCurrentAudioDriver(void) {
    static auto* const f = real<decltype(SDL_GetCurrentAudioDriver)>("SDL_GetCurrentAudioDriver");
    return f != nullptr ? f() : nullptr;
}

SDL_AudioDeviceID SDL_OpenAudioDevice(const char* device, int iscapture,
                                      const SDL_AudioSpec* desired, SDL_AudioSpec* obtained,
                                      int allowed_changes) {
    static auto* const f = real<decltype(SDL_OpenAudioDevice)>("SDL_OpenAudioDevice");
    return f != nullptr ? f(device, iscapture, desired, obtained, allowed_changes) : 0;
}

void SDL_PauseAudioDevice(SDL_AudioDeviceID dev, int pause_on) {
    static auto* const f = real<decltype(SDL_PauseAudioDevice)>("SDL_PauseAudioDevice");
    if (f != nullptr) f(dev, pause_on);
}

SDL_AudioStatus SDL_GetAudioDeviceStatus(SDL_AudioDeviceID dev) {
    static auto* const f = real<decltype(SDL_GetAudioDeviceStatus)>("SDL_GetAudioDeviceStatus");
    return f != nullptr ? f(dev) : SDL_AUDIO_STOPPED;
}

void SDL_CloseAudioDevice(SDL_AudioDeviceID dev) {
    static auto* const f = real<decltype(SDL_CloseAudioDevice)>("SDL_CloseAudioDevice");
    if (f != nullptr) f(dev);
}

}  // extern "C"

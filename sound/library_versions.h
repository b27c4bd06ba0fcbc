// The sound libraries this process has loaded, with their versions, for --version.
#pragma once

#include <string>

namespace sound {

// "AdPlug 2.3.3", and ", SDL 2.26.5" where SDL is part of the program.
std::string loadedLibraryVersions();

}  // namespace sound

// Windows' own words for an error code, as every Windows backend and link reports it.
#pragma once

#include <cstdint>
#include <string>

namespace fm {

// In UTF-8 (the console and the message box show UTF-8, and a localised Windows answers in its
// own language), without the line break and full stop it ends with. "error N" where Windows has
// no words for it.
std::string windowsErrorText(std::uint32_t error);

}  // namespace fm

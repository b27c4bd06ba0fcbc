// The 16 note strings of the stored tune, in the order they are sent.
#pragma once
#include <array>
#include <cstddef>
#include <string_view>
namespace song {
inline constexpr std::size_t kStoredSongStrings = 16;
extern const std::array<std::string_view, kStoredSongStrings> kStoredSong;
}  // namespace song

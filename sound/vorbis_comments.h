// Vorbis comments added to an encoded FLAC, Ogg Vorbis or Ogg Opus file, held whole in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sound {

enum class CommentedFormat { Flac, Vorbis, Opus };

// Appends "NAME=value" comments to the file's comment header. libsndfile writes only its fixed
// set of tags (title, date, ...); a ReplayGain tag is added here, once the whole track has been
// measured. Raises std::runtime_error if the file is not laid out as its encoder lays it out.
void addComments(std::vector<std::uint8_t>& file, CommentedFormat format,
                 const std::vector<std::string>& comments);

}  // namespace sound

// The formats a render is written in, by name and by file extension.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

struct sf_private_tag;

namespace sound {

enum class RenderFormat { Wav, Flac, Vorbis, Opus, Mp3 };

// "wav", "flac", "ogg", "opus", "mp3": the --format names, which are the extensions too.
std::optional<RenderFormat> renderFormatNamed(std::string_view name);
const char* renderFormatName(RenderFormat format);
// By the extension, in any case; nothing for an extension that names no format.
std::optional<RenderFormat> renderFormatFor(const std::filesystem::path& path);

// Whether this build's libsndfile has the format's codec (a Windows build may lack one).
bool renderFormatBuiltIn(RenderFormat format);
// Whether the format's tags carry the track's loudness (ReplayGain): FLAC, Ogg Vorbis, Opus.
bool carriesLoudness(RenderFormat format);
// The names of the formats this build writes, for messages: "wav, flac, ogg, opus and mp3",
// each behind `prefix` (".wav, .flac, ...") and the last behind `last` ("and", "or").
std::string renderFormatsBuiltIn(std::string_view last = "and", std::string_view prefix = "");

// Why the codec cannot run at this rate ("opus takes a rate of 8000, ... or 48000 Hz, not
// 44100"), or "" when it can.
std::string renderRateProblem(RenderFormat format, int rate_hz);

// libsndfile's SF_FORMAT_* code for the file: container and codec.
int sndfileFormat(RenderFormat format);

// What a render's file says of itself, where its format has tags.
struct RenderTags {
    std::string title;
    std::string software;  // "vesk 1.0.0"
    std::string date;      // "2026-12-08"
};

// Sets the tags on a file libsndfile has just opened for writing: before any sample, so that
// they go in the header. Empty ones are left out.
void setTags(sf_private_tag* file, const RenderTags& tags);

}  // namespace sound

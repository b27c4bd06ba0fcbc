// Which formats libsndfile was built with is asked of libsndfile itself, at run time.
#include "sound/render_format.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <span>
#include <utility>
#include <vector>

#include "common/name_table.h"

namespace sound {

namespace {

constexpr std::array<common::Named<RenderFormat>, 5> kFormats = {{
    {"wav", RenderFormat::Wav},
    {"flac", RenderFormat::Flac},
    {"ogg", RenderFormat::Vorbis},
    {"opus", RenderFormat::Opus},
    {"mp3", RenderFormat::Mp3},
}};

// The rates each codec is defined for (libsndfile refuses the others): Opus runs at five, and
// MPEG audio at the nine of MPEG-1, MPEG-2 and MPEG-2.5.
constexpr int kOpusRates[] = {8000, 12000, 16000, 24000, 48000};
constexpr int kMp3Rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

// libsndfile's container and codec for each format.
struct Codes {
    int major;
    int subtype;
};

Codes codesOf(RenderFormat format) {
    switch (format) {
        case RenderFormat::Wav:
            return {SF_FORMAT_WAV, SF_FORMAT_PCM_16};
        case RenderFormat::Flac:
            return {SF_FORMAT_FLAC, SF_FORMAT_PCM_16};
        case RenderFormat::Vorbis:
            return {SF_FORMAT_OGG, SF_FORMAT_VORBIS};
        case RenderFormat::Opus:
            return {SF_FORMAT_OGG, SF_FORMAT_OPUS};
        case RenderFormat::Mp3:
            return {SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III};
    }
    return {0, 0};
}

// Whether libsndfile lists the code among its major formats or its subtypes.
bool listed(int code, int count_command, int entry_command) {
    int count = 0;
    sf_command(nullptr, count_command, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        sf_command(nullptr, entry_command, &info, sizeof info);
        if (info.format == code) return true;
    }
    return false;
}

// "a, b and c", each behind `prefix`.
std::string joined(const std::vector<std::string>& items, std::string_view last,
                   std::string_view prefix) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? " " + std::string(last) + " " : ", ";
        text += std::string(prefix) + items[i];
    }
    return text;
}

}  // namespace

int sndfileFormat(RenderFormat format) {
    const Codes codes = codesOf(format);
    return codes.major | codes.subtype;
}

std::optional<RenderFormat> renderFormatNamed(std::string_view name) {
    return common::valueNamed(kFormats, name);
}

const char* renderFormatName(RenderFormat format) { return common::nameOf(kFormats, format); }

std::optional<RenderFormat> renderFormatFor(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    if (ext.size() < 2) return std::nullopt;
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return renderFormatNamed(std::string_view(ext).substr(1));
}

bool carriesLoudness(RenderFormat format) {
    return format == RenderFormat::Flac || format == RenderFormat::Vorbis ||
           format == RenderFormat::Opus;
}

bool renderFormatBuiltIn(RenderFormat format) {
#ifndef VESK_HAVE_LOUDNESS_TAGS
    // Their files would lack the loudness tags they promise.
    if (carriesLoudness(format)) return false;
#endif
    const Codes codes = codesOf(format);
    return listed(codes.major, SFC_GET_FORMAT_MAJOR_COUNT, SFC_GET_FORMAT_MAJOR) &&
           listed(codes.subtype, SFC_GET_FORMAT_SUBTYPE_COUNT, SFC_GET_FORMAT_SUBTYPE);
}

std::string renderFormatsBuiltIn(std::string_view last, std::string_view prefix) {
    std::vector<std::string> names;
    for (const auto& entry : kFormats)
        if (renderFormatBuiltIn(entry.value)) names.emplace_back(entry.name);
    return joined(names, last, prefix);
}

void setTags(sf_private_tag* file, const RenderTags& tags) {
    const std::pair<int, const std::string*> strings[] = {
        {SF_STR_TITLE, &tags.title}, {SF_STR_SOFTWARE, &tags.software}, {SF_STR_DATE, &tags.date}};
    // A format without a field (MP3 has no "software") refuses it; the others still go in.
    for (const auto& [kind, text] : strings)
        if (!text->empty()) sf_set_string(file, kind, text->c_str());
}

std::string renderRateProblem(RenderFormat format, int rate_hz) {
    std::span<const int> rates;
    if (format == RenderFormat::Opus) rates = kOpusRates;
    if (format == RenderFormat::Mp3) rates = kMp3Rates;
    if (rates.empty() || std::find(rates.begin(), rates.end(), rate_hz) != rates.end()) return {};
    std::vector<std::string> names;
    for (int rate : rates) names.push_back(std::to_string(rate));
    return std::string(renderFormatName(format)) + " takes a rate of " + joined(names, "or", "") +
           " Hz, not " + std::to_string(rate_hz);
}

}  // namespace sound

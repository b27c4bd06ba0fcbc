// The comment header's layout (Vorbis I specification, section 5): a vendor string, then a count
// and that many comments, each a 32-bit little-endian length and its bytes. FLAC keeps it in a
// metadata block (type 4); Ogg in the stream's second packet, behind "\x03vorbis" or "OpusTags".
#include "sound/vorbis_comments.h"

#ifdef VESK_HAVE_LOUDNESS_TAGS
#include <ogg/ogg.h>
#endif

#include <cstring>
#include <stdexcept>
#include <string_view>

namespace sound {

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void malformed(const char* what) {
    throw std::runtime_error(std::string("cannot add tags: ") + what);
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
    if (at + 4 > b.size()) malformed("the comment header ends early");
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void putLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The comment header from `start` on (past any magic), with the comments appended; whatever
// follows the list (Vorbis' framing bit, Opus' binary data) stays behind them.
Bytes withComments(const Bytes& header, std::size_t start, const std::vector<std::string>& added) {
    std::size_t at = start + 4 + le32(header, start);
    const std::size_t count_at = at;
    const std::uint32_t count = le32(header, count_at);
    at += 4;
    for (std::uint32_t i = 0; i < count; ++i) at += 4 + le32(header, at);
    if (at > header.size()) malformed("a comment runs past its header");
    Bytes out(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(at));
    putLe32(out, count_at, count + static_cast<std::uint32_t>(added.size()));
    for (const std::string& comment : added) {
        out.resize(out.size() + 4);
        putLe32(out, out.size() - 4, static_cast<std::uint32_t>(comment.size()));
        out.insert(out.end(), comment.begin(), comment.end());
    }
    out.insert(out.end(), header.begin() + static_cast<std::ptrdiff_t>(at), header.end());
    return out;
}

// FLAC: "fLaC", then metadata blocks, each a byte (bit 7: the last block; bits 6-0: the type)
// and a 24-bit big-endian length. Frames follow; nothing in them points back at the metadata.
constexpr std::uint8_t kFlacLastBlock = 0x80;
constexpr std::uint8_t kFlacVorbisComment = 4;
constexpr std::size_t kFlacMaxBlock = 0xFFFFFF;

void addFlacComments(Bytes& file, const std::vector<std::string>& comments) {
    if (file.size() < 4 || std::memcmp(file.data(), "fLaC", 4) != 0) malformed("not FLAC");
    for (std::size_t at = 4;;) {
        if (at + 4 > file.size()) malformed("FLAC metadata ends early");
        const std::uint8_t kind = file[at];
        const std::size_t length =
            std::size_t{file[at + 1]} << 16 | std::size_t{file[at + 2]} << 8 | file[at + 3];
        if ((kind & 0x7F) == kFlacVorbisComment) {
            const Bytes body(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                             file.begin() + static_cast<std::ptrdiff_t>(at + 4 + length));
            const Bytes edited = withComments(body, 0, comments);
            if (edited.size() > kFlacMaxBlock) malformed("too many FLAC tags");
            file[at + 1] = static_cast<std::uint8_t>(edited.size() >> 16);
            file[at + 2] = static_cast<std::uint8_t>(edited.size() >> 8);
            file[at + 3] = static_cast<std::uint8_t>(edited.size());
            const auto from = file.begin() + static_cast<std::ptrdiff_t>(at + 4);
            file.erase(from, from + static_cast<std::ptrdiff_t>(length));
            file.insert(file.begin() + static_cast<std::ptrdiff_t>(at + 4), edited.begin(),
                        edited.end());
            return;
        }
        if ((kind & kFlacLastBlock) != 0) malformed("FLAC without a comment block");
        at += 4 + length;
    }
}

#ifdef VESK_HAVE_LOUDNESS_TAGS

// RFC 3533's page header: the stream's serial number and the page's sequence number, 32 bits each.
constexpr std::size_t kOggSerialAt = 14;
constexpr std::size_t kOggPageNumberAt = 18;

// FNV-1a, 32 bits: a serial number that follows from the audio alone.
std::uint32_t fnv1a(std::uint32_t hash, const Bytes& bytes) {
    for (std::uint8_t b : bytes) hash = (hash ^ b) * 16777619u;
    return hash;
}

// An Ogg page copied out of libogg's buffers.
struct Page {
    Bytes header, body;
};

Page copyOf(const ogg_page& page) {
    return {Bytes(page.header, page.header + page.header_len),
            Bytes(page.body, page.body + page.body_len)};
}

// Ogg: the first page holds the identification header alone; the comment header (and, for
// Vorbis, the setup header) follow on pages of their own before any audio. The headers are
// paged anew, and every later page is renumbered and its checksum made again. libsndfile picks
// the stream's serial number at random; it is made from the audio instead, so that the same
// render gives the same bytes.
void addOggComments(Bytes& file, CommentedFormat format, const std::vector<std::string>& comments) {
    const std::string_view magic = format == CommentedFormat::Opus ? "OpusTags" : "\x03vorbis";
    const std::size_t header_packets = format == CommentedFormat::Opus ? 2 : 3;

    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
    std::memcpy(buffer, file.data(), file.size());
    ogg_sync_wrote(&sync, static_cast<long>(file.size()));
    std::vector<Page> pages;
    std::size_t paged = 0;
    for (ogg_page page; ogg_sync_pageout(&sync, &page) == 1;) {
        pages.push_back(copyOf(page));
        paged += pages.back().header.size() + pages.back().body.size();
    }
    ogg_sync_clear(&sync);
    if (pages.empty() || paged != file.size()) malformed("not an Ogg stream of whole pages");

    // The header packets, gathered from the first pages.
    struct Packet {
        Bytes data;
        ogg_int64_t granule;
    };
    auto view = [](Page& p) {
        return ogg_page{p.header.data(), static_cast<long>(p.header.size()), p.body.data(),
                        static_cast<long>(p.body.size())};
    };
    std::vector<Packet> headers;
    std::size_t header_pages = 0;
    ogg_page first = view(pages.front());
    ogg_stream_state in;
    ogg_stream_init(&in, ogg_page_serialno(&first));
    while (headers.size() < header_packets && header_pages < pages.size()) {
        ogg_page page = view(pages[header_pages++]);
        ogg_stream_pagein(&in, &page);
        for (ogg_packet packet; ogg_stream_packetout(&in, &packet) == 1;)
            headers.push_back(
                {Bytes(packet.packet, packet.packet + packet.bytes), packet.granulepos});
    }
    ogg_stream_clear(&in);
    // Audio must start on a page of its own, or renumbering the pages would split a packet.
    ogg_page next = header_pages < pages.size() ? view(pages[header_pages]) : ogg_page{};
    if (headers.size() != header_packets || (next.header != nullptr && ogg_page_continued(&next)))
        malformed("the Ogg headers do not end on a page");
    Bytes& tags = headers[1].data;
    if (tags.size() < magic.size() || std::memcmp(tags.data(), magic.data(), magic.size()) != 0)
        malformed("no comment header where the Ogg stream should have it");
    tags = withComments(tags, magic.size(), comments);

    std::uint32_t serial = 2166136261u;  // FNV-1a's offset basis
    for (std::size_t i = header_pages; i < pages.size(); ++i) serial = fnv1a(serial, pages[i].body);

    Bytes out;
    auto append = [&out](const unsigned char* data, long size) {
        out.insert(out.end(), data, data + size);
    };
    ogg_stream_state repaged;
    ogg_stream_init(&repaged, static_cast<int>(serial));
    long page_count = 0;
    for (std::size_t i = 0; i < headers.size(); ++i) {
        ogg_packet packet{headers[i].data.data(), static_cast<long>(headers[i].data.size()),
                          i == 0 ? 1 : 0,         0,
                          headers[i].granule,     static_cast<ogg_int64_t>(i)};
        ogg_stream_packetin(&repaged, &packet);
        // The identification header is alone on its page; the others end on a page boundary.
        if (i == 0 || i + 1 == headers.size()) {
            for (ogg_page page; ogg_stream_flush(&repaged, &page) != 0; ++page_count) {
                append(page.header, page.header_len);
                append(page.body, page.body_len);
            }
        }
    }
    ogg_stream_clear(&repaged);

    const long shift = page_count - static_cast<long>(header_pages);
    for (std::size_t i = header_pages; i < pages.size(); ++i) {
        Page& p = pages[i];
        ogg_page page = view(p);
        putLe32(p.header, kOggPageNumberAt,
                static_cast<std::uint32_t>(ogg_page_pageno(&page) + shift));
        putLe32(p.header, kOggSerialAt, serial);
        ogg_page_checksum_set(&page);
        append(page.header, page.header_len);
        append(page.body, page.body_len);
    }
    file = std::move(out);
}

#else

// Without libogg the Ogg formats are not built in (renderFormatBuiltIn).
void addOggComments(Bytes&, CommentedFormat, const std::vector<std::string>&) {
    malformed("this build has no libogg");
}

#endif

}  // namespace

void addComments(Bytes& file, CommentedFormat format, const std::vector<std::string>& comments) {
    if (format == CommentedFormat::Flac)
        addFlacComments(file, comments);
    else
        addOggComments(file, format, comments);
}

}  // namespace sound

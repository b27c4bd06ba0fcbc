// One deflate call over the whole input: a capture is a few tens of kilobytes.
#include "sound/gzip.h"

#ifdef VESK_HAVE_ZLIB
#include <zlib.h>
#endif

#include <limits>
#include <stdexcept>
#include <string>

namespace sound {

#ifdef VESK_HAVE_ZLIB

namespace {

constexpr int kGzipWindowBits = 15 + 16;  // zlib's way of asking for a gzip wrapper
constexpr int kMemLevel = 8;              // zlib's default
constexpr int kOsUnknown = 255;           // RFC 1952's "unknown" operating system

std::vector<std::uint8_t> gzipped(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > std::numeric_limits<uInt>::max())
        throw std::runtime_error("too large to gzip in one piece");
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("gzip: out of memory");
    gz_header header{};
    header.os = kOsUnknown;
    deflateSetHeader(&z, &header);
    std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(bytes.size())));
    z.next_in = const_cast<Bytef*>(bytes.data());  // zlib reads its input but is not declared so
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END) throw std::runtime_error("gzip: cannot compress");
    return out;
}

}  // namespace

fm::Gzip gzip() { return gzipped; }

#else

fm::Gzip gzip() { return {}; }

#endif

}  // namespace sound

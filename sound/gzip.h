// A whole file packed as gzip (RFC 1952) with zlib, for the .vgz capture.
#pragma once

#include "capture/capture_port.h"

namespace sound {

// What packs a .vgz: no name and no time in the gzip header, so the same capture packs to the
// same bytes on every machine. It raises std::runtime_error if zlib fails (out of memory).
// Empty in a build without zlib.
fm::Gzip gzip();

}  // namespace sound

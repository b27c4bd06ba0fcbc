// A backend in front of any other that records each register write with its time to VGM or DRO.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "capture/timed_write.h"
#include "common/atomic_file.h"
#include "fm/opl2.h"
#include "fm/port_io.h"

namespace fm {

enum class CaptureFormat { Vgm, Vgz, Dro };  // .vgz: the whole VGM file gzip'd

// .vgm, .vgz or .dro, in any case; nothing for any other extension.
std::optional<CaptureFormat> captureFormatFor(const std::filesystem::path& path);

// Packs a whole file as gzip. The core has no compression of its own: the layer that has a
// gzip library hands one in.
using Gzip = std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t>)>;

// Every access goes on to `next` unchanged. The file is written whole by finish(); destroyed
// without it, the capture leaves no file behind.
class CapturePort final : public PortIo {
public:
    // now_s gives the seconds since the capture started; the file's time starts at the first
    // write. program names the writer in the VGM tag, e.g. "vesk 1.0.0", and date is the
    // capture's ("2026-12-08", or "" to leave it out). gzip packs a .vgz. Raises
    // std::runtime_error "cannot write PATH: reason" for an extension that is not a capture
    // format (or .vgz without gzip) or a place that cannot be written.
    CapturePort(PortIo& next, const std::filesystem::path& path, std::function<double()> now_s,
                std::string program, std::string date = {}, Gzip gzip = {});

    void out(std::uint16_t port, std::int16_t value) override;
    std::uint8_t in(std::uint16_t port) override;

    // Writes the file and renames it into place; the capture runs to the last write, or to
    // end_s if that is later. Only the first call writes, and accesses after it are not
    // recorded. Raises std::runtime_error if the file cannot be written.
    void finish();
    void finish(double end_s);
    // Leaves no file: the one it would have replaced stays as it was.
    void discard();

private:
    PortIo& next_;
    CaptureFormat format_;
    std::function<double()> now_s_;
    std::string program_;
    std::string date_;
    Gzip gzip_;
    common::AtomicFile file_;
    std::vector<capture::TimedWrite> writes_;
    opl2::PortDecoder decoder_;
    bool finished_ = false;
};

}  // namespace fm

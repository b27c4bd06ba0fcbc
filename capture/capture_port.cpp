// The capture keeps the writes in memory and encodes them once, so it can end at any moment.
#include "capture/capture_port.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <utility>

#include "capture/dro_writer.h"
#include "capture/vgm_writer.h"

namespace fm {

namespace {

CaptureFormat formatOrThrow(const std::filesystem::path& path, const Gzip& gzip) {
    const std::optional<CaptureFormat> format = captureFormatFor(path);
    if (!format)
        throw std::runtime_error("cannot write " + common::utf8Name(path) +
                                 ": not a .vgm, .vgz or .dro file");
    if (*format == CaptureFormat::Vgz && !gzip)
        throw std::runtime_error("cannot write " + common::utf8Name(path) +
                                 ": this build has no gzip; it writes .vgm and .dro");
    return *format;
}

}  // namespace

std::optional<CaptureFormat> captureFormatFor(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".vgm") return CaptureFormat::Vgm;
    if (ext == ".vgz") return CaptureFormat::Vgz;
    if (ext == ".dro") return CaptureFormat::Dro;
    return std::nullopt;
}

CapturePort::CapturePort(PortIo& next, const std::filesystem::path& path,
                         std::function<double()> now_s, std::string program, std::string date,
                         Gzip gzip)
    : next_(next),
      format_(formatOrThrow(path, gzip)),
      now_s_(std::move(now_s)),
      program_(std::move(program)),
      date_(std::move(date)),
      gzip_(std::move(gzip)),
      file_(path) {}

void CapturePort::out(std::uint16_t port, std::int16_t value) {
    if (!finished_) {
        if (auto write = decoder_.out(port, value))
            writes_.push_back({now_s_(), write->reg, write->value});
    }
    next_.out(port, value);
}

std::uint8_t CapturePort::in(std::uint16_t port) { return next_.in(port); }

void CapturePort::finish() { finish(writes_.empty() ? 0.0 : writes_.back().time_s); }

void CapturePort::finish(double end_s) {
    if (finished_) return;
    finished_ = true;
    // The file starts with the first write: what came before it (a sound device opening, a
    // window appearing) is silence that belongs to no tune.
    if (!writes_.empty()) {
        const double start_s = writes_.front().time_s;
        for (capture::TimedWrite& w : writes_) w.time_s -= start_s;
        end_s -= start_s;
    }
    std::vector<std::uint8_t> bytes;
    try {
        if (format_ == CaptureFormat::Dro) {
            bytes = capture::encodeDro(writes_, end_s);
        } else {
            bytes = capture::encodeVgm(writes_, end_s,
                                       {"Vesk", "PC, AdLib-compatible OPL2", program_, date_});
            if (format_ == CaptureFormat::Vgz) bytes = gzip_(bytes);
        }
    } catch (const std::exception& e) {
        file_.discard();
        throw std::runtime_error("cannot write " + common::utf8Name(file_.path()) + ": " +
                                 e.what());
    }
    file_.write(bytes.data(), bytes.size());
    file_.commit();
}

void CapturePort::discard() {
    finished_ = true;
    file_.discard();
}

}  // namespace fm

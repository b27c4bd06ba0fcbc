// The chip backend sits at the back of the chain; recorders wrap it.
#include "app/program.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "fm/trace_port.h"

namespace app {

namespace {

std::unique_ptr<fm::PortIo> makeChip(const Options& options) {
    (void)options;  // "none" is the only chip so far
    return std::make_unique<fm::NonePort>();
}

}  // namespace

void printError(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "vesk: %s\n", message.c_str());
    std::fflush(stderr);
}

Program::Program(Options options) : options_(std::move(options)) {
    chain_.push_back(makeChip(options_));
    if (!options_.port_trace.empty()) {
        trace_file_ = std::make_unique<common::AtomicFile>(options_.port_trace);
        wrap<fm::TracePort>(trace_file_->stream());
        atExit([this] { trace_file_->commit(); });
    }
}

Program::~Program() = default;

int Program::finish(int status) {
    // Newest first: a recorder is finished before the chip behind it.
    while (!finishers_.empty()) {
        auto finisher = std::move(finishers_.back());
        finishers_.pop_back();
        try {
            finisher();
        } catch (const std::exception& e) {
            printError(e.what());
            status = status == 0 ? 1 : status;
        }
    }
    return status;
}

void Program::exit(int status) {
    status = finish(status);
    std::fflush(stdout);
    std::fflush(stderr);
    // No destructors and no further handlers: the program ends here, wherever it stood.
    std::_Exit(status);
}

void Program::fail(const std::string& message) {
    printError(message);
    exit(1);
}

}  // namespace app

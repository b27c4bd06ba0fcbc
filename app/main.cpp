// Entry point: parse the command line, pick a front end, build the port chain, run.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "app/options.h"
#include "app/platform/clock.h"
#include "app/platform/input_wait.h"
#include "app/platform/privileges.h"
#include "app/platform/quit_signals.h"
#include "app/program.h"
#include "app/render/render_front_end.h"
#include "app/text/text_front_end.h"
#ifdef _WIN32
#include "app/platform/process_win32.h"
#include "app/window_win32/window_front_end.h"
#else
#include "app/window/window_module.h"
#endif
#include "common/run_error.h"

namespace {

bool haveDisplay() {
#ifdef _WIN32
    return true;  // Windows always has its desktop
#endif
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

[[noreturn]] void runText(app::Program& program) {
    app::RealClock clock;
    app::TextFrontEnd front_end(
        program.port(), clock, 0, stdout, [&program](int status) { program.exit(status); },
        [&program](const std::string& message) { program.fail(message); });
    front_end.setAfterLoad([&program] { program.sayWhatAnswered(); });
    front_end.run();
}

[[noreturn]] void runRender(app::Program& program) {
    std::string error;
    try {
        // A progress bar only where someone watches it.
        std::FILE* progress = app::isTerminal(stderr) ? stderr : nullptr;
        const app::Options& options = program.options();
        app::RenderFrontEnd front_end(
            program.port(), *program.soundChip(), app::pathFromArgument(options.render), progress,
            [&program](int status) { program.exit(status); }, app::pendingQuitSignal,
            options.render_format,
            {"Vesk", std::string("vesk ") + VESK_VERSION, app::outputDate()});
        front_end.render();
    } catch (const common::RunError& e) {
        error = std::string("run-time error: ") + e.what();
    } catch (const std::exception& e) {
        error = e.what();
    }
    // Out here the unfinished WAV has been removed already. A render that fails, even before
    // it began, leaves the capture and the trace it would have replaced as they were.
    if (!error.empty()) program.abandon(error);
    program.exit(0);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    app::Utf8CommandLine command_line;
    argc = command_line.argc();
    argv = command_line.argv();
    app::prepareProcess();
#endif
    // Before anything opens a descriptor: a closed stdout must not become the file we write.
    app::openStandardStreams();
    common::AtomicFile::setNoticeSink([](const std::string& message) { app::printError(message); });
    const app::ParsedCommandLine parsed = app::parseCommandLine(argc, argv);
    switch (parsed.action) {
        case app::ParsedCommandLine::Action::Help:
            std::fputs(app::usageText().c_str(), stdout);
            return 0;
        case app::ParsedCommandLine::Action::Version:
            std::fputs(app::versionText().c_str(), stdout);
            return 0;
        case app::ParsedCommandLine::Action::UsageError:
            // One line naming the fault, where the eye lands, and where to read more.
            app::printError(parsed.error);
            std::fputs("Try 'vesk --help' for more information.\n", stderr);
            return 2;
        case app::ParsedCommandLine::Action::Run:
            break;
    }

    app::Options options = parsed.options;
    // Only a card's ports need root, and only until they are granted (the program gives it up
    // there); nothing else is done as root that the user lent it for.
    if (options.chip != app::Chip::Ports) {
        try {
            app::giveUpLentRoot();
        } catch (const std::exception& e) {
            app::printError(e.what());
            return 1;
        }
    }
    if (!options.text && !options.detect && options.render.empty() && !haveDisplay()) {
        app::printError(
            "no display found (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset); "
            "using the text front end");
        options.text = true;
    }

    // Before anything that takes time or makes files: a Ctrl-C during start-up is then acted on
    // as soon as the front end runs, and nothing is left half-made.
    app::installQuitSignals();
    std::unique_ptr<app::Program> program;
    try {
        program = std::make_unique<app::Program>(options);
    } catch (const std::exception& e) {
        app::printError(e.what());
        return app::failureStatus();
    }
    if (options.detect) program->exit(program->detect());
    if (!options.render.empty()) runRender(*program);
    if (options.text) runText(*program);
#ifdef _WIN32
    app::runWindow(*program, argc, argv);
#else
    app::printError(app::openWindow(*program, argc, argv));
    runText(*program);
#endif
}

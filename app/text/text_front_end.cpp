// Commands arrive as lines; they are read during waits too, so "sluta" works mid-note.
#include "app/text/text_front_end.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "app/message.h"
#include "app/platform/input_wait.h"
#include "app/platform/quit_signals.h"
#include "common/run_error.h"
#include "song/note_name.h"

namespace app {

namespace {

constexpr std::size_t kMaxLine = 4096;

// Rows a status line may drift up as lines come in below it before a new one is begun: within
// the smallest terminal in use (24 rows), so that it has not scrolled off the top.
constexpr int kStatusReach = 20;

std::string normalised(std::string line) {
    auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    line.erase(line.begin(), std::find_if_not(line.begin(), line.end(), blank));
    line.erase(std::find_if_not(line.rbegin(), line.rend(), blank).base(), line.end());
    std::transform(line.begin(), line.end(), line.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return line;
}

}  // namespace

TextFrontEnd::TextFrontEnd(fm::PortIo& port, playback::Clock& clock, int input_fd, std::FILE* out,
                           std::function<void(int)> end,
                           std::function<void(const std::string&)> fatal)
    : vesk_(*this, port, clock, *this),
      input_(input_fd),
      out_(out),
      end_(std::move(end)),
      fatal_(std::move(fatal)),
      progress_on_tty_(isTerminal(out)) {
    vesk_.setStepObserver(this);
}

TextFrontEnd::~TextFrontEnd() = default;

template <typename Handler>
void TextFrontEnd::runHandler(Handler handler) {
    try {
        handler();
    } catch (const common::RunError& e) {
        endStatusLine();
        input_.endReading();
        fatal_(std::string("run-time error: ") + e.what());
        std::abort();  // unreachable: fatal_ never returns
    }
}

void TextFrontEnd::run() {
    runHandler([this] { vesk_.Form_Load(); });
    if (after_load_) after_load_();
    for (;;) {
        // Idle: nothing plays, so end of input closes the window at once.
        if (input_.ended() && pending_.empty()) end(exitStatus());
        processEvents(-1);
    }
}

void TextFrontEnd::showWindow() {
    printMessage(out_, "type \"start\" to play the tune, \"sluta\" to quit.");
}

void TextFrontEnd::unloadWindow() {
    endStatusLine();
    // A quit key (Ctrl-C) leaves its echo on the typing line; what follows starts below it.
    if (status_rows_up_ > 0 && exitStatus() != 0) std::fputc('\n', out_);
    status_rows_up_ = 0;
    std::fflush(out_);
}

void TextFrontEnd::endProgram() { end(exitStatus()); }

void TextFrontEnd::end(int status) {
    std::fflush(out_);
    // Nothing more is read, and the program ends with no reader left behind it.
    input_.endReading();
    end_(status);
    std::abort();  // unreachable: end_ never returns
}

void TextFrontEnd::processEvents(double max_block_s) {
    for (;;) {
        actOnQuitSignal([this] { runHandler([this] { vesk_.ExitMe_Click(); }); });
        // Pop before dispatching: a "start" nests a playback that reads further lines itself.
        if (auto newline = pending_.find('\n'); newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            dispatch(line);
            continue;
        }
        if (input_.ended() && !pending_.empty()) {  // a last line without its newline
            std::string line;
            line.swap(pending_);
            dispatch(line);
            continue;
        }
        break;
    }
    if (input_.ended() && !vesk_.playing() && max_block_s < 0) return;
    block(max_block_s);
    readInput();
}

void TextFrontEnd::block(double max_block_s) { input_.block(max_block_s); }

void TextFrontEnd::readInput() {
    const std::size_t before = pending_.size();
    // End of input is the window being closed; a playback under way runs on to its end.
    if (input_.readReady(pending_) != InputWait::Read::Data) return;
    // Each line typed has moved the cursor, and the line being typed, one row further down.
    if (status_rows_up_ > 0 && input_.echoesTyping())
        status_rows_up_ += static_cast<int>(std::count(
            pending_.begin() + static_cast<std::ptrdiff_t>(before), pending_.end(), '\n'));
    if (skipping_line_) {
        // The rest of a runaway line goes too, up to and with its newline.
        const std::size_t newline = pending_.find('\n', before);
        if (newline == std::string::npos) {
            pending_.erase(before);
            return;
        }
        pending_.erase(before, newline + 1 - before);
        skipping_line_ = false;
    }
    // No command is this long; drop a runaway line rather than grow without bound.
    const std::size_t last_newline = pending_.rfind('\n');
    const std::size_t line_start = last_newline == std::string::npos ? 0 : last_newline + 1;
    if (pending_.size() - line_start > kMaxLine) {
        pending_.erase(line_start);
        skipping_line_ = true;
        printMessage(out_, "input line too long; ignored.");
    }
}

void TextFrontEnd::dispatch(const std::string& raw) {
    const std::string command = normalised(raw);
    if (command == "start") {
        runHandler([this] { vesk_.PlayOn_Click(); });
    } else if (command == "sluta") {
        runHandler([this] { vesk_.ExitMe_Click(); });
    } else if (!command.empty()) {
        printMessage(out_, "unknown command \"" + command + "\"; type \"start\" or \"sluta\".");
    }
}

void TextFrontEnd::stepStarted(int step, int depth, const song::Song& song) {
    const common::Int16 i{step};
    const std::string upper = song::noteName(song.Octave1[i], song.FNumber1[i]);
    const std::string lower = song::noteName(song.Octave2[i], song.FNumber2[i]);
    const std::string nesting = depth > 1 ? "  (nested " + std::to_string(depth) + ")" : "";
    if (progress_on_tty_) {
        char status[64];
        std::snprintf(status, sizeof status, "step %2d/%d  %-4s %-4s%s", step, song::kSteps,
                      upper.c_str(), lower.c_str(), nesting.c_str());
        drawStatus(status);
    } else {
        std::fprintf(out_, "step %d/%d %s %s%s\n", step, song::kSteps, upper.c_str(), lower.c_str(),
                     nesting.c_str());
    }
    std::fflush(out_);
}

void TextFrontEnd::playbackEnded(int depth) {
    const std::string message =
        std::string("played to the end") + (depth > 1 ? " (nested playback)" : "") + ".";
    if (status_rows_up_ == 0) {
        printMessage(out_, message);
        return;
    }
    // In the status line's place, not where the user may be typing. It stays there once the
    // last playback is over; a nested one's end gives way to the next step of the one below.
    drawStatus("vesk: " + message);
    if (depth == 1) status_rows_up_ = 0;
}

// The cursor stays on the line the user types, which the terminal itself echoes and edits; the
// status line is rewritten above it: ESC 7 saves the cursor, CSI n A moves it up n rows, CSI K
// clears the rest of the row, ESC 8 puts the cursor back. A new status line is begun at the
// cursor, where a line has just been entered (start) and nothing is being typed yet.
void TextFrontEnd::drawStatus(const std::string& text) {
    readInput();  // lines entered since the last draw, to count them
    const std::uint64_t shown = messageLinesShown();
    if (status_rows_up_ > 0) status_rows_up_ += static_cast<int>(shown - messages_counted_);
    messages_counted_ = shown;
    if (status_rows_up_ == 0 || status_rows_up_ > kStatusReach) {
        std::fprintf(out_, "%s\n", text.c_str());
        status_rows_up_ = 1;
    } else {
        std::fprintf(out_, "\0337\033[%dA\r%s\033[K\0338", status_rows_up_, text.c_str());
    }
    std::fflush(out_);
}

}  // namespace app

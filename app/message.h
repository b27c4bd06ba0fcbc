// The one way a message reaches the user: one line each, on a line of its own, with any control
// character in a name or an input shown escaped rather than sent to the terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace app {

// `text` with control characters escaped: \0, \t, \n, \r, \x1b and the like; a byte that is not
// part of valid UTF-8, and the C1 controls (U+0080 to U+009F, which some terminals obey), as
// \xNN for each byte. Printable text, UTF-8 included, is left as it is.
std::string escaped(std::string_view text);

// Writes "vesk: MESSAGE" and a newline to `stream`, escaped, after ending any status line that
// is open on the terminal. Safe from any thread.
void printMessage(std::FILE* stream, std::string_view message);
// printMessage on stderr.
void printError(std::string_view message);

// A progress bar or status line now stands on `stream` without its newline; the next message,
// on whichever stream, ends it first.
void statusLineOpened(std::FILE* stream);
// The status line was taken off the screen, or ended by its owner.
void statusLineClosed();
// Ends an open status line with a newline, so that what follows starts on a line of its own.
void endStatusLine();
// How many message lines have gone to a terminal so far. A status line drawn above the cursor
// counts the rows that scrolled in below it, these among them, to find itself again.
std::uint64_t messageLinesShown();

}  // namespace app

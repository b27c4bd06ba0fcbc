// The note notation on fresh voice tables: any text may fault, but only with a run-time error.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/run_error.h"
#include "fuzz_input.h"
#include "song/song.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    song::Song song;
    // A few lines on either voice, as the stored song sends them; the voice may be any value.
    while (!in.empty()) {
        const common::Int16 voice{in.i16()};
        std::string line = in.text(512);
        try {
            song.StringSend(voice, line);
        } catch (const common::RunError&) {
            // Overflow or a subscript out of range: the program's own faults, reported as such.
        }
        try {
            std::string field = line.substr(0, 2);
            song::Song::Tune(field);
        } catch (const common::RunError&) {
        }
    }
    return 0;
}

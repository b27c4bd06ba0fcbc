// The checked integer against plain arithmetic in a wide type: the same value where that fits
// 16 bits, the defined fault where it does not, and nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "common/int16.h"
#include "common/run_error.h"
#include "fuzz_input.h"

namespace {

using common::Int16;
using common::RunError;

enum class Op { Add, Sub, Mul, Div, And, Or, Narrow, Index };
constexpr int kOps = 8;

[[noreturn]] void mismatch() { std::abort(); }

// What the operation must give: a value, or the fault it must raise.
struct Expected {
    long long value = 0;
    bool faults = false;
    RunError::Kind kind = RunError::Kind::Overflow;
};

Expected inRange(long long v) {
    const bool fits = v >= std::numeric_limits<std::int16_t>::min() &&
                      v <= std::numeric_limits<std::int16_t>::max();
    return {v, !fits, RunError::Kind::Overflow};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    while (!in.empty()) {
        const auto op = static_cast<Op>(in.byte() % kOps);
        const std::int16_t a = in.i16();
        const std::int16_t b = in.i16();
        // Four bytes of a wide value, for the checked conversion.
        const auto wide = static_cast<long long>(static_cast<std::int32_t>(
            static_cast<std::uint32_t>(in.u16()) | (static_cast<std::uint32_t>(in.u16()) << 16)));
        Expected want;
        switch (op) {
            case Op::Add:
                want = inRange(static_cast<long long>(a) + b);
                break;
            case Op::Sub:
                want = inRange(static_cast<long long>(a) - b);
                break;
            case Op::Mul:
                want = inRange(static_cast<long long>(a) * b);
                break;
            case Op::Div:
                want = b == 0 ? Expected{0, true, RunError::Kind::DivisionByZero}
                              : inRange(static_cast<long long>(a) / b);
                break;
            case Op::And:
                want = inRange(static_cast<long long>(a & b));
                break;
            case Op::Or:
                want = inRange(static_cast<long long>(a | b));
                break;
            case Op::Narrow:
                want = inRange(wide);
                break;
            case Op::Index:
                want = a >= 1 && a <= 74 ? Expected{a, false}
                                         : Expected{0, true, RunError::Kind::SubscriptOutOfRange};
                break;
        }
        try {
            const Int16 x{a};
            const Int16 y{b};
            long long got = 0;
            switch (op) {
                case Op::Add:
                    got = (x + y).value();
                    break;
                case Op::Sub:
                    got = (x - y).value();
                    break;
                case Op::Mul:
                    got = (x * y).value();
                    break;
                case Op::Div:
                    got = (x / y).value();
                    break;
                case Op::And:
                    got = (x & y).value();
                    break;
                case Op::Or:
                    got = (x | y).value();
                    break;
                case Op::Narrow:
                    got = Int16(wide).value();
                    break;
                case Op::Index: {
                    common::CheckedArray<Int16, 1, 74> table;
                    table[x] = x;
                    got = table[x].value();
                    break;
                }
            }
            if (want.faults || got != want.value) mismatch();
        } catch (const RunError& e) {
            if (!want.faults || e.kind() != want.kind) mismatch();
        }
    }
    return 0;
}

// The checked 16-bit signed integer that every count, register and note value lives in.
#pragma once

#include <cstdint>
#include <limits>

#include "common/run_error.h"

namespace common {

using Wide = long long;  // wide enough for any result of two 16-bit operands

class Int16 {
public:
    constexpr Int16() = default;
    // Narrowing from a wider value is a checked conversion: out of range is an overflow.
    constexpr explicit Int16(long long v) : v_(narrow(v)) {}

    constexpr std::int16_t value() const { return v_; }

    friend constexpr Int16 operator+(Int16 a, Int16 b) { return Int16(Wide{a.v_} + b.v_); }
    friend constexpr Int16 operator-(Int16 a, Int16 b) { return Int16(Wide{a.v_} - b.v_); }
    friend constexpr Int16 operator*(Int16 a, Int16 b) { return Int16(Wide{a.v_} * b.v_); }
    // Integer division; only ever used on values that divide exactly.
    friend constexpr Int16 operator/(Int16 a, Int16 b) {
        if (b.v_ == 0) throw RunError(RunError::Kind::DivisionByZero);
        return Int16(Wide{a.v_} / b.v_);
    }
    // Bitwise operators cannot leave the 16-bit range.
    friend constexpr Int16 operator&(Int16 a, Int16 b) { return Int16(Wide{a.v_ & b.v_}); }
    friend constexpr Int16 operator|(Int16 a, Int16 b) { return Int16(Wide{a.v_ | b.v_}); }

    friend constexpr bool operator==(Int16 a, Int16 b) = default;
    friend constexpr auto operator<=>(Int16 a, Int16 b) = default;

private:
    static constexpr std::int16_t narrow(long long v) {
        if (v < std::numeric_limits<std::int16_t>::min() ||
            v > std::numeric_limits<std::int16_t>::max())
            throw RunError(RunError::Kind::Overflow);
        return static_cast<std::int16_t>(v);
    }

    std::int16_t v_ = 0;
};

// A fixed array indexed First..Last by a checked integer; any other index is a fault.
template <typename T, int First, int Last>
class CheckedArray {
public:
    T& operator[](Int16 i) { return items_[slot(i)]; }
    const T& operator[](Int16 i) const { return items_[slot(i)]; }

private:
    static constexpr int slot(Int16 i) {
        if (i.value() < First || i.value() > Last)
            throw RunError(RunError::Kind::SubscriptOutOfRange);
        return i.value() - First;
    }

    T items_[Last - First + 1] = {};
};

}  // namespace common

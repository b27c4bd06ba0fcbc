// Every number in the program is a 16-bit signed integer that faults instead of wrapping.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/int16.h"
#include "common/run_error.h"

namespace {

using common::Int16;
using common::RunError;

// The fault message, or the value as text when there is none.
std::string outcome(const std::function<Int16()>& f) {
    try {
        return std::to_string(f().value());
    } catch (const RunError& e) {
        return e.what();
    }
}

struct Case {
    const char* what;
    std::function<Int16()> f;
    std::string expected;
};

Int16 I(long long v) { return Int16{v}; }

}  // namespace

TEST(CheckedInt, ArithmeticFaultsExactlyOutsideTheSixteenBitRange) {
    const Case cases[] = {
        {"32767 + 0", [] { return I(32767) + I(0); }, "32767"},
        {"32767 + 1", [] { return I(32767) + I(1); }, "Overflow"},
        {"-32768 + -1", [] { return I(-32768) + I(-1); }, "Overflow"},
        {"-32768 + 32767", [] { return I(-32768) + I(32767); }, "-1"},
        {"-1 - 32767", [] { return I(-1) - I(32767); }, "-32768"},
        {"-32768 - 1", [] { return I(-32768) - I(1); }, "Overflow"},
        {"0 - -32768", [] { return I(0) - I(-32768); }, "Overflow"},
        {"63 - -32704", [] { return I(63) - I(-32704); }, "32767"},
        {"63 - -32705", [] { return I(63) - I(-32705); }, "Overflow"},
        {"181 * 181", [] { return I(181) * I(181); }, "32761"},
        {"182 * 181", [] { return I(182) * I(181); }, "Overflow"},
        {"8191 * 4", [] { return I(8191) * I(4); }, "32764"},
        {"8192 * 4", [] { return I(8192) * I(4); }, "Overflow"},
        {"-8192 * 4", [] { return I(-8192) * I(4); }, "-32768"},
        {"-32768 * -1", [] { return I(-32768) * I(-1); }, "Overflow"},
        {"-32768 / -1", [] { return I(-32768) / I(-1); }, "Overflow"},
        {"768 / 256", [] { return I(768) / I(256); }, "3"},
        {"7 / 0", [] { return I(7) / I(0); }, "Division by zero"},
    };
    for (const Case& c : cases) EXPECT_EQ(outcome(c.f), c.expected) << c.what;
}

TEST(CheckedInt, NarrowingAWiderValueIsChecked) {
    const Case cases[] = {
        {"32767", [] { return I(32767); }, "32767"},
        {"-32768", [] { return I(-32768); }, "-32768"},
        {"32768", [] { return I(32768); }, "Overflow"},
        {"-32769", [] { return I(-32769); }, "Overflow"},
        {"65535", [] { return I(65535); }, "Overflow"},
    };
    for (const Case& c : cases) EXPECT_EQ(outcome(c.f), c.expected) << c.what;
}

TEST(CheckedArray, IndexOutsideBoundsIsASubscriptFault) {
    const common::CheckedArray<Int16, 1, 74> a;
    for (int i : {0, 75, -1, 32767, -32768}) {
        try {
            (void)a[I(i)];
            ADD_FAILURE() << "index " << i << " accepted";
        } catch (const RunError& e) {
            EXPECT_STREQ(e.what(), "Subscript out of range") << "index " << i;
            EXPECT_EQ(e.kind(), RunError::Kind::SubscriptOutOfRange);
        }
    }
}

TEST(CheckedArray, BothBoundsAreUsableAndDistinct) {
    common::CheckedArray<Int16, 1, 74> a;
    a[I(1)] = I(11);
    a[I(74)] = I(-74);
    EXPECT_EQ(a[I(1)], I(11));
    EXPECT_EQ(a[I(74)], I(-74));
    EXPECT_EQ(a[I(2)], I(0));
    EXPECT_EQ(a[I(73)], I(0));
}

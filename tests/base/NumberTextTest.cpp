#include "base/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kiv {
namespace {

TEST(NumberText, ReadsIntegersByTheProjectRule) {
    EXPECT_EQ(ParseInt32("-12", 0), -12);
    EXPECT_EQ(ParseInt32("+7", 0), 7);
    EXPECT_EQ(ParseInt32("  42", 0), 42) << "leading spaces are allowed";
    EXPECT_EQ(ParseInt32("\b\b5", 0), 5) << "so are backspace characters";
    EXPECT_EQ(ParseInt32("2147483647", 0), 2147483647);
    EXPECT_EQ(ParseInt32("-2147483648", 0), std::numeric_limits<std::int32_t>::min());
}

TEST(NumberText, GivesTheDefaultForAnythingElse) {
    EXPECT_EQ(ParseInt32("", 9), 9);
    EXPECT_EQ(ParseInt32("-", 9), 9);
    EXPECT_EQ(ParseInt32("12 ", 9), 9) << "trailing blank";
    EXPECT_EQ(ParseInt32("1.5", 9), 9);
    EXPECT_EQ(ParseInt32("0x10", 9), 9);
    EXPECT_EQ(ParseInt32("+-1", 9), 9);
    EXPECT_EQ(ParseInt32("2147483648", 9), 9) << "just above the 32-bit range";
    EXPECT_EQ(ParseInt32("-2147483649", 9), 9);
    EXPECT_EQ(ParseInt64("2147483648", 9), 2147483648LL);
    EXPECT_EQ(ParseInt64("9223372036854775807", 0), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(ParseInt64("-9223372036854775808", 0), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(ParseInt64("9223372036854775808", 3), 3);
    EXPECT_EQ(ParseInt64("99999999999999999999999", 3), 3);
}

TEST(NumberText, RoundsHalvesToEven) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(2.5000001), 3);
    EXPECT_EQ(RoundHalfEven(50 * 2.55), 127) << "50 x 2.55 is just below 127.5 in binary";
    EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
    EXPECT_EQ(RoundHalfEven(1e300), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(RoundHalfEven(-INFINITY), std::numeric_limits<std::int64_t>::min());
}

} // namespace
} // namespace kiv

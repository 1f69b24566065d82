#include "base/ColorValue.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

constexpr std::uint32_t kDefault = 0x11223344;

TEST(ColorValue, ReadsHexadecimalRgb) {
    EXPECT_EQ(ReadColorValue("#FF8000", kDefault), 0xFFFF8000u);
    EXPECT_EQ(ReadColorValue("#ff8000", kDefault), 0xFFFF8000u);
    EXPECT_EQ(ReadColorValue("#12345678", kDefault), 0xFF345678u) << "only the low 24 bits count";
    EXPECT_EQ(ReadColorValue("#12G456", kDefault), 0xFF000000u) << "a non-hex character gives black";
    EXPECT_EQ(ReadColorValue("#", kDefault), 0xFF000000u);
}

TEST(ColorValue, ReadsDecimalColorRefWithRedInTheLowByte) {
    EXPECT_EQ(ReadColorValue("255", kDefault), 0xFFFF0000u) << "0x0000FF is red";
    EXPECT_EQ(ReadColorValue("16711680", kDefault), 0xFF0000FFu) << "0xFF0000 is blue";
    EXPECT_EQ(ReadColorValue("65280", kDefault), 0xFF00FF00u);
    EXPECT_EQ(ReadColorValue("-1", kDefault), 0xFFFFFFFFu) << "only the low 24 bits count";
    EXPECT_EQ(ReadColorValue("white", kDefault), 0xFF000000u) << "a part that is no integer reads as 0";
}

TEST(ColorValue, ReadsAnAlphaAfterOnePart) {
    EXPECT_EQ(ReadColorValue("255,128", kDefault), 0x80FF0000u);
    EXPECT_EQ(ReadColorValue("#00FF00,#40", kDefault), 0x4000FF00u) << "hexadecimal alpha";
    EXPECT_EQ(ReadColorValue("#00FF00,300", kDefault), 0xFF00FF00u) << "above 255 gives 255";
    EXPECT_EQ(ReadColorValue("#00FF00,-4", kDefault), 0x0000FF00u) << "below 0 gives 0";
    EXPECT_EQ(ReadColorValue("#00FF00,x", kDefault), 0xFF00FF00u) << "a bad alpha gives its default 255";
    EXPECT_EQ(ReadColorValue("#00FF00,", kDefault), 0xFF00FF00u);
}

TEST(ColorValue, ReadsThreeOrFourDecimalComponents) {
    EXPECT_EQ(ReadColorValue("10,20,30", kDefault), 0xFF0A141Eu);
    EXPECT_EQ(ReadColorValue("10,20,30,40", kDefault), 0x280A141Eu);
    EXPECT_EQ(ReadColorValue("256,257,-1", kDefault), 0xFF0001FFu) << "each taken modulo 256";
    EXPECT_EQ(ReadColorValue("x,20,,", kDefault), 0xFF001400u) << "bad parts give 0, a bad alpha 255";
    EXPECT_EQ(ReadColorValue(" 1, 2, 3", kDefault), 0xFF010203u) << "leading blanks are allowed";
}

TEST(ColorValue, GivesTheCallersDefaultForOtherCounts) {
    EXPECT_EQ(ReadColorValue("", kDefault), kDefault);
    EXPECT_EQ(ReadColorValue("1,2,3,4,5", kDefault), kDefault);
    EXPECT_EQ(ReadColorValue(",,,,,,", kDefault), kDefault);
}

TEST(ColorValue, ConvertsColorRefToArgb) {
    EXPECT_EQ(ColorRefToArgb(0x00332211), 0xFF112233u);
    EXPECT_EQ(ColorRefToArgb(0x00332211, 0x7F), 0x7F112233u);
}

} // namespace
} // namespace kiv

#include "base/Utf.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(Utf, ConvertsBetweenUtf8AndUtf16BothWays) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // a é € 😀
    const std::u16string wide = Utf8ToUtf16(text);
    ASSERT_EQ(wide.size(), 5u);
    EXPECT_EQ(wide[0], u'a');
    EXPECT_EQ(wide[1], 0x00E9);
    EXPECT_EQ(wide[2], 0x20AC);
    EXPECT_EQ(wide[3], 0xD83D);
    EXPECT_EQ(wide[4], 0xDE00);
    EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(Utf, ReplacesMalformedSequencesWithoutReadingPastTheEnd) {
    EXPECT_EQ(Utf8ToUtf16("\xC0\x80"), std::u16string({0xFFFD, 0xFFFD})) << "overlong NUL";
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), std::u16string({0xFFFD, 0xFFFD, 0xFFFD})) << "encoded surrogate";
    EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80").front(), 0xFFFD) << "above U+10FFFF";
    EXPECT_EQ(Utf8ToUtf16("x\xE2\x82"), std::u16string({u'x', 0xFFFD, 0xFFFD})) << "truncated at the end";
    EXPECT_EQ(Utf16ToUtf8(std::u16string({0xD800, u'a'})), "\xEF\xBF\xBD" "a") << "unpaired high surrogate";
    EXPECT_EQ(Utf16ToUtf8(std::u16string({0xDC00})), "\xEF\xBF\xBD") << "lone low surrogate";
}

TEST(Utf, DecodesCodePointsOneByOne) {
    const std::string text = "\xF0\x90\x90\x80z";
    std::size_t pos = 0;
    bool valid = false;
    EXPECT_EQ(DecodeUtf8(text, pos, &valid), 0x10400u);
    EXPECT_TRUE(valid);
    EXPECT_EQ(pos, 4u);
    EXPECT_EQ(DecodeUtf8(text, pos, &valid), U'z');
    EXPECT_EQ(pos, 5u);
}

} // namespace
} // namespace kiv

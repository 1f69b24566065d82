// Decoding text files: byte-order marks and Windows-1252.
#include "ini/TextDecoding.h"
#include "ini/IniFile.h"

#include "base/Utf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

TEST(TextDecoding, Utf8MarkKeepsTheRestAsItIs) {
    EXPECT_EQ(DecodeTextBytes("\xEF\xBB\xBFk=\xC3\xA4\x80"), "k=\xC3\xA4\x80");
}

TEST(TextDecoding, Utf16MarkConvertsAndDropsAnOddLastByte) {
    const std::string bytes("\xFF\xFEk\0=\0\xE4\0\x3D\xD8\x00\xDE"
                            "X",
                            13);
    EXPECT_EQ(DecodeTextBytes(bytes), "k=\xC3\xA4\xF0\x9F\x98\x80");
    auto file = MakeRef<TIniFile>();
    ASSERT_TRUE(file->LoadFromBytes(std::string("\xFF\xFEk\0=\0v\0!", 9)));
    EXPECT_EQ(file->GetText("k"), "v");
    // Big-endian UTF-16 has no mark of its own: it reads as Windows-1252.
    EXPECT_EQ(DecodeTextBytes(std::string("\xFE\xFF\0k", 4)), std::string("\xC3\xBE\xC3\xBF\0k", 6));
}

TEST(TextDecoding, Windows1252MapsTheHighControlRange) {
    std::string bytes;
    for (int b = 0x80; b <= 0x9F; ++b)
        bytes += static_cast<char>(b);
    const std::u32string expected =
        U"\u20AC\u0081\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039"
        U"\u0152\u008D\u017D\u008F\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014"
        U"\u02DC\u2122\u0161\u203A\u0153\u009D\u017E\u0178";
    std::string utf8;
    for (const char32_t cp : expected)
        AppendUtf8(utf8, cp);
    EXPECT_EQ(Windows1252ToUtf8(bytes), utf8);
    EXPECT_EQ(Windows1252ToUtf8("A\xA0\xE9\xFF"), "A\xC2\xA0\xC3\xA9\xC3\xBF");
}

TEST(TextDecoding, HandedOverBytesDecodeAsCopiedOnes) {
    const std::vector<std::string> samples = {
        "",         "plain ascii=1\r\n", "\xEF\xBB\xBFk=\xC3\xA4",
        "\xEF\xBB", "\xEF\xBB\xBF",      std::string("\xFF\xFEk\0=\0v\0!", 9),
        "\xFF",     "caf\xE9 \x80\x9F",  std::string("nul\0inside", 11),
    };
    for (const std::string& bytes : samples)
        EXPECT_EQ(DecodeOwnedTextBytes(bytes), DecodeTextBytes(bytes)) << testing::PrintToString(bytes);
}

} // namespace
} // namespace kiv

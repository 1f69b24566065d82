#include "base/CaseFold.h"
#include "base/Utf.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

std::string Utf8(char32_t cp) {
    std::string text;
    AppendUtf8(text, cp);
    return text;
}

TEST(CaseFold, FoldsTheCodePointsOfUnicode61) {
    EXPECT_EQ(FoldCodePoint(U'A'), U'a');
    EXPECT_EQ(FoldCodePoint(U'Z'), U'z');
    EXPECT_EQ(FoldCodePoint(U'['), U'[');
    EXPECT_EQ(FoldCodePoint(0x1E9E), 0x00DFu) << "capital sharp s folds to sharp s";
    EXPECT_EQ(FoldCodePoint(0x017F), U's') << "long s";
    EXPECT_EQ(FoldCodePoint(0x212A), U'k') << "Kelvin sign";
    EXPECT_EQ(FoldCodePoint(0x03C2), 0x03C3u) << "final sigma";
    EXPECT_EQ(FoldCodePoint(0x10400), 0x10428u) << "Deseret, above U+FFFF";
    EXPECT_EQ(FoldCodePoint(0x00C9), 0x00E9u);
    EXPECT_EQ(FoldCodePoint(0x0410), 0x0430u) << "Cyrillic A";
    EXPECT_EQ(FoldCodePoint(0x2C00), 0x2C30u) << "Glagolitic";
    EXPECT_EQ(FoldCodePoint(0xFF21), 0xFF41u) << "fullwidth A";
    EXPECT_EQ(FoldCodePoint(0x00B5), 0x03BCu) << "micro sign";
    EXPECT_EQ(FoldCodePoint(0x10C7), 0x2D27u) << "Georgian Yn, new in 6.1";
}

TEST(CaseFold, LeavesCodePointsWithoutASimpleFoldAlone) {
    EXPECT_EQ(FoldCodePoint(0x0130), 0x0130u) << "dotted capital I has only a special (T/F) fold";
    EXPECT_EQ(FoldCodePoint(0x00DF), 0x00DFu) << "sharp s has only a full fold";
    EXPECT_EQ(FoldCodePoint(0x00E9), 0x00E9u);
    EXPECT_EQ(FoldCodePoint(0x4E2D), 0x4E2Du);
    EXPECT_EQ(FoldCodePoint(0x10FFFF), 0x10FFFFu);
    EXPECT_EQ(FoldCodePoint(0x110000), 0x110000u);
}

TEST(CaseFold, IgnoresFoldsOfLettersAssignedAfterUnicode61) {
    EXPECT_EQ(FoldCodePoint(0x13F8), 0x13F8u) << "Cherokee small ye, Unicode 8.0";
    EXPECT_EQ(FoldCodePoint(0xAB70), 0xAB70u) << "Cherokee small a, Unicode 8.0";
    EXPECT_EQ(FoldCodePoint(0x1C90), 0x1C90u) << "Georgian Mtavruli, Unicode 11.0";
    EXPECT_EQ(FoldCodePoint(0xA7AE), 0xA7AEu) << "Latin capital small capital I, Unicode 9.0";
    EXPECT_EQ(FoldCodePoint(0x10C80), 0x10C80u) << "Old Hungarian, Unicode 8.0";
}

TEST(CaseFold, FoldsWholeUtf8Texts) {
    EXPECT_EQ(FoldUtf8("Project.KIV"), "project.kiv");
    EXPECT_EQ(FoldUtf8("STRA" + Utf8(0x1E9E) + "E"), "stra" + Utf8(0xDF) + "e");
    EXPECT_EQ(FoldUtf8(Utf8(0x10400) + "X"), Utf8(0x10428) + "x");
    EXPECT_EQ(FoldUtf8(""), "");
}

TEST(CaseFold, CopiesInvalidBytesUnchanged) {
    const std::string broken = "A\xC3(\xFF" "B\xE2\x82";
    EXPECT_EQ(FoldUtf8(broken), "a\xC3(\xFF" "b\xE2\x82");
}

TEST(CaseFold, ComparesAndHashesFoldedTexts) {
    EXPECT_TRUE(SameTextFolded("Images\\BEACH.jpg", "images\\beach.JPG"));
    EXPECT_TRUE(SameTextFolded(Utf8(0x212A) + "elvin", "kELVIN"));
    EXPECT_FALSE(SameTextFolded(Utf8(0x0130), "i"));
    EXPECT_FALSE(SameTextFolded("abc", "abd"));
    EXPECT_EQ(FoldedHash("Main"), FoldedHash("MAIN"));
    EXPECT_EQ(FoldedHash(Utf8(0x03A3)), FoldedHash(Utf8(0x03C2))) << "capital and final sigma both fold to sigma";
    EXPECT_NE(FoldedHash("Slide1"), FoldedHash("Slide2"));
}

} // namespace
} // namespace kiv

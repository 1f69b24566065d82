// The vector-text renderer: picture names that keep the case of the text, glyph pixels and advances
// checked against FreeType's own, alignment and line spacing measured on the picture, font
// substitution and per-character fallback, right-to-left and combining text, the picture caps and
// bad input.
#include "objects/text/TextRender.h"
#include "SystemFace.h"
#include "base/CaseFold.h"
#include "base/Utf.h"
#include "support/LogCapture.h"

#include <fribidi.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace kiv::test {
namespace {

// A face of a system family loaded by the test itself, at the renderer's nominal size.
class TTestFace : public TSystemFace {
public:
    explicit TTestFace(const std::string& family, double pixels = kTextNominalEm)
        : TSystemFace(family, pixels) {}
};

TTextRequest Request(std::vector<std::string> lines, int align = kTextAlignLeft,
                     const std::string& font = "Arial") {
    TTextRequest request;
    request.fontName = font;
    request.align = align;
    request.lines = std::move(lines);
    return request;
}

int Alpha(const TBitmap& bitmap, int x, int y) {
    return bitmap.Row(y)[4 * x + 3];
}

// First and last column with ink in rows [top, bottom); -1 when none.
std::pair<int, int> InkColumns(const TBitmap& bitmap, int top, int bottom) {
    int first = -1, last = -1;
    for (int x = 0; x < bitmap.Width(); ++x)
        for (int y = std::max(top, 0); y < std::min(bottom, bitmap.Height()); ++y)
            if (Alpha(bitmap, x, y) > 64) {
                if (first < 0) first = x;
                last = x;
                break;
            }
    return {first, last};
}

// The rows with ink, as runs [first, last].
std::vector<std::pair<int, int>> InkRowRuns(const TBitmap& bitmap) {
    std::vector<std::pair<int, int>> runs;
    bool in = false;
    for (int y = 0; y < bitmap.Height(); ++y) {
        bool ink = false;
        for (int x = 0; x < bitmap.Width() && !ink; ++x)
            ink = Alpha(bitmap, x, y) > 64;
        if (ink && !in) runs.push_back({y, y});
        if (ink) runs.back().second = y;
        in = ink;
    }
    return runs;
}

// --- Names ---

TEST(TextNames, CaseIsKeptThroughNamesComparedWithoutCase) {
    EXPECT_EQ(EncodeTextCase("AbC <x>"), "<A>b<C> <<x>>");
    EXPECT_EQ(EncodeTextCase("ÉTÉ été"), "<ÉTÉ> été");
    for (std::string text : {"AbC <x>", "ÉTÉ été", "<<>>", "a>b<C", "", "ALL"})
        EXPECT_EQ(DecodeTextCase(EncodeTextCase(text)), text) << text;
    // Texts differing only in case get names that differ without regard to case.
    EXPECT_FALSE(SameTextFolded(EncodeTextCase("Hello"), EncodeTextCase("hello")));
    EXPECT_FALSE(SameTextFolded(EncodeTextCase("AbC"), EncodeTextCase("aBc")));
}

TEST(TextNames, EveryParameterSurvivesTheName) {
    TTextRequest request = Request({"First: line", "", "Third <b>"}, kTextAlignRight, "Times New Roman");
    request.scale = 0.75;
    request.phaseX = 0.25;
    request.phaseY = 0.5;
    request.style = kTextBold | kTextStrikeOut;
    request.ratio = 1.5;
    request.lineSpacing = -40;
    const std::string name = TextPictureName(request);
    EXPECT_EQ(name.rfind("Text: ", 0), 0u);
    TTextRequest back;
    ASSERT_TRUE(ParseTextPictureName(name, back));
    EXPECT_EQ(back.fontName, request.fontName);
    EXPECT_EQ(back.lines, request.lines);
    EXPECT_DOUBLE_EQ(back.scale, 0.75);
    EXPECT_DOUBLE_EQ(back.phaseX, 0.25);
    EXPECT_DOUBLE_EQ(back.phaseY, 0.5);
    EXPECT_EQ(back.style, request.style);
    EXPECT_EQ(back.align, kTextAlignRight);
    EXPECT_DOUBLE_EQ(back.ratio, 1.5);
    EXPECT_EQ(back.lineSpacing, -40);
    // The name asked by case-insensitive lookups still parses.
    ASSERT_TRUE(ParseTextPictureName("TEXT: " + name.substr(6), back));
    for (std::string bad : {"Text: ", "Text: Arial:1:0:0:0:1:1", "Text: Arial:x:0:0:0:1:1:0:a",
                            "Image: a:1:0:0:0:1:1:0:a", "Text: Arial:1:0:0:0:1:1:zero:a"}) {
        TTextRequest none;
        EXPECT_FALSE(ParseTextPictureName(bad, none)) << bad;
    }
}

// --- Glyphs against FreeType ---

TEST(TextRaster, GlyphPixelsAreFreeTypesOwn) {
    TTestFace face("Liberation Sans");
    ASSERT_NE(face.face(), nullptr);
    TTextLayout layout;
    TRef<TBitmap> bitmap = RenderText(Request({"g"}), &layout);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_EQ(FT_Load_Glyph(face.face(), FT_Get_Char_Index(face.face(), U'g'), FT_LOAD_NO_HINTING), 0);
    ASSERT_EQ(FT_Render_Glyph(face.face()->glyph, FT_RENDER_MODE_NORMAL), 0);
    const FT_Bitmap& glyph = face.face()->glyph->bitmap;
    ASSERT_GT(glyph.rows, 0u);
    // The pen starts one pixel in, on the baseline one ascent below the margin.
    const int left = 1 + face.face()->glyph->bitmap_left;
    const int top = 1 + static_cast<int>(face.Ascent()) - face.face()->glyph->bitmap_top;
    int differing = 0;
    for (unsigned y = 0; y < glyph.rows; ++y)
        for (unsigned x = 0; x < glyph.width; ++x)
            if (Alpha(*bitmap, left + static_cast<int>(x), top + static_cast<int>(y)) !=
                glyph.buffer[y * static_cast<unsigned>(glyph.pitch) + x])
                ++differing;
    EXPECT_EQ(differing, 0);
    // The picture is white everywhere: the drawer tints it.
    EXPECT_EQ(bitmap->Row(0)[0], 255);
    EXPECT_EQ(bitmap->Row(0)[2], 255);
}

TEST(TextRaster, WidthWithinOnePixelOfFreeTypesAdvances) {
    TTestFace face("Liberation Sans");
    ASSERT_NE(face.face(), nullptr);
    const std::u32string text = U"0123456789";
    double sum = 0.0;
    for (char32_t c : text)
        sum += face.Advance(c);
    const TTextLayout layout = LayoutText(Request({"0123456789"}));
    EXPECT_EQ(layout.fontFamily, "Liberation Sans");
    EXPECT_NEAR(layout.textWidth, sum, 1.0);
    EXPECT_EQ(layout.pictureWidth, static_cast<int>(std::ceil(layout.textWidth - 1e-6)) + 2);
    // Laid out at half the scale, everything halves.
    TTextRequest half = Request({"0123456789"});
    half.scale = 0.5;
    EXPECT_NEAR(LayoutText(half).textWidth, sum / 2.0, 1.0);
}

TEST(TextRaster, EachAlignmentPlacesTheShortLine) {
    auto shortLine = [](int align) {
        TTextLayout layout;
        TRef<TBitmap> bitmap = RenderText(Request({"MMMMMMMM", "l"}, align), &layout);
        const int top = static_cast<int>(std::ceil(1 + layout.lineHeight));
        return std::pair{InkColumns(*bitmap, top, bitmap->Height()), bitmap->Width()};
    };
    auto [left, w0] = shortLine(kTextAlignLeft);
    auto [centre, w1] = shortLine(kTextAlignCenter);
    auto [right, w2] = shortLine(kTextAlignRight);
    ASSERT_GE(left.first, 0);
    EXPECT_LT(left.first, 12);        // at the left margin (plus the glyph's bearing)
    EXPECT_GT(right.second, w2 - 12); // at the right margin
    EXPECT_NEAR((centre.first + centre.second) / 2.0, w1 / 2.0, 3.0);
    EXPECT_EQ(w0, w1);
    EXPECT_EQ(w1, w2);
}

TEST(TextRaster, LineSpacingMovesTheSecondLineByHalfALinePerHundred) {
    auto lines = [](int spacing) {
        // Thin dashes: their rows stay apart even when the lines overlap.
        TTextRequest request = Request({"--", "--"});
        request.lineSpacing = spacing;
        TTextLayout layout;
        TRef<TBitmap> bitmap = RenderText(request, &layout);
        const auto runs = InkRowRuns(*bitmap);
        EXPECT_EQ(runs.size(), 2u);
        return std::tuple{runs.size() == 2 ? runs[1].first - runs[0].first : 0, bitmap->Height(),
                          layout.lineHeight};
    };
    const auto [gap0, h0, line] = lines(0);
    const auto [gap100, h100, line2] = lines(100);
    const auto [gapMinus, hMinus, line3] = lines(-100);
    EXPECT_NEAR(gap0, line, 1.0);
    EXPECT_NEAR(gap100 - gap0, line / 2.0, 1.0);
    EXPECT_NEAR(gap0 - gapMinus, line / 2.0, 1.0);
    EXPECT_NEAR(h100 - h0, line / 2.0, 1.0);
    EXPECT_LT(hMinus, h0);
}

TEST(TextRaster, UnderlineAndStrikeOutDrawBarsAcrossTheLine) {
    TTextLayout layout;
    TRef<TBitmap> plain = RenderText(Request({"a a"}), &layout);
    TTextRequest styled = Request({"a a"});
    styled.style = kTextUnderline | kTextStrikeOut;
    TRef<TBitmap> barred = RenderText(styled);
    ASSERT_EQ(plain->Width(), barred->Width());
    // The column through the space has ink only with the bars: one run below the baseline and one
    // at the middle of the small letters.
    const int x = plain->Width() / 2;
    int plainInk = 0, rows = 0;
    for (int y = 0; y < plain->Height(); ++y) {
        plainInk += Alpha(*plain, x, y) > 64;
        rows += Alpha(*barred, x, y) > 64;
    }
    EXPECT_EQ(plainInk, 0);
    EXPECT_GE(rows, 4);
    int below = 0;
    for (int y = static_cast<int>(1 + layout.ascent) + 1; y < barred->Height(); ++y)
        below += Alpha(*barred, x, y) > 64;
    EXPECT_GT(below, 0);
    EXPECT_LT(below, rows);
}

// --- Fonts ---

TEST(TextFonts, WindowsFamiliesResolveToTheirMetricTwins) {
    EXPECT_EQ(SubstituteFontFamily("arial"), "Liberation Sans");
    EXPECT_EQ(LayoutText(Request({"x"}, 0, "Times New Roman")).fontFamily, "Liberation Serif");
    EXPECT_EQ(LayoutText(Request({"x"}, 0, "Courier New")).fontFamily, "Liberation Mono");
    TTextRequest bold = Request({"x"});
    bold.style = kTextBold;
    EXPECT_GT(LayoutText(bold).textWidth, 0.0);
}

TEST(TextFonts, AMissingFontIsReplacedWithALogLineAndStillDrawn) {
    TTextLayout layout;
    TRef<TBitmap> bitmap;
    const std::string log =
        LoggedWhile([&] { bitmap = RenderText(Request({"Hello"}, 0, "No Such Family Qzx"), &layout); });
    EXPECT_NE(log.find("Font No Such Family Qzx is not installed; "), std::string::npos) << log;
    ASSERT_NE(bitmap, nullptr);
    EXPECT_FALSE(layout.fontFamily.empty());
    EXPECT_EQ(InkRowRuns(*bitmap).size(), 1u);
}

TEST(TextFonts, FontsOfTheShowComeFirstAndBrokenOnesAreSkipped) {
    // The show "packs" DejaVu Serif under the name Arial: its advances, not Liberation Sans's, are used.
    const std::string file = SystemFontFile("DejaVu Serif");
    ASSERT_FALSE(file.empty());
    std::vector<std::uint8_t> bytes;
    {
        FILE* in = std::fopen(file.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        int c;
        while ((c = std::fgetc(in)) != EOF)
            bytes.push_back(static_cast<std::uint8_t>(c));
        std::fclose(in);
    }
    std::string askedFamily;
    const TFontBytesLoader packed = [&](const std::string& family, int) {
        askedFamily = family;
        return bytes;
    };
    EXPECT_EQ(LayoutText(Request({"x"}), &packed).fontFamily, "DejaVu Serif");
    EXPECT_EQ(askedFamily, "Arial");
    const TFontBytesLoader broken = [](const std::string&, int) {
        return std::vector<std::uint8_t>(4000, 0x5A);
    };
    TTextLayout layout;
    const std::string log =
        LoggedWhile([&] { EXPECT_NE(RenderText(Request({"x"}), &layout, &broken), nullptr); });
    EXPECT_EQ(layout.fontFamily, "Liberation Sans");
    EXPECT_NE(log.find("is not a usable font"), std::string::npos) << log;
}

TEST(TextFonts, ACharacterTheFontLacksComesFromAnotherFont) {
    TTestFace liberation("Liberation Sans");
    TTestFace dejavu("DejaVu Sans");
    ASSERT_EQ(FT_Get_Char_Index(liberation.face(), U'\u2603'), 0u) << "the snowman must be missing";
    ASSERT_NE(FT_Get_Char_Index(dejavu.face(), U'\u2603'), 0u);
    const TTextLayout layout = LayoutText(Request({"A\u2603"}));
    EXPECT_NEAR(layout.textWidth, liberation.Advance(U'A') + dejavu.Advance(U'\u2603'), 1.0);
}

// --- Scripts ---

TEST(TextScripts, HebrewRunsRightToLeftInLogicalOrder) {
    // Shin then lamed: right to left, the tall lamed stands on the left.
    TRef<TBitmap> bitmap = RenderText(Request({"\u05E9\u05DC"}));
    const auto runs = InkRowRuns(*bitmap);
    ASSERT_FALSE(runs.empty());
    const auto [first, last] = InkColumns(*bitmap, runs.front().first, runs.front().first + 3);
    ASSERT_GE(first, 0);
    EXPECT_LT(last, bitmap->Width() / 2);
}

TEST(TextScripts, ArabicJoinsAndCombiningMarksStack) {
    // Lam and alef make one ligature glyph.
    EXPECT_EQ(LayoutText(Request({"\u0644\u0627"})).glyphRects.size(), 1u);
    // A combining acute takes no room of its own.
    const TTextLayout plain = LayoutText(Request({"e"}));
    const TTextLayout accented = LayoutText(Request({"e\u0301"}));
    EXPECT_EQ(accented.glyphRects.size(), 1u);
    EXPECT_NEAR(accented.textWidth, plain.textWidth, 0.5);
    TRef<TBitmap> bitmap = RenderText(Request({"e\u0301"}));
    TRef<TBitmap> bare = RenderText(Request({"e"}));
    EXPECT_LT(InkRowRuns(*bitmap).front().first, InkRowRuns(*bare).front().first); // the accent is above
}

// Mixed directions: the glyphs' cells, left to right, draw the code points in the order of
// FriBidi's own visual map, and numbers inside right-to-left text still read left to right.
TEST(TextScripts, MixedDirectionsFollowTheVisualOrder) {
    struct TCase {
        const char* text;
        const char* digits; // the digits, when the line has a number
    } cases[] = {
        {"Hello \u05E9\u05DC\u05D5\u05DD world", nullptr},   // a Hebrew word in a Latin line
        {"abc \u0645\u0631\u062D\u0628\u0627 def", nullptr}, // an Arabic word in a Latin line
        {"\u05E9\u05DC\u05D5\u05DD world \u05E2\u05D5\u05DC\u05DD", nullptr}, // Latin inside Hebrew
        {"\u05E9\u05E0\u05EA 2024 \u05D8\u05D5\u05D1\u05D4", "2024"},         // a year inside Hebrew
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::u32string codes;
        const std::string text = c.text;
        for (std::size_t pos = 0; pos < text.size();)
            codes.push_back(DecodeUtf8(text, pos));
        const auto n = static_cast<FriBidiStrIndex>(codes.size());
        std::vector<FriBidiChar> chars(codes.begin(), codes.end());
        std::vector<FriBidiChar> visual(codes.size());
        std::vector<FriBidiStrIndex> toLogical(codes.size());
        FriBidiParType base = FRIBIDI_PAR_ON;
        ASSERT_NE(fribidi_log2vis(chars.data(), n, &base, visual.data(), nullptr, toLogical.data(), nullptr),
                  0);

        const TTextLayout layout = LayoutText(Request({text}));
        ASSERT_EQ(layout.glyphClusters.size(), codes.size());
        for (std::size_t i = 1; i < layout.glyphRects.size(); ++i)
            EXPECT_LT(layout.glyphRects[i - 1].left, layout.glyphRects[i].left);
        std::vector<std::uint32_t> expected(toLogical.begin(), toLogical.end());
        EXPECT_EQ(layout.glyphClusters, expected);
        if (c.digits) {
            const std::size_t at = text.find(c.digits);
            std::size_t first = 0; // the code point index of the number's first digit
            for (std::size_t pos = 0; pos < at; ++first)
                DecodeUtf8(text, pos);
            const auto where = std::find(layout.glyphClusters.begin(), layout.glyphClusters.end(), first);
            ASSERT_NE(where, layout.glyphClusters.end());
            for (std::size_t d = 0; d < std::strlen(c.digits); ++d)
                EXPECT_EQ(where[static_cast<std::ptrdiff_t>(d)], first + d);
        }
    }
}

// --- Caps and bad input ---

TEST(TextBadInput, AbsurdScalesAndLongTextsKeepWithinTheCaps) {
    for (double scale : {1e9, 1e6, 400.0}) {
        TTextRequest request = Request({"Huge", "text"});
        request.scale = scale;
        const TTextLayout layout = LayoutText(request);
        EXPECT_LE(layout.pictureWidth, kMaxTextSide);
        EXPECT_LE(layout.pictureHeight, kMaxTextSide);
        EXPECT_LE(static_cast<double>(layout.pictureWidth) * layout.pictureHeight, kMaxTextPixels);
        EXPECT_LT(layout.scale, scale);
    }
    for (double scale : {0.0, -3.0, std::nan("")}) {
        TTextRequest request = Request({"x"});
        request.scale = scale;
        EXPECT_DOUBLE_EQ(LayoutText(request).scale, 1.0);
    }
    TTextRequest book = Request({std::string(1 << 20, 'w')});
    TTextLayout layout;
    TRef<TBitmap> bitmap = RenderText(book, &layout);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_LE(bitmap->Width(), kMaxTextSide);
    EXPECT_LE(static_cast<double>(bitmap->Width()) * bitmap->Height(), kMaxTextPixels);
}

TEST(TextBadInput, InvalidUtf8AndLoneSurrogatesDrawReplacementGlyphs) {
    // A lone surrogate encoded as UTF-8, a truncated sequence and a stray continuation byte.
    const std::string bad = "a\xED\xA0\x80"
                            "b\xE2\x82"
                            "c\x80";
    TTextLayout layout;
    TRef<TBitmap> bitmap = RenderText(Request({bad}), &layout);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_GE(layout.glyphRects.size(), 6u);
    EXPECT_GT(layout.textWidth, LayoutText(Request({"abc"})).textWidth);
}

TEST(TextCache, GlyphsAreRenderedOnceAndTheCacheRefills) {
    ClearGlyphCache();
    EXPECT_EQ(CachedGlyphCount(), 0u);
    RenderText(Request({"abcabc"}));
    const std::size_t once = CachedGlyphCount();
    EXPECT_GE(once, 3u);
    EXPECT_LE(once, 6u); // sub-pixel phases may differ, the letters repeat
    RenderText(Request({"abcabc"}));
    EXPECT_EQ(CachedGlyphCount(), once);
    TTextRequest bigger = Request({"abcabc"});
    bigger.scale = 2.0;
    RenderText(bigger);
    EXPECT_GT(CachedGlyphCount(), once);
}

} // namespace
} // namespace kiv::test

// Text objects: their keys and content rules, macros, the raster size found by the pre-pass, what
// is handed to the drawer (tint per pointer state, shadow) and the glyph-cell hit test.
#include "ImageTestSupport.h"
#include "PictureMaker.h"
#include "objects/KivText.h"
#include "support/LogCapture.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace kiv::test {
namespace {

std::string TextObject(const std::string& guid, const std::string& keys, const std::string& inner = {}) {
    return "object " + guid + ":Text\nGUID=" + guid + "\n" + keys + inner + "end\n";
}

TKivText& TextOf(const TTestSlide& test, const std::string& guid) {
    auto* text = dynamic_cast<TKivText*>(test.Find(guid));
    EXPECT_NE(text, nullptr) << guid << " is not a text";
    return *text;
}

std::vector<TDrawCall> DrawAt(TTestSlide& test, TRecordingDrawer& drawer, double t = 0.0) {
    drawer.calls.clear();
    test.Advance(t);
    drawer.Draw(*test.slide);
    return drawer.calls;
}

// --- Macros and content ---

TEST(TextMacros, MacroNamesMatchInAnyCaseInTableOrder) {
    auto value = [](std::string_view macro) -> std::string {
        if (macro == "SlideIndex") return "3";
        if (macro == "SlidesCount") return "10";
        return {};
    };
    EXPECT_EQ(ExpandMacros("Slide <%slideindex%> of <%SlidesCount%>", value), "Slide 3 of 10");
    EXPECT_EQ(ExpandMacros("<%SLIDEINDEX%>/<%SlideIndex%>", value), "3/3");
    EXPECT_EQ(ExpandMacros("<%MainImg.IPTC.City%>", value), " "); // empty becomes one space
    EXPECT_EQ(ExpandMacros("<%Unknown%> stays", value), "<%Unknown%> stays");
    EXPECT_EQ(ExpandMacros("", value), " ");
}

TEST(TextMacros, AValueNamingItsOwnMacroEnds) {
    int asked = 0;
    auto value = [&](std::string_view macro) -> std::string {
        if (macro != "MainImg.FileName") return {};
        ++asked;
        return "<%mainimg.filename%>x";
    };
    EXPECT_EQ(ExpandMacros("a <%MainImg.FileName%> b", value), "a <%mainimg.filename%>x b");
    EXPECT_EQ(asked, 1);
}

TEST(TextMacros, PartsOfThePictureName) {
    const std::string name = "C:\\Show\\img\\Beach.jpg";
    EXPECT_EQ(PathMacroValue("MainImg.FileName", name), "Beach");
    EXPECT_EQ(PathMacroValue("MainImg.FileNameExt", name), "Beach.jpg");
    EXPECT_EQ(PathMacroValue("MainImg.PathName", name), "C:\\Show\\img\\Beach");
    EXPECT_EQ(PathMacroValue("MainImg.FolderPath", name), "C:\\Show\\img\\");
    EXPECT_EQ(PathMacroValue("MainImg.FolderName", name), "img");
    EXPECT_EQ(PathMacroValue("MainImg.PathNameExt", name), name);
    EXPECT_EQ(PathMacroValue("MainImg.FolderName", "img\\Beach.jpg"), "");
    EXPECT_EQ(PathMacroValue("MainImg.FolderPath", "Beach"), "");
    EXPECT_EQ(PathMacroValue("MainImg.FileName", "Beach"), "Beach");
}

TEST(TextContent, QuotesLineBreaksAndEmptyTexts) {
    EXPECT_EQ(TextContentLines("\"Quoted\"", false), std::vector<std::string>{"Quoted"});
    EXPECT_EQ(TextContentLines("\"", false), std::vector<std::string>{"\""});
    // Two quotes are the empty text: both go, and it shows as one space.
    EXPECT_EQ(TextContentLines("\"\"", false), std::vector<std::string>{" "});
    EXPECT_EQ(TextContentLines("\"a\"\"", false), std::vector<std::string>{"a\""});
    EXPECT_EQ(TextContentLines("one\r\ntwo\nthree", false),
              (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(TextContentLines("one\r\ntwo\nthree", true), std::vector<std::string>{"one"});
    EXPECT_EQ(TextContentLines("\n\n", false), std::vector<std::string>{" "});
    EXPECT_EQ(TextContentLines("", false), std::vector<std::string>{" "});
}

TEST(TextMacros, SlideNumbersAndTheMainPictureOfTheSlide) {
    TTestSlide test =
        MakeSlide(ImageObject("pic", "ImageName=C:\\Show\\img\\Beach.jpg\nImageIndex=0\n") +
                      TextObject("t", "Text=Slide <%slideindex%> of <%SlidesCount%>: "
                                      "<%MainImg.FileName%> <%MainImg.Width%>x<%MainImg.Height%>\n"),
                  0.0, 1600.0, 900.0, {{"C:\\Show\\img\\Beach.jpg", MakePicture("beach", 320, 200)}});
    test.host.slideCount = 10;
    test.slide->SetTimes(test.slide->Times(), 2);
    EXPECT_EQ(TextOf(test, "t").ExpandedLines(), std::vector<std::string>{"Slide 3 of 10: Beach 320x200"});
    // A later pass of a looping show counts the same slides.
    test.slide->SetTimes(test.slide->Times(), 12);
    EXPECT_EQ(TextOf(test, "t").ExpandedLines(), std::vector<std::string>{"Slide 3 of 10: Beach 320x200"});
    // Without a main picture the picture macros are empty; a text of an empty macro is a space.
    TTestSlide bare = MakeSlide(TextObject("t", "Text=<%MainImg.FileName%>\n"));
    EXPECT_EQ(TextOf(bare, "t").ExpandedLines(), std::vector<std::string>{" "});
}

// A JPEG whose EXIF and IPTC blocks are written with exiv2.
std::vector<std::uint8_t> JpegWithFacts() {
    const TBytes plain = EncodeJpeg(*MakeGradient(64, 48), 80);
    auto image = Exiv2::ImageFactory::open(plain.data(), static_cast<long>(plain.size()));
    image->readMetadata();
    image->exifData()["Exif.Image.DateTime"] = "2019:07:14 18:30:05";
    image->exifData()["Exif.Image.ImageDescription"] = "  Low tide  ";
    image->exifData()["Exif.Photo.UserComment"] = "charset=Ascii Shells everywhere ";
    image->iptcData()["Iptc.Application2.City"] = " Saint-Malo ";
    image->iptcData()["Iptc.Application2.Byline"] = "First Author";
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    io.open();
    Exiv2::DataBuf buffer = io.read(static_cast<long>(io.size()));
    io.close();
    return std::vector<std::uint8_t>(buffer.pData_, buffer.pData_ + buffer.size_);
}

TEST(TextMacros, ExifAndIptcFieldsOfTheMainPicture) {
    TTestSlide test = MakeSlide(
        ImageObject("pic", "ImageName=img\\beach.jpg\nImageIndex=1\n") +
            TextObject("t", "Text=<%MainImg.Exif.Date%>|<%MainImg.Exif.Time%>|<%MainImg.Exif.Description%>|"
                            "<%MainImg.Exif.Comment%>|<%MainImg.IPTC.City%>|<%MainImg.IPTC.AuthorByline%>|"
                            "<%MainImg.IPTC.Headline%>\n"),
        0.0, 1600.0, 900.0, {{"img\\beach.jpg", MakePicture("beach", 64, 48)}},
        {{"img\\beach.jpg", JpegWithFacts()}});
    EXPECT_EQ(
        TextOf(test, "t").ExpandedLines(),
        std::vector<std::string>{"2019:07:14|18:30:05|Low tide|Shells everywhere|Saint-Malo|First Author|"});
    // A file without readable metadata gives empty fields.
    TTestSlide broken = MakeSlide(ImageObject("pic", "ImageName=x.jpg\nImageIndex=1\n") +
                                      TextObject("t", "Text=<%MainImg.Exif.Date%><%MainImg.IPTC.City%>\n"),
                                  0.0, 1600.0, 900.0, {{"x.jpg", MakePicture("x", 8, 8)}},
                                  {{"x.jpg", std::vector<std::uint8_t>(100, 0xFF)}});
    EXPECT_EQ(TextOf(broken, "t").ExpandedLines(), std::vector<std::string>{" "});
}

// --- Keys ---

TEST(TextKeys, StylesAlignmentColoursAndComments) {
    TTestSlide test = MakeSlide(
        TextObject("a", "Text=\"Hi\"\nFontName=Courier New\nFontStyle=Bold, Underline\nTextAlign=Right\n"
                        "LineSpacing=40\nTextColor=#102030\nTextColorClick=#405060\nIsComment=1\n") +
        TextObject("b", "FontStyle=bold,Italic\nTextAlign=Middle\nIsComment=1\n") +
        TextObject("c", "Text=x\n"));
    const TKivText& a = TextOf(test, "a");
    EXPECT_EQ(a.Lines(), std::vector<std::string>{"Hi"});
    EXPECT_EQ(a.FontName(), "Courier New");
    EXPECT_EQ(a.FontStyle(), kTextBold | kTextUnderline);
    EXPECT_EQ(a.TextAlign(), kTextAlignRight);
    EXPECT_EQ(a.LineSpacing(), 40);
    EXPECT_EQ(a.TextColor() & 0xFFFFFFu, 0x102030u);
    EXPECT_EQ(a.TextColorHover(), a.TextColor());
    EXPECT_EQ(a.TextColorClick() & 0xFFFFFFu, 0x405060u);
    const TKivText& b = TextOf(test, "b");
    EXPECT_EQ(b.Lines(), std::vector<std::string>{"Text"}); // a new text reads "Text"
    EXPECT_EQ(b.FontStyle(), kTextItalic);                  // style words are case-sensitive
    EXPECT_EQ(b.TextAlign(), kTextAlignCenter);
    EXPECT_EQ(b.FontName(), "Arial");
    // The later comment text takes the mark from the earlier one.
    EXPECT_FALSE(a.IsComment());
    EXPECT_TRUE(b.IsComment());
    EXPECT_FALSE(TextOf(test, "c").IsComment());
}

// --- Size and drawing ---

TEST(TextLayout, HeightIsScalePercentOfTheParentAndTheRasterMatchesTheScreen) {
    TTestSlide test = MakeSlide(
        TextObject("t", "Text=Caption\nFitMode=None\n", Key("grps=4\nScaleX=10\nScaleY=10\n")) +
        TextObject("z", "Text=Zoom\n",
                   Key("grps=4\nScaleX=5\nScaleY=5\n") + Key("grps=4\nScaleX=40\nScaleY=40\n", 5000)));
    test.Advance(0.0);
    const TKivText& text = TextOf(test, "t");
    const auto c = text.Corners();
    EXPECT_NEAR(std::hypot(c[3].x - c[0].x, c[3].y - c[0].y), 90.0, 1e-6); // 10 % of 900
    ASSERT_NE(text.Picture(), nullptr);
    EXPECT_NEAR(text.Picture()->Height(), 90.0 + 2.0, 2.0);
    EXPECT_NEAR(text.LastRequest().scale * text.NominalSize().y, 90.0, 1e-6);
    // Rasterised for the largest keyframe, not the current one.
    const TKivText& zoom = TextOf(test, "z");
    ASSERT_NE(zoom.Picture(), nullptr);
    EXPECT_NEAR(zoom.Picture()->Height(), 360.0 + 2.0, 2.0);
    const auto z = zoom.Corners();
    EXPECT_NEAR(std::hypot(z[3].x - z[0].x, z[3].y - z[0].y), 45.0, 1e-6);
}

TEST(TextLayout, ANewNominalHeightScalesTheKeyframesSoGlyphsKeepTheirSize) {
    TTestSlide test =
        MakeSlide(TextObject("t", "Text=One\nFitMode=None\n", Key("grps=4\nScaleX=10\nScaleY=10\n")));
    test.Advance(0.0);
    TKivText& text = TextOf(test, "t");
    EXPECT_DOUBLE_EQ(text.LastRequest().ratio, 1.0); // the first request
    const double h1 = text.NominalSize().y;
    const double scale1 = text.LastRequest().scale;
    auto height = [&] {
        const auto c = text.Corners();
        return std::hypot(c[3].x - c[0].x, c[3].y - c[0].y);
    };
    EXPECT_NEAR(height(), 90.0, 1e-6);
    // Two lines: the nominal height about doubles, the keyframes follow and one line stays 90 high.
    TIniObject& root = TKivSlide::RootObject(*test.file->FindSection("Slide"));
    root.Object(0)->SetText("Text", "One\nTwo");
    TKeyframeTiming timing;
    timing.build = timing.actual = DurationsOf(test.slide->Times());
    test.slide->Build(root, timing);
    test.Advance(100.0);
    const double ratio = text.NominalSize().y / h1;
    EXPECT_GT(ratio, 1.9);
    EXPECT_DOUBLE_EQ(text.LastRequest().ratio, ratio);
    TTextRequest asked;
    ASSERT_TRUE(ParseTextPictureName(test.host.asked.back(), asked));
    EXPECT_NEAR(asked.ratio, ratio, 1e-6);
    EXPECT_DOUBLE_EQ(text.LastRequest().scale, scale1); // the glyphs are rasterised at the same size
    EXPECT_NEAR(text.Node()->KeyFrame(0).Value(kPropScaleY), 10.0 * ratio, 1e-9);
    EXPECT_NEAR(text.Value(kPropScaleX), 10.0 * ratio, 1e-4);
    EXPECT_NEAR(height(), 90.0 * ratio, 1e-3);
    // The same text again asks for nothing new and changes no scale.
    const std::size_t asks = test.host.asked.size();
    test.Advance(200.0);
    EXPECT_EQ(test.host.asked.size(), asks);
    EXPECT_NEAR(height(), 90.0 * ratio, 1e-3);
}

TEST(TextLayout, AbsurdScalesAreClampedToThePictureCaps) {
    TTestSlide test =
        MakeSlide(TextObject("t", "Text=Huge words here\n", Key("grps=4\nScaleX=900000\nScaleY=900000\n")));
    test.Advance(0.0);
    const TKivText& text = TextOf(test, "t");
    ASSERT_NE(text.Picture(), nullptr);
    EXPECT_LE(text.Picture()->Width(), kMaxTextSide);
    EXPECT_LE(text.Picture()->Height(), kMaxTextSide);
    EXPECT_LE(static_cast<double>(text.Picture()->Width()) * text.Picture()->Height(), kMaxTextPixels);
}

TEST(TextDraw, TheMaskIsTintedWithTheColourOfThePointerState) {
    TTestSlide test = MakeSlide(TextObject(
        "t", "Text=Play\nTextColor=#112233\nTextColorHover=#445566\nTextColorClick=#778899\nShadowEnable=1\n",
        Key("grps=4\nScaleX=10\nScaleY=10\n")));
    TRecordingDrawer drawer;
    auto calls = DrawAt(test, drawer);
    TKivText& text = TextOf(test, "t");
    ASSERT_EQ(calls.size(), 2u); // the shadow, then the text
    EXPECT_EQ(calls[0].image, text.ShadowPicture());
    EXPECT_EQ(calls[1].image, text.Picture());
    EXPECT_EQ(calls[1].picture.tint, 0xFF112233u);
    EXPECT_FALSE(calls[1].picture.edgeAntialias);
    text.SetPointerState(kPointerHover);
    EXPECT_EQ(DrawAt(test, drawer).back().picture.tint, 0xFF445566u);
    text.SetPointerState(kPointerClick);
    EXPECT_EQ(DrawAt(test, drawer).back().picture.tint, 0xFF778899u);
}

TEST(TextDraw, ATextCastsItsShadowUnlessItTurnsItOff) {
    TTestSlide test = MakeSlide(TextObject("t", "Text=Shade\n", Key("grps=4\nScaleX=10\nScaleY=10\n")) +
                                TextObject("n", "Text=Plain\nShadowEnable=0\n",
                                           Key("grps=4\nScaleX=10\nScaleY=10\n")));
    TRecordingDrawer drawer;
    const auto calls = DrawAt(test, drawer);
    const TKivText& shaded = TextOf(test, "t");
    const TKivText& plain = TextOf(test, "n");
    ASSERT_NE(shaded.ShadowPicture(), nullptr);
    ASSERT_EQ(calls.size(), 3u); // the shadow and the text of the first, the second text alone
    EXPECT_EQ(calls[0].image, shaded.ShadowPicture());
    EXPECT_EQ(calls[1].image, shaded.Picture());
    EXPECT_EQ(calls[2].image, plain.Picture());
}

TEST(TextDraw, TheHostIsAskedForTheTextPictureByName) {
    TTestSlide test =
        MakeSlide(TextObject("t", "Text=Named\nFontName=Arial\n", Key("grps=4\nScaleX=10\nScaleY=10\n")));
    test.Advance(0.0);
    const TKivText& text = TextOf(test, "t");
    ASSERT_FALSE(test.host.asked.empty());
    TTextRequest request;
    ASSERT_TRUE(ParseTextPictureName(test.host.asked.back(), request));
    EXPECT_EQ(request.lines, std::vector<std::string>{"Named"});
    EXPECT_EQ(request.fontName, "Arial");
    EXPECT_DOUBLE_EQ(request.scale, text.LastRequest().scale);
    // The host has no pictures here: the text renders its own, of the same size.
    ASSERT_NE(text.Picture(), nullptr);
    EXPECT_EQ(text.Picture()->Width(), LayoutText(request).pictureWidth);
}

TEST(TextHit, OnlyTheGlyphCellsAreHit) {
    TTestSlide test = MakeSlide(TextObject("t", "Text=i\\nMMMMMMMMMMMM\nLineSpacing=200\nFitMode=None\n",
                                           Key("grps=4\nScaleX=20\nScaleY=20\n")));
    test.Advance(0.0);
    TKivText& text = TextOf(test, "t");
    const auto c = text.Corners(); // the text is upright: x and y map linearly onto its picture
    const double w = c[1].x - c[0].x;
    const double h = c[3].y - c[0].y;
    auto hits = [&](double fx, double fy) {
        TVec2 local;
        return text.HitTest({c[0].x + fx * w, c[0].y + fy * h}, local);
    };
    EXPECT_TRUE(hits(0.5, 0.15));  // the short first line
    EXPECT_FALSE(hits(0.1, 0.15)); // beside it
    EXPECT_FALSE(hits(0.5, 0.5));  // between the lines
    EXPECT_TRUE(hits(0.1, 0.85));  // the long second line
    EXPECT_FALSE(hits(0.5, 1.2));  // outside the rectangle
}

TEST(TextRasterized, APictureOfTheAuthoringToolIsLaidOutAndHitAsAnImage) {
    TTestSlide test =
        MakeSlide(TextObject("t",
                             "Text=i\\nMMMMMMMMMMMM\nRasterize=1\nImageName=cap.png\nRasterizedGUID={AB}\n"
                             "LineSpacing=200\n",
                             Key("grps=4\nScaleX=10\nScaleY=10\n")),
                  0.0, 1600.0, 900.0, {{"cap.png", MakePicture("cap.png", 200, 50)}});
    test.Advance(0.0);
    TKivText& text = TextOf(test, "t");
    EXPECT_TRUE(text.Rasterize());
    EXPECT_EQ(text.RasterizedGuid(), "{AB}");
    EXPECT_EQ(test.host.asked, std::vector<std::string>{"cap.png"}); // nothing is rendered
    ASSERT_NE(text.Picture(), nullptr);
    EXPECT_EQ(text.Picture()->Width(), 200);
    // Fitted inside its parent like an image (factor 8), not to Scale.Y percent of its height.
    const auto c = text.Corners();
    EXPECT_NEAR(c[1].x - c[0].x, 160.0, 1e-6);
    EXPECT_NEAR(c[3].y - c[0].y, 40.0, 1e-6);
    // Hit anywhere inside, between its lines too.
    TVec2 local;
    EXPECT_TRUE(text.HitTest({(c[0].x + c[1].x) / 2, (c[0].y + c[3].y) / 2}, local));
    EXPECT_TRUE(text.HitTest({c[0].x + 2, c[0].y + 2}, local));
}

// A text's shadow is blurred by ShadowSize 1/400 of 1.1 × its line height (not of √(w × h) as an
// image's): three box passes of half the radius each, plus one texel, make the shadow's margin.
int ShadowMarginFor(double shadowSize, double lineHeight) {
    return 3 * static_cast<int>(std::lround(shadowSize * 1.1 * lineHeight / 400.0 / 2.0)) + 1;
}

TEST(TextShadow, TheBlurIsMeasuredAgainstTheLineHeight) {
    struct TCase {
        const char* text;
        int lines;
        int spacing;
    };
    // Rasterised: the line height is the picture's height shared out among lines and spacing.
    for (const TCase& c : {TCase{"one", 1, 0}, TCase{"a\\nb\\nc", 3, 100}, TCase{"a\\nb", 2, -200},
                           TCase{"a\\nb\\nc\\nd", 4, 400}}) {
        SCOPED_TRACE(c.text);
        TTestSlide test = MakeSlide(TextObject("t",
                                               std::string("Text=") + c.text +
                                                   "\nRasterize=1\nImageName=cap.png\nShadowEnable=1\n"
                                                   "ShadowSize=200\nLineSpacing=" +
                                                   std::to_string(c.spacing) + "\n",
                                               Key("grps=4\nScaleX=50\nScaleY=50\n")),
                                    0.0, 1600.0, 900.0, {{"cap.png", MakePicture("cap.png", 200, 120)}});
        TRecordingDrawer drawer;
        DrawAt(test, drawer);
        const TKivText& text = TextOf(test, "t");
        const double expected = 120.0 / (c.lines + (c.lines - 1) * c.spacing / 200.0);
        EXPECT_DOUBLE_EQ(text.LineHeight(), expected);
        ASSERT_NE(text.ShadowPicture(), nullptr);
        EXPECT_EQ(text.ShadowPicture()->Width(), 200 + 2 * ShadowMarginFor(200.0, expected));
    }
    // Rendered: one line of the laid-out picture (one texel of margin round it).
    TTestSlide test = MakeSlide(TextObject("t", "Text=Shadowed\\nwords\nShadowEnable=1\nShadowSize=400\n",
                                           Key("grps=4\nScaleX=20\nScaleY=20\n")));
    TRecordingDrawer drawer;
    DrawAt(test, drawer);
    const TKivText& text = TextOf(test, "t");
    ASSERT_NE(text.Picture(), nullptr);
    EXPECT_NEAR(text.LineHeight(), (text.Picture()->Height() - 2) / 2.0, 1.0);
    ASSERT_NE(text.ShadowPicture(), nullptr);
    EXPECT_EQ(text.ShadowPicture()->Height(),
              text.Picture()->Height() + 2 * ShadowMarginFor(400.0, text.LineHeight()));
}

TEST(TextBadInput, AMissingFontLogsAndStillDrawsInAnObject) {
    int width = 0;
    const std::string log = LoggedWhile([&] {
        TTestSlide test = MakeSlide(TextObject("t", "Text=Fallback\nFontName=Font Nobody Has 7\n",
                                               Key("grps=4\nScaleX=10\nScaleY=10\n")));
        test.Advance(0.0);
        if (const TImage* picture = TextOf(test, "t").Picture()) width = picture->Width();
    });
    EXPECT_NE(log.find("Font Font Nobody Has 7 is not installed"), std::string::npos) << log;
    EXPECT_GT(width, 10);
}

} // namespace
} // namespace kiv::test

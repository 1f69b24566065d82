// Buttons: the theme file, the face built from nine pieces at two widths, the HSL tint, the face
// width that holds the caption, the face per pointer state, the caption's first line and opacity,
// and the fallback to "aqua".
#include "ImageTestSupport.h"
#include "objects/Hsl.h"
#include "objects/KivButton.h"
#include "objects/KivText.h"
#include "objects/SlideProducer.h"
#include "package/MemoryStream.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace kiv::test {
namespace {

// A 120 × 48 theme: corners 18 × 18, sides 18 wide or high, the centre between.
std::string ThemeText(const std::string& prefix = "face") {
    std::string text;
    const char* states[] = {"NormalState", "HoverState", "ClickState"};
    for (int s = 0; s < 3; ++s) {
        const std::string file = prefix + std::to_string(s) + ".png";
        text += std::string("[") + states[s] + "]\n";
        text += "LeftTop=" + file + ",0,0,18,18\nTop=" + file + ",18,0,102,18\nRightTop=" + file +
                ",102,0,120,18\nRight=" + file + ",102,18,120,30\nRightBottom=" + file +
                ",102,30,120,48\nBottom=" + file + ",18,30,102,48\nLeftBottom=" + file +
                ",0,30,18,48\nLeft=" + file + ",0,18,18,30\nCenter=" + file + ",18,18,102,30\n";
    }
    return text + "[TextParams]\nColor=#1E2A3A\nBtnOffset=30\nBtnMinWidth=250\nFiltering=Bilinear\n";
}

// A picture whose pixel (x, y) reads B = x, G = y, R = `state` × 80.
TRef<TBitmap> CoordinatePicture(int state, int width = 120, int height = 48) {
    auto bitmap = MakeRef<TBitmap>(width, height, TPixelFormat::Bgra32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = bitmap->Row(y) + 4 * x;
            px[0] = static_cast<std::uint8_t>(x);
            px[1] = static_cast<std::uint8_t>(y);
            px[2] = static_cast<std::uint8_t>(state * 80);
            px[3] = 255;
        }
    return bitmap;
}

std::pair<int, int> SourceOf(const TBitmap& face, int x, int y) {
    const std::uint8_t* px = face.Row(y) + 4 * x;
    return {px[0], px[1]};
}

TEST(ButtonTheme, TheFileGivesPiecesSizeAndCaptionParameters) {
    TButtonTheme theme;
    ASSERT_TRUE(ParseButtonTheme(ThemeText() + "[ClickState]\nTop=x.png,1,zz,3,-4\n", theme));
    EXPECT_EQ(theme.width0, 120);
    EXPECT_EQ(theme.height, 48);
    EXPECT_EQ(theme.pieces[1][kPieceCenter].file, "face1.png");
    EXPECT_EQ(theme.pieces[0][kPieceRightBottom].left, 102);
    EXPECT_EQ(theme.color & 0xFFFFFFu, 0x1E2A3Au);
    EXPECT_DOUBLE_EQ(theme.btnOffset, 30.0);
    EXPECT_DOUBLE_EQ(theme.btnMinWidth, 250.0);
    EXPECT_EQ(theme.filtering, 1);
    TButtonTheme none;
    EXPECT_FALSE(ParseButtonTheme("[TextParams]\nColor=#000000\n", none));
}

TEST(ButtonTheme, InvalidNumbersCountAsZero) {
    TButtonTheme theme;
    ASSERT_TRUE(ParseButtonTheme("[NormalState]\nTop=x.png,1,zz,3,-4\nBottom=y.png\n", theme));
    const TButtonPiece& top = theme.pieces[0][kPieceTop];
    EXPECT_EQ(top.file, "x.png");
    EXPECT_EQ(top.left, 1);
    EXPECT_EQ(top.top, 0);
    EXPECT_EQ(top.right, 3);
    EXPECT_EQ(top.bottom, 0);
    EXPECT_EQ(theme.height, 0);
}

TEST(ButtonFace, PiecesKeepTheirPixelsAndTheMiddleRepeatsOneColumn) {
    TButtonTheme theme;
    ASSERT_TRUE(ParseButtonTheme(ThemeText(), theme));
    auto pieces = [](const std::string& file) { return CoordinatePicture(file[4] - '0'); };
    std::string bad;
    // At the theme's own width the sides and corners are the picture's; the top, bottom and centre
    // repeat their pieces' left column.
    TRef<TBitmap> same = BuildButtonFace(theme, 0, 120, pieces, bad);
    ASSERT_NE(same, nullptr);
    for (int y = 0; y < 48; y += 5)
        for (int x = 0; x < 120; x += 7)
            EXPECT_EQ(SourceOf(*same, x, y), std::pair(x < 18 || x >= 102 ? x : 18, y)) << x << "," << y;
    // Twice as wide: corners and sides keep their pixels, moved right; the middle repeats a column.
    TRef<TBitmap> wide = BuildButtonFace(theme, 2, 240, pieces, bad);
    ASSERT_NE(wide, nullptr);
    ASSERT_EQ(wide->Width(), 240);
    ASSERT_EQ(wide->Height(), 48);
    EXPECT_EQ(wide->Row(0)[2], 160);                         // the click state's picture
    EXPECT_EQ(SourceOf(*wide, 5, 5), std::pair(5, 5));       // left top
    EXPECT_EQ(SourceOf(*wide, 230, 3), std::pair(110, 3));   // right top, moved right by 120
    EXPECT_EQ(SourceOf(*wide, 239, 47), std::pair(119, 47)); // right bottom
    EXPECT_EQ(SourceOf(*wide, 3, 40), std::pair(3, 40));     // left bottom
    EXPECT_EQ(SourceOf(*wide, 125, 4), std::pair(18, 4));    // top: its left column
    EXPECT_EQ(SourceOf(*wide, 200, 44), std::pair(18, 44));  // bottom: its left column
    EXPECT_EQ(SourceOf(*wide, 150, 25), std::pair(18, 25));  // centre: its left column
    EXPECT_EQ(SourceOf(*wide, 225, 25), std::pair(105, 25)); // right side, moved
    EXPECT_EQ(SourceOf(*wide, 10, 25), std::pair(10, 25));   // left side in place
}

TEST(ButtonFace, AMissingOrMisSizedPieceNamesTheFile) {
    TButtonTheme theme;
    ASSERT_TRUE(ParseButtonTheme(ThemeText(), theme));
    std::string bad;
    EXPECT_EQ(BuildButtonFace(
                  theme, 0, 200, [](const std::string&) { return TRef<TBitmap>{}; }, bad),
              nullptr);
    EXPECT_EQ(bad, "face0.png");
    bad.clear();
    EXPECT_EQ(BuildButtonFace(
                  theme, 1, 200, [](const std::string&) { return CoordinatePicture(1, 100, 48); }, bad),
              nullptr);
    EXPECT_EQ(bad, "face1.png");
}

TEST(ButtonFace, TheTintShiftsHueSaturationAndLightness) {
    auto pixel = [](int r, int g, int b) {
        auto bitmap = MakeRef<TBitmap>(1, 1, TPixelFormat::Bgra32);
        std::uint8_t* px = bitmap->Row(0);
        px[0] = static_cast<std::uint8_t>(b);
        px[1] = static_cast<std::uint8_t>(g);
        px[2] = static_cast<std::uint8_t>(r);
        px[3] = 77;
        return bitmap;
    };
    TRef<TBitmap> white = pixel(200, 40, 40);
    TintButtonFace(*white, 0, 0, 100);
    EXPECT_EQ(white->Row(0)[2], 255);
    EXPECT_EQ(white->Row(0)[1], 255);
    EXPECT_EQ(white->Row(0)[3], 77); // alpha stays
    TRef<TBitmap> turned = pixel(200, 40, 40);
    TintButtonFace(*turned, 360, 0, 0); // a whole turn wraps back
    const THslColor before = RgbToHsl(200, 40, 40);
    const THslColor after = RgbToHsl(turned->Row(0)[2], turned->Row(0)[1], turned->Row(0)[0]);
    EXPECT_NEAR(after.h, before.h, 1);
    TRef<TBitmap> grey = pixel(200, 40, 40);
    TintButtonFace(*grey, 0, -100, 0);
    EXPECT_EQ(grey->Row(0)[0], grey->Row(0)[2]);
    EXPECT_EQ(grey->Row(0)[1], grey->Row(0)[2]);
}

TEST(ButtonFace, WidthHoldsTheCaption) {
    EXPECT_EQ(ButtonFaceWidth(48, 250, 100, 30, 0.5), 120);         // the minimum width wins
    EXPECT_EQ(ButtonFaceWidth(48, 250, 100, 30, 4.0), 34 * 4 + 48); // the caption: (48 − 14) × 4 + 48
    EXPECT_EQ(ButtonFaceWidth(48, 0, 0, 0, 0.0), 48);               // never narrower than high
    EXPECT_GT(ButtonFaceWidth(48, std::nan(""), 1e300, 0, 1e300), 0);
}

// --- Button objects ---

std::map<std::string, TRef<TImage>> ThemePictures(const std::string& folder) {
    std::map<std::string, TRef<TImage>> pictures;
    for (int s = 0; s < 3; ++s) {
        const std::string name = folder + "face" + std::to_string(s) + ".png";
        pictures[name] = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>(name, CoordinatePicture(s)));
    }
    return pictures;
}

// The caption casts no shadow here, so that the draws counted are the face's and the caption's.
std::string CaptionObject(const std::string& text) {
    return "object c:Text\nGUID=c\nShadowEnable=0\nText=" + text + "\n" + Key("ScaleX=70\nScaleY=70\ngrps=4\n") + "end\n";
}

// A slide whose host holds the theme `themeFolder` (the show's button path is empty here).
TTestSlide ButtonSlide(const std::string& objects, const std::string& themeFolder) {
    const std::string text = ThemeText();
    return MakeSlide(objects, 0.0, 1600.0, 900.0, ThemePictures(themeFolder + "\\"),
                     {{themeFolder + "\\btn.ini", std::vector<std::uint8_t>(text.begin(), text.end())}});
}

std::vector<TDrawCall> DrawButton(TTestSlide& test, TRecordingDrawer& drawer) {
    drawer.calls.clear();
    test.Advance(0.0);
    drawer.Draw(*test.slide);
    return drawer.calls;
}

TEST(ButtonObject, TheFaceHoldsTheCaptionAndFollowsThePointer) {
    TTestSlide test = ButtonSlide("object b:Button\nGUID=b\nTheme=glass\nBtnOpacity=50\n" +
                                      CaptionObject("Play\\nsecond line") +
                                      Key("grps=5\nOpacity=80\nScaleX=10\nScaleY=10\n") + "end\n",
                                  "glass");
    auto* button = dynamic_cast<TKivButton*>(test.Find("b"));
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->HasTheme());
    TKivText* caption = button->Caption();
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->Lines(), std::vector<std::string>{"Play"}); // a caption keeps its first line
    TRecordingDrawer drawer;
    auto calls = DrawButton(test, drawer);
    const TVec2 nominal = caption->NominalSize();
    const int expected = ButtonFaceWidth(48, 250, 100, 30, nominal.x / nominal.y);
    EXPECT_EQ(button->FaceWidth(), expected);
    ASSERT_NE(button->Picture(), nullptr);
    EXPECT_EQ(button->Picture()->Width(), expected);
    EXPECT_EQ(button->Picture()->Height(), 48);
    // Its height on screen is Scale.Y percent of its parent's, whatever its FitMode.
    const auto c = button->Corners();
    EXPECT_NEAR(std::hypot(c[3].x - c[0].x, c[3].y - c[0].y), 90.0, 1e-6);
    EXPECT_NEAR(std::hypot(c[1].x - c[0].x, c[1].y - c[0].y), 90.0 * expected / 48.0, 1e-6);
    // The face at 80 % × 50 %, the caption at its own 100 % × the button's 80 %.
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].image, button->Face(0));
    EXPECT_FLOAT_EQ(calls[0].opacity, 40.0f);
    EXPECT_EQ(calls[1].image, caption->Picture());
    EXPECT_FLOAT_EQ(calls[1].opacity, 80.0f);
    // The hover and click faces come from their own pieces.
    button->SetPointerState(kPointerHover);
    calls = DrawButton(test, drawer);
    ASSERT_FALSE(calls.empty());
    ASSERT_NE(button->Face(1), nullptr);
    EXPECT_EQ(calls[0].image, button->Face(1));
    EXPECT_EQ(button->Face(1)->Store().GetMipLevel(0, TPixelFormat::Bgra32)->Row(0)[2], 80);
    button->SetPointerState(kPointerClick);
    calls = DrawButton(test, drawer);
    EXPECT_EQ(calls.at(0).image, button->Face(2));
}

TEST(ButtonObject, TheCaptionTakesTheButtonsClicksAndShowsItsState) {
    TTestSlide test = ButtonSlide("object b:Button\nGUID=b\nTheme=glass\nAction=nextslide\n"
                                  "object c:Text\nGUID=c\nText=MMM\nTextColor=#102030\nTextColorHover=#405060\n"
                                  "TextColorClick=#708090\nShadowEnable=0\n" +
                                      Key("ScaleX=70\nScaleY=70\ngrps=4\n") + "end\n" +
                                      Key("grps=5\nOpacity=100\nScaleX=30\nScaleY=30\n") + "end\n",
                                  "glass");
    auto* button = dynamic_cast<TKivButton*>(test.Find("b"));
    ASSERT_NE(button, nullptr);
    TKivText* caption = button->Caption();
    ASSERT_NE(caption, nullptr);
    TRecordingDrawer drawer;
    DrawButton(test, drawer);
    ASSERT_FALSE(test.slide->IsChanged());
    // The middle of the slide is the middle glyph of the caption, which lies over the face.
    const TVec2 middle{800, 450};
    TVec2 local;
    ASSERT_TRUE(caption->HitTest(middle, local));
    TSlideMouseResult r = test.slide->HandleMouse(0, middle, kMouseMove, 0);
    EXPECT_EQ(r.object, button);
    EXPECT_EQ(button->PointerState(), kPointerHover);
    // A new state is a change to draw, even with the clock standing; the same state again is not.
    EXPECT_TRUE(test.slide->IsChanged());
    auto calls = DrawButton(test, drawer);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].image, button->Face(1));
    EXPECT_EQ(calls[1].picture.tint, 0xFF405060u);
    test.slide->HandleMouse(0, middle, kMouseMove, 0);
    EXPECT_FALSE(test.slide->IsChanged());
    // Press and release on the glyphs: the button's click, the caption in the click colour meanwhile.
    test.slide->HandleMouse(0, middle, kMousePress, kMouseLeftButton);
    calls = DrawButton(test, drawer);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].image, button->Face(2));
    EXPECT_EQ(calls[1].picture.tint, 0xFF708090u);
    r = test.slide->HandleMouse(0, middle, kMouseRelease, kMouseLeftButton);
    EXPECT_TRUE(r.fired);
    EXPECT_EQ(r.action, "nextslide");
    // Off the button, both return to normal.
    test.slide->HandleMouse(0, {5, 5}, kMouseMove, 0);
    EXPECT_EQ(button->PointerState(), kPointerNormal);
    EXPECT_EQ(caption->PointerState(), kPointerNormal);
    EXPECT_EQ(DrawButton(test, drawer).at(1).picture.tint, 0xFF102030u);
}

TEST(ButtonObject, AMissingThemeFallsBackToAquaThenToNoFace) {
    std::string log = LoggedWhile([] {
        TTestSlide test = ButtonSlide("object b:Button\nGUID=b\nTheme=gone\n" + CaptionObject("Go") +
                                          Key("grps=4\nScaleX=10\nScaleY=10\n") + "end\n",
                                      "aqua");
        auto* button = dynamic_cast<TKivButton*>(test.Find("b"));
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->HasTheme());
        TRecordingDrawer drawer;
        EXPECT_EQ(DrawButton(test, drawer).size(), 2u);
    });
    EXPECT_NE(log.find("Button theme gone is missing; aqua is used"), std::string::npos) << log;
    TTestSlide bare = ButtonSlide("object b:Button\nGUID=b\nTheme=gone\n" + CaptionObject("Go") +
                                      Key("grps=4\nScaleX=10\nScaleY=10\n") + "end\n",
                                  "other");
    auto* button = dynamic_cast<TKivButton*>(bare.Find("b"));
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->HasTheme());
    EXPECT_EQ(button->Picture(), nullptr);
    // Without a face the button has no size, and nothing is drawn.
    TRecordingDrawer drawer;
    EXPECT_TRUE(DrawButton(bare, drawer).empty());
}

TEST(ButtonObject, ABrokenPieceShowsWhichFileIsWrong) {
    const std::string text = ThemeText("bad");
    TTestSlide test = MakeSlide(
        "object b:Button\nGUID=b\nTheme=glass\n" + Key("grps=4\nScaleX=10\nScaleY=10\n") + "end\n", 0.0,
        1600.0, 900.0, {}, {{"glass\\btn.ini", std::vector<std::uint8_t>(text.begin(), text.end())}});
    auto* button = dynamic_cast<TKivButton*>(test.Find("b"));
    ASSERT_NE(button, nullptr);
    test.Advance(0.0);
    ASSERT_NE(button->Picture(), nullptr);
    // A text picture "Incorrect Image: bad0.png" stands in, wider than high.
    EXPECT_GT(button->Picture()->Width(), button->Picture()->Height() * 5);
}

TEST(ButtonObject, TheThemeSetsFilteringCaptionColourAndOffset) {
    // The theme's colour stands for the caption's colour keys that are missing, and its offset sets
    // the caption's scale; the button's Filtering key wins over the theme's.
    const std::string caption =
        "object c:Text\nGUID=c\nShadowEnable=0\nText=Go\n" + Key("ScaleX=55\nScaleY=55\ngrps=4\n") + "end\n";
    const std::string own = "object o:Text\nGUID=o\nShadowEnable=0\nText=Go\nTextColorHover=#00FF00\n" +
                            Key("ScaleX=70\nScaleY=70\ngrps=4\n") + "end\n";
    TTestSlide test = ButtonSlide("object b:Button\nGUID=b\nTheme=glass\nMipLodBias=3\n" + caption +
                                      Key("grps=4\nScaleX=10\nScaleY=10\n") + "end\n" +
                                      "object n:Button\nGUID=n\nTheme=glass\nFiltering=Nearest\n" + own +
                                      Key("grps=4\nScaleY=10\n") + "end\n",
                                  "glass");
    auto* button = dynamic_cast<TKivButton*>(test.Find("b"));
    ASSERT_NE(button, nullptr);
    TKivText* text = button->Caption();
    ASSERT_NE(text, nullptr);
    for (std::uint32_t color : {text->TextColor(), text->TextColorHover(), text->TextColorClick()})
        EXPECT_EQ(color & 0xFFFFFFu, 0x1E2A3Au);
    EXPECT_DOUBLE_EQ(text->Node()->KeyFrame(0).Value(kPropScaleX), 70.0); // 100 − BtnOffset 30
    EXPECT_DOUBLE_EQ(text->Node()->KeyFrame(0).Value(kPropScaleY), 70.0);
    const auto* other = dynamic_cast<TKivText*>(test.Find("o"));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->TextColor() & 0xFFFFFFu, 0x1E2A3Au);
    EXPECT_EQ(other->TextColorHover() & 0xFFFFFFu, 0x00FF00u);
    EXPECT_EQ(other->TextColorClick() & 0xFFFFFFu, 0x1E2A3Au);
    TRecordingDrawer drawer;
    const auto calls = DrawButton(test, drawer);
    auto callOf = [&](const std::string& guid) {
        for (const TDrawCall& call : calls)
            if (call.guid == guid && call.op == "DrawImage") return call;
        ADD_FAILURE() << "no picture drawn for " << guid;
        return TDrawCall{};
    };
    EXPECT_EQ(callOf("b").picture.filtering, 1); // the theme's Bilinear
    EXPECT_FLOAT_EQ(callOf("b").picture.lodBias, 0.0f);
    EXPECT_EQ(callOf("n").picture.filtering, 0);
    EXPECT_EQ(callOf("c").picture.tint, 0xFF1E2A3Au);
}

// A show's files in memory.
class TMemoryFiles final : public TFileSource {
public:
    std::map<std::string, std::string> files;
    TRef<TStream> Open(const std::string& name) override {
        const auto found = files.find(name);
        if (found == files.end()) return nullptr;
        auto stream = MakeRef<TMemoryStream>();
        stream->Write(found->second.data(), static_cast<std::int32_t>(found->second.size()));
        stream->SetPosition(0);
        return stream;
    }

protected:
    ~TMemoryFiles() override = default;
};

TEST(ButtonObject, EqualFacesAreMadeOnceAndSharedThroughTheShow) {
    auto files = MakeRef<TMemoryFiles>();
    files->files["glass\\btn.ini"] = ThemeText();
    static int piecesMade = 0;
    piecesMade = 0;
    TRef<TCallbackHandle> pieces = files->AddPictureProvider(
        [](void*, const std::string& name) -> TRef<TRefObject> {
            for (int s = 0; s < 3; ++s)
                if (name == "glass\\face" + std::to_string(s) + ".png") {
                    ++piecesMade;
                    return MakeRef<TWrapperBitmapStore>(name, CoordinatePicture(s));
                }
            return nullptr;
        },
        nullptr);
    TKivSlideHost host(MakeRef<TFileAccessor>(files), [] { return TVec3{800, 450, -900}; });
    auto button = [](const std::string& guid, const std::string& keys) {
        return "object " + guid + ":Button\nGUID=" + guid + "\nTheme=glass\n" + keys + "object " + guid +
               "t:Text\nGUID=" + guid + "t\nText=Go\n" + Key("ScaleX=70\nScaleY=70\ngrps=4\n") + "end\n" +
               Key("grps=4\nScaleX=10\nScaleY=10\n") + "end\n";
    };
    auto file = MakeRef<TIniFile>();
    file->LoadFromText("[Slide]\nobject Container:Root\nGUID=root\n" + button("a", "") + button("b", "") +
                       button("c", "Hue=40\n") + button("d", "BtnMinWidth=400\n") + "end\n");
    auto slide = MakeRef<TKivSlide>(&host, 0);
    slide->SetSize(1600, 900);
    slide->SetCentre({800, 450});
    TSlideInfo times;
    times.sync = 9000;
    times.end = 10000;
    slide->SetTimes(times, 0);
    TKeyframeTiming timing;
    timing.build = timing.actual = DurationsOf(times);
    slide->Build(TKivSlide::RootObject(*file->FindSection("Slide")), timing);
    slide->Advance(true, 0.0);
    auto face = [&](const std::string& guid) {
        auto* b = dynamic_cast<TKivButton*>(TTestSlide::Find(*slide, guid));
        EXPECT_NE(b, nullptr);
        return b && b->Picture() ? &b->Picture()->Store() : nullptr;
    };
    ASSERT_NE(face("a"), nullptr);
    EXPECT_EQ(face("a"), face("b")); // one theme, one size: one picture
    EXPECT_NE(face("a"), face("c")); // another tint
    EXPECT_NE(face("a"), face("d")); // another width
    EXPECT_EQ(face("d")->Width(), 192);
    EXPECT_EQ(face("a")->Name(), ButtonFaceName({"glass", 0, 120, 0, 0, 0}));
    TButtonProducer* producer = host.ButtonProducer("GLASS");
    ASSERT_NE(producer, nullptr);
    EXPECT_EQ(producer, host.ButtonProducer("glass"));
    EXPECT_EQ(producer->FacesMade(), 3);
    EXPECT_EQ(piecesMade, 1); // the normal state's picture, decoded once for all faces
    // The face's name comes back whole, a theme holding ":" too.
    TButtonFaceKey key;
    ASSERT_TRUE(ParseButtonFaceName(ButtonFaceName({"a:b", 2, 300, -5, 6, -7}), key));
    EXPECT_EQ(key.theme, "a:b");
    EXPECT_EQ(std::tie(key.state, key.width, key.hue, key.saturation, key.lightness),
              std::make_tuple(2, 300, -5, 6, -7));
    EXPECT_FALSE(ParseButtonFaceName("Button: glass:0:x:0:0:0", key));
}

} // namespace
} // namespace kiv::test

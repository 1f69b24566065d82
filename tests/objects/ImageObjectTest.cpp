// Image objects: the shown part of the picture (aspect, zoom, pan, crop, border), sprite frames,
// picture levels from the pre-pass, what is handed to the drawer (shadow, border, picture, colour
// grading) and bad input (missing pictures, absurd values, pictures too large to exist).
#include "ImageTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace kiv::test {
namespace {

constexpr double kEps = 1e-4;

void ExpectRect(const TRectF& r, double left, double top, double right, double bottom) {
    EXPECT_NEAR(r.left, left, kEps);
    EXPECT_NEAR(r.top, top, kEps);
    EXPECT_NEAR(r.right, right, kEps);
    EXPECT_NEAR(r.bottom, bottom, kEps);
}

void ExpectPoint(TVec3 actual, double x, double y, double eps = kEps) {
    EXPECT_NEAR(actual.x, x, eps);
    EXPECT_NEAR(actual.y, y, eps);
}

std::map<std::string, TRef<TImage>> Pictures(std::initializer_list<TRef<TImage>> list) {
    std::map<std::string, TRef<TImage>> pictures;
    for (const TRef<TImage>& picture : list)
        pictures[picture->Name()] = picture;
    return pictures;
}

TTestSlide ImageSlide(const std::string& objects, std::initializer_list<TRef<TImage>> pictures) {
    return MakeSlide(objects, 0.0, 1600.0, 900.0, Pictures(pictures));
}

std::vector<TDrawCall> DrawSlide(TTestSlide& test, TRecordingDrawer& drawer, double t = 0.0) {
    drawer.calls.clear();
    test.Advance(t);
    drawer.Draw(*test.slide);
    return drawer.calls;
}

// --- The shown part of the picture ---

TEST(ImageContent, AspectZoomAndPanPickThePartShown) {
    const auto wide = [] { return MakePicture("wide.png", 1000, 500); };
    const std::string keys = "ImageName=wide.png\nEnableAspect=1\nAspect=1\n";
    TTestSlide square = ImageSlide(ImageObject("a", keys), {wide()});
    ExpectRect(ImageOf(square, "a").Content(), 250, 0, 750, 500);
    EXPECT_NEAR(square.Find("a")->Size().x, 500, kEps);
    EXPECT_NEAR(square.Find("a")->Size().y, 500, kEps);

    TTestSlide zoomed = ImageSlide(ImageObject("a", keys, Key("Zoom=200\n")), {wide()});
    ExpectRect(ImageOf(zoomed, "a").Content(), 375, 125, 625, 375);

    TTestSlide panned = ImageSlide(ImageObject("a", keys, Key("Zoom=200\nOffsX=100\n")), {wide()});
    ExpectRect(ImageOf(panned, "a").Content(), 750, 125, 1000, 375);

    // Zooming out shows no more than the whole base rectangle.
    TTestSlide out = ImageSlide(ImageObject("a", keys, Key("Zoom=50\n")), {wide()});
    ExpectRect(ImageOf(out, "a").Content(), 250, 0, 750, 500);

    // Without any of the three the whole picture is shown; an aspect wider than the picture
    // keeps the full width.
    TTestSlide plain = ImageSlide(ImageObject("a", "ImageName=wide.png\nAspect=1\n"), {wide()});
    ExpectRect(ImageOf(plain, "a").Content(), 0, 0, 1000, 500);
    TTestSlide wider =
        ImageSlide(ImageObject("a", "ImageName=wide.png\nEnableAspect=1\nAspect=4\n"), {wide()});
    ExpectRect(ImageOf(wider, "a").Content(), 0, 125, 1000, 375);
}

TEST(ImageContent, BorderInsetsThePictureAndGrowsTheObject) {
    TTestSlide test = ImageSlide(ImageObject("a", "ImageName=wide.png\nEnableBorder=1\nBorderWidth=1.5\n"
                                                  "BorderColor=#FF0000\n"),
                                 {MakePicture("wide.png", 1000, 500)});
    const TKivImage& image = ImageOf(test, "a");
    EXPECT_NEAR(image.BorderInset(), 7.5, kEps);
    EXPECT_NEAR(image.Size().x, 1015, kEps);
    EXPECT_NEAR(image.Size().y, 515, kEps);

    TRecordingDrawer drawer;
    const auto calls = DrawSlide(test, drawer);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].op, "DrawBorder");
    EXPECT_EQ(calls[1].op, "DrawImage");
    EXPECT_FLOAT_EQ(calls[0].widthX, 7.5f);
    EXPECT_NEAR(calls[0].size.x, 1000, kEps);
    EXPECT_NEAR(calls[0].size.y, 500, kEps);
    EXPECT_EQ(calls[0].color, 0xFFFF0000u);

    // The picture's corners land the border's width inside the object's corners.
    const double k = image.Scale().x;
    const auto corners = image.Corners();
    ExpectPoint(calls[1].Map(0, 0), corners[0].x + 7.5 * k, corners[0].y + 7.5 * k);
    ExpectPoint(calls[1].Map(1000, 500), corners[2].x - 7.5 * k, corners[2].y - 7.5 * k);
    // The border's inner rectangle is the picture's.
    ExpectPoint(calls[0].Map(0, 0), corners[0].x + 7.5 * k, corners[0].y + 7.5 * k);
}

TEST(ImageContent, CropAndSliversStayInsideThePicture) {
    TBorderParams params;
    float inset = -1.0f;
    params.enableCrop = true;
    params.cropRect = {10, 20, 30, 40};
    ExpectRect(ImageContentRect(1000, 500, params, inset), 100, 100, 700, 300);
    EXPECT_EQ(inset, 0.0f);

    // Cropping everything away leaves one texel at the edge it was cut towards.
    params.cropRect = {100, 0, 0, 0};
    ExpectRect(ImageContentRect(1000, 500, params, inset), 999, 0, 1000, 500);
    params.cropRect = {0, 0, 100, 0};
    ExpectRect(ImageContentRect(1000, 500, params, inset), 0, 0, 1, 500);
    // Beyond 100 % both ways nothing is left: the whole picture is used.
    params.cropRect = {300, 0, 300, 0};
    ExpectRect(ImageContentRect(1000, 500, params, inset), 0, 0, 1000, 500);

    // The border is measured on the visible height before cropping.
    params.cropRect = {0, 50, 0, 0};
    params.enableBorder = true;
    params.borderWidth = 10;
    ExpectRect(ImageContentRect(1000, 500, params, inset), 0, 250, 1000, 500);
    EXPECT_FLOAT_EQ(inset, 50.0f);
}

TEST(ImageContent, AbsurdValuesAreClampedNeverNotANumber) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    float inset = 0.0f;
    TBorderParams params;
    params.zoom = nan;
    ExpectRect(ImageContentRect(1000, 500, params, inset), 0, 0, 1000, 500);
    params.zoom = 1e-9f; // a zoom out of range counts as none
    ExpectRect(ImageContentRect(1000, 500, params, inset), 0, 0, 1000, 500);
    // A pan that is not a number counts as −100: the left edge.
    params.zoom = 50;
    params.panX = nan;
    params.panY = 1e9f;
    ExpectRect(ImageContentRect(1000, 500, params, inset), 0, 250, 500, 500);
    params = TBorderParams{};
    params.enableCrop = true;
    params.cropRect = {nan, inf, -inf, 0};
    params.enableBorder = true;
    params.borderWidth = inf;
    const TRectF r = ImageContentRect(1000, 500, params, inset);
    EXPECT_TRUE(std::isfinite(r.left) && std::isfinite(r.right) && std::isfinite(r.top) &&
                std::isfinite(r.bottom));
    EXPECT_GE(r.left, 0.0f);
    EXPECT_LE(r.right, 1000.0f);
    EXPECT_TRUE(std::isfinite(inset));
    EXPECT_TRUE(ImageContentRect(0, 500, params, inset).IsEmpty());
}

// --- Sprite sheets ---

TEST(ImageSprites, CellsFollowTheIntervalsAndStopAfterTheRepetitions) {
    TTestSlide test =
        ImageSlide(ImageObject("s", "ImageName=sheet.png\nAnimEnable=1\nAnimColumns=4\nAnimRows=2\n"
                                    "AnimCount=8\nAnimInterval=100\nAnimRepCount=1\n"
                                    "EnableBorder=1\n"),
                   {MakePicture("sheet.png", 400, 200)});
    const TKivImage& sprite = ImageOf(test, "s");
    const std::pair<double, int> expected[] = {{0, 0},   {150, 1}, {450, 4}, {700, 6},
                                               {701, 7}, {800, 7}, {900, 7}, {5000, 7}};
    for (const auto& [t, frame] : expected) {
        test.Advance(t);
        EXPECT_EQ(sprite.Frame(), frame) << "at " << t << " ms";
    }
    // The sheet's size is one cell; cell 4 is column 0 of row 1, in the pattern's cell layout.
    EXPECT_NEAR(sprite.Size().x, 100, kEps);
    EXPECT_NEAR(sprite.Size().y, 100, kEps);
    TRecordingDrawer drawer;
    const auto calls = DrawSlide(test, drawer, 450);
    ASSERT_EQ(calls.size(), 1u) << "a sprite sheet draws no border";
    EXPECT_TRUE(calls[0].picture.pattern);
    EXPECT_EQ(calls[0].picture.patternA, 4);
    EXPECT_EQ(calls[0].picture.patternB, 2);
    EXPECT_FALSE(calls[0].picture.edgeAntialias);
    ExpectRect(calls[0].picture.sourceRect, 1, 103, 101, 203);
}

TEST(ImageSprites, EndlessAnimationsWrapAndIntervalsAreRead) {
    TImageAnimationParams anim;
    anim.columns = 3;
    anim.rows = 1;
    anim.count = 3;
    anim.durations = ReadAnimIntervals("50, 0,junk", 3); // 50, then below 1 and unreadable give 100
    EXPECT_EQ(anim.durations, (std::vector<int>{50, 100, 100}));
    EXPECT_EQ(SpriteFrameAt(anim, 50), 0);
    EXPECT_EQ(SpriteFrameAt(anim, 51), 1);
    EXPECT_EQ(SpriteFrameAt(anim, 250), 2);
    EXPECT_EQ(SpriteFrameAt(anim, 251), 0) << "endless: the second pass";
    EXPECT_EQ(SpriteFrameAt(anim, 1e300), 0) << "huge times stay in range";
    EXPECT_EQ(SpriteFrameAt(anim, std::numeric_limits<double>::quiet_NaN()), 0);
    anim.count = 0;
    EXPECT_EQ(SpriteFrameAt(anim, 120), 0);
    anim.count = 9; // more frames than cells: the cells count
    anim.durations = ReadAnimIntervals("", 3);
    EXPECT_EQ(anim.durations, (std::vector<int>{100, 100, 100}));
    EXPECT_EQ(SpriteFrameAt(anim, 250), 2);
    EXPECT_EQ(ReadAnimIntervals("20,30", 4), (std::vector<int>{20, 30, 30, 30})) << "the last repeats";

    // The offset delays the animation; a GIF is asked for as a frame atlas.
    TTestSlide test = ImageSlide(ImageObject("s", "ImageName=spin.gif\nAnimEnable=1\nAnimColumns=2\n"
                                                  "AnimCount=2\nAnimOffset=1000\nAnimColumns=1000000000\n"),
                                 {MakePicture("spin.gif|framesatlas", 200, 100)});
    EXPECT_EQ(test.host.asked.front(), "spin.gif|framesatlas");
    const TKivImage& sprite = ImageOf(test, "s");
    EXPECT_EQ(sprite.Animation().columns, 4096) << "absurd grids are clamped";
    test.Advance(1050);
    EXPECT_EQ(sprite.Frame(), 0);
    test.Advance(1150);
    EXPECT_EQ(sprite.Frame(), 1);
}

// --- Picture levels ---

TEST(ImageLevels, TheSmallestCopyLargerThanFourThirdsOfTheLargestSizeOnScreen) {
    EXPECT_EQ(PictureLevelFor({500, 400}, {0, 0, 4000, 3200}), 2);
    EXPECT_EQ(PictureLevelFor({1000, 800}, {0, 0, 4000, 3200}), 1);
    EXPECT_EQ(PictureLevelFor({3000, 2400}, {0, 0, 4000, 3200}), 0);
    EXPECT_EQ(PictureLevelFor({5000, 4000}, {0, 0, 4000, 3200}), 0);
    EXPECT_EQ(PictureLevelFor({}, {0, 0, 4000, 3200}), 0) << "no pre-pass yet";
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(PictureLevelFor({nan, nan}, {0, 0, 4000, 3200}), 0);
    EXPECT_EQ(PictureLevelFor({0.001, 0.001}, {0, 0, 30000, 30000}), 14) << "down to one texel";
}

TEST(ImageLevels, ThePrePassChoosesFromTheLargestKeyframe) {
    // 4000 × 3200 laid into 1600 × 900 (k = 0.28125) is 1125 × 900 at Scale 100.
    const auto big = [] { return MakePicture("big.jpg", 4000, 3200); };
    TTestSlide test =
        ImageSlide(ImageObject("a", "ImageName=big.jpg\n",
                               Key("ScaleX=20\nScaleY=20\n", 0) + Key("ScaleX=40\nScaleY=40\n", 1000)) +
                       ImageObject("b", "ImageName=big.jpg\n", Key("ScaleX=10\nScaleY=10\n")),
                   {big()});
    EXPECT_TRUE(test.slide->PrePassDone());
    const TKivImage& a = ImageOf(test, "a");
    EXPECT_NEAR(a.PrePass().projected.x, 450, 1e-6);
    EXPECT_NEAR(a.PrePass().projected.y, 360, 1e-6);
    EXPECT_EQ(a.Level(), 2) << "at time 0 the image is smaller, but it will grow";
    EXPECT_NEAR(a.Corners()[1].x - a.Corners()[0].x, 225, 1e-6) << "the slide is back at its time";
    EXPECT_EQ(ImageOf(test, "b").Level(), 4);

    TRecordingDrawer drawer;
    const auto calls = DrawSlide(test, drawer, 500);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].picture.level, 2);
    EXPECT_EQ(calls[1].picture.level, 4);

    // Closer to the camera the image looks larger: a finer level.
    TTestSlide near = ImageSlide(
        ImageObject("a", "ImageName=big.jpg\n", Key("ScaleX=40\nScaleY=40\nZPos=-150\n", 0)), {big()});
    EXPECT_GT(ImageOf(near, "a").PrePass().projected.x, 450 * 1.5);
    EXPECT_LT(ImageOf(near, "a").Level(), 2);
}

TEST(ImageLevels, PreloadUploadsTheLevelAndKeepsItAsAFloor) {
    TTestSlide test =
        ImageSlide(ImageObject("a", "ImageName=big.jpg\nShadowEnable=1\n", Key("ScaleX=10\nScaleY=10\n")),
                   {MakePicture("big.jpg", 4000, 3200)});
    TRecordingDrawer drawer;
    test.slide->PreloadBegin(drawer);
    test.slide->PreloadBegin(drawer); // once per drawer
    EXPECT_EQ(drawer.preloads, 1);
    EXPECT_EQ(drawer.preloadLevels, std::vector<int>{4});
    EXPECT_EQ(ImageOf(test, "a").UploadedLevel(), 4);
    EXPECT_NE(ImageOf(test, "a").ShadowPicture(), nullptr) << "the shadow is made ahead of drawing";
    // A finer level than the one uploaded is not taken while that upload stands.
    test.Find("a")->PrePass().projected = {3000, 2400};
    test.Advance(100);
    EXPECT_EQ(ImageOf(test, "a").Level(), 4);
    test.slide->ReleaseDevice(drawer);
    EXPECT_EQ(drawer.releases, 2) << "the picture and its shadow";
    EXPECT_EQ(ImageOf(test, "a").UploadedLevel(), -1);
    test.Advance(200);
    EXPECT_EQ(ImageOf(test, "a").Level(), 0);

    TRecordingDrawer lost;
    lost.ready = false;
    TTestSlide other = ImageSlide(ImageObject("a", "ImageName=big.jpg\n"), {MakePicture("big.jpg", 40, 32)});
    other.slide->PreloadBegin(lost);
    EXPECT_EQ(lost.preloads, 0);
}

// --- What is drawn ---

TEST(ImageDraw, APictureWithItsOwnColourProfileIsConvertedToTheDisplays) {
    // An Adobe RGB picture on an sRGB display: with colour management on, its draw carries a 3-D
    // table that moves saturated colours (Adobe RGB's green lies outside sRGB) and keeps grey; off,
    // or for a picture in the display's own profile, nothing is graded.
    const TColorManagement before = ColorManagement();
    SetDisplayProfile(BuiltInProfile("sRGB"));
    auto draw = [](const char* profile) {
        TRef<TImage> picture = MakePicture("p.png", 64, 64);
        if (profile) picture->Store().SetProfile(BuiltInProfile(profile));
        TTestSlide test = ImageSlide(ImageObject("a", "ImageName=p.png\nFitMode=None\n"), {picture});
        TRecordingDrawer drawer;
        DrawSlide(test, drawer);
        EXPECT_EQ(drawer.calls.size(), 1u);
        std::pair<int, TColorTable> drawn{0, TColorTable{}}; // the tables live with the slide
        if (!drawer.calls.empty()) {
            const TPictureDrawParams& p = drawer.calls[0].picture;
            drawn.first = p.gradingMode;
            EXPECT_EQ(p.gradingFactor, 0.0f);
            EXPECT_EQ(p.gradingFrom == nullptr, p.gradingTo == nullptr);
            if (p.gradingFrom) drawn.second = *p.gradingFrom;
        }
        return drawn;
    };
    SetColorManagement(TColorManagement::Active);
    const auto [mode, table] = draw("AdobeRGB");
    ASSERT_EQ(mode, 1);
    ASSERT_EQ(table.Rows(), 1024);
    // Lattice (blue i, green j, red k) is pixel (k, 32 i + j).
    const std::uint32_t green = table.Pixel(0, 31);
    EXPECT_LT(static_cast<int>((green >> 16) & 0xFF), 20);
    EXPECT_GT(static_cast<int>((green >> 8) & 0xFF), 250);
    const std::uint32_t blueish = table.Pixel(8, 32 * 24 + 8); // (66, 66, 198) in R, G, B
    EXPECT_NE(blueish & 0xFFFFFF, 0x4242C6u) << "a saturated colour moves";
    const std::uint32_t grey = table.Pixel(16, 32 * 16 + 16);
    for (int shift : {0, 8, 16})
        EXPECT_NEAR(static_cast<int>((grey >> shift) & 0xFF), LatticeValue(16), 2) << "grey stays grey";
    EXPECT_EQ(draw("sRGB").first, 0) << "already the display's";
    EXPECT_EQ(draw(nullptr).first, 0) << "no profile";
    SetColorManagement(TColorManagement::Off);
    EXPECT_EQ(draw("AdobeRGB").first, 0) << "colour management off";
    SetColorManagement(before);
    SetDisplayProfile(nullptr);
}

TEST(ImageDraw, ShadowBeforeThePictureMovedByDistanceAndAngle) {
    auto draw = [](const std::string& keys) {
        TTestSlide test = ImageSlide(
            ImageObject("a", "ImageName=p.png\nFitMode=None\nShadowEnable=1\nShadowColor=#102030\n" + keys),
            {MakePicture("p.png", 100, 100)});
        TRecordingDrawer drawer;
        DrawSlide(test, drawer);
        const TKivImage& image = ImageOf(test, "a");
        EXPECT_EQ(drawer.calls.size(), 2u);
        EXPECT_EQ(drawer.calls.at(0).image, image.ShadowPicture());
        EXPECT_EQ(drawer.calls.at(1).image, image.Picture());
        // The texel of the shadow under the picture's top-left corner.
        const double margin = (image.ShadowPicture()->Width() - 100) / 2.0;
        const TDrawCall shadow = drawer.calls.at(0);
        return std::pair{shadow, margin};
    };
    // The object is 100 × 100 at the slide's centre: its top-left corner is at (750, 400).
    auto [right, m] = draw("ShadowDistance=10\nShadowAngle=0\n");
    ExpectPoint(right.Map(m, m), 760, 400);
    ExpectPoint(right.Map(m + 100, m + 100), 860, 500);
    EXPECT_FLOAT_EQ(right.opacity, 59.0f);
    EXPECT_EQ(right.picture.tint, 0xFF102030u);
    auto [down, m2] = draw("ShadowDistance=10\nShadowAngle=90\nShadowOpacity=50\n");
    ExpectPoint(down.Map(m2, m2), 750, 410);
    EXPECT_FLOAT_EQ(down.opacity, 50.0f);
    auto [diagonal, m3] = draw("ShadowDistance=10\n");
    ExpectPoint(diagonal.Map(m3, m3), 750 + 10 * std::sqrt(0.5), 400 + 10 * std::sqrt(0.5), 1e-3);
}

TEST(ImageDraw, BoxesCastTheShadowOfTheirRectangle) {
    TTestSlide test =
        MakeSlide(Box("small", "Size=100,100\nFitMode=None\nShadowEnable=1\nShadowDistance=10\n"
                               "ShadowAngle=0\nColor1=#FF0000\n") +
                  Box("large", "Size=1000,500\nFitMode=None\nShadowEnable=1\nShadowDistance=0\n") +
                  Box("clear", "Size=100,100\nShadowEnable=1\nAlpha1=0\n"));
    TRecordingDrawer drawer;
    DrawSlide(test, drawer);
    const auto small = drawer.CallsOf("small");
    ASSERT_EQ(small.size(), 2u);
    EXPECT_EQ(small[0].op, "DrawImage") << "the shadow comes first";
    EXPECT_EQ(small[1].op, "DrawBox");
    const auto* box = dynamic_cast<const TKivBox*>(test.Find("small"));
    ASSERT_NE(box, nullptr);
    ASSERT_NE(box->ShadowPicture(), nullptr);
    const double m = (box->ShadowPicture()->Width() - 100) / 2.0;
    ExpectPoint(small[0].Map(m, m), 760, 400);
    ExpectPoint(small[0].Map(m + 100, m + 100), 860, 500);
    EXPECT_FLOAT_EQ(small[0].opacity, 59.0f);

    // A large box's shadow is made from a smaller rectangle, stretched over the box.
    const auto large = drawer.CallsOf("large");
    ASSERT_EQ(large.size(), 2u);
    const auto* big = dynamic_cast<const TKivBox*>(test.Find("large"));
    const double lm = (big->ShadowPicture()->Width() - 256) / 2.0;
    EXPECT_EQ(big->ShadowPicture()->Height(), 128 + 2 * static_cast<int>(lm));
    ExpectPoint(large[0].Map(lm, lm), 300, 200);
    ExpectPoint(large[0].Map(lm + 256, lm + 128), 1300, 700);
    EXPECT_TRUE(drawer.CallsOf("clear").empty()) << "an invisible box casts no shadow";
}

// The shadow as the drawer draws it: the alpha of the shadow texels inside the drawn source
// rectangle, 0 outside it, along the texel row through the middle of the part shown.
std::vector<int> DrawnShadowRow(const TDrawCall& call) {
    TRef<TBitmap> bitmap = call.image->Store().GetMipLevel(0, TPixelFormat::Bgra32);
    const TRectF& drawn = call.picture.sourceRect;
    const int y = static_cast<int>((drawn.top + drawn.bottom) / 2);
    std::vector<int> row(static_cast<std::size_t>(bitmap->Width()), 0);
    for (int x = 0; x < bitmap->Width(); ++x)
        if (x + 0.5f > drawn.left && x + 0.5f < drawn.right)
            row[static_cast<std::size_t>(x)] = bitmap->Row(y)[4 * x + 3];
    return row;
}

TEST(ImageDraw, AZoomedOrPannedPictureShadowsOnlyThePartShown) {
    for (const std::string zoom : {"Zoom=200\n", "Zoom=200\nOffsX=100\n", "Zoom=400\nOffsY=-50\n"}) {
        SCOPED_TRACE(zoom);
        TTestSlide test =
            ImageSlide(ImageObject("a",
                                   "ImageName=wide.png\nEnableAspect=1\nAspect=1\nShadowEnable=1\n"
                                   "ShadowSize=10\nShadowDistance=0\n",
                                   Key(zoom)),
                       {MakePicture("wide.png", 400, 200, 0xFF808080u)});
        TRecordingDrawer drawer;
        DrawSlide(test, drawer);
        const TKivImage& image = ImageOf(test, "a");
        ASSERT_EQ(drawer.calls.size(), 2u);
        const TDrawCall& shadow = drawer.calls[0];
        ASSERT_EQ(shadow.image, image.ShadowPicture());
        const TRectF content = image.Content();
        ASSERT_GT(content.left, 0.0f) << "the picture is cut on the left";
        const double m = (image.ShadowPicture()->Width() - 400) / 2.0;
        ASSERT_GT(m, 3.0);
        const std::vector<int> row = DrawnShadowRow(shadow);
        // Texel x of the shadow lies under picture texel x − m.
        const int left = static_cast<int>(std::lround(content.left + m));
        const int right = static_cast<int>(std::lround(content.right + m));
        const int inside = (left + right) / 2;
        EXPECT_EQ(row[static_cast<std::size_t>(inside)], 255) << "under the middle of the part shown";
        // The edges of the part shown are soft: about half covered, and nothing at the far end
        // of the margin, where the picture cut away would have cast a hard-edged band.
        for (int edge : {left, right}) {
            EXPECT_GT(row[static_cast<std::size_t>(edge)], 60) << "edge " << edge;
            EXPECT_LT(row[static_cast<std::size_t>(edge)], 200) << "edge " << edge;
        }
        const int outerLeft = static_cast<int>(std::floor(shadow.picture.sourceRect.left));
        const int outerRight = static_cast<int>(std::ceil(shadow.picture.sourceRect.right)) - 1;
        EXPECT_EQ(row[static_cast<std::size_t>(outerLeft)], 0);
        EXPECT_EQ(row[static_cast<std::size_t>(outerRight)], 0);
        int steepest = 0;
        for (std::size_t x = 1; x < row.size(); ++x)
            steepest = std::max(steepest, std::abs(row[x] - row[x - 1]));
        EXPECT_LT(steepest, 64) << "no hard edge anywhere along the row";
    }
    // Shown whole, the picture's shadow is as before: made from the whole picture.
    TTestSlide whole = ImageSlide(ImageObject("a", "ImageName=p.png\nShadowEnable=1\nShadowSize=10\n"),
                                  {MakePicture("p.png", 100, 100)});
    TRecordingDrawer drawer;
    DrawSlide(whole, drawer);
    int level = 0, margin = 0;
    TRef<TImage> expected = MakeShadowPicture(*ImageOf(whole, "a").Picture(), level, 10.0, 0, margin);
    TRef<TBitmap> a = ImageOf(whole, "a").ShadowPicture()->Store().GetMipLevel(0, TPixelFormat::Bgra32);
    TRef<TBitmap> b = expected->Store().GetMipLevel(0, TPixelFormat::Bgra32);
    ASSERT_EQ(a->Width(), b->Width());
    for (int y = 0; y < a->Height(); ++y)
        ASSERT_EQ(std::memcmp(a->Row(y), b->Row(y), a->RowBytes()), 0) << "row " << y;
}

TEST(ImageDraw, ShadowsGrowSofterWithTheirSize) {
    TRef<TImage> picture = MakePicture("p.png", 64, 64);
    auto alphaAt = [](TImage& shadow, int x, int y) {
        TRef<TBitmap> bitmap = shadow.Store().GetMipLevel(0, TPixelFormat::Bgra32);
        return static_cast<int>(bitmap->Row(y)[4 * x + 3]);
    };
    int level = 0, sharpMargin = 0, softMargin = 0;
    TRef<TImage> sharp = MakeShadowPicture(*picture, level, 0.0, 0, sharpMargin);
    ASSERT_TRUE(sharp);
    EXPECT_EQ(alphaAt(*sharp, sharpMargin, sharpMargin), 255);
    EXPECT_EQ(alphaAt(*sharp, sharpMargin - 1, sharpMargin + 32), 0);
    TRef<TImage> soft = MakeShadowPicture(*picture, level, 100.0, 0, softMargin);
    ASSERT_TRUE(soft);
    EXPECT_GT(softMargin, sharpMargin);
    EXPECT_LT(alphaAt(*soft, softMargin, softMargin + 32), 255) << "the edge is soft";
    EXPECT_GT(alphaAt(*soft, softMargin - 2, softMargin + 32), 0) << "and spills outside";
    EXPECT_EQ(alphaAt(*soft, softMargin + 32, softMargin + 32), 255) << "the middle stays covered";
    EXPECT_EQ(alphaAt(*soft, 0, 0), 0);
    // Transparent parts of the picture cast no shadow.
    TRef<TImage> framed = MakePicture("f.png", 64, 64, 0xFF808080u, 16);
    int margin = 0;
    TRef<TImage> hollow = MakeShadowPicture(*framed, level, 0.0, 0, margin);
    EXPECT_EQ(alphaAt(*hollow, margin + 8, margin + 32), 0);
    EXPECT_EQ(alphaAt(*hollow, margin + 32, margin + 32), 255);
    // A spread grows the covered area.
    TRef<TImage> spread = MakeShadowPicture(*framed, level, 0.0, 4, margin);
    EXPECT_EQ(alphaAt(*spread, margin + 13, margin + 32), 255);
}

TEST(ImageDraw, ParametersOpacityAndGrading) {
    TTestSlide test = ImageSlide(ImageObject("a",
                                             "ImageName=p.png\nFiltering=Nearest\nMipLodBias=-0.5\n"
                                             "Antialiased=0\n",
                                             "object k:KeyPoint\nTime=0\nOpacity=40\n"
                                             "object Invert:Filter\nend\nend\n"),
                                 {MakePicture("p.png", 100, 50)});
    TRecordingDrawer drawer;
    const auto calls = DrawSlide(test, drawer);
    ASSERT_EQ(calls.size(), 1u);
    const TPictureDrawParams& p = calls[0].picture;
    EXPECT_EQ(p.filtering, 0);
    EXPECT_FLOAT_EQ(p.lodBias, -0.5f);
    EXPECT_FALSE(p.edgeAntialias);
    EXPECT_FALSE(p.pattern);
    EXPECT_FLOAT_EQ(p.opacity, 40.0f);
    EXPECT_EQ(p.tint, 0xFFFFFFFFu);
    ExpectRect(p.sourceRect, 0, 0, 100, 50);
    EXPECT_EQ(p.gradingMode, 2) << "an inversion works per channel";
    ASSERT_NE(p.gradingFrom, nullptr);
    EXPECT_EQ(p.gradingFrom->Pixel(0, 0) & 0x00FFFFFFu, 0x00FFFFFFu) << "black becomes white";
    EXPECT_EQ(p.gradingFrom->Pixel(255, 0) & 0x00FFFFFFu, 0u);

    // Without filters nothing is graded.
    TTestSlide plain = ImageSlide(ImageObject("a", "ImageName=p.png\n"), {MakePicture("p.png", 100, 50)});
    TRecordingDrawer second;
    EXPECT_EQ(DrawSlide(plain, second).at(0).picture.gradingMode, 0);
    EXPECT_TRUE(second.calls.at(0).picture.edgeAntialias);
}

TEST(ImageDraw, NamesOfAtlasesMasksAndMissingPictures) {
    TTestSlide test = ImageSlide(ImageObject("mask", "ImageName=m.png\nRestoreAlpha=1\n") +
                                     ImageObject("upper", "ImageName=A.GIF\nAnimEnable=1\n") +
                                     ImageObject("still", "ImageName=b.gif\n") +
                                     ImageObject("missing", "ImageName=gone.png\n"),
                                 {MakePicture("Mask: m.png", 10, 10)});
    EXPECT_EQ(ImageOf(test, "mask").PictureName(), "Mask: m.png");
    EXPECT_EQ(ImageOf(test, "upper").PictureName(), "A.GIF") << "only a lower-case .gif is an atlas";
    EXPECT_EQ(ImageOf(test, "still").PictureName(), "b.gif");
    // A picture the host does not have is shown as the placeholder, drawn like any picture.
    const TKivImage& missing = ImageOf(test, "missing");
    ASSERT_NE(missing.Picture(), nullptr);
    EXPECT_GT(missing.Picture()->Width(), 0);
    EXPECT_GT(missing.Size().x, 0.0);
    TRecordingDrawer drawer;
    DrawSlide(test, drawer);
    const auto calls = drawer.CallsOf("missing", "DrawImage");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].image, missing.Picture());
}

TEST(ImageDraw, PicturesAreAskedForOncePerName) {
    TTestSlide test = ImageSlide(ImageObject("a", "ImageName=a.png\n"),
                                 {MakePicture("a.png", 10, 10), MakePicture("b.png", 20, 10)});
    for (double t : {100.0, 200.0, 300.0})
        test.Advance(t);
    EXPECT_EQ(test.host.asked, std::vector<std::string>{"a.png"});
    // A rebuild with the same name keeps the picture; a new name loads the new one.
    TKivObject* before = test.Find("a");
    TIniObject& root = TKivSlide::RootObject(*test.file->FindSection("Slide"));
    TKeyframeTiming timing;
    timing.build = timing.actual = DurationsOf(test.slide->Times());
    test.slide->Build(root, timing);
    test.Advance(400);
    EXPECT_EQ(test.host.asked.size(), 1u);
    root.Object(0)->SetText("ImageName", "b.png");
    test.slide->Build(root, timing);
    test.Advance(500);
    EXPECT_EQ(test.Find("a"), before) << "the object is reused";
    EXPECT_EQ(test.host.asked, (std::vector<std::string>{"a.png", "b.png"}));
    EXPECT_NEAR(test.Find("a")->Size().x, 20, kEps);
}

TEST(ImageDraw, NoPictureOrNoOpacityDrawsOnlyTheChildren) {
    TTestSlide test = ImageSlide(
        ImageObject("empty", "", Box("c1", "Size=10,10\n")) +
            ImageObject("clear", "ImageName=p.png\n", Key("Opacity=0\n") + Box("c2", "Size=10,10\n")),
        {MakePicture("p.png", 10, 10)});
    EXPECT_TRUE(test.host.asked.size() == 1u) << "an image without a name asks for nothing";
    TRecordingDrawer drawer;
    const auto calls = DrawSlide(test, drawer);
    // Both children are handed to the drawer; the one inside the image without a picture has no
    // room (its parent is 0 × 0), the other is drawn.
    EXPECT_EQ(drawer.drawn, (std::vector<std::string>{"root", "empty", "c1", "clear", "c2"}));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].guid, "c2");
}

TEST(ImageDraw, AnImageFactoryMakesImagesOfBothWords) {
    TTestSlide test = ImageSlide(ImageObject("a", "ImageName=p.png\n") +
                                     "object b:AniImage\nGUID=b\nImageName=p.png\nAnimColumns=2\nend\n",
                                 {MakePicture("p.png", 10, 10)});
    EXPECT_FALSE(ImageOf(test, "a").IsSprite());
    EXPECT_TRUE(ImageOf(test, "b").IsSprite());
    EXPECT_NEAR(test.Find("b")->Size().x, 5, kEps);
}

TEST(ImageBadInput, AHugePictureIsLaidOutAndShadowedFromSmallCopies) {
    auto store = MakeRef<THugeStore>("huge.jpg", 30000, 30000);
    THugeStore& huge = *store;
    TTestSlide test = ImageSlide(ImageObject("a", "ImageName=huge.jpg\nShadowEnable=1\nEnableBorder=1\n"),
                                 {MakeRef<TImage>(std::move(store))});
    const TKivImage& image = ImageOf(test, "a");
    EXPECT_NEAR(image.Size().y, 30000 + 2 * 450, 1e-2);
    EXPECT_GE(image.Level(), 4) << "900 pixels on screen need no more than a 1875-pixel copy";
    TRecordingDrawer drawer;
    DrawSlide(test, drawer);
    EXPECT_EQ(drawer.calls.size(), 3u);
    ASSERT_NE(image.ShadowPicture(), nullptr);
    EXPECT_LE(huge.largestAsked, 1024);
}

} // namespace
} // namespace kiv::test

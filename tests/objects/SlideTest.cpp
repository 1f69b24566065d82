// Slides: backgrounds (colour, gradients, tiled pictures, a second background and its cross-fade),
// borrowed objects, the pre-pass, preloading, and pointer events into hover and click states and
// actions.
#include "ImageTestSupport.h"

#include "objects/ObjectFactory.h"
#include "package/LoadCallback.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kiv::test {
namespace {

constexpr double kEps = 1e-6;

void ExpectPoint(TVec3 actual, double x, double y, double eps = kEps) {
    EXPECT_NEAR(actual.x, x, eps);
    EXPECT_NEAR(actual.y, y, eps);
}

std::vector<TDrawCall> DrawSlide(TTestSlide& test, TRecordingDrawer& drawer, double t = 0.0) {
    drawer.calls.clear();
    test.Advance(t);
    drawer.Draw(*test.slide);
    return drawer.calls;
}

TSlideBackground Solid(std::uint32_t argb) {
    TSlideBackground background;
    background.color1 = background.color2 = argb;
    return background;
}

// --- Reading the background ---

TEST(SlideBackgroundKeys, OwnKeysOrThoseOfMainWhenTheStyleIsZero) {
    auto file = MakeRef<TIniFile>();
    file->LoadFromText("[Main]\nopt_bstyle=3\nopt_bcolorstyle=2\nopt_bcolor1=255\nopt_bcolor2=16711680\n"
                       "[Inherit]\nbstyle=0\nbcolor=65280\n"
                       "[Missing]\n"
                       "[Solid]\nbstyle=1\nbcolor=65280\n"
                       "[NoName]\nbstyle=2\nbfn=\nbcolor=255\n"
                       "[Picture]\nbstyle=2\nbfn=tile.jpg\nbsize=50\n"
                       "[BadGradient]\nbstyle=3\nbcolorstyle=7\nbcolor=255\nbcolor1=65280\n"
                       "[Vertical]\nbstyle=3\nbcolorstyle=1\nbcolor1=#00FF00\nbcolor2=0\n"
                       "[Other]\nbstyle=9\nbcolor=255\n");
    const TIniList* main = file->FindSection("Main");
    auto read = [&](const char* name, const TIniList* from) {
        return TKivSlide::ReadBackground(*file->FindSection(name), from);
    };
    TSlideBackground inherited = read("Inherit", main);
    EXPECT_EQ(inherited.kind, kBackgroundHGradient);
    EXPECT_EQ(inherited.color1, 0xFFFF0000u) << "decimal colours are 0x00BBGGRR";
    EXPECT_EQ(inherited.color2, 0xFF0000FFu);
    EXPECT_EQ(read("Missing", main).kind, kBackgroundHGradient);
    EXPECT_EQ(read("Missing", nullptr).kind, kBackgroundSolid);
    EXPECT_EQ(read("Missing", nullptr).color1, 0xFF000000u);

    EXPECT_EQ(read("Solid", main).kind, kBackgroundSolid);
    EXPECT_EQ(read("Solid", main).color1, 0xFF00FF00u);
    EXPECT_EQ(read("NoName", main).kind, kBackgroundSolid) << "an empty picture name leaves the colour";
    EXPECT_EQ(read("NoName", main).color1, 0xFFFF0000u);
    const TSlideBackground picture = read("Picture", main);
    EXPECT_EQ(picture.kind, kBackgroundPicture);
    EXPECT_EQ(picture.picture, "tile.jpg");
    EXPECT_DOUBLE_EQ(picture.size, 50.0);
    EXPECT_EQ(read("BadGradient", main).kind, kBackgroundSolid);
    EXPECT_EQ(read("BadGradient", main).color1, 0xFFFF0000u);
    EXPECT_EQ(read("Vertical", main).kind, kBackgroundVGradient);
    EXPECT_EQ(read("Vertical", main).color1, 0xFF00FF00u);
    EXPECT_EQ(read("Other", main).kind, kBackgroundSolid);
    EXPECT_EQ(read("Other", main).color1, 0xFF000000u) << "unknown styles are black";
}

// --- Drawing the background ---

TEST(SlideBackgroundDraw, SolidCoversTheSlideAndTwoUnitsMore) {
    TTestSlide test = MakeSlide(Box("a", "Size=10,10\n"));
    test.slide->SetBackground(Solid(0xFF336699u));
    TRecordingDrawer drawer;
    const auto calls = DrawSlide(test, drawer);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].op, "DrawBox");
    EXPECT_EQ(calls[0].guid, "root");
    EXPECT_EQ(calls[0].box.fillStyle, kFillSolid);
    EXPECT_EQ(calls[0].box.color1, 0xFF336699u);
    EXPECT_FLOAT_EQ(calls[0].opacity, 100.0f);
    ExpectPoint(calls[0].Map(0, 0), -2, -2);
    ExpectPoint(calls[0].Map(calls[0].box.size.x, calls[0].box.size.y), 1602, 902);
    EXPECT_EQ(calls[1].guid, "a") << "objects come over the background";

    // While captured with the transparent-background mark, no background.
    test.slide->SetTransparentBackground(true);
    EXPECT_EQ(DrawSlide(test, drawer).size(), 1u);
}

TEST(SlideBackgroundDraw, GradientsUseTheBoxFillStyles) {
    TTestSlide test = MakeSlide("");
    TSlideBackground background;
    background.kind = kBackgroundVGradient;
    background.color1 = 0xFFFF0000u;
    background.color2 = 0xFF0000FFu;
    test.slide->SetBackground(background);
    TRecordingDrawer drawer;
    auto calls = DrawSlide(test, drawer);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].box.fillStyle, 5);
    EXPECT_EQ(calls[0].box.color1, 0xFFFF0000u);
    EXPECT_EQ(calls[0].box.color2, 0xFF0000FFu);
    ExpectPoint(calls[0].Map(0, 0), 0, 0);
    ExpectPoint(calls[0].Map(1600, 900), 1600, 900);
    background.kind = kBackgroundHGradient;
    test.slide->SetBackground(background);
    calls = DrawSlide(test, drawer);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].box.fillStyle, 6);
}

TEST(SlideBackgroundDraw, PictureTilesAroundTheCentre) {
    EXPECT_NEAR(BackgroundTileSize({1600, 900}, 400, 400, 50).x, 800, kEps);
    EXPECT_NEAR(BackgroundTileSize({1600, 900}, 400, 400, 50).y, 800, kEps);
    // A slide narrower than the picture: the height decides.
    EXPECT_NEAR(BackgroundTileSize({900, 1600}, 400, 200, 100).y, 1600, kEps);
    EXPECT_NEAR(BackgroundTileSize({900, 1600}, 400, 200, 100).x, 3200, kEps);

    TTestSlide test = MakeSlide("", 0.0, 1600, 900, {{"tile.jpg", MakePicture("tile.jpg", 400, 400)}});
    TSlideBackground background;
    background.kind = kBackgroundPicture;
    background.picture = "tile.jpg";
    background.size = 50;
    test.slide->SetBackground(background);
    TRecordingDrawer drawer;
    const auto calls = DrawSlide(test, drawer);
    ASSERT_EQ(calls.size(), 9u) << "columns and rows −1, 0, 1";
    int centred = 0;
    for (const TDrawCall& call : calls) {
        EXPECT_EQ(call.op, "DrawImage");
        EXPECT_FLOAT_EQ(call.opacity, 100.0f);
        EXPECT_NEAR(call.Map(400, 400).x - call.Map(0, 0).x, 800, kEps);
        EXPECT_NEAR(call.Map(400, 400).y - call.Map(0, 0).y, 800, kEps);
        const TVec3 middle = call.Map(200, 200);
        if (std::fabs(middle.x - 800) < kEps && std::fabs(middle.y - 450) < kEps) ++centred;
        EXPECT_TRUE(std::fabs(middle.x - 800) < kEps || std::fabs(std::fabs(middle.x - 800) - 800) < kEps);
    }
    EXPECT_EQ(centred, 1);
    EXPECT_EQ(calls[0].picture.level, 0) << "a picture smaller than its tile is drawn as it is";
}

TEST(SlideBackgroundDraw, BadPicturesAndTileSizes) {
    TTestSlide test = MakeSlide("", 0.0, 1600, 900, {{"big.jpg", MakePicture("big.jpg", 4000, 4000)}});
    TSlideBackground background;
    background.kind = kBackgroundPicture;
    background.picture = "big.jpg";
    background.size = 25; // 400-unit tiles from a 4000-pixel picture: a copy reduced three times
    test.slide->SetBackground(background);
    TRecordingDrawer drawer;
    auto calls = DrawSlide(test, drawer);
    ASSERT_FALSE(calls.empty());
    ASSERT_NE(calls[0].image, nullptr);
    EXPECT_EQ(calls[0].image->Width() >> calls[0].picture.level, 500)
        << "the picture drawn reduced three times";
    EXPECT_EQ(calls[0].image->Name(), "SlideBg: 25:big.jpg") << "a reduced copy shared by name";

    for (double size : {0.0, -50.0, std::nan(""), 1e-4}) {
        background.size = size;
        test.slide->SetBackground(background);
        EXPECT_TRUE(DrawSlide(test, drawer).empty()) << "size " << size;
    }
    // A missing picture is replaced by the placeholder and tiled like any picture.
    background.picture = "gone.jpg";
    background.size = 100;
    test.slide->SetBackground(background);
    calls = DrawSlide(test, drawer);
    EXPECT_FALSE(calls.empty());
    EXPECT_EQ(test.host.asked.back(), "gone.jpg");
    ASSERT_NE(calls[0].image, nullptr);
    EXPECT_GT(calls[0].image->Width(), 0);
}

TEST(SlideBackgroundDraw, SecondBackgroundCrossFadesOverTheFirst) {
    TTestSlide test = MakeSlide(Box("own", "Size=10,10\n"));
    test.slide->SetBackground(Solid(0xFF000000u));
    test.slide->SetSecondBackground(Solid(0xFFFFFFFFu), 0.25);
    TRecordingDrawer drawer;
    auto calls = DrawSlide(test, drawer);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].box.color1, 0xFF000000u);
    EXPECT_EQ(calls[1].box.color1, 0xFFFFFFFFu);
    EXPECT_NEAR(calls[1].opacity, 64 / 2.55, 1e-4) << "255 − round(0.75 × 255)";
    EXPECT_EQ(calls[2].guid, "own");

    // With borrowed objects the second layer is drawn apart and laid over.
    TTestSlide first = MakeSlide(Box("first", "Size=10,10\n"));
    TTestSlide second = MakeSlide(Box("second", "Size=10,10\n"));
    test.slide->BorrowObjects(first.slide.Get(), second.slide.Get());
    calls = DrawSlide(test, drawer);
    std::vector<std::string> ops;
    for (const TDrawCall& call : calls)
        ops.push_back(call.op + ":" + call.guid);
    EXPECT_EQ(ops, (std::vector<std::string>{"BeginLayerTarget:root", "DrawBox:root", "DrawBox:second",
                                             "EndLayerTarget:root", "DrawBox:root", "DrawBox:first",
                                             "DrawLayerTarget:root", "DrawBox:own"}));
    EXPECT_FLOAT_EQ(calls[6].opacity, 64.0f);
    EXPECT_EQ(calls[1].box.color1, 0xFFFFFFFFu);
    EXPECT_FLOAT_EQ(calls[1].opacity, 100.0f);

    // A slide never borrows from itself.
    test.slide->BorrowObjects(test.slide.Get(), nullptr);
    EXPECT_EQ(DrawSlide(test, drawer).size(), 3u);
}

TEST(SlideBackgroundDraw, EffectSlidesDrawBorrowedObjectsWithoutTheOffset) {
    TTestSlide test = MakeSlide(Box("own", "Size=10,10\n"));
    TTestSlide first = MakeSlide(Box("first", "Size=10,10\n"));
    test.slide->SetEffectSlide(true);
    test.slide->BorrowObjects(first.slide.Get(), nullptr);
    TRecordingDrawer drawer;
    drawer.SetOffset({30, 40});
    const auto calls = DrawSlide(test, drawer);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].guid, "first");
    EXPECT_EQ(calls[0].offset.x, 0.0);
    EXPECT_EQ(calls[1].guid, "own");
    EXPECT_EQ(calls[1].offset.x, 30.0) << "the offset is restored";
}

// --- Pre-pass and device ---

TEST(SlidePrePass, LargestSizeOverKeyframesWithTheZoomAndTheLoadHook) {
    const std::string keys =
        Key("ScaleX=100\nScaleY=100\n", 0) + Key("ScaleX=300\nScaleY=100\nZoom=200\n", 2000);
    const std::string objects =
        ImageObject("a", "ImageName=p.png\nFitMode=None\n", keys) +
        Box("b", "Size=100,50\nFitMode=None\n", Key("ScaleX=50\n", 0) + Key("ScaleX=20\n", 2000));
    const std::map<std::string, TRef<TImage>> pictures{{"p.png", MakePicture("p.png", 100, 50)}};
    TTestSlide test = MakeSlide(objects, 0.0, 1600, 900, pictures);
    const TKivObject& a = *test.Find("a");
    // At 2 s the zoom shows half the picture (50 × 25 texels) three times as wide: 150 × 25 on
    // screen, which the zoom factor turns back into the size of the whole picture, 300 × 50.
    EXPECT_NEAR(a.PrePass().maxWidth, 300, 1e-6);
    EXPECT_NEAR(a.PrePass().maxHeight, 50, 1e-6);
    EXPECT_NEAR(a.PrePass().minDepth, 0, 1e-6);
    EXPECT_NEAR(a.PrePass().projected.x, 300, 1e-6);
    EXPECT_NEAR(a.Corners()[1].x - a.Corners()[0].x, 100, 1e-6) << "back at the slide's time";
    EXPECT_NEAR(test.Find("b")->PrePass().maxWidth, 50, 1e-6) << "the largest, not the last";

    // A load hook that asks to stop ends the pass before anything is measured.
    SetProcessLoadHook([] { return false; });
    TTestSlide stopped = MakeSlide(objects, 0.0, 1600, 900, pictures);
    SetProcessLoadHook(nullptr);
    EXPECT_EQ(stopped.Find("a")->PrePass().maxWidth, 0.0);
    EXPECT_EQ(ImageOf(stopped, "a").Level(), 0) << "unknown sizes take the full picture";
    EXPECT_TRUE(stopped.slide->PrePassDone());
}

TEST(SlidePrePass, PreloadOncePerDrawerWithTheBackgroundPicture) {
    TTestSlide test = MakeSlide("", 0.0, 1600, 900, {{"tile.jpg", MakePicture("tile.jpg", 40, 40)}});
    TSlideBackground background;
    background.kind = kBackgroundPicture;
    background.picture = "tile.jpg";
    test.slide->SetBackground(background);
    TRecordingDrawer drawer;
    test.slide->PreloadBegin(drawer);
    test.slide->PreloadBegin(drawer);
    EXPECT_EQ(drawer.preloads, 1);
    test.slide->ReleaseDevice(drawer);
    EXPECT_EQ(drawer.releases, 1);
    test.slide->PreloadBegin(drawer); // after a device reset
    EXPECT_EQ(drawer.preloads, 2);
}

// --- Pointer ---

// Texts and buttons drawn as boxes, for the pointer rules that only need their type.
class TStatefulFactory final : public TObjectFactory {
public:
    TRef<TKivObject> Create(int typeCode, TKivObject& parent) const override {
        if (typeCode == kTypeText || typeCode == kTypeButton) return MakeRef<TKivBox>(&parent, typeCode);
        return {};
    }
};

void RegisterStatefulObjects() {
    static const bool once = [] {
        RegisterObjectFactory(std::make_shared<TStatefulFactory>(), true); // ahead of the real classes
        return true;
    }();
    (void)once;
}

// 100 × 100 objects: "left" centred at (400, 450), "right" at (1200, 450).
TTestSlide PointerSlide(const std::string& cls, const std::string& action) {
    RegisterStatefulObjects();
    const std::string keys = "Size=100,100\nFitMode=None\n" + action;
    return MakeSlide(Box("left", keys, Key("Position=-50,0\n"), cls) +
                     Box("right", keys, Key("Position=50,0\n"), cls));
}

TEST(SlidePointer, ButtonsFireOnTheReleaseOverTheObjectPressed) {
    TTestSlide test = PointerSlide("Button", "Action=nextslide\n");
    TKivSlide& slide = *test.slide;
    TKivObject* left = test.Find("left");
    EXPECT_EQ(left->TypeCode(), kTypeButton);

    // Press, move away, release elsewhere: nothing.
    TSlideMouseResult r = slide.HandleMouse(0, {400, 450}, kMousePress, kMouseLeftButton);
    EXPECT_EQ(r.object, left);
    EXPECT_FALSE(r.fired);
    EXPECT_EQ(left->PointerState(), kPointerClick);
    r = slide.HandleMouse(kMouseLeftHeld, {800, 450}, kMouseMove, 0);
    EXPECT_EQ(r.object, nullptr);
    EXPECT_EQ(left->PointerState(), kPointerNormal);
    r = slide.HandleMouse(0, {800, 450}, kMouseRelease, kMouseLeftButton);
    EXPECT_FALSE(r.fired);
    // Coming back later and releasing without a press fires nothing either.
    r = slide.HandleMouse(0, {400, 450}, kMouseRelease, kMouseLeftButton);
    EXPECT_FALSE(r.fired);

    // Press and release on the button: the action, on the release only.
    r = slide.HandleMouse(0, {410, 460}, kMousePress, kMouseLeftButton);
    EXPECT_FALSE(r.fired);
    r = slide.HandleMouse(0, {410, 460}, kMouseRelease, kMouseLeftButton);
    EXPECT_TRUE(r.fired);
    EXPECT_EQ(r.action, "nextslide");
    EXPECT_EQ(left->PointerState(), kPointerHover);
    EXPECT_FALSE(left->Pressed());

    // Other buttons change nothing on a button with an action.
    slide.HandleMouse(0, {1200, 450}, kMousePress, 2);
    EXPECT_FALSE(slide.HandleMouse(0, {1200, 450}, kMouseRelease, 2).fired);
}

TEST(SlidePointer, TextsShowHoverAndClickStates) {
    TTestSlide test = PointerSlide("Text", "Action=nextslide\n");
    TKivSlide& slide = *test.slide;
    TKivObject* left = test.Find("left");
    TKivObject* right = test.Find("right");
    slide.HandleMouse(kMouseLeftHeld, {400, 450}, kMouseMove, 0);
    EXPECT_EQ(left->PointerState(), kPointerClick);
    EXPECT_EQ(right->PointerState(), kPointerNormal);
    slide.HandleMouse(0, {1200, 450}, kMouseMove, 0);
    EXPECT_EQ(left->PointerState(), kPointerNormal);
    EXPECT_EQ(right->PointerState(), kPointerHover);
    slide.HandleMouse(0, {800, 100}, kMouseMove, 0);
    EXPECT_EQ(right->PointerState(), kPointerNormal);
    // Modifiers other than none or the left button: nothing is hit.
    slide.HandleMouse(0, {1200, 450}, kMouseMove, 0);
    const TSlideMouseResult r = slide.HandleMouse(2, {1200, 450}, kMouseMove, 0);
    EXPECT_EQ(r.object, nullptr);
    EXPECT_EQ(right->PointerState(), kPointerNormal);

    // Without an action a text keeps its normal state.
    TTestSlide plain = PointerSlide("Text", "");
    plain.slide->HandleMouse(0, {400, 450}, kMouseMove, 0);
    EXPECT_EQ(plain.Find("left")->PointerState(), kPointerNormal);
}

TEST(SlidePointer, OtherObjectsFireOnAnyButtonAndClickThroughIsSkipped) {
    TTestSlide test = PointerSlide("Box", "Action=gotoslide(3)\n");
    TKivSlide& slide = *test.slide;
    slide.HandleMouse(0, {400, 450}, kMousePress, 3);
    TSlideMouseResult r = slide.HandleMouse(0, {400, 450}, kMouseRelease, 3);
    EXPECT_TRUE(r.fired);
    EXPECT_EQ(r.action, "gotoslide(3)");
    // Pressed on one, released on the other: nothing.
    slide.HandleMouse(0, {400, 450}, kMousePress, 1);
    EXPECT_FALSE(slide.HandleMouse(0, {1200, 450}, kMouseRelease, 1).fired);

    TTestSlide through = MakeSlide(Box("under", "Size=100,100\nFitMode=None\nAction=a\n") +
                                   Box("over", "Size=100,100\nFitMode=None\nTranspForClick=1\nAction=b\n"));
    EXPECT_EQ(through.slide->HandleMouse(0, {800, 450}, kMouseMove, 0).object, through.Find("under"));
    EXPECT_EQ(through.slide->HandleMouse(0, {10, 10}, kMouseMove, 0).object, nullptr) << "never the slide";
}

} // namespace
} // namespace kiv::test

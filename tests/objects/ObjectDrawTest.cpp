// What a slide's object tree asks the drawer to draw: visibility in time, HideMode, boxes and
// their fills, splitters, view ports, opacity and change detection.
#include "SlideTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kiv::test {
namespace {

std::vector<std::string> Drawn(TTestSlide& test, double t, TRecordingDrawer& drawer) {
    drawer.calls.clear();
    test.Advance(t);
    drawer.Draw(*test.slide);
    std::vector<std::string> guids;
    for (const TDrawCall& call : drawer.calls)
        guids.push_back(call.guid);
    return guids;
}

using Guids = std::vector<std::string>;

TEST(ObjectVisibility, DeltaTimesDelayAndShortenAnObject) {
    // The slide starts at 5 s and ends at 15 s.
    TTestSlide test = MakeSlide(Box("a", "Size=10,10\nDeltaTime1=2000\nDeltaTime2=1000\n"), 5000);
    TRecordingDrawer drawer;
    EXPECT_EQ(Drawn(test, 5000, drawer), Guids{});
    EXPECT_EQ(Drawn(test, 6999.9, drawer), Guids{});
    EXPECT_EQ(Drawn(test, 7000, drawer), Guids{"a"});
    EXPECT_EQ(Drawn(test, 14000, drawer), Guids{"a"});
    EXPECT_EQ(Drawn(test, 14000.1, drawer), Guids{});
}

TEST(ObjectVisibility, TimeOriginsAreTheSlidesMoments) {
    TTestSlide test = MakeSlide(Box("a", "Size=10,10\n"), 5000);
    TSlideInfo times = test.slide->Times();
    times.transition = 700;
    test.slide->SetTimes(times, 3);
    const TKivObject& a = *test.Find("a");
    EXPECT_DOUBLE_EQ(a.TimeOrigin(0), 5000);
    EXPECT_DOUBLE_EQ(a.TimeOrigin(1), 5700);
    EXPECT_DOUBLE_EQ(a.TimeOrigin(2), 14000);
    EXPECT_DOUBLE_EQ(a.TimeOrigin(3), 15000);
    EXPECT_EQ(test.slide->Index(), 3);
}

TEST(ObjectVisibility, AnObjectHiddenInTimeStillDrawsItsChildren) {
    TTestSlide test = MakeSlide("object f:Frame\nGUID=f\nSize=10,10\nDeltaTime1=3000\n" +
                                Box("c", "Size=10,10\n") + "end\n");
    TRecordingDrawer drawer;
    EXPECT_EQ(Drawn(test, 1000, drawer), Guids{"c"});
    EXPECT_EQ(Drawn(test, 3000, drawer), (Guids{"f", "c"}));
}

TEST(ObjectVisibility, HideModeOneHidesTheBackFace) {
    TTestSlide test = MakeSlide(Box("back", "Size=10,10\nHideMode=1\n", Key("AngleY=180\n")) +
                                Box("front", "Size=10,10\nHideMode=1\n", Key("AngleY=0\n")));
    TRecordingDrawer drawer;
    EXPECT_EQ(Drawn(test, 0, drawer), Guids{"front"});
    EXPECT_TRUE(test.Find("back")->HiddenSelf());
}

TEST(ObjectVisibility, HideModeTwoHidesTheFrontFace) {
    TTestSlide test = MakeSlide(Box("back", "Size=10,10\nHideMode=2\n", Key("AngleX=180\n")) +
                                Box("front", "Size=10,10\nHideMode=2\n", Key("AngleY=10\n")));
    TRecordingDrawer drawer;
    EXPECT_EQ(Drawn(test, 0, drawer), Guids{"back"});
}

TEST(ObjectVisibility, ChildInvisHidesTheChildrenOfAHiddenObjectOnly) {
    const std::string child = Box("c", "Size=10,10\n") + Box("d", "Size=10,10\n", Box("e", "Size=10,10\n"));
    TTestSlide test =
        MakeSlide("object f:Box\nGUID=f\nSize=10,10\nHideMode=1\nChildInvis=1\n" + Key("AngleY=180\n") +
                  child + "end\n" + "object g:Box\nGUID=g\nSize=10,10\nHideMode=1\n" + Key("AngleY=180\n") +
                  Box("h", "Size=10,10\n") + "end\n");
    TRecordingDrawer drawer;
    // f and everything below it are hidden; g is hidden but without ChildInvis its child shows.
    EXPECT_EQ(Drawn(test, 0, drawer), Guids{"h"});
    EXPECT_TRUE(test.Find("e")->HiddenByParent());
}

TEST(ObjectDraw, BoxHandsTheDrawerItsCornersAndFill) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\nColor1=#FF0000\nAntialiased=1\n", Key("Angle=30\n")));
    TRecordingDrawer drawer;
    Drawn(test, 0, drawer);
    ASSERT_EQ(drawer.calls.size(), 1u);
    const TDrawCall& call = drawer.calls[0];
    EXPECT_EQ(call.op, "DrawBox");
    EXPECT_EQ(call.box.fillStyle, kFillSolid);
    EXPECT_EQ(call.box.color1, 0xFFFF0000u);
    EXPECT_TRUE(call.box.edgeAntialias[0] && call.box.edgeAntialias[3]);
    EXPECT_DOUBLE_EQ(call.box.size.x, 400);
    // The drawer's mapping of the box's corners lands on the object's corners.
    const auto corners = test.Find("a")->Corners();
    const TVec3 mapped[] = {call.Map(0, 0), call.Map(400, 0), call.Map(400, 300), call.Map(0, 300)};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(mapped[i].x, corners[static_cast<std::size_t>(i)].x, 1e-6);
        EXPECT_NEAR(mapped[i].y, corners[static_cast<std::size_t>(i)].y, 1e-6);
    }
}

TEST(ObjectDraw, VerticalGradientFadesToATransparentSecondColour) {
    TTestSlide test =
        MakeSlide(Box("a", "Size=10,10\nFillMode=VGradient\nColor1=#FF0000\nColor2=#0000FF\nAlpha2=0\n"));
    TRecordingDrawer drawer;
    Drawn(test, 0, drawer);
    ASSERT_EQ(drawer.calls.size(), 1u);
    EXPECT_EQ(drawer.calls[0].box.fillStyle, kFillVertical);
    EXPECT_EQ(drawer.calls[0].box.color1, 0xFFFF0000u);
    EXPECT_EQ(drawer.calls[0].box.color2, 0x000000FFu);
}

TEST(ObjectDraw, FillModesMapToTheDrawersGradientKinds) {
    EXPECT_EQ(BoxFillStyle(kBoxSolid), 8);
    EXPECT_EQ(BoxFillStyle(kBoxHGradient), 6);
    EXPECT_EQ(BoxFillStyle(kBoxVGradient), 5);
    EXPECT_EQ(BoxFillStyle(kBoxTLBRGradient), 0);
    EXPECT_EQ(BoxFillStyle(kBoxTRBLGradient), 1);
}

TEST(ObjectDraw, TransparentAndInvisibleBoxesDrawNothingButTheirChildren) {
    TTestSlide test = MakeSlide(Box("solid0", "Size=10,10\nAlpha1=0\n", Box("c1", "Size=10,10\n")) +
                                Box("grad0", "Size=10,10\nFillMode=HGradient\nAlpha1=0\nAlpha2=0\n") +
                                Box("grad1", "Size=10,10\nFillMode=HGradient\nAlpha1=0\nAlpha2=1\n") +
                                Box("faded", "Size=10,10\n", Key("Opacity=0.001\n")) +
                                Box("split", "Size=10,10\n", Box("c2", "Size=10,10\n"), "Splitter"));
    TRecordingDrawer drawer;
    EXPECT_EQ(Drawn(test, 0, drawer), (Guids{"c1", "grad1", "c2"}));
}

TEST(ObjectDraw, OpacityDoesNotPassDownTheTree) {
    TTestSlide test = MakeSlide("object f:Frame\nGUID=f\nSize=10,10\n" + Key("Opacity=50\n") +
                                Box("c", "Size=10,10\n", Key("Opacity=100\n")) + "end\n");
    TRecordingDrawer drawer;
    Drawn(test, 0, drawer);
    ASSERT_EQ(drawer.calls.size(), 2u);
    EXPECT_FLOAT_EQ(drawer.CallsOf("f")[0].opacity, 50.0f);
    EXPECT_FLOAT_EQ(drawer.CallsOf("c")[0].opacity, 100.0f);
}

TEST(ObjectDraw, SlideOpacityScalesEveryObject) {
    // A dialog fades as a whole through its own opacity.
    class TFadedSlide final : public TKivSlide {
    public:
        using TKivSlide::TKivSlide;
        float SlideOpacity() const override { return 40.0f; }
    };
    TTestSlide test = MakeSlide<TFadedSlide>(
        "object f:Frame\nGUID=f\nSize=10,10\n" + Box("c", "Size=10,10\n", Key("Opacity=50\n")) + "end\n");
    TRecordingDrawer drawer;
    Drawn(test, 0, drawer);
    ASSERT_EQ(drawer.calls.size(), 2u);
    EXPECT_FLOAT_EQ(drawer.CallsOf("f")[0].opacity, 40.0f);
    EXPECT_FLOAT_EQ(drawer.CallsOf("c")[0].opacity, 20.0f);
}

TEST(ObjectDraw, ViewPortDrawsOnlyItsMaskedContent) {
    TTestSlide test = MakeSlide(
        "object v:ViewPort\nGUID=v\nSize=200,100\n" + Box("s1", "", Box("x", "Size=10,10\n"), "MaskStencil") +
        Box("s2", "", Box("y", "Size=10,10\n"), "MaskStencil") +
        Box("m", "", Box("z", "Size=10,10\n"), "MaskContent") + Box("other", "Size=10,10\n") + "end\n");
    TRecordingDrawer drawer;
    Drawn(test, 0, drawer);
    ASSERT_EQ(drawer.calls.size(), 1u);
    EXPECT_EQ(drawer.calls[0].op, "DrawMasked");
    EXPECT_EQ(drawer.calls[0].item, test.Find("s2")); // the last stencil
    EXPECT_EQ(drawer.calls[0].content, test.Find("m"));
    EXPECT_EQ(std::count(drawer.drawn.begin(), drawer.drawn.end(), "other"), 0);
    // Masks take the view port's size and let clicks through.
    EXPECT_DOUBLE_EQ(test.Find("m")->Size().x, 200);
    EXPECT_TRUE(test.Find("m")->Keys().transpForClick);
}

TEST(ObjectDraw, ViewPortWithoutContentDrawsNothing) {
    TTestSlide test =
        MakeSlide("object v:ViewPort\nGUID=v\nSize=200,100\n" + Box("s", "", "", "MaskStencil") + "end\n");
    TRecordingDrawer drawer;
    Drawn(test, 0, drawer);
    EXPECT_TRUE(drawer.calls.empty());
}

TEST(ObjectDraw, CapturedSlideSkipsTheBackgroundPartUpToTheSplitter) {
    TTestSlide test = MakeSlide(Box("pic", "Size=10,10\n") + Box("split", "Size=10,10\n", "", "Splitter") +
                                Box("text", "Size=10,10\n"));
    TRecordingDrawer drawer;
    EXPECT_EQ(Drawn(test, 0, drawer), (Guids{"pic", "text"}));
    drawer.capturing = true;
    test.slide->SetTransparentBackground(true);
    EXPECT_EQ(Drawn(test, 0, drawer), Guids{"text"});
}

TEST(ObjectDraw, ChangesAreSeenUntilTheNextDraw) {
    TTestSlide test =
        MakeSlide(Box("a", "Size=10,10\n", Key("Position=0,0\n", 0) + Key("Position=100,0\n", 1000)));
    TRecordingDrawer drawer;
    Drawn(test, 0, drawer);
    EXPECT_FALSE(test.slide->IsChanged());
    test.Advance(0); // the same time: nothing moved
    EXPECT_FALSE(test.slide->IsChanged());
    test.Advance(500);
    EXPECT_TRUE(test.Find("a")->IsChanged());
    EXPECT_TRUE(test.slide->IsChanged()); // through its child
    const int changes = test.host.changes;
    drawer.Draw(*test.slide);
    EXPECT_FALSE(test.slide->IsChanged());
    EXPECT_GT(test.host.changes, changes);
}

TEST(ObjectDraw, BlurIsTheSlideWidthTimesTheBlurValue) {
    TTestSlide test = MakeSlide(Box("a", "Size=10,10\n", Key("Blur=0.25\n")) +
                                Box("b", "Size=10,10\n", Key("Blur=-0.5\n")));
    EXPECT_FLOAT_EQ(test.Find("a")->GetBlur(), 400.0f);
    EXPECT_FLOAT_EQ(test.Find("b")->GetBlur(), -800.0f); // sharpening
}

} // namespace
} // namespace kiv::test

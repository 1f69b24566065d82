// Layout of slide objects: fitting into the parent, scaling, positions and pivots, rotation about
// three axes, the depth factor and the nesting of placements.
#include "SlideTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace kiv::test {
namespace {

constexpr double kEps = 1e-6;

void ExpectPoint(TVec3 actual, double x, double y, double z = 0.0, double eps = kEps) {
    EXPECT_NEAR(actual.x, x, eps);
    EXPECT_NEAR(actual.y, y, eps);
    EXPECT_NEAR(actual.z, z, eps);
}

// Width and height on screen of an object lying in the screen plane.
TVec2 ScreenSize(const TKivObject& object) {
    const auto c = object.Corners();
    return {Length(c[1] - c[0]), Length(c[3] - c[0])};
}

TEST(ObjectLayout, PlaceIntoFitsTheWholeObjectIntoTheSlide) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n"));
    const TKivObject& a = *test.Find("a");
    EXPECT_NEAR(a.Scale().x, 3.0, kEps); // k = min(1600 / 400, 900 / 300)
    const auto c = a.Corners();
    ExpectPoint(c[0], 200, 0);
    ExpectPoint(c[2], 1400, 900);
    EXPECT_NEAR(ScreenSize(a).x, 1200, kEps);
    EXPECT_NEAR(ScreenSize(a).y, 900, kEps);
}

TEST(ObjectLayout, CoverFillsTheSlideAndOverflowsIt) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\nFitMode=Cover\n"));
    const TKivObject& a = *test.Find("a");
    EXPECT_NEAR(ScreenSize(a).x, 1600, kEps); // k = 4
    EXPECT_NEAR(ScreenSize(a).y, 1200, kEps);
    ExpectPoint(a.Corners()[0], 0, -150);
}

TEST(ObjectLayout, FitModeWordsIgnoreCaseAndNoneKeepsTheOwnSize) {
    TTestSlide cover = MakeSlide(Box("a", "Size=400,300\nFitMode=cOVER\n"));
    EXPECT_NEAR(cover.Find("a")->Scale().x, 4.0, kEps);
    TTestSlide none = MakeSlide(Box("a", "Size=400,300\nFitMode=None\n"));
    EXPECT_NEAR(ScreenSize(*none.Find("a")).x, 400, kEps);
    EXPECT_NEAR(ScreenSize(*none.Find("a")).y, 300, kEps);
}

TEST(ObjectLayout, ScaleMultipliesTheFitFactor) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("ScaleX=50\nScaleY=200\n")));
    const TKivObject& a = *test.Find("a");
    EXPECT_NEAR(a.Scale().x, 1.5, kEps);
    EXPECT_NEAR(a.Scale().y, 6.0, kEps);
    EXPECT_NEAR(ScreenSize(a).x, 600, kEps);
    EXPECT_NEAR(ScreenSize(a).y, 1800, kEps);
}

TEST(ObjectLayout, PercentPositionOfHundredPutsTheAnchorOnTheRightEdge) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("Position=100,-100\n")) +
                                Box("b", "Size=400,300\n", Key("Position=100,0\nCenterPos=-100,-100\n")));
    ExpectPoint(test.Find("a")->Placement().origin, 1600, 0);
    // Center (−100, −100): the pivot is the top-left corner, which now sits on the anchor.
    const TKivObject& b = *test.Find("b");
    ExpectPoint(b.Corners()[0], 1600, 450);
    EXPECT_NEAR(b.Pivot().x, 0.0, kEps);
    EXPECT_NEAR(b.Pivot().y, 0.0, kEps);
}

TEST(ObjectLayout, AbsolutePositionIsInParentUnits) {
    TTestSlide test =
        MakeSlide(Box("a", "Size=400,300\nPosMode=Absolute\n", Key("Position=100,-50\nZPos=0\n")));
    ExpectPoint(test.Find("a")->Placement().origin, 900, 400);
}

TEST(ObjectLayout, AbsoluteCenterIsInTheObjectsOwnUnits) {
    TTestSlide test =
        MakeSlide(Box("a", "Size=400,300\nCenterMode=Absolute\n", Key("CenterPos=-200,-150\n")));
    const TKivObject& a = *test.Find("a");
    EXPECT_NEAR(a.Pivot().x, 0.0, kEps); // the top-left corner is the pivot
    EXPECT_NEAR(a.Pivot().y, 0.0, kEps);
    ExpectPoint(a.Corners()[0], 800, 450);
}

TEST(ObjectLayout, PushedCornersGrowAlongTheAxesByADistanceInWorldUnits) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("Angle=90\n")));
    const auto c = test.Find("a")->Corners();
    const auto p = test.Find("a")->CornersPushed(10);
    // Turned by 90°: the object's x axis points down the screen, its y axis to the left.
    ExpectPoint(p[0], c[0].x + 10, c[0].y - 10);
    ExpectPoint(p[2], c[2].x - 10, c[2].y + 10);
    EXPECT_NEAR(Length(p[1] - p[0]), Length(c[1] - c[0]) + 20, kEps);
}

TEST(ObjectLayout, CenterRotatesAboutThePivot) {
    // Rotating by 90° about the top-left corner swings the object to the left of its anchor.
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("CenterPos=-100,-100\nAngle=90\n")));
    const auto c = test.Find("a")->Corners();
    ExpectPoint(c[0], 800, 450);
    ExpectPoint(c[1], 800, 450 + 1200); // the x axis now points down the screen
    ExpectPoint(c[3], 800 - 900, 450);
}

TEST(ObjectLayout, QuarterTurnSwapsTheExtentsOnScreen) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("Angle=90\n")));
    const auto c = test.Find("a")->Corners();
    double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
    for (const TVec3& p : c) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    EXPECT_NEAR(maxX - minX, 900, kEps);
    EXPECT_NEAR(maxY - minY, 1200, kEps);
    EXPECT_NEAR((minX + maxX) / 2, 800, kEps);
}

TEST(ObjectLayout, ChildrenAreLaidIntoTheirParentAndFollowItsPlacement) {
    // The frame is 800 × 450 (k = 2, 1600 × 900 on screen); the child of 400 × 450 fits its
    // height (k = 1) and carries the frame's scale; Pos.X 100 puts it on the frame's right edge.
    TTestSlide test = MakeSlide("object f:Frame\nGUID=f\nSize=800,450\n" +
                                Box("c", "Size=400,450\n", Key("Position=100,0\n")) + "end\n");
    const TKivObject& c = *test.Find("c");
    EXPECT_NEAR(c.Scale().x, 1.0, kEps);
    ExpectPoint(c.Placement().origin, 1600, 450);
    EXPECT_NEAR(ScreenSize(c).x, 800, kEps);
    EXPECT_NEAR(ScreenSize(c).y, 900, kEps);
}

TEST(ObjectLayout, ParentRotationCarriesItsChildren) {
    TTestSlide test = MakeSlide("object f:Frame\nGUID=f\nSize=800,450\n" + Key("Angle=90\n") +
                                Box("c", "Size=400,450\n", Key("Position=100,0\n")) + "end\n");
    // The frame's x axis points down the screen: its right edge lies 450 units below the centre.
    ExpectPoint(test.Find("c")->Placement().origin, 800, 450 + 800);
}

TEST(ObjectLayout, DepthFactorComesFromTheCameraDistance) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("ZPos=100\n")));
    const double tan30 = std::tan(std::acos(-1.0) / 6);
    EXPECT_NEAR(test.slide->DepthFactor(), 900 * tan30 / 900, kEps);
    // Pos.Z 100 is half the slide height (450) deep, scaled by the depth factor.
    ExpectPoint(test.Find("a")->Placement().origin, 800, 450, 450 * tan30);

    test.host.camera = {800, 450, -1800};
    test.Advance(1.0);
    EXPECT_NEAR(test.slide->DepthFactor(), 1800 * tan30 / 900, kEps);
    test.host.camera = {800, 450, 100}; // behind the screen: the fixed factor
    test.Advance(2.0);
    EXPECT_NEAR(test.slide->DepthFactor(), tan30, kEps);
}

TEST(ObjectLayout, TurningAboutTheVerticalAxisTiltsTheXAxisIntoDepth) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("AngleY=90\n")));
    const TPlacement& p = test.Find("a")->Placement();
    const double tan30 = std::tan(std::acos(-1.0) / 6);
    ExpectPoint(p.axisX, 0, 0, 3 * tan30);
    ExpectPoint(p.axisY, 0, 3, 0);
    EXPECT_TRUE(p.valid);
}

TEST(ObjectLayout, ThirdRowOfTheMatrixIsScaledByTheVerticalScale) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("ScaleX=100\nScaleY=50\n")));
    const TKivObject& a = *test.Find("a");
    EXPECT_NEAR(a.World().m[2].z, 1.5, kEps); // sy = 0.5 × 3
}

TEST(ObjectLayout, KeyframedPropertiesAreEvaluatedEachFrame) {
    TTestSlide test =
        MakeSlide(Box("a", "Size=400,300\n", Key("Position=0,0\n", 0) + Key("Position=100,0\n", 1000)), 5000);
    test.Advance(5500); // halfway, 500 ms after the slide's Start
    ExpectPoint(test.Find("a")->Placement().origin, 1200, 450);
    test.Advance(7000);
    ExpectPoint(test.Find("a")->Placement().origin, 1600, 450);
}

TEST(ObjectLayout, MovedSlideCentreIsLaidOutAtTheSameTime) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n"));
    TRecordingDrawer drawer;
    drawer.Draw(*test.slide);
    test.slide->SetCentre({900, 500});
    test.Advance(0);
    ExpectPoint(test.Find("a")->Placement().origin, 900, 500);
}

TEST(ObjectLayout, SlideScaleStretchesEveryObject) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n"));
    TRecordingDrawer drawer;
    drawer.Draw(*test.slide); // drawn: nothing has changed since
    test.slide->SetScale(50, 100);
    test.Advance(0); // the same time as before: the new scale must still be laid out
    EXPECT_NEAR(ScreenSize(*test.Find("a")).x, 600, kEps);
    EXPECT_NEAR(ScreenSize(*test.Find("a")).y, 900, kEps);
}

} // namespace
} // namespace kiv::test

// Hit testing: the ray from the camera through a screen point against flat, rotated and tilted
// objects, and the order and filters of FindAt.
#include "SlideTestSupport.h"

#include <gtest/gtest.h>

namespace kiv::test {
namespace {

bool Hits(const TKivObject& object, double x, double y) {
    TVec2 local;
    return object.HitTest({x, y}, local);
}

TEST(ObjectHitTest, FlatObjectIsHitInsideItsRectangle) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n")); // 200 … 1400 × 0 … 900 on screen
    const TKivObject& a = *test.Find("a");
    TVec2 local;
    ASSERT_TRUE(a.HitTest({800, 450}, local));
    EXPECT_NEAR(local.x, 0, 1e-9); // the anchor is the centre
    EXPECT_NEAR(local.y, 0, 1e-9);
    ASSERT_TRUE(a.HitTest({1400, 0}, local)); // the edges belong to the object
    EXPECT_NEAR(local.x, 200, 1e-9);
    EXPECT_NEAR(local.y, -150, 1e-9);
    EXPECT_FALSE(Hits(a, 1401, 450));
    EXPECT_FALSE(Hits(a, 199, 450));
}

TEST(ObjectHitTest, RotatedObjectIsHitWhereItIsDrawnNotWhereItWas) {
    // 1200 × 900 on screen, turned by 45° about the slide's centre.
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("Angle=45\n")));
    const TKivObject& a = *test.Find("a");
    EXPECT_TRUE(Hits(a, 800, 450));
    // Inside the unturned rectangle, but outside the turned one.
    EXPECT_FALSE(Hits(a, 1350, 40));
    // Outside the unturned rectangle (above the slide), inside the turned one.
    TVec2 local;
    ASSERT_TRUE(a.HitTest({700, -250}, local));
    EXPECT_NEAR(local.x, -188.56, 0.01);
    EXPECT_NEAR(local.y, -141.42, 0.01);
}

TEST(ObjectHitTest, TiltedObjectIsHitThroughThePerspective) {
    // Turned by 60° about the vertical axis: its right half recedes and its left half comes
    // nearer, so on screen the left edge lies farther from the centre than the right one.
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("AngleY=60\n")));
    const TKivObject& a = *test.Find("a");
    EXPECT_TRUE(Hits(a, 800, 450));
    EXPECT_FALSE(Hits(a, 1350, 450)); // inside when flat
    // Where the corners project: scan along the centre line for the edges.
    double left = 800, right = 800;
    while (Hits(a, left - 1, 450) && left > -5000)
        --left;
    while (Hits(a, right + 1, 450) && right < 5000)
        ++right;
    EXPECT_GT(800 - left, right - 800);
    EXPECT_LT(right - 800, 600);
    // The nearer half grows on screen: further than the 300 units a flat projection gives.
    EXPECT_GT(800 - left, 300);
}

TEST(ObjectHitTest, EdgeOnObjectIsNeverHit) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("AngleX=90\n")));
    // The camera looks along the object's plane through the slide's centre only at the centre
    // row; a point above it misses.
    EXPECT_FALSE(Hits(*test.Find("a"), 800, 300));
}

TEST(ObjectHitTest, ObjectBehindTheCameraIsNotHit) {
    // Pos.Z −1000 puts the plane 4500 units × the depth factor in front of the screen: behind the
    // eye, which stands 900 pixels in front of it.
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("ZPos=-1000\n")) +
                                Box("b", "Size=400,300\n", Key("ZPos=-100\n")));
    EXPECT_LT(test.Find("a")->Placement().origin.z, test.host.camera.z);
    EXPECT_FALSE(Hits(*test.Find("a"), 800, 450));
    EXPECT_TRUE(Hits(*test.Find("b"), 800, 450)); // nearer, but still in front of the eye
}

TEST(ObjectHitTest, FindAtPrefersTheLastChildAndChildrenOverParents) {
    TTestSlide test = MakeSlide("object f:Frame\nGUID=f\nSize=1600,900\n" + Box("under", "Size=400,300\n") +
                                Box("over", "Size=400,300\n", Key("ScaleX=50\nScaleY=50\n")) + "end\n");
    EXPECT_EQ(test.slide->FindAt({800, 450}), test.Find("over"));
    EXPECT_EQ(test.slide->FindAt({300, 450}), test.Find("under")); // beside the smaller one
    EXPECT_EQ(test.slide->FindAt({10, 10}), test.Find("f"));
    EXPECT_EQ(test.slide->FindAt({-10, 10}), nullptr); // the slide itself is never hit
}

TEST(ObjectHitTest, FilterSkipsAnObjectButNotItsChildren) {
    TTestSlide test = MakeSlide("object f:Frame\nGUID=f\nSize=1600,900\nTranspForClick=1\n" +
                                Box("c", "Size=400,300\n", Key("ScaleX=10\nScaleY=10\n")) + "end\n");
    const auto clickable = [](const TKivObject& o) { return !o.Keys().transpForClick; };
    EXPECT_EQ(test.slide->FindAt({800, 450}, clickable), test.Find("c"));
    EXPECT_EQ(test.slide->FindAt({10, 10}, clickable), nullptr);
    EXPECT_EQ(test.slide->FindAt({10, 10}), test.Find("f"));
}

TEST(ObjectHitTest, ObjectsNotShownNowAreNotHit) {
    TTestSlide test = MakeSlide(Box("late", "Size=400,300\nDeltaTime1=5000\n") +
                                Box("back", "Size=400,300\nHideMode=1\n", Key("AngleY=180\n")));
    EXPECT_EQ(test.slide->FindAt({800, 450}), nullptr);
    test.Advance(5000);
    EXPECT_EQ(test.slide->FindAt({800, 450}), test.Find("late"));
}

TEST(ObjectHitTest, UnplacedObjectIsHitInTheSlidePlaneOnlyWhenTheHostAcceptsIt) {
    // A zero height leaves the object without a placement.
    TTestSlide test = MakeSlide(Box("a", "Size=400,0\n"));
    const TKivObject& a = *test.Find("a");
    EXPECT_FALSE(a.Placement().valid);
    EXPECT_FALSE(Hits(a, 800, 450));
    test.host.accepts = true;
    EXPECT_TRUE(Hits(a, 800 - 200, 450)); // its pivot and size in the slide's own units
}

} // namespace
} // namespace kiv::test

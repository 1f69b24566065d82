// Keyframe timing, the per-group previous/next walk, interpolation and rescaling.
#include "ObjectsTestSupport.h"

#include <cmath>
#include <limits>

namespace kiv {
namespace {

using test::BuildNode;
using test::ValueAt;

TEST(Keyframes, OpacityInterpolatesAndClampsToTheSlide) {
    auto built = BuildNode("object A:Image\nGUID=a\n"
                           "object k0:KeyPoint\nTime=0\nOpacity=0\nend\n"
                           "object k1:KeyPoint\nTime=1000\nOpacity=100\nend\nend\n",
                           5000);
    TKivObjectProps& node = *built.node;
    EXPECT_FLOAT_EQ(ValueAt(node, 250, kPropOpacity), 25.0f);
    EXPECT_FLOAT_EQ(ValueAt(node, -100, kPropOpacity), 0.0f);
    EXPECT_FLOAT_EQ(ValueAt(node, 1000, kPropOpacity), 100.0f);
    EXPECT_FLOAT_EQ(ValueAt(node, 4000, kPropOpacity), 100.0f);
    EXPECT_FLOAT_EQ(ValueAt(node, 99999, kPropOpacity), 100.0f);
    // Groups the keyframes set keep the defaults of properties they leave unset.
    EXPECT_FLOAT_EQ(node.Value(kPropScaleX), 100.0f);
    EXPECT_FLOAT_EQ(node.Value(kPropFrameS), 100.0f);
}

TEST(Keyframes, WalkMovesForwardAndBackFromWhereItWas) {
    auto built = BuildNode("object A:Box\nGUID=a\n"
                           "object k:KeyPoint\nTime=0\nBlur=0\nend\n"
                           "object k:KeyPoint\nTime=100\nBlur=10\nend\n"
                           "object k:KeyPoint\nTime=200\nBlur=30\nend\n"
                           "object k:KeyPoint\nTime=300\nBlur=0\nend\nend\n",
                           1000);
    TKivObjectProps& node = *built.node;
    // Forward through every span, then jump back, then forward again.
    const double times[] = {0, 50, 150, 250, 350, 120, 10, 299, 0, 250};
    const double expected[] = {0, 5, 20, 15, 0, 14, 1, 0.3, 0, 15};
    for (std::size_t i = 0; i < std::size(times); ++i)
        EXPECT_NEAR(ValueAt(node, times[i], kPropBlur), expected[i], 1e-4) << "at " << times[i];
    node.Evaluate(150, false);
    EXPECT_EQ(node.Group(kGroupBlur).prev, 1);
    EXPECT_EQ(node.Group(kGroupBlur).next, 2);
    EXPECT_DOUBLE_EQ(node.Group(kGroupBlur).fraction, 0.5);
}

TEST(Keyframes, KeyframeOfAnotherGroupIsSkipped) {
    auto built = BuildNode("object A:Image\nGUID=a\n"
                           "object k:KeyPoint\nTime=0\nOpacity=0\nend\n"
                           "object k:KeyPoint\nTime=500\ngrps=2\nOpacity=77\nPosition=50,-20\nend\n"
                           "object k:KeyPoint\nTime=1000\nOpacity=100\nend\nend\n",
                           2000);
    TKivObjectProps& node = *built.node;
    EXPECT_FLOAT_EQ(ValueAt(node, 500, kPropOpacity), 50.0f);
    EXPECT_FLOAT_EQ(ValueAt(node, 750, kPropOpacity), 75.0f);
    // Pos is set by all three: 0 → (50, -20) → 0.
    EXPECT_FLOAT_EQ(ValueAt(node, 250, kPropPosX), 25.0f);
    EXPECT_FLOAT_EQ(ValueAt(node, 500, kPropPosY), -20.0f);
    EXPECT_EQ(node.Group(kGroupOpacity).prev, 0);
    EXPECT_EQ(node.Group(kGroupOpacity).next, 2);
}

TEST(Keyframes, OutOfOrderKeyframesSortStablyAndTheLaterEqualOneLeads) {
    auto built = BuildNode("object A:Image\nGUID=a\n"
                           "object late:KeyPoint\nTime=1000\nOpacity=100\nend\n"
                           "object first:KeyPoint\nTime=0\nOpacity=0\nend\n"
                           "object tieA:KeyPoint\nTime=500\nOpacity=10\nend\n"
                           "object tieB:KeyPoint\nTime=500\nOpacity=60\nend\nend\n",
                           2000);
    TKivObjectProps& node = *built.node;
    ASSERT_EQ(node.KeyFrameCount(), 4);
    EXPECT_EQ(node.KeyFrame(0).ProjectObject()->Name(), "first");
    EXPECT_EQ(node.KeyFrame(1).ProjectObject()->Name(), "tieA");
    EXPECT_EQ(node.KeyFrame(2).ProjectObject()->Name(), "tieB");
    EXPECT_EQ(node.KeyFrame(3).ProjectObject()->Name(), "late");
    // At 500 the later of the two equal keyframes is the previous one.
    EXPECT_FLOAT_EQ(ValueAt(node, 500, kPropOpacity), 60.0f);
    EXPECT_FLOAT_EQ(ValueAt(node, 250, kPropOpacity), 5.0f);
    EXPECT_FLOAT_EQ(ValueAt(node, 750, kPropOpacity), 80.0f);
}

TEST(Keyframes, OriginsCountFromTheSlideMoments) {
    auto built = BuildNode("object A:Image\nGUID=a\n"
                           "object k:KeyPoint\nTime=100\nend\n"
                           "object k:KeyPoint\nOrigin=PrevEffectEnd\nTime=10\nend\n"
                           "object k:KeyPoint\nOrigin=nexteffectbegin\nTime=-10\nend\n"
                           "object k:KeyPoint\nOrigin=SlideEnd\nTime=-500\nend\n"
                           "object k:KeyPoint\nOrigin=Sideways\nTime=7.9\nend\nend\n",
                           6000, 1000, 2000);
    TKivObjectProps& node = *built.node;
    ASSERT_EQ(node.KeyFrameCount(), 5);
    // Sorted: 7 (unknown origin = SlideBegin, time up to the dot), 100, 1010, 3990, 5500.
    EXPECT_DOUBLE_EQ(node.KeyFrame(0).Time(), 7);
    EXPECT_DOUBLE_EQ(node.KeyFrame(1).Time(), 100);
    EXPECT_DOUBLE_EQ(node.KeyFrame(2).Time(), 1010);
    EXPECT_DOUBLE_EQ(node.KeyFrame(3).Time(), 3990);
    EXPECT_DOUBLE_EQ(node.KeyFrame(4).Time(), 5500);
    EXPECT_EQ(node.KeyFrame(4).Origin(), kOriginSlideEnd);
}

TEST(Keyframes, GroupMasksFollowTheObjectType) {
    const char* keys = "object k:KeyPoint\nTime=0\nOffsX=10\nOpacity=20\nend\n"
                       "object k:KeyPoint\nTime=1000\nOffsX=30\nOpacity=40\nend\nend\n";
    auto text = BuildNode(std::string("object T:Text\nGUID=t\n") + keys, 2000);
    EXPECT_EQ(text.node->KeyFrame(0).Groups(), 0x7Fu);
    EXPECT_FLOAT_EQ(ValueAt(*text.node, 500, kPropFrameX), 0.0f) << "a text cannot pan";
    EXPECT_FLOAT_EQ(text.node->Value(kPropOpacity), 30.0f);

    auto image = BuildNode(std::string("object I:Image\nGUID=i\n") + keys, 2000);
    EXPECT_EQ(image.node->KeyFrame(0).Groups(), 0xFFu);
    EXPECT_FLOAT_EQ(ValueAt(*image.node, 500, kPropFrameX), 20.0f);

    auto splitter = BuildNode(std::string("object S:Splitter\nGUID=s\n") + keys, 2000);
    EXPECT_EQ(splitter.node->KeyFrame(0).Groups(), 0u);
    EXPECT_FLOAT_EQ(ValueAt(*splitter.node, 500, kPropOpacity), 100.0f) << "a splitter animates nothing";

    auto box = BuildNode(std::string("object B:Box\nGUID=b\n") + keys, 2000);
    EXPECT_EQ(box.node->KeyFrame(0).Groups(), 0x3Fu);

    auto animated = BuildNode(std::string("object I:Image\nGUID=i\nAnimEnable=1\n") + keys, 2000);
    EXPECT_EQ(animated.node->TypeCode(), kTypeAniImage);
    EXPECT_EQ(animated.node->KeyFrame(0).Groups(), 0x7Fu);

    auto partial = BuildNode("object I:Image\nGUID=i\nobject k:KeyPoint\ngrps=-1\nend\nend\n");
    EXPECT_EQ(partial.node->KeyFrame(0).Groups(), 0xFFu);
}

TEST(Keyframes, PairListsTakeDefaultsForMissingNumbers) {
    auto built =
        BuildNode("object A:Image\nGUID=a\n"
                  "object k:KeyPoint\nPosition=12.5\nCenterPos=,7\nScaleX=abc\nZoom=1e999\nend\nend\n");
    TKivObjectProps& node = *built.node;
    node.Evaluate(0, false);
    EXPECT_FLOAT_EQ(node.Value(kPropPosX), 12.5f);
    EXPECT_FLOAT_EQ(node.Value(kPropPosY), 0.0f);
    EXPECT_FLOAT_EQ(node.Value(kPropCenterX), 0.0f);
    EXPECT_FLOAT_EQ(node.Value(kPropCenterY), 7.0f);
    EXPECT_FLOAT_EQ(node.Value(kPropScaleX), 100.0f);
    EXPECT_FLOAT_EQ(node.Value(kPropFrameS), 100.0f);
}

TEST(Keyframes, FractionAfterTheLastKeyframeRunsToTheSlideEnd) {
    auto built = BuildNode("object A:Image\nGUID=a\n"
                           "object k:KeyPoint\nTime=0\nend\n"
                           "object k:KeyPoint\nTime=2000\nend\nend\n",
                           6000);
    TKivObjectProps& node = *built.node;
    node.Evaluate(2000, false);
    EXPECT_DOUBLE_EQ(node.Group(kGroupPos).fraction, 0.0);
    node.Evaluate(4000, false);
    EXPECT_DOUBLE_EQ(node.Group(kGroupPos).fraction, 0.5);
    node.Evaluate(6000, false);
    EXPECT_DOUBLE_EQ(node.Group(kGroupPos).fraction, 1.0);
    EXPECT_EQ(node.Group(kGroupPos).prev, 1);
    EXPECT_EQ(node.Group(kGroupPos).next, 1);
}

TEST(Keyframes, NoKeyframeKeepsDefaultsAndOneKeyframeItsValues) {
    auto none = BuildNode("object A:Image\nGUID=a\nend\n");
    EXPECT_FLOAT_EQ(ValueAt(*none.node, 500, kPropOpacity), 100.0f);
    EXPECT_FLOAT_EQ(none.node->Value(kPropScaleY), 100.0f);
    EXPECT_FALSE(none.node->ColorPresent());

    auto one =
        BuildNode("object A:Image\nGUID=a\nobject k:KeyPoint\nTime=300\ngrps=1\nOpacity=40\nend\nend\n");
    EXPECT_FLOAT_EQ(ValueAt(*one.node, 0, kPropOpacity), 40.0f);
    EXPECT_FLOAT_EQ(ValueAt(*one.node, 9000, kPropOpacity), 40.0f);
    EXPECT_FLOAT_EQ(one.node->Value(kPropScaleX), 100.0f);
    EXPECT_FALSE(one.node->ColorPresent());
}

TEST(Keyframes, PanFollowsTheZoomEvenly) {
    auto built = BuildNode("object A:Image\nGUID=a\n"
                           "object k:KeyPoint\nTime=0\nZoom=100\nOffsX=0\nOffsY=0\nend\n"
                           "object k:KeyPoint\nTime=1000\nZoom=300\nOffsX=100\nOffsY=100\nend\nend\n",
                           2000);
    TKivObjectProps& node = *built.node;
    node.Evaluate(500, false);
    const double z = 200.0;
    EXPECT_FLOAT_EQ(node.Value(kPropFrameS), 200.0f);
    // (Z0c - 1) = 0, (Z1c - 1) = 2: ((2 × 100) × 0.5) ÷ (Z c - 1).
    const double expected = (2.0 * 100.0 * 0.5) / (z * 0.01 - 1.0);
    EXPECT_FLOAT_EQ(node.Value(kPropFrameX), static_cast<float>(expected));
    EXPECT_FLOAT_EQ(node.Value(kPropFrameY), static_cast<float>(expected));
    // At 250 the zoom is 150 %: Z c - 1 = 0.5.
    node.Evaluate(250, false);
    EXPECT_FLOAT_EQ(node.Value(kPropFrameX), static_cast<float>(2.0 * 100.0 * 0.25 / 0.5));
}

TEST(Keyframes, PanAspectFactorsComeFromThePictureAndAspect) {
    auto built = BuildNode("object A:Image\nGUID=a\nEnableAspect=1\nAspect=1\nend\n");
    TKivObjectProps& node = *built.node;
    node.SetPictureSize(1000, 500);
    EXPECT_FLOAT_EQ(node.AspectX(), 0.02f);
    EXPECT_FLOAT_EQ(node.AspectY(), 0.01f);
    node.SetPictureSize(500, 1000);
    EXPECT_FLOAT_EQ(node.AspectX(), 0.01f);
    EXPECT_FLOAT_EQ(node.AspectY(), 0.02f);
    node.SetPictureSize(0, 1000);
    EXPECT_FLOAT_EQ(node.AspectX(), 0.01f);
    EXPECT_FLOAT_EQ(node.AspectY(), 0.01f);
}

TEST(Keyframes, RescaleMultipliesTimesAndDeltaTimes) {
    auto parsed =
        test::ParseObject("object R:Root\n"
                          "object A:Image\nGUID=a\nDeltaTime1=333\nDeltaTime2=1000\n"
                          "object k:KeyPoint\nTime=0\nOpacity=0\nend\n"
                          "object k:KeyPoint\nOrigin=SlideEnd\nTime=-1000\nOpacity=100\nend\nend\nend\n");
    TRef<TIniSection> slide = MakeRef<TIniSection>("Slide1");
    slide->SetText("ScaleMode", "1");
    slide->SetText("ScaleTimes", "4000,1000,1000");
    TSlideInfo moments{
        .start = 10000, .sync = 16000, .transition = 1000, .nextTransition = 1500, .end = 17500};
    const TKeyframeTiming timing = PlanKeyframeTiming(slide.Get(), moments);
    ASSERT_TRUE(timing.rescale);
    EXPECT_DOUBLE_EQ(timing.factor, 1.5);
    EXPECT_DOUBLE_EQ(timing.build.total, 5000);
    EXPECT_DOUBLE_EQ(timing.actual.total, 7500);

    TRef<TKivObjectProps> root = MakeRef<TKivObjectProps>();
    root->Build(*parsed.object, timing);
    TKivObjectProps* node = root->FindNode("a");
    ASSERT_NE(node, nullptr);
    EXPECT_DOUBLE_EQ(node->KeyFrame(1).Time(), 6000); // (5000 - 1000) × 1.5
    EXPECT_DOUBLE_EQ(node->DeltaTime1(), 500);        // round(499.5) to even
    EXPECT_DOUBLE_EQ(node->DeltaTime2(), 1500);
    EXPECT_DOUBLE_EQ(node->Durations().total, 7500);
    root->Evaluate(3000, true);
    EXPECT_FLOAT_EQ(node->Value(kPropOpacity), 50.0f);
    root->Evaluate(7000, true);
    EXPECT_FLOAT_EQ(node->Value(kPropOpacity), 100.0f);
}

TEST(Keyframes, TimingPlanModesAndBadScaleTimes) {
    TSlideInfo moments{.start = 0, .sync = 6000, .transition = 500, .nextTransition = 1000, .end = 7000};
    TRef<TIniSection> slide = MakeRef<TIniSection>("Slide1");
    slide->SetText("ScaleMode", "2");
    slide->SetText("ScaleTimes", "3000,500,1000");
    TKeyframeTiming timing = PlanKeyframeTiming(slide.Get(), moments);
    EXPECT_TRUE(timing.rescale);
    EXPECT_DOUBLE_EQ(timing.factor, 2.0); // (Sync - Start) ÷ a
    EXPECT_DOUBLE_EQ(timing.build.total, 4000);
    EXPECT_DOUBLE_EQ(timing.build.incoming, 500);

    for (const char* bad : {"0,500,0", "3000,500", "3000,x,1", "", "1,2,3,4"}) {
        slide->SetText("ScaleTimes", bad);
        timing = PlanKeyframeTiming(slide.Get(), moments);
        EXPECT_FALSE(timing.rescale) << bad;
        EXPECT_DOUBLE_EQ(timing.build.total, 7000) << bad;
    }
    slide->SetText("ScaleTimes", "3000,500,1000");
    slide->SetText("ScaleMode", "3");
    EXPECT_FALSE(PlanKeyframeTiming(slide.Get(), moments).rescale);
    EXPECT_FALSE(PlanKeyframeTiming(nullptr, moments).rescale);
}

TEST(Keyframes, RescaleRoundsTimesAndIgnoresBadFactors) {
    auto built = BuildNode("object A:Image\nGUID=a\n"
                           "object k:KeyPoint\nTime=1\nOpacity=10\nend\n"
                           "object k:KeyPoint\nTime=2\nOpacity=20\nend\n"
                           "object k:KeyPoint\nTime=10\nOpacity=30\nend\nend\n",
                           100);
    TKivObjectProps& node = *built.node;
    node.Evaluate(5, false);
    // A tiny factor counts as 1; a factor of 0.5 rounds 1 → 0 and 2 → 1 (halves to even).
    node.Rescale(MakeDurations(100, 0, 0), 0.00001);
    EXPECT_DOUBLE_EQ(node.KeyFrame(2).Time(), 10);
    node.Rescale(MakeDurations(50, 0, 0), 0.5);
    EXPECT_DOUBLE_EQ(node.KeyFrame(0).Time(), 0);
    EXPECT_DOUBLE_EQ(node.KeyFrame(1).Time(), 1);
    EXPECT_DOUBLE_EQ(node.KeyFrame(2).Time(), 5);
    EXPECT_FLOAT_EQ(ValueAt(node, 3, kPropOpacity), 25.0f);
    node.Rescale(MakeDurations(50, 0, 0), std::numeric_limits<double>::quiet_NaN());
    EXPECT_DOUBLE_EQ(node.KeyFrame(2).Time(), 5);
}

TEST(Keyframes, HostileTimesAndValuesStayFinite) {
    auto built = BuildNode("object A:Image\nGUID=a\n"
                           "object k:KeyPoint\nTime=99999999999\nOpacity=1e30\nend\n"
                           "object k:KeyPoint\nTime=nan\nOpacity=-1e30\nend\n"
                           "object k:KeyPoint\nTime=-2147483648\nOpacity=nan\nend\n"
                           "object k:KeyPoint\nTime=2147483647\nOpacity=inf\nend\nend\n",
                           std::numeric_limits<double>::infinity());
    TKivObjectProps& node = *built.node;
    EXPECT_DOUBLE_EQ(node.Durations().total, 0.0) << "a non-finite duration reads as 0";
    for (double t : {0.0, -1e300, 1e300, std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity()}) {
        node.Evaluate(t, false);
        for (int i = 0; i < kPropertyCount; ++i)
            EXPECT_TRUE(std::isfinite(node.Value(i))) << i;
    }
    node.Rescale(MakeDurations(1e9, 0, 0), 1e300);
    node.Evaluate(5e8, false);
    for (int i = 0; i < kPropertyCount; ++i)
        EXPECT_TRUE(std::isfinite(node.Value(i))) << i;
}

TEST(PropertyTree, ChildrenNeedAGuidAndAreReusedByIt) {
    const char* text = "object R:Root\n"
                       "object A:Image\nGUID=a\nend\n"
                       "object B:Text\nGUID=b\nobject C:Box\nGUID=c\nend\nend\n"
                       "object D:Whatever\nGUID=d\nend\nend\n";
    auto built = BuildNode(text);
    TKivObjectProps& root = *built.node;
    ASSERT_EQ(root.ChildCount(), 3);
    TKivObjectProps* b = root.FindChild("b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Parent(), &root);
    EXPECT_EQ(b->TypeCode(), kTypeText);
    EXPECT_EQ(root.FindChild("d")->TypeCode(), kTypeNone);
    EXPECT_EQ(root.FindNode("c")->Parent(), b);
    EXPECT_EQ(root.FindChild("c"), nullptr);

    // A rebuild from a reordered project keeps the nodes of the same GUIDs.
    TKivObjectProps* a = root.FindChild("a");
    auto reordered = test::ParseObject("object R:Root\n"
                                       "object D:Whatever\nGUID=d\nend\n"
                                       "object B:Text\nGUID=b\nend\n"
                                       "object A:Image\nGUID=a\nend\n"
                                       "object E:Image\nGUID=e\nend\nend\n");
    root.Build(*reordered.object, MakeDurations(1000, 0, 0));
    ASSERT_EQ(root.ChildCount(), 4);
    EXPECT_EQ(root.Child(2), a);
    EXPECT_EQ(root.Child(1), b);
    EXPECT_EQ(root.Child(1)->ChildCount(), 0);
    EXPECT_EQ(root.FindChild("e")->Guid(), "e");

    auto missing = test::ParseObject("object R:Root\nobject A:Image\nend\nend\n");
    TRef<TKivObjectProps> fresh = MakeRef<TKivObjectProps>();
    try {
        fresh->Build(*missing.object, MakeDurations(1000, 0, 0));
        FAIL() << "a child without GUID must fail the build";
    } catch (const EKivBuildError& error) {
        EXPECT_STREQ(error.what(), "KivObject GUID not Assigned");
    }
}

TEST(PropertyTree, ManyMovedChildrenAreFoundByGuid) {
    std::string forward = "object R:Root\n";
    std::string backward = "object R:Root\n";
    for (int i = 0; i < 20; ++i)
        forward += "object O:Box\nGUID=g" + std::to_string(i) + "\nend\n";
    for (int i = 19; i >= 0; --i)
        backward += "object O:Box\nGUID=g" + std::to_string(i) + "\nend\n";
    forward += "end\n";
    backward += "end\n";
    auto built = BuildNode(forward);
    std::vector<TKivObjectProps*> before;
    for (int i = 0; i < 20; ++i)
        before.push_back(built.node->Child(i));
    auto parsed = test::ParseObject(backward);
    built.node->Build(*parsed.object, MakeDurations(1000, 0, 0));
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(built.node->Child(19 - i), before[static_cast<std::size_t>(i)]) << i;
}

TEST(PropertyTree, RecursiveEvaluationReachesEveryChild) {
    auto built = BuildNode("object R:Root\n"
                           "object A:Image\nGUID=a\n"
                           "object k:KeyPoint\nTime=0\nAngle=0\nend\n"
                           "object k:KeyPoint\nTime=100\nAngle=90\nend\n"
                           "object B:Image\nGUID=b\n"
                           "object k:KeyPoint\nTime=0\nAngleY=0\nend\n"
                           "object k:KeyPoint\nTime=200\nAngleY=180\nend\nend\nend\nend\n");
    built.node->Evaluate(50, true);
    EXPECT_FLOAT_EQ(built.node->FindNode("a")->Value(kPropAngle), 45.0f);
    EXPECT_FLOAT_EQ(built.node->FindNode("b")->Value(kPropAngleY), 45.0f);
    built.node->Evaluate(100, false);
    EXPECT_FLOAT_EQ(built.node->FindNode("a")->Value(kPropAngle), 45.0f) << "not recursive";
}

} // namespace
} // namespace kiv

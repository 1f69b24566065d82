// Building the object tree from project objects — the class registry, rebuilds, the keys every
// object reads — and what bad show content does to it.
#include "SlideTestSupport.h"

#include "objects/ObjectFactory.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kiv::test {
namespace {

TEST(ObjectTree, ClassWordsCreateTheirClassesInProjectOrder) {
    TTestSlide test = MakeSlide(
        Box("f", "", "", "frame") + Box("b", "") + Box("s", "", "", "SPLITTER") +
        Box("v", "", Box("st", "", "", "MaskStencil") + Box("mc", "", "", "MaskContent"), "ViewPort"));
    ASSERT_EQ(test.slide->ChildCount(), 4);
    EXPECT_NE(dynamic_cast<TKivBox*>(test.slide->Child(0)), nullptr);
    EXPECT_EQ(test.slide->Child(0)->TypeCode(), kTypeFrame);
    EXPECT_EQ(test.slide->Child(1)->Guid(), "b");
    EXPECT_TRUE(dynamic_cast<TKivBox*>(test.slide->Child(2))->IsSplitter());
    ASSERT_NE(dynamic_cast<TKivViewPort*>(test.slide->Child(3)), nullptr);
    EXPECT_NE(dynamic_cast<TKivViewPort*>(test.slide->Child(3))->Stencil(), nullptr);
    EXPECT_EQ(test.Find("st")->Parent(), test.slide->Child(3));
}

TEST(ObjectTree, UnknownClassCreatesNothingButKeepsItsPropertyNode) {
    TTestSlide test =
        MakeSlide(Box("g", "Size=10,10\n", Box("inner", "Size=10,10\n"), "Gizmo") + Box("b", "Size=10,10\n"));
    ASSERT_EQ(test.slide->ChildCount(), 1);
    EXPECT_EQ(test.slide->Child(0)->Guid(), "b");
    EXPECT_NE(test.slide->Node()->FindNode("inner"), nullptr); // timing still knows it
    EXPECT_EQ(test.Find("inner"), nullptr);
}

TEST(ObjectTree, RegisteredFactoryMakesItsTypeAndReachesPreloadAndRelease) {
    class TCountingObject final : public TKivObject {
    public:
        explicit TCountingObject(TKivObject* parent) : TKivObject(parent) { size_ = {40, 30}; }
        int preloads = 0;
        int releases = 0;
        void PreloadBegin(TDeviceDrawer& drawer) override {
            if (drawer.IsReady()) ++preloads;
            TKivObject::PreloadBegin(drawer);
        }
        void ReleaseDevice(TDeviceDrawer& drawer) override {
            ++releases;
            TKivObject::ReleaseDevice(drawer);
        }
    };
    class TVideoFactory final : public TObjectFactory {
    public:
        TRef<TKivObject> Create(int typeCode, TKivObject& parent) const override {
            if (typeCode != kTypeVideo) return {};
            return MakeRef<TCountingObject>(&parent);
        }
    };
    RegisterObjectFactory(std::make_shared<TVideoFactory>());
    TTestSlide test = MakeSlide("object f:Frame\nGUID=f\nSize=10,10\n" + Box("v", "", "", "Video") + "end\n");
    auto* video = dynamic_cast<TCountingObject*>(test.Find("v"));
    ASSERT_NE(video, nullptr);
    EXPECT_NEAR(video->Scale().x, 10.0 / 40.0, 1e-12); // laid out like any object

    TRecordingDrawer drawer;
    drawer.ready = false;
    test.slide->PreloadBegin(drawer);
    EXPECT_EQ(video->preloads, 0);
    drawer.ready = true;
    test.slide->PreloadBegin(drawer);
    EXPECT_EQ(video->preloads, 1);
    test.slide->ReleaseDevice(drawer);
    EXPECT_EQ(video->releases, 1);
}

TEST(ObjectTree, RebuildKeepsObjectsByGuidAndDropsRemovedOnes) {
    TTestSlide test = MakeSlide(Box("a", "Size=10,10\n") + Box("b", "Size=20,10\n"));
    TKivObject* a = test.Find("a");
    TIniObject& root = TKivSlide::RootObject(*test.file->FindSection("Slide"));
    // b goes away, a gets a new size and a new child, c joins in front.
    root.Remove(*root.FindObject("b"));
    root.FindObject("a")->SetText("Size", "30,10");
    test.file->LoadFromText("[Slide]\nobject Container:Root\nGUID=root\n" + Box("c", "Size=5,5\n") +
                            Box("a", "Size=30,10\n", Box("a1", "Size=1,1\n")) + "end\n");
    TKeyframeTiming timing;
    timing.build = timing.actual = DurationsOf(test.slide->Times());
    test.slide->Build(TKivSlide::RootObject(*test.file->FindSection("Slide")), timing);
    test.Advance(0);
    ASSERT_EQ(test.slide->ChildCount(), 2);
    EXPECT_EQ(test.slide->Child(0)->Guid(), "c");
    EXPECT_EQ(test.slide->Child(1), a); // the same object, read again
    EXPECT_DOUBLE_EQ(a->Size().x, 30);
    EXPECT_EQ(a->ChildCount(), 1);
    EXPECT_EQ(test.Find("b"), nullptr);
}

TEST(ObjectTree, MissingGuidFailsTheBuild) {
    auto file = MakeRef<TIniFile>();
    file->LoadFromText("[Slide]\nobject Container:Root\nGUID=root\nobject x:Box\nSize=1,1\nend\nend\n");
    auto slide = MakeRef<TKivSlide>(nullptr, 0);
    TKeyframeTiming timing;
    EXPECT_THROW(slide->Build(TKivSlide::RootObject(*file->FindSection("Slide")), timing), EKivBuildError);
}

TEST(ObjectTree, MissingRootIsCreatedEmpty) {
    auto file = MakeRef<TIniFile>();
    file->LoadFromText("[Slide]\nbstyle=1\n");
    TIniObject& root = TKivSlide::RootObject(*file->FindSection("Slide"));
    EXPECT_EQ(root.Name(), "Container");
    EXPECT_EQ(&TKivSlide::RootObject(*file->FindSection("Slide")), &root);
}

TEST(ObjectKeys, CommonKeysAndTheirDefaults) {
    TTestSlide test = MakeSlide(
        Box("d", "") + Box("k", "FitMode=Cover\nPosMode=absolute\nCenterMode=Absolute\nTranspForClick=1\n"
                                "ShadowEnable=1\nShadowSize=4\nShadowColor=#102030\nShadowOpacity=80\n"
                                "ShadowDistance=3\nShadowAngle=90\nShadowSpreadIndex=2\n3DShadow=1\n"
                                "HideMode=3\nChildInvis=1\nAction=nextslide\nTreeNode=0\n"));
    const TKivCommonKeys& d = test.Find("d")->Keys();
    EXPECT_EQ(d.fitMode, kFitPlaceInto);
    EXPECT_EQ(d.posMode, kUnitPercent);
    EXPECT_FALSE(d.transpForClick);
    EXPECT_FALSE(d.shadowEnable);
    EXPECT_DOUBLE_EQ(d.shadowSize, 16);
    EXPECT_EQ(d.shadowColor, 0xFF000000u);
    EXPECT_DOUBLE_EQ(d.shadowOpacity, 59);
    EXPECT_DOUBLE_EQ(d.shadowDistance, 1.5);
    EXPECT_DOUBLE_EQ(d.shadowAngle, 45);
    EXPECT_TRUE(d.treeNode);
    EXPECT_TRUE(d.action.empty());

    const TKivCommonKeys& k = test.Find("k")->Keys();
    EXPECT_EQ(k.fitMode, kFitCover);
    EXPECT_EQ(k.posMode, kUnitAbsolute);
    EXPECT_EQ(k.centerMode, kUnitAbsolute);
    EXPECT_TRUE(k.transpForClick && k.shadowEnable && k.shadow3D && k.childInvis);
    EXPECT_EQ(k.shadowColor, 0xFF102030u);
    EXPECT_EQ(k.shadowSpreadIndex, 2);
    EXPECT_EQ(k.hideMode, 3);
    EXPECT_EQ(k.action, "nextslide");
    EXPECT_FALSE(k.treeNode);
}

TEST(ObjectKeys, UnrecognisedWordsAndUnknownKeysReadAsDefaults) {
    TTestSlide test =
        MakeSlide(Box("a", "Size=400,300\nFitMode=Stretch\nPosMode=Pixels\nFillMode=Plaid\nWobble=7\n"));
    const TKivObject& a = *test.Find("a");
    EXPECT_EQ(a.Keys().fitMode, kFitPlaceInto);
    EXPECT_EQ(a.Keys().posMode, kUnitPercent);
    EXPECT_EQ(dynamic_cast<const TKivBox&>(a).FillMode(), kBoxSolid);
    EXPECT_NEAR(a.Scale().x, 3.0, 1e-9);
}

TEST(ObjectKeys, WhatIsIgnoredIsLogged) {
    const std::string log = LoggedWhile([] {
        TTestSlide test = MakeSlide(Box("a", "Size=400,300\nFitMode=Stretch\nWobble=7\nFillMode=Plaid\n") +
                                    Box("g", "", "", "Gizmo"));
        EXPECT_EQ(test.slide->ChildCount(), 1);
    });
    EXPECT_NE(log.find("FitMode=Stretch"), std::string::npos) << log;
    EXPECT_NE(log.find("FillMode=Plaid"), std::string::npos) << log;
    EXPECT_NE(log.find("unknown key Wobble"), std::string::npos) << log;
    EXPECT_NE(log.find("\"Gizmo\""), std::string::npos) << log;
    // Keys the classes read are not reported.
    EXPECT_EQ(log.find("key Size"), std::string::npos) << log;
    EXPECT_EQ(log.find("key GUID"), std::string::npos) << log;
}

// --- Absurd values stay drawable or are skipped ---

bool AllFinite(const TKivObject& object) {
    for (const TVec3& corner : object.Corners())
        if (!IsFinite(corner)) return false;
    return IsFinite(object.Placement().origin);
}

TEST(ObjectBadInput, HugePercentagesAreClampedToFiniteGeometry) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n",
                                    Key("Position=1e9,-1e300\nScaleX=1e9\nScaleY=1e30\n"
                                        "CenterPos=1e300,5\nZPos=1e40\n")));
    const TKivObject& a = *test.Find("a");
    EXPECT_TRUE(AllFinite(a));
    EXPECT_LE(std::fabs(a.Scale().x), kMaxObjectExtent);
    EXPECT_DOUBLE_EQ(a.Value(kPropPosX), kMaxPropertyMagnitude);
    EXPECT_DOUBLE_EQ(a.Value(kPropPosY), -kMaxPropertyMagnitude);
    TRecordingDrawer drawer;
    drawer.Draw(*test.slide); // drawn or skipped, never a crash
    for (const TDrawCall& call : drawer.calls)
        EXPECT_TRUE(IsFinite(call.origin) && IsFinite(call.axisX) && IsFinite(call.axisY));
}

TEST(ObjectBadInput, NotANumberFromAFormulaReadsAsTheDefault) {
    const std::string key =
        "object k:KeyPoint\nTime=0\nPosition=10,0\nobject m:Mod\nid=m1\ndst=Pos.X\nfn=Sqrt(0-1)\nend\n"
        "object m:Mod\nid=m2\ndst=Angle\nfn=Ln(0)\nend\nend\n";
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", key + Key("Position=20,0\n", 1000)));
    test.Advance(500);
    const TKivObject& a = *test.Find("a");
    EXPECT_TRUE(std::isfinite(a.Value(kPropPosX)));
    EXPECT_TRUE(std::isfinite(a.Value(kPropAngle)));
    EXPECT_TRUE(AllFinite(a));
    EXPECT_TRUE(a.Placement().valid);
}

TEST(ObjectBadInput, HugeAnglesKeepTheirFraction) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n", Key("Angle=3600090\n")));
    const TPlacement& p = test.Find("a")->Placement();
    EXPECT_NEAR(p.axisX.x, 0.0, 1e-9); // 3 600 090° is a quarter turn
    EXPECT_NEAR(p.axisX.y, 3.0, 1e-9);
}

TEST(ObjectBadInput, NegativeOrZeroSizesAreSkipped) {
    TTestSlide test = MakeSlide(Box("neg", "Size=-400,300\n", Box("c", "Size=10,10\n")) +
                                Box("zero", "Size=0,0\n") + Box("flat", "Size=400,300\n", Key("ScaleY=0\n")));
    for (const char* guid : {"neg", "zero", "flat"}) {
        const TKivObject& o = *test.Find(guid);
        EXPECT_GE(o.Size().x, 0.0) << guid;
        EXPECT_FALSE(o.Placement().valid) << guid;
        EXPECT_FALSE(o.DrawnNow()) << guid;
    }
    TRecordingDrawer drawer;
    drawer.Draw(*test.slide);
    EXPECT_TRUE(drawer.calls.empty());
    EXPECT_EQ(test.slide->FindAt({800, 450}), nullptr);
}

TEST(ObjectBadInput, OpacityOutsideThePercentRangeIsClamped) {
    TTestSlide test = MakeSlide(Box("hi", "Size=10,10\n", Key("Opacity=250\n")) +
                                Box("lo", "Size=10,10\n", Key("Opacity=-20\n")));
    EXPECT_FLOAT_EQ(test.Find("hi")->EffectiveOpacity(), 100.0f);
    EXPECT_FLOAT_EQ(test.Find("lo")->EffectiveOpacity(), 0.0f);
}

TEST(ObjectBadInput, EmptySlideSizeLeavesEveryObjectUnplaced) {
    TTestSlide test = MakeSlide(Box("a", "Size=400,300\n"), 0.0, 0.0, 0.0);
    EXPECT_FALSE(test.Find("a")->Placement().valid);
    EXPECT_TRUE(AllFinite(*test.Find("a")));
}

} // namespace
} // namespace kiv::test

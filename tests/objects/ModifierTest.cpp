// Modifiers: name resolution, the formula limits, chains, failures and the one-keyframe rule.
#include "ObjectsTestSupport.h"

#include "objects/Modifier.h"

#include <cmath>
#include <numbers>

namespace kiv {
namespace {

using test::BuildNode;
using test::ValueAt;

std::string TwoKeys(const std::string& firstKeyChildren, const std::string& extra = {}) {
    return "object A:Image\nGUID=a\n" + extra + "object k:KeyPoint\nTime=0\nPosition=10,0\nOpacity=0\n" +
           firstKeyChildren +
           "end\n"
           "object k:KeyPoint\nTime=1000\nPosition=30,0\nOpacity=100\nend\nend\n";
}

std::string Mod(const std::string& dst, const std::string& fn, const std::string& keys = {}) {
    return "object m:Mod\ndst=" + dst + "\nfn=" + fn + "\n" + keys + "end\n";
}

TEST(Modifiers, ValueTimesTwoDoublesTheInterpolatedValue) {
    auto built = BuildNode(TwoKeys(Mod("Pos.X", "value*2")), 2000);
    EXPECT_FLOAT_EQ(ValueAt(*built.node, 500, kPropPosX), 40.0f);
    EXPECT_FLOAT_EQ(built.node->Value(kPropOpacity), 50.0f) << "other properties are untouched";
    // After the last keyframe the modifier of keyframe 0 no longer applies.
    EXPECT_FLOAT_EQ(ValueAt(*built.node, 1500, kPropPosX), 30.0f);
}

TEST(Modifiers, SineOfTheGroupFractionMakesHalfAWave) {
    auto built = BuildNode(TwoKeys(Mod("Pos.X", "Sin(Pos.T*Pi)*100")), 2000);
    for (double t : {0.0, 250.0, 500.0, 900.0}) {
        const double expected = std::sin(t / 1000.0 * std::numbers::pi) * 100.0;
        EXPECT_NEAR(ValueAt(*built.node, t, kPropPosX), expected, 1e-4) << t;
    }
}

TEST(Modifiers, KeyOfTheModObjectIsAConstant) {
    auto built = BuildNode(TwoKeys(Mod("Pos.Y", "amp*T", "amp=30\n")), 2000);
    EXPECT_FLOAT_EQ(ValueAt(*built.node, 500, kPropPosY), 15.0f);
    const TKivObjectMod* mod = built.node->KeyFrame(0).ValueModifierChain(kPropPosY);
    ASSERT_NE(mod, nullptr);
    // Folded at compile time: the program reads T and multiplies by the constant.
    ASSERT_EQ(mod->Program().Count(), 2);
    EXPECT_EQ(mod->Program()[1].kind, kCmdMulConst);
    EXPECT_DOUBLE_EQ(mod->Program()[1].constant, 30.0);
}

TEST(Modifiers, TimeModifierReshapesTheFraction) {
    auto built = BuildNode(TwoKeys(Mod("Opacity.T", "T*T")), 2000);
    EXPECT_FLOAT_EQ(ValueAt(*built.node, 500, kPropOpacity), 25.0f);
    EXPECT_DOUBLE_EQ(built.node->Group(kGroupOpacity).fraction, 0.25);
    EXPECT_FLOAT_EQ(built.node->Value(kPropPosX), 20.0f) << "the Pos group keeps its own fraction";
}

TEST(Modifiers, NamesResolveInOrder) {
    // A key named like a built-in function does not hide it; a key hides a property of the same
    // name; property names read the node; group fractions of other groups are readable.
    auto built =
        BuildNode(TwoKeys(Mod("Pos.Y", "Pi", "Pi=5\n") + Mod("Pos.Z", "Opacity+scale.x", "opacity=1\n") +
                          Mod("Blur", "Opacity.T+Frame.t")),
                  2000);
    TKivObjectProps& node = *built.node;
    node.Evaluate(500, false);
    EXPECT_FLOAT_EQ(node.Value(kPropPosY), static_cast<float>(std::numbers::pi));
    EXPECT_FLOAT_EQ(node.Value(kPropPosZ), 101.0f);
    EXPECT_FLOAT_EQ(node.Value(kPropBlur), 1.0f); // Opacity.T 0.5, Frame.T 0.5
}

TEST(Modifiers, LaterModifierForTheSameTargetRunsLast) {
    auto built = BuildNode(TwoKeys(Mod("Pos.X", "value+1") + Mod("Pos.X", "value*10")), 2000);
    // (20 + 1) × 10, not 20 × 10 + 1.
    EXPECT_FLOAT_EQ(ValueAt(*built.node, 500, kPropPosX), 210.0f);
    const TKivObjectMod* head = built.node->KeyFrame(0).ValueModifierChain(kPropPosX);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->Formula(), "value*10");
    ASSERT_NE(head->Next(), nullptr);
    EXPECT_EQ(ChainKind(head), kFilterValue);
}

TEST(Modifiers, BadModifiersAreDroppedAndPlainInterpolationRemains) {
    const std::string longFormula = "1" + std::string(128, ' ') + "+" + std::string(126, ' ') + "1";
    ASSERT_EQ(longFormula.size(), 257u);
    const std::string mods = Mod("Pos.X", "value*(2") +   // does not compile
                             Mod("Pos.X", "nosuchname") + // unknown name
                             Mod("Pos.X", "") +           // empty formula
                             Mod("", "value*2") +         // empty target
                             Mod("Pos.Q", "value*2") +    // names nothing
                             Mod("Pos.X", longFormula) +  // longer than 256 bytes
                             Mod("Frame.X", "value*2");   // a good one beside them
    auto built = BuildNode(TwoKeys(mods), 2000);
    const TKivKeyFrame& key = built.node->KeyFrame(0);
    EXPECT_EQ(key.ValueModifiers(kPropPosX).size(), 0u);
    EXPECT_EQ(key.ValueModifiers(kPropFrameX).size(), 1u);
    EXPECT_FLOAT_EQ(ValueAt(*built.node, 500, kPropPosX), 20.0f);

    // 256 bytes exactly is accepted.
    const std::string limit = "1" + std::string(127, ' ') + "+" + std::string(126, ' ') + "1";
    ASSERT_EQ(limit.size(), 256u);
    auto atLimit = BuildNode(TwoKeys(Mod("Pos.X", limit)), 2000);
    EXPECT_FLOAT_EQ(ValueAt(*atLimit.node, 500, kPropPosX), 2.0f);
}

TEST(Modifiers, FailingEvaluationYieldsZero) {
    auto built = BuildNode(
        TwoKeys(Mod("Pos.X", "1/(T-T)") + Mod("Pos.Y", "Sqrt(0-1-T)") + Mod("Scale.X", "ArcSin(2+T)")), 2000);
    TKivObjectProps& node = *built.node;
    node.Evaluate(500, false);
    EXPECT_FLOAT_EQ(node.Value(kPropPosX), 0.0f);
    EXPECT_FLOAT_EQ(node.Value(kPropPosY), 0.0f);
    EXPECT_FLOAT_EQ(node.Value(kPropScaleX), 0.0f);
    for (int i = 0; i < kPropertyCount; ++i)
        EXPECT_TRUE(std::isfinite(node.Value(i)));
}

TEST(Modifiers, HugeResultsAreHeldWithinTheFloatRange) {
    auto built =
        BuildNode(TwoKeys(Mod("Pos.X", "Power(10, 300)*(1+T)") + Mod("Pos.T", "Power(10, 300)")), 2000);
    TKivObjectProps& node = *built.node;
    node.Evaluate(500, false);
    EXPECT_TRUE(std::isfinite(node.Value(kPropPosX)));
    EXPECT_TRUE(std::isfinite(node.Value(kPropPosY)));
}

TEST(Modifiers, DisabledModifierIsSkipped) {
    auto built = BuildNode(TwoKeys(Mod("Pos.X", "value*2", "Disable=1\n")), 2000);
    EXPECT_FLOAT_EQ(ValueAt(*built.node, 500, kPropPosX), 20.0f);
}

TEST(Modifiers, OneKeyframeRuleRunsModifiersUntilTheSlideEnds) {
    auto built =
        BuildNode("object A:Image\nGUID=a\n"
                  "object k:KeyPoint\nTime=1000\ngrps=3\nPosition=10,5\nOpacity=80\n" +
                      Mod("Pos.X", "value+T*100") + Mod("Opacity.T", "T/2") + Mod("Blur", "7") + "end\nend\n",
                  5000);
    TKivObjectProps& node = *built.node;
    EXPECT_FLOAT_EQ(ValueAt(node, 500, kPropPosX), 10.0f) << "before the keyframe: its plain values";
    EXPECT_FLOAT_EQ(ValueAt(node, 1000, kPropPosX), 10.0f);
    EXPECT_FLOAT_EQ(ValueAt(node, 3000, kPropPosX), 60.0f); // fraction (3000 - 1000) ÷ 4000
    EXPECT_DOUBLE_EQ(node.Group(kGroupOpacity).fraction, 0.25);
    EXPECT_FLOAT_EQ(node.Value(kPropOpacity), 80.0f);
    EXPECT_FLOAT_EQ(node.Value(kPropBlur), 0.0f) << "the keyframe does not set Blur";
    EXPECT_FLOAT_EQ(ValueAt(node, 5000, kPropPosX), 110.0f);

    // A keyframe at the slide's end leaves no span: plain values.
    auto atEnd = BuildNode("object A:Image\nGUID=a\nobject k:KeyPoint\nOrigin=SlideEnd\nPosition=10,5\n" +
                               Mod("Pos.X", "value+100") + "end\nend\n",
                           5000);
    EXPECT_FLOAT_EQ(ValueAt(*atEnd.node, 5000, kPropPosX), 10.0f);
}

TEST(Modifiers, ReadingGivesEachModifierAnIdentityAndARebuildKeepsIt) {
    auto built = BuildNode(TwoKeys(Mod("Pos.X", "value*2")), 2000);
    TIniObject* modObject = built.parsed.object->Object(0)->Object(0);
    ASSERT_NE(modObject, nullptr);
    const std::string id = modObject->GetText("id");
    EXPECT_EQ(id.size(), 38u) << id;
    EXPECT_EQ(id.front(), '{');
    TKivObjectMod* before = built.node->KeyFrame(0).ValueModifierChain(kPropPosX);
    EXPECT_EQ(before->Id(), id);

    built.node->Build(*built.parsed.object, MakeDurations(2000, 0, 0));
    EXPECT_EQ(built.node->KeyFrame(0).ValueModifierChain(kPropPosX), before) << "re-read in place";

    // A changed revision makes a new modifier with the new formula.
    modObject->SetText("fn", "value*3");
    modObject->SetText("$rev", "1");
    built.node->Build(*built.parsed.object, MakeDurations(2000, 0, 0));
    TKivObjectMod* after = built.node->KeyFrame(0).ValueModifierChain(kPropPosX);
    ASSERT_NE(after, nullptr);
    EXPECT_NE(after, before);
    EXPECT_FLOAT_EQ(ValueAt(*built.node, 500, kPropPosX), 60.0f);
}

TEST(Modifiers, VariablesOutliveTheirNodeSafely) {
    TRef<TKivObjectMod> kept;
    {
        auto built = BuildNode(TwoKeys(Mod("Pos.X", "value*2")), 2000);
        kept = TRef<TKivObjectMod>::Share(built.node->KeyFrame(0).ValueModifierChain(kPropPosX));
    }
    ASSERT_TRUE(kept);
    EXPECT_DOUBLE_EQ(kept->EvaluateValue(), 0.0) << "a detached variable reads 0";
}

TEST(Modifiers, TargetParsing) {
    int index = -1;
    bool fraction = false;
    EXPECT_TRUE(TKivObjectMod::ParseTarget("frame.s", index, fraction));
    EXPECT_EQ(index, kPropFrameS);
    EXPECT_FALSE(fraction);
    EXPECT_TRUE(TKivObjectMod::ParseTarget("Color.t", index, fraction));
    EXPECT_EQ(index, kGroupColor);
    EXPECT_TRUE(fraction);
    for (const char* bad : {"", ".T", "T", "Pos", "Pos.", "Scale.Z", "Nothing.T"})
        EXPECT_FALSE(TKivObjectMod::ParseTarget(bad, index, fraction)) << bad;
}

} // namespace
} // namespace kiv

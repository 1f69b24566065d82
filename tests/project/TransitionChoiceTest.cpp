// The transition chosen for each slide: family descriptors built from catalog entries, the pool of
// enabled transitions with its passes and variant alternation, and the mosaic seed.
#include "ShowProjectSupport.h"

#include "project/EffectManager.h"
#include "project/KivEffect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace kiv {
namespace {

using test::MakeSource;
using test::ParseIni;

// A show of `slides` slides 10 s apart, each with the given effect ref, and a show-wide pool.
std::string Show(std::string_view poolChildren, int slides, std::string_view ref = "default", int time = -1,
                 std::string_view slideKeys = {}) {
    std::string text =
        "[Main]\nobject TheEffect:AnEffect\n  time=1500\n" + std::string(poolChildren) + "end\n";
    text += "[Times]\nopt_slidescount=" + std::to_string(slides) + "\n";
    for (int k = 1; k <= slides; ++k)
        text += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(k * 10000) + "\n";
    for (int k = 1; k <= slides; ++k) {
        text +=
            "[Slide" + std::to_string(k) + "]\nobject TheEffect:AnEffect\n  ref=" + std::string(ref) + "\n";
        if (time >= 0) text += "  time=" + std::to_string(time) + "\n";
        text += std::string(slideKeys) + "end\n";
    }
    return text;
}

std::string Child(std::string_view name, int stdidx, std::string_view keys) {
    return "  object " + std::string(name) + ":" + std::string(name) +
           "\n    stdidx=" + std::to_string(stdidx) + "\n" + std::string(keys) + "  end\n";
}

// The descriptor a slide that names a family gets.
TRef<TKivEffect> SlideEffect(std::string_view family, std::string_view keys, double* time = nullptr) {
    const TRef<TKivSource> source = MakeSource(Show("", 1, family, 500, keys));
    double t = 0;
    float smoothline = 0;
    TRef<TKivEffect> effect = source->GetSlideTransition(0, t, smoothline);
    if (time) *time = t;
    return effect;
}

TEST(TransitionChoice, PoolOfThreeUsesEachOncePerPass) {
    const std::string pool = Child("dissolve", 2, "    checked=1\n") +
                             Child("gates", 6, "    checked=1\n    direction=1\n") +
                             Child("swap", 13, "    checked=1\n    direction=0100\n");
    const TRef<TKivSource> source = MakeSource(Show(pool, 6), "kivviewer", 11);
    ASSERT_EQ(source->TransitionPool().Size(), 3);
    std::vector<std::uint32_t> drawn;
    for (int slide = 0; slide < 6; ++slide) {
        double time = 0;
        float smoothline = 0;
        const TRef<TKivEffect> effect = source->GetSlideTransition(slide, time, smoothline);
        ASSERT_TRUE(effect);
        EXPECT_EQ(time, 1500) << "default slides last the show-wide time";
        drawn.push_back(effect->type);
    }
    const std::set<std::uint32_t> all = {kEffectDissolve, kEffectGates, kEffectSwap};
    EXPECT_EQ(std::set<std::uint32_t>(drawn.begin(), drawn.begin() + 3), all);
    EXPECT_EQ(std::set<std::uint32_t>(drawn.begin() + 3, drawn.end()), all);
    EXPECT_EQ(source->TransitionPool().PickCounter(), 6);
}

TEST(TransitionChoice, SameSeedSameDraws) {
    std::string pool;
    const char* names[] = {"dissolve", "gates", "page", "push", "slide", "flip", "swap"};
    const int indexes[] = {2, 6, 7, 9, 10, 12, 13};
    for (int k = 0; k < 7; ++k)
        pool += Child(names[k], indexes[k], "    checked=1\n    direction=11111111\n");
    const auto draws = [&](std::uint64_t seed) {
        const TRef<TKivSource> source = MakeSource(Show(pool, 14), "kivviewer", seed);
        std::string text;
        for (int slide = 0; slide < 14; ++slide) {
            double time = 0;
            float smoothline = 0;
            const TRef<TKivEffect> effect = source->GetSlideTransition(slide, time, smoothline);
            text += std::to_string(effect->type) + ":" + effect->SwitchText() + " ";
        }
        return text;
    };
    EXPECT_EQ(draws(3), draws(3));
    EXPECT_NE(draws(3), draws(4)) << "fourteen draws from seven transitions hardly repeat across seeds";
}

TEST(TransitionChoice, VariantsAlternateBetweenOddAndEven) {
    const TRef<TKivSource> source =
        MakeSource(Show(Child("gates", 6, "    checked=1\n    direction=11111111\n"), 12), "kivviewer", 5);
    for (int slide = 0; slide < 12; ++slide) {
        double time = 0;
        float smoothline = 0;
        const TRef<TKivEffect> effect = source->GetSlideTransition(slide, time, smoothline);
        ASSERT_TRUE(effect);
        const std::string switches = effect->SwitchText();
        ASSERT_EQ(std::count(switches.begin(), switches.end(), '1'), 1) << switches;
        const auto variant = static_cast<int>(switches.find('1'));
        EXPECT_EQ(variant % 2, slide % 2 == 0 ? 1 : 0) << "draw " << slide << ": " << switches;
        EXPECT_EQ(source->TransitionPool().ParityBit(), slide % 2 == 0);
    }
}

TEST(TransitionChoice, SingleVariantIsAlwaysChosen) {
    const TRef<TKivSource> source =
        MakeSource(Show(Child("push", 9, "    checked=1\n    direction=0010\n"), 5), "kivviewer", 9);
    for (int slide = 0; slide < 5; ++slide) {
        double time = 0;
        float smoothline = 0;
        EXPECT_EQ(source->GetSlideTransition(slide, time, smoothline)->SwitchText(), "0010");
    }
}

TEST(TransitionChoice, PushDirectionsReadSecondCharacterFirst) {
    const TRef<TKivEffect> push = SlideEffect("push", "  direction=0100\n");
    ASSERT_TRUE(push);
    EXPECT_EQ(push->type, kEffectPush);
    EXPECT_EQ(push->SwitchText(), "1000");
    EXPECT_EQ(push->variantCount, 1);
    EXPECT_EQ(SlideEffect("swap", "  direction=1000\n")->SwitchText(), "0100");
}

TEST(TransitionChoice, CurlingDirectionsRunBackwards) {
    const TRef<TKivEffect> curling =
        SlideEffect("curling", "  action=10\n  direction=10000000\n  usecolor=1\n  color=#102030\n");
    ASSERT_TRUE(curling);
    EXPECT_EQ(curling->SwitchText(), "10"
                                     "00000001"
                                     "10");
    ASSERT_EQ(curling->intParams.size(), 2u);
    EXPECT_EQ(curling->intParams[0], 1);
    EXPECT_EQ(curling->intParams[1], 0x302010) << "stored as 0x00BBGGRR";
    EXPECT_EQ(curling->floatParams, (std::vector<float>{0.0f, 0.125f}));
}

TEST(TransitionChoice, HourhandVariantsPairActionsWithDirections) {
    const TRef<TKivEffect> both = SlideEffect("hourhand", "  action=11\n  direction=101000000\n");
    ASSERT_TRUE(both);
    EXPECT_EQ(both->variantCount, 4);
    EXPECT_EQ(both->smoothline, 0.35);
    TRef<TKivEffect> third = both->Copy();
    third->KeepVariant(3);
    EXPECT_EQ(third->SwitchText(), "01"
                                   "001000000");
    TRef<TKivEffect> first = both->Copy();
    first->KeepVariant(0);
    EXPECT_EQ(first->SwitchText(), "10"
                                   "100000000");

    const TRef<TKivEffect> second = SlideEffect("hourhand", "  action=01\n  direction=101000000\n");
    EXPECT_EQ(second->variantCount, 2);
    for (int variant = 0; variant < 2; ++variant) {
        TRef<TKivEffect> kept = second->Copy();
        kept->KeepVariant(variant);
        EXPECT_EQ(kept->SwitchText(), "01"
                                      "101000000")
            << "the filter chooses among the directions";
    }
}

TEST(TransitionChoice, HourhandDrawnFromThePool) {
    const TRef<TKivSource> source =
        MakeSource(Show(Child("hourhand", 4, "    key=action\n    action=11\n    direction=101000000\n"), 2,
                        "defowntime", 700),
                   "kivviewer", 2);
    ASSERT_EQ(source->TransitionPool().Size(), 1);
    double time = 0;
    float smoothline = 0;
    const TRef<TKivEffect> odd = source->GetSlideTransition(0, time, smoothline);
    EXPECT_EQ(time, 700) << "defowntime keeps the slide's own time";
    EXPECT_FLOAT_EQ(smoothline, 0.35f) << "the drawn descriptor's smoothline";
    const std::set<std::string> oddVariants = {"10"
                                               "001000000",
                                               "01"
                                               "001000000"};
    EXPECT_TRUE(oddVariants.count(odd->SwitchText())) << odd->SwitchText();
    const TRef<TKivEffect> even = source->GetSlideTransition(1, time, smoothline);
    const std::set<std::string> evenVariants = {"10"
                                                "100000000",
                                                "01"
                                                "100000000"};
    EXPECT_TRUE(evenVariants.count(even->SwitchText())) << even->SwitchText();
}

TEST(TransitionChoice, FamilyParametersAndDefaults) {
    const TRef<TKivEffect> swap = SlideEffect("swap", "  direction=1111\n  depth=2.5\n  angle=abc\n");
    EXPECT_EQ(swap->floatParams, (std::vector<float>{2.5f, 1.0f, 60.0f}));
    EXPECT_EQ(swap->smoothline, TKivEffect::kNoSmoothline);
    const TRef<TKivEffect> shapes =
        SlideEffect("shapes", "  action=1\n  direction=111\n  centerx=20\n  smoothline=0.05\n");
    EXPECT_EQ(shapes->intParams, (std::vector<std::int32_t>{20, 50}));
    EXPECT_EQ(shapes->smoothline, TKivEffect::kNoSmoothline) << "below 0.1";
    EXPECT_EQ(shapes->variantCount, 3);
    const TRef<TKivEffect> flip = SlideEffect("flip", "  direction=0110\n  spin_center=1\n");
    EXPECT_EQ(flip->SwitchText(), "1010"
                                  "10");
    EXPECT_EQ(flip->variantCount, 2);
    TRef<TKivEffect> kept = flip->Copy();
    kept->KeepVariant(1);
    EXPECT_EQ(kept->SwitchText(), "0010"
                                  "10")
        << "the options keep their values";
    const TRef<TKivEffect> page = SlideEffect("page", "  direction=11\n  smoothline=0.5\n");
    EXPECT_EQ(page->smoothline, 0.5);
    EXPECT_EQ(page->variantCount, 2);
}

TEST(TransitionChoice, MosaicGetsARandomSeed) {
    double time = 0;
    const TRef<TKivEffect> mosaic = SlideEffect("mosaic", "  cols=8\n  rows=6\n", &time);
    ASSERT_TRUE(mosaic);
    ASSERT_EQ(mosaic->intParams.size(), 4u);
    EXPECT_EQ(mosaic->intParams[0], 8);
    EXPECT_EQ(mosaic->intParams[1], 6);
    EXPECT_EQ(mosaic->intParams[2], 0);
    EXPECT_GE(mosaic->intParams[3], 0);
    EXPECT_LE(mosaic->intParams[3], 16777215);
    EXPECT_EQ(time, 500);
    std::set<std::int32_t> seeds;
    const TRef<TKivSource> source = MakeSource(Show("", 8, "mosaic", 100), "kivviewer", 77);
    for (int slide = 0; slide < 8; ++slide) {
        float smoothline = 0;
        seeds.insert(source->GetSlideTransition(slide, time, smoothline)->intParams.at(3));
    }
    EXPECT_GT(seeds.size(), 1u);
}

TEST(TransitionChoice, NoTransitionCases) {
    double time = -1;
    EXPECT_FALSE(SlideEffect("dissolve", "  time=0\n", &time)) << "dissolve lasting 0 ms";
    EXPECT_EQ(time, 0);
    EXPECT_FALSE(SlideEffect("quick", ""));
    EXPECT_FALSE(SlideEffect("dissolve", "  checked=0\n")) << "nothing switched on";
    EXPECT_FALSE(SlideEffect("gates", "")) << "a missing direction key switches every direction off";
    EXPECT_FALSE(SlideEffect("dissolve", "  time=-300\n"));

    // An empty pool: default and defowntime slides have no transition.
    const TRef<TKivSource> source =
        MakeSource(Show(Child("gates", 6, "    checked=1\n    direction=0\n"), 2));
    EXPECT_EQ(source->TransitionPool().Size(), 0) << "an entry without variants stays out";
    double t = -1;
    float smoothline = -1;
    EXPECT_FALSE(source->GetSlideTransition(0, t, smoothline));
    EXPECT_EQ(t, 0);
    EXPECT_EQ(smoothline, 0);
    EXPECT_FALSE(source->GetSlideTransition(5, t, smoothline)) << "indexes wrap to the slide count";
}

TEST(TransitionChoice, CustomEntriesGiveOneDescriptorPerEnabledVariant) {
    const std::string pool = "  object Stars:custom\n    sectionfield=a\n    a=101\n    key=a\n"
                             "    slide_100=one\n    slide_001=three\n  end\n";
    const TRef<TKivSource> source =
        MakeSource(Show(pool, 2) + "[effect_one]\nobject Root:Container\nend\n[effect_three]\nx=3\n");
    ASSERT_EQ(source->TransitionPool().Size(), 2);
    std::set<std::string> sections;
    for (int k = 0; k < 2; ++k) {
        const TKivEffect& effect = source->TransitionPool().At(k);
        EXPECT_EQ(effect.type, kEffectCustom);
        EXPECT_EQ(effect.variantCount, 1);
        EXPECT_EQ(effect.SwitchText(), "1");
        ASSERT_TRUE(effect.customSection);
        sections.insert(effect.customSection->Name());
        EXPECT_EQ(effect.customSection->GetText("CoverMode"), "1");
    }
    EXPECT_EQ(sections, (std::set<std::string>{"effect_one", "effect_three"}));

    // A slide naming the custom entry gets its first enabled variant.
    const TRef<TKivSource> named = MakeSource(Show(pool, 1, "stars", 900) + "[effect_one]\nx=1\n");
    double time = 0;
    float smoothline = 0;
    const TRef<TKivEffect> effect = named->GetSlideTransition(0, time, smoothline);
    ASSERT_TRUE(effect);
    EXPECT_EQ(effect->type, kEffectCustom);
    ASSERT_TRUE(effect->customSection);
    EXPECT_EQ(effect->customSection->Name(), "effect_one");
    EXPECT_EQ(time, 900);
    // The drawn copy shares the pool's section.
    const TRef<TKivSource> drawn = MakeSource(Show(pool, 1) + "[effect_one]\nx=1\n[effect_three]\n");
    const TRef<TKivEffect> picked = drawn->GetSlideTransition(0, time, smoothline);
    ASSERT_TRUE(picked);
    const bool shared = picked->customSection == drawn->TransitionPool().At(0).customSection ||
                        picked->customSection == drawn->TransitionPool().At(1).customSection;
    EXPECT_TRUE(shared);
}

TEST(TransitionChoice, StandardIndexesMapToFamilies) {
    EXPECT_EQ(EffectFamilyOfStdIndex(0), 0u);
    EXPECT_EQ(EffectFamilyOfStdIndex(1), 0u);
    EXPECT_EQ(EffectFamilyOfStdIndex(3), 0u);
    EXPECT_EQ(EffectFamilyOfStdIndex(2), kEffectDissolve);
    EXPECT_EQ(EffectFamilyOfStdIndex(4), kEffectHourhand);
    EXPECT_EQ(EffectFamilyOfStdIndex(8), kEffectMosaic);
    EXPECT_EQ(EffectFamilyOfStdIndex(13), kEffectSwap);
    EXPECT_EQ(EffectFamilyOfStdIndex(14), kEffectCustom);
    EXPECT_EQ(EffectFamilyOfStdIndex(-1), kEffectCustom);
    EXPECT_EQ(EffectFamilyOfName("curling"), kEffectCurling);
    EXPECT_EQ(EffectFamilyOfName("Curling"), 0u) << "names arrive lower-cased";
}

TEST(TransitionChoice, ShuffleKeepsAPermutation) {
    std::string pool;
    for (int k = 0; k < 9; ++k)
        pool += "  object d" + std::to_string(k) + ":dissolve\n    stdidx=2\n    checked=1\n  end\n";
    const TRef<TKivSource> source = MakeSource(Show(pool, 1));
    std::vector<std::int32_t> order = source->TransitionPool().Order();
    ASSERT_EQ(order.size(), 9u);
    std::sort(order.begin(), order.end());
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(order[static_cast<std::size_t>(k)], k);
}

} // namespace
} // namespace kiv

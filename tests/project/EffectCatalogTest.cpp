// The effect catalog: entries of the show-wide pool and of slides, their switch state, values with
// their precedence, transition times and the variants of custom transitions.
#include "ShowProjectSupport.h"

#include "project/EffectManager.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using test::ParseIni;

TRef<TKIVEffectManager> Catalog(const TRef<TIniFile>& document) {
    return MakeRef<TKIVEffectManager>(document.Get(), 0, 0);
}

// A show-wide pool with time 3000 and the given child objects, and slides with the given refs.
std::string PoolText(std::string_view children, int time = 3000) {
    return "[Main]\nobject TheEffect:AnEffect\n  time=" + std::to_string(time) + "\n" +
           std::string(children) + "end\n";
}

TEST(EffectCatalog, MissingShowWideSettingsAreCreatedWithTwoSeconds) {
    const TRef<TIniFile> document =
        ParseIni(test::TimesText({5000, 9000}) + test::SlideText(1, "default", -1) +
                     test::SlideText(2, "defowntime", -1));
    const TRef<TKIVEffectManager> catalog = Catalog(document);
    EXPECT_EQ(catalog->DefaultTime(), 2000);
    EXPECT_EQ(document->ReadString("Main", "TheEffect:time", "?"), "?") << "the key lives in the object";
    ASSERT_NE(document->FindSection("Main")->FindObject("TheEffect", "AnEffect"), nullptr);
    EXPECT_EQ(catalog->EntryCount(), 3) << "only the built-ins";
    EXPECT_EQ(catalog->Entry(0)->Name(), "default");
    EXPECT_EQ(catalog->Entry(2)->Name(), "quick");
    EXPECT_EQ(catalog->Entry(3), nullptr);
    EXPECT_FALSE(catalog->AnyEnabled());
    EXPECT_EQ(catalog->SlideTime(0), 0);
    EXPECT_EQ(catalog->SlideTime(1), 0);
    EXPECT_EQ(catalog->SlideTime(-1), 2000);
    EXPECT_EQ(catalog->SlideTime(2), 0) << "beyond the slide count";
}

TEST(EffectCatalog, SlideWithoutTransitionObjectRefersToDefault) {
    const TRef<TIniFile> document = ParseIni(test::TimesText({100}) + "[Slide1]\nPicture=a.jpg\n");
    const TRef<TKIVEffectManager> catalog = Catalog(document);
    TEffectProp* entry = catalog->SlideEntry(0);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->IsReference());
    EXPECT_EQ(entry->Name(), "default");
    EXPECT_EQ(entry->StdIndex(), 0);
    EXPECT_EQ(entry->TypeWord(), "default");
    EXPECT_EQ(catalog->SlideEntry(0), entry) << "cached";
    EXPECT_EQ(document->FindSection("Slide1")->FindObject("TheEffect")->GetText("ref"), "default");
}

TEST(EffectCatalog, EnabledIsATriState) {
    const auto enabled = [](std::string_view keys) {
        const TRef<TIniFile> document =
            ParseIni(PoolText("  object hourhand:hourhand\n" + std::string(keys) + "  end\n"));
        return Catalog(document)->Entry(0)->Enabled();
    };
    EXPECT_EQ(enabled("key=action,direction\naction=11\ndirection=100000000\n"), 1);
    EXPECT_EQ(enabled("key=action,direction\naction=11\ndirection=000000000\n"), 0);
    EXPECT_EQ(enabled("key=action,direction\naction=11\ndirection=111111111\n"), 2);
    EXPECT_EQ(enabled("key=action,direction\naction=01\ndirection=111111111\n"), 1);
    EXPECT_EQ(enabled("key=action,direction\naction=0x\ndirection=1\n"), 0)
        << "only 0 and 1 count after the first";
    EXPECT_EQ(enabled("key=action,direction\naction=11\n"), 0) << "a missing key is off";
    EXPECT_EQ(enabled("checked=1\n"), 2);
    EXPECT_EQ(enabled("checked=true\n"), 0);
    EXPECT_EQ(enabled(""), 0);
}

TEST(EffectCatalog, DefOwnTimeSlideTakesAndKeepsTheShowWideTime) {
    const TRef<TIniFile> document = ParseIni(
        PoolText("  object dissolve:dissolve\n  checked=1\n  end\n") + test::TimesText({100, 200}) +
        test::SlideText(1, "defowntime", -1) + test::SlideText(2, "DefOwnTime", 750));
    const TRef<TKIVEffectManager> catalog = Catalog(document);
    EXPECT_TRUE(catalog->AnyEnabled());
    EXPECT_EQ(catalog->SlideTime(0), 3000);
    EXPECT_EQ(catalog->SlideTime(0), 3000);
    EXPECT_EQ(document->FindSection("Slide1")->FindObject("TheEffect")->GetText("time"), "3000");
    EXPECT_EQ(catalog->SlideTime(1), 750) << "its own time wins";
}

TEST(EffectCatalog, FamilySlideWithoutOwnTimeLastsNothingOnTheTimeline) {
    const TRef<TIniFile> document =
        ParseIni(PoolText("  object dissolve:dissolve\n  checked=1\n  caption=Fade\n  end\n") +
                     test::TimesText({100, 200, 300}) + test::SlideText(1, "dissolve", -1) +
                     test::SlideText(2, "default", -1) + test::SlideText(3, "quick", 400));
    const TRef<TKIVEffectManager> catalog = Catalog(document);
    TEffectProp* slide = catalog->SlideEntry(0);
    EXPECT_EQ(slide->Time(), 0);
    EXPECT_EQ(slide->Value("time"), "3000") << "the value lookup reaches the show-wide time";
    EXPECT_EQ(slide->Value("Caption"), "Fade");
    EXPECT_EQ(slide->TypeWord(), "dissolve");
    EXPECT_EQ(catalog->SlideTime(1), 3000);
    EXPECT_EQ(catalog->SlideTime(2), 0) << "quick";
}

TEST(EffectCatalog, ValuePrecedence) {
    const TRef<TIniFile> document = ParseIni(
        "[Main]\nobject TheEffect:AnEffect\n  time=2500\n  color=9\n"
        "  object Gates:gates\n    stdidx=6\n    direction=11110000\n    smoothline=0.5\n  end\n"
        "  object defowntime:defowntime\n  end\n"
        "end\n" +
        test::TimesText({1, 2, 3}) + "[Slide1]\nobject TheEffect:AnEffect\n  ref=GATES\n  direction=\nend\n" +
        "[Slide2]\nobject TheEffect:AnEffect\n  ref=mystery\nend\n");
    const TRef<TKIVEffectManager> catalog = Catalog(document);
    TEffectProp* gates = catalog->SlideEntry(0);
    EXPECT_EQ(gates->Name(), "gates");
    EXPECT_EQ(gates->Value("direction"), "") << "its own key, even empty";
    EXPECT_EQ(gates->Value("smoothline"), "0.5") << "from the pool entry";
    EXPECT_EQ(gates->Value("color"), "")
        << "the pool entry answers for a name it bears, even without the key";
    EXPECT_EQ(gates->StdIndex(), 6);

    TEffectProp* mystery = catalog->SlideEntry(1);
    EXPECT_EQ(mystery->TypeWord(), "mystery");
    EXPECT_EQ(mystery->StdIndex(), 2);
    EXPECT_EQ(mystery->Value("color"), "9");
    EXPECT_EQ(mystery->VariantCount(), 0);

    TEffectProp* pool = catalog->Entry(catalog->IndexOf("GATES"));
    EXPECT_FALSE(pool->IsReference());
    EXPECT_EQ(pool->Value("TIME"), "2500") << "a pool entry's time is the show-wide one";
    EXPECT_EQ(pool->Time(), 2500);
    EXPECT_EQ(pool->StdIndex(), 6);
    EXPECT_EQ(catalog->Entry(1)->Value("time"), "2500") << "defowntime pool entry: the default time text";

    // The pool bears "defowntime", so only "default" and "quick" are added.
    EXPECT_EQ(catalog->EntryCount(), 4);
    EXPECT_EQ(catalog->Entry(2)->Name(), "default");
    EXPECT_EQ(catalog->Entry(3)->Name(), "quick");
    EXPECT_EQ(catalog->FindEntry("quick")->Object().GetText("group"), "GroupBasic");
    EXPECT_EQ(catalog->FindEntry("Quick"), nullptr) << "built-ins are found by their exact name";
    EXPECT_EQ(catalog->FindEntry("quick")->Value("time"), "") << "a built-in has no parent";
    EXPECT_EQ(catalog->FindEntry("quick")->Time(), 2500);
    catalog->SetVirtualEntries(false);
    EXPECT_EQ(catalog->EntryCount(), 2);
    EXPECT_EQ(catalog->FindEntry("quick"), nullptr);
}

std::string CustomEntry(std::string_view extra) {
    return PoolText("  object Stars:custom\n  sectionfield=a,b\n  a=101\n  b=11\n  key=a\n" +
                    std::string(extra) + "  end\n");
}

TEST(EffectCatalog, CustomVariantsAreAMixedRadixOverTheirKeys) {
    const TRef<TIniFile> document =
        ParseIni(CustomEntry("  slide_100_01=one\n  slide_010_01=three\n") + test::TimesText({1}) +
                     test::SlideText(1, "stars", -1) + "[effect_one]\nx=1\n");
    const TRef<TKIVEffectManager> catalog = Catalog(document);
    TEffectProp* entry = catalog->Entry(0);
    ASSERT_TRUE(entry->IsCustom());
    EXPECT_EQ(entry->VariantCount(), 6);
    EXPECT_TRUE(entry->VariantEnabled(0));
    EXPECT_TRUE(entry->VariantEnabled(1)) << "digits a:0 b:1";
    EXPECT_FALSE(entry->VariantEnabled(2)) << "digits a:1 b:0; a's second character is 0";
    EXPECT_FALSE(entry->VariantEnabled(6));
    EXPECT_FALSE(entry->VariantEnabled(-1));
    ASSERT_NE(entry->VariantItem(1), nullptr);
    EXPECT_EQ(entry->VariantItem(1)->Name(), "slide_100_01");
    EXPECT_EQ(entry->VariantItem(3)->Value(), "three");
    EXPECT_EQ(entry->VariantItem(0), nullptr);
    EXPECT_EQ(entry->VariantSection(1, false), document->FindSection("effect_one"));
    EXPECT_EQ(entry->VariantSection(3, false), nullptr);

    TEffectProp* slide = catalog->SlideEntry(0);
    EXPECT_TRUE(slide->IsCustom());
    EXPECT_EQ(slide->VariantKeys(), entry->VariantKeys());
    EXPECT_EQ(slide->VariantCount(), 1) << "keys the slide lacks count 1";
    EXPECT_TRUE(slide->VariantEnabled(0));
    EXPECT_EQ(slide->VariantItem(1), entry->VariantItem(1)) << "a slide asks its entry";
    // The slide's own values of the variant keys choose among the variants.
    slide->Object().SetText("a", "011");
    slide->Object().SetText("b", "10");
    EXPECT_EQ(slide->VariantCount(), 6);
    EXPECT_FALSE(slide->VariantEnabled(1)) << "b's second character is 0";
    EXPECT_TRUE(slide->VariantEnabled(2));
    EXPECT_EQ(slide->VariantSection(1, false), document->FindSection("effect_one"));
}

TEST(EffectCatalog, SingleVariantCustomEntryNamesSlideOne) {
    const TRef<TIniFile> document =
        ParseIni(PoolText("  object Solo:Custom\n  sectionfield=Checked\n  checked=1\n  end\n"));
    const TRef<TKIVEffectManager> catalog = Catalog(document);
    TEffectProp* entry = catalog->Entry(0);
    EXPECT_EQ(entry->VariantCount(), 1);
    EXPECT_TRUE(entry->VariantEnabled(0));
    TIniItem* item = entry->VariantItem(0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Name(), "slide_1");
    EXPECT_EQ(item->Value(), "solo") << "created with the entry's name";
    EXPECT_EQ(entry->VariantItem(1), nullptr);
}

TEST(EffectCatalog, VariantCopyCarriesUserPropertiesAndBackground) {
    const TRef<TIniFile> document =
        ParseIni(CustomEntry("  slide_100_01=one\n  bstyle=3\n  userprops=3\n  prop1=id:speed;type:int\n"
                                 "  prop2=id:a;type:text\n  prop3=\n  speed=42\n") +
                     "[Main]\nopt_scr_width=1024\nopt_scr_height=768\n[effect_one]\nobject Root:Container\n  "
                     "keep=1\nend\n");
    const TRef<TKIVEffectManager> catalog = Catalog(document);
    TEffectProp* entry = catalog->Entry(0);
    const TRef<TIniSection> copy = entry->VariantCopy(1);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->Name(), "effect_one");
    EXPECT_EQ(copy->File(), nullptr) << "a detached copy";
    const TIniObject* root = copy->FindObject("Root", "Container");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetText("keep"), "1");
    EXPECT_EQ(root->GetText("prop1"), "id:speed;type:int");
    EXPECT_EQ(root->GetText("speed"), "42");
    EXPECT_EQ(root->FindItem("prop2"), nullptr) << "a property whose id is a variant key";
    EXPECT_EQ(root->FindItem("prop3"), nullptr);
    EXPECT_EQ(copy->GetText("CustomEffBg"), "0");
    EXPECT_EQ(copy->GetText("bstyle"), "3");
    EXPECT_EQ(copy->GetText("bcolor1"), "16711680");
    EXPECT_EQ(copy->GetText("bcolor2"), "0");
    EXPECT_EQ(copy->GetText("bcolorStyle"), "1");
    EXPECT_EQ(copy->GetText("TransparentBg"), "0");
    EXPECT_EQ(copy->GetText("CoverMode"), "1");
    EXPECT_EQ(copy->GetText("opt_scr_width"), "1024");
    EXPECT_EQ(copy->GetText("opt_scr_height"), "768");
    EXPECT_EQ(document->FindSection("effect_one")->FindItem("CoverMode"), nullptr)
        << "the original is untouched";
}

TEST(EffectCatalog, BackgroundStyles) {
    const auto background = [](std::string_view keys) {
        const TRef<TIniFile> document =
            ParseIni(PoolText("  object Bg:custom\n" + std::string(keys) + "  end\n"));
        const TRef<TKIVEffectManager> catalog = Catalog(document);
        TRef<TIniSection> list = MakeRef<TIniSection>("x");
        catalog->Entry(0)->FillBackground(*list);
        return list;
    };
    TRef<TIniSection> list = background("  bstyle=4\n");
    EXPECT_EQ(list->GetText("CustomEffBg"), "3");
    list = background("  bstyle=4\n  CustomEffBg=7\n  TransparentBg=1\n");
    EXPECT_EQ(list->GetText("CustomEffBg"), "7");
    EXPECT_EQ(list->GetText("TransparentBg"), "1");
    list = background("  bstyle=2\n");
    EXPECT_EQ(list->FindItem("bfn"), nullptr);
    EXPECT_EQ(list->GetText("bsize"), "100");
    list = background("  bstyle=1\n  bcolor=255\n");
    EXPECT_EQ(list->GetText("bcolor"), "255");
    list = background("  bstyle=9\n");
    EXPECT_EQ(list->FindItem("bstyle"), nullptr);
    EXPECT_EQ(list->GetText("opt_scr_width"), "1920");
}

TEST(EffectCatalog, HostileVariantKeysAndPropertyCountsStayBounded) {
    const std::string wide(60, '1');
    const TRef<TIniFile> document = ParseIni(PoolText(
        "  object Big:custom\n  sectionfield=a,b,c,d,e\n  a=" + wide + "\n  b=" + wide + "\n  c=" + wide +
        "\n  d=" + wide + "\n  e=" + wide + "\n  userprops=2000000000\n  prop1999999999=id:z\n  z=5\n" +
        "  slide_1=s\n  checked=1\n  end\n"));
    const TRef<TKIVEffectManager> catalog = Catalog(document);
    TEffectProp* entry = catalog->Entry(0);
    EXPECT_EQ(entry->VariantCount(), TEffectProp::kMaxVariantCount);
    EXPECT_TRUE(entry->VariantEnabled(TEffectProp::kMaxVariantCount - 1));
    EXPECT_EQ(entry->VariantItem(0), nullptr);
    // No variant item for a mixed-radix name, so the copy of the single-key form is used.
    entry->Object().SetText("sectionfield", "checked");
    const TRef<TIniSection> copy = entry->VariantCopy(0);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->FindObject("Root")->GetText("prop1999999999"), "id:z");
    EXPECT_EQ(copy->FindObject("Root")->GetText("z"), "5");
}

TEST(EffectCatalog, EditingOperations) {
    const TRef<TIniFile> document = ParseIni(
        PoolText("  object one:dissolve\n  checked=0\n  end\n  object two:gates\n  checked=1\n  end\n") +
        test::TimesText({1}) + test::SlideText(1, "two", -1));
    const TRef<TKIVEffectManager> catalog = Catalog(document);
    EXPECT_TRUE(catalog->AnyEnabled());
    catalog->SetLocked(true);
    EXPECT_FALSE(catalog->DeleteEntry(*catalog->Entry(1)));
    catalog->SetLocked(false);
    catalog->SlideEntry(0)->SetNameAndType("three", "page");
    EXPECT_EQ(catalog->IndexOf("three"), 1);
    EXPECT_EQ(catalog->SlideEntry(0)->Name(), "three");
    EXPECT_EQ(catalog->SlideEntry(0)->TypeWord(), "page");
    EXPECT_TRUE(catalog->DeleteEntry(*catalog->Entry(1)));
    EXPECT_EQ(catalog->IndexOf("three"), -1);
    EXPECT_FALSE(catalog->AnyEnabled()) << "the remaining entry is off";
    catalog->Entry(0)->Assign(*catalog->FindEntry("quick"), false);
    EXPECT_EQ(catalog->Entry(0)->Object().GetText("group"), "GroupBasic");
    EXPECT_EQ(catalog->PrefixedCaption(0), "");
}

} // namespace
} // namespace kiv

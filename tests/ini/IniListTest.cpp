// Lists: insertion point, hashed lookups, child objects, moving items, paths and consistency checks.
#include "base/Exception.h"
#include "ini/IniFile.h"
#include "support/IniText.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace kiv {
namespace {

using test::ParseIni;

std::string AssertionMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const EAssertionFailed& e) {
        return e.Message();
    }
    return "(no assertion)";
}

TEST(IniList, NewKeysGoAfterTheLastKeyAndBeforeTrailingText) {
    auto file = ParseIni("; head\na=1\n; between\nb=2\n\n; tail\n");
    EXPECT_EQ(file->InsertionPoint(), 4);
    TIniItem* c = file->FindOrCreateItem("c");
    EXPECT_EQ(c->Index(), 4);
    EXPECT_EQ(file->InsertionPoint(), 5);
    EXPECT_EQ(file->FindOrCreateItem("A"), file->Item(1));
    // Removing the last key moves the insertion point back past the text before it.
    file->Remove(*c);
    file->Remove(*file->FindItem("b"));
    EXPECT_EQ(file->InsertionPoint(), 2);
    file->CheckConsistency();
}

TEST(IniList, LookupFindsKeysAfterInsertionsAndRenames) {
    auto list = MakeRef<TIniList>();
    for (int i = 0; i < 100; ++i)
        list->AddKey("Key" + std::to_string(i), std::to_string(i));
    EXPECT_EQ(list->GetInt32("KEY57", -1), 57); // builds the buckets
    // Inserting in front shifts every index; chains must stay ordered.
    list->Insert(0, MakeRef<TIniItem>("key57", "front"));
    EXPECT_EQ(list->GetText("key57"), "57"); // the later one still stands last
    list->AddKey("KEY57", "back");
    EXPECT_EQ(list->GetText("key57"), "back");
    list->FindItem("key3")->SetName("renamed");
    EXPECT_EQ(list->FindItem("key3"), nullptr);
    EXPECT_EQ(list->GetText("RENAMED"), "3");
    // A key renamed to empty text becomes a text item.
    list->FindItem("key99")->SetName("");
    EXPECT_EQ(list->KeyCount(), 101);
    list->CheckConsistency();
    for (int i = 100; i < 400; ++i)
        list->AddKey("Key" + std::to_string(i), std::to_string(i));
    EXPECT_EQ(list->GetInt32("key399", -1), 399); // after the buckets overflowed
    list->CheckConsistency();
}

TEST(IniList, ListsAreNeverFoundByKey) {
    auto file = ParseIni("object Thing\nend\nThing=1\n");
    EXPECT_EQ(file->FindItem("thing"), file->Item(1));
    auto onlyObject = ParseIni("object Thing\nend\n");
    EXPECT_EQ(onlyObject->FindItem("Thing"), nullptr);
    EXPECT_EQ(onlyObject->KeyCount(), 0);
}

TEST(IniList, ObjectsKeepTheirOrderAndSiblings) {
    auto file = ParseIni("a=1\nobject One\nend\nx=2\nobject Two\nend\n; tail\n");
    ASSERT_EQ(file->ObjectCount(), 2);
    EXPECT_EQ(file->FirstObject()->NextSibling(), file->Object(1));
    EXPECT_EQ(file->Object(1)->NextSibling(), nullptr);
    TIniObject* three = file->AddObject("Three", "T");
    EXPECT_EQ(three->Index(), 4); // after the last child object, before the tail
    EXPECT_EQ(three->ObjectIndex(), 2);
    auto bare = ParseIni("a=1\n; tail\n");
    EXPECT_EQ(bare->AddObject("O", "")->Index(), 1); // at the insertion point
    // An object inserted among others takes its place in the object list.
    file->Insert(0, MakeRef<TIniObject>("Zero", ""));
    EXPECT_EQ(file->FirstObject()->Name(), "Zero");
    EXPECT_EQ(file->Object(1)->Name(), "One");
    file->Remove(*file->Object(1));
    EXPECT_EQ(file->Object(1)->Name(), "Two");
    EXPECT_EQ(file->Object(1)->ObjectIndex(), 1);
    file->CheckConsistency();
}

TEST(IniList, InsertingAnItemOfAnotherListMovesIt) {
    auto file = ParseIni("object A\nk=1\nend\nobject B\nend\n");
    TIniObject* a = file->FindObject("A");
    TIniObject* b = file->FindObject("B");
    auto key = TRef<TIniItem>::Share(a->FindItem("k"));
    b->Append(key);
    EXPECT_EQ(a->FindItem("k"), nullptr);
    EXPECT_EQ(b->FindItem("k"), key.Get());
    EXPECT_EQ(key->Parent(), b);
    // Moving within the same list.
    b->AddKey("z", "26");
    b->Insert(2, key);
    EXPECT_EQ(b->Item(1), key.Get());
    // An object moved into its sibling leaves the parent's object list.
    b->Append(TRef<TIniItem>::Share(a));
    EXPECT_EQ(file->ObjectCount(), 1);
    EXPECT_EQ(b->FirstObject(), a);
    EXPECT_TRUE(file->IsAncestorOf(*a));
    file->CheckConsistency();
}

TEST(IniList, RemovedItemsOutliveTheirList) {
    TRef<TIniItem> kept;
    {
        auto file = ParseIni("object O\nk=v\nend\n");
        kept = TRef<TIniItem>::Share(file->FindObject("O")->FindItem("k"));
    }
    EXPECT_EQ(kept->Parent(), nullptr);
    EXPECT_EQ(kept->Index(), -1);
    EXPECT_EQ(kept->Value(), "v");
}

TEST(IniList, ProgrammingErrorsRaiseTheConsistencyAssertions) {
    auto file = ParseIni("object O\nend\nk=v\n[S]\n");
    auto other = ParseIni("x=1\n");
    TIniItem* foreign = other->FindItem("x");
    EXPECT_NE(AssertionMessage([&] { file->Remove(*foreign); }).find("'TIniItem.Index mismatch'"),
              std::string::npos);
    auto nested = ParseIni("object Outer\nobject Inner\nend\nend\n");
    TIniObject* outer = nested->FindObject("Outer");
    EXPECT_NE(AssertionMessage([&] {
                  outer->FirstObject()->Append(TRef<TIniItem>::Share(outer));
              }).find("cannot hold itself"),
              std::string::npos);
    EXPECT_NE(
        AssertionMessage([&] { outer->Append(TRef<TIniItem>::Share(outer)); }).find("cannot hold itself"),
        std::string::npos);
    nested->CheckConsistency();
    EXPECT_NE(AssertionMessage([&] {
                  file->Append(TRef<TIniItem>::Share(file->FindSection("S")));
              }).find("a section belongs to a document"),
              std::string::npos);
    EXPECT_EQ(AssertionMessage([&] { file->CheckConsistency(); }), "(no assertion)");
}

TEST(IniList, PathsFindOrCreateSectionsObjectsAndItems) {
    auto file =
        ParseIni("[Slides]\nobject Slide1:TKivSlide\n  object Logo:TKivImage\n    File=a.png\n  end\nend\n");
    EXPECT_EQ(file->Path("Slides:Slide1:Logo:File")->Value(), "a.png");
    EXPECT_EQ(file->Path("slides::LOGO:file")->Value(), "a.png"); // empty part: first child object
    EXPECT_EQ(file->Path("Slides:Slide1:Logo"), file->Path("Slides:Slide1:Logo:"));
    EXPECT_EQ(file->Path("Slides:"), file->FindSection("Slides"));
    EXPECT_EQ(file->Path(":"), file.Get());
    TIniItem* created = file->Path("Main:opt_title");
    created->SetValue("T");
    EXPECT_EQ(file->ReadString("Main", "opt_title", ""), "T");
    TIniItem* deep = file->Path("Slides:Slide2:Text:Caption");
    EXPECT_EQ(deep->Parent()->Name(), "Text");
    EXPECT_EQ(file->FindSection("slides")->ObjectCount(), 2);
    EXPECT_EQ(file->Path("rootkey")->Parent(), file.Get());
    file->CheckConsistency();
}

TEST(IniList, SectionsCanBeRemovedAndRenamed) {
    auto file = ParseIni("[A]\n[B]\n[C]\nk=1\n");
    TRef<TIniSection> b = file->RemoveSection("b");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->Parent(), nullptr);
    EXPECT_EQ(file->SectionCount(), 2);
    EXPECT_EQ(file->FindSection("C")->SectionIndex(), 1);
    EXPECT_EQ(file->RemoveSection("b").Get(), nullptr);
    file->FindSection("C")->SetName("D");
    EXPECT_EQ(file->FindSection("C"), nullptr);
    EXPECT_EQ(file->ReadInteger("d", "k", 0), 1);
    file->CheckConsistency();
}

TEST(IniList, TwentyThousandSectionsAreAllFound) {
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text +=
            "[Images\\Slide" + std::to_string(i) + ".JPG]\r\nSize=" + std::to_string(i) + "\r\nType=1\r\n";
    auto file = ParseIni(text);
    ASSERT_EQ(file->SectionCount(), 20000);
    for (int i = 0; i < 20000; ++i)
        ASSERT_EQ(file->ReadInteger("images\\slide" + std::to_string(i) + ".jpg", "size", -1), i);
    EXPECT_EQ(file->FindSection("images\\slide20000.jpg"), nullptr);
    file->CheckConsistency();
}

} // namespace
} // namespace kiv

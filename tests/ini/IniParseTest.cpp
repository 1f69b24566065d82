// Reading the INI text format: line classification and the tree it builds.
#include "ini/IniFile.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TRef<TIniFile> Parse(std::string_view text) {
    TRef<TIniFile> file = MakeRef<TIniFile>();
    file->LoadFromText(text);
    file->CheckConsistency();
    return file;
}

TEST(IniParse, KeyLineSplitsAtTheFirstEquals) {
    auto file = Parse("Key = some value = x\r\n");
    ASSERT_EQ(file->Count(), 1);
    EXPECT_EQ(file->Item(0)->Name(), "Key");
    EXPECT_EQ(file->Item(0)->Value(), "some value = x");
    EXPECT_EQ(file->GetText("key"), "some value = x");
}

TEST(IniParse, ObjectWordFollowedByEqualsOrLetterIsAKey) {
    auto file = Parse("objects=2\nobject = 3\nendless=4\nend_x=5\n");
    EXPECT_EQ(file->ObjectCount(), 0);
    EXPECT_EQ(file->KeyCount(), 4);
    EXPECT_EQ(file->GetInt32("objects", 0), 2);
    EXPECT_EQ(file->GetInt32("object", 0), 3);
    EXPECT_EQ(file->GetInt32("endless", 0), 4);
    EXPECT_EQ(file->GetInt32("END_X", 0), 5);
}

TEST(IniParse, ObjectHeaderTakesNameUpToTheLastColon) {
    auto file =
        Parse("Object  Slide1 : TKivSlide\r\nx=1\r\nend\r\nobject A:B:C\r\nend\r\nOBJECT Plain\r\nEnd\r\n");
    ASSERT_EQ(file->ObjectCount(), 3);
    EXPECT_EQ(file->Object(0)->Name(), "Slide1");
    EXPECT_EQ(file->Object(0)->ClassText(), "TKivSlide");
    EXPECT_EQ(file->Object(0)->GetText("x"), "1");
    EXPECT_EQ(file->Object(1)->Name(), "A:B");
    EXPECT_EQ(file->Object(1)->ClassText(), "C");
    EXPECT_EQ(file->Object(2)->Name(), "Plain");
    EXPECT_EQ(file->Object(2)->ClassText(), "");
    // Keys inside an object are not keys of the list that holds it.
    EXPECT_EQ(file->FindItem("x"), nullptr);
}

TEST(IniParse, ObjectsNestAndEndClosesTheInnermost) {
    auto file = Parse("object Outer:TA\na=1\nobject Inner:TB\nb=2\nend\nc=3\nend\nd=4\n");
    TIniObject* outer = file->FindObject("outer", "ta");
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->GetText("c"), "3");
    ASSERT_EQ(outer->ObjectCount(), 1);
    EXPECT_EQ(outer->FirstObject()->GetText("b"), "2");
    EXPECT_EQ(outer->FindObject("inner", "TX"), nullptr);
    EXPECT_EQ(file->GetText("d"), "4");
}

TEST(IniParse, LinesThatAreNotKeysStayTextItems) {
    auto file = Parse("; comment  \n=lead\n  \nplain words\t\n[broken header\nend\n");
    ASSERT_EQ(file->Count(), 6);
    for (int i = 0; i < file->Count(); ++i)
        EXPECT_EQ(file->Item(i)->Name(), "") << i;
    EXPECT_EQ(file->Item(0)->Value(), "; comment");
    EXPECT_EQ(file->Item(1)->Value(), "=lead");
    EXPECT_EQ(file->Item(2)->Value(), "");
    EXPECT_EQ(file->Item(3)->Value(), "plain words");
    // A "[" line without "]" is kept whole.
    EXPECT_EQ(file->Item(4)->Value(), "[broken header");
    // An end line outside any object is kept as the text "end".
    EXPECT_EQ(file->Item(5)->Value(), "end");
    EXPECT_EQ(file->KeyCount(), 0);
    EXPECT_EQ(file->SectionCount(), 0);
}

TEST(IniParse, EveryKindOfLineEndSplitsLines) {
    // CR LF, LF CR, lone CR, lone LF; the last line has no end.
    auto file = Parse("a=1\r\nb=2\n\rc=3\rd=4\ne=5");
    EXPECT_EQ(file->Count(), 5);
    EXPECT_EQ(file->GetText("e"), "5");
    // LF CR LF: one end, then an empty line.
    auto blank = Parse("a=1\n\r\nb=2");
    ASSERT_EQ(blank->Count(), 3);
    EXPECT_EQ(blank->Item(1)->Value(), "");
}

TEST(IniParse, SectionsMergeAndTheLaterKeyWins) {
    auto file = Parse("root=r\n[Main]\nopt_a=1\n[Other]\nx=y\n[ main ]\nopt_a=2\nopt_b=3\n");
    EXPECT_EQ(file->SectionCount(), 2);
    TIniSection* main = file->FindSection("MAIN");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->Name(), "Main");
    EXPECT_EQ(main->Count(), 3);
    EXPECT_EQ(file->ReadInteger("main", "opt_a", 0), 2);
    EXPECT_EQ(file->ReadInteger("Main", "opt_b", 0), 3);
    // Keys before the first section belong to the root, reached with an empty section name.
    EXPECT_EQ(file->ReadString("", "root", "-"), "r");
    EXPECT_EQ(file->FindSection(""), file.Get());
    EXPECT_EQ(file->ReadString("Main", "root", "-"), "-");
}

TEST(IniParse, SectionHeaderKeepsNameUpToTheFirstBracket) {
    auto file = Parse("[  Images\\Slide 1.jpg  ] trailing ] text\nk=v\n");
    ASSERT_EQ(file->SectionCount(), 1);
    EXPECT_EQ(file->Section(0)->Name(), "Images\\Slide 1.jpg");
    EXPECT_EQ(file->ReadString("images\\slide 1.JPG", "k", ""), "v");
}

TEST(IniParse, SectionHeaderInsideAnOpenObjectClosesEveryObject) {
    auto file = Parse("object A\nobject B\na=1\n[Next]\nk=v\n");
    EXPECT_EQ(file->ReadString("Next", "k", ""), "v");
    ASSERT_EQ(file->ObjectCount(), 1);
    EXPECT_EQ(file->Object(0)->Object(0)->Count(), 1);
    // After the header an end line is outside any object again.
    auto again = Parse("object A\n[S]\nend\n");
    EXPECT_EQ(again->FindSection("S")->Item(0)->Value(), "end");
}

TEST(IniParse, DuplicateKeysAreAllKeptAndTheLastIsFound) {
    auto file = Parse("k=1\nK=2\nk=3\ntext\n");
    EXPECT_EQ(file->KeyCount(), 3);
    EXPECT_EQ(file->FindItem("K"), file->Item(2));
    EXPECT_EQ(file->InsertionPoint(), 3);
}

TEST(IniParse, DeepNestingStaysWithinTheDepthLimit) {
    std::string text;
    const int depth = 100000;
    for (int i = 0; i < depth; ++i)
        text += "object O\n";
    text += "leaf=1\n";
    for (int i = 0; i < depth; ++i)
        text += "end\n";
    text += "after=2\n";
    auto file = Parse(text);
    // Built objects stop at the limit; deeper headers are text in the deepest object and the end
    // lines close the built ones first; the surplus end lines are text of the root.
    const TIniList* list = file.Get();
    int built = 0;
    while (list->FirstObject()) {
        list = list->FirstObject();
        ++built;
    }
    EXPECT_EQ(built, TIniFile::kMaxObjectDepth);
    EXPECT_EQ(list->GetText("leaf"), "1");
    EXPECT_EQ(list->Count(), depth - TIniFile::kMaxObjectDepth + 1);
    EXPECT_EQ(file->Count(), 1 + (depth - TIniFile::kMaxObjectDepth) + 1);
    EXPECT_EQ(file->GetText("after"), "2");
    // Saved and read again, the document is the same.
    const std::string saved = file->SaveToBytes();
    auto again = Parse(saved);
    EXPECT_EQ(again->SaveToBytes(), saved);
}

TEST(IniParse, UnicodeNamesCompareByCaseFolding) {
    auto file = Parse("[ÜBERSICHT]\nStraße=1\nKELVIN=2\n");
    // U+212A KELVIN SIGN folds to "k".
    EXPECT_EQ(file->ReadInteger("übersicht", "STRAßE", 0), 1);
    EXPECT_EQ(file->ReadInteger("Übersicht", "\u212Aelvin", 0), 2);
    // Bytes that are not UTF-8 compare as they are; the letters around them still fold.
    auto raw = Parse("[\xFF\xC3X]\nK\xC3\x84\x80=1\n");
    EXPECT_EQ(raw->ReadInteger("\xFF\xC3x", "k\xC3\xA4\x80", 0), 1);
    EXPECT_EQ(raw->ReadInteger("\xFE\xC3x", "k\xC3\xA4\x80", 0), 0);
    EXPECT_EQ(raw->ReadInteger("\xFF\xC3x", "k\xC3\xA4\x81", 0), 0);
    EXPECT_EQ(raw->ReadInteger("\xFF\xC3x", "k\xC3\xA4", 0), 0);
    // A non-ASCII letter continues the word "object": this is a key line.
    auto key = Parse("objectÄ=1\n");
    EXPECT_EQ(key->ObjectCount(), 0);
    EXPECT_EQ(key->GetInt32("objectä", 0), 1);
}

TEST(IniParse, ListAssignedFromAnItemParsesItsText) {
    auto list = MakeRef<TIniList>();
    auto item = MakeRef<TIniItem>("a", "b");
    list->Assign(*item);
    EXPECT_EQ(list->GetText("A"), "b");
    // Without a document, a section header stays a line of text.
    auto header = MakeRef<TIniItem>("", "[Main]");
    list->Assign(*header);
    ASSERT_EQ(list->Count(), 1);
    EXPECT_EQ(list->Item(0)->Value(), "[Main]");
}

} // namespace
} // namespace kiv

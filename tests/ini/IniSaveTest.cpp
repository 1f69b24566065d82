// Saving documents: line forms, indents, byte-order mark, the savers and escaped documents.
#include "base/Exception.h"
#include "ini/IniFile.h"
#include "support/IniText.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using test::ParseIni;

// One of every kind of line, in the form a writer produces.
constexpr std::string_view kEveryLine = "; project written by the editor\r\n"
                                        "\r\n"
                                        "Version=4.2\r\n"
                                        "=starts with equals\r\n"
                                        "[not a header\r\n"
                                        "end\r\n"
                                        "object Logo:TKivImage\r\n"
                                        "  File=img\\logo.png\r\n"
                                        "  ; inside\r\n"
                                        "\r\n"
                                        "  object :TKivModifier\r\n"
                                        "    Kind=blur\r\n"
                                        "  end\r\n"
                                        "  object\r\n"
                                        "  end\r\n"
                                        "end\r\n"
                                        "[Main]\r\n"
                                        "opt_title=A = B ; \"quoted\"\r\n"
                                        "empty=\r\n"
                                        "free text line\r\n";

TEST(IniSave, DocumentWithEveryKindOfLineSavesBackUnchanged) {
    auto file = ParseIni(kEveryLine);
    file->CheckConsistency();
    EXPECT_EQ(file->SaveToBytes(), kEveryLine);
}

TEST(IniSave, HeaderWithAnEmptyNameContinuesTheRoot) {
    // An empty section name means the root, in a header as in a lookup.
    auto file = ParseIni("a=1\n[Main]\nb=2\n[ ]\nc=3\n");
    EXPECT_EQ(file->SectionCount(), 1);
    EXPECT_EQ(file->ReadString("", "c", ""), "3");
    EXPECT_EQ(file->SaveToBytes(), "a=1\r\nc=3\r\n[Main]\r\nb=2\r\n");
}

TEST(IniSave, KeysLoseBlanksAndTakeTheListIndent) {
    auto file = ParseIni("  key = v\nobject O\n      inner   =  x  \n\t\n   ; note\nend\n");
    EXPECT_EQ(file->SaveToBytes(), "key=v\r\nobject O\r\n  inner=x\r\n\r\n  ; note\r\nend\r\n");
}

TEST(IniSave, ObjectLineFormsFollowNameAndClass) {
    auto file = MakeRef<TIniFile>();
    file->AddObject("Name", "");
    file->AddObject("", "TClass");
    file->AddObject("", "");
    file->AddObject("A:B", "C");
    file->AddObject("A:", "");
    const std::string saved = file->SaveToBytes();
    EXPECT_EQ(saved, "object Name\r\nend\r\nobject :TClass\r\nend\r\nobject\r\nend\r\nobject A:B:C\r\nend\r\n"
                     "object A::\r\nend\r\n");
    // A name holding ":" without a class reads back whole.
    auto again = ParseIni(saved);
    EXPECT_EQ(again->Object(4)->Name(), "A:");
    EXPECT_EQ(again->Object(4)->ClassText(), "");
}

TEST(IniSave, ByteOrderMarkIsOptional) {
    auto file = ParseIni("a=1\n");
    EXPECT_EQ(file->SaveToBytes(true), "\xEF\xBB\xBF"
                                       "a=1\r\n");
    EXPECT_EQ(file->SaveToBytes(), "a=1\r\n");
}

TEST(IniSave, BytesSaverGrowsByDoublingFrom4096) {
    TBytesTextSaver saver;
    EXPECT_EQ(saver.Capacity(), 4096u);
    saver.Write(std::string(4096, 'a'));
    EXPECT_EQ(saver.Capacity(), 4096u);
    saver.Write("b");
    EXPECT_EQ(saver.Capacity(), 8192u);
    saver.WriteIndent(300); // longer than one run of spaces
    const std::string bytes = saver.TakeBytes();
    EXPECT_EQ(bytes.size(), 4097u + 300u);
    EXPECT_EQ(bytes.substr(4097), std::string(300, ' '));
    EXPECT_TRUE(saver.Bytes().empty());
}

TEST(IniSave, EscapedDocumentRoundTripsThroughOneValue) {
    auto inner = ParseIni("[Sub]\npath=C:\\Show\\a.jpg\nobject X:TY\n  k=v\nend\n");
    const std::string escaped = inner->SaveToEscaped();
    EXPECT_EQ(escaped, "[Sub]\\npath=C:\\\\Show\\\\a.jpg\\nobject X:TY\\n  k=v\\nend\\n");
    EXPECT_EQ(escaped.find('\r'), std::string::npos);

    // Stored in an outer document, saved, read back, and loaded from the value again.
    auto outer = MakeRef<TIniFile>();
    outer->WriteString("Main", "nested", escaped);
    auto reread = ParseIni(outer->SaveToBytes());
    auto restored = MakeRef<TIniFile>();
    ASSERT_TRUE(restored->LoadFromEscaped(reread->ReadString("Main", "nested", "")));
    EXPECT_EQ(restored->SaveToBytes(), inner->SaveToBytes());
    EXPECT_EQ(restored->ReadString("sub", "PATH", ""), "C:\\Show\\a.jpg");

    EXPECT_FALSE(restored->LoadFromEscaped("a=1\\tb=2"));
    EXPECT_EQ(restored->Count(), 0);
    EXPECT_EQ(restored->SectionCount(), 0);
}

TEST(IniSave, FileSaveAndLoadRoundTrip) {
    const std::string name = ::testing::TempDir() + "ini_save_test.kiv";
    auto file = ParseIni(kEveryLine);
    file->SaveToFile(name, true);
    auto again = MakeRef<TIniFile>();
    ASSERT_TRUE(again->LoadFromFile(name));
    EXPECT_EQ(again->SaveToBytes(), kEveryLine);
    std::remove(name.c_str());
    EXPECT_FALSE(again->LoadFromFile(name));
    EXPECT_EQ(again->Count(), 0);
    EXPECT_THROW(file->SaveToFile("/nonexistent-folder/x.kiv"), EFileError);
}

TEST(IniSave, CloneAndAssignCopyEverything) {
    auto file = ParseIni(kEveryLine);
    TRef<TIniItem> clone = file->Clone();
    auto* copy = dynamic_cast<TIniFile*>(clone.Get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->SaveToBytes(), kEveryLine);
    copy->CheckConsistency();
    auto assigned = ParseIni("junk=1\n[Junk]\n");
    assigned->Assign(*file);
    EXPECT_EQ(assigned->SaveToBytes(), kEveryLine);
    // The copies are independent.
    copy->WriteString("Main", "opt_title", "other");
    EXPECT_EQ(file->ReadString("Main", "opt_title", ""), "A = B ; \"quoted\"");
}

} // namespace
} // namespace kiv

// Typed getters and setters on stored values.
#include "ini/IniFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kiv {
namespace {

TRef<TIniItem> Value(std::string_view value) {
    return MakeRef<TIniItem>("k", value);
}

TEST(IniValues, MissingItemGivesEveryDefault) {
    EXPECT_EQ(GetText(nullptr, "d"), "d");
    EXPECT_EQ(GetInt32(nullptr, 7), 7);
    EXPECT_EQ(GetInt64(nullptr, -7), -7);
    EXPECT_EQ(GetReal(nullptr, 2.5), 2.5);
    EXPECT_TRUE(GetBool(nullptr, true));
    EXPECT_EQ(GetListText(nullptr, ',', 0, "x"), "x");
    EXPECT_EQ(GetEscapedText(nullptr, "e"), "e");
    EXPECT_EQ(GetListCount(nullptr, ','), 0);
}

TEST(IniValues, IntegersFollowTheIntegerRule) {
    EXPECT_EQ(GetInt32(Value("-12").Get(), 0), -12);
    EXPECT_EQ(GetInt32(Value("  +5").Get(), 0), 5);
    EXPECT_EQ(GetInt32(Value("2147483648").Get(), 9), 9);
    EXPECT_EQ(GetInt32(Value("1.0").Get(), 9), 9);
    EXPECT_EQ(GetInt32(Value("").Get(), 9), 9);
    EXPECT_EQ(GetInt64(Value("2147483648").Get(), 9), 2147483648LL);
    EXPECT_EQ(GetInt64(Value("-9223372036854775808").Get(), 9), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(GetInt64(Value("9223372036854775808").Get(), 9), 9);
}

TEST(IniValues, RealsReadDigitsAndExponentExactly) {
    EXPECT_EQ(ParseIniReal("1e3"), 1000.0);
    EXPECT_EQ(ParseIniReal("0.1"), 0.1);
    EXPECT_EQ(ParseIniReal("  -2.50E-1"), -0.25);
    EXPECT_EQ(ParseIniReal("+.5"), 0.5);
    EXPECT_EQ(ParseIniReal("7."), 7.0);
    EXPECT_EQ(ParseIniReal("123.456e2"), 12345.6);
    EXPECT_EQ(ParseIniReal("0.30000000000000004"), 0.30000000000000004);
    EXPECT_EQ(ParseIniReal("1e-400"), 0.0);
    for (const char* bad :
         {"", "1,5", "1.2.3", ".", "-", "1e", "1e1.5", "e5", "1 ", "\t1", "1e99999999999", "1e400"})
        EXPECT_FALSE(ParseIniReal(bad).has_value()) << bad;
    EXPECT_EQ(GetReal(Value("1,5").Get(), 4.0), 4.0);
}

TEST(IniValues, RealSetterWritesShortFixedNotation) {
    auto item = Value("");
    const std::pair<double, const char*> cases[] = {{1.5, "1.5"},
                                                    {2.0, "2"},
                                                    {-0.25, "-0.25"},
                                                    {0.1, "0.1"},
                                                    {1e20, "100000000000000000000"},
                                                    {1e-20, "0"},
                                                    {0.0000000000000001, "0.0000000000000001"}};
    for (const auto& [value, text] : cases) {
        item->SetReal(value);
        EXPECT_EQ(item->Value(), text) << value;
    }
    item->SetReal(1.0 / 3.0);
    EXPECT_EQ(item->Value(), "0.3333333333333333");
    // Values from 1 up read back exactly (below 1, sixteen decimals may hold fewer digits than the
    // double has: 0.1 + 0.2 writes "0.3"); the fixed notation keeps every digit the
    // double has (123456.789 is stored as 123456.78900000000430...).
    for (const double value : {123456.789, -98765.4321, 1.1, 1e15 + 0.5, 0.75}) {
        item->SetReal(value);
        const std::string& text = item->Value();
        const std::size_t point = text.find('.');
        ASSERT_NE(point, std::string::npos) << text;
        EXPECT_LE(text.size() - point - 1, 16u) << text;
        EXPECT_EQ(GetReal(item.Get(), 0), value) << text;
    }
}

TEST(IniValues, BooleansAreExactlyZeroOrOne) {
    EXPECT_TRUE(GetBool(Value("1").Get(), false));
    EXPECT_FALSE(GetBool(Value("0").Get(), true));
    for (const char* other : {"True", "true", "yes", "", " 1", "01"}) {
        EXPECT_TRUE(GetBool(Value(other).Get(), true)) << other;
        EXPECT_FALSE(GetBool(Value(other).Get(), false)) << other;
    }
    auto item = Value("");
    item->SetBool(true);
    EXPECT_EQ(item->Value(), "1");
    item->SetBool(false);
    EXPECT_EQ(item->Value(), "0");
}

TEST(IniValues, ChoiceComparesExactlyOrByFolding) {
    const std::string_view words[] = {"stop", "repeat", "Close"};
    EXPECT_EQ(GetChoice(Value("repeat").Get(), words, false, -1), 1);
    EXPECT_EQ(GetChoice(Value("CLOSE").Get(), words, false, -1), -1);
    EXPECT_EQ(GetChoice(Value("CLOSE").Get(), words, true, -1), 2);
    EXPECT_EQ(GetChoice(Value("").Get(), words, true, -1), -1);
}

TEST(IniValues, SeparatedListsSplitAtEverySeparator) {
    auto item = Value("10, x,2.5e1,,");
    EXPECT_EQ(GetListCount(item.Get(), ','), 5);
    EXPECT_EQ(GetListInt32(item.Get(), ',', 0, -1), 10);
    EXPECT_EQ(GetListInt32(item.Get(), ',', 1, -1), -1);
    EXPECT_EQ(GetListText(item.Get(), ',', 1, "d"), " x");
    EXPECT_EQ(GetListReal(item.Get(), ',', 2, 0), 25.0);
    EXPECT_EQ(GetListText(item.Get(), ',', 3, "d"), "");
    EXPECT_EQ(GetListText(item.Get(), ',', 5, "d"), "d");
    EXPECT_EQ(GetListText(item.Get(), ',', -1, "d"), "d");
    EXPECT_EQ(GetListCount(Value("").Get(), ','), 0);
    EXPECT_EQ(GetListText(Value("").Get(), ',', 0, "d"), "d");
    EXPECT_EQ(GetListText(Value("a;b").Get(), ';', 1, "d"), "b");
}

TEST(IniValues, EscapedTextRoundTripsLineEndsAndBackslashes) {
    auto item = Value("");
    item->SetEscapedText("C:\\Show\r\nline2\nline3\n\rline4\rend\x01\tx");
    EXPECT_EQ(item->Value(), "C:\\\\Show\\nline2\\nline3\\nline4\\nendx");
    EXPECT_EQ(GetEscapedText(item.Get()), "C:\\Show\r\nline2\r\nline3\r\nline4\r\nendx");
    // Any other backslash pair, or a lone backslash at the end, empties the whole value.
    EXPECT_EQ(GetEscapedText(Value("a\\tb").Get(), "d"), "");
    EXPECT_EQ(GetEscapedText(Value("a\\").Get(), "d"), "");
}

TEST(IniValues, ListSettersCreateKeysAtTheInsertionPoint) {
    auto file = MakeRef<TIniFile>();
    file->LoadFromText("[S]\na=1\n; trailing comment\n");
    TIniSection* section = file->FindSection("S");
    section->SetInt32("b", -3);
    section->SetInt64("c", 1LL << 40);
    section->SetReal("d", 0.5);
    section->SetBool("e", true);
    section->SetText("a", "changed");
    ASSERT_EQ(section->Count(), 6);
    EXPECT_EQ(section->Item(0)->Value(), "changed");
    EXPECT_EQ(section->Item(1)->Value(), "-3");
    EXPECT_EQ(section->Item(2)->Value(), "1099511627776");
    EXPECT_EQ(section->Item(3)->Value(), "0.5");
    EXPECT_EQ(section->Item(4)->Value(), "1");
    EXPECT_EQ(section->Item(5)->Value(), "; trailing comment");
    EXPECT_EQ(section->GetInt64("C", 0), 1LL << 40);
    file->CheckConsistency();
}

TEST(IniValues, DocumentShortcutsCreateSectionAndKey) {
    auto file = MakeRef<TIniFile>();
    file->WriteString("Main", "opt_title", "Show");
    file->WriteInteger("Main", "opt_count", 12);
    file->WriteFloat("Main", "opt_speed", 1.25);
    file->WriteBool("Main", "opt_loop", true);
    file->WriteString("", "rootkey", "r");
    EXPECT_EQ(file->ReadString("main", "OPT_TITLE", ""), "Show");
    EXPECT_EQ(file->ReadInteger("main", "opt_count", 0), 12);
    EXPECT_EQ(file->ReadFloat("main", "opt_speed", 0), 1.25);
    EXPECT_TRUE(file->ReadBool("main", "opt_loop", false));
    EXPECT_EQ(file->ReadInteger("missing", "opt_count", 5), 5);
    // A created section holds one empty text item after its keys.
    EXPECT_EQ(file->SaveToBytes(),
              "rootkey=r\r\n[Main]\r\nopt_title=Show\r\nopt_count=12\r\nopt_speed=1.25\r\n"
              "opt_loop=1\r\n\r\n");
}

} // namespace
} // namespace kiv

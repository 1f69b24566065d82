#include "package/ProjectFileTables.h"
#include "support/IniText.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using test::ParseIni;

using Pair = std::pair<std::string, std::string>;

TEST(FileMap, QuotedLineMapsWithoutRegardToCase) {
    TRef<TIniFile> file = ParseIni("[FileMap]\r\n;\"a.jpg\"=\"b.jpg\"\r\n");
    TFileMap map;
    ASSERT_TRUE(map.Fill(*file->FindSection("FileMap")));
    for (std::string_view name : {"a.jpg", "A.JPG", "a.JPG"}) {
        ASSERT_NE(map.Target(name), nullptr) << name;
        EXPECT_EQ(*map.Target(name), "b.jpg");
    }
    EXPECT_EQ(map.Target("b.jpg"), nullptr);
}

TEST(FileMap, LineRules) {
    EXPECT_EQ(TFileMap::ParseLine(";a.jpg=b.jpg"), (Pair{"a.jpg", "b.jpg"}));
    EXPECT_EQ(TFileMap::ParseLine("a.jpg=b.jpg"), (Pair{"a.jpg", "b.jpg"})) << "the semicolon is optional";
    EXPECT_EQ(TFileMap::ParseLine(";  \"img\\x=1.jpg\" \t= \" y.jpg \" "), (Pair{"img\\x=1.jpg", " y.jpg "}))
        << "an = inside quotes does not split; quotes keep inner spaces";
    EXPECT_EQ(TFileMap::ParseLine(";\"a.jpg\""), std::nullopt) << "no =";
    EXPECT_EQ(TFileMap::ParseLine(";a.jpg="), std::nullopt) << "= at the end";
    EXPECT_EQ(TFileMap::ParseLine(";=b.jpg"), std::nullopt) << "empty left side";
    EXPECT_EQ(TFileMap::ParseLine(";a.jpg=  "), std::nullopt) << "empty right side";
    EXPECT_EQ(TFileMap::ParseLine(";\"\"=b"), std::nullopt) << "a side of two quotes is empty";
    EXPECT_EQ(TFileMap::ParseLine(""), std::nullopt);
}

TEST(FileMap, KeyLinesCountOnlyByTheirValue) {
    // "a.jpg=b.jpg" is a key line: its value "b.jpg" has no "=", so it maps nothing; a key line
    // whose value has the form does count.
    TRef<TIniFile> file = ParseIni("[FileMap]\r\na.jpg=b.jpg\r\nx=c.jpg=d.jpg\r\n");
    TFileMap map;
    EXPECT_TRUE(map.Fill(*file->FindSection("FileMap")));
    EXPECT_EQ(map.Target("a.jpg"), nullptr);
    ASSERT_NE(map.Target("C.JPG"), nullptr);
    EXPECT_EQ(*map.Target("C.JPG"), "d.jpg");
}

TEST(FileMap, FirstTargetIsUsedAndInvalidSectionsLeaveTheTableEmpty) {
    TRef<TIniFile> file = ParseIni("[FileMap]\r\n;a=first\r\n;A=second\r\n[Other]\r\n;nothing here\r\n");
    TFileMap map;
    map.Fill(*file->FindSection("FileMap"));
    ASSERT_NE(map.Targets("a"), nullptr);
    EXPECT_EQ(map.Targets("a")->size(), 2u);
    EXPECT_EQ(*map.Target("a"), "first");
    TFileMap empty;
    EXPECT_FALSE(empty.Fill(*file->FindSection("Other")));
    EXPECT_TRUE(empty.Empty());
}

TEST(RotationState, QuarterTurnLineAndInvalidNumbers) {
    TRef<TIniFile> file =
        ParseIni("[RotationState]\r\n;\"p.jpg\"=6\r\n;\"q.jpg\"=2\r\n;\"r.jpg\"=7\r\n;\"s.jpg\"=8\r\n");
    TRotationState rotation;
    ASSERT_TRUE(rotation.Fill(*file->FindSection("RotationState")));
    EXPECT_EQ(rotation.Orientation("P.JPG"), 6);
    EXPECT_EQ(rotation.Orientation("q.jpg"), std::nullopt);
    EXPECT_EQ(rotation.Orientation("r.jpg"), std::nullopt);
    EXPECT_EQ(rotation.Orientation("s.jpg"), 8);
}

TEST(RotationState, LineRules) {
    using Entry = std::pair<std::string, int>;
    EXPECT_EQ(TRotationState::ParseLine(";\"a b\\c.jpg\"=3"), (Entry{"a b\\c.jpg", 3}));
    EXPECT_EQ(TRotationState::ParseLine(";\"x\"=1"), (Entry{"x", 1}));
    EXPECT_EQ(TRotationState::ParseLine("\"x\"=1"), std::nullopt) << "must begin with ;";
    EXPECT_EQ(TRotationState::ParseLine("; \"x\"=1"), std::nullopt) << "the quote follows at once";
    EXPECT_EQ(TRotationState::ParseLine(";\"\"=1"), std::nullopt) << "empty name";
    EXPECT_EQ(TRotationState::ParseLine(";\"x\"=6a"), std::nullopt);
    EXPECT_EQ(TRotationState::ParseLine(";\"x\"="), std::nullopt);
    EXPECT_EQ(TRotationState::ParseLine(";\"x=1"), std::nullopt);
}

} // namespace
} // namespace kiv

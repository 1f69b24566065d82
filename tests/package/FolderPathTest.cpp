// Windows names: making folder paths, folder macros and path modifiers.
#include "package/FolderPath.h"
#include "TempFolder.h"
#include "package/FolderMacros.h"
#include "package/PathModifiers.h"
#include "package/WindowsPath.h"
#include "support/HermeticFolders.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using test::THermeticFolders;
using test::WriteFileBytes;

TEST(MakeFolderPath, ParentGroupsShortenTheBase) {
    EXPECT_EQ(MakeFolderPath("C:\\P\\Q\\R\\", "..\\..\\a.png"), "C:\\P\\a.png");
    EXPECT_EQ(MakeFolderPath("C:\\P\\Q\\R", "..\\..\\a.png"), "C:\\P\\a.png") << "base without backslash";
    EXPECT_EQ(MakeFolderPath("C:\\P\\Q\\R\\", "..\\a.png"), "C:\\P\\Q\\a.png");
    EXPECT_EQ(MakeFolderPath("C:\\P\\Q\\R\\", "img\\a.png"), "C:\\P\\Q\\R\\img\\a.png");
    EXPECT_EQ(MakeFolderPath("/opt/kiv/bin/", "..\\Common\\x.dll"), "/opt/kiv\\Common\\x.dll");
}

TEST(MakeFolderPath, LeadingBackslashIsSkippedAndAbsoluteNamesStay) {
    EXPECT_EQ(MakeFolderPath("C:\\P\\Q\\R\\", "\\a.png"), "C:\\P\\Q\\R\\a.png");
    EXPECT_EQ(MakeFolderPath("C:\\P\\Q\\R\\", "D:\\x.png"), "D:\\x.png");
    EXPECT_EQ(MakeFolderPath("C:\\P\\", "\\\\server\\share\\x.png"), "\\\\server\\share\\x.png");
    EXPECT_EQ(MakeFolderPath("C:\\P\\", "/home/u/x.png"), "/home/u/x.png");
    EXPECT_EQ(MakeFolderPath("", "img\\a.png"), "img\\a.png");
}

TEST(MakeFolderPath, OnlyParentGroupsGiveTheShortenedBaseWithoutSeparator) {
    EXPECT_EQ(MakeFolderPath("C:\\P\\Q\\R\\", "..\\..\\"), "C:\\P");
    EXPECT_EQ(MakeFolderPath("C:\\P\\Q\\R\\", "..\\.."), "C:\\P");
}

TEST(MakeFolderPath, NameTryingToLeaveTheRootStaysAtTheRoot) {
    EXPECT_EQ(MakeFolderPath("C:\\P\\", "..\\..\\..\\..\\a.png"), "C:\\a.png");
    EXPECT_EQ(MakeFolderPath("\\\\srv\\share\\in\\", "..\\..\\..\\a.png"), "\\\\srv\\share\\a.png");
    EXPECT_EQ(MakeFolderPath("/", "..\\..\\etc\\x"), "/etc\\x");
    EXPECT_EQ(MakeFolderPath("/srv/show/", "..\\..\\..\\x"), "/x");
}

TEST(FolderPath, PartsOfNames) {
    EXPECT_EQ(FolderPart("C:\\a\\b.kiv"), "C:\\a\\");
    EXPECT_EQ(FolderPart("b.kiv"), "");
    EXPECT_EQ(FolderPart("/x/y/b.kiv"), "/x/y/");
    EXPECT_EQ(LastComponent("C:\\a\\b.kiv"), "b.kiv");
    EXPECT_EQ(LastComponent("C:b.kiv"), "b.kiv");
    EXPECT_EQ(LastComponent("a/b\\c.png"), "c.png");
    EXPECT_EQ(BeforeSelector("clip.mp4|2|x"), "clip.mp4");
}

TEST(FolderMacros, LinuxFoldersStandInForTheWindowsOnes) {
    const std::string data = THermeticFolders::DataHome().string();
    EXPECT_EQ(ExpandFolderMacro("%LOCALAPPDATA%\\Zorvik\\Styles"), data + "/Zorvik\\Styles");
    EXPECT_EQ(ExpandFolderMacro("%localAppData%"), data + "/") << "the folder gets a trailing separator";
    EXPECT_EQ(ExpandFolderMacro("%APPDATA%\\x"), THermeticFolders::ConfigHome().string() + "/x");
    EXPECT_EQ(ExpandFolderMacro("%ProgramData%\\x"), "/usr/share/x");
    EXPECT_EQ(ExpandFolderMacro("%SYSTEMROOT%\\Fonts"), "/Fonts");
    EXPECT_EQ(ExpandFolderMacro("%TEMP%\\a"), THermeticFolders::Temp().string() + "/a");
}

TEST(FolderMacros, OnlyKnownMacrosAtTheStartCount) {
    EXPECT_EQ(ExpandFolderMacro("x\\%TEMP%\\a"), "x\\%TEMP%\\a");
    EXPECT_EQ(ExpandFolderMacro("%HOMEPATH%\\a"), "%HOMEPATH%\\a");
    EXPECT_EQ(ExpandFolderMacro("%TEMP"), "%TEMP");
    // A macro must fit in 14 characters with its signs: "%LOCALAPPDATA%" just does.
    EXPECT_EQ(ExpandFolderMacro("%LOCALAPPDATAX%\\a"), "%LOCALAPPDATAX%\\a");
}

TEST(FolderMacros, XdgVariablesThatAreNotAbsoluteFallBackToHome) {
    const std::string saved = std::getenv("XDG_DATA_HOME");
    ::setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(ExpandFolderMacro("%LOCALAPPDATA%"),
              (THermeticFolders::Top() / "home").string() + "/.local/share/");
    ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
}

TEST(FolderMacros, TempFolderSkipsATmpdirThatIsNoFolder) {
    const std::string saved = std::getenv("TMPDIR");
    ::setenv("TMPDIR", (THermeticFolders::Top() / "missing").c_str(), 1);
    EXPECT_EQ(TempFolderPath(), "/tmp/");
    ::setenv("TMPDIR", saved.c_str(), 1);
}

class PathModifiers : public ::testing::Test {
protected:
    void SetUp() override { ResetPathModifiers(); }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(THermeticFolders::Program() / "All", ignored);
        ResetPathModifiers();
    }
};

TEST_F(PathModifiers, StylesFallBackToTheDefaultEntryEvenWhenTheFileIsMissing) {
    const std::string name = "%styles%\\Classic\\btn.ini";
    const std::string fallback = (THermeticFolders::DataHome() / "Zorvik/Styles/Classic/btn.ini").string();
    EXPECT_EQ(DiskPath(ApplyPathModifiers(name)), fallback);
    EXPECT_FALSE(DiskFileExists(ApplyPathModifiers(name)));
}

TEST_F(PathModifiers, StylesBesideTheProgramWinWhenTheFileIsThere) {
    const auto beside = THermeticFolders::Program() / "All/Themes/Classic/btn.ini";
    WriteFileBytes(beside.string(), "[Button]");
    EXPECT_EQ(DiskPath(ApplyPathModifiers("%styles%\\Classic\\btn.ini")), beside.string());
    EXPECT_EQ(DiskPath(ApplyPathModifiers("%STYLES%\\classic\\BTN.INI")), beside.string())
        << "keys and names compare without regard to case";
    // The default entry still serves a file that is only in the user's folder.
    EXPECT_EQ(DiskPath(ApplyPathModifiers("%styles%\\Other\\x.ini")),
              (THermeticFolders::DataHome() / "Zorvik/Styles/Other/x.ini").string());
}

TEST_F(PathModifiers, ProjectListReplacesTheWholeList) {
    WriteFileBytes((THermeticFolders::Program() / "Mine/a.png").string(), "png");
    SetPathModifiers({{"%pics%", "Mine\\", false}, {"%none%", "Nowhere", false}});
    EXPECT_EQ(DiskPath(ApplyPathModifiers("%PICS%\\a.png")),
              (THermeticFolders::Program() / "Mine/a.png").string());
    EXPECT_EQ(ApplyPathModifiers("%none%\\a.png"), "%none%\\a.png") << "not a default and no file: kept";
    EXPECT_EQ(ApplyPathModifiers("%styles%\\x.ini"), "%styles%\\x.ini") << "the start-up entries are gone";
    SetPathModifiers({});
    EXPECT_EQ(ApplyPathModifiers("%pics%\\a.png"), "%pics%\\a.png");
}

TEST_F(PathModifiers, EveryTokenOfANameIsReplaced) {
    SetPathModifiers({{"%a%", "/A", true}, {"%b%", "/B", true}});
    EXPECT_EQ(ApplyPathModifiers("%a%\\x\\%b%\\y|2"), "/A\\x\\/B\\y|2");
    EXPECT_EQ(ApplyPathModifiers("100%\\%a%"), "100%\\/A") << "a lone sign starts no token that matches";
    EXPECT_EQ(ApplyPathModifiers("no tokens"), "no tokens");
}

TEST_F(PathModifiers, RegisteredReplacementsAreFoldersBesideTheProgram) {
    const std::vector<TPathModifier> list = RegisteredPathModifiers();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].key, "%styles%");
    EXPECT_EQ(DiskPath(list[0].replacement), (THermeticFolders::Program() / "All/Themes").string());
    EXPECT_FALSE(list[0].isDefault);
    EXPECT_TRUE(list[1].isDefault);
    EXPECT_EQ(list[3].key, "%effects%");
}

} // namespace
} // namespace kiv

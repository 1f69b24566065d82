#include "app/ColorSwitches.h"
#include "ini/IniFile.h"
#include "project/ShowColorSetup.h"

#include "package/TempFolder.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using TKind = TProfileChoice::TKind;

TColorCommandLine Switches(std::string_view text, const std::string& display = {}) {
    return ReadColorSwitches(TCommandLine::FromText(text), display);
}

TEST(ColorSwitches, NoIccTurnsEverythingOff) {
    const TColorCommandLine settings = Switches("k -noicc -icc sRGB");
    EXPECT_TRUE(settings.noIcc);
    EXPECT_FALSE(settings.profile);
}

TEST(ColorSwitches, BuiltInNamesInAnyCase) {
    EXPECT_EQ(Switches("k -icc srgb").profile, (TProfileChoice{TKind::BuiltIn, "sRGB", {}}));
    EXPECT_EQ(Switches("k -icc ADOBERGB").profile, (TProfileChoice{TKind::BuiltIn, "AdobeRGB", {}}));
    EXPECT_EQ(Switches("k -icc FunkyRGB").profile, (TProfileChoice{TKind::BuiltIn, "FunkyRGB", {}}));
    EXPECT_FALSE(Switches("k").profile);
}

TEST(ColorSwitches, AutoOrNoValueTakesTheDisplayFileAndFilesMustExist) {
    test::TTempFolder folder;
    const std::string display = folder.File("display.icc");
    test::WriteFileBytes(display, "display profile bytes");
    for (std::string_view text : {"k -icc", "k -icc AUTO", "k -icc \"\""}) {
        const auto profile = Switches(text, display).profile;
        ASSERT_TRUE(profile) << text;
        EXPECT_EQ(profile->kind, TKind::File);
        EXPECT_EQ(profile->name, display);
    }
    EXPECT_FALSE(Switches("k -icc auto").profile) << "no display profile file";
    EXPECT_FALSE(Switches("k -icc " + folder.File("missing.icc")).profile);
    const auto file = Switches("k -icc " + display).profile;
    ASSERT_TRUE(file);
    EXPECT_EQ(std::string(file->data.begin(), file->data.end()), "display profile bytes");
}

TEST(ColorSwitches, AProfileFileDescribedAsSrgbIsTheBuiltInOne) {
    test::TTempFolder folder;
    test::WriteFileBytes(folder.File("a.icc"), std::string(100, 'x') + "sRGB IEC61966-2.1" + "rest");
    test::WriteFileBytes(folder.File("b.icc"), std::string(600, 'x') + "sRGB IEC61966-2.1");
    EXPECT_EQ(ReadProfileFile(folder.File("a.icc")), (TProfileChoice{TKind::BuiltIn, "sRGB", {}}));
    EXPECT_EQ(ReadProfileFile(folder.File("b.icc"))->kind, TKind::File) << "only the first 512 bytes count";
}

class ColorSetup : public ::testing::Test {
protected:
    void SetUp() override {
        SetColorLibraryHook([this](TKivShowLocator*) {
            ++libraryAsked;
            return libraryAvailable;
        });
        SetColorApplyHook([this](const TShowColorState& state) { applied.push_back(state); });
    }
    void TearDown() override {
        SetColorLibraryHook(nullptr);
        SetColorApplyHook(nullptr);
        SetColorCommandLine({});
    }
    TShowColorState Run(std::string_view colorManagement, std::string_view commandLine = "k",
                        const std::string& display = {}) {
        SetColorCommandLine(Switches(commandLine, display));
        TRef<TIniFile> project = MakeRef<TIniFile>();
        project->LoadFromText("[Main]\r\nColorManagement=" + std::string(colorManagement) + "\r\n");
        return RunColorSetup(nullptr, project.Get());
    }

    bool libraryAvailable = true;
    int libraryAsked = 0;
    std::vector<TShowColorState> applied;
};

TEST_F(ColorSetup, EmptyValueOrNoIccTurnsColourManagementOff) {
    TShowColorState state = Run("");
    EXPECT_TRUE(state.managementOff);
    EXPECT_FALSE(state.libraryActive);
    state = Run("sRGB", "k -noicc");
    EXPECT_TRUE(state.managementOff);
    EXPECT_EQ(libraryAsked, 0);
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_TRUE(applied.back().managementOff);
}

TEST_F(ColorSetup, StarWithoutCommandLineProfileUsesFunkyWithoutTheLibrary) {
    const TShowColorState state = Run("*");
    EXPECT_FALSE(state.managementOff);
    EXPECT_FALSE(state.libraryActive);
    EXPECT_EQ(state.output, (TProfileChoice{TKind::BuiltIn, "FunkyRGB", {}}));
    EXPECT_EQ(libraryAsked, 0);
}

TEST_F(ColorSetup, StarWithIccSrgbLoadsTheLibraryAndUsesSrgb) {
    const TShowColorState state = Run("*", "k -icc sRGB");
    EXPECT_EQ(libraryAsked, 1);
    EXPECT_TRUE(state.libraryActive);
    EXPECT_EQ(state.output, (TProfileChoice{TKind::BuiltIn, "sRGB", {}}));
}

TEST_F(ColorSetup, WithoutTheLibraryNothingIsChosen) {
    libraryAvailable = false;
    const TShowColorState state = Run("AdobeRGB");
    EXPECT_FALSE(state.managementOff);
    EXPECT_FALSE(state.libraryActive);
    EXPECT_FALSE(state.output);
}

TEST_F(ColorSetup, ProjectValueChoosesTheProfile) {
    EXPECT_EQ(Run("adobergb").output, (TProfileChoice{TKind::BuiltIn, "AdobeRGB", {}}));
    test::TTempFolder folder;
    const std::string display = folder.File("screen.icc");
    test::WriteFileBytes(display, "screen");
    const TShowColorState question = Run("?", "k", display);
    ASSERT_TRUE(question.output);
    EXPECT_EQ(question.output->name, display);
    EXPECT_TRUE(question.libraryActive);
    // An unreadable profile file keeps the output profile in use; the library still runs.
    const TShowColorState missing = Run(folder.File("none.icc"));
    EXPECT_FALSE(missing.output);
    EXPECT_TRUE(missing.libraryActive);
    EXPECT_EQ(ShowColorState().libraryActive, true);
}

TEST_F(ColorSetup, EachOpenStartsFromClearedFlags) {
    Run("");
    const TShowColorState state = Run("sRGB");
    EXPECT_FALSE(state.managementOff) << "a later show with colour management turns it back on";
    EXPECT_TRUE(state.libraryActive);
}

} // namespace
} // namespace kiv

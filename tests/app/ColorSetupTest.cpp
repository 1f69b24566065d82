#include "app/ColorSwitches.h"
#include "images/ColorProfile.h"
#include "ini/IniFile.h"
#include "package/RegularFile.h"
#include "project/KivShowLocator.h"
#include "project/ShowColorSetup.h"

#include "images/PictureMaker.h"
#include "package/PackageBytes.h"
#include "package/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

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
    const TProfileChoice srgb{TKind::BuiltIn, "sRGB", {}};
    for (std::string_view text : {"k -icc", "k -icc auto", "k -icc \"\""}) {
        EXPECT_EQ(Switches(text).profile, srgb) << text << ": no display profile file means sRGB";
        EXPECT_EQ(Switches(text, folder.File("gone.icc")).profile, srgb) << text << ": an unreadable one too";
    }
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

TEST(ColorSwitches, ProfilesThatAreNotRegularFilesOrTooLargeAreRefusedAtOnce) {
    test::TTempFolder folder;
    const std::string fifo = folder.File("pipe.icc");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = folder.File("zero.icc");
    std::filesystem::create_symlink("/dev/zero", zero);
    std::filesystem::create_directory(folder.File("dir.icc"));
    for (const std::string& name : {fifo, zero, folder.File("dir.icc")}) {
        EXPECT_FALSE(ReadProfileFile(name)) << name;
        EXPECT_FALSE(Switches("k -icc " + name).profile) << name;
        // An unreadable display profile falls back to the standard sRGB, never to its bytes.
        EXPECT_EQ(Switches("k -icc auto", name).profile, (TProfileChoice{TKind::BuiltIn, "sRGB", {}}))
            << "the display's profile " << name;
    }
    // Sparse files: the size counts, not the bytes written.
    const std::string largest = folder.File("largest.icc");
    const std::string over = folder.File("over.icc");
    test::WriteFileBytes(largest, "");
    test::WriteFileBytes(over, "");
    std::filesystem::resize_file(largest, kMaxColorProfileBytes);
    std::filesystem::resize_file(over, kMaxColorProfileBytes + 1);
    const auto kept = ReadProfileFile(largest);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->data.size(), static_cast<std::size_t>(kMaxColorProfileBytes));
    EXPECT_FALSE(ReadProfileFile(over));
}

class ColorSetup : public ::testing::Test {
protected:
    void SetUp() override {
        SetColorLibraryHook([this](TKivShowLocator*) {
            ++libraryAsked;
            return libraryAvailable;
        });
        SetColorApplyHook(
            [this](const TShowColorState& state, TKivShowLocator*) { applied.push_back(state); });
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
    // A project that names a device or a FIFO gets no profile from it, and no wait.
    const std::string fifo = folder.File("pipe.icc");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", folder.File("zero.icc"));
    EXPECT_FALSE(Run(fifo).output);
    EXPECT_FALSE(Run(folder.File("zero.icc")).output);
}

TEST_F(ColorSetup, EachOpenStartsFromClearedFlags) {
    Run("");
    const TShowColorState state = Run("sRGB");
    EXPECT_FALSE(state.managementOff) << "a later show with colour management turns it back on";
    EXPECT_TRUE(state.libraryActive);
}

// A show's own colour tables: the picture "ColorSpaceExe_" + profile name + "].ZKGFX" holds the
// differences from the identity table.
class ShowColorTables : public ::testing::Test {
protected:
    void SetUp() override {
        SetColorCommandLine({});
        InstallColorApplyHook();
    }
    void TearDown() override {
        SetColorApplyHook(nullptr);
        SetTablePictureSource(nullptr);
        SetColorManagement(TColorManagement::Active);
        SetDisplayProfile(nullptr);
    }

    // Differences that tell every lattice point and every channel apart: blue y mod 7, green 250
    // (so most values wrap), red the column.
    static std::uint8_t Difference(int y, int x, int channel) {
        return static_cast<std::uint8_t>(channel == 0 ? y % 7 : channel == 1 ? 250 : x);
    }
    static std::string TablePicture() {
        auto differences = MakeRef<TBitmap>(32, 1024, TPixelFormat::Bgra32);
        for (int y = 0; y < 1024; ++y)
            for (int x = 0; x < 32; ++x) {
                for (int c = 0; c < 3; ++c)
                    differences->Row(y)[4 * x + c] = Difference(y, x, c);
                differences->Row(y)[4 * x + 3] = 255;
            }
        const test::TBytes bytes = test::MakeZkgfx(
            {{"File", "C:\\Tables\\funky.bmp"}, {"Width", "32"}, {"Height", "1024"}, {"OriginalSize", "1"}},
            test::DeflateRaw(test::MakeBmp24(*differences)));
        return std::string(bytes.begin(), bytes.end());
    }
    TRef<TKivShowLocator> Open(const std::string& name, std::string_view colorManagement, bool withTable) {
        std::vector<test::TTestEntry> entries = {
            {"Project.kiv", "[Main]\r\nColorManagement=" + std::string(colorManagement) + "\r\n",
             TEntryStorage::Deflated}};
        if (withTable)
            entries.push_back({"ColorSpaceExe_FunkyRGB].ZKGFX", TablePicture(), TEntryStorage::Stored});
        const std::string file = folder.File(name);
        test::WriteFileBytes(file, test::PackInMemory(entries));
        return OpenPackagedShow(file).show;
    }
    // The identity table through the transform from sRGB to FunkyRGB.
    static TRef<TBitmap> FunkyTable() {
        TRef<TColorTransform> transform =
            CreateColorTransform(*BuiltInProfile("sRGB"), *BuiltInProfile("FunkyRGB"));
        if (!transform) return nullptr;
        TRef<TBitmap> table = MakeIdentityTable();
        transform->Apply(*table);
        return table;
    }
    static bool IsShowTable(const TBitmap& table) {
        TRef<TBitmap> identity = MakeIdentityTable();
        for (int y = 0; y < 1024; ++y)
            for (int x = 0; x < 32; ++x)
                for (int c = 0; c < 3; ++c)
                    if (table.Row(y)[4 * x + c] !=
                        static_cast<std::uint8_t>(identity->Row(y)[4 * x + c] + Difference(y, x, c)))
                        return false;
        return true;
    }

    test::TTempFolder folder;
};

TEST_F(ShowColorTables, TheShowsTablePictureMakesTheTransform) {
    ASSERT_TRUE(Open("funky.kvshow", "*", true));
    EXPECT_EQ(ColorManagement(), TColorManagement::Tables);
    EXPECT_EQ(DisplayProfile()->Name(), "FunkyRGB");
    TRef<TBitmap> table = FunkyTable();
    ASSERT_TRUE(table);
    EXPECT_TRUE(IsShowTable(*table)) << "each byte is the identity value plus the difference, modulo 256";
    EXPECT_EQ(table->Row(0)[3], 255) << "alpha kept";
}

TEST_F(ShowColorTables, ColourManagementOffStillReadsTheTable) {
    ASSERT_TRUE(Open("off.kvshow", "", true));
    EXPECT_EQ(ColorManagement(), TColorManagement::Off);
    TRef<TBitmap> table = FunkyTable();
    ASSERT_TRUE(table);
    EXPECT_TRUE(IsShowTable(*table));
}

TEST_F(ShowColorTables, TheNextShowWithoutATableUsesTheLibrary) {
    ASSERT_TRUE(Open("first.kvshow", "*", true));
    ASSERT_TRUE(Open("second.kvshow", "*", false));
    TRef<TBitmap> table = FunkyTable();
    ASSERT_TRUE(table);
    EXPECT_FALSE(IsShowTable(*table)) << "the first show's table went with it";
    EXPECT_GT(table->Row(1023)[4 * 31 + 2], 240) << "white stays white through Little CMS";

    ASSERT_TRUE(Open("third.kvshow", "*", true));
    RunColorSetup(nullptr, nullptr);
    table = FunkyTable();
    ASSERT_TRUE(table);
    EXPECT_FALSE(IsShowTable(*table)) << "a set-up without a show has no tables";
}

} // namespace
} // namespace kiv

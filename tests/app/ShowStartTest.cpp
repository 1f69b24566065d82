#include "app/ShowStart.h"
#include "project/ShowNames.h"

#include "package/TempFolder.h"

#include <gtest/gtest.h>

#include <set>

namespace kiv {
namespace {

const std::string kProgram = "/opt/kiv/bin/kivviewer";

TShowStart Start(std::string_view text, const std::string& workingFolder = {}) {
    return ChooseShowStart(TCommandLine::FromText(text), kProgram, workingFolder);
}

TEST(ShowStart, WithoutNamesTheProgramPlaysItsOwnPackage) {
    const TShowStart start = Start("kivviewer");
    EXPECT_EQ(start.name, kProgram);
    EXPECT_FALSE(start.projectFileGiven);
    EXPECT_EQ(start.projectFileName, "");
    EXPECT_EQ(start.position, 0);
    EXPECT_FALSE(start.timeGiven);
}

TEST(ShowStart, FilenameWinsOverExenameAndNamesAProjectFile) {
    const TShowStart start = Start("kivviewer -exename /s/a.kvshow -filename /s/Project.kiv");
    EXPECT_EQ(start.name, "/s/Project.kiv");
    EXPECT_TRUE(start.projectFileGiven);
    EXPECT_EQ(start.projectFileName, "/s/Project.kiv");

    const TShowStart exe = Start("kivviewer -exename /s/a.kvshow");
    EXPECT_EQ(exe.name, "/s/a.kvshow");
    EXPECT_FALSE(exe.projectFileGiven);
}

TEST(ShowStart, RelativeNamesResolveAgainstTheProgramFolderUnlessTheyExistInTheWorkingFolder) {
    EXPECT_EQ(Start("kivviewer -exename shows/x.kvshow").name, "/opt/kiv/bin/shows/x.kvshow");
    EXPECT_EQ(Start("kivviewer -exename ../x.kvshow").name, "/opt/kiv/x.kvshow");

    test::TTempFolder folder;
    test::WriteFileBytes(folder.File("here.kvshow"), "x");
    const std::string work = folder.Path().string();
    EXPECT_EQ(Start("kivviewer -exename here.kvshow", work).name, folder.File("here.kvshow"));
    EXPECT_EQ(Start("kivviewer -exename gone.kvshow", work).name, "/opt/kiv/bin/gone.kvshow");
}

TEST(ShowStart, APlainNameIsTheShowAndScreenSaverRequestsAreNot) {
    EXPECT_EQ(Start("kivviewer /s /m/demo.kvshow").name, "/m/demo.kvshow");
    const TShowStart project = Start("kivviewer /m/Project.KIV -slide 2");
    EXPECT_TRUE(project.projectFileGiven);
    EXPECT_EQ(project.projectFileName, "/m/Project.KIV");
    EXPECT_EQ(Start("kivviewer /s").name, kProgram);
    EXPECT_EQ(Start("kivviewer.scr /p 1234").name, kProgram) << "the preview window's handle is no name";
    EXPECT_EQ(Start("kivviewer.scr /c:5678").name, kProgram);
    EXPECT_EQ(Start("kivviewer /S x.kvshow").name, "/opt/kiv/bin/x.kvshow")
        << "a value that is not a screen-saver request counts as a name";
    // The switches keep their meaning over a plain name.
    EXPECT_EQ(Start("kivviewer /m/a.kvshow -exename /m/b.kvshow").name, "/m/b.kvshow");
}

TEST(ShowStart, SlidePositionIsTheNumberMinusOne) {
    EXPECT_EQ(Start("k -slide 1").position, 0);
    EXPECT_EQ(Start("k -slide 3").position, 2);
    EXPECT_FALSE(Start("k -slide 3").timeGiven);
    EXPECT_EQ(Start("k -slide x").position, 0);
    EXPECT_EQ(Start("k -slide 0").position, 0);
    EXPECT_EQ(Start("k -slide -4").position, 0);
    EXPECT_EQ(Start("k -slide").position, 0);
}

TEST(ShowStart, TimeMarksThePositionAsMillisecondsEvenWhenInvalid) {
    const TShowStart one = Start("k -time 1");
    EXPECT_TRUE(one.timeGiven);
    EXPECT_EQ(one.position, 0);
    EXPECT_EQ(Start("k -time 5000").position, 4999);
    const TShowStart bad = Start("k -time soon");
    EXPECT_TRUE(bad.timeGiven);
    EXPECT_EQ(bad.position, 0);
}

TEST(ShowStart, SlideWinsOverTime) {
    const TShowStart start = Start("k -time 5000 -slide 4");
    EXPECT_FALSE(start.timeGiven);
    EXPECT_EQ(start.position, 3);
}

TEST(ShowNames, ExtensionsAndFolders) {
    EXPECT_EQ(FileExtension("C:\\a.b\\show.KVSHOW"), ".KVSHOW");
    EXPECT_EQ(FileExtension("C:\\a.b\\show"), "");
    EXPECT_EQ(FileExtension("/x/y.tar.gz"), ".gz");
    EXPECT_EQ(ChangeFileExtension("C:\\a.b\\show", ".kvshow"), "C:\\a.b\\show.kvshow");
    EXPECT_EQ(ChangeFileExtension("/x/show.exe", ".kvshow"), "/x/show.kvshow");
}

TEST(ShowNames, AppBundleUsesItsSlideshowDatWhenPresent) {
    std::set<std::string> files = {"/Volumes/S/Show.app/Contents/Resources/slideshow.dat",
                                   "C:\\S\\Win.APP\\Contents\\Resources\\slideshow.dat"};
    const TFileExists exists = [&](const std::string& name) { return files.count(name) > 0; };
    EXPECT_EQ(MapToPackageFile("/Volumes/S/Show.app", exists),
              "/Volumes/S/Show.app/Contents/Resources/slideshow.dat");
    EXPECT_EQ(MapToPackageFile("C:\\S\\Win.APP", exists),
              "C:\\S\\Win.APP\\Contents\\Resources\\slideshow.dat");
    // No slideshow.dat inside: the ".kvshow" file of the same base name.
    EXPECT_EQ(MapToPackageFile("/Volumes/S/Empty.app", exists), "/Volumes/S/Empty.kvshow");
    EXPECT_EQ(MapToPackageFile("C:\\S\\run.exe", exists), "C:\\S\\run.exe");
    EXPECT_EQ(MapToPackageFile("/m/a.kvshow", exists), "/m/a.kvshow");
}

TEST(ShowNames, TheExecutableAliasIsUsedUnchangedWhileItsFileIsSet) {
    const TFileExists none = [](const std::string&) { return false; };
    SetShowAlias({"C:\\Show\\Demo.app", "/m/Project.kiv"});
    EXPECT_TRUE(MatchesShowAlias("c:\\show\\DEMO.app"));
    EXPECT_EQ(MapToPackageFile("c:\\show\\DEMO.app", none), "c:\\show\\DEMO.app");
    SetShowAlias({"C:\\Show\\Demo.app", ""});
    EXPECT_FALSE(MatchesShowAlias("C:\\Show\\Demo.app"));
    EXPECT_EQ(MapToPackageFile("C:\\Show\\Demo.app", none), "C:\\Show\\Demo.kvshow");
    SetShowAlias({});
}

} // namespace
} // namespace kiv

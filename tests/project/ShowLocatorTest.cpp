#include "project/KivShowLocator.h"

#include "base/Log.h"
#include "package/PathModifiers.h"
#include "project/ProjectError.h"
#include "project/ShowColorSetup.h"
#include "project/ShowNames.h"
#include "project/ShowOpenHooks.h"

#include "package/PackageBytes.h"
#include "package/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kiv {
namespace {

std::string ReadAll(TStream& stream) {
    std::string bytes(static_cast<std::size_t>(stream.GetSize() - stream.GetPosition()), '\0');
    stream.ReadBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return bytes;
}

std::string ReadName(const TKivShowLocator& show, const std::string& name) {
    TRef<TStream> stream = show.Accessor().Open(name);
    return stream ? ReadAll(*stream) : std::string("<none>");
}

const std::string kProject = "[Main]\r\nKivVersion=5.6.1\r\nColorManagement=sRGB\r\n"
                             "[FileMap]\r\n;\"a.jpg\"=\"b.jpg\"\r\n"
                             "[RotationState]\r\n;\"p.jpg\"=6\r\n;\"q.jpg\"=7\r\n"
                             "[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=3000\r\nopt_synchpos2=6000\r\n";

class ShowLocator : public ::testing::Test {
protected:
    void SetUp() override { InstallShowOpenHooks(); }
    void TearDown() override {
        SetShowAlias({});
        SetCurrentShow(nullptr);
        ResetPathModifiers();
        SetColorLibraryHook(nullptr);
    }
    std::string WritePackage(const std::string& name, const std::vector<test::TTestEntry>& entries,
                             const test::TPackOptions& options = {}) {
        const std::string file = folder.File(name);
        test::WriteFileBytes(file, test::PackInMemory(entries, options));
        return file;
    }

    test::TTempFolder folder;
};

TEST_F(ShowLocator, PackagedShowReadsItsProjectTablesAndVersion) {
    test::TPackOptions options;
    options.version = "5.6";
    const std::string file = WritePackage("show.kvshow",
                                          {{"Project.kiv", kProject, TEntryStorage::Deflated},
                                           {"b.jpg", "bee", TEntryStorage::Scrambled},
                                           {"img\\c.jpg", "sea", TEntryStorage::Stored}},
                                          options);
    const TPackagedOpen opened = OpenPackagedShow(file);
    ASSERT_TRUE(opened.show) << opened.error;
    const TKivShowLocator& show = *opened.show;
    EXPECT_TRUE(show.Packaged());
    EXPECT_EQ(show.ProjectName(), "Project.kiv");
    EXPECT_EQ(show.Version(), "5.6.1") << "the project's KivVersion, not the package's";
    EXPECT_EQ(show.Accessor().BaseFolder(), folder.Path().string() + "/");
    ASSERT_NE(show.PackedSource(), nullptr);
    EXPECT_EQ(ReadName(show, "A.JPG"), "bee") << "FileMap maps without regard to case";
    EXPECT_EQ(ReadName(show, "IMG\\C.jpg"), "sea");
    EXPECT_EQ(ReadName(show, "img\\c.jpg|2"), "sea") << "a selector is not part of the entry name";
    EXPECT_EQ(ReadName(show, "missing.jpg"), "<none>");
    EXPECT_EQ(show.Accessor().Source().Rotation("P.JPG"), 6);
    EXPECT_EQ(show.Accessor().Source().Rotation("q.jpg"), 0) << "7 is no orientation";
    EXPECT_TRUE(ShowColorState().libraryActive) << "the colour set-up ran";

    std::string version;
    EXPECT_TRUE(PackageVersion(file, version));
    EXPECT_EQ(version, "5.6");
    EXPECT_FALSE(PackageVersion(folder.File("none.kvshow"), version));
}

// An action names another show as the show's author wrote it: "\" between folders, any case.
// Its package opens and its version reads like the one given on the command line.
TEST_F(ShowLocator, APackageNamedAsAShowWritesItOpens) {
    test::TPackOptions options;
    options.version = "5.6";
    std::string written = WritePackage("other.kvshow", {{"Project.kiv", kProject, TEntryStorage::Deflated}}, options);
    for (char& c : written)
        if (c == '/') c = '\\';
    written.replace(written.size() - 12, 12, "OTHER.KVSHOW");
    std::string version;
    EXPECT_TRUE(PackageVersion(written, version));
    EXPECT_EQ(version, "5.6");
    const TPackagedOpen opened = OpenPackagedShow(written);
    ASSERT_TRUE(opened.show) << opened.error;
    EXPECT_EQ(opened.show->Version(), "5.6.1");
}

TEST_F(ShowLocator, PackageFailuresCarryTheirTexts) {
    const std::string noProject = WritePackage("noproject.kvshow", {{"b.jpg", "bee", TEntryStorage::Stored}});
    EXPECT_EQ(OpenPackagedShow(noProject).error, "Executable SlideShow Open Error");
    EXPECT_FALSE(OpenPackagedShow(noProject).show);

    EXPECT_EQ(OpenPackagedShow(folder.File("absent.kvshow")).error, "Slideshow File not Found");

    test::WriteFileBytes(folder.File("plain.exe"), std::string(5000, 'x'));
    const TPackagedOpen plain = OpenPackagedShow(folder.File("plain.exe"));
    EXPECT_FALSE(plain.show);
    EXPECT_EQ(plain.error, "") << "a file without a package has no text of its own";

    test::WriteFileBytes(folder.File("tiny.kvshow"), "ab");
    EXPECT_EQ(OpenPackagedShow(folder.File("tiny.kvshow")).error, "");

    test::TPackOptions appended;
    appended.form = TPackageForm::Appended;
    appended.prefix = std::string(2000, 'E');
    const std::string locked =
        test::PackInMemory({{"Project.kiv", kProject, TEntryStorage::Stored}}, appended);
    test::WriteFileBytes(folder.File("moved.bin"), std::string(700, 'F') + locked);
    EXPECT_EQ(OpenPackagedShow(folder.File("moved.bin")).error, "Slide-show File Modified");

    const std::string directory =
        "[Project.kiv]\r\n_ps=0\r\n_sz=4\r\n[$protection$]\r\nstrucpos=12x\r\nallowmodify=1\r\n";
    test::WriteFileBytes(folder.File("damaged.kvshow"), "abcd" + test::OwnTrailer(directory, 4));
    EXPECT_EQ(OpenPackagedShow(folder.File("damaged.kvshow")).error, "Slide-show File Damaged");
}

TEST_F(ShowLocator, ProjectFileReadsNamesBesideItAndItsExecutableFolder) {
    test::WriteFileBytes(folder.File("show/img/b.jpg"), "bee");
    test::WriteFileBytes(folder.File("show/Project.kiv"),
                         kProject + "[Main]\r\nopt_exefn=C:\\Shows\\Demo.exe\r\n");
    TRef<TKivShowLocator> show = OpenProjectFile(folder.File("show/Project.kiv"));
    ASSERT_TRUE(show);
    EXPECT_FALSE(show->Packaged());
    EXPECT_EQ(show->ProjectName(), folder.File("show/Project.kiv"));
    EXPECT_EQ(show->Accessor().BaseFolder(), "C:\\Shows\\");
    EXPECT_EQ(ReadName(*show, "IMG\\B.JPG"), "bee") << "relative Windows names, matched without case";
    EXPECT_EQ(show->PackedSource(), nullptr);
    EXPECT_EQ(show->Accessor().Source().Rotation("p.jpg"), 6);

    EXPECT_FALSE(OpenProjectFile(folder.File("show/Missing.kiv")));
}

TEST_F(ShowLocator, RelativeProjectNamesAreTakenFromTheCurrentFolderOnce) {
    test::WriteFileBytes(folder.File("kf/img/b.jpg"), "bee");
    test::WriteFileBytes(folder.File("kf/Project.kiv"), kProject);
    std::filesystem::create_directories(folder.File("other"));
    {
        test::TCurrentFolder inside(folder.File(""));
        TRef<TKivShowLocator> show = OpenProjectFile("kf/Project.kiv");
        ASSERT_TRUE(show) << "the folder must not be put in front of the name twice";
        EXPECT_TRUE(std::filesystem::equivalent(show->ProjectName(), folder.File("kf/Project.kiv")));
        EXPECT_EQ(ReadName(*show, "img\\b.jpg"), "bee") << "the show's files lie beside its project";
        EXPECT_TRUE(OpenProjectFile("kf\\Project.kiv")) << "Windows separators";
        EXPECT_FALSE(OpenProjectFile("kf/Missing.kiv"));
    }
    {
        test::TCurrentFolder other(folder.File("other"));
        TRef<TKivShowLocator> show = OpenProjectFile("../kf/Project.kiv");
        ASSERT_TRUE(show);
        EXPECT_EQ(ReadName(*show, "img/b.jpg"), "bee");
        // The files stay where they were when the current folder changes later.
        test::TCurrentFolder elsewhere(folder.File("kf/img"));
        EXPECT_EQ(ReadName(*show, "img/b.jpg"), "bee");
    }
}

TEST_F(ShowLocator, PathModifiersAreReplacedOnlyByAProjectThatHasThem) {
    const std::size_t startUp = RegisteredPathModifiers().size();
    ASSERT_GT(startUp, 0u);
    test::WriteFileBytes(folder.File("plain.kiv"), "[Main]\r\n");
    ASSERT_TRUE(OpenProjectFile(folder.File("plain.kiv")));
    EXPECT_EQ(RegisteredPathModifiers().size(), startUp) << "no section: the list stays";

    test::WriteFileBytes(folder.File("two.kiv"),
                         "[PathModifiers]\r\nCount=2\r\nEnv0=%pics%\r\nPath0=/srv/pics\r\n"
                         "Def0=1\r\nEnv1=%snd%\r\nPath1=/srv/snd\r\n");
    ASSERT_TRUE(OpenProjectFile(folder.File("two.kiv")));
    const std::vector<TPathModifier> two = RegisteredPathModifiers();
    ASSERT_EQ(two.size(), 2u);
    EXPECT_TRUE(two[0].isDefault);
    EXPECT_FALSE(two[1].isDefault);

    test::WriteFileBytes(folder.File("none.kiv"), "[PathModifiers]\r\nCount=0\r\n");
    ASSERT_TRUE(OpenProjectFile(folder.File("none.kiv")));
    EXPECT_TRUE(RegisteredPathModifiers().empty()) << "Count=0 empties the list";

    // A huge count with one entry present reads only what is there, at once.
    test::WriteFileBytes(folder.File("huge.kiv"),
                         "[PathModifiers]\r\nCount=2147483647\r\nEnv0=%a%\r\nPath0=/a\r\n");
    ASSERT_TRUE(OpenProjectFile(folder.File("huge.kiv")));
    EXPECT_EQ(RegisteredPathModifiers().size(), 1u);
}

TEST_F(ShowLocator, TheExecutableAliasOpensTheRememberedProjectFile) {
    test::WriteFileBytes(folder.File("real/Project.kiv"), kProject);
    SetShowAlias({"C:\\Shows\\Demo.exe", folder.File("real/Project.kiv")});
    const TPackagedOpen opened = OpenPackagedShow("c:\\shows\\DEMO.EXE");
    ASSERT_TRUE(opened.show);
    EXPECT_FALSE(opened.show->Packaged());
    EXPECT_EQ(opened.show->ProjectName(), folder.File("real/Project.kiv"));
}

TEST_F(ShowLocator, MappingLoopsOpenNothing) {
    const std::string file = WritePackage(
        "loop.kvshow",
        {{"Project.kiv", "[FileMap]\r\n;a=b\r\n;b=c\r\n;c=A\r\n;d=e\r\n;e=f\r\n", TEntryStorage::Stored},
         {"a", "A", TEntryStorage::Stored},
         {"f", "F", TEntryStorage::Stored}});
    const TPackagedOpen opened = OpenPackagedShow(file);
    ASSERT_TRUE(opened.show);
    EXPECT_EQ(ReadName(*opened.show, "a"), "<none>");
    EXPECT_EQ(ReadName(*opened.show, "d"), "F") << "a chain is followed to its end";
}

TEST_F(ShowLocator, ParsedProjectIsBuiltOnceAndBadTimelinesRaise) {
    const std::string good = WritePackage("good.kvshow", {{"Project.kiv", kProject, TEntryStorage::Stored}});
    TRef<TKivShowLocator> show = OpenPackagedShow(good).show;
    ASSERT_TRUE(show);
    TKivSource& first = show->ParsedProject();
    EXPECT_EQ(&first, &show->ParsedProject());
    EXPECT_EQ(first.SlideCount(), 2);
    EXPECT_EQ(first.Period(), 6000);
    EXPECT_EQ(&first.Document(), show->Project()) << "the parsed project shares the locator's document";
    EXPECT_EQ(first.FileAccessor(), &show->Accessor()) << "and opens the show's files through its accessor";

    const std::string bad = WritePackage(
        "bad.kvshow",
        {{"Project.kiv", "[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=5000\r\nopt_synchpos2=100\r\n",
          TEntryStorage::Stored}});
    show = OpenPackagedShow(bad).show;
    ASSERT_TRUE(show) << "the project opens; playing it fails";
    EXPECT_THROW(show->ParsedProject(), EProjectError);
}

TEST_F(ShowLocator, WindowsLibrariesInAPackageAreIgnoredAndLogged) {
    const std::string log = folder.File("run.log");
    TLog::Start(TLogMode::File, "/tmp/kivviewer", log);
    const std::string file = WritePackage(
        "libs.kvshow", {{"Project.kiv", "[Main]\r\nColorManagement=?\r\n", TEntryStorage::Stored},
                        {"lcms2.dll", "MZ", TEntryStorage::Stored}});
    const TPackagedOpen opened = OpenPackagedShow(file);
    TLog::Finish();
    ASSERT_TRUE(opened.show);
    EXPECT_TRUE(ShowColorState().libraryActive) << "the linked library serves the show";
    EXPECT_NE(test::ReadFileBytes(log).find("The show's copy of lcms2.dll was ignored"), std::string::npos);
}

} // namespace
} // namespace kiv

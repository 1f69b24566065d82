#include "viewer/ShowSwitcher.h"

#include "FakeWindow.h"
#include "HandTimeline.h"
#include "viewer/ActionPerformer.h"
#include "viewer/CloseHandler.h"
#include "viewer/CommandLine.h"
#include "viewer/ProgramRunner.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace kiv {
namespace {

using testing::TFakeWindow;
using testing::THandTimeline;
using Strings = std::vector<std::string>;

TEST(CommandLine, TokensQuotesAndSwitches) {
    EXPECT_EQ(TCommandLine::Tokenise("  a \"b c\"\td\"e f\"g \"\" \"x\"y\"z\""),
              (Strings{"a", "b c", "de fg", "", "xyz"}));
    const TCommandLine line = TCommandLine::Parse("\"C:\\Shows\\b.exe\" other -slide 3 -FileLog -log");
    EXPECT_EQ(line.Value(""), "C:\\Shows\\b.exe");
    EXPECT_EQ(line.Value("", 1), "other");
    EXPECT_EQ(line.Value("slide"), "3");
    EXPECT_FALSE(line.Value("slide", 1).has_value());
    EXPECT_TRUE(line.HasSwitch("FileLog"));
    EXPECT_FALSE(line.HasSwitch("filelog")); // switch names match exactly
    EXPECT_TRUE(line.HasSwitch("log"));
    EXPECT_FALSE(line.Value("log").has_value());
    EXPECT_TRUE(line.HasToken("-slide"));
    EXPECT_FALSE(line.HasToken("-Slide"));
}

TEST(CommandLine, StartPositionFromSlideOrTime) {
    const auto position = [](const char* text) { return StartPositionOf(TCommandLine::Parse(text)); };
    EXPECT_EQ(position("show -slide 3").position, 2);
    EXPECT_FALSE(position("show -slide 3").isTime);
    EXPECT_EQ(position("show -slide 0").position, 0);
    EXPECT_EQ(position("show -slide x").position, 0);
    EXPECT_EQ(position("show -time 5000").position, 4999);
    EXPECT_TRUE(position("show -time 5000").isTime);
    EXPECT_TRUE(position("show -time").isTime);
    EXPECT_EQ(position("show -time 9000 -slide 2").position, 1); // slide wins
    EXPECT_FALSE(position("show -time 9000 -slide 2").isTime);
    EXPECT_EQ(position("show").position, 0);
}

TEST(ShowPaths, FoldersNamesAndRelativeFolders) {
    EXPECT_EQ(FolderOf("C:\\a\\b.exe"), "C:\\a");
    EXPECT_EQ(FolderOf("C:\\b.exe"), "C:\\");
    EXPECT_EQ(FolderOf("b.exe"), "");
    EXPECT_EQ(FileNameOf("C:\\a\\b.exe"), "b.exe");
    EXPECT_EQ(RelativeFolder("C:\\Shows\\Other", "C:\\shows\\Main"), "..\\Other");
    EXPECT_EQ(RelativeFolder("C:\\Shows\\Main\\Sub", "C:\\Shows\\Main"), "Sub");
    EXPECT_EQ(RelativeFolder("C:\\Shows", "C:\\Shows"), "");
    EXPECT_EQ(RelativeFolder("C:\\X", "C:\\Shows\\Main"), "..\\..\\X");
    EXPECT_FALSE(RelativeFolder("D:\\Shows", "C:\\Shows").has_value());
}

// Show files on a pretend disk: name -> package version ("" = not a show package).
class TPretendFiles : public TShowFiles {
public:
    std::map<std::string, std::string> files;
    std::string aliasExecutable, aliasFile;
    bool FileExists(const std::string& name) const override { return files.count(name) != 0; }
    std::optional<std::string> PackageVersion(const std::string& name) const override {
        const auto it = files.find(name);
        if (it == files.end() || it->second.empty()) return std::nullopt;
        return it->second;
    }
    std::string AliasExecutable() const override { return aliasExecutable; }
    std::string AliasFile() const override { return aliasFile; }
};

TEST(ShowPaths, PackageFilesOfBundlesAndAliases) {
    TPretendFiles files;
    files.files["\\Apps\\Show.app\\Contents\\Resources\\slideshow.dat"] = "5";
    EXPECT_EQ(PackageFileOf("\\Apps\\Show.app", files),
              "\\Apps\\Show.app\\Contents\\Resources\\slideshow.dat");
    EXPECT_EQ(PackageFileOf("\\Apps\\Empty.APP", files), "\\Apps\\Empty.kvshow");
    EXPECT_EQ(PackageFileOf("\\Apps\\b.exe", files), "\\Apps\\b.exe");
    files.aliasExecutable = "C:\\x.app";
    files.aliasFile = "\\p\\x.kiv";
    EXPECT_EQ(PackageFileOf("c:\\X.app", files), "c:\\X.app");
}

class ShowSwitcherTest : public ::testing::Test {
protected:
    THandTimeline timeline{{5000, 9000, 15000}, {2000, 1000, 8000}, false};
    TFakeWindow window;
    TPretendFiles files;
    TProgramRunner runner{TProgramRunner::TOptions{}};
    TShowSwitcher switcher{window, files};
    TActionPerformer performer{window, runner, switcher};
    TCloseHandler closeHandler{window, performer};

    ShowSwitcherTest() {
        window.times = &timeline;
        window.current = {"/home/u/shows/main.kvshow", "/home/u/shows", "5.6", ""};
        window.project->LoadFromText("[Main]\nopt_exefn=C:\\Author\\Shows\\main.exe\n");
    }
};

TEST_F(ShowSwitcherTest, NamesWrittenForTheAuthorsFoldersAreFoundBesideTheShow) {
    files.files["\\home\\u\\shows\\..\\Other\\b.exe"] = "5.6";
    files.files["\\home\\u\\shows\\c.exe"] = "5.6";
    files.files["D:/elsewhere/d.exe"] = "5.6";
    // The same place relative to the show's folder as to the author's executable.
    EXPECT_EQ(switcher.ResolveShowFile("C:\\Author\\Other\\b.exe"), "\\home\\u\\shows\\..\\Other\\b.exe");
    // Not there: beside the show.
    EXPECT_EQ(switcher.ResolveShowFile("C:/Author/Gone/c.exe"), "\\home\\u\\shows\\c.exe");
    // Nowhere: unchanged but for the slashes.
    EXPECT_EQ(switcher.ResolveShowFile("C:/Author/Gone/e.exe"), "C:\\Author\\Gone\\e.exe");
    // Without opt_exefn only the name as written counts.
    window.project->LoadFromText("[Main]\n");
    EXPECT_EQ(switcher.ResolveShowFile("C:\\Author\\Gone\\c.exe"), "C:\\Author\\Gone\\c.exe");
}

TEST_F(ShowSwitcherTest, MissingBrokenAndMismatchingShowsAreReportedAndKeepTheShow) {
    files.files["\\s\\broken.kvshow"] = "";
    files.files["\\s\\old.kvshow"] = "5.0";
    performer.Perform(ParseActionWord("runpresentation(\"/s/missing.kvshow\")"));
    performer.Perform(ParseActionWord("runpresentation(\"/s/broken.kvshow\")"));
    performer.Perform(ParseActionWord("runpresentationandreturn(\"/s/old.kvshow\")"));
    EXPECT_EQ(window.errors, (Strings{"KivShow File not Found:\r\\s\\missing.kvshow",
                                      "Not KivShow Executable File or File Corrupted:\r\\s\\broken.kvshow",
                                      "KivShow ExeFile Version Mismatch:\r\\s\\old.kvshow"}));
    EXPECT_TRUE(window.opens.empty());
    EXPECT_EQ(window.closeRequests, 0);
    EXPECT_TRUE(window.state.runStack.Empty());
}

TEST_F(ShowSwitcherTest, RunPresentationAndReturnRemembersTheSlide) {
    files.files["\\s\\b.kvshow"] = "5.6";
    window.time = 7000; // slide 2
    window.paused = true;
    EXPECT_TRUE(performer.Perform(ParseActionWord("runpresentationandreturn(\"/s/b.kvshow -time 1500\")")));
    ASSERT_EQ(window.opens.size(), 1u);
    EXPECT_EQ(window.opens[0].name, "\\s\\b.kvshow");
    EXPECT_TRUE(window.opens[0].asPackage);
    EXPECT_TRUE(window.opens[0].timeGiven);
    EXPECT_TRUE(window.opens[0].checkPassword);
    EXPECT_EQ(window.opens[0].position, 1499);
    EXPECT_FALSE(window.paused);
    ASSERT_EQ(window.state.runStack.Count(), 1);
    EXPECT_EQ(window.state.runStack.Item(0).text, "\"/home/u/shows/main.kvshow\" -slide 2");
}

TEST_F(ShowSwitcherTest, FailedOpensRestoreThePauseOrCloseTheWindow) {
    files.files["\\s\\b.kvshow"] = "5.6";
    window.openSucceeds = false;
    window.paused = true;
    EXPECT_FALSE(switcher.Switch(ParseActionWord("runpresentationandreturn(\"/s/b.kvshow\")")));
    EXPECT_TRUE(window.paused);
    EXPECT_TRUE(window.state.runStack.Empty());
    EXPECT_EQ(window.closeRequests, 0);
    window.paused = false;
    EXPECT_FALSE(switcher.Switch(ParseActionWord("runpresentation(\"/s/b.kvshow\")")));
    EXPECT_TRUE(window.state.exitRequested);
    EXPECT_EQ(window.closeRequests, 1);
}

TEST_F(ShowSwitcherTest, TheStartingProjectFileOpensWithoutVersionCheck) {
    window.current.projectFileName = "/p/show.kiv";
    EXPECT_TRUE(switcher.Switch(ParseActionWord("runpresentation(\"/p/show.kiv -slide 4\")")));
    ASSERT_EQ(window.opens.size(), 1u);
    EXPECT_FALSE(window.opens[0].asPackage);
    EXPECT_EQ(window.opens[0].position, 3);
    EXPECT_FALSE(window.opens[0].timeGiven);
}

TEST_F(ShowSwitcherTest, ClosingAShowReachedWithReturnGoesBack) {
    files.files["\\s\\b.kvshow"] = "5.6";
    files.files["\\home\\u\\shows\\main.kvshow"] = "5.6";
    window.time = 12000; // slide 3
    performer.Perform(ParseActionWord("runpresentationandreturn(\"/s/b.kvshow\")"));
    window.current.path = "/s/b.kvshow";

    // A close the user did not ask for (the system) goes on.
    EXPECT_TRUE(closeHandler.AllowClose());
    window.state.closing = false;
    // Exit asked: back to the previous show at its slide, the window stays.
    window.state.exitRequested = true;
    EXPECT_FALSE(closeHandler.AllowClose());
    ASSERT_EQ(window.opens.size(), 2u);
    EXPECT_EQ(window.opens[1].name, "\\home\\u\\shows\\main.kvshow");
    EXPECT_EQ(window.opens[1].position, 2);
    EXPECT_TRUE(window.state.runStack.Empty());
    EXPECT_FALSE(window.state.exitRequested);
    EXPECT_FALSE(window.state.closing);
    // Exit again: nothing left to return to.
    window.state.exitRequested = true;
    EXPECT_TRUE(closeHandler.AllowClose());
    EXPECT_TRUE(window.state.closing);
    EXPECT_FALSE(closeHandler.AllowClose()); // already closing: ignored
}

TEST_F(ShowSwitcherTest, RunOnExitOnlyAfterTheLastSlideByDefault) {
    files.files["\\s\\next.kvshow"] = "5.6";
    window.project->LoadFromText("[Main]\nopt_runapponexit=2\nopt_runapponexitfn=/s/next.kvshow\n");
    window.state.exitRequested = true;
    EXPECT_TRUE(closeHandler.AllowClose()); // the user left before the end
    EXPECT_TRUE(window.opens.empty());

    window.state = {};
    window.state.exitRequested = true;
    window.state.endedByShow = true;
    EXPECT_FALSE(closeHandler.AllowClose());
    ASSERT_EQ(window.opens.size(), 1u);
    EXPECT_EQ(window.opens[0].name, "\\s\\next.kvshow");

    window.state = {};
    window.project->LoadFromText(
        "[Main]\nopt_runapponexit=2\nopt_runapponexitiflastslide=0\nopt_runapponexitfn=/s/gone.kvshow\n");
    window.state.exitRequested = true;
    EXPECT_TRUE(closeHandler.AllowClose()); // failed switch: the close goes on
    EXPECT_EQ(window.errors.size(), 1u);
}

} // namespace
} // namespace kiv

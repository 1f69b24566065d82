#include "viewer/ActionPerformer.h"

#include "FakeWindow.h"
#include "HandTimeline.h"
#include "ScriptFolder.h"
#include "viewer/ProgramRunner.h"
#include "viewer/ShowSwitcher.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using testing::TFakeWindow;
using testing::TNoShowFiles;
using testing::THandTimeline;
using testing::TScriptFolder;
using Strings = std::vector<std::string>;

class ActionPerformerTest : public ::testing::Test {
protected:
    TScriptFolder scripts;
    THandTimeline timeline{{5000, 9000, 15000}, {2000, 1000, 8000}, false, {"Intro", "Beach", "End"}};
    TFakeWindow window;
    TNoShowFiles files;
    TProgramRunner runner{Options()};
    TShowSwitcher switcher{window, files};
    TActionPerformer performer{window, runner, switcher};

    ActionPerformerTest() { window.times = &timeline; }

    TProgramRunner::TOptions Options() {
        TProgramRunner::TOptions options;
        options.programFolder = scripts.Path().string();
        options.opener = scripts.AddRecorder("opener");
        options.childStarted = [this](pid_t pid) { scripts.ChildStarted(pid); };
        options.mayStart = [](const TProgramStart&) { return true; };
        return options;
    }
};

TEST_F(ActionPerformerTest, ExitAndCloseDialogEndTheProgram) {
    EXPECT_TRUE(performer.Perform(MakeAction(kActionExit)));
    EXPECT_TRUE(window.state.exitRequested);
    EXPECT_EQ(window.closeRequests, 1);
    EXPECT_FALSE(window.exitCode.has_value());

    window.state.exitRequested = false;
    EXPECT_TRUE(performer.Perform(ParseActionWord("closedialog")));
    EXPECT_TRUE(window.state.exitRequested);
    EXPECT_EQ(window.closeRequests, 2);
    EXPECT_EQ(window.exitCode, 1);
}

TEST_F(ActionPerformerTest, GotoslideByNumberNameOrUnknownName) {
    performer.Perform(ParseActionWord("gotoslide(3)"));
    performer.Perform(ParseActionWord("gotoslide(Beach)"));
    performer.Perform(ParseActionWord("gotoslide(x)"));
    performer.Perform(ParseActionWord("gotofirstslide"));
    // Slide 3 starts at 9000 and has a transition; Beach is slide 2 (index 1); x is no slide.
    EXPECT_EQ(window.seeks, (std::vector<double>{9000, 5000, 0, 0}));
}

TEST_F(ActionPerformerTest, NavigationKeepsThePauseStateAndReleasesAHoldFirst) {
    window.time = 6000;
    window.paused = true;
    performer.Perform(MakeAction(kActionNextSlide));
    EXPECT_EQ(window.seeks, (std::vector<double>{9000 + 6000}));
    EXPECT_TRUE(window.paused);

    window.holding = true;
    performer.Perform(MakeAction(kActionNextSlide));
    EXPECT_EQ(window.holdsCleared, 1);
    EXPECT_EQ(window.seeks.size(), 1u);

    performer.Perform(MakeAction(kActionPrevSlide));
    EXPECT_EQ(window.seeks.back(), 6000);
    performer.Perform(MakeAction(kActionGotoTime, 12345));
    EXPECT_EQ(window.seeks.back(), 12345);
    EXPECT_TRUE(window.paused);
}

TEST_F(ActionPerformerTest, PauseTogglesUnlessTheEngineHolds) {
    performer.Perform(MakeAction(kActionPause));
    EXPECT_TRUE(window.paused);
    performer.Perform(MakeAction(kActionPause));
    EXPECT_FALSE(window.paused);
    window.holding = true;
    performer.Perform(MakeAction(kActionPause));
    EXPECT_FALSE(window.paused);
    EXPECT_EQ(window.holdsCleared, 1);
}

TEST_F(ActionPerformerTest, StopPausesAtTheStart) {
    window.time = 7000;
    EXPECT_TRUE(performer.Perform(ParseActionWord("stop")));
    EXPECT_TRUE(window.paused);
    EXPECT_EQ(window.seeks, (std::vector<double>{0}));
}

TEST_F(ActionPerformerTest, OverlayAndInertActionsAreNotHandledHere) {
    for (std::uint8_t kind :
         {kActionNone, kActionHelp, kActionOpenDialog, kActionSaveSlide, kActionChangePrinter})
        EXPECT_FALSE(performer.Perform(MakeAction(kind))) << int(kind);
    EXPECT_TRUE(performer.Perform(MakeAction(kActionPrint)));
    EXPECT_EQ(window.prints, 1);
    EXPECT_TRUE(window.seeks.empty());
    EXPECT_EQ(window.closeRequests, 0);
}

TEST_F(ActionPerformerTest, NothingHappensWithoutAViewer) {
    window.hasViewer = false;
    EXPECT_FALSE(performer.Perform(MakeAction(kActionExit)));
    EXPECT_FALSE(performer.Perform(MakeAction(kActionNextSlide)));
    EXPECT_EQ(window.closeRequests, 0);
    EXPECT_TRUE(window.seeks.empty());
}

TEST_F(ActionPerformerTest, ActionsFromTheViewerAreDroppedWhileOneIsBusy) {
    window.state.actionBusy = true;
    EXPECT_FALSE(performer.PerformFromViewer(MakeAction(kActionExit)));
    EXPECT_EQ(window.closeRequests, 0);
    window.state.actionBusy = false;
    EXPECT_TRUE(performer.PerformFromViewer(MakeAction(kActionExit)));
    EXPECT_EQ(window.closeRequests, 1);
    EXPECT_FALSE(window.state.actionBusy);
}

TEST_F(ActionPerformerTest, WebsiteAddressesGetHttpUnlessTheyHaveIt) {
    for (const char* word :
         {"openwebsite(\"example.com/a\")", "openwebsite(\"https://secure.example.com\")",
          "openwebsite(\"HTTP://caps.example.com\")", "openwebsite(\"http://plain.example.com\")",
          "writeemail(\"me@example.com\")", "writeemail(\"mailto:you@example.com\")"})
        EXPECT_TRUE(performer.Perform(ParseActionWord(word)));
    EXPECT_EQ(scripts.WaitForChildren(), 6);
    Strings arguments;
    for (const std::string& line : scripts.Recorded("opener"))
        if (line != "call") arguments.push_back(line);
    std::sort(arguments.begin(), arguments.end());
    EXPECT_EQ(arguments,
              (Strings{"http://HTTP://caps.example.com", "http://example.com/a", "http://plain.example.com",
                       "https://secure.example.com", "mailto:me@example.com", "mailto:you@example.com"}));
    EXPECT_EQ(window.captionInactive, 6);
}

TEST_F(ActionPerformerTest, RunappWithTwoProgramsStartsBoth) {
    scripts.AddRecorder("first");
    scripts.AddRecorder("tools/second");
    EXPECT_TRUE(performer.Perform(ParseActionWord("runapp(\"first 1, \"tools\\second\" \"a,b\"\")")));
    EXPECT_EQ(scripts.WaitForChildren(), 2);
    EXPECT_EQ(scripts.Recorded("first"), (Strings{"call", "1"}));
    EXPECT_EQ(scripts.Recorded("tools/second"), (Strings{"call", "a,b"}));
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(window.closeRequests, 0);
}

TEST_F(ActionPerformerTest, OneProhibitedCommandCancelsAll) {
    scripts.AddRecorder("first");
    for (const char* word : {"runapp(\"first, cmd /c dir\")", "runapp(\"first, C:\\Windows\\cmd.exe\")",
                             "runappandexit(\"first > list.txt\")"})
        performer.Perform(ParseActionWord(word));
    EXPECT_EQ(scripts.ChildCount(), 0);
    EXPECT_TRUE(scripts.Recorded("first").empty());
    ASSERT_EQ(window.messages.size(), 3u);
    EXPECT_EQ(window.messages[0], "|Command line contains prohibited command and will not be performed.");
}

TEST_F(ActionPerformerTest, RunappAndExitClosesTheWindowAndStarts) {
    scripts.AddRecorder("first");
    performer.Perform(ParseActionWord("runappandexit(\"first\")"));
    EXPECT_EQ(window.closeRequests, 1);
    EXPECT_EQ(scripts.WaitForChildren(), 1);
}

TEST_F(ActionPerformerTest, TopMostWindowStepsBackOnlyWhileAProgramStarts) {
    scripts.AddRecorder("first");
    window.topMost = true;
    performer.Perform(ParseActionWord("runapp(\"first\")"));
    EXPECT_EQ(window.topMostChanges, (std::vector<bool>{false}));
    window.topMost = true;
    performer.Perform(MakeAction(kActionRunApp, 0, "missing-program-xyz"));
    EXPECT_EQ(window.topMostChanges, (std::vector<bool>{false, false, true}));
    EXPECT_TRUE(window.topMost);
}

} // namespace
} // namespace kiv

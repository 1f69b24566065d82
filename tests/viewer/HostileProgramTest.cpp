// Shows that try to start programs the user never agreed to: each case goes through the real
// action performer, program runner and consent, and checks that the marker file the attack would
// make stays absent.
// First: its TempDir is gtest's, before the tests' own kiv::testing namespace exists.
#include "support/LogCapture.h"

#include "viewer/ActionPerformer.h"
#include "viewer/CloseHandler.h"
#include "viewer/ProgramConsent.h"
#include "viewer/ProgramRunner.h"
#include "viewer/ShowSwitcher.h"

#include "FakeWindow.h"
#include "ScriptFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace kiv {
namespace {

namespace fs = std::filesystem;
using testing::TFakeWindow;
using testing::TNoShowFiles;
using testing::TScriptFolder;

class HostileProgramTest : public ::testing::Test {
protected:
    TScriptFolder scripts;
    TFakeWindow window;
    TNoShowFiles files;
    std::int64_t now = 0;
    std::vector<std::string> questions;
    bool answer = true;
    TProgramConsent consent{TProgramPolicy::Ask,
                            [this](const TProgramStart& start) {
                                questions.push_back(start.CommandLine());
                                return answer;
                            },
                            [this] { return now; }};
    TProgramRunner runner{Options()};
    TShowSwitcher switcher{window, files};
    TActionPerformer performer{window, runner, switcher};
    TCloseHandler closer{window, performer};

    HostileProgramTest() { consent.SetShow("/shows/hostile.kvshow"); }

    TProgramRunner::TOptions Options() {
        TProgramRunner::TOptions options;
        options.programFolder = (scripts.Path() / "show").string();
        fs::create_directories(options.programFolder);
        options.childStarted = [this](pid_t pid) { scripts.ChildStarted(pid); };
        options.mayStart = [this](const TProgramStart& start) { return consent.MayStart(start); };
        return options;
    }
    std::string Marker() const { return (scripts.Path() / "marker").string(); }
    // What a button of the show does: the action comes from the viewer.
    void Click(const std::string& word) { performer.PerformFromViewer(ParseActionWord(word)); }
};

TEST_F(HostileProgramTest, LoadersInterpretersAndThePlayerItselfNeverStartAndNobodyIsAsked) {
    const std::string touch = "/usr/bin/touch " + Marker();
    // A copy of a harmless program under an interpreter's versioned name, and one under gdb's.
    scripts.AddRecorder("show/perl5.36.0");
    scripts.AddRecorder("show/gdb");
    const std::string commands[] = {
        "/usr/bin/ld.so " + touch,
        "/lib64/ld-linux-x86-64.so.2 " + touch,
        scripts.Path().string() + "/show/perl5.36.0 -e 1",
        scripts.Path().string() + "/show/gdb -batch -ex \"shell touch " + Marker() + "\"",
        "/proc/self/exe -filename x.kiv",
        "/proc/" + std::to_string(getpid()) + "/exe",
    };
    const std::string log = test::LoggedWhile([&] {
        for (const std::string& command : commands)
            Click("runapp(\"" + command + "\")");
    });
    const auto logged = [&log](const std::string& text) { return log.find(text) != std::string::npos; };
    EXPECT_EQ(scripts.WaitForChildren(), 0);
    EXPECT_EQ(scripts.ChildCount(), 0);
    EXPECT_TRUE(questions.empty()) << "a refused program is not even asked about";
    EXPECT_FALSE(fs::exists(Marker()));
    EXPECT_TRUE(scripts.Recorded("show/perl5.36.0").empty());
    EXPECT_TRUE(scripts.Recorded("show/gdb").empty());
    EXPECT_TRUE(logged("Program refused (a dynamic loader")) << log;
    EXPECT_TRUE(logged("Program refused (an interpreter or a program that runs others")) << log;
    EXPECT_TRUE(logged("Program refused (a process's program under /proc): /proc/self/exe")) << log;
    EXPECT_TRUE(logged("-batch -ex")) << "the refusal names the command line: " << log;
}

TEST_F(HostileProgramTest, RelativeNamesStayInsideTheFolderByDotsAndByLinks) {
    const std::string up = "..\\..\\..\\..\\..\\..\\..\\..\\usr\\bin\\touch " + Marker();
    fs::create_directories(scripts.Path() / "show/tools");
    fs::create_symlink("/usr/bin/touch", scripts.Path() / "show/tools/viewer");
    scripts.AddRecorder("show/tools/inside");
    scripts.AddRecorder("outside");
    const std::string log = test::LoggedWhile([&] {
        Click("runapp(\"" + up + "\")");
        Click("runapp(\"tools\\viewer " + Marker() + "\")");
        Click("runapp(\"tools/../../outside\")");
    });
    EXPECT_EQ(scripts.ChildCount(), 0);
    EXPECT_TRUE(questions.empty());
    EXPECT_FALSE(fs::exists(Marker()));
    EXPECT_TRUE(scripts.Recorded("outside").empty());
    EXPECT_NE(log.find("Program refused (outside the folder"), std::string::npos) << log;
    // A ".." that stays inside is fine, and the question names the real program.
    Click("runapp(\"tools\\..\\tools\\inside a b\")");
    EXPECT_EQ(scripts.WaitForChildren(), 1);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], (scripts.Path() / "show/tools/inside").string() + " a b");
}

TEST_F(HostileProgramTest, OneAnswerPerShowHoldsAndDontRunRefusesButtonsAndTheOnExitProgram) {
    scripts.AddRecorder("show/tool");
    answer = false;
    Click("runapp(\"tool first\")");
    Click("runapp(\"tool second\")");
    EXPECT_EQ(questions.size(), 1u) << "asked once for the show";
    EXPECT_EQ(consent.Answer("/shows/hostile.kvshow"), 0);

    // The on-exit program of the same show is refused without a question too.
    window.project->LoadFromText("[Main]\nopt_runapponexit=1\nopt_runapponexitfn=/usr/bin/touch " + Marker() +
                                 "\n");
    window.state.exitRequested = true;
    window.state.endedByShow = true;
    EXPECT_TRUE(closer.AllowClose());
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(scripts.ChildCount(), 0);
    EXPECT_FALSE(fs::exists(Marker()));

    // Another show is asked for itself; its Run holds for its later programs.
    consent.SetShow("/shows/other.kvshow");
    answer = true;
    Click("runapp(\"tool third\")");
    now += TProgramConsent::kRateWindowMs;
    Click("runapp(\"tool fourth\")");
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_EQ(scripts.WaitForChildren(), 2);
    EXPECT_EQ(scripts.Recorded("show/tool").size(), 4u); // two calls of one argument each
}

TEST_F(HostileProgramTest, ASlideStartStartsOneProgramAButtonAllOfItsOwn) {
    scripts.AddRecorder("show/tool");
    performer.PerformFromViewer(
        MakeAction(kActionRunApp, TActionPerformer::kSlideProgram, "tool a, tool b, tool c"));
    EXPECT_EQ(scripts.WaitForChildren(), 1);
    EXPECT_EQ(scripts.Recorded("show/tool"), (std::vector<std::string>{"call", "a"}));
    now += TProgramConsent::kRateWindowMs;
    Click("runapp(\"tool d, tool e\")");
    EXPECT_EQ(scripts.WaitForChildren(), 2);
    EXPECT_EQ(scripts.Recorded("show/tool").size(), 6u);
}

TEST(ProgramConsent, SwitchesDecideWithoutAskingAndStartsAreLimitedPerSecond) {
    int asked = 0;
    std::int64_t now = 5000;
    const TProgramStart start{"/bin/true", {}};
    TProgramConsent refuseAll(TProgramPolicy::RefuseAll, [&](const TProgramStart&) { return ++asked, true; },
                              [&] { return now; });
    EXPECT_FALSE(refuseAll.MayStart(start));
    TProgramConsent allowAll(TProgramPolicy::AllowAll, [&](const TProgramStart&) { return ++asked, false; },
                             [&] { return now; });
    // Two 10 ms slides that each start a program: a few a second get through, whatever the count.
    int started = 0;
    for (int slide = 0; slide < 1500; ++slide, now += 10)
        started += allowAll.MayStart(start) ? 1 : 0;
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(started, 15 * TProgramConsent::kStartsPerSecond);
    // The window slides: the next start is allowed exactly one second after the oldest counted one.
    TProgramConsent limited(TProgramPolicy::AllowAll, {}, [&] { return now; });
    now = 0;
    for (int i = 0; i < TProgramConsent::kStartsPerSecond; ++i)
        EXPECT_TRUE(limited.MayStart(start));
    now = 999;
    EXPECT_FALSE(limited.MayStart(start));
    now = 1000;
    EXPECT_TRUE(limited.MayStart(start));
    // Nobody to ask refuses.
    TProgramConsent nobody(TProgramPolicy::Ask, {}, [&] { return now; });
    EXPECT_FALSE(nobody.MayStart(start));
}

TEST(ProgramRunnerGate, ARunnerWithoutConsentOrInAHeadlessProcessStartsNothing) {
    TScriptFolder scripts;
    scripts.AddRecorder("tool");
    TProgramRunner::TOptions options;
    options.programFolder = scripts.Path().string();
    options.childStarted = [&](pid_t pid) { scripts.ChildStarted(pid); };
    TProgramRunner unasked(options);
    EXPECT_EQ(unasked.RunCommand("tool"), TProgramRunner::kRefused);
    EXPECT_EQ(scripts.ChildCount(), 0);
}

} // namespace
} // namespace kiv

#include "project/ShowOpen.h"
#include "project/ShowOpenHooks.h"
#include "viewer/dialogs/PasswordDialog.h"

#include "package/PackageBytes.h"
#include "package/TempFolder.h"
#include "support/LogCapture.h"
#include "viewer/dialogs/ScriptedRunner.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

const std::string kTimes = "[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=4000\r\nopt_synchpos2=8000\r\n";

class ShowPassword : public ::testing::Test {
protected:
    void SetUp() override {
        InstallShowOpenHooks();
        SetShowProgramFileName("/opt/kiv/kivviewer");
    }
    void TearDown() override {
        SetCurrentShow(nullptr);
        SetShowProgramFileName({});
    }
    std::string Package(const std::string& name, const std::string& main) {
        const std::string file = folder.File(name);
        test::WriteFileBytes(file, test::PackInMemory({{"Project.kiv", "[Main]\r\n" + main + kTimes,
                                                        TEntryStorage::Deflated}}));
        return file;
    }
    // Opens the show with the password dialog run by `runner`, starting at slide 2.
    TOpenShowResult Open(const std::string& file, testing::TScriptedRunner& runner) {
        TOpenShowRequest request;
        request.name = file;
        request.position = 1;
        request.askPassword = [&runner](const TIniFile& project) { return AskShowPassword(runner, project); };
        return OpenShow(request, TCommandLine::FromText("kivviewer"));
    }

    test::TTempFolder folder;
};

TEST_F(ShowPassword, OnlyTheExactPasswordOpensTheShowAndARefusalRevealsNothing) {
    const std::string open = Package("open.kvshow", "");
    testing::TScriptedRunner runner;
    const TOpenShowResult first = Open(open, runner);
    ASSERT_TRUE(first.ok) << first.message;
    EXPECT_TRUE(runner.captions.empty()) << "a show without opt_usepass asks nothing";

    const std::string locked = Package("locked.kvshow", "opt_usepass=1\r\nopt_pass=Tr0ub4dor&3\r\n");
    const struct {
        const char* what;
        testing::TScriptedRunner::TScript script;
        bool opens;
    } cases[] = {
        {"right", testing::TypeAndEnter("Tr0ub4dor&3"), true},
        {"case differs", testing::TypeAndEnter("tr0ub4dor&3"), false},
        {"a prefix", testing::TypeAndEnter("Tr0ub4dor&"), false},
        {"longer", testing::TypeAndEnter("Tr0ub4dor&3 "), false},
        {"empty", testing::TypeAndEnter(""), false},
        {"ten thousand characters", testing::TypeAndEnter(std::string(10000, 'T')), false},
        {"right, then Cancel",
         [](TDialog& d) {
             d.Handle(TDialogInput::Type("Tr0ub4dor&3"));
             testing::ClickOn(d, "Cancel");
         },
         false},
        {"right, then Escape",
         [](TDialog& d) {
             d.Handle(TDialogInput::Type("Tr0ub4dor&3"));
             d.Handle(TDialogInput::Press(TDialogKey::Escape));
         },
         false},
    };
    for (const auto& c : cases) {
        SetCurrentShow(first.show);
        runner.scripts.push_back(c.script);
        TOpenShowResult result;
        const std::string log = test::LoggedWhile([&] { result = Open(locked, runner); });
        EXPECT_EQ(result.ok, c.opens) << c.what;
        EXPECT_EQ(runner.captions.back(), "Password required") << c.what;
        if (c.opens) {
            EXPECT_EQ(CurrentShow(), result.show.Get()) << c.what;
            EXPECT_TRUE(result.seekTime.has_value()) << c.what;
            continue;
        }
        // Refused: silent, the playing show stays, and nothing of the new one comes back.
        EXPECT_EQ(result.message, "") << c.what;
        EXPECT_EQ(CurrentShow(), first.show.Get()) << c.what;
        EXPECT_EQ(result.show, nullptr) << c.what;
        EXPECT_EQ(result.showPath, "") << c.what;
        EXPECT_FALSE(result.seekTime.has_value()) << c.what;
        EXPECT_TRUE(result.details.empty()) << c.what;
        EXPECT_EQ(log.find("Tr0ub4dor"), std::string::npos) << c.what << ": the log keeps no password";
        EXPECT_EQ(log.find("Show opened"), std::string::npos) << c.what;
    }
    EXPECT_TRUE(runner.messages.empty());
}

TEST_F(ShowPassword, TheDefaultPasswordAndAVeryLongOneAreComparedWhole) {
    const std::string plain = Package("default.kvshow", "opt_usepass=1\r\n");
    const std::string huge(10000, 'k');
    const std::string long_ = Package("long.kvshow", "opt_usepass=1\r\nopt_pass=" + huge + "\r\n");
    testing::TScriptedRunner runner;
    runner.scripts = {testing::TypeAndEnter(kDefaultShowPassword), testing::TypeAndEnter(huge),
                      testing::TypeAndEnter(huge + "k")};
    EXPECT_TRUE(Open(plain, runner).ok);
    EXPECT_TRUE(Open(long_, runner).ok);
    EXPECT_FALSE(Open(long_, runner).ok);

    // The check alone: without opt_usepass nothing is asked.
    auto project = MakeRef<TIniFile>();
    project->LoadFromText("[Main]\r\nopt_usepass=0\r\n");
    EXPECT_TRUE(CheckShowPassword(runner, *project));
    EXPECT_EQ(runner.captions.size(), 3u);

    // Nobody to ask: refused with a message.
    TOpenShowRequest request;
    request.name = plain;
    const TOpenShowResult unasked = OpenShow(request, TCommandLine::FromText("kivviewer"));
    EXPECT_FALSE(unasked.ok);
    EXPECT_NE(unasked.message.find("password"), std::string::npos);
}

} // namespace
} // namespace kiv

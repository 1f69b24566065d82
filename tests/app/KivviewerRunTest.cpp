// The real kivviewer binary: a package made by the test opens and is summed up in one line; the
// start position, a missing show, a screen-saver copy and a self-contained show made with
// "kivtool pack --exe" behave as the command line says.
#include "package/PackageBytes.h"
#include "package/TempFolder.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kiv {
namespace {

using test::TRunResult;

const std::string kProject =
    "[Main]\r\nKivVersion=5.6\r\nobject TheEffect:AnEffect\r\n  time=1000\r\n  object dissolve:dissolve\r\n"
    "    stdidx=2\r\n    checked=1\r\n  end\r\nend\r\n"
    "[Times]\r\nopt_slidescount=4\r\nopt_synchpos1=16000\r\nopt_synchpos2=32000\r\nopt_synchpos3=48000\r\n"
    "opt_synchpos4=64000\r\n";

class Kivviewer : public ::testing::Test {
protected:
    TRunResult Run(const std::string& program, const std::vector<std::string>& args) {
        return test::RunProgram(program, args, folder.Path(),
                                "cd " + test::ShellQuote(folder.Path().string()) + " && SDL_VIDEODRIVER=offscreen");
    }
    TRunResult Viewer(const std::vector<std::string>& args) { return Run(KIVVIEWER_PATH, args); }

    std::string ShowFolder() {
        test::WriteFileBytes(folder.File("show/Project.kiv"), kProject);
        test::WriteFileBytes(folder.File("show/img/a.jpg"), "not a picture");
        return folder.File("show");
    }
    std::string Pack(const std::vector<std::string>& extra, const std::string& out) {
        std::vector<std::string> args = {"pack", ShowFolder(), "-o", folder.File(out)};
        args.insert(args.end(), extra.begin(), extra.end());
        const TRunResult packed = Run(KIVTOOL_PATH, args);
        EXPECT_EQ(packed.exitCode, 0) << packed.err;
        return folder.File(out);
    }

    test::TTempFolder folder;
};

TEST_F(Kivviewer, OpensAPackageAndSumsItUp) {
    const std::string show = Pack({}, "demo.kvshow");
    const TRunResult run = Viewer({show});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "kivviewer: " + show + ": 4 slides, 1:04.0; playback is not built yet\n");

    // A relative name is found in the working folder; -exename says the same.
    EXPECT_EQ(Viewer({"demo.kvshow"}).out, run.out);
    EXPECT_EQ(Viewer({"-exename", show}).out, run.out);
}

TEST_F(Kivviewer, StartPositionAppearsInTheSummary) {
    const std::string show = Pack({}, "pos.kvshow");
    EXPECT_EQ(Viewer({show, "-slide", "3"}).out,
              "kivviewer: " + show + ": 4 slides, 1:04.0, starting at 0:32.0; playback is not built yet\n");
    EXPECT_EQ(Viewer({show, "-time", "5000"}).out,
              "kivviewer: " + show + ": 4 slides, 1:04.0, starting at 0:05.0; playback is not built yet\n");
    EXPECT_EQ(Viewer({show, "-Slide", "3"}).out,
              "kivviewer: " + show + ": 4 slides, 1:04.0; playback is not built yet\n")
        << "switch names match exactly";
}

TEST_F(Kivviewer, ProjectFilePlaysFromDisk) {
    const std::string project = ShowFolder() + "/Project.kiv";
    const TRunResult run = Viewer({"-filename", project});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "kivviewer: " + project + ": 4 slides, 1:04.0; playback is not built yet\n");
}

TEST_F(Kivviewer, MissingShowsReportTheSlideshowErrorAndFail) {
    const TRunResult missing = Viewer({folder.File("gone.kvshow")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Slideshow Error: Slideshow File not Found\n\"" + folder.File("gone.kvshow") +
                               "\" or \"" + folder.File("gone.kvshow") + "\"\n");

    const TRunResult project = Viewer({"-filename", folder.File("gone.kiv")});
    EXPECT_EQ(project.exitCode, 2);
    EXPECT_EQ(project.err, "Slideshow Error: Can`t Load .kiv File\n\"" + folder.File("gone.kiv") + "\"\n");

    // The player alone carries no show, and no "kivviewer.kvshow" lies beside it.
    const TRunResult bare = Viewer({});
    EXPECT_EQ(bare.exitCode, 2);
    EXPECT_NE(bare.err.find("Slideshow Error: Slideshow File not Found\n\""), std::string::npos) << bare.err;
    EXPECT_NE(bare.err.find("kivviewer.kvshow\"\n"), std::string::npos) << bare.err;
}

TEST_F(Kivviewer, SelfContainedShowFindsItsOwnPackage) {
    const std::string exe = Pack({"--exe", KIVVIEWER_PATH}, "myshow");
    std::filesystem::permissions(exe, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    const TRunResult run = Run(exe, {});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "kivviewer: " + exe + ": 4 slides, 1:04.0; playback is not built yet\n");
    EXPECT_EQ(Run(exe, {"-slide", "2"}).out,
              "kivviewer: " + exe + ": 4 slides, 1:04.0, starting at 0:16.0; playback is not built yet\n");
}

TEST_F(Kivviewer, ScreenSaverCopyShowsOnlyWithSlashS) {
    const std::string saver = Pack({"--exe", KIVVIEWER_PATH}, "Show.SCR");
    std::filesystem::permissions(saver, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"/c"}, {"/p", "1234"}, {}}) {
        const TRunResult quiet = Run(saver, args);
        EXPECT_EQ(quiet.exitCode, 0);
        EXPECT_EQ(quiet.out, "");
        EXPECT_EQ(quiet.err, "");
    }
    const TRunResult shown = Run(saver, {"/s"});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(shown.out, "kivviewer: " + saver + ": 4 slides, 1:04.0; playback is not built yet\n");
}

TEST_F(Kivviewer, FileLogIsWrittenBesideTheProgram) {
    const std::string exe = Pack({"--exe", KIVVIEWER_PATH}, "logged");
    std::filesystem::permissions(exe, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    ASSERT_EQ(Run(exe, {"-filelog"}).exitCode, 0);
    const std::string log = test::ReadFileBytes(folder.File("logged.log"));
    EXPECT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(log.find("Show opened: " + exe + " (package)\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Program stoped : "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder.File("logged2.log")));
    ASSERT_EQ(Run(exe, {"-FileLog"}).exitCode, 0);
}

TEST_F(Kivviewer, HelpSaysPlaybackIsNotBuiltYet) {
    const TRunResult help = Viewer({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Playback is not built yet"), std::string::npos);
}

} // namespace
} // namespace kiv

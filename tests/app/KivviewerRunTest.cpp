// The real kivviewer binary: a package made by the test opens and is summed up in one line; the
// start position, a missing show, a screen-saver copy and a self-contained show made with
// "kivtool pack --exe" behave as the command line says.
#include "package/PackageBytes.h"
#include "package/TempFolder.h"
#include "support/ChildProcess.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <optional>

namespace kiv {
namespace {

using test::TRunResult;
using namespace std::chrono_literals;

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
    const TRunResult run = Viewer({show, "-info"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "kivviewer: " + show + ": 4 slides, 1:04.0\n");

    // A relative name is found in the working folder; -exename says the same.
    EXPECT_EQ(Viewer({"demo.kvshow", "-info"}).out, run.out);
    EXPECT_EQ(Viewer({"-exename", show, "-info"}).out, run.out);
}

TEST_F(Kivviewer, StartPositionAppearsInTheSummary) {
    const std::string show = Pack({}, "pos.kvshow");
    EXPECT_EQ(Viewer({show, "-slide", "3", "-info"}).out,
              "kivviewer: " + show + ": 4 slides, 1:04.0, starting at 0:32.0\n");
    EXPECT_EQ(Viewer({show, "-time", "5000", "-info"}).out,
              "kivviewer: " + show + ": 4 slides, 1:04.0, starting at 0:05.0\n");
    EXPECT_EQ(Viewer({show, "-Slide", "3", "-info"}).out,
              "kivviewer: " + show + ": 4 slides, 1:04.0\n")
        << "switch names match exactly";
}

TEST_F(Kivviewer, ProjectFilePlaysFromDisk) {
    const std::string project = ShowFolder() + "/Project.kiv";
    const TRunResult run = Viewer({"-filename", project, "-info"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "kivviewer: " + project + ": 4 slides, 1:04.0\n");
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

TEST_F(Kivviewer, NoDisplayToPlayOnIsTheSlideshowErrorNotAnInvisibleShow) {
    const std::string show = Pack({}, "show.kvshow");
    // No X server answers at that display and no Wayland socket exists; no video driver is asked
    // for, so SDL would fall back to drawing nowhere. (The system libraries SDL starts keep memory
    // to the end, which is not what this test looks at.)
    const TRunResult run = test::RunProgram(KIVVIEWER_PATH, {show}, folder.Path(),
                                            "cd " + test::ShellQuote(folder.Path().string()) +
                                                " && ASAN_OPTIONS=detect_leaks=0 DISPLAY=:4321 WAYLAND_DISPLAY=/nonexistent SDL_VIDEODRIVER=");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Slideshow Error: Can't open the display"), std::string::npos) << run.err;
}

TEST_F(Kivviewer, SelfContainedShowFindsItsOwnPackage) {
    const std::string exe = Pack({"--exe", KIVVIEWER_PATH}, "myshow");
    std::filesystem::permissions(exe, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    const TRunResult run = Run(exe, {"-info"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "kivviewer: " + exe + ": 4 slides, 1:04.0\n");
    EXPECT_EQ(Run(exe, {"-slide", "2", "-info"}).out,
              "kivviewer: " + exe + ": 4 slides, 1:04.0, starting at 0:16.0\n");
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
    const TRunResult shown = Run(saver, {"/s", "-info"});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(shown.out, "kivviewer: " + saver + ": 4 slides, 1:04.0\n");
}

TEST_F(Kivviewer, FileLogIsWrittenBesideTheProgram) {
    const std::string exe = Pack({"--exe", KIVVIEWER_PATH}, "logged");
    std::filesystem::permissions(exe, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    ASSERT_EQ(Run(exe, {"-filelog", "-info"}).exitCode, 0);
    const std::string log = test::ReadFileBytes(folder.File("logged.log"));
    EXPECT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(log.find("Show opened: " + exe + " (package)\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Program stoped : "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder.File("logged2.log")));
    ASSERT_EQ(Run(exe, {"-FileLog", "-info"}).exitCode, 0);
}

TEST_F(Kivviewer, IgnoredSwitchesAreNamedOnStandardError) {
    const std::string show = Pack({}, "show.kvshow");
    const TRunResult run = Viewer({show, "-zoom", "-slide", "abc", "-FileLog", "-info"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "kivviewer: " + show + ": 4 slides, 1:04.0\n");
    EXPECT_EQ(run.err, "kivviewer: unknown switch -zoom ignored\n"
                       "kivviewer: unknown switch -FileLog ignored\n"
                       "kivviewer: -slide abc is not a whole number; ignored\n");
    EXPECT_EQ(Viewer({show, "-slide", "2", "-cover", "-noicc", "-info"}).err, "")
        << "known switches with good values pass without a word";
    // Words after a switch are its values, so a show named after an unknown switch is not opened.
    const TRunResult swallowed = Viewer({"-zoom", show, "x"});
    EXPECT_NE(swallowed.err.find("kivviewer: unknown switch -zoom ignored (with its value " + show + " x)\n"),
              std::string::npos)
        << swallowed.err;
}

// Starts kivviewer in the test folder with its temporary folders under "tmp" there; standard
// output and error go to files.
pid_t StartViewer(const test::TTempFolder& folder, const std::vector<std::string>& args) {
    std::filesystem::create_directories(folder.File("tmp"));
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::setenv("TMPDIR", folder.File("tmp").c_str(), 1);
    ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
    const int out = ::open(folder.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(folder.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 || ::chdir(folder.Path().c_str()) != 0)
        ::_exit(120);
    std::vector<char*> argv{const_cast<char*>(KIVVIEWER_PATH)};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(KIVVIEWER_PATH, argv.data());
    ::_exit(121);
}

// Folders and lock files left in the temporary root of a run.
std::vector<std::string> LeftInTempRoot(const test::TTempFolder& folder) {
    std::vector<std::string> left;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder.File("tmp/ZORVIK_TEMP_ROOT"), error))
        left.push_back(entry.path().string());
    return left;
}

TEST_F(Kivviewer, FifoAsShowIsRefusedAtOnceWithItsCause) {
    const std::string fifo = folder.File("show.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::optional<int> status = test::WaitForChild(StartViewer(folder, {fifo}), 10s);
    ASSERT_TRUE(status) << "kivviewer waited on a FIFO";
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 2);
    EXPECT_EQ(test::ReadFileBytes(folder.File("stderr")),
              "Slideshow Error: Slideshow File not Found\n\"" + fifo + "\" or \"" +
                  folder.File("show.kvshow") + "\"\n" + "kivviewer: " + fifo +
                  ": is a named pipe (FIFO), not a regular file\n");

    // A FIFO with a writer would not block an open, but it would never end either.
    const int writer = ::open(fifo.c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    const std::optional<int> held = test::WaitForChild(StartViewer(folder, {fifo}), 10s);
    ::close(writer);
    ASSERT_TRUE(held) << "kivviewer read a FIFO that has a writer";
    EXPECT_TRUE(WIFEXITED(*held) && WEXITSTATUS(*held) == 2);
}

TEST_F(Kivviewer, ProfilesThatAreFifosOrDevicesAreSkippedAndTheShowPlays) {
    const std::string show = Pack({}, "show.kvshow");
    const std::string fifo = folder.File("display.icc");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", folder.File("zero.icc"));
    for (const std::string& profile : {fifo, folder.File("zero.icc")}) {
        const std::optional<int> status =
            test::WaitForChild(StartViewer(folder, {show, "-icc", profile, "-info"}), 10s);
        ASSERT_TRUE(status) << "kivviewer kept reading " << profile;
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
            << test::ReadFileBytes(folder.File("stderr"));
        EXPECT_NE(test::ReadFileBytes(folder.File("stdout")).find("4 slides"), std::string::npos);
    }
}

TEST_F(Kivviewer, TermWhileOpeningAFifoEndsPromptlyAndLeavesNoTemporaryFolder) {
    const std::string fifo = folder.File("show.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const pid_t pid = StartViewer(folder, {fifo});
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    const std::optional<int> status = test::WaitForChild(pid, 10s);
    ASSERT_TRUE(status) << "kivviewer did not end within 10 s of SIGTERM";
    // Either the signal ended it, or it had refused the FIFO already.
    EXPECT_TRUE((WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM) ||
                (WIFEXITED(*status) && WEXITSTATUS(*status) == 2))
        << "status " << *status;
    EXPECT_TRUE(LeftInTempRoot(folder).empty());
}

TEST_F(Kivviewer, HelpNamesTheSwitchesAndKeysAndNothingUnbuilt) {
    const TRunResult help = Viewer({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* word : {"-info", "-resize", "-display N", "-desktopalign", "-fullscreen", "-window", "Escape: end",
                             "Right", "F11"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    EXPECT_EQ(help.out.find("not built"), std::string::npos);
}

} // namespace
} // namespace kiv

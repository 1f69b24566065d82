// SIGINT and SIGTERM end the player at any moment, also while its main thread is stuck in a
// blocking open, and its temporary folders go with it. Each case runs in a child process that
// reports its temporary folder through a pipe and then blocks on a FIFO nobody writes to.
#include "app/SignalWatch.h"
#include "base/Log.h"
#include "package/TempFolder.h"
#include "package/TempFolders.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace kiv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class SignalWatch : public ::testing::Test {
protected:
    void SetUp() override {
        fifo = folder.File("stuck");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        ASSERT_EQ(::pipe(report), 0);
    }
    void TearDown() override {
        ::close(report[0]);
        if (report[1] >= 0) ::close(report[1]);
    }

    // Starts a child that watches the signals, makes a temporary folder, reports it and blocks.
    pid_t StartStuckChild() {
        const pid_t pid = ::fork();
        if (pid != 0) {
            ::close(report[1]);
            report[1] = -1;
            return pid;
        }
        ::setenv("TMPDIR", folder.File("tmp").c_str(), 1);
        fs::create_directories(folder.File("tmp"));
        TSignalWatch watch;
        const std::string made = NewTempFolder(false) + "\n";
        if (::write(report[1], made.data(), made.size()) != static_cast<ssize_t>(made.size())) ::_exit(5);
        const int fd = ::open(fifo.c_str(), O_RDONLY); // blocks: the FIFO never gets a writer
        ::_exit(fd >= 0 ? 3 : 4);
    }

    // The folder the child reported (empty when it ended without reporting).
    std::string ReportedFolder() {
        std::string text;
        char c;
        while (::read(report[0], &c, 1) == 1 && c != '\n')
            text += c;
        return text;
    }

    test::TTempFolder folder;
    std::string fifo;
    int report[2] = {-1, -1};
};

TEST_F(SignalWatch, TermEndsAStuckPlayerAsKilledByTermAndRemovesItsFolders) {
    const pid_t pid = StartStuckChild();
    ASSERT_GT(pid, 0);
    const std::string made = ReportedFolder();
    ASSERT_FALSE(made.empty());
    EXPECT_TRUE(fs::is_directory(made));
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    const std::optional<int> status = test::WaitForChild(pid, 10s);
    ASSERT_TRUE(status) << "the player did not end within 10 s of SIGTERM";
    ASSERT_TRUE(WIFSIGNALED(*status)) << "exit status " << WEXITSTATUS(*status);
    EXPECT_EQ(WTERMSIG(*status), SIGTERM);
    EXPECT_FALSE(fs::exists(fs::symlink_status(made)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(made + ".lock")));
}

TEST_F(SignalWatch, InterruptEndsAStuckPlayerTheSameWay) {
    const pid_t pid = StartStuckChild();
    ASSERT_GT(pid, 0);
    const std::string made = ReportedFolder();
    ASSERT_FALSE(made.empty());
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    const std::optional<int> status = test::WaitForChild(pid, 10s);
    ASSERT_TRUE(status) << "the player did not end within 10 s of SIGINT";
    ASSERT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), SIGINT);
    EXPECT_FALSE(fs::exists(fs::symlink_status(made)));
}

TEST_F(SignalWatch, WatchThatEndsQuietlyLetsTheProgramFinishNormally) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        { TSignalWatch watch; }
        // Still blocked after the watch: a late signal waits instead of killing the finishing program.
        sigset_t blocked;
        ::pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
        ::_exit(sigismember(&blocked, SIGTERM) == 1 ? 0 : 6);
    }
    const std::optional<int> status = test::WaitForChild(pid, 10s);
    ASSERT_TRUE(status);
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST_F(SignalWatch, SignalThatCameBeforeTheWatchStoppedStillEndsTheProgram) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("TMPDIR", folder.File("tmp2").c_str(), 1);
        fs::create_directories(folder.File("tmp2"));
        {
            TSignalWatch watch;
            const std::string made = NewTempFolder(false) + "\n";
            if (::write(report[1], made.data(), made.size()) != static_cast<ssize_t>(made.size())) ::_exit(5);
            // The signal is sent to this thread, and is therefore never taken by the watching thread.
            ::pthread_kill(::pthread_self(), SIGTERM);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    report[1] = -1;
    const std::string made = ReportedFolder();
    const std::optional<int> status = test::WaitForChild(pid, 10s);
    ASSERT_TRUE(status);
    ASSERT_TRUE(WIFSIGNALED(*status)) << "exit status " << WEXITSTATUS(*status);
    EXPECT_EQ(WTERMSIG(*status), SIGTERM);
    ASSERT_FALSE(made.empty());
    EXPECT_FALSE(fs::exists(fs::symlink_status(made)));
}

// True once the main thread of `pid` sleeps in the kernel (state S), within `limit`.
bool WaitUntilSleeping(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const std::string statFile = "/proc/" + std::to_string(pid) + "/stat";
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(statFile);
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'S') return true;
        std::this_thread::sleep_for(1ms); // polls a precondition; the outcome is decided below
    }
    return false;
}

TEST_F(SignalWatch, EndingIsCutShortWhenTheLogHangs) {
    // A pipe that is full and never read: the log's first write blocks with the log held.
    int stuck[2];
    ASSERT_EQ(::pipe(stuck), 0);
    ASSERT_EQ(::fcntl(stuck[1], F_SETFL, O_NONBLOCK), 0);
    const char block[4096] = {};
    while (::write(stuck[1], block, sizeof block) > 0) {
    }
    ASSERT_EQ(::fcntl(stuck[1], F_SETFL, 0), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("TMPDIR", folder.File("tmp3").c_str(), 1);
        fs::create_directories(folder.File("tmp3"));
        TSignalWatch watch;
        const std::string made = NewTempFolder(false) + "\n";
        if (::write(report[1], made.data(), made.size()) != static_cast<ssize_t>(made.size())) ::_exit(5);
        ::dup2(stuck[1], 2);
        TLog::Start(TLogMode::Debug, "/opt/kiv/kivviewer"); // the banner blocks on the full pipe
        ::_exit(3);
    }
    ::close(report[1]);
    report[1] = -1;
    const std::string made = ReportedFolder();
    ASSERT_FALSE(made.empty());
    ASSERT_TRUE(WaitUntilSleeping(pid, 10s));
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    const std::optional<int> status = test::WaitForChild(pid, 10s);
    ::close(stuck[0]);
    ::close(stuck[1]);
    ASSERT_TRUE(status) << "a hanging log kept the player alive after SIGTERM";
    ASSERT_TRUE(WIFSIGNALED(*status));
    EXPECT_EQ(WTERMSIG(*status), SIGTERM);
    EXPECT_FALSE(fs::exists(fs::symlink_status(made))) << "the folders go before the log is written";
}

} // namespace
} // namespace kiv

// Temporary folders: GUID names, held lock files, cleanup at exit and of stale folders, and a
// second player that must not lose its folders.
#include "package/TempFolders.h"
#include "base/Exception.h"
#include "support/HermeticFolders.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

extern char** environ;

namespace kiv {
namespace {

namespace fs = std::filesystem;
using test::THermeticFolders;

bool Exists(const fs::path& path) {
    return fs::exists(fs::symlink_status(path));
}

void Touch(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
}

class TempFolders : public ::testing::Test {
protected:
    void SetUp() override { root_ = THermeticFolders::Temp() / ("root-" + std::to_string(counter_++)); }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::string Root() const { return root_.string() + "/"; }

    fs::path root_;
    static inline int counter_ = 0;
};

TEST(Guid, RandomVersionFourInBraces) {
    const std::regex shape(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})");
    const std::string a = NewGuidText();
    const std::string b = NewGuidText();
    EXPECT_TRUE(std::regex_match(a, shape)) << a;
    EXPECT_TRUE(std::regex_match(b, shape)) << b;
    EXPECT_NE(a, b);
}

TEST(TempRoot, DefaultRootIsUnderTmpdir) {
    EXPECT_EQ(DefaultTempRoot(), THermeticFolders::Temp().string() + "/ZORVIK_TEMP_ROOT/");
    const std::string folder = NewTempFolder(true);
    EXPECT_EQ(folder.rfind(DefaultTempRoot(), 0), 0u);
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST(TempRoot, AnotherUsersRootGivesThisUserARootOfTheirOwn) {
    if (::geteuid() != 0) GTEST_SKIP() << "making a folder of another user needs root";
    const fs::path shared = THermeticFolders::Temp() / "ZORVIK_TEMP_ROOT";
    fs::create_directories(shared);
    ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    const std::string own = DefaultTempRoot();
    ASSERT_EQ(::chown(shared.c_str(), 0, 0), 0);
    EXPECT_EQ(own, THermeticFolders::Temp().string() + "/ZORVIK_TEMP_ROOT-0/");
    EXPECT_EQ(DefaultTempRoot(), THermeticFolders::Temp().string() + "/ZORVIK_TEMP_ROOT/")
        << "this user's own shared root is used as before";
}

TEST_F(TempFolders, NewFolderIsNamedAfterAGuidWithSquareBracketsAndHoldsItsLock) {
    TTempFolders folders(Root());
    const std::string folder = folders.NewFolder(false);
    const std::string slashed = folders.NewFolder(true);
    const std::regex shape(R"(\[[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\])");
    EXPECT_TRUE(std::regex_match(fs::path(folder).filename().string(), shape)) << folder;
    EXPECT_EQ(slashed.back(), '/');
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_regular_file(folder + ".lock"));
    // Another open of the lock file cannot take the lock.
    const int fd = ::open((folder + ".lock").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
    EXPECT_EQ(folders.Folders().size(), 2u);
}

TEST_F(TempFolders, ReleaseRemovesFoldersWithTheirContentsAndLocks) {
    std::string folder;
    {
        TTempFolders folders(Root());
        folder = folders.NewFolder(false);
        fs::create_directories(folder + "/sub");
        Touch(folder + "/sub/lib.dll");
    } // the destructor stands for the end of the process
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(Exists(folder + ".lock"));
    EXPECT_TRUE(fs::is_directory(root_));
}

TEST_F(TempFolders, LaterStartRemovesStaleFoldersAndNothingElse) {
    fs::create_directories(root_ / "[stale]" / "deep");
    Touch(root_ / "[stale]" / "deep" / "f");
    Touch(root_ / "[stale].lock");
    Touch(root_ / "[onlylock].lock");
    fs::create_directories(root_ / "[nolock]");
    Touch(root_ / "other.txt");
    // A stale entry that is a link to a folder outside the root: only the link goes.
    const fs::path outside = THermeticFolders::Top() / "outside";
    fs::create_directories(outside);
    Touch(outside / "keep.me");
    fs::create_directory_symlink(outside, root_ / "[link]");
    Touch(root_ / "[link].lock");

    TTempFolders folders(Root());
    EXPECT_EQ(folders.Root(), Root());
    EXPECT_FALSE(Exists(root_ / "[stale]"));
    EXPECT_FALSE(Exists(root_ / "[stale].lock"));
    EXPECT_FALSE(Exists(root_ / "[onlylock].lock"));
    EXPECT_TRUE(fs::is_directory(root_ / "[nolock]")) << "a folder without lock file is left alone";
    EXPECT_TRUE(Exists(root_ / "other.txt"));
    EXPECT_FALSE(Exists(root_ / "[link]"));
    EXPECT_TRUE(Exists(outside / "keep.me"));
}

TEST_F(TempFolders, RootThatIsALinkIsRefused) {
    const fs::path target = THermeticFolders::Top() / "elsewhere";
    fs::create_directories(target);
    fs::create_directory_symlink(target, root_);
    TTempFolders folders(Root());
    try {
        folders.NewFolder(false);
        FAIL() << "a linked root must not be used";
    } catch (const EAssertionFailed& error) {
        EXPECT_NE(error.Message().find("Temp Path not Found"), std::string::npos) << error.Message();
    }
    fs::remove(root_);
}

TEST_F(TempFolders, RootThatCannotBeCreatedIsAnAssertion) {
    TTempFolders folders((THermeticFolders::Top() / "no" / "such" / "root").string());
    try {
        folders.NewFolder(false);
        FAIL();
    } catch (const EAssertionFailed& error) {
        EXPECT_NE(error.Message().find("VendorTemp Create Error: "), std::string::npos) << error.Message();
    }
}

TEST_F(TempFolders, ForkedChildLeavesItsParentsFoldersAlone) {
    TTempFolders folders(Root());
    const std::string folder = folders.NewFolder(false);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        folders.ReleaseAll();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(Exists(folder + ".lock"));
}

// The helper program, started with pipes on its standard input and output.
class THolder {
public:
    explicit THolder(const std::string& root) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char* argv[] = {const_cast<char*>(TEMP_FOLDER_HOLDER), const_cast<char*>(root.c_str()), nullptr};
        spawned_ = posix_spawn(&pid_, TEMP_FOLDER_HOLDER, &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            folder_ += c;
        ::close(out[0]);
    }
    ~THolder() {
        if (input_ >= 0) ::close(input_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    bool Spawned() const { return spawned_; }
    const std::string& Folder() const { return folder_; }
    // Ends the helper normally: it cleans up after itself.
    int Finish() {
        ::close(input_);
        input_ = -1;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    // Ends it as a crash would: nothing is cleaned up.
    void Crash() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool spawned_ = false;
    int input_ = -1;
    std::string folder_;
};

TEST_F(TempFolders, SecondPlayerLeavesTheFirstOnesFoldersAlone) {
    THolder first(Root());
    ASSERT_TRUE(first.Spawned());
    ASSERT_FALSE(first.Folder().empty());
    ASSERT_TRUE(fs::is_directory(first.Folder()));

    TTempFolders second(Root());
    const std::string own = second.NewFolder(false); // the start-up cleanup has run
    EXPECT_TRUE(fs::is_directory(first.Folder())) << "the first player's lock is held";
    EXPECT_TRUE(Exists(first.Folder() + ".lock"));
    EXPECT_NE(own, first.Folder());

    EXPECT_EQ(first.Finish(), 0);
    EXPECT_FALSE(Exists(first.Folder())) << "a player removes its folders when it ends";
    EXPECT_TRUE(fs::is_directory(own));
}

TEST_F(TempFolders, FoldersOfACrashedPlayerGoAtTheNextStart) {
    THolder crashed(Root());
    ASSERT_TRUE(crashed.Spawned());
    ASSERT_FALSE(crashed.Folder().empty());
    crashed.Crash();
    ASSERT_TRUE(fs::is_directory(crashed.Folder()));

    TTempFolders next(Root());
    next.Root();
    EXPECT_FALSE(Exists(crashed.Folder()));
    EXPECT_FALSE(Exists(crashed.Folder() + ".lock"));
}

} // namespace
} // namespace kiv

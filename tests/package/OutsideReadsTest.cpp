// A show that reads a disk file outside its folder (a video with LoadFromDisk and an absolute
// path, a colour profile named by the project) goes through the real accessor and the rule of the
// process: refused without anyone to ask, asked once per show, deferred from loader threads.
#include "TempFolder.h"
#include "package/FileAccessor.h"
#include "package/OutsideReads.h"
#include "package/RealFileSource.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kiv {
namespace {

using test::TTempFolder;
using test::WriteFileBytes;

class OutsideReads : public ::testing::Test {
protected:
    void SetUp() override {
        ResetOutsideReads();
        // Media folders of a home of our own, so that the user's real ones play no part.
        const char* home = std::getenv("HOME");
        if (home) oldHome_ = home;
        setenv("HOME", folder.File("home").c_str(), 1);
        WriteFileBytes(folder.File("show/clip.mkv"), "inside");
        WriteFileBytes(folder.File("secret/clip.mkv"), "outside");
        WriteFileBytes(folder.File("home/Videos/clip.mkv"), "media");
        accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(), folder.File("show"));
    }
    void TearDown() override {
        ResetOutsideReads();
        if (!oldHome_.empty()) setenv("HOME", oldHome_.c_str(), 1);
    }
    bool Reads(const std::string& name) const { return accessor->OpenDiskFile(name).Get() != nullptr; }

    TTempFolder folder;
    TRef<TFileAccessor> accessor;
    std::string oldHome_;
};

TEST_F(OutsideReads, TheShowsFolderAndMediaFoldersAreReadOtherFilesOnlyWithConsent) {
    const std::string secret = folder.File("secret/clip.mkv");
    EXPECT_TRUE(Reads(folder.File("show/clip.mkv")));
    EXPECT_TRUE(Reads(folder.File("home/Videos/clip.mkv")));
    EXPECT_FALSE(Reads(secret)) << "nobody to ask (tools, headless output): refused";

    int asked = 0;
    SetOutsideReadPolicy(TOutsideReadPolicy::Ask, [&](const std::string& path, const std::string&) {
        ++asked;
        EXPECT_EQ(path, secret);
        return std::optional<bool>(false);
    });
    EXPECT_FALSE(Reads(secret));
    EXPECT_FALSE(Reads(secret));
    EXPECT_EQ(asked, 1) << "the answer holds for the show";

    SetOutsideReadPolicy(TOutsideReadPolicy::AllowAll);
    EXPECT_TRUE(Reads(secret));
    SetOutsideReadPolicy(TOutsideReadPolicy::RefuseAll);
    EXPECT_FALSE(Reads(folder.File("secret/clip.mkv")));
    EXPECT_TRUE(Reads(folder.File("show/clip.mkv")));
}

TEST_F(OutsideReads, AQuestionFromALoaderThreadWaitsForTheMainThreadsAnswer) {
    const std::string secret = folder.File("secret/clip.mkv");
    SetOutsideReadPolicy(TOutsideReadPolicy::Ask,
                         [](const std::string&, const std::string&) { return std::optional<bool>(); });
    EXPECT_FALSE(Reads(secret)) << "refused until answered";
    EXPECT_FALSE(Reads(secret)) << "and asked only once";
    const std::optional<TOutsideReadQuestion> question = TakeOutsideReadQuestion();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->path, secret);
    EXPECT_FALSE(TakeOutsideReadQuestion());
    AnswerOutsideRead(question->showFolder, true);
    EXPECT_TRUE(Reads(secret));
}

TEST_F(OutsideReads, ALinkInsideTheShowLeadingOutIsOutside) {
    std::filesystem::create_symlink(folder.File("secret/clip.mkv"), folder.File("show/linked.mkv"));
    EXPECT_FALSE(Reads(folder.File("show/linked.mkv")));
}

} // namespace
} // namespace kiv

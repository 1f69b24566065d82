// Files named from outside: opened without blocking, only regular files, whole-file reads capped.
// FIFOs are made in a fresh folder and never get a writer, so any open that blocked on one would
// hang the test; /dev/zero is reached through a link in that folder.
#include "package/RegularFile.h"
#include "TempFolder.h"
#include "package/FileStream.h"
#include "package/MappedFileSource.h"
#include "package/RealFileSource.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace kiv {
namespace {

using test::TTempFolder;
using test::WriteFileBytes;

class RegularFile : public ::testing::Test {
protected:
    void SetUp() override {
        fifo = folder.File("pipe");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        zero = folder.File("zero");
        std::filesystem::create_symlink("/dev/zero", zero);
        dir = folder.File("dir");
        std::filesystem::create_directory(dir);
        plain = folder.File("plain.bin");
        WriteFileBytes(plain, "0123456789");
    }

    // The cause an open of `name` with `flags` is refused with; empty when it opened.
    static std::string RefusedCause(const std::string& name, int flags = O_RDONLY) {
        try {
            ::close(OpenRegularFile(name, flags));
            return {};
        } catch (const EFileOpenError& error) {
            EXPECT_EQ(error.Message(), name) << "the message stays the file name";
            return error.Cause();
        }
    }

    TTempFolder folder;
    std::string fifo, zero, dir, plain;
};

TEST_F(RegularFile, FifoDeviceAndFolderAreRefusedWithTheirCause) {
    EXPECT_EQ(RefusedCause(fifo), "is a named pipe (FIFO), not a regular file");
    // Without a reader a FIFO refuses a write open by itself; the cause still names the FIFO.
    EXPECT_EQ(RefusedCause(fifo, O_WRONLY), "is a named pipe (FIFO), not a regular file");
    EXPECT_EQ(RefusedCause(zero), "is a device, not a regular file");
    EXPECT_EQ(RefusedCause(dir), "is a folder");
    EXPECT_EQ(RefusedCause(dir, O_WRONLY), "is a folder");
    EXPECT_EQ(RefusedCause(folder.File("gone")), "No such file or directory");
    EXPECT_EQ(RefusedCause(plain), "");
}

TEST_F(RegularFile, ProblemTextNamesTheCauseAndIsEmptyForAReadableFile) {
    EXPECT_EQ(RegularFileProblem(fifo), "is a named pipe (FIFO), not a regular file");
    EXPECT_EQ(RegularFileProblem(dir), "is a folder");
    EXPECT_EQ(RegularFileProblem(plain), "");
}

TEST_F(RegularFile, OpenedDescriptorBlocksAgainAndClosesOnExec) {
    const int fd = OpenRegularFile(plain, O_RDONLY);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    ::close(fd);
}

TEST_F(RegularFile, WholeReadsStopAtTheCap) {
    const std::vector<std::uint8_t> all = ReadRegularFile(plain, 10);
    EXPECT_EQ(std::string(all.begin(), all.end()), "0123456789");
    EXPECT_TRUE(ReadRegularFile(folder.File("plain.bin"), 1 << 20).size() == 10);
    try {
        ReadRegularFile(plain, 9);
        ADD_FAILURE() << "a file one byte over the cap was read";
    } catch (const EFileOpenError& error) {
        EXPECT_EQ(error.Cause(), "is larger than 9 bytes");
    }
    WriteFileBytes(folder.File("empty"), "");
    EXPECT_TRUE(ReadRegularFile(folder.File("empty"), 0).empty());
    // Endless and blocking inputs end at once instead of filling memory or waiting.
    EXPECT_THROW(ReadRegularFile(zero, std::int64_t{1} << 40), EFileOpenError);
    EXPECT_THROW(ReadRegularFile(fifo, 100), EFileOpenError);
}

TEST_F(RegularFile, FileStreamRefusesWhatIsNotARegularFile) {
    for (const std::string& name : {fifo, zero, dir}) {
        EXPECT_FALSE(TFileStream::OpenRead(name)) << name;
        try {
            MakeRef<TFileStream>(name, TFileAccess::Read, TFileCreation::OpenExisting, kShareRead);
            ADD_FAILURE() << name << " opened";
        } catch (const EFileOpenError& error) {
            EXPECT_EQ(error.Message(), name);
            EXPECT_FALSE(error.Cause().empty());
        }
    }
    EXPECT_THROW(TFileStream::OpenReadWrite(fifo), EFileOpenError);
    EXPECT_FALSE(TFileStream::SaveStreamToFile(*TFileStream::OpenRead(plain), zero));
    EXPECT_TRUE(TFileStream::OpenRead(plain));
}

TEST_F(RegularFile, DiskSourcesGiveNothingForFifosDevicesAndFolders) {
    auto real = MakeRef<TRealFileSource>(folder.Path().string() + "/");
    EXPECT_FALSE(real->Open("pipe"));
    EXPECT_FALSE(real->Open("zero"));
    EXPECT_FALSE(real->Open("dir"));
    EXPECT_FALSE(real->Open("pipe|2")) << "the part before the selector is the file";
    EXPECT_TRUE(real->Open("plain.bin"));

    // A file map that leads to a FIFO opens nothing either.
    auto mapped = MakeRef<TMappedFileSource>(folder.Path().string() + "/");
    TFileMap map;
    map.Add("a.jpg", "pipe");
    mapped->SetFileMap(std::move(map));
    EXPECT_FALSE(mapped->Open("a.jpg"));
}

} // namespace
} // namespace kiv

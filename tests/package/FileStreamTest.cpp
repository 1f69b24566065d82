// File streams on disk and program resources.
#include "package/FileStream.h"
#include "package/MemoryStream.h"
#include "package/ResourceStream.h"
#include "TestStreams.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace kiv {
namespace {

using test::ReadFileBytes;
using test::TTempFolder;
using test::WriteFileBytes;

TEST(FileStream, MissingFileRaisesWithItsNameOrGivesNothing) {
    TTempFolder folder;
    const std::string name = folder.File("missing.bin");
    try {
        MakeRef<TFileStream>(name, TFileAccess::Read, TFileCreation::OpenExisting, kShareRead);
        FAIL();
    } catch (const EFileOpenError& error) {
        EXPECT_EQ(error.Message(), name);
    }
    EXPECT_FALSE(TFileStream::OpenRead(name));
    EXPECT_FALSE(TFileStream::OpenRead(folder.Path().string())) << "a folder is not a file";
}

TEST(FileStream, ReadsSmallAndLargePiecesAtAnyPosition) {
    TTempFolder folder;
    std::string bytes;
    for (int i = 0; i < 300000; ++i) bytes += static_cast<char>(i * 7 % 251);
    WriteFileBytes(folder.File("data.bin"), bytes);
    auto file = TFileStream::OpenRead(folder.File("data.bin"));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetSize(), 300000);
    std::string piece(100, '\0');
    file->SetPosition(65530);
    ASSERT_EQ(file->Read(piece.data(), 100), 100) << "across the read-ahead block";
    EXPECT_EQ(piece, bytes.substr(65530, 100));
    std::string large(200000, '\0');
    file->SetPosition(1000);
    ASSERT_EQ(file->Read(large.data(), 200000), 200000);
    EXPECT_EQ(large, bytes.substr(1000, 200000));
    file->SetPosition(299990);
    EXPECT_EQ(file->Read(piece.data(), 100), 10);
    file->SetPosition(400000);
    EXPECT_EQ(file->Read(piece.data(), 100), 0);
    EXPECT_THROW(file->SetPosition(-1), EStreamSeekError);
}

TEST(FileStream, WritesSetSizeAndReadsBackWhatWasWritten) {
    TTempFolder folder;
    auto file = TFileStream::OpenReadWrite(folder.File("rw.bin"));
    file->WriteBuffer("0123456789", 10);
    file->SetPosition(2);
    EXPECT_EQ(file->ReadByte(), '2');
    file->SetPosition(2);
    file->WriteBuffer("ab", 2);
    file->SetPosition(0);
    EXPECT_EQ(file->ReadString8(5), "01ab4") << "the read-ahead block sees the write";
    file->SetSize(3);
    EXPECT_EQ(file->GetSize(), 3);
    EXPECT_EQ(file->GetPosition(), 5) << "setting the size keeps the position";
    file->Clear();
    EXPECT_EQ(file->GetSize(), 0);
    file->Close();
    EXPECT_FALSE(file->IsOpen());
}

TEST(FileStream, CopyFromCopiesWhatTheSourceHasLeftOrUntilItEnds) {
    TTempFolder folder;
    std::string bytes(3 << 20, 'x');
    for (std::size_t i = 0; i < bytes.size(); i += 4099) bytes[i] = static_cast<char>(i);
    auto source = test::MemoryWith(bytes);
    source->SetPosition(5);
    auto file = TFileStream::OpenReadWrite(folder.File("copy.bin"));
    EXPECT_EQ(file->CopyFrom(*source, INT64_MAX), static_cast<std::int64_t>(bytes.size() - 5));
    file->Close();
    EXPECT_EQ(ReadFileBytes(folder.File("copy.bin")), bytes.substr(5));
}

TEST(FileStream, SaveStreamToFileKeepsThePositionAndReplacesTheFile) {
    TTempFolder folder;
    WriteFileBytes(folder.File("out.bin"), "old and longer content");
    auto source = test::MemoryWith("new");
    source->SetPosition(2);
    EXPECT_TRUE(TFileStream::SaveStreamToFile(*source, folder.File("out.bin")));
    EXPECT_EQ(source->GetPosition(), 2);
    EXPECT_EQ(ReadFileBytes(folder.File("out.bin")), "new");
    EXPECT_FALSE(TFileStream::SaveStreamToFile(*source, folder.File("no/such/folder/out.bin")));
}

TEST(FileStream, ExtendedStreamAnswersZeroWhereTheReadFails) {
    TTempFolder folder;
    const std::string name = folder.File("w.bin");
    WriteFileBytes(name, "abc");
    // A write-only descriptor cannot be read.
    auto plain = MakeRef<TFileStream>(name, TFileAccess::Write, TFileCreation::OpenExisting, kShareNone);
    char buffer[3];
    EXPECT_THROW(plain->Read(buffer, 3), EFileReadError);
    auto quiet = MakeRef<TFileStreamEx>(name, TFileAccess::Write, TFileCreation::OpenExisting, kShareNone);
    EXPECT_EQ(quiet->Read(buffer, 3), 0);
}

TEST(ResourceStream, RegisteredResourcesOpenByNameAndOtherNamesAsFiles) {
    static const char kBytes[] = "resource bytes";
    RegisterResource("Logo", kResourceTypeRcData, kBytes, sizeof kBytes - 1);
    static const char kEmpty[] = "";
    RegisterResource("Nothing", kResourceTypeRcData, kEmpty, 0);

    auto stream = TResourceStream::Create("LOGO", "rcdata");
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->ReadString8(stream->GetSize()), "resource bytes");
    EXPECT_FALSE(TResourceStream::Create("Nothing", kResourceTypeRcData)) << "an empty resource gives nothing";
    EXPECT_FALSE(TResourceStream::Create("Logo", "ICON"));

    auto named = TResourceStream::OpenNamed("res:logo.png");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->GetSize(), 14);
    EXPECT_FALSE(TResourceStream::OpenNamed("RES:Missing.png"));

    TTempFolder folder;
    WriteFileBytes(folder.File("plain.txt"), "disk");
    auto file = TResourceStream::OpenNamed(folder.File("plain.txt"));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->ReadString8(4), "disk");
}

} // namespace
} // namespace kiv

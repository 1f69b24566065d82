// File access: Windows names on the disk, the disk source, the accessor, providers, load modes.
#include "TempFolder.h"
#include "package/FileAccessor.h"
#include "package/FolderPath.h"
#include "package/LoadCallback.h"
#include "package/LoadModes.h"
#include "package/MemoryStream.h"
#include "package/PartialStream.h"
#include "package/PathModifiers.h"
#include "package/RealFileSource.h"
#include "package/WindowsPath.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace kiv {
namespace {

using test::TTempFolder;
using test::WriteFileBytes;

// "C:" + the path with backslashes: how a Windows project names a file of the temporary folder.
std::string WindowsName(const std::filesystem::path& path) {
    std::string name = "C:" + path.string();
    for (char& c : name)
        if (c == '/') c = '\\';
    return name;
}

std::string ReadAll(TStream& stream) {
    std::string bytes;
    char buffer[1000];
    while (const std::int32_t got = stream.Read(buffer, sizeof buffer))
        bytes.append(buffer, static_cast<std::size_t>(got));
    return bytes;
}

TEST(DiskPath, WindowsNamesFindFilesWithoutRegardToCase) {
    TTempFolder folder;
    WriteFileBytes(folder.File("Show/Img/Beach.JPG"), "jpeg");
    const std::string exact = folder.File("Show/Img/Beach.JPG");
    EXPECT_EQ(DiskPath(WindowsName(folder.Path() / "Show\\Img\\Beach.JPG")), exact);
    EXPECT_EQ(DiskPath(WindowsName(folder.Path() / "SHOW\\img\\beach.jpg")), exact);
    EXPECT_EQ(DiskPath(WindowsName(folder.Path()) + "\\\\show\\\\IMG\\BEACH.jpg"), exact)
        << "repeated separators count as one";
    EXPECT_TRUE(DiskFileExists(WindowsName(folder.Path() / "show\\img\\beach.jpg|2")));
    EXPECT_FALSE(DiskFileExists(WindowsName(folder.Path() / "show\\img")));
    EXPECT_TRUE(DiskFolderExists(WindowsName(folder.Path() / "show\\img")));
}

TEST(DiskPath, MissingNamesComeBackConvertedAndAreNotFound) {
    TTempFolder folder;
    const std::string name = WindowsName(folder.Path() / "Nothing\\Here.png");
    EXPECT_EQ(DiskPath(name), (folder.Path() / "Nothing/Here.png").string());
    EXPECT_FALSE(DiskFileExists(name));
    EXPECT_EQ(DiskPath(""), "");
    EXPECT_FALSE(DiskFileExists(""));
}

TEST(DiskPath, ExactNameWinsAndAmbiguousNamesChooseTheFirstInByteOrder) {
    TTempFolder folder;
    WriteFileBytes(folder.File("a.txt"), "lower");
    WriteFileBytes(folder.File("A.TXT"), "upper");
    EXPECT_EQ(DiskPath(folder.File("a.txt")), folder.File("a.txt"));
    EXPECT_EQ(DiskPath(folder.File("a.Txt")), folder.File("A.TXT"));
}

TEST(DiskPath, DriveIsDroppedUnlessAFolderOfThatNameExists) {
    TTempFolder folder;
    test::TCurrentFolder here(folder.Path());
    WriteFileBytes(folder.File("rel/x.png"), "x");
    EXPECT_EQ(DiskPath("C:REL\\X.PNG"), "rel/x.png") << "drive-relative name in the current folder";
    EXPECT_EQ(DiskPath("rel\\X.png"), "rel/x.png");
    WriteFileBytes(folder.File("D:/inside.png"), "d");
    EXPECT_EQ(DiskPath("D:\\inside.png"), "D:/inside.png") << "a folder named like the drive keeps it";
}

TEST(RealFileSource, SelectorAfterABarOpensTheFileBeforeIt) {
    TTempFolder folder;
    WriteFileBytes(folder.File("clip.mp4"), "video bytes");
    auto source = MakeRef<TRealFileSource>(folder.Path().string());
    TRef<TStream> stream = source->Open("clip.mp4|2");
    ASSERT_TRUE(stream);
    EXPECT_EQ(ReadAll(*stream), "video bytes");
    auto anywhere = MakeRef<TRealFileSource>();
    ASSERT_TRUE(anywhere->Open(WindowsName(folder.Path() / "CLIP.mp4|audio=1")));
}

TEST(RealFileSource, FailuresGiveNoStream) {
    TTempFolder folder;
    auto source = MakeRef<TRealFileSource>(folder.Path().string());
    EXPECT_FALSE(source->Open("missing.png"));
    EXPECT_FALSE(source->Open(""));
    std::filesystem::create_directories(folder.Path() / "sub");
    EXPECT_FALSE(source->Open("sub")) << "a folder is no file";
    EXPECT_FALSE(source->Open("|2"));
}

TEST(RealFileSource, RelativeNamesAreTakenAgainstTheBaseFolder) {
    TTempFolder folder;
    WriteFileBytes(folder.File("show/img/a.png"), "a");
    WriteFileBytes(folder.File("common/b.png"), "b");
    auto source = MakeRef<TRealFileSource>(folder.File("show") + "/");
    EXPECT_TRUE(source->Open("IMG\\A.png"));
    EXPECT_TRUE(source->Open("..\\Common\\b.png"));
    EXPECT_FALSE(source->Open("a.png"));
}

class FailingSource : public TFileSource {
public:
    TRef<TStream> Open(const std::string&) override { throw EFileOpenError("refused"); }
};

class MemorySource : public TFileSource {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    TRef<TStream> Open(const std::string& name) override {
        lastName = name;
        auto stream = MakeRef<TMemoryStream>();
        stream->WriteBuffer(bytes_.data(), static_cast<std::int32_t>(bytes_.size()));
        stream->SetPosition(0);
        return stream;
    }
    std::string lastName;

private:
    std::string bytes_;
};

TEST(FileAccessor, OpenNeverRaisesAndWindowsTheStream) {
    auto failing = MakeRef<TFileAccessor>(MakeRef<FailingSource>());
    EXPECT_FALSE(failing->Open("x.png"));

    const std::string bytes(1000, 'k');
    auto accessor = MakeRef<TFileAccessor>(MakeRef<MemorySource>(bytes));
    TRef<TStream> stream = accessor->Open("x.png");
    ASSERT_TRUE(stream);
    auto* window = dynamic_cast<TPartialStream*>(stream.Get());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->ChunkSize(), 256);
    EXPECT_EQ(stream->GetSize(), 1000);
    EXPECT_EQ(ReadAll(*stream), bytes);
}

TEST(FileAccessor, LoadCallbackRunsPerChunkAndStopModeDoesNotCutReads) {
    static int calls = 0;
    SetProcessLoadHook([]() {
        ++calls;
        return true;
    });
    auto accessor = MakeRef<TFileAccessor>(MakeRef<MemorySource>(std::string(1000, 'z')));
    TRef<TStream> stream = accessor->Open("x");
    ASSERT_TRUE(stream);
    calls = 0;
    EXPECT_EQ(ReadAll(*stream).size(), 1000u);
    EXPECT_EQ(calls, 4) << "1000 bytes in chunks of 256";

    SetLoadMode(3);
    EXPECT_FALSE(CallProcessLoadHook());
    stream->SetPosition(0);
    EXPECT_EQ(ReadAll(*stream).size(), 1000u) << "windows ignore the stop answer";
    SetLoadMode(1);
    EXPECT_TRUE(CallProcessLoadHook());
    SetLoadMode(7);
    EXPECT_EQ(LoadMode(), 0);
    EXPECT_TRUE(CallProcessLoadHook());
    SetProcessLoadHook(nullptr);
}

TEST(FileAccessor, ResolveTriesNameThenModifiersThenBaseFolder) {
    TTempFolder folder;
    WriteFileBytes(folder.File("show/pic.jpg"), "p");
    WriteFileBytes(folder.File("here.jpg"), "h");
    auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(), folder.File("show"));
    EXPECT_EQ(accessor->BaseFolder(), folder.File("show") + "\\");

    TResolvedPath resolved;
    ASSERT_TRUE(accessor->ResolveDiskPath(WindowsName(folder.Path() / "HERE.jpg"), resolved));
    EXPECT_EQ(resolved.diskPath, folder.File("here.jpg"));
    EXPECT_EQ(resolved.name, WindowsName(folder.Path() / "HERE.jpg"));

    // Moved show: the project still names the author's folder.
    ASSERT_TRUE(accessor->ResolveDiskPath("C:\\Users\\author\\Pictures\\PIC.JPG|1", resolved));
    EXPECT_EQ(resolved.diskPath, folder.File("show/pic.jpg"));
    EXPECT_EQ(resolved.name, folder.File("show") + "\\PIC.JPG|1");
    TRef<TStream> stream = accessor->OpenDiskFile("C:\\Users\\author\\Pictures\\pic.jpg");
    ASSERT_TRUE(stream);
    EXPECT_EQ(ReadAll(*stream), "p");

    EXPECT_FALSE(accessor->ResolveDiskPath("C:\\nowhere\\missing.jpg", resolved));
    EXPECT_FALSE(accessor->OpenDiskFile("C:\\nowhere\\missing.jpg"));
    EXPECT_FALSE(accessor->ResolveDiskPath("", resolved));
}

TEST(FileAccessor, NameTryingToLeaveTheBaseFolderIsNotFoundThere) {
    TTempFolder folder;
    WriteFileBytes(folder.File("outside.png"), "secret");
    std::filesystem::create_directories(folder.Path() / "show");
    auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(), folder.File("show"));
    TResolvedPath resolved;
    EXPECT_FALSE(accessor->ResolveDiskPath("..\\outside.png", resolved))
        << "only the last component is looked for in the base folder";
    EXPECT_FALSE(accessor->OpenDiskFile("..\\..\\outside.png"));
}

TEST(FileAccessor, ResolveUsesPathModifiers) {
    TTempFolder folder;
    WriteFileBytes(folder.File("m/song.mp3"), "s");
    SetPathModifiers({{"%media%", folder.File("m"), false}});
    auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>());
    TResolvedPath resolved;
    ASSERT_TRUE(accessor->ResolveDiskPath("%MEDIA%\\Song.mp3", resolved));
    EXPECT_EQ(resolved.diskPath, folder.File("m/song.mp3"));
    ResetPathModifiers();
}

TEST(FileAccessor, CopySharesTheSourceAndBaseFolder) {
    auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(), "C:\\Show");
    TRef<TFileAccessor> copy = accessor->Copy();
    EXPECT_NE(copy.Get(), accessor.Get());
    EXPECT_EQ(&copy->Source(), &accessor->Source());
    EXPECT_EQ(copy->BaseFolder(), "C:\\Show\\");
    EXPECT_EQ(ProcessFileAccessor().Get(), ProcessFileAccessor().Get());
    EXPECT_EQ(ProcessFileAccessor()->BaseFolder(), "");
}

TRef<TRefObject> Answer(void* data, const std::string& name) {
    if (name != *static_cast<std::string*>(data)) return nullptr;
    return MakeRef<TMemoryStream>();
}

TEST(FileSource, ProvidersKeepTheirOrderAndLeaveWithTheirHandles) {
    auto source = MakeRef<MemorySource>("");
    std::string first = "a", second = "b";
    TRef<TCallbackHandle> one = source->AddPictureProvider(&Answer, &first);
    TRef<TCallbackHandle> two = source->AddPictureProvider(&Answer, &second);
    auto providers = source->PictureProviders();
    ASSERT_EQ(providers.size(), 2u);
    EXPECT_EQ(providers[0].data, &first);
    EXPECT_EQ(providers[1].data, &second);
    EXPECT_TRUE(providers[1].code(providers[1].data, "b"));
    one.Reset();
    providers = source->PictureProviders();
    ASSERT_EQ(providers.size(), 1u);
    EXPECT_EQ(providers[0].data, &second);
    source.Reset();
    two.Reset(); // the handle outlives its source without harm
}

TEST(FileSource, SerialsAreUniquePerSource) {
    auto a = MakeRef<MemorySource>("");
    auto b = MakeRef<TRealFileSource>();
    EXPECT_NE(a->Serial(), b->Serial());
    EXPECT_EQ(a->Rotation("x.jpg"), 0);
}

} // namespace
} // namespace kiv

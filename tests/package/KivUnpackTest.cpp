// Opening packages: both trailer forms, moved packages, entry lookup and the storage types, and
// packages that are damaged or hostile.
#include "package/KivUnpack.h"
#include "ini/TextDecoding.h"
#include "package/FileStream.h"
#include "package/LoadCallback.h"
#include "package/MemoryStream.h"
#include "package/PartialStream.h"
#include "TestStreams.h"
#include "PackageBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kiv {
namespace {

using test::Int64LE;
using test::OwnTrailer;
using test::PackInMemory;
using test::TTempFolder;
using test::WriteFileBytes;

std::string Hundred() {
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += static_cast<char>('A' + i % 26);
    return bytes;
}

std::string ReadAll(TStream& stream) {
    std::string out;
    char buffer[4096];
    while (const std::int32_t got = stream.Read(buffer, sizeof buffer)) out.append(buffer, static_cast<std::size_t>(got));
    return out;
}

// Opens `bytes` written to a file of the test's folder.
class PackageFile : public ::testing::Test {
protected:
    TRef<TKivUnpack> Open(const std::string& bytes) {
        WriteFileBytes(path_, bytes);
        return MakeRef<TKivUnpack>(path_);
    }
    TTempFolder folder_;
    std::string path_ = folder_.File("show.kvshow");
};

const std::string kHundredDirectory =
    "[Project.kiv]\r\n_ps=0\r\n_sz=100\r\n_pm=0\r\n[$protection$]\r\nstrucpos=100\r\n";

TEST_F(PackageFile, HundredByteEntryOpensInTheOwnFileForm) {
    auto unpack = Open(Hundred() + OwnTrailer(kHundredDirectory, 100));
    ASSERT_TRUE(unpack->IsOpen()) << unpack->ErrorText();
    EXPECT_EQ(unpack->Form(), TPackageForm::Own);
    EXPECT_EQ(unpack->Base(), 0);
    EXPECT_EQ(unpack->Shift(), 0);
    auto entry = unpack->OpenEntry("Project.kiv");
    ASSERT_TRUE(entry);
    EXPECT_EQ(ReadAll(*entry), Hundred());
    EXPECT_TRUE(unpack->OpenEntry("PROJECT.KIV")) << "names match without regard to case";
    EXPECT_FALSE(unpack->OpenEntry("Other.kiv"));
}

TEST_F(PackageFile, PackageAppendedAt5000OpensInTheAppendedForm) {
    const std::string directory =
        "[Project.kiv]\r\n_ps=5000\r\n_sz=100\r\n_pm=0\r\n[$protection$]\r\nstrucpos=5100\r\nkivversion=7.1\r\n";
    const std::string packed = DeflateRaw(directory);
    const std::string bytes = std::string(5000, 'X') + Hundred() + packed + Int64LE(100) + ".dne" +
                              Int64LE(112 + static_cast<std::int64_t>(packed.size()));
    auto unpack = Open(bytes);
    ASSERT_TRUE(unpack->IsOpen()) << unpack->ErrorText();
    EXPECT_EQ(unpack->Form(), TPackageForm::Appended);
    EXPECT_EQ(unpack->Base(), 5000);
    EXPECT_EQ(unpack->End(), static_cast<std::int64_t>(bytes.size()) - 8);
    EXPECT_EQ(unpack->Shift(), 0);
    EXPECT_EQ(unpack->Version(), "7.1");
    EXPECT_EQ(ReadAll(*unpack->OpenEntry("Project.kiv")), Hundred());
}

TEST_F(PackageFile, TrailingEndMarkerMeansBaseZeroEvenAfterAnExecutable) {
    const std::string directory =
        "[Project.kiv]\r\n_ps=3000\r\n_sz=100\r\n_pm=0\r\n[$protection$]\r\nstrucpos=3100\r\n";
    auto unpack = Open(std::string(3000, '\x7f') + Hundred() + OwnTrailer(directory, 3100));
    ASSERT_TRUE(unpack->IsOpen());
    EXPECT_EQ(unpack->Form(), TPackageForm::Own);
    EXPECT_EQ(unpack->Base(), 0);
    EXPECT_EQ(ReadAll(*unpack->OpenEntry("project.kiv")), Hundred());
}

TEST_F(PackageFile, MovedPackageOpensOnlyWhenModifyIsAllowed) {
    const std::vector<test::TTestEntry> entries = {{"Project.kiv", Hundred(), TEntryStorage::Stored},
                                                   {"img\\a.bin", "scrambled bytes", TEntryStorage::Scrambled}};
    test::TPackOptions options;
    options.form = TPackageForm::Appended;
    options.prefix = std::string(2000, 'E');
    const std::string locked = PackInMemory(entries, options);
    // The same package copied unchanged into a larger executable.
    auto unpack = Open(std::string(1000, 'F') + locked);
    EXPECT_FALSE(unpack->IsOpen());
    EXPECT_EQ(unpack->ErrorText(), "Slide-show File Modified");

    options.allowModify = true;
    const std::string allowed = PackInMemory(entries, options);
    unpack = Open(std::string(1000, 'F') + allowed);
    ASSERT_TRUE(unpack->IsOpen()) << unpack->ErrorText();
    EXPECT_EQ(unpack->Base(), 3000);
    EXPECT_EQ(unpack->Shift(), 1000);
    TPackageEntry entry;
    ASSERT_TRUE(unpack->FindEntry("Project.kiv", entry));
    EXPECT_EQ(entry.offset, 3000) << "recorded 2000 plus the shift";
    EXPECT_EQ(ReadAll(*unpack->OpenEntry("Project.kiv")), Hundred());
    EXPECT_EQ(ReadAll(*unpack->OpenEntry("IMG\\A.BIN")), "scrambled bytes");
}

TEST_F(PackageFile, StrucposEqualOrMissingGivesNoShift) {
    auto unpack = Open(Hundred() + OwnTrailer("[Project.kiv]\r\n_ps=0\r\n_sz=100\r\n", 100));
    ASSERT_TRUE(unpack->IsOpen());
    EXPECT_EQ(unpack->Shift(), 0);
    EXPECT_EQ(unpack->Version(), "");
}

TEST_F(PackageFile, AllowModifyMustBeExactlyOne) {
    const std::string directory = "[Project.kiv]\r\n_ps=0\r\n_sz=100\r\n[$protection$]\r\nstrucpos=90\r\n";
    auto unpack = Open(Hundred() + OwnTrailer(directory + "allowmodify=true\r\n", 100));
    EXPECT_FALSE(unpack->IsOpen());
    EXPECT_EQ(unpack->ErrorText(), "Slide-show File Modified");
    unpack = Open(Hundred() + OwnTrailer(directory + "allowmodify=1\r\n", 100));
    ASSERT_TRUE(unpack->IsOpen());
    EXPECT_EQ(unpack->Shift(), 10);
}

TEST_F(PackageFile, RecordedOffsetThatIsNoNumberOrLiesPastTheDirectoryIsDamage) {
    for (const char* strucpos : {"12x", "101", "-5", ""}) {
        const std::string directory = std::string("[Project.kiv]\r\n_ps=0\r\n_sz=100\r\n[$protection$]\r\nstrucpos=") +
                                      strucpos + "\r\nallowmodify=1\r\n";
        auto unpack = Open(Hundred() + OwnTrailer(directory, 100));
        EXPECT_FALSE(unpack->IsOpen()) << strucpos;
        EXPECT_EQ(unpack->ErrorText(), "Slide-show File Damaged") << strucpos;
    }
}

TEST_F(PackageFile, MissingFileShortFileAndFileWithoutTrailer) {
    auto missing = MakeRef<TKivUnpack>(folder_.File("nothing.kvshow"));
    EXPECT_FALSE(missing->IsOpen());
    EXPECT_EQ(missing->ErrorText(), "Slideshow File not Found");

    auto plain = Open(std::string(500, 'p'));
    EXPECT_FALSE(plain->IsOpen());
    EXPECT_EQ(plain->ErrorText(), "");

    EXPECT_THROW(Open("ab"), EStreamSeekError) << "too short for the own-file trailer";
    EXPECT_THROW(Open("abcdefgh"), EStreamSeekError) << "too short for the appended trailer";
}

TEST_F(PackageFile, EscapedNamesAreLookedUpUnderTheirSectionNames) {
    const std::string bracket = "shot[1].jpg";
    const std::string tab = "a\tb.txt";
    auto unpack = Open(PackInMemory({{bracket, "one", TEntryStorage::Stored}, {tab, "two", TEntryStorage::Deflated}}));
    ASSERT_TRUE(unpack->IsOpen());
    const std::vector<std::string> sections = unpack->Structure()->EntrySections();
    EXPECT_EQ(sections, (std::vector<std::string>{"shot<1>.jpg", "a#09b.txt"}));
    EXPECT_EQ(ReadAll(*unpack->OpenEntry(bracket)), "one");
    EXPECT_EQ(ReadAll(*unpack->OpenEntry(tab)), "two");
    EXPECT_TRUE(unpack->OpenEntry("shot<1>.jpg")) << "the escaped form names the same section";
    EXPECT_FALSE(unpack->OpenEntry(""));
}

TEST_F(PackageFile, ScrambledEntryReadFromOffset40StartsWithKeyByte8) {
    const std::string plain(200, '\0');
    auto unpack = Open(PackInMemory({{"s.bin", plain, TEntryStorage::Scrambled}}));
    ASSERT_TRUE(unpack->IsOpen());
    auto entry = unpack->OpenEntry("s.bin");
    entry->SetPosition(40);
    char bytes[3];
    entry->ReadBuffer(bytes, 3);
    EXPECT_EQ(bytes[0], 0) << "unscrambled";
    // The stored bytes are the key itself for zero input: byte 40 holds key byte 8.
    TPackageEntry info;
    ASSERT_TRUE(unpack->FindEntry("s.bin", info));
    auto raw = TFileStream::OpenRead(path_);
    raw->SetPosition(info.offset + 40);
    EXPECT_EQ(raw->ReadByte(), static_cast<std::uint8_t>(kPackageKey[8]));
}

TEST_F(PackageFile, EveryStorageTypeRoundTripsAndUnknownTypesReadAsStored) {
    std::string big;
    for (int i = 0; i < 200000; ++i) big += static_cast<char>(i * 13 % 256);
    auto unpack = Open(PackInMemory({{"stored", big, TEntryStorage::Stored},
                                     {"deflated", big, TEntryStorage::Deflated},
                                     {"scrambled", big, TEntryStorage::Scrambled},
                                     {"empty", "", TEntryStorage::Deflated}}));
    ASSERT_TRUE(unpack->IsOpen());
    for (const char* name : {"stored", "deflated", "scrambled"}) {
        auto entry = unpack->OpenEntry(name);
        ASSERT_TRUE(entry) << name;
        EXPECT_EQ(entry->GetSize(), 200000) << name;
        EXPECT_EQ(ReadAll(*entry), big) << name;
        entry->SetPosition(123456);
        EXPECT_EQ(entry->ReadByte(), static_cast<std::uint8_t>(big[123456])) << name;
    }
    EXPECT_EQ(unpack->OpenEntry("empty")->GetSize(), 0);

    auto odd = Open(Hundred() + OwnTrailer("[x]\r\n_ps=0\r\n_sz=100\r\n_pm=7\r\n", 100));
    ASSERT_TRUE(odd->IsOpen());
    EXPECT_EQ(ReadAll(*odd->OpenEntry("x")), Hundred());
}

TEST_F(PackageFile, EntryReadsComeInSmallChunksThroughTheLoadCallback) {
    static std::atomic<int> calls;
    calls = 0;
    SetProcessLoadHook([] {
        ++calls;
        return true;
    });
    auto unpack = Open(PackInMemory({{"a", std::string(10000, 'a'), TEntryStorage::Stored}}));
    auto entry = unpack->OpenEntry("a");
    EXPECT_EQ(ReadAll(*entry).size(), 10000u);
    SetProcessLoadHook(nullptr);
    EXPECT_GE(calls.load(), 10000 / 256);
}

TEST_F(PackageFile, EntriesReadOnSeveralThreadsAtOnce) {
    std::string a(300000, 'a'), b(300000, 'b');
    auto unpack = Open(PackInMemory({{"a", a, TEntryStorage::Stored}, {"b", b, TEntryStorage::Scrambled}}));
    std::string gotA, gotB;
    std::thread first([&] { gotA = ReadAll(*unpack->OpenEntry("a")); });
    std::thread second([&] { gotB = ReadAll(*unpack->OpenEntry("b")); });
    first.join();
    second.join();
    EXPECT_EQ(gotA, a);
    EXPECT_EQ(gotB, b);
}

TEST_F(PackageFile, DirectoryOutsideThePackageIsDamage) {
    const std::string directory = "[Project.kiv]\r\n_ps=0\r\n_sz=100\r\n";
    const std::string packed = DeflateRaw(directory);
    for (std::int64_t offset : {std::int64_t{-1}, std::int64_t{100000}, INT64_MAX, INT64_MIN}) {
        auto unpack = Open(Hundred() + packed + Int64LE(offset) + ".dne");
        EXPECT_FALSE(unpack->IsOpen()) << offset;
        EXPECT_EQ(unpack->ErrorText(), "Slide-show File Damaged") << offset;
    }
    // Appended form whose length points before the file or is negative.
    for (std::int64_t length : {std::int64_t{-3}, std::int64_t{1} << 40, INT64_MIN}) {
        auto unpack = Open(Hundred() + packed + Int64LE(100) + ".dne" + Int64LE(length));
        EXPECT_FALSE(unpack->IsOpen()) << length;
        EXPECT_EQ(unpack->ErrorText(), "Slide-show File Damaged") << length;
    }
}

TEST_F(PackageFile, CorruptOrExplodingDirectoryRaisesTheDecompressionError) {
    EXPECT_THROW(Open(Hundred() + std::string("\xFF\xFE\xFD\xFC", 4) + Int64LE(100) + ".dne"), EZDecompressionError);
    EXPECT_THROW(Open(Hundred() + Int64LE(100) + ".dne"), EZDecompressionError) << "empty directory data";
    // A directory that inflates beyond the largest text a document takes.
    std::string bomb;
    {
        std::string zeros(1 << 20, '\0');
        auto source = MakeRef<TMemoryStream>();
        for (int i = 0; i < 130; ++i) source->WriteBuffer(zeros.data(), static_cast<std::int32_t>(zeros.size()));
        source->SetPosition(0);
        auto target = MakeRef<TMemoryStream>();
        TKivPackWriter writer(*target);
        writer.SetDeflateLevel(9);
        writer.AddEntry("bomb", *source, TEntryStorage::Deflated);
        bomb = std::string(reinterpret_cast<char*>(target->Memory()), static_cast<std::size_t>(target->GetSize()));
    }
    ASSERT_LT(bomb.size(), 1u << 20);
    try {
        Open(Hundred() + bomb + Int64LE(100) + ".dne");
        FAIL();
    } catch (const EZDecompressionError& error) {
        EXPECT_STREQ(error.what(), "Decompressed data too large");
    }
}

// A package of deflated entries of zero bytes, each `size` long.
std::string ZeroEntriesPackage(const std::vector<std::pair<std::string, std::int64_t>>& entries) {
    auto target = MakeRef<TMemoryStream>();
    TKivPackWriter writer(*target);
    writer.SetDeflateLevel(9);
    const std::string zeros(1 << 20, '\0');
    for (const auto& [name, size] : entries) {
        auto source = MakeRef<TMemoryStream>();
        for (std::int64_t left = size; left > 0;) {
            const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(left, zeros.size()));
            source->WriteBuffer(zeros.data(), n);
            left -= n;
        }
        source->SetPosition(0);
        writer.AddEntry(name, *source, TEntryStorage::Deflated);
    }
    writer.Finish(TPackageForm::Own);
    return std::string(reinterpret_cast<char*>(target->Memory()),
                       static_cast<std::size_t>(target->GetSize()));
}

TEST_F(PackageFile, ProjectTextStopsInflatingAtTheTextLimit) {
    // One byte past the largest text a document takes: the project entry is refused while it
    // inflates (before, it inflated whole and the text load refused it afterwards).
    auto unpack =
        Open(ZeroEntriesPackage({{"Project.kiv", kMaxTextBytes + 1}, {"movie.dat", kMaxTextBytes + 1}}));
    ASSERT_TRUE(unpack->IsOpen());
    for (const char* name : {"Project.kiv", "PROJECT.KIV"}) {
        try {
            unpack->OpenEntry(name);
            ADD_FAILURE() << name << " inflated past the text limit";
        } catch (const EZDecompressionError& error) {
            EXPECT_STREQ(error.what(), "Decompressed data too large") << name;
        }
    }
    // Other entries may be larger.
    TRef<TStream> movie = unpack->OpenEntry("movie.dat");
    ASSERT_TRUE(movie);
    EXPECT_EQ(movie->GetSize(), kMaxTextBytes + 1);
    movie.Reset();
    unpack.Reset();

    // A project text of exactly the limit still opens whole.
    auto atLimit = Open(ZeroEntriesPackage({{"Project.kiv", kMaxTextBytes}}));
    TRef<TStream> project = atLimit->OpenEntry("Project.kiv");
    ASSERT_TRUE(project);
    EXPECT_EQ(project->GetSize(), kMaxTextBytes);
}

TEST_F(PackageFile, EntryExtentsOutsideTheFileAreRefused) {
    const std::string directory = "[past]\r\n_ps=50\r\n_sz=5000\r\n"
                                  "[negative]\r\n_ps=10\r\n_sz=-5\r\n"
                                  "[before]\r\n_ps=-50\r\n_sz=5\r\n"
                                  "[huge]\r\n_ps=9223372036854775800\r\n_sz=100\r\n"
                                  "[nosize]\r\n_ps=0\r\n"
                                  "[corrupt]\r\n_ps=0\r\n_sz=100\r\n_pm=1\r\n"
                                  "[$protection$]\r\nstrucpos=90\r\nallowmodify=1\r\n";
    auto unpack = Open(Hundred() + OwnTrailer(directory, 100));
    ASSERT_TRUE(unpack->IsOpen()) << unpack->ErrorText();
    for (const char* name : {"past", "negative", "before", "huge"}) {
        try {
            unpack->OpenEntry(name);
            ADD_FAILURE() << name;
        } catch (const EStreamError& error) {
            EXPECT_STREQ(error.what(), "Insufficient Source Size") << name;
        }
    }
    EXPECT_FALSE(unpack->OpenEntry("nosize"));
    EXPECT_THROW(unpack->OpenEntry("corrupt"), EZDecompressionError);
}

TEST(PackageStream, OpensFromMemoryAndServesEntriesOverTheSameStream) {
    auto source = test::MemoryWith(
        PackInMemory({{"one", "first", TEntryStorage::Deflated}, {"two", "second", TEntryStorage::Scrambled}}));
    auto unpack = MakeRef<TKivUnpack>(*source);
    ASSERT_TRUE(unpack->IsOpen());
    EXPECT_EQ(ReadAll(*unpack->OpenEntry("one")), "first");
    EXPECT_EQ(ReadAll(*unpack->OpenEntry("two")), "second");
    unpack->Close();
    EXPECT_FALSE(unpack->IsOpen());
    EXPECT_FALSE(unpack->OpenEntry("one"));
}

TEST(PackageWriter, RefusesNamesTheDirectoryCannotHold) {
    auto target = MakeRef<TMemoryStream>();
    TKivPackWriter writer(*target);
    writer.AddEntry("Img\\A.jpg", "x", TEntryStorage::Stored);
    EXPECT_THROW(writer.AddEntry("img\\a.JPG", "y", TEntryStorage::Stored), EPackageNameError);
    EXPECT_THROW(writer.AddEntry("", "y", TEntryStorage::Stored), EPackageNameError);
    EXPECT_THROW(writer.AddEntry(" lead", "y", TEntryStorage::Stored), EPackageNameError);
    EXPECT_THROW(writer.AddEntry("$PROTECTION$", "y", TEntryStorage::Stored), EPackageNameError);
    EXPECT_EQ(writer.EntryCount(), 1);
}

} // namespace
} // namespace kiv

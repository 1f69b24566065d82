// Show packages: opening a directory of 20 000 entries and looking every entry up, and reading a
// 200 MB stored and a 200 MB deflated entry through the chunked entry streams.
// References, measured in the same run: inflating the same directory and filling and probing a
// hash map with its names; plain read() of the same stored bytes; zlib's inflate() of the same
// compressed bytes into one buffer, then read from it in the same 64 KiB blocks. The package files live under the temporary folder and are removed at exit.
#include "package/FileStream.h"
#include "package/KivUnpack.h"
#include "package/MemoryStream.h"
#include "package/PackageWriter.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kEntryCount = 20000;
constexpr std::int64_t kSparseSize = std::int64_t{4} << 30;
constexpr std::int64_t kBigEntry = 200 << 20;
constexpr std::int32_t kReadBlock = 1 << 16;

std::string EntryName(int i) {
    std::string name = "Images\\Slide";
    name.append(std::to_string(i)).append("\\Picture_").append(std::to_string(i * 7)).append(".JPG");
    return name;
}

std::string TempName(const char* stem) {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder && *folder ? folder : "/tmp") + "/" + stem + "-" + std::to_string(::getpid());
}

// The package files, made on first use and removed when the program ends.
struct TFixtures {
    std::string sparse = TempName("kiv-bench-dir");
    std::string big = TempName("kiv-bench-big");
    std::string directoryPacked; // the compressed directory of the sparse package
    kiv::TPackageEntry stored, deflated;

    TFixtures() {
        MakeSparse();
        MakeBig();
    }
    ~TFixtures() {
        std::remove(sparse.c_str());
        std::remove(big.c_str());
    }

    void MakeSparse() {
        // 20 000 entries spread over 4 GiB of holes, the directory at the end.
        std::string text = "\xEF\xBB\xBF";
        const std::int64_t step = kSparseSize / kEntryCount;
        for (int i = 0; i < kEntryCount; ++i)
            text.append("[").append(EntryName(i)).append("]\r\n_ps=").append(std::to_string(i * step))
                .append("\r\n_sz=").append(std::to_string(step)).append("\r\n_pm=0\r\n");
        text += "[$protection$]\r\nstrucpos=" + std::to_string(kSparseSize) + "\r\nallowmodify=0\r\nkivversion=bench\r\n";
        directoryPacked = kiv::DeflateRaw(text);
        auto file = kiv::MakeRef<kiv::TFileStream>(sparse, kiv::TFileAccess::ReadWrite, kiv::TFileCreation::CreateAlways,
                                                   kiv::kShareNone);
        file->SetSize(kSparseSize);
        file->SetPosition(kSparseSize);
        file->WriteBuffer(directoryPacked.data(), static_cast<std::int32_t>(directoryPacked.size()));
        for (int i = 0; i < 8; ++i) file->WriteByte(static_cast<std::uint8_t>(static_cast<std::uint64_t>(kSparseSize) >> (8 * i)));
        file->WriteBuffer(".dne", 4);
    }

    void MakeBig() {
        // Text-like bytes: words drawn at random, compressible about 3:1.
        std::mt19937 random(7);
        static const char* kWords[] = {"slide ", "show ", "picture ", "transition ", "music ", "object ", "frame ",
                                       "opacity=", "100\r\n", "[Main]\r\n", "keyframe ", "0.25,", "#FFAA00 "};
        std::string block;
        while (block.size() < (8u << 20)) block += kWords[random() % 13];
        auto file = kiv::MakeRef<kiv::TFileStream>(big, kiv::TFileAccess::ReadWrite, kiv::TFileCreation::CreateAlways,
                                                   kiv::kShareNone);
        auto content = kiv::MakeRef<kiv::TMemoryStream>();
        std::int64_t done = 0;
        for (int turn = 0; done < kBigEntry; ++turn) {
            // Shifted copies of the block, so no two stretches of the entry are alike.
            const std::int64_t offset = turn * 4099 % 65536;
            const std::int64_t n = std::min(static_cast<std::int64_t>(block.size()) - offset, kBigEntry - done);
            content->WriteBuffer(block.data() + offset, static_cast<std::int32_t>(n));
            done += n;
        }
        kiv::TKivPackWriter writer(*file);
        writer.SetDeflateLevel(6);
        content->SetPosition(0);
        writer.AddEntry("stored.bin", *content, kiv::TEntryStorage::Stored);
        content->SetPosition(0);
        writer.AddEntry("deflated.bin", *content, kiv::TEntryStorage::Deflated);
        writer.Finish(kiv::TPackageForm::Own);
        file->Close();
        auto unpack = kiv::MakeRef<kiv::TKivUnpack>(big);
        if (!unpack->FindEntry("stored.bin", stored) || !unpack->FindEntry("deflated.bin", deflated)) std::abort();
    }
};

TFixtures& Fixtures() {
    static TFixtures fixtures;
    return fixtures;
}

void BM_DirectoryReference(benchmark::State& state) {
    const std::string& packed = Fixtures().directoryPacked;
    for (auto _ : state) {
        std::string text(4 << 20, '\0');
        z_stream zs{};
        inflateInit2(&zs, -15);
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
        zs.avail_in = static_cast<uInt>(packed.size());
        zs.next_out = reinterpret_cast<Bytef*>(text.data());
        zs.avail_out = static_cast<uInt>(text.size());
        inflate(&zs, Z_FINISH);
        inflateEnd(&zs);
        std::unordered_map<std::string, int> names;
        for (int i = 0; i < kEntryCount; ++i) {
            std::string name = EntryName(i);
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
            names.emplace(std::move(name), i);
        }
        for (int i = 0; i < kEntryCount; ++i) {
            std::string name = EntryName(i);
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
            benchmark::DoNotOptimize(names.find(name));
        }
    }
    state.SetItemsProcessed(state.iterations() * kEntryCount);
}
BENCHMARK(BM_DirectoryReference)->Unit(benchmark::kMillisecond);

void BM_OpenAndLookUp20000(benchmark::State& state) {
    const std::string& name = Fixtures().sparse;
    std::vector<std::string> names;
    for (int i = 0; i < kEntryCount; ++i) names.push_back(EntryName(i));
    for (auto _ : state) {
        auto unpack = kiv::MakeRef<kiv::TKivUnpack>(name);
        if (!unpack->IsOpen()) state.SkipWithError("package did not open");
        kiv::TPackageEntry entry;
        int found = 0;
        for (const std::string& entryName : names) found += unpack->FindEntry(entryName, entry);
        if (found != kEntryCount) state.SkipWithError("entry missing");
    }
    state.SetItemsProcessed(state.iterations() * kEntryCount);
}
BENCHMARK(BM_OpenAndLookUp20000)->Unit(benchmark::kMillisecond);

void BM_StoredPlainRead(benchmark::State& state) {
    const TFixtures& fixtures = Fixtures();
    std::vector<char> buffer(kReadBlock);
    for (auto _ : state) {
        const int fd = ::open(fixtures.big.c_str(), O_RDONLY);
        std::int64_t total = 0;
        while (total < fixtures.stored.size) {
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kReadBlock, fixtures.stored.size - total));
            const ssize_t got = ::pread(fd, buffer.data(), want, fixtures.stored.offset + total);
            if (got <= 0) break;
            total += got;
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * kBigEntry);
}
BENCHMARK(BM_StoredPlainRead)->Unit(benchmark::kMillisecond);

void ReadEntry(benchmark::State& state, const char* entryName) {
    auto unpack = kiv::MakeRef<kiv::TKivUnpack>(Fixtures().big);
    std::vector<char> buffer(kReadBlock);
    for (auto _ : state) {
        kiv::TRef<kiv::TStream> entry = unpack->OpenEntry(entryName);
        std::int64_t total = 0;
        while (const std::int32_t got = entry->Read(buffer.data(), kReadBlock)) total += got;
        if (total != kBigEntry) state.SkipWithError("short entry");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * kBigEntry);
}

void BM_StoredEntryStream(benchmark::State& state) { ReadEntry(state, "stored.bin"); }
BENCHMARK(BM_StoredEntryStream)->Unit(benchmark::kMillisecond);

void BM_DeflatedZlibReference(benchmark::State& state) {
    const TFixtures& fixtures = Fixtures();
    std::vector<char> input(kReadBlock);
    for (auto _ : state) {
        std::vector<unsigned char> output(static_cast<std::size_t>(kBigEntry));
        const int fd = ::open(fixtures.big.c_str(), O_RDONLY);
        z_stream zs{};
        inflateInit2(&zs, -15);
        zs.next_out = output.data();
        zs.avail_out = static_cast<uInt>(output.size());
        std::int64_t read = 0;
        int result = Z_OK;
        while (result == Z_OK && read < fixtures.deflated.size) {
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kReadBlock, fixtures.deflated.size - read));
            const ssize_t got = ::pread(fd, input.data(), want, fixtures.deflated.offset + read);
            if (got <= 0) break;
            read += got;
            zs.next_in = reinterpret_cast<Bytef*>(input.data());
            zs.avail_in = static_cast<uInt>(got);
            result = inflate(&zs, Z_NO_FLUSH);
        }
        if (static_cast<std::int64_t>(zs.total_out) != kBigEntry) state.SkipWithError("zlib reference short");
        inflateEnd(&zs);
        ::close(fd);
        // The consumer reads the decoded bytes, as it reads them from the entry stream.
        for (std::size_t done = 0; done < output.size(); done += kReadBlock)
            std::memcpy(input.data(), output.data() + done, std::min<std::size_t>(kReadBlock, output.size() - done));
        benchmark::DoNotOptimize(input.data());
    }
    state.SetBytesProcessed(state.iterations() * kBigEntry);
}
BENCHMARK(BM_DeflatedZlibReference)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DeflatedEntryStream(benchmark::State& state) { ReadEntry(state, "deflated.bin"); }
BENCHMARK(BM_DeflatedEntryStream)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();

// The package directory is an INI document with one section per entry. Parsing a 20 000-section
// directory and finding every section by name, against the reference of std::unordered_map
// inserts and lookups of the same names measured in the same run.
//
// Memory: one million sections parsed and every section looked up once, as the package reader
// does: package entry sections (name, position, size, mode) and bare section headers (the worst
// case, where the document's own cost per section shows most). The program counts the heap it
// holds through mallinfo2 (every chunk with its bookkeeping, small and mapped blocks alike) and
// reports "heap_per_text_byte": heap bytes the document holds per byte of its text. Target: at
// most 16 in both cases.
#include "RatioReporter.h"
#include "ini/IniFile.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kSections = 20000;

const std::vector<std::string>& Names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (int i = 0; i < kSections; ++i)
            list.push_back("Images\\Slide" + std::to_string(i) + "\\Picture_" + std::to_string(i * 7) +
                           ".JPG");
        return list;
    }();
    return names;
}

// The names as a caller asks for them: another case, so that folding really matters.
const std::vector<std::string>& LowerNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (std::string name : Names()) {
            for (char& c : name)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
            list.push_back(std::move(name));
        }
        return list;
    }();
    return names;
}

const std::string& DirectoryText() {
    static const std::string text = [] {
        std::string out;
        int offset = 0;
        for (const std::string& name : Names()) {
            out += "[" + name + "]\r\nOffset=" + std::to_string(offset) + "\r\nSize=4096\r\nType=1\r\n";
            offset += 4096;
        }
        return out;
    }();
    return text;
}

void BM_ReferenceMapInsert(benchmark::State& state) {
    Names();
    for (auto _ : state) {
        std::unordered_map<std::string, int> map;
        int i = 0;
        for (const std::string& name : Names())
            map.emplace(name, i++);
        benchmark::DoNotOptimize(map);
    }
    state.SetItemsProcessed(state.iterations() * kSections);
}
BENCHMARK(BM_ReferenceMapInsert)->Unit(benchmark::kMillisecond);

void BM_IniParseDirectory(benchmark::State& state) {
    DirectoryText();
    for (auto _ : state) {
        auto file = kiv::MakeRef<kiv::TIniFile>();
        file->LoadFromText(DirectoryText());
        benchmark::DoNotOptimize(file->SectionCount());
    }
    state.SetItemsProcessed(state.iterations() * kSections);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(DirectoryText().size()));
}
BENCHMARK(BM_IniParseDirectory)->Unit(benchmark::kMillisecond);

void BM_ReferenceMapLookup(benchmark::State& state) {
    std::unordered_map<std::string, int> map;
    int i = 0;
    for (const std::string& name : Names())
        map.emplace(name, i++);
    for (auto _ : state) {
        for (const std::string& name : Names())
            benchmark::DoNotOptimize(map.find(name));
    }
    state.SetItemsProcessed(state.iterations() * kSections);
}
BENCHMARK(BM_ReferenceMapLookup)->Unit(benchmark::kMillisecond);

void BM_IniFindEverySection(benchmark::State& state) {
    auto file = kiv::MakeRef<kiv::TIniFile>();
    file->LoadFromText(DirectoryText());
    LowerNames();
    for (auto _ : state) {
        for (const std::string& name : LowerNames())
            benchmark::DoNotOptimize(file->ReadInteger(name, "size", -1));
    }
    state.SetItemsProcessed(state.iterations() * kSections);
}
BENCHMARK(BM_IniFindEverySection)->Unit(benchmark::kMillisecond);

// Heap in use: small chunks plus mapped blocks, each with its malloc bookkeeping.
std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

constexpr int kMillion = 1000000;

struct TMemoryResult {
    double perTextByte = 0;
    double perSection = 0;
};
TMemoryResult entryMemory;
TMemoryResult bareMemory;

// Entry sections as the package writer makes them: the file name, then position, size and mode.
std::string EntrySectionsText() {
    std::string out;
    out.reserve(static_cast<std::size_t>(kMillion) * 72);
    std::int64_t offset = 0;
    for (int i = 0; i < kMillion; ++i) {
        out += "[Images\\Slide" + std::to_string(i / 8) + "\\Picture_" + std::to_string(i) + ".jpg]\r\n_ps=" +
               std::to_string(offset) + "\r\n_sz=" + std::to_string(4096 + i % 50000) + "\r\n_pm=" +
               std::to_string(i % 3) + "\r\n";
        offset += 4096 + i % 50000;
    }
    return out;
}

// The case where the document's own cost shows most: a million section headers and nothing else.
std::string BareSectionsText() {
    std::string out;
    for (int i = 0; i < kMillion; ++i) {
        out += '[';
        out += std::to_string(i);
        out += "]\r\n";
    }
    return out;
}

// Parses `text` and looks up every name once (with a key, or the section alone when `key` is
// empty), recording the heap the document holds afterwards.
void ParseAndLookUp(benchmark::State& state, const std::string& text, const std::vector<std::string>& names,
                    std::string_view key, TMemoryResult& result) {
    for (auto _ : state) {
        const std::size_t before = HeapInUse();
        auto file = kiv::MakeRef<kiv::TIniFile>();
        file->LoadFromText(text);
        std::int64_t sum = 0;
        for (const std::string& name : names)
            sum += key.empty() ? file->FindSection(name) != nullptr : file->ReadInteger(name, key, 0);
        if (sum == 0) state.SkipWithError("nothing found");
        benchmark::DoNotOptimize(sum);
        state.PauseTiming();
        const auto held = static_cast<double>(HeapInUse() - before);
        result.perTextByte = held / static_cast<double>(text.size());
        result.perSection = held / kMillion;
        state.counters["heap_per_text_byte"] = result.perTextByte;
        state.counters["heap_per_section"] = result.perSection;
        file.Reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void BM_IniMillionEntrySections(benchmark::State& state) {
    const std::string text = EntrySectionsText();
    std::vector<std::string> names;
    names.reserve(kMillion);
    for (int i = 0; i < kMillion; ++i)
        names.push_back("IMAGES\\SLIDE" + std::to_string(i / 8) + "\\PICTURE_" + std::to_string(i) + ".JPG");
    ParseAndLookUp(state, text, names, "_sz", entryMemory);
}
BENCHMARK(BM_IniMillionEntrySections)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_IniMillionBareSections(benchmark::State& state) {
    const std::string text = BareSectionsText();
    std::vector<std::string> names;
    names.reserve(kMillion);
    for (int i = 0; i < kMillion; ++i)
        names.push_back(std::to_string(i));
    ParseAndLookUp(state, text, names, {}, bareMemory);
}
BENCHMARK(BM_IniMillionBareSections)->Unit(benchmark::kMillisecond)->Iterations(2);

// The reference for the time: the same names inserted into and looked up in a hash map.
void BM_ReferenceMillionMapInsertAndLookUp(benchmark::State& state) {
    std::vector<std::string> names;
    names.reserve(kMillion);
    for (int i = 0; i < kMillion; ++i)
        names.push_back("images\\slide" + std::to_string(i / 8) + "\\picture_" + std::to_string(i) + ".jpg");
    for (auto _ : state) {
        std::unordered_map<std::string, int> map;
        int i = 0;
        for (const std::string& name : names)
            map.emplace(name, i++);
        std::int64_t sum = 0;
        for (const std::string& name : names)
            sum += map.find(name)->second;
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ReferenceMillionMapInsertAndLookUp)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char** argv) {
    return kiv::bench::RunWithSummary(argc, argv, [](const kiv::bench::TRatioReporter& reporter) {
        reporter.PrintRatio("ini_parse/map_insert", "BM_IniParseDirectory", "BM_ReferenceMapInsert");
        reporter.PrintRatio("ini_find/map_find", "BM_IniFindEverySection", "BM_ReferenceMapLookup");
        reporter.PrintRatio("ini_million_entries/map_million", "BM_IniMillionEntrySections/iterations:2",
                            "BM_ReferenceMillionMapInsertAndLookUp/iterations:2");
        reporter.PrintRatio("ini_million_bare/map_million", "BM_IniMillionBareSections/iterations:2",
                            "BM_ReferenceMillionMapInsertAndLookUp/iterations:2");
        for (const auto& [label, memory] : {std::pair{"entries", entryMemory}, std::pair{"bare", bareMemory}})
            if (memory.perTextByte > 0)
                std::printf("memory ini_million_%s = %.2f heap bytes per text byte (%.0f per section; "
                            "target at most 16)\n",
                            label, memory.perTextByte, memory.perSection);
    });
}

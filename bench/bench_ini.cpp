// The package directory is an INI document with one section per entry. Parsing a 20 000-section
// directory and finding every section by name, against the reference of std::unordered_map
// inserts and lookups of the same names measured in the same run.
#include "ini/IniFile.h"

#include <benchmark/benchmark.h>

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

} // namespace

BENCHMARK_MAIN();

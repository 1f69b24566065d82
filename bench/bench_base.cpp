// Name folding and event dispatch, the two base costs every lookup and notification pays.
// References: ASCII lower-casing of the same names, and a plain std::function call.
#include "base/CaseFold.h"
#include "framework/EventList.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <string>
#include <vector>

namespace {

std::vector<std::string> SectionNames() {
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) names.push_back("Images\\Slide" + std::to_string(i) + "\\Picture_" + std::to_string(i * 7) + ".JPG");
    return names;
}

void BM_AsciiLowerReference(benchmark::State& state) {
    const auto names = SectionNames();
    for (auto _ : state) {
        for (const std::string& name : names) {
            std::string lower = name;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            benchmark::DoNotOptimize(lower);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
}
BENCHMARK(BM_AsciiLowerReference);

void BM_FoldUtf8(benchmark::State& state) {
    const auto names = SectionNames();
    for (auto _ : state)
        for (const std::string& name : names) benchmark::DoNotOptimize(kiv::FoldUtf8(name));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
}
BENCHMARK(BM_FoldUtf8);

void BM_FoldedHash(benchmark::State& state) {
    const auto names = SectionNames();
    for (auto _ : state)
        for (const std::string& name : names) benchmark::DoNotOptimize(kiv::FoldedHash(name));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
}
BENCHMARK(BM_FoldedHash);

struct TCounter {
    int calls = 0;
    void OnEvent(kiv::TRefObject*, int, kiv::TRefObject*) { ++calls; }
};

void BM_FunctionCallReference(benchmark::State& state) {
    TCounter counter;
    std::function<void()> call = [&] { counter.OnEvent(nullptr, 7, nullptr); };
    for (auto _ : state) call();
    benchmark::DoNotOptimize(counter.calls);
}
BENCHMARK(BM_FunctionCallReference);

void BM_EventFire(benchmark::State& state) {
    auto* events = new kiv::TEventList(kiv::TEventList::kApplicationBuckets);
    TCounter counter;
    events->Subscribe(7, kiv::MakeEventHandler<&TCounter::OnEvent>(&counter));
    for (auto _ : state) events->Fire(nullptr, 7, nullptr);
    benchmark::DoNotOptimize(counter.calls);
    events->Release();
}
BENCHMARK(BM_EventFire);

} // namespace

BENCHMARK_MAIN();

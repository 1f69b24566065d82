// The slide lookup by time that every frame and every navigation pays, and the cost of opening a
// show project. References: a forward walk over the records (the lookup as the timeline defines it)
// and parsing the same project text.
#include "ini/IniFile.h"
#include "project/KivSource.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int kSlides = 1000;

std::string ProjectText() {
    std::string text = "[Main]\nobject TheEffect:AnEffect\n  time=1500\n  object push:push\n    stdidx=9\n"
                       "    checked=1\n    direction=1111\n  end\nend\n[Times]\nopt_slidescount=" +
                       std::to_string(kSlides) + "\n";
    for (int k = 1; k <= kSlides; ++k)
        text += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(k * 4000) + "\n";
    for (int k = 1; k <= kSlides; ++k)
        text += "[Slide" + std::to_string(k) + "]\nPicture=C:\\img\\p" + std::to_string(k) +
                ".jpg\nobject TheEffect:AnEffect\n  ref=default\nend\n";
    return text;
}

kiv::TRef<kiv::TKivSource> Source() {
    kiv::TKivSourceSetup setup;
    setup.document = kiv::MakeRef<kiv::TIniFile>();
    setup.document->LoadFromText(ProjectText());
    setup.random = kiv::MakeRef<kiv::TTransitionRandom>(1);
    return kiv::MakeRef<kiv::TKivSource>(std::move(setup));
}

// Times spread over the first two passes of the show.
constexpr double TimeAt(int step) {
    return (step * 7919 % (2 * kSlides * 4000)) + 0.5;
}

void BM_WalkToSlideReference(benchmark::State& state) {
    const auto source = Source();
    int step = 0;
    for (auto _ : state) {
        const double time = TimeAt(++step);
        kiv::TSlideInfo info;
        std::int32_t index = -1;
        for (;; ++index) {
            source->GetSlideTimes(index, info);
            if (info.start <= time && time <= info.sync) break;
        }
        benchmark::DoNotOptimize(index);
    }
}
BENCHMARK(BM_WalkToSlideReference);

void BM_FindSlideAt(benchmark::State& state) {
    const auto source = Source();
    int step = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(source->FindSlideAt(TimeAt(++step)));
}
BENCHMARK(BM_FindSlideAt);

void BM_ParseProjectReference(benchmark::State& state) {
    const std::string text = ProjectText();
    for (auto _ : state) {
        auto document = kiv::MakeRef<kiv::TIniFile>();
        document->LoadFromText(text);
        benchmark::DoNotOptimize(document.Get());
    }
}
BENCHMARK(BM_ParseProjectReference);

void BM_ParseAndOpenProject(benchmark::State& state) {
    const std::string text = ProjectText();
    for (auto _ : state) {
        kiv::TKivSourceSetup setup;
        setup.document = kiv::MakeRef<kiv::TIniFile>();
        setup.document->LoadFromText(text);
        setup.random = kiv::MakeRef<kiv::TTransitionRandom>(1);
        auto source = kiv::MakeRef<kiv::TKivSource>(std::move(setup));
        benchmark::DoNotOptimize(source.Get());
    }
}
BENCHMARK(BM_ParseAndOpenProject);

} // namespace

BENCHMARK_MAIN();

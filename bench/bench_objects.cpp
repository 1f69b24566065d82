// Per-frame cost of a slide's object tree: 200 boxes, each with 4 keyframes that set all 15
// properties, a third of them with modifiers, advanced (keyframes evaluated, then every object laid
// out) at consecutive 60 Hz frame times. Reference, in the same run: evaluating the same keyframes
// alone. Target: advancing costs at most 1.5 × the evaluation.
#include "AnimatedObjects.h"
#include "RatioReporter.h"
#include "ini/IniFile.h"
#include "objects/KivSlide.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using kiv::bench::KeyPoint;
using kiv::bench::kFrame;
using kiv::bench::kObjects;
using kiv::bench::kSlideLength;

std::string SlideText() {
    std::string text = "[Slide]\nobject Container:Root\nGUID=root\n";
    for (int i = 0; i < kObjects; ++i) {
        text += "object O" + std::to_string(i) + ":Box\nGUID=g" + std::to_string(i) +
                "\nSize=" + std::to_string(100 + i) + "," + std::to_string(80 + i % 50) +
                "\nHideMode=" + std::to_string(i % 2) + "\n";
        for (int k = 0; k < 4; ++k)
            text += KeyPoint(i, k, i % 3 == 0);
        text += "end\n";
    }
    return text + "end\n";
}

struct TSlide {
    kiv::TRef<kiv::TIniFile> file = kiv::MakeRef<kiv::TIniFile>();
    kiv::TRef<kiv::TKivSlide> slide = kiv::MakeRef<kiv::TKivSlide>(nullptr, 0);

    TSlide() {
        file->LoadFromText(SlideText());
        kiv::TIniList* section = file->FindSection("Slide");
        if (!section) std::abort();
        kiv::TSlideInfo times;
        times.sync = kSlideLength - 1000;
        times.nextTransition = 1000;
        times.transition = 1000;
        times.end = kSlideLength;
        slide->SetTimes(times, 0);
        slide->SetSize(1920, 1080);
        slide->SetCentre({960, 540});
        kiv::TKeyframeTiming timing;
        timing.build = timing.actual = kiv::DurationsOf(times);
        slide->Build(kiv::TKivSlide::RootObject(*section), timing);
        if (slide->ChildCount() != kObjects) std::abort();
    }
};

double FrameTime(int frame) {
    return (frame % 660) * kFrame; // past the slide's end, then back to its start
}

void BM_AdvanceSlide(benchmark::State& state) {
    TSlide slide;
    int frame = 0;
    for (auto _ : state) {
        slide.slide->Advance(true, FrameTime(frame++));
        benchmark::DoNotOptimize(slide.slide->Child(kObjects - 1)->Placement().origin.x);
    }
}
BENCHMARK(BM_AdvanceSlide)->Unit(benchmark::kMicrosecond);

// The time step alone (keyframes and visibility of every object), to tell the two steps apart.
void BM_UpdateTimeOnly(benchmark::State& state) {
    TSlide slide;
    int frame = 0;
    for (auto _ : state) {
        slide.slide->UpdateTime(true, FrameTime(frame++));
        benchmark::DoNotOptimize(slide.slide->Child(kObjects - 1)->VisibleNow());
    }
}
BENCHMARK(BM_UpdateTimeOnly)->Unit(benchmark::kMicrosecond);

void BM_EvaluateKeyframesOnly(benchmark::State& state) {
    TSlide slide;
    int frame = 0;
    for (auto _ : state) {
        slide.slide->Node()->Evaluate(FrameTime(frame++), true);
        benchmark::DoNotOptimize(slide.slide->Node()->Child(kObjects - 1)->Value(kiv::kPropFrameY));
    }
}
BENCHMARK(BM_EvaluateKeyframesOnly)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return kiv::bench::RunWithSummary(argc, argv, [](const kiv::bench::TRatioReporter& report) {
        const std::optional<double> frame = report.Seconds("BM_AdvanceSlide");
        if (frame) std::printf("objects: %.1f us per frame of %d objects\n", *frame * 1e6, kObjects);
        report.PrintRatio("advance and layout / keyframes alone (target <= 1.5)", "BM_AdvanceSlide",
                          "BM_EvaluateKeyframesOnly");
    });
}

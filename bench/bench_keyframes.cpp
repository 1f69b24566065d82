// Per-frame keyframe evaluation of a whole slide: 200 objects, each with 4 keyframes that set all
// 15 properties, a third of them with modifiers (one easing on the Pos fraction, one value formula),
// evaluated at consecutive frame times (60 Hz over a 10 s slide, then around again). Target: under
// 100 µs per frame. Reference, in the same run: the same number of plain linear interpolations
// (200 × 15 lerps between two stored values), the floor any evaluation has to pay.
#include "AnimatedObjects.h"
#include "RatioReporter.h"
#include "ini/IniFile.h"
#include "objects/ObjectProps.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using kiv::bench::KeyPoint;
using kiv::bench::kFrame;
using kiv::bench::kObjects;
using kiv::bench::kSlideLength;

std::string SlideText() {
    std::string text = "object Container:Root\nGUID=root\n";
    for (int i = 0; i < kObjects; ++i) {
        text += "object O" + std::to_string(i) + ":Image\nGUID=g" + std::to_string(i) + "\n";
        for (int k = 0; k < 4; ++k)
            text += KeyPoint(i, k, i % 3 == 0);
        text += "end\n";
    }
    return text + "end\n";
}

struct TSlide {
    kiv::TRef<kiv::TIniFile> file = kiv::MakeRef<kiv::TIniFile>();
    kiv::TRef<kiv::TKivObjectProps> root = kiv::MakeRef<kiv::TKivObjectProps>();

    TSlide() {
        file->LoadFromText(SlideText());
        kiv::TIniObject* object = file->FirstObject();
        if (!object) std::abort();
        root->Build(*object, kiv::MakeDurations(kSlideLength, 1000, 1000));
        if (root->ChildCount() != kObjects) std::abort();
    }
};

void BM_SlideFrame(benchmark::State& state) {
    TSlide slide;
    int frame = 0;
    for (auto _ : state) {
        const double t = (frame % 660) * kFrame; // past the slide's end, then back to its start
        ++frame;
        slide.root->Evaluate(t, true);
        benchmark::DoNotOptimize(slide.root->Child(kObjects - 1)->Value(kiv::kPropFrameY));
    }
    // Seconds per object and frame.
    state.counters["per_object"] = benchmark::Counter(
        kObjects, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SlideFrame)->Unit(benchmark::kMicrosecond);

void BM_PlainLerpReference(benchmark::State& state) {
    std::vector<std::array<float, 15>> a(kObjects), b(kObjects), out(kObjects);
    for (int i = 0; i < kObjects; ++i)
        for (int p = 0; p < 15; ++p) {
            a[static_cast<std::size_t>(i)][static_cast<std::size_t>(p)] = static_cast<float>(i + p);
            b[static_cast<std::size_t>(i)][static_cast<std::size_t>(p)] = static_cast<float>(i * 2 - p);
        }
    int frame = 0;
    for (auto _ : state) {
        const double f = (frame % 180) / 180.0;
        ++frame;
        benchmark::DoNotOptimize(f);
        for (int i = 0; i < kObjects; ++i)
            for (int p = 0; p < 15; ++p) {
                const double x = a[static_cast<std::size_t>(i)][static_cast<std::size_t>(p)];
                const double y = b[static_cast<std::size_t>(i)][static_cast<std::size_t>(p)];
                out[static_cast<std::size_t>(i)][static_cast<std::size_t>(p)] =
                    static_cast<float>(x + (y - x) * f);
            }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PlainLerpReference)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    // The per-frame and per-object costs and the ratio to the reference.
    return kiv::bench::RunWithSummary(argc, argv, [](const kiv::bench::TRatioReporter& report) {
        const std::optional<double> frame = report.Seconds("BM_SlideFrame");
        if (!frame || !report.Seconds("BM_PlainLerpReference")) return;
        std::printf("keyframes: %.1f us per frame of %d objects (target < 100 us), %.0f ns per object\n",
                    *frame * 1e6, kObjects, *frame * 1e9 / kObjects);
        report.PrintRatio("slide frame / plain lerps", "BM_SlideFrame", "BM_PlainLerpReference");
    });
}

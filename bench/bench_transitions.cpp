// Each transition family's frame at 1280 × 720 at half its time against a plain cross-fade
// (dissolve) of the same two slides in the same run, through the slide drawer on a headless GL
// context (repetitions interleaved, medians of wall-clock time: Mesa rasterises on its own threads).
// Target: no family above 3 × the cross-fade, except custom transitions, whose cost is their
// effect slide's. And the first frame of a custom transition, prepared ahead as the slide loader
// prepares the slide it enters, costs at most 2 × its next frame.
#include "HeadlessGl.h"
#include "RatioReporter.h"
#include "effects/FilterFactory.h"
#include "effects/SlideEffectFilter.h"
#include "effects/TransitionFamilies.h"
#include "objects/SlideProducer.h"
#include "objects/SlideShowSupport.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace kiv;

constexpr double kDuration = 1000;
constexpr float kSmoothline = 0.05f; // the soft edge, where a family has one

// Two slides with backgrounds and a custom transition whose effect slide lays the outgoing slide's
// capture under the incoming one's, fading in.
const char* const kShow = "[Main]\nopt_scr_width=1280\nopt_scr_height=720\n"
                          "[Times]\nopt_slidescount=2\nopt_synchpos1=4000\nopt_synchpos2=8000\n"
                          "[Slide1]\nbstyle=1\nbcolor=240,128,16\n[Slide2]\nbstyle=1\nbcolor=32,64,192\n"
                          "[effect_x]\nCustomEffTime=2000\nopt_scr_width=1280\nopt_scr_height=720\n"
                          "object Container:Root\nGUID=r\n"
                          "object Under:Image\nGUID=u\nReplaceWithEffectBuffer=1\nend\n"
                          "object Over:Image\nGUID=o\nReplaceWithEffectBuffer=2\n"
                          "object A:KeyPoint\nOrigin=SlideBegin\nTime=0\nOpacity=0\nend\n"
                          "object B:KeyPoint\nOrigin=SlideBegin\nTime=1000\nOpacity=100\nend\nend\nend\n";

struct TSetup {
    bench::THeadlessGl headless; // 1280 × 720
    TRef<TKivSource> source;
    std::unique_ptr<TSlideProducer> producer;
    TRef<TKivSlide> first, second;
    std::vector<std::pair<std::string, TRef<TKivEffect>>> families;

    TSetup() {
        InstallTransitionFilters();
        TKivSourceSetup setup;
        setup.document = test::ParseIni(kShow);
        setup.fileAccessor = MakeRef<TFileAccessor>(MakeRef<test::TNoFiles>());
        setup.programFileName = "kivviewer";
        setup.random = MakeRef<TTransitionRandom>(1);
        source = MakeRef<TKivSource>(std::move(setup));
        producer = std::make_unique<TSlideProducer>(*source);
        producer->SetScreen(bench::kFrameWidth, bench::kFrameHeight, kShowFitInside);
        first = producer->BuildSlide(0, 0);
        second = producer->BuildSlide(1, 0);
        TIniSection* section = source->Document().FindSection("effect_x");
        if (!first || !second || !section) std::abort();
        first->Advance(true, 3500);
        second->Advance(true, 3500);
        families = test::EveryFamily();
        families.emplace_back("custom", BuildCustomEffect(TRef<TIniSection>::Share(section)));
    }

    // One frame of the transition at half its time.
    void Frame(TKivFilter& holder) {
        holder.progress = kDuration / 2;
        bench::TFnItem root(
            [&](TDeviceDrawer&) {
                headless.drawer->Clear(0xFF000000u, false);
                headless.drawer->DrawTransition(*first, *second, &holder);
            },
            0);
        headless.drawer->Draw(root);
        headless.ReadOnePixel();
    }
};

TSetup& Setup() {
    static TSetup* setup = new TSetup; // lives for the whole program
    return *setup;
}

void BM_Transition(benchmark::State& state, std::size_t family) {
    TSetup& s = Setup();
    auto holder = MakeRef<TKivFilter>(s.families[family].second, kDuration, kSmoothline);
    s.Frame(*holder); // the renderer and the filter are made on the first frame
    if (!s.headless.drawer->IsReady()) {
        state.SkipWithError("no renderer");
        return;
    }
    for (auto _ : state)
        s.Frame(*holder);
}

// A custom transition's first frame (first) or second frame (second), each with a new filter made
// ahead as the loader makes it; preparing and the frames before are outside the time.
void BM_CustomFrame(benchmark::State& state, bool first) {
    TSetup& s = Setup();
    const TRef<TKivEffect>& custom = s.families.back().second;
    s.Frame(*MakeRef<TKivFilter>(custom, kDuration, kSmoothline)); // the renderer is made
    if (!s.headless.drawer->IsReady()) {
        state.SkipWithError("no renderer");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto holder = MakeRef<TKivFilter>(custom, kDuration, kSmoothline);
        s.headless.drawer->PrepareTransition(*holder, *s.second);
        if (!first) s.Frame(*holder);
        state.ResumeTiming();
        s.Frame(*holder);
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace kiv::bench;
    TSetup& s = Setup();
    for (std::size_t i = 0; i < s.families.size(); ++i)
        benchmark::RegisterBenchmark(("BM_Transition_" + s.families[i].first).c_str(), BM_Transition, i)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(0.3);
    benchmark::RegisterBenchmark("BM_CustomFirstFrame", BM_CustomFrame, true)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(0.3);
    benchmark::RegisterBenchmark("BM_CustomNextFrame", BM_CustomFrame, false)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(0.3);
    return RunWithSummary(
        argc, argv,
        [&s](const TRatioReporter& report) {
            report.PrintRatio("custom first frame/next frame", "BM_CustomFirstFrame", "BM_CustomNextFrame", 2.0);
            for (const auto& [name, effect] : s.families) {
                if (name == "dissolve") continue;
                const std::string label = name + "/cross-fade";
                if (name == "custom")
                    report.PrintRatio(label.c_str(), "BM_Transition_" + name, "BM_Transition_dissolve");
                else
                    report.PrintRatio(label.c_str(), "BM_Transition_" + name, "BM_Transition_dissolve", 3.0);
            }
        },
        TRatioClock::kWallMedian,
        {"--benchmark_repetitions=5", "--benchmark_enable_random_interleaving=true"});
}

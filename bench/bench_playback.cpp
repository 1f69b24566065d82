// Playback figures of the engine, each against a reference measured in the same run:
//
// - First frame: a 20-slide show of 24-megapixel JPEG pictures (one generated file under 20 names)
//   played headless at 1280 × 720, from opening the show to the first frame drawn and read back,
//   against decoding alone, with libjpeg-turbo, the pictures that first frame waited for at the
//   levels the engine asked for them (scale 1 / 2^level). Goal: at most 1.5 ×.
// - Headless playback: frames of the demo show at 1280 × 720 through the -render driver (the
//   engine stepped by its virtual clock, each frame read back), without and with writing the PNG
//   file. scripts/measure-playback.sh sets these against bench_render's bare GL loop at the same
//   size.
//
// Wall-clock time throughout: Mesa rasterises and the loader decodes on threads of their own.
#include "BareJpeg.h"
#include "PictureMaker.h"
#include "RatioReporter.h"
#include "engine/HeadlessRender.h"
#include "engine/RootItem.h"
#include "images/PngWriter.h"
#include "ini/IniFile.h"
#include "objects/DrawContainer.h"
#include "objects/KivImage.h"
#include "objects/KivSlide.h"
#include "package/FileAccessor.h"
#include "package/RealFileSource.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kiv;

constexpr int kSlides = 20;
constexpr int kWidth = 1280;
constexpr int kHeight = 720;

const std::filesystem::path& ShowFolder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kiv_bench_playback_show";
        std::filesystem::create_directories(dir);
        const std::filesystem::path first = dir / "pic01.jpg";
        if (!std::filesystem::exists(first)) {
            const test::TBytes jpeg = test::EncodeJpeg(*test::MakeGradient(6000, 4000, false, true), 90);
            std::ofstream(first, std::ios::binary)
                .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
        }
        for (int k = 2; k <= kSlides; ++k) {
            char name[16];
            std::snprintf(name, sizeof name, "pic%02d.jpg", k);
            if (!std::filesystem::exists(dir / name)) std::filesystem::copy_file(first, dir / name);
        }
        return dir;
    }();
    return folder;
}

// Slides of 3 s with a 500 ms dissolve (the first one shown at once); each shows its picture
// covering the screen.
std::string ShowText() {
    std::string text =
        "[Main]\nopt_scr_width=1280\nopt_scr_height=720\nopt_scr_full=0\nopt_repeat=stop\n"
        "opt_pausewheninactive=0\nopt_scr_hidercolor=0\n"
        "object TheEffect:AnEffect\n  time=500\n  object dissolve:dissolve\n    caption=dissolve\n"
        "    stdidx=2\n    checked=1\n  end\nend\n[Times]\nopt_slidescount=20\n";
    for (int k = 1; k <= kSlides; ++k)
        text += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(k * 3000) + "\n";
    for (int k = 1; k <= kSlides; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "pic%02d.jpg", k);
        text +=
            "[Slide" + std::to_string(k) +
            "]\nbstyle=1\nbcolor=0\nPers_EndAction=timer\n"
            "object TheEffect:AnEffect\n  ref=dissolve\n  time=" +
            (k == 1 ? "0" : "500") +
            "\nend\n"
            "object Container:Root\n  GUID=root" +
            std::to_string(k) +
            "\n  object Photo:Image\n"
            "    GUID=photo" +
            std::to_string(k) + "\n    ImageName=" + name +
            "\n    FitMode=Cover\n"
            "    object Begin:KeyPoint\n      Origin=SlideBegin\n      Time=0\n      Opacity=100\n"
            "      Position=0,0\n      ScaleX=100\n      ScaleY=100\n      Zoom=100\n    end\n  end\nend\n";
    }
    return text;
}

TRef<TIniFile> ShowDocument() {
    auto ini = MakeRef<TIniFile>();
    ini->LoadFromText(ShowText());
    return ini;
}

// From 40 ms on: at 0 ms no slide has started yet, so the frame there waits for no picture.
THeadlessOptions Options() {
    THeadlessOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.fps = 25;
    options.fromMs = 40;
    return options;
}

void CollectLevels(const TKivObject& object, std::vector<int>& levels) {
    if (const auto* image = dynamic_cast<const TKivImage*>(&object))
        if (image->Picture()) levels.push_back(image->Level());
    for (int i = 0; i < object.ChildCount(); ++i)
        CollectLevels(*object.Child(i), levels);
}

// The levels of the pictures in the slides the first frame drew (the root item's layers; the
// loader's other slides are not drawn yet, and their pictures are decoded when they are).
std::vector<int> LevelsAtFirstFrame(TKivEngine& engine) {
    std::vector<int> levels;
    const TRootItem& root = engine.Root();
    for (int i = 0; i < root.LayerCount(); ++i)
        if (const auto* slide = dynamic_cast<const TKivSlide*>(root.Layer(i))) CollectLevels(*slide, levels);
    return levels;
}

std::vector<int>& FirstFrameLevels() {
    static std::vector<int> levels;
    return levels;
}

void BM_FirstFrame(benchmark::State& state) {
    const std::string folder = ShowFolder().string();
    double openMs = 0, frameMs = 0;
    for (auto _ : state) {
        // A new accessor each time: nothing decoded is kept between runs.
        const auto start = std::chrono::steady_clock::now();
        auto files = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(folder));
        auto player = std::make_unique<THeadlessPlayer>(files, ShowDocument(), Options());
        const auto opened = std::chrono::steady_clock::now();
        TRef<TBitmap> frame = player->RenderFrame(0);
        const auto drawn = std::chrono::steady_clock::now();
        state.PauseTiming();
        openMs += std::chrono::duration<double, std::milli>(opened - start).count();
        frameMs += std::chrono::duration<double, std::milli>(drawn - opened).count();
        if (!frame) {
            state.SkipWithError("no first frame");
            break;
        }
        FirstFrameLevels() = LevelsAtFirstFrame(player->Engine());
        if (const char* keep = std::getenv("KIV_BENCH_FIRST_FRAME_PNG")) WritePngFile(*frame, keep);
        player.reset();
        state.ResumeTiming();
    }
    state.counters["pictures"] = static_cast<double>(FirstFrameLevels().size());
    // Where the time goes: opening (GL device, shaders, the show, the slides built by the loader)
    // and the first frame itself (its pictures decoded and uploaded, the drawing, the read-back).
    const double n = std::max<double>(1, static_cast<double>(state.iterations()));
    state.counters["open_ms"] = openMs / n;
    state.counters["frame_ms"] = frameMs / n;
}

// Decoding alone: the first frame's pictures at the levels the engine asked for.
void BM_FirstFrame_ReferenceDecode(benchmark::State& state) {
    if (FirstFrameLevels().empty()) {
        // Run alone: learn the levels from one first frame.
        auto files = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(ShowFolder().string()));
        THeadlessPlayer player(files, ShowDocument(), Options());
        if (player.RenderFrame(0)) FirstFrameLevels() = LevelsAtFirstFrame(player.Engine());
    }
    if (FirstFrameLevels().empty()) {
        state.SkipWithError("the first frame showed no picture");
        return;
    }
    std::ifstream in(ShowFolder() / "pic01.jpg", std::ios::binary);
    const test::TBytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto _ : state)
        for (const int level : FirstFrameLevels())
            bench::BareJpegDecode(file, 1u << std::min(level, 3));
    std::string levels;
    for (const int level : FirstFrameLevels()) {
        if (!levels.empty()) levels += ',';
        levels += std::to_string(level);
    }
    state.SetLabel("levels " + levels);
}

BENCHMARK(BM_FirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(3);
BENCHMARK(BM_FirstFrame_ReferenceDecode)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(3);

#ifdef KIV_DEMO_DIR
// Frames of the demo through the headless driver, from 2 s on (the first slides are built).
void RenderDemo(benchmark::State& state, bool writePng) {
    auto files = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(KIV_DEMO_DIR));
    auto ini = MakeRef<TIniFile>();
    if (!ini->LoadFromFile(std::string(KIV_DEMO_DIR) + "/Project.kiv")) {
        state.SkipWithError("no demo project");
        return;
    }
    THeadlessOptions options = Options();
    options.fromMs = 2000;
    THeadlessPlayer player(files, ini, options);
    const int total = player.FrameCount();
    const std::filesystem::path png = std::filesystem::temp_directory_path() / "kiv_bench_frame.png";
    int k = 0;
    for (auto _ : state) {
        if (k >= total) {
            state.SkipWithError("the demo ended");
            break;
        }
        TRef<TBitmap> frame = player.RenderFrame(k++);
        if (!frame) {
            state.SkipWithError("a frame was not drawn");
            break;
        }
        if (writePng && !WritePngFile(*frame, png.string())) {
            state.SkipWithError("the PNG was not written");
            break;
        }
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    std::filesystem::remove(png);
}

void BM_RenderDemo_Frames(benchmark::State& state) {
    RenderDemo(state, false);
}
void BM_RenderDemo_FramesAndPng(benchmark::State& state) {
    RenderDemo(state, true);
}
BENCHMARK(BM_RenderDemo_Frames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);
BENCHMARK(BM_RenderDemo_FramesAndPng)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(100);
#endif

} // namespace

int main(int argc, char** argv) {
    using namespace kiv::bench;
    return RunWithSummary(
        argc, argv,
        [](const TRatioReporter& report) {
            const auto first = report.Seconds("BM_FirstFrame");
            const auto decode = report.Seconds("BM_FirstFrame_ReferenceDecode");
            if (first && decode)
                std::printf(
                    "first frame %.0f ms, decoding its %zu pictures alone %.0f ms: ratio %.2f (goal <= 1.5)\n",
                    *first * 1000, FirstFrameLevels().size(), *decode * 1000, *first / *decode);
            if (const auto frames = report.Seconds("BM_RenderDemo_Frames"))
                std::printf("headless playback 1280x720: %.1f frames/s (%.1f ms a frame)\n", 1 / *frames,
                            *frames * 1000);
            if (const auto png = report.Seconds("BM_RenderDemo_FramesAndPng"))
                std::printf("with PNG writing: %.1f frames/s (%.1f ms a frame)\n", 1 / *png, *png * 1000);
        },
        TRatioClock::kWallMedian);
}

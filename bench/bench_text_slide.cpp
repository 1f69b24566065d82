// A 1280 × 720 slide of 20 lines of text after its first frame, drawn through the slide drawer on a
// headless GL context, against the same slide with the text as prepared pictures: image objects
// showing the very pixels the text objects rasterised, at the same places and sizes. Each frame
// advances the slide's time (so the texts' per-frame work counts), draws it and reads one pixel
// back. Repetitions are interleaved and compared by their median wall-clock time (Mesa rasterises
// on its own threads). Target ≤ 1.3.
#include "HeadlessGl.h"
#include "RatioReporter.h"
#include "RecordingDrawer.h"
#include "objects/KivText.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace kiv;
using namespace kiv::bench;

constexpr int kLines = 20;
constexpr double kLineScale = 4.0; // each line 4 % of the slide's height: 28.8 pixels

std::string LineText(int i) {
    static const char* const kWords[] = {"quiet", "harbour", "lights", "over",   "the",   "morning", "tide",
                                         "seven", "boats",   "drift",  "past",   "grey",  "stone",   "walls",
                                         "while", "gulls",   "circle", "slowly", "above", "them"};
    std::string line = std::to_string(i + 1) + ".";
    for (int w = 0; line.size() < 44; ++w)
        line += std::string(" ") + kWords[(i * 7 + w * 3) % 20];
    return line;
}

std::string Position(int i) {
    return "Position=0," + std::to_string(-95.0 + 10.0 * i) + "\n"; // the centres, one under the other
}

std::string TextSlide() {
    std::string text = "[Slide]\nobject Container:Root\nGUID=root\n";
    for (int i = 0; i < kLines; ++i)
        text += "object T" + std::to_string(i) + ":Text\nGUID=t" + std::to_string(i) +
                "\nText=" + LineText(i) + "\nFontName=Arial\nobject k:KeyPoint\nTime=0\n" + Position(i) +
                "ScaleX=" + std::to_string(kLineScale) + "\nScaleY=" + std::to_string(kLineScale) +
                "\nend\nend\n";
    return text + "end\n";
}

// Image objects showing the pictures at their own size, scaled as the texts are: a text's height on
// screen is its Scale.Y percent of the slide's, margin included.
std::string PictureSlide(const std::vector<int>& heights) {
    std::string text = "[Slide]\nobject Container:Root\nGUID=root\n";
    for (int i = 0; i < kLines; ++i) {
        const std::string scale = std::to_string(kLineScale * kFrameHeight / heights[i]);
        text += "object I" + std::to_string(i) + ":Image\nGUID=i" + std::to_string(i) + "\nImageName=line" +
                std::to_string(i) + ".png\nFitMode=None\nAntialiased=0\nobject k:KeyPoint\nTime=0\n" +
                Position(i) + "ScaleX=" + scale + "\nScaleY=" + scale + "\nend\nend\n";
    }
    return text + "end\n";
}

// The texts of `object` and its descendants, in tree order.
void CollectTexts(TKivObject& object, std::vector<const TKivText*>& texts) {
    if (const auto* text = dynamic_cast<const TKivText*>(&object)) texts.push_back(text);
    for (int i = 0; i < object.ChildCount(); ++i)
        CollectTexts(*object.Child(i), texts);
}

// The DrawImage calls of one frame of `slide`, recorded.
std::vector<test::TDrawCall> Recorded(TKivSlide& slide) {
    test::TRecordingDrawer recorder;
    recorder.Draw(slide);
    std::vector<test::TDrawCall> calls;
    for (const test::TDrawCall& call : recorder.calls)
        if (call.op == "DrawImage") calls.push_back(call);
    return calls;
}

struct TSetup {
    TPictureHost host;
    TRef<TIniFile> textFile = MakeRef<TIniFile>();
    TRef<TIniFile> pictureFile = MakeRef<TIniFile>();
    TRef<TKivSlide> texts;
    TRef<TKivSlide> pictures;
    double time = 0.0;

    TSetup() {
        THeadlessGl& gl = HeadlessGl();
        texts = BuildBenchSlide(host, *textFile, TextSlide());
        gl.DrawFrame(*texts); // the first frame rasterises the lines
        // The same pixels as pictures of their own.
        std::vector<const TKivText*> lines;
        CollectTexts(*texts, lines);
        if (lines.size() != kLines) {
            std::fprintf(stderr, "the slide holds %zu texts\n", lines.size());
            std::abort();
        }
        std::vector<int> heights;
        for (int i = 0; i < kLines; ++i) {
            TImage* picture = lines[i]->Picture();
            if (!picture) {
                std::fprintf(stderr, "text %d has no picture\n", i);
                std::abort();
            }
            heights.push_back(picture->Height());
            const std::string name = "line" + std::to_string(i) + ".png";
            host.pictures[name] = MakeRef<TImage>(
                MakeRef<TWrapperBitmapStore>(name, picture->Store().GetMipLevel(0, TPixelFormat::Bgra32)));
        }
        pictures = BuildBenchSlide(host, *pictureFile, PictureSlide(heights));
        gl.DrawFrame(*pictures);
        CheckSamePlaces();
    }

    // Both slides must draw 20 pictures of the same size at the same places (within a pixel),
    // else the comparison would not be fair.
    void CheckSamePlaces() {
        const std::vector<test::TDrawCall> a = Recorded(*texts), b = Recorded(*pictures);
        if (a.size() != kLines || b.size() != kLines) {
            std::fprintf(stderr, "the slides drew %zu and %zu pictures\n", a.size(), b.size());
            std::abort();
        }
        double worst = 0.0;
        for (int i = 0; i < kLines; ++i) {
            const TRectF s = a[i].picture.sourceRect, t = b[i].picture.sourceRect;
            for (const auto& [x, y] : {std::pair{0, 0}, std::pair{1, 1}}) {
                const TVec3 p = a[i].Map(x ? s.right : s.left, y ? s.bottom : s.top);
                const TVec3 q = b[i].Map(x ? t.right : t.left, y ? t.bottom : t.top);
                worst = std::max({worst, std::fabs(p.x - q.x), std::fabs(p.y - q.y)});
            }
        }
        std::printf("20 lines: largest corner distance between a text and its picture %.3f px\n", worst);
        if (worst > 1.0) {
            for (int i = 0; i < kLines; ++i) {
                const TVec3 p = a[i].Map(0, 0), q = b[i].Map(0, 0);
                std::fprintf(stderr, "%d: text at %.1f,%.1f, picture at %.1f,%.1f\n", i, p.x, p.y, q.x, q.y);
            }
            std::abort();
        }
    }

    void Frame(TKivSlide& slide) {
        time = std::fmod(time + 16.0, 9000.0);
        slide.Advance(true, time);
        HeadlessGl().DrawFrame(slide);
    }
};

TSetup& Setup() {
    static TSetup* setup = new TSetup; // lives for the whole program
    return *setup;
}

void BM_Slide20Lines_Texts(benchmark::State& state) {
    TSetup& s = Setup();
    for (auto _ : state)
        s.Frame(*s.texts);
}

void BM_Slide20Lines_Pictures(benchmark::State& state) {
    TSetup& s = Setup();
    for (auto _ : state)
        s.Frame(*s.pictures);
}

BENCHMARK(BM_Slide20Lines_Texts)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
BENCHMARK(BM_Slide20Lines_Pictures)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

} // namespace

int main(int argc, char** argv) {
    return RunWithSummary(argc, argv,
                          [](const TRatioReporter& report) {
                              report.PrintRatio("slide of 20 lines of text, text objects/prepared pictures",
                                                "BM_Slide20Lines_Texts", "BM_Slide20Lines_Pictures", 1.3);
                          },
                          TRatioClock::kWallMedian,
                          {"--benchmark_repetitions=5", "--benchmark_enable_random_interleaving=true"});
}

// The slide loader's memory over a long show: a show of N slides, each a full-screen picture with a
// slow zoom, all of them one generated JPEG under N names (so every slide decodes its own copy),
// played through twice by seeking slide by slide with the loader run until idle at each step, as
// headless playback does. Prints the peak resident memory after each pass and the growth of the
// second pass over the first. Run by scripts/slide-memory.sh; not a test.
//
//   slide_memory [--slides N] [--passes P] [--picture WxH] [--screen WxH] [--dir FOLDER]
#include "PassThroughDrawer.h"
#include "PictureMaker.h"

#include "base/Clock.h"
#include "engine/SlideLoader.h"
#include "images/PictureCache.h"
#include "ini/IniFile.h"
#include "package/FileAccessor.h"
#include "package/RealFileSource.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace kiv;

// Every picture name of the show opens the one generated file.
class TOnePictureSource final : public TRealFileSource {
public:
    explicit TOnePictureSource(std::string path) : path_(std::move(path)) {}
    TRef<TStream> Open(const std::string&) override { return TRealFileSource::Open(path_); }

protected:
    ~TOnePictureSource() override = default;

private:
    std::string path_;
};

// A drawer without a device: a preloaded picture keeps the level its slide asked for on itself, as
// the drawer's texture would, and lets it go with the picture.
class TNullDrawer final : public test::TPassThroughDrawer {
public:
    void PreloadImage(TImage& image, const TPictureDrawParams& params) override {
        // The level the slide asked for stays with the picture, as a texture would.
        if (image.Attachments().Find<TBitmap>()) return;
        image.Attachments().Add(image.Store().GetMipLevel(params.level, TPixelFormat::Bgra32));
        ++preloads;
    }
    long preloads = 0;
};

// A /proc/self/status field in kB (VmHWM: the peak resident size, VmRSS: the current one).
long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::atol(line.c_str() + length + 1);
    return -1;
}

std::string ShowText(int slides, int screenWidth, int screenHeight) {
    std::string text = "[Main]\nopt_scr_width=" + std::to_string(screenWidth) +
                       "\nopt_scr_height=" + std::to_string(screenHeight) + "\nopt_repeat=stop\n";
    text += "[Times]\nopt_slidescount=" + std::to_string(slides) + "\n";
    for (int k = 1; k <= slides; ++k)
        text += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(k * 4000) + "\n";
    for (int k = 1; k <= slides; ++k) {
        text += "[Slide" + std::to_string(k) + "]\nobject TheEffect:AnEffect\n  ref=dissolve\n  time=1000\nend\n";
        text += "object Container:Root\n  GUID=root" + std::to_string(k) + "\n  object Photo:Image\n    GUID=photo" +
                std::to_string(k) + "\n    ImageName=img\\pic" + std::to_string(k) +
                ".jpg\n    FitMode=Cover\n"
                "    object Begin:KeyPoint\n      Origin=SlideBegin\n      Time=0\n      Zoom=100\n    end\n"
                "    object Finish:KeyPoint\n      Origin=SlideEnd\n      Time=0\n      Zoom=112\n    end\n"
                "  end\nend\n";
    }
    return text;
}

bool ParseSize(const char* text, int& width, int& height) {
    return std::sscanf(text, "%dx%d", &width, &height) == 2 && width > 0 && height > 0;
}

} // namespace

int main(int argc, char** argv) {
    int slides = 200, passes = 2;
    int pictureWidth = 6000, pictureHeight = 4000;
    int screenWidth = 1920, screenHeight = 1080;
    std::string dir = "slide-memory";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        bool ok = true;
        if (arg == "--slides") ok = (slides = std::atoi(value)) > 0;
        else if (arg == "--passes") ok = (passes = std::atoi(value)) > 0;
        else if (arg == "--picture") ok = ParseSize(value, pictureWidth, pictureHeight);
        else if (arg == "--screen") ok = ParseSize(value, screenWidth, screenHeight);
        else if (arg == "--dir") dir = value;
        else ok = false;
        if (!ok) {
            std::fprintf(stderr, "usage: slide_memory [--slides N] [--passes P] [--picture WxH] [--screen WxH] "
                                 "[--dir FOLDER]\n");
            return 2;
        }
        ++i;
    }

    // The picture: a gradient with noise, so that it compresses like a photograph.
    std::filesystem::create_directories(dir);
    const std::string picture = dir + "/picture.jpg";
    if (!std::filesystem::exists(picture)) {
        const test::TBytes jpeg = test::EncodeJpegRows(pictureWidth, pictureHeight, 90, false, [&](int y, std::uint8_t* bgra) {
            std::uint32_t seed = static_cast<std::uint32_t>(y) * 2654435761u;
            for (int x = 0; x < pictureWidth; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int noise = static_cast<int>(seed >> 28);
                bgra[4 * x + 0] = static_cast<std::uint8_t>((x * 255 / pictureWidth + noise) & 0xFF);
                bgra[4 * x + 1] = static_cast<std::uint8_t>((y * 255 / pictureHeight + noise) & 0xFF);
                bgra[4 * x + 2] = static_cast<std::uint8_t>(((x + y) * 127 / pictureWidth + noise) & 0xFF);
                bgra[4 * x + 3] = 255;
            }
        });
        std::ofstream(picture, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()),
                                                       static_cast<std::streamsize>(jpeg.size()));
    }
    const long baseKb = StatusKb("VmRSS");

    auto files = MakeRef<TOnePictureSource>(picture);
    TKivSourceSetup setup;
    setup.document = MakeRef<TIniFile>();
    setup.document->LoadFromText(ShowText(slides, screenWidth, screenHeight));
    setup.fileAccessor = MakeRef<TFileAccessor>(files);
    setup.programFileName = "slide_memory";
    setup.random = MakeRef<TTransitionRandom>(1);
    auto show = MakeRef<TKivSource>(std::move(setup));

    TNullDrawer drawer;
    auto loader = MakeRef<TKivSlideLoader>(show, 3, false, screenWidth, screenHeight);
    loader->SetupProducer(false);
    TSlideList engineList;
    loader->SetDirectDispatch([&](int, TRefObject* data) {
        engineList = static_cast<TSlideData*>(data)->List();
        return true;
    });
    loader->SetSlideBuilt([&](TDrawContainer& container) {
        if (TKivSlide* slide = container.Slide()) {
            slide->PreloadBegin(drawer);
            slide->PreloadEx(drawer, 0);
        }
    });

    std::printf("show: %d slides of one %dx%d JPEG under %d names, screen %dx%d\n", slides, pictureWidth,
                pictureHeight, slides, screenWidth, screenHeight);
    std::printf("resident before the show: %.1f MB\n", baseKb / 1024.0);
    long firstPeak = 0, lastPeak = 0;
    for (int pass = 1; pass <= passes; ++pass) {
        const std::int64_t started = ProcessMilliseconds();
        for (int k = 0; k < slides; ++k) {
            const TSlideInfo& info = show->Slides()[static_cast<std::size_t>(k)];
            const double t = (info.start + info.sync) / 2;
            loader->Timing().SetTime(t);
            loader->RunUntilIdle();
            for (int i = 0; i < engineList.count; ++i)
                AdvanceContainer(*engineList[i], t);
        }
        const long peak = StatusKb("VmHWM");
        if (pass == 1) firstPeak = peak;
        lastPeak = peak;
        std::printf("pass %d: %.1f s, peak resident %.1f MB, resident now %.1f MB, slides built %lld, "
                    "pictures held %zu\n",
                    pass, (ProcessMilliseconds() - started) / 1000.0, peak / 1024.0, StatusKb("VmRSS") / 1024.0,
                    static_cast<long long>(loader->Cache().Built()), LiveImageHandles());
        std::fflush(stdout);
    }
    const double growth = firstPeak > 0 ? 100.0 * (lastPeak - firstPeak) / firstPeak : 0.0;
    std::printf("peak resident: %.1f MB; growth of the last pass over the first: %.2f %%\n", lastPeak / 1024.0,
                growth);
    std::printf("preloads: %ld\n", drawer.preloads);
    return 0;
}

// kivtool slide SHOW INDEX TIME -o OUT.png [--size WxH] [--overlay]: one slide drawn alone at a show
// time, headlessly, into a window of WxH pixels laid out as the player lays the show into its
// window: the show rectangle fitted inside the window, the slide's background and objects in it, the
// bars around it in the hider colour. --overlay adds the overlay at that time: the logo and the
// navigation bar, shown as after a mouse move. Prints "WIDTH HEIGHT".
#include "Commands.h"
#include "Output.h"
#include "ShowInput.h"

#include "base/NumberText.h"
#include "engine/Overlay.h"
#include "framework/Application.h"
#include "images/PngWriter.h"
#include "ini/IniValues.h"
#include "objects/SlideProducer.h"
#include "render/DrawDevice.h"
#include "render/Drawer.h"
#include "render/gl/EngineGL.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace kivtool {

namespace {

constexpr const char* kUsage = "usage: kivtool slide SHOW INDEX TIME -o OUT.png [--size WxH] [--overlay]\n";
constexpr int kMaxSide = 8192;

int SlideUsage(const std::string& why = {}) {
    if (!why.empty()) std::fprintf(stderr, "kivtool: %s\n", why.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

// "WxH" with both sides from 1 to kMaxSide.
bool ParseSize(const std::string& text, int& width, int& height) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    const std::optional<std::int32_t> w = kiv::ParseInt32(text.substr(0, x));
    const std::optional<std::int32_t> h = kiv::ParseInt32(text.substr(x + 1));
    if (!w || !h || *w < 1 || *h < 1 || *w > kMaxSide || *h > kMaxSide) return false;
    width = *w;
    height = *h;
    return true;
}

// The bars around the show rectangle in the hider colour.
void FillBorder(kiv::T3DDrawer& drawer, const kiv::TShowRect& show, int width, int height, std::uint32_t hider) {
    const kiv::TRect bars[4] = {{0, 0, width, show.top},
                                {0, show.bottom, width, height},
                                {0, show.top, show.left, show.bottom},
                                {show.right, show.top, width, show.bottom}};
    for (const kiv::TRect& bar : bars)
        if (!bar.IsEmpty()) drawer.FillRect(hider, bar);
}

// The frame's root: the slide over black, then the bars around the show rectangle in the hider
// colour (drawn last, so objects reaching past the show's edges are covered as in the player).
// With an overlay, the overlay is drawn last and runs the bars itself, in its own order.
class TFrameItem final : public kiv::TDrawItem {
public:
    TFrameItem(kiv::T3DDrawer& drawer, kiv::TKivSlide& slide, kiv::TThirdSlide* overlay,
               std::function<void(kiv::TDeviceDrawer&)> border)
        : drawer_(drawer), slide_(slide), overlay_(overlay), border_(std::move(border)) {}

    void Draw(kiv::TDeviceDrawer& drawer) override {
        drawer_.Clear(0xFF000000u, true);
        drawer.Draw(slide_);
        if (overlay_)
            drawer.Draw(*overlay_);
        else
            border_(drawer);
    }

private:
    kiv::T3DDrawer& drawer_;
    kiv::TKivSlide& slide_;
    kiv::TThirdSlide* overlay_;
    std::function<void(kiv::TDeviceDrawer&)> border_;
};

// A headless engine, a draw device of the window's size and a drawer on it; torn down in order.
class THeadlessWindow {
public:
    THeadlessWindow(int width, int height) {
        app_ = new kiv::TZkApplication;
        app_->Prepare();
        engine_ = kiv::TRef<kiv::T3DEngineGL>::Adopt(new kiv::T3DEngineGL);
        engine_->SetHeadlessMonitor({0, 0, width, height}, 60);
        kiv::TRef<kiv::T3DEngine> engine = engine_;
        kiv::T3DEngine::SetFactory([engine] { return engine; });
        device_ = kiv::MakeRef<kiv::TDrawDevice>();
        device_->SetBounds({0, 0, width, height}, {0, 0}, false);
        drawer_ = kiv::MakeRef<kiv::T3DDrawer>();
        drawer_->Init(device_.Get());
        drawer_->SetCaptureSize({width, height});
    }
    ~THeadlessWindow() {
        if (drawer_) drawer_->Destroy();
        drawer_.Reset();
        device_->Destroy();
        device_.Reset();
        kiv::T3DEngine::SetFactory(nullptr);
        kiv::T3DEngine::Shutdown();
        engine_.Reset();
        if (!app_->Finalised()) app_->Finalise();
        app_->Release();
    }
    THeadlessWindow(const THeadlessWindow&) = delete;
    THeadlessWindow& operator=(const THeadlessWindow&) = delete;

    kiv::T3DDrawer& Drawer() { return *drawer_; }

private:
    kiv::TZkApplication* app_ = nullptr;
    kiv::TRef<kiv::T3DEngineGL> engine_;
    kiv::TRef<kiv::TDrawDevice> device_;
    kiv::TRef<kiv::T3DDrawer> drawer_;
};

} // namespace

int SlideCommand(const TArgs& args) {
    std::string show, output, indexText, timeText;
    int width = 1280, height = 720;
    bool withOverlay = false;
    std::size_t positional = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-o" && i + 1 < args.size()) {
            output = args[++i];
        } else if (arg == "--size" && i + 1 < args.size()) {
            if (!ParseSize(args[++i], width, height))
                return SlideUsage("bad size \"" + args[i] + "\" (WxH, 1 to " + std::to_string(kMaxSide) +
                                  " each)");
        } else if (arg == "--overlay") {
            withOverlay = true;
        } else if (positional == 0) {
            show = arg;
            ++positional;
        } else if (positional == 1) {
            indexText = arg;
            ++positional;
        } else if (positional == 2) {
            timeText = arg;
            ++positional;
        } else {
            return SlideUsage();
        }
    }
    if (positional != 3 || output.empty()) return SlideUsage();
    const std::optional<std::int32_t> number = kiv::ParseInt32(indexText);
    if (!number) return SlideUsage("bad slide number \"" + indexText + "\"");
    const std::optional<double> time = kiv::ParseIniReal(timeText);
    if (!time || !std::isfinite(*time)) return SlideUsage("bad time \"" + timeText + "\"");

    kiv::TRef<kiv::TKivSource> source;
    try {
        source = LoadShowSource(show);
    } catch (const std::exception& error) {
        return SlideUsage(error.what());
    }
    if (*number < 1 || *number > source->SlideCount())
        return SlideUsage(show + ": no slide " + indexText + " (the show has " +
                          std::to_string(source->SlideCount()) + ")");

    kiv::TSlideProducer producer(*source);
    kiv::TRef<kiv::TKivSlide> slide;
    kiv::TShowRect rect;
    try {
        producer.SetScreen(width, height, kiv::kShowFitInside);
        rect = producer.ShowRect();
        slide = producer.BuildSlide(*number - 1, 0);
    } catch (const std::exception& error) {
        return Fail(show + ": " + error.what());
    }
    if (!slide) return Fail(show + ": slide " + indexText + " cannot be built");
    slide->Advance(true, *time);

    const kiv::THiderColor hider = source->HiderColor();
    const std::uint32_t hiderArgb =
        0xFF000000u | (std::uint32_t{hider.red} << 16) | (std::uint32_t{hider.green} << 8) | hider.blue;
    kiv::TRef<kiv::TBitmap> frame;
    {
        THeadlessWindow window(width, height);
        kiv::T3DDrawer& drawer = window.Drawer();
        auto border = [&drawer, rect, width, height, hiderArgb](kiv::TDeviceDrawer&) {
            FillBorder(drawer, rect, width, height, hiderArgb);
        };
        kiv::TRef<kiv::TThirdSlide> overlay;
        if (withOverlay) {
            kiv::TOverlayInputs inputs;
            inputs.files = kiv::TRef<kiv::TFileAccessor>::Share(source->FileAccessor());
            inputs.project = &source->Document();
            inputs.slideArea = rect;
            inputs.clientWidth = width;
            inputs.clientHeight = height;
            inputs.referenceWidth = rect.Width();
            inputs.referenceHeight = rect.Height();
            inputs.volume = 100.0f;
            inputs.showDuration = source->Period();
            inputs.callbacks.isPlaying = [] { return true; };
            inputs.borderFill = border;
            inputs.producer = &producer;
            overlay = kiv::TThirdSlide::Create(std::move(inputs));
            overlay->RevealPanel();
            overlay->Update(*time);
        }
        slide->PreloadBegin(drawer);
        auto root = kiv::MakeRef<TFrameItem>(drawer, *slide, overlay.Get(), border);
        const bool drawn = drawer.Draw(*root);
        if (drawn) frame = drawer.GrabImage();
        slide->ReleaseDevice(drawer);
        if (overlay)
            for (const kiv::TOverlayImage& item : overlay->Images())
                if (item.image) drawer.ReleaseImage(*item.image);
        if (!drawn || !frame) return Fail("the slide cannot be drawn (no usable headless GL context)");
    }
    if (!kiv::WritePngFile(*frame, output)) return Fail(output + ": cannot be written");
    std::printf("%d %d\n", frame->Width(), frame->Height());
    return 0;
}

} // namespace kivtool

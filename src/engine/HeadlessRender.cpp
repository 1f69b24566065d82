#include "engine/HeadlessRender.h"

#include "base/Clock.h"
#include "base/Exception.h"
#include "base/NumberText.h"
#include "engine/DrawController.h"
#include "framework/Application.h"
#include "images/PngWriter.h"
#include "render/DrawDevice.h"
#include "render/Drawer.h"
#include "render/gl/EngineGL.h"
#include "video/VideoExtractor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>

namespace kiv {

namespace {

constexpr int kMaxSide = 8192;
// Passes of the main loop allowed for one frame before it counts as undrawable.
constexpr int kMaxPassesPerFrame = 200;

} // namespace

bool ParseFrameSize(const std::string& text, int& width, int& height) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    const std::optional<std::int32_t> w = ParseInt32(text.substr(0, x));
    const std::optional<std::int32_t> h = ParseInt32(text.substr(x + 1));
    if (!w || !h || *w < 1 || *h < 1 || *w > kMaxSide || *h > kMaxSide) return false;
    width = *w;
    height = *h;
    return true;
}

THeadlessPlayer::THeadlessPlayer(TRef<TFileAccessor> accessor, TRef<TIniFile> ini,
                                 const THeadlessOptions& options)
    : options_(options) {
    if (options_.fps <= 0 || !std::isfinite(options_.fps)) throw Exception("bad frame rate");
    if (!TApplication::Instance()) {
        ownApp_ = new TZkApplication;
        ownApp_->Prepare();
    }
    gl_ = TRef<T3DEngineGL>::Adopt(new T3DEngineGL);
    gl_->SetHeadlessMonitor({0, 0, options_.width, options_.height}, 60);
    TRef<T3DEngine> gl = gl_;
    T3DEngine::SetFactory([gl] { return gl; });
    device_ = MakeRef<TDrawDevice>();
    device_->SetBounds({0, 0, options_.width, options_.height}, {0, 0}, false);
    clock_ = MakeRef<TVirtualClock>(0.0);

    TKivEngineSetup setup;
    setup.clock = clock_;
    setup.stepped = true;
    setup.runLoaderInline = options_.runLoaderInline;
    setup.parseAction = options_.parseAction;
    setup.programFileName = options_.programFileName;
    setup.random = MakeRef<TTransitionRandom>(options_.seed);
    TRef<TVirtualClock> clock = clock_;
    setup.processClock = [clock] { return clock->NowMs(); };
    engine_ = TKivEngine::Create(device_.Get(), false, std::move(setup));
    // Rendering: no barriers and no programs started, so every frame shows its own time.
    engine_->SetActionsEnabled(options_.actionsEnabled);
    engine_->SetOverlayEnabled(options_.overlay);
    engine_->OpenShow(std::move(accessor), std::move(ini), options_.fromMs);
    engine_->Queue().Post(kEngineMode, new TModeData(false));
    const double showEnd = engine_->Show() ? engine_->Show()->Period() : 0;
    end_ = options_.toMs >= 0 ? options_.toMs : showEnd;
}

THeadlessPlayer::~THeadlessPlayer() {
    if (engine_) engine_->Stop();
    engine_.Reset();
    if (device_) device_->Destroy();
    device_.Reset();
    T3DEngine::SetFactory(nullptr);
    T3DEngine::Shutdown();
    gl_.Reset();
    if (ownApp_) {
        if (!ownApp_->Finalised()) ownApp_->Finalise();
        ownApp_->Release();
    }
}

int THeadlessPlayer::FrameCount() const {
    if (end_ <= options_.fromMs) return 0;
    // Every k with FROM + k × 1000 / FPS before the end.
    int count = static_cast<int>(std::ceil((end_ - options_.fromMs) * options_.fps / 1000.0));
    while (count > 0 && FrameTime(count - 1) >= end_)
        --count;
    while (FrameTime(count) < end_)
        ++count;
    return count;
}

double THeadlessPlayer::FrameTime(int k) const {
    return options_.fromMs + k * 1000.0 / options_.fps;
}

TRef<TBitmap> THeadlessPlayer::RenderFrame(int k) {
    if (k < lastFrame_) return nullptr;
    lastFrame_ = k;
    // The clock moves by whole frames from 0 (frame 0 is FROM), through the music player.
    const double target = k * 1000.0 / options_.fps;
    if (target > clock_->NowMs()) engine_->AdvanceClock(target - clock_->NowMs());
    auto* app = dynamic_cast<TWinApplication*>(TApplication::Instance());
    for (int pass = 0; pass < kMaxPassesPerFrame; ++pass) {
        engine_->StepOnce();
        if (app && app->IsMainThread()) app->ProcessPending();
        // A frame counts when the clock ran for it, or when a show that does not repeat has
        // reached its end (frames past it show its last moment).
        if (engine_->DrewLastPass() && (engine_->Active() || engine_->EndReported())) {
            T3DDrawer* drawer = engine_->DrawController().Drawer();
            return drawer ? drawer->GrabImage() : nullptr;
        }
    }
    return nullptr;
}

std::string RenderShowToFolder(TRef<TFileAccessor> accessor, TRef<TIniFile> ini,
                               const THeadlessOptions& options, const std::string& folder,
                               std::FILE* progress) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder)) return folder + ": cannot make the folder";
    THeadlessPlayer player(std::move(accessor), std::move(ini), options);
    const int total = player.FrameCount();
    const std::int64_t started = ProcessMilliseconds();
    const double waitedBefore = TKivVideoExtractor::WaitTotals().ms;
    for (int k = 0; k < total; ++k) {
        TRef<TBitmap> frame = player.RenderFrame(k);
        if (!frame) return "frame " + std::to_string(k + 1) + " cannot be drawn";
        char name[32];
        std::snprintf(name, sizeof name, "frame-%06d.png", k + 1);
        const std::string path = (std::filesystem::path(folder) / name).string();
        if (!WritePngFile(*frame, path)) return path + ": cannot be written";
        if (progress) {
            const double seconds = std::max<std::int64_t>(ProcessMilliseconds() - started, 1) / 1000.0;
            std::fprintf(progress, "\rframe %d / %d  %.1f fps", k + 1, total, (k + 1) / seconds);
            std::fflush(progress);
        }
    }
    if (progress) {
        // The share of the render spent waiting for video frames to be decoded.
        const double waited = TKivVideoExtractor::WaitTotals().ms - waitedBefore;
        const double spent = static_cast<double>(std::max<std::int64_t>(ProcessMilliseconds() - started, 1));
        std::fprintf(progress, "\n");
        if (waited > 0)
            std::fprintf(progress, "waiting for video frames %.2f s (%.1f %%)\n", waited / 1000.0,
                         100.0 * waited / spent);
    }
    return {};
}

} // namespace kiv

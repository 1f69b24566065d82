#include "engine/KivEngine.h"

#include "audio/KivMusicPlayer.h"
#include "base/Assert.h"
#include "base/Clock.h"
#include "base/Log.h"
#include "engine/DrawController.h"
#include "engine/FrameInterpolator.h"
#include "engine/Overlay.h"
#include "engine/RootItem.h"
#include "engine/SlideLoader.h"
#include "framework/Application.h"
#include "images/Bitmap.h"
#include "objects/DrawContainer.h"
#include "objects/SlideProducer.h"
#include "package/LoadModes.h"
#include "render/DrawDevice.h"
#include "render/Drawer.h"
#include "render/Renderer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <pthread.h>
#include <thread>
#include <typeinfo>

namespace kiv {

namespace {

constexpr int kForceReport = -2147483647;
constexpr std::int32_t kNoIndex = 2147483646;
constexpr double kNoTime = 3.4e38;
// A pass of the loop that took longer than this while the clock ran counts as a late frame.
constexpr double kLateFrameMs = 40;
// Headless stepping waits at most this long for the music player to take a request.
constexpr std::int64_t kPlayerWaitMs = 10000;

std::string Ms(double value) {
    if (!std::isfinite(value)) return value > 0 ? "inf" : "-inf";
    return std::to_string(static_cast<long long>(std::trunc(std::clamp(value, -9e15, 9e15))));
}

int TruncMs(double value) {
    return static_cast<int>(std::trunc(std::clamp(value, -2147483647.0, 2147483647.0)));
}

std::int32_t PositiveMod(std::int64_t i, std::int32_t n) {
    return static_cast<std::int32_t>(((i % n) + n) % n);
}

// The object's class name as the main thread sees it ("TKivImage").
std::string ClassNameOf(const TKivObject& object) {
    const char* raw = typeid(object).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(raw, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : raw;
    std::free(demangled);
    const std::size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

class TStopwatch {
public:
    std::int64_t Elapsed() const { return ProcessMilliseconds() - start_; }

private:
    std::int64_t start_ = ProcessMilliseconds();
};

} // namespace

// ---- TOpenParams

TRef<TOpenParams> TOpenParams::TakeOver(TOpenParams& source) {
    auto copy = MakeRef<TOpenParams>();
    copy->paused = source.paused;
    copy->requestId = source.requestId;
    copy->accessor = std::move(source.accessor);
    copy->ini = std::move(source.ini);
    copy->time = source.time;
    source.accessor.Reset();
    source.ini.Reset();
    return copy;
}

// ---- TCustomKivEngine

TCustomKivEngine::TCustomKivEngine(TApplication* application)
    : application_(application ? application : TApplication::Instance()),
      messageId_(NewPrivateMessageNumber()) {
    if (application_) {
        application_->Subscribe(messageId_, MakeEventHandler<&TCustomKivEngine::HandleNotification>(this));
        subscribed_ = true;
    }
}

TCustomKivEngine::~TCustomKivEngine() {
    Unsubscribe();
}

void TCustomKivEngine::Unsubscribe() {
    if (!subscribed_) return;
    subscribed_ = false;
    application_->Unsubscribe(messageId_, MakeEventHandler<&TCustomKivEngine::HandleNotification>(this));
}

int TCustomKivEngine::NextRequestId() {
    return ++requestCounter_;
}

void TCustomKivEngine::Notify(int code, std::vector<int> ints, bool ownsValue, TRefObject* value) {
    auto* data = new TKivEventData(code, std::move(ints), ownsValue, value);
    if (application_ && subscribed_)
        application_->Post(messageId_, data);
    else
        data->Release();
}

void TCustomKivEngine::HandleNotification(TRefObject*, int, TRefObject* data) {
    auto* event = dynamic_cast<TKivEventData*>(data);
    if (!event) return;
    switch (event->code) {
    case kNotifyFirstFrame:
        if (OnFirstFrame) OnFirstFrame(*this);
        if (OnEvent) OnEvent(*this, *event);
        break;
    case kNotifyPosition:
        // A report made for an older request is dropped.
        if (event->ints.size() >= 4 && event->ints[0] == requestCounter_.load() && OnPosition)
            OnPosition(*this, event->ints[1], event->ints[3] != 0, event->ints[2]);
        break;
    default:
        if (OnEvent) OnEvent(*this, *event);
        break;
    }
}

// ---- TKivEngine: creation and end

TRef<TKivEngine> TKivEngine::Create(TDrawDevice* device, bool ownsDevice, TKivEngineSetup setup,
                                    TApplication* application) {
    return TRef<TKivEngine>::Adopt(new TKivEngine(device, ownsDevice, std::move(setup), application));
}

TKivEngine::TKivEngine(TDrawDevice* device, bool ownsDevice, TKivEngineSetup setup, TApplication* application)
    : TCustomKivEngine(application), setup_(std::move(setup)),
      interpolator_(std::make_unique<TFrameInterpolator>()),
      controller_(std::make_unique<TKivDrawController>(device, ownsDevice)), root_(MakeRef<TRootItem>(true)) {
    if (setup_.stepped) interpolator_->SetPassThrough(true);
    if (const char* prebuild = std::getenv("KIV_PREBUILD_SLIDES"); prebuild && std::string(prebuild) == "1")
        setup_.prebuildSlides = true;
}

TKivEngine::~TKivEngine() {
    Stop();
    prebuilt_.clear();
    show_.Reset();
    root_.Reset();
    controller_.reset();
    interpolator_.reset();
}

bool TKivEngine::Start() {
    KIV_ASSERT(!setup_.stepped, "TKivEngine.Start: a stepped engine runs on its caller's thread");
    return TCustomKivEngine::Start();
}

void TKivEngine::Stop() {
    if (stopped_) return;
    stopped_ = true;
    TCustomKivEngine::Stop();
    StopLoader(true, true);
    if (player_) {
        player_->SetRunning(false);
        player_->Stop();
        player_.Reset();
    }
    playerOldShow_.Reset();
    overlay_.Reset();
    dialogProducer_.reset();
    if (lateFrames_ > 0 || framesDrawn_ > 0)
        TLog::Line("TKivEngine: late frames: " + std::to_string(lateFrames_) + " of " +
                   std::to_string(framesDrawn_));
    Unsubscribe();
    controller_->ReleaseDrawer();
}

void TKivEngine::OnStart() {
    ::pthread_setname_np(::pthread_self(), "kivEngine");
    // timeBeginPeriod(1): Linux timers already resolve milliseconds.
}

void TKivEngine::OnStop() {
    // timeEndPeriod(1): nothing to restore on Linux. The context made current here is let go so
    // that the main thread can release the device.
    if (T3DDrawer* drawer = controller_->Drawer())
        if (drawer->Screen() && drawer->Screen()->Renderer()) drawer->Screen()->Renderer()->LeaveThread();
    TCustomKivEngine::OnStop();
}

void TKivEngine::Step() {
    MainLoop();
}

void TKivEngine::StepOnce() {
    KIV_ASSERT(!Started(), "TKivEngine.StepOnce: the engine thread runs");
    if (Terminated()) return;
    MainLoop();
}

void TKivEngine::RunLoaderUntilIdle() {
    if (loader_ && !loader_->Started() && setup_.runLoaderInline) loader_->RunUntilIdle();
}

// ---- shared state

TKivEngine::THover TKivEngine::Hover() const {
    TLockGuard guard(hoverLock_);
    return hover_;
}

void TKivEngine::SetHover(bool over, std::string className) {
    TLockGuard guard(hoverLock_);
    hover_.overAction = over;
    hover_.className = std::move(className);
}

const TDrawContainer* TKivEngine::Slide(int i) const {
    return i >= 0 && i < slideCount_ ? slides_[i].Get() : nullptr;
}

double TKivEngine::ProcessMs() const {
    return setup_.processClock ? setup_.processClock() : static_cast<double>(ProcessMilliseconds());
}

void TKivEngine::Pause(int ms) {
    if (setup_.stepped) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

double TKivEngine::ShowDuration() const {
    return show_ ? show_->Period() : 0.0;
}

bool TKivEngine::Repeats() const {
    return !show_ || show_->EndMode() == TEndMode::Repeat;
}

void TKivEngine::SetCurrent(double t) {
    current_ = t;
    if (loader_) loader_->Timing().SetTime(t);
}

double TKivEngine::CurrentTime() const {
    return current_;
}

// ---- the clock

double TKivEngine::GetTime() {
    if (!active_ || !player_) return timeBase_;
    return interpolator_->Filter(player_->GetTime() - timeBase_);
}

void TKivEngine::AdvanceClock(double ms) {
    if (player_ && player_->Headless())
        player_->AdvanceClock(ms);
    else if (auto* clock = dynamic_cast<TVirtualClock*>(setup_.clock.Get()))
        clock->Advance(ms);
}

void TKivEngine::WaitForPlayer() {
    if (!setup_.stepped || !player_ || player_->Headless()) return;
    // The player takes posted requests on its next step; headless stepping must not move the
    // virtual clock before it has.
    player_->WaitForSteps(2, kPlayerWaitMs);
}

void TKivEngine::SetActive(bool on) {
    if (on == active_) return;
    if (!on) {
        interpolator_->SetPassThrough(true);
        active_ = false;
        if (player_) {
            player_->SetRunning(false);
            WaitForPlayer();
        }
        timeBase_ = current_;
        SetLoadMode(0);
        if (playerKeepsOldShow_ && show_) ReplacePlayer();
        return;
    }
    if (T3DDrawer* drawer = controller_->Drawer()) {
        for (int i = 0; i < slideCount_; ++i) {
            TKivSlide* slide = slides_[i] ? slides_[i]->Slide() : nullptr;
            if (!slide) continue;
            slide->PreloadBegin(*drawer);
            PrepareTransition(*slides_[i], *drawer);
            const double d = timeBase_ - slides_[i]->Info().start;
            TLog::Line("PreloadEx Time: " + Ms(d));
            slide->PreloadEx(*drawer, d);
        }
    }
    if (player_) {
        if (player_->EngineBarrier() != barrier_.time) player_->SetBarrier(barrier_.time);
        player_->SetRunning(true);
        WaitForPlayer();
    }
    active_ = true;
    timeBase_ = GetTime();
    // While the clock runs, picture decoding yields to the frames (the process priority class of
    // the original has no Linux counterpart). Headless stepping waits for every picture anyway.
    SetLoadMode(setup_.stepped ? 0 : 2);
    if (!setup_.stepped) interpolator_->SetPassThrough(false);
}

TRef<TKivMusicPlayer> TKivEngine::NewPlayer(TKivSource& show) {
    auto* virtualClock = dynamic_cast<TVirtualClock*>(setup_.clock.Get());
    TRef<TKivMusicPlayer> player =
        setup_.stepped && virtualClock
            ? TKivMusicPlayer::CreateHeadless(ShareRef(&show), false, ShareRef(virtualClock),
                                              setup_.musicDevice)
            : TRef<TKivMusicPlayer>::Adopt(
                  new TKivMusicPlayer(ShareRef(&show), false, setup_.musicDevice, setup_.clock));
    player->Start();
    player->SetRunning(false);
    player->SetVolume(volume_);
    return player;
}

void TKivEngine::ReplacePlayer() {
    if (player_) {
        player_->SetRunning(false);
        player_->Stop();
    }
    player_ = NewPlayer(*show_);
    playerKeepsOldShow_ = false;
    playerOldShow_.Reset();
}

bool TKivEngine::SlidesReady() const {
    if (active_) return true;
    if (!loader_ || slideCount_ == 0) return false;
    // The window is full with three slides, or, near the end of a show that does not repeat, when
    // it reaches the last slide (no slide follows it: the list never holds three there).
    const bool full = slideCount_ >= TKivSlideLoader::kCapacity ||
                      (!Repeats() && show_ && slides_[slideCount_ - 1]->Index() >= show_->SlideCount() - 1);
    if (!full) return false;
    const TSlideInfo& first = slides_[0]->Info();
    const TSlideInfo& last = slides_[slideCount_ - 1]->Info();
    return first.start + first.transition <= current_ && current_ <= last.end;
}

bool TKivEngine::SlidesReadyForDraw() const {
    if (active_) return true;
    const double t = current_;
    if (slideCount_ == 1) {
        const TSlideInfo& s = slides_[0]->Info();
        return s.start + s.transition <= t && t <= s.sync;
    }
    if (slideCount_ == 2) {
        const TSlideInfo& s0 = slides_[0]->Info();
        const TSlideInfo& s1 = slides_[1]->Info();
        return s0.start + s0.transition <= t && t <= s0.end && s1.start <= t && t <= s1.sync;
    }
    return slideCount_ == 3 && SlidesReady();
}

bool TKivEngine::IsMusicReady() {
    if (!player_) return false;
    if (!active_ && (player_->GetTime() != current_ || player_->EngineBarrier() != barrier_.time))
        player_->Seek(barrier_.time, current_);
    if (setup_.stepped && !active_ && !player_->Headless()) {
        // Headless: wait for the player's verdict instead of polling it over several frames.
        for (int i = 0; i < 100 && !player_->IsReady() && player_->Running(); ++i)
            player_->WaitForSteps(1, kPlayerWaitMs / 100);
    }
    const bool ready = player_->IsReady();
    if (active_ && !ready) TLog::Line("TKivEngine.IsMusicReady: False");
    return ready;
}

void TKivEngine::FindBarrier(double fromMs) {
    TBarrier result;
    const std::int32_t n = show_ ? show_->SlideCount() : 0;
    if (!Repeats()) {
        result.index = n - 1;
        result.time = ShowDuration();
    } else {
        result.index = kNoIndex;
        result.time = kNoTime;
    }
    if (actionsEnabled_.load() && show_ && n > 0) {
        const std::int32_t last = result.index;
        std::int64_t i = fromMs == barrier_.time ? barrier_.index : show_->FindSlideAt(fromMs);
        int examined = 0;
        // Two passes from the slide at the time hold every slide at least once after it; past
        // them the show only repeats. This also ends the walk in a repeating show whose slides
        // last nothing, where no slide ever comes after the time.
        const std::int64_t end = std::min<std::int64_t>(last, std::max<std::int64_t>(i, 0) + 2 * std::int64_t{n});
        for (; i <= end && examined < n; ++i) {
            if (i < 0) continue;
            TSlideInfo info;
            show_->GetSlideTimes(static_cast<std::int32_t>(i), info);
            if (info.sync <= fromMs) continue;
            ++examined;
            double loopLength = 0;
            if (show_->GetEndAction(PositiveMod(i, n), loopLength)) {
                result = {true, static_cast<std::int32_t>(i), info.sync, loopLength};
                break;
            }
        }
    }
    barrier_ = result;
}

void TKivEngine::FindRunApp(double fromMs) {
    TRunApp result;
    const std::int32_t n = show_ ? show_->SlideCount() : 0;
    if (actionsEnabled_.load() && n > 0) {
        std::int64_t i =
            fromMs == runApp_.time ? std::int64_t{runApp_.index} + 1 : show_->FindSlideAt(fromMs);
        for (int k = 0; k < n; ++k, ++i) {
            if (i < 0 || i >= kNoIndex) continue;
            std::string command;
            if (!show_->GetRunApp(PositiveMod(i, n), command) || command.empty()) continue;
            TSlideInfo info;
            show_->GetSlideTimes(static_cast<std::int32_t>(i), info);
            if (info.start + 1 > fromMs) {
                result = {static_cast<std::int32_t>(i), info.start + 1, command};
                break;
            }
        }
    }
    runApp_ = result;
}

bool TKivEngine::CheckShowEnd() {
    if (!loader_ || !show_ || Repeats()) return false;
    const double duration = ShowDuration();
    // The player's clock never passes the barrier, which stands at the show's end: reaching the
    // end is the end (a test for "beyond" would never be met).
    if (current_ < duration) return false;
    SetCurrent(duration);
    if (!endReported_) {
        endReported_ = true;
        lastReported_ = TruncMs(duration);
        Notify(kNotifyPosition, {requestId_, TruncMs(duration), TruncMs(duration), 1});
    }
    return true;
}

// ---- the main loop

void TKivEngine::PrebuildSlides() {
    T3DDrawer* drawer = controller_->Drawer();
    if (!show_ || !dialogProducer_ || !drawer) return;
    const double started = ProcessMs();
    for (std::int32_t i = 0; i < show_->SlideCount(); ++i) {
        try {
            TRef<TKivSlide> slide = dialogProducer_->BuildSlide(i, 0);
            if (!slide) continue;
            slide->PreloadBegin(*drawer);
            slide->PreloadEx(*drawer, 0);
            prebuilt_.push_back(std::move(slide));
        } catch (const std::exception& error) {
            TLog::Line("TKivEngine: slide " + std::to_string(i) + " not prebuilt: " + error.what());
        }
    }
    TLog::Line("TKivEngine: prebuilt " + std::to_string(prebuilt_.size()) + " slides in " +
               std::to_string(static_cast<int>(ProcessMs() - started)) + " ms");
}

void TKivEngine::MainLoop() {
    // 1.
    if (player_ && player_->GetVolume() != volume_) player_->SetVolume(volume_);
    // 2.-4.
    if (Queue().IsClosed()) return;
    Queue().ProcessAll();
    if (pending_) ProcessAsyncOpen();
    // 5.
    if (loader_) {
        if (setup_.stepped) {
            loader_->Timing().SetTime(current_);
            RunLoaderUntilIdle();
        } else if (!loader_->Running() && !loader_->Started()) {
            loader_->Start();
        }
    }
    // 6.-9.
    unsigned s = controller_->GetState();
    bool run;
    if (paused_ || hold_.load())
        run = false;
    else if (overlay_ && overlay_->HasBlockingDialog())
        run = false;
    else
        run = SlidesReady() && IsMusicReady();
    if (!show_) run = false;
    if (show_ && show_->PauseWhenInactive() && !(s & dsActive)) run = false;
    // At the end the clock does not start again (it would stop at once, pass after pass).
    if (CheckShowEnd()) run = false;
    // 10.
    if (!run) {
        if (active_) {
            TLog::Line("TKivEngine.MainLoop: SetActive(False) - Stop by not NewActive");
            s |= dsRepaint;
        }
        SetActive(false);
    }
    // 11. The device came back.
    if ((s & dsLost) && (s & dsReady)) {
        firstFrameReported_ = false;
        run = false;
        if (active_) TLog::Line("TKivEngine.MainLoop: SetActive(False) - Stop by Reinited");
        SetActive(false);
        if (T3DDrawer* drawer = controller_->Drawer())
            for (int i = 0; i < slideCount_; ++i)
                if (TKivSlide* slide = slides_[i]->Slide()) slide->ReleaseDevice(*drawer);
        const TPoint size = controller_->GetClientSize();
        const int w = std::max(size.x, 10), h = std::max(size.y, 10);
        if (loader_ && show_ && (w != loader_->width || h != loader_->height)) {
            TLog::Line("OpenInt on diff size: " + std::to_string(size.x) + " " + std::to_string(size.y));
            OpenInt(show_, true, GetTime());
        }
        if (T3DDrawer* drawer = controller_->Drawer())
            for (int i = 1; i < slideCount_; ++i)
                if (TKivSlide* slide = slides_[i]->Slide()) {
                    slide->PreloadBegin(*drawer);
                    PrepareTransition(*slides_[i], *drawer);
                }
        TLog::Line("DrawDevice Reinited (Slides:" + std::to_string(slideCount_) + ")");
        ++reinits_;
    }
    // 12.
    if (run && !active_) {
        if (setup_.prebuildSlides && prebuilt_.empty()) {
            PrebuildSlides();
            frameMark_ = 0; // the time spent building is no late frame
        }
        TLog::Line("TKivEngine.MainLoop: SetActive(True) - Start by NewActive");
        SetActive(true);
    }
    // 13.
    if (Terminated()) return;
    // 14.
    const double t = GetTime();
    if (overlay_) overlay_->Update(t);
    dialogOpen_.store(overlay_ && overlay_->DialogCount() > 0);
    if (loader_) loader_->Timing().SetRequestedTime(t);
    // 15. Barriers.
    if (active_ && barrier_.active && t >= barrier_.time) {
        TLog::Line("TKivEngine.MainLoop: SetActive(False) - Stop by Barrier");
        SetActive(false);
        double now = t;
        if (barrier_.loopLength > 0) {
            // The slide's part after its transition repeats.
            const double over = now - barrier_.time;
            now = barrier_.time - barrier_.loopLength + std::fmod(over, barrier_.loopLength);
            if (now >= barrier_.time) now -= barrier_.loopLength;
        } else {
            hold_ = true;
            now = barrier_.time;
            FindBarrier(barrier_.time);
        }
        SetCurrent(now);
        timeBase_ = now;
        if (player_) {
            player_->Seek(barrier_.time, now);
            WaitForPlayer();
        }
    } else {
        SetCurrent(t);
    }
    // 16.
    CheckShowEnd();
    // 17. Run application.
    if (active_ && current_ >= runApp_.time) {
        // Number 1 marks a slide's own program (a button's runapp carries 0): the main window
        // starts at most one program per slide start.
        const TEngineAction action{kEngineActionRunApp, 1, runApp_.program};
        FindRunApp(runApp_.time);
        if (!action.text.empty()) DispatchAction(action);
    }
    // 18. Drawing (headless: the loader is brought to the frame's time first).
    if (setup_.stepped && loader_) {
        loader_->Timing().SetTime(current_);
        RunLoaderUntilIdle();
    }
    drewThisPass_ = false;
    if (slideCount_ > 0) {
        if (SlidesReadyForDraw())
            DrawFrame((s & (dsRepaint | dsLost)) != 0 || setup_.stepped);
        else if (s & dsRepaint)
            root_->Clear();
    }
    // 19. Frame pacing.
    const double now = ProcessMs();
    const double spent = now - frameMark_;
    if (active_ && frameMark_ > 0 && spent > kLateFrameMs && !setup_.stepped) ++lateFrames_;
    Pause(spent <= 16 ? 3 : 1);
    frameMark_ = ProcessMs();
    // 20. Position report.
    if (std::fabs(current_ - lastReported_) > 20) {
        lastReported_ = TruncMs(current_);
        Notify(kNotifyPosition, {requestId_, lastReported_, show_ ? TruncMs(ShowDuration()) : 0, 0});
    }
}

// ---- frames

bool TKivEngine::SelectLayers() {
    root_->Clear();
    const double t = current_;
    int a = -1;
    for (int i = slideCount_ - 1; i >= 0; --i)
        if (t >= slides_[i]->Info().start) {
            a = i;
            break;
        }
    if (a < 0) {
        root_->SetFilter(nullptr, 0);
        return false;
    }
    int c = a;
    TKivFilter* filter = slides_[a]->Filter();
    if (a > 0 && filter && t >= slides_[a - 1]->Info().start && t <= slides_[a - 1]->Info().end) c = a - 1;
    for (int i = c; i <= a; ++i) {
        const double local = i == a ? std::min(t, slides_[i]->Info().end) : t;
        AdvanceContainer(*slides_[i], local);
    }
    TDrawItem* overlay = overlayEnabled_ ? overlay_.Get() : nullptr;
    if (c < a && filter->effect) {
        root_->SetLayer(0, slides_[c]->Slide());
        root_->SetLayer(1, slides_[a]->Slide());
        root_->SetLayer(2, overlay);
        root_->SetFilter(filter, std::min(t, slides_[a]->Info().end) - slides_[a]->Info().start);
    } else {
        root_->SetLayer(0, slides_[c]->Slide());
        root_->SetLayer(1, overlay);
        root_->SetFilter(nullptr, 0);
    }
    return true;
}

void TKivEngine::PrepareRoot() {
    if (show_) {
        const THiderColor hider = show_->HiderColor();
        root_->SetBorderColor((std::uint32_t{hider.red} << 16) | (std::uint32_t{hider.green} << 8) |
                              hider.blue);
        root_->SetUnsharpAmount(show_->UnsharpAmount());
    }
    if (loader_) {
        const TShowRect r = loader_->GetSlideRect();
        root_->SetSlideArea({r.left, r.top, r.right, r.bottom});
    }
}

void TKivEngine::DrawFrame(bool forced) {
    if (!SelectLayers()) return;
    if (!forced && !root_->HasChanged()) return;
    try {
        if (lastMouse_) {
            auto still =
                MakeRef<TMouseData>(std::uint8_t{0}, 0, lastMouse_->shift, lastMouse_->x, lastMouse_->y);
            HitTest(*still);
        }
        T3DDrawer* drawer = controller_->Drawer();
        if (!drawer) return;
        PrepareRoot();
        drawer->SetSlideRect(root_->SlideArea());
        if (setup_.stepped) drawer->SetCaptureSize(CaptureSize());
        if (!drawer->Draw(*root_)) return;
        ++framesDrawn_;
        drewThisPass_ = true;
        if (!firstFrameReported_) {
            Notify(kNotifyFirstFrame, {});
            firstFrameReported_ = true;
        }
    } catch (const std::exception& error) {
        // The frame is abandoned; the loop goes on.
        TLog::Line(std::string("TKivEngine.DrawFrame: ") + error.what());
    }
}

TPoint TKivEngine::CaptureSize() const {
    const TPoint size = controller_->GetClientSize();
    return {std::max(size.x, 1), std::max(size.y, 1)};
}

TRef<TBitmap> TKivEngine::RenderToImage() {
    TThirdSlide* overlay = overlay_.Get();
    const bool wasCapturing = overlay && overlay->Capturing();
    if (overlay) overlay->SetCapturing(true);
    TRef<TBitmap> image;
    try {
        T3DDrawer* drawer = controller_->Drawer();
        if (drawer && slideCount_ > 0 && SelectLayers()) {
            PrepareRoot();
            drawer->SetSlideRect(root_->SlideArea());
            const bool wasCapture = drawer->CaptureMode();
            drawer->SetCaptureSize(CaptureSize());
            if (drawer->Draw(*root_)) image = drawer->GrabImage();
            if (!wasCapture) drawer->EndCapture();
        }
    } catch (const std::exception& error) {
        TLog::Line(std::string("TKivEngine.RenderToImage: ") + error.what());
        image.Reset();
    }
    if (overlay) overlay->SetCapturing(wasCapturing);
    return image;
}

// ---- mouse and actions

bool TKivEngine::HitTest(const TMouseData& mouse) {
    TEngineAction action;
    bool handled = false;
    bool over = false;
    std::string className;
    if (overlay_) {
        const TOverlayMouseResult r =
            overlay_->Mouse(mouse.button, mouse.shift, mouse.kind, mouse.x, mouse.y);
        if (r.handled) {
            handled = true;
            if (r.object && !r.object->Keys().action.empty()) {
                over = true;
                className = ClassNameOf(*r.object);
            }
            if (r.action.kind != 0)
                action = {r.action.kind, r.action.number, r.action.text};
            else if (r.fired && !r.dialogAction.empty())
                action = ParseAction(r.dialogAction);
        } else if (overlay_->NavPanelState() == kPanelHoldsMouse) {
            className = "NavPanel";
        }
    }
    if (!handled) {
        const double t = current_ == 0 ? 0.1 : current_;
        for (int i = slideCount_ - 1; i >= 0 && !handled; --i) {
            const TSlideInfo& info = slides_[i]->Info();
            TKivSlide* slide = slides_[i]->Slide();
            if (!slide || !(info.start < t && t <= info.end)) continue;
            const TSlideMouseResult r =
                slide->HandleMouse(mouse.shift, {static_cast<double>(mouse.x), static_cast<double>(mouse.y)},
                                   mouse.kind, mouse.button);
            if (r.fired && !r.action.empty()) {
                action = ParseAction(r.action);
                handled = true;
            }
            if (r.object && !r.object->Keys().action.empty()) {
                over = true;
                className = ClassNameOf(*r.object);
            }
        }
    }
    SetHover(over, std::move(className));
    return DispatchAction(action);
}

TEngineAction TKivEngine::ParseAction(const std::string& word) const {
    if (setup_.parseAction) return setup_.parseAction(word);
    return {};
}

bool TKivEngine::DispatchAction(const TEngineAction& action) {
    if (action.code == 0) return false;
    if (overlay_ && (action.code == kEngineActionPrev || action.code == kEngineActionNext ||
                     action.code == kEngineActionGotoSlide || action.code == kEngineActionRunShow))
        overlay_->CloseBlockingDialogs();
    if (overlay_ && action.code == kEngineActionHelp) {
        overlay_->OpenDialog("help");
    } else if (overlay_ && action.code == kEngineActionOpenDialog) {
        overlay_->OpenDialog(action.text);
    } else if (overlay_ && action.code == kEngineActionCloseDialog && overlay_->DialogCount() > 0) {
        overlay_->CloseDialog(-1);
    } else {
        TRefObject* text = action.text.empty() ? nullptr : new TStrValue(action.text);
        Notify(kNotifyAction, {action.code, action.value}, text != nullptr, text);
    }
    return true;
}

void TKivEngine::HandleMouseMessage(const TMouseData& mouse) {
    lastMouse_ = MakeRef<TMouseData>(std::uint8_t{0}, 0, mouse.shift, mouse.x, mouse.y);
    if (!HitTest(mouse) && mouse.action.code != 0) DispatchAction(mouse.action);
}

// ---- messages

bool TKivEngine::HandleEvent(int code, TRefObject* data) {
    switch (code) {
    case kEngineMouse:
        KIV_ASSERT(data, "TKivEngine: mouse event without data");
        HandleMouseMessage(*static_cast<TMouseData*>(data));
        return true;
    case kEngineCapture: {
        TRef<TBitmap> image = RenderToImage();
        if (image) {
            TLog::Line("********************* Image " + std::to_string(image->Width()) + " " +
                       std::to_string(image->Height()));
            Notify(kNotifyImage, {}, true, image.Detach());
        } else {
            TLog::Line("********************* Image not Assigned");
        }
        return true;
    }
    case kEngineCloseDialog:
        if (overlay_ && overlay_->DialogCount() > 0) overlay_->CloseDialog(-1);
        return true;
    case kEngineHelp:
        if (overlay_) overlay_->OpenDialog("help");
        return true;
    case kEngineSlideList:
        KIV_ASSERT(data, "TKivEngine: slide list without data");
        HandleSlideList(*static_cast<TSlideData*>(data));
        return true;
    case kEngineOpen:
        KIV_ASSERT(data, "TKivEngine: open request without data");
        HandleOpenMessage(*static_cast<TOpenParams*>(data));
        return true;
    case kEngineMode:
        KIV_ASSERT(data, "TKivEngine: mode request without data");
        HandleModeMessage(*static_cast<TModeData*>(data));
        return true;
    default:
        KIV_ASSERT(false, "TKivEngine: unknown message " + std::to_string(code));
        return false;
    }
}

void TKivEngine::HandleSlideList(const TSlideData& data) {
    KIV_ASSERT(data.Count() <= 3, "TKivEngine: more than three slides listed");
    std::string text = ">>>>>>>>>>>>> slide list synched : ";
    for (int i = 0; i < 3; ++i)
        slides_[i] = i < data.Count() ? ShareRef(data.Item(i)) : TRef<TDrawContainer>();
    slideCount_ = data.Count();
    for (int i = 0; i < slideCount_; ++i) {
        if (i > 0) text += "  ";
        text += Ms(slides_[i]->Info().start) + "-" + Ms(slides_[i]->Info().sync);
    }
    TLog::Line(text);
    if (!setup_.loaderUploads) {
        // Slides are made ready for the device here, on the engine's own thread.
        if (T3DDrawer* drawer = controller_->Drawer())
            for (int i = 0; i < slideCount_; ++i)
                if (TKivSlide* slide = slides_[i]->Slide()) {
                    slide->PreloadBegin(*drawer);
                    PrepareTransition(*slides_[i], *drawer);
                    slide->PreloadEx(*drawer, 0);
                }
    }
}

void TKivEngine::HandleOpenMessage(TOpenParams& params) {
    const bool keep = pending_ ? pending_->paused : paused_;
    if (params.IsOpen()) {
        TLog::Line("TKivEngine: OpenShow Async");
        pending_ = TOpenParams::TakeOver(params);
    } else {
        TLog::Line("TKivEngine: SetPosition Async");
        if (pending_) {
            pending_->requestId = params.requestId;
            pending_->time = params.time;
        } else {
            pending_ = TOpenParams::TakeOver(params);
        }
    }
    pending_->paused = keep;
    TLog::Line(std::string("TKivEngine: Current Pause Status: ") + (paused_ ? "True" : "False"));
    TLog::Line(std::string("TKivEngine: Async Pause Status: ") + (keep ? "True" : "False"));
}

void TKivEngine::HandleModeMessage(const TModeData& mode) {
    if (pending_ || applying_) {
        if (pending_) pending_->paused = mode.paused;
        if (applying_) applying_->paused = mode.paused;
        TLog::Line(std::string("TKivEngine: SetPauseEvent Async: ") + (mode.paused ? "True" : "False"));
        return;
    }
    TLog::Line(std::string("TKivEngine: Before Pause Status: ") + (paused_ ? "True" : "False"));
    paused_ = mode.paused;
    TLog::Line(std::string("TKivEngine: SetPauseEvent Direct: ") + (paused_ ? "True" : "False"));
}

void TKivEngine::ProcessAsyncOpen() {
    applying_ = std::move(pending_);
    pending_.Reset();
    if (!applying_) return;
    TLog::Line("TKivEngine: Begin ProcessAsyncOpen");
    if (applying_->IsOpen()) {
        TLog::Line("TKivEngine: Process AsyncEvent Open");
        try {
            OpenShow(applying_->accessor, applying_->ini, applying_->time);
        } catch (const std::exception& error) {
            // The show that was playing goes on.
            TLog::Line(std::string("TKivEngine: the show cannot be opened: ") + error.what());
        }
    } else {
        TLog::Line("TKivEngine: Process AsyncEvent SetPosition");
        SetActive(false);
        timeBase_ = applying_->time;
        SetCurrent(applying_->time);
        lastReported_ = kForceReport;
        FindRunApp(applying_->time);
        FindBarrier(applying_->time);
        hold_ = false;
    }
    requestId_ = applying_->requestId;
    TLog::Line(std::string("TKivEngine: Process AsyncEvent Curren Pause Status: ") +
               (paused_ ? "True" : "False"));
    paused_ = applying_->paused;
    TLog::Line(std::string("TKivEngine: Process AsyncEvent New Pause Status: ") +
               (paused_ ? "True" : "False"));
    applying_.Reset();
}

// ---- opening

void TKivEngine::OpenShow(TRef<TFileAccessor> accessor, TRef<TIniFile> ini, double timeMs) {
    KIV_ASSERT(ini, "TKivEngine.OpenShow: no project");
    TKivSourceSetup sourceSetup;
    sourceSetup.document = std::move(ini);
    sourceSetup.fileAccessor = std::move(accessor);
    sourceSetup.programFileName = setup_.programFileName;
    sourceSetup.random = setup_.random;
    auto show = MakeRef<TKivSource>(std::move(sourceSetup));
    const bool hadShow = show_ != nullptr;
    TRef<TKivSource> old = show_;
    OpenInt(show, false, timeMs);
    show_ = show;
    ownsShow_ = true;
    if (!paused_ && hadShow && player_) {
        // The player goes on with the earlier show's music until the clock next stops.
        playerKeepsOldShow_ = true;
        playerOldShow_ = old;
    }
}

void TKivEngine::OpenInt(TRef<TKivSource> show, bool reopen, double timeMs) {
    endReported_ = false;
    TLog::Line((reopen ? "Reopen from new position>>>>>>>> " : "Open from new position>>>>>>>> ") +
               Ms(timeMs));
    const TStopwatch watch;
    if (paused_) SetActive(false);
    StopLoader(true, paused_);
    show_ = show;
    if (show) {
        const TPoint client = controller_->GetClientSize();
        loader_ = MakeRef<TKivSlideLoader>(show, TKivSlideLoader::kCapacity, false,
                                           setup_.stepped ? std::max(client.x, 10) : 0,
                                           setup_.stepped ? std::max(client.y, 10) : 0);
        if (setup_.loaderUploads) loader_->SetSlideBuilt([this](TDrawContainer& c) { SlideBuilt(c); });
        loader_->SetTarget(ShareRef(&Queue()), kEngineSlideList);
        if (setup_.stepped)
            loader_->SetDirectDispatch(
                [this](int code, TRefObject* data) { return HandleEvent(code, data); });
    }
    if (paused_ || !player_) {
        if (player_) {
            player_->SetRunning(false);
            player_->Stop();
        }
        player_ = show ? NewPlayer(*show) : TRef<TKivMusicPlayer>();
        playerKeepsOldShow_ = false;
        playerOldShow_.Reset();
    }
    if (!loader_) return;
    if (!reopen) {
        Notify(kNotifyGeometry, {loader_->width, loader_->height, loader_->WindowMode()});
        controller_->InitDrawer();
    }
    const TPoint client = controller_->GetClientSize();
    loader_->width = std::max(client.x, 10);
    loader_->height = std::max(client.y, 10);
    loader_->SetupProducer(setup_.cover);
    CreateOverlay();
    if (paused_) {
        timeBase_ = timeMs;
        SetCurrent(timeMs);
        lastReported_ = kForceReport;
        FindRunApp(timeMs);
        FindBarrier(timeMs);
        hold_ = false;
    } else {
        // The running clock goes on: the new show continues at the current time.
        SetCurrent(current_);
    }
    TLog::Line("Loader Inited To Time : " + std::to_string(watch.Elapsed()));
}

void TKivEngine::CreateOverlay() {
    overlay_.Reset();
    dialogProducer_.reset();
    if (!show_ || !loader_) return;
    try {
        // Dialogs are built on the engine thread with a producer of their own: the loader's
        // producer belongs to the loader thread.
        dialogProducer_ = std::make_unique<TSlideProducer>(*show_);
        dialogProducer_->SetScreen(loader_->width, loader_->height,
                                   setup_.cover ? kShowCover : kShowFitInside);
        TOverlayInputs in;
        in.files = ShareRef(show_->FileAccessor());
        in.project = &show_->Document();
        in.slideArea = loader_->GetSlideRect();
        in.clientWidth = loader_->width;
        in.clientHeight = loader_->height;
        in.referenceWidth = in.slideArea.Width();
        in.referenceHeight = in.slideArea.Height();
        in.volume = player_ ? player_->GetVolume() : 0.0f;
        in.showDuration = std::round(ShowDuration());
        in.callbacks.setVolume = [this](float volume) {
            volume_ = volume;
            if (player_) player_->SetVolume(volume);
        };
        in.callbacks.seekToTime = [this](double timeMs) {
            DispatchAction({kEngineActionGotoTime, static_cast<std::int32_t>(std::lround(timeMs)), {}});
        };
        in.callbacks.isPlaying = [this] { return !paused_; };
        TRootItem* root = root_.Get();
        in.borderFill = [root](TDeviceDrawer& drawer) { root->FillBorder(drawer); };
        in.producer = dialogProducer_.get();
        in.outputProfile = DisplayProfile(); // the profile the slides' pictures are converted to
        if (setup_.processClock) {
            auto clock = setup_.processClock;
            in.clock = [clock] { return static_cast<std::int64_t>(clock()); };
        }
        overlay_ = TThirdSlide::Create(std::move(in));
    } catch (const std::exception& error) {
        TLog::Line(std::string("TKivEngine: no overlay: ") + error.what());
        overlay_.Reset();
    }
}

void TKivEngine::StopLoader(bool freeLoader, bool freePlayer) {
    if (!loader_) return;
    loader_->Terminate();
    // The loader may be blocked sending its list: keep taking messages until it ends.
    while (loader_->Started() && !loader_->WaitFor(3)) {
        if (!Queue().IsClosed() && (Queue().OwnerThread() == std::this_thread::get_id() ||
                                    Queue().OwnerThread() == std::thread::id{}))
            Queue().ProcessAll();
    }
    if (freePlayer && player_) {
        player_->SetRunning(false);
        player_->Stop();
        player_.Reset();
        playerKeepsOldShow_ = false;
        playerOldShow_.Reset();
    }
    if (freeLoader) {
        // Nothing the loader still announces reaches the engine from here on.
        loader_->SetTarget({}, kEngineSlideList);
        loader_->SetDirectDispatch({});
        loader_.Reset();
        prebuilt_.clear();
        for (auto& slide : slides_)
            slide.Reset();
        slideCount_ = 0;
        root_->Clear();
        root_->Clear();
        overlay_.Reset();
        dialogProducer_.reset();
    }
}

void TKivEngine::PrepareTransition(TDrawContainer& container, T3DDrawer& drawer) {
    TKivFilter* filter = container.Filter();
    TKivSlide* slide = container.Slide();
    if (!filter || !slide) return;
    try {
        drawer.PrepareTransition(*filter, *slide);
    } catch (const std::exception& error) {
        TLog::Line(std::string("TKivEngine: a transition not prepared: ") + error.what());
    }
}

void TKivEngine::SlideBuilt(TDrawContainer& container) {
    T3DDrawer* drawer = controller_->Drawer();
    TKivSlide* slide = container.Slide();
    if (!drawer || !slide) return;
    if (active_) {
        slide->PreloadBegin(*drawer);
        PrepareTransition(container, *drawer);
        TLog::Line("preload from callback.............");
    }
    slide->PreloadEx(*drawer, 0);
}

} // namespace kiv

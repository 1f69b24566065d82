#include "engine/SlideLoader.h"

#include "base/Assert.h"
#include "base/Exception.h"
#include "base/Log.h"
#include "video/KivVideo.h"

#include <SDL.h>
#include <pthread.h>

#include <chrono>
#include <exception>

namespace kiv {

namespace {

void PrimaryScreenSize(int& width, int& height) {
    SDL_DisplayMode mode{};
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0 && SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 &&
        mode.h > 0) {
        width = mode.w;
        height = mode.h;
        return;
    }
    width = 640;
    height = 480;
}

} // namespace

TKivSlideLoader::TKivSlideLoader(TRef<TKivSource> show, int capacity, bool ownsShow, int screenWidth,
                                 int screenHeight)
    : show_(std::move(show)), ownsShow_(ownsShow) {
    KIV_ASSERT(show_, "TKivSlideLoader: no show");
    KIV_ASSERT(capacity >= 1 && capacity <= TSlideCache::kMaxCapacity, "TKivSlideLoader: capacity out of range");
    if (screenWidth > 0 && screenHeight > 0) {
        width = screenWidth;
        height = screenHeight;
    } else {
        PrimaryScreenSize(width, height);
    }
    bordered = false;
    timing_ = MakeRef<TTiming>();

    RegisterVideoObjects(); // slides may hold video objects
    auto producer = std::make_unique<TSlideProducer>(*show_);
    producer->SetTiming(timing_);
    cache_ = std::make_unique<TSlideCache>(std::move(producer), capacity);
    cache_->SetListChanged([this](const TSlideList& list) { ListChanged(list); });
    cache_->SetCurrentTime([timing = timing_] { return timing->GetTime(); });

    if (const TIniSection* main = show_->MainSection()) {
        fullScreen_ = main->GetInt32("opt_scr_full", 1);
        bordered = fullScreen_ == 0 && !main->GetBool("opt_withoutborder", true);
        if (fullScreen_ == 0 || fullScreen_ == 3) {
            width = main->GetInt32("opt_scr_width", 640);
            height = main->GetInt32("opt_scr_height", 480);
        }
    }
}

TKivSlideLoader::~TKivSlideLoader() {
    // Whoever frees the loader (the engine, on its own thread) empties its slide list itself and
    // holds its own references; the cache does not announce its end.
    cache_.reset();
}

void TKivSlideLoader::SetupProducer(bool cover) {
    Producer().SetScreen(width, height, cover ? kShowCover : kShowFitInside, 100, 100);
}

TShowRect TKivSlideLoader::GetSlideRect() const { return cache_->Producer().ShowRect(); }

int TKivSlideLoader::WindowMode() const {
    if (fullScreen_ == 1) return 0;
    return bordered ? 1 : 2;
}

void TKivSlideLoader::SetTarget(TRef<TThreadEventList> queue, int code) {
    target_ = std::move(queue);
    code_ = code;
}

void TKivSlideLoader::SetDirectDispatch(TDirectHandler handler) { direct_ = std::move(handler); }

void TKivSlideLoader::ListChanged(const TSlideList& list) {
    if (!target_ && !direct_) return;
    auto data = MakeRef<TSlideData>(list);
    if (direct_) {
        direct_(code_, data.Get());
    } else {
        // Blocks until the engine thread has taken the list (or its queue was closed).
        target_->Send(code_, data.Get());
    }
}

void TKivSlideLoader::Terminate() {
    TSlideShowParams::Terminate();
    wake_.Set();
}

void TKivSlideLoader::OnStart() { ::pthread_setname_np(::pthread_self(), "kivSlideLoader"); }

void TKivSlideLoader::OnStop() {
    TSlideShowParams::OnStop();
    {
        std::lock_guard guard(passLock_);
        ended_ = true;
    }
    passDone_.notify_all();
}

bool TKivSlideLoader::UpdateOnce() {
    try {
        return cache_->Update(timing_->GetTime());
    } catch (const std::exception& failure) {
        // A show the producer cannot lay out stays as it is; the failure is logged once.
        const std::string text = failure.what();
        if (text != lastFailure_) {
            lastFailure_ = text;
            TLog::Line("TKivSlideLoader: " + text);
        }
        return false;
    }
}

void TKivSlideLoader::Step() {
    UpdateOnce();
    {
        std::lock_guard guard(passLock_);
        passes_.fetch_add(1);
    }
    passDone_.notify_all();
    if (!Terminated()) wake_.WaitFor(kPassMs);
}

int TKivSlideLoader::RunUntilIdle() {
    KIV_ASSERT(!Running(), "TKivSlideLoader.RunUntilIdle while the loader thread runs");
    int built = 0;
    // Each round builds at most one slide; a window holds at most three, and every build either
    // joins the list or is dropped for a newer time, so this ends.
    while (UpdateOnce())
        ++built;
    return built;
}

bool TKivSlideLoader::WaitForPasses(std::uint64_t count, std::int64_t timeoutMs) {
    std::unique_lock guard(passLock_);
    passDone_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                       [&] { return passes_.load() >= count || ended_; });
    return passes_.load() >= count;
}

} // namespace kiv

// The slide loader: one thread per opened show ("kivSlideLoader") that keeps a small window of
// built slides around the current show time, so that the engine never builds a slide while it
// draws. It owns the show's slide producer and slide cache and the shared TTiming; every 10 ms it
// moves the cache's window to the timing's current time, building at most one slide per pass, and
// hands every change of the cached list to the engine: by a blocking Send of message 101 with a
// TSlideData to the engine's queue, or, with direct dispatch, by calling the engine's handler on
// the loader's own thread.
//
// Headless: RunUntilIdle does the loader's work on the caller's thread until nothing more is
// built (the thread is not started then; list changes go through direct dispatch).
//
// Threads: the engine sets the callbacks, the target and the size before Start; afterwards the
// only links are the TTiming (written by the engine, read here), the slide-built callback (runs
// here) and message 101.
#pragma once

#include "framework/KivThread.h"
#include "framework/ThreadEventList.h"
#include "framework/Timing.h"
#include "objects/SlideCache.h"
#include "project/KivSource.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kiv {

// The list-changed message code the engine uses.
inline constexpr int kSlideListMessage = 101;

// The list-changed message: up to three containers in cache order, each held by the message (the
// engine copies the references; the cache's own may go right after).
class TSlideData final : public TRefObject {
public:
    TSlideData() = default;
    explicit TSlideData(const TSlideList& list) : list_(list) {}

    int Count() const noexcept { return list_.count; }
    TDrawContainer* Item(int i) const { return list_[i]; }
    const TSlideList& List() const noexcept { return list_; }
    // A fourth entry is an assertion failure.
    void Add(TRef<TDrawContainer> container) { list_.Add(std::move(container)); }

protected:
    ~TSlideData() override = default;

private:
    TSlideList list_;
};

// The show's window settings on top of a thread.
class TSlideShowParams : public TKivThread {
public:
    int width = 0;
    int height = 0;
    bool bordered = false;

protected:
    ~TSlideShowParams() override = default;
};

class TKivSlideLoader final : public TSlideShowParams {
public:
    static constexpr int kPassMs = 10;
    static constexpr int kCapacity = 3;

    // The direct-dispatch handler: the engine's message handler, called on the loader's thread.
    using TDirectHandler = std::function<bool(int code, TRefObject* data)>;

    // Create: a missing show or a capacity outside 1 … 3 is an assertion failure. Reads the
    // window settings of [Main]; `screenWidth` × `screenHeight` is the primary screen's size
    // (the size unless the show asks for a window of its own size). Holds the show; `ownsShow`
    // is kept for the engine's bookkeeping (the loader's reference goes with it either way).
    // A screen size of 0 × 0 asks SDL for the primary display's (640 × 480 without video).
    TKivSlideLoader(TRef<TKivSource> show, int capacity, bool ownsShow, int screenWidth = 0,
                    int screenHeight = 0);

    // Also wakes a pass that waits out its 10 ms.
    void Terminate() override;

    // The producer's SetScreen with the loader's size, `cover` as fit mode and square pixels.
    // Raises "ZeroSize of Presentation!" for a design of no height.
    void SetupProducer(bool cover);
    // The show's rectangle inside the window.
    TShowRect GetSlideRect() const;
    // 0 full screen (opt_scr_full 1), else 1 for a bordered window and 2 for one without border.
    int WindowMode() const;
    int FullScreenSetting() const noexcept { return fullScreen_; }
    bool OwnsShow() const noexcept { return ownsShow_; }

    TKivSource& Show() const noexcept { return *show_; }
    TTiming& Timing() const noexcept { return *timing_; }
    const TRef<TTiming>& TimingRef() const noexcept { return timing_; }
    TSlideCache& Cache() noexcept { return *cache_; }
    TSlideProducer& Producer() noexcept { return cache_->Producer(); }

    // Where list changes go: the engine's queue and the message code. Set before Start.
    void SetTarget(TRef<TThreadEventList> queue, int code = kSlideListMessage);
    // With a handler, list changes call it at once on the loader's thread instead of Send.
    void SetDirectDispatch(TDirectHandler handler);
    // The cache's slide-built callback (the engine's SlideBuilt). Set before Start.
    void SetSlideBuilt(TSlideCache::TSlideBuilt callback) { cache_->SetSlideBuilt(std::move(callback)); }

    // Headless stepping, on the caller's thread while the loader thread is not running (an
    // assertion failure otherwise): updates the cache at the timing's current time until it
    // builds nothing more. Returns the number of slides built.
    int RunUntilIdle();

    // Loader passes run since Start (each one Update at most), and the passes' wake-up: tests
    // wait on PassesDone instead of sleeping.
    std::uint64_t Passes() const noexcept { return passes_.load(); }
    // Waits until at least `count` passes ran in all, or the thread ended, or `timeoutMs` passed.
    bool WaitForPasses(std::uint64_t count, std::int64_t timeoutMs);

protected:
    ~TKivSlideLoader() override;
    void OnStart() override;
    void OnStop() override;
    void Step() override;

private:
    void ListChanged(const TSlideList& list);
    // One Update at the timing's current time; a failure is logged once and builds nothing.
    bool UpdateOnce();

    TRef<TKivSource> show_;
    bool ownsShow_;
    int fullScreen_ = 1;
    TRef<TTiming> timing_;
    std::unique_ptr<TSlideCache> cache_;
    TRef<TThreadEventList> target_;
    int code_ = kSlideListMessage;
    TDirectHandler direct_;
    TEvent wake_{TEvent::TReset::Auto};
    std::atomic<std::uint64_t> passes_{0};
    std::mutex passLock_;
    std::condition_variable passDone_;
    bool ended_ = false;
    std::string lastFailure_;
};

} // namespace kiv

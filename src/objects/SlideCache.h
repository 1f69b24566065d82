// TSlideCache: which slides stay built around the current show time and which one is built next.
// It keeps at most `capacity` (1 to 3) containers in ascending index order: the window starts at
// the first slide visible at the time and spans `capacity` indexes. Each Update evicts what lies
// outside the window (never the last container left) and builds at most one missing slide, the
// lowest index first.
//
// Announcements: the slide-built callback runs on a freshly built container before it joins the
// list (the engine preloads its pictures there); the list-changed callback runs after every change
// with the new list. An evicted container is released only after the list-changed callback
// returned, and a list handed out holds its own references, so nobody is left with a freed slide.
//
// A seek that comes while a slide is being built: when the cache has a current-time source and,
// once the build is done, the slide no longer belongs to the window of the current time, the
// slide is dropped unannounced (counted in Cancelled) instead of being preloaded and listed.
//
// Threads: one thread at a time calls Update and Clear (the slide loader's); the callbacks run on
// that thread.
#pragma once

#include "objects/DrawContainer.h"
#include "objects/SlideProducer.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace kiv {

// The cached list at one moment: up to three containers in index order, each held.
struct TSlideList {
    static constexpr int kMaxSlides = 3;
    std::array<TRef<TDrawContainer>, kMaxSlides> items{};
    int count = 0;

    // Appends; a fourth entry is an assertion failure.
    void Add(TRef<TDrawContainer> container);
    TDrawContainer* operator[](int i) const { return items[static_cast<std::size_t>(i)].Get(); }
};

class TSlideCache {
public:
    static constexpr int kMaxCapacity = TSlideList::kMaxSlides;

    using TSlideBuilt = std::function<void(TDrawContainer& container)>;
    using TListChanged = std::function<void(const TSlideList& list)>;
    using TCurrentTime = std::function<double()>;

    // A capacity outside 1 … 3 is an assertion failure. The first form owns the producer.
    TSlideCache(std::unique_ptr<TSlideProducer> producer, int capacity);
    TSlideCache(TSlideProducer& producer, int capacity);
    TSlideCache(const TSlideCache&) = delete;
    TSlideCache& operator=(const TSlideCache&) = delete;
    // Releases every container without announcing it, then the producer when owned.
    ~TSlideCache();

    // Moves the window to show time `t`: evicts, then builds at most one container. True when it
    // built one (the caller calls again until false). Raises the producer's failures ("No Slides
    // in Presentation", "TSlideProducer.CurrentTiming not Assigned").
    bool Update(double t);
    // Evicts every container; the list-changed callback sees the empty list first.
    void Clear();

    // The first and last index of the window at `t` (what Update aims for), without building.
    std::pair<std::int32_t, std::int32_t> WindowAt(double t);

    int Capacity() const noexcept { return capacity_; }
    int Count() const noexcept { return list_.count; }
    TDrawContainer* Item(int i) const { return list_[i]; }
    const TSlideList& List() const noexcept { return list_; }
    TSlideProducer& Producer() noexcept { return *producer_; }

    void SetSlideBuilt(TSlideBuilt callback) { slideBuilt_ = std::move(callback); }
    void SetListChanged(TListChanged callback) { listChanged_ = std::move(callback); }
    // The time the show is at now, asked after a build to drop a slide a seek has left behind.
    void SetCurrentTime(TCurrentTime source) { currentTime_ = std::move(source); }

    // Containers built, and built but dropped because of a seek, since creation.
    std::int64_t Built() const noexcept { return built_; }
    std::int64_t Cancelled() const noexcept { return cancelled_; }

private:
    void Insert(TRef<TDrawContainer> container);
    void RemoveAt(int position);
    void Announce();

    std::unique_ptr<TSlideProducer> owned_;
    TSlideProducer* producer_;
    int capacity_;
    TSlideList list_;
    TSlideBuilt slideBuilt_;
    TListChanged listChanged_;
    TCurrentTime currentTime_;
    std::int64_t built_ = 0;
    std::int64_t cancelled_ = 0;
};

} // namespace kiv

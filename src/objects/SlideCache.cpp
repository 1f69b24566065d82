#include "objects/SlideCache.h"

#include "base/Assert.h"

#include <algorithm>
#include <limits>

namespace kiv {

void TSlideList::Add(TRef<TDrawContainer> container) {
    KIV_ASSERT(count < kMaxSlides, "TSlideList: more than three slides");
    items[static_cast<std::size_t>(count++)] = std::move(container);
}

TSlideCache::TSlideCache(std::unique_ptr<TSlideProducer> producer, int capacity)
    : owned_(std::move(producer)), producer_(owned_.get()), capacity_(capacity) {
    KIV_ASSERT(producer_ != nullptr, "TSlideCache: no producer");
    KIV_ASSERT(capacity >= 1 && capacity <= kMaxCapacity, "TSlideCache: capacity out of range");
}

TSlideCache::TSlideCache(TSlideProducer& producer, int capacity) : producer_(&producer), capacity_(capacity) {
    KIV_ASSERT(capacity >= 1 && capacity <= kMaxCapacity, "TSlideCache: capacity out of range");
}

TSlideCache::~TSlideCache() {
    // Nobody is told: whoever still holds a list holds its containers, and the callbacks may
    // reach objects that are already gone.
    listChanged_ = nullptr;
    Clear();
}

std::pair<std::int32_t, std::int32_t> TSlideCache::WindowAt(double t) {
    const std::int32_t first = producer_->VisibleRange(t).first;
    std::int64_t last = static_cast<std::int64_t>(first) + capacity_ - 1;
    // A show that ends does not build slides of a pass that never comes.
    const TKivSource& source = producer_->Source();
    if (source.EndMode() != TEndMode::Repeat) last = std::min<std::int64_t>(last, source.SlideCount() - 1);
    last = std::clamp<std::int64_t>(last, first, std::numeric_limits<std::int32_t>::max());
    return {first, static_cast<std::int32_t>(last)};
}

void TSlideCache::Announce() {
    if (listChanged_) listChanged_(list_);
}

void TSlideCache::RemoveAt(int position) {
    KIV_ASSERT(position >= 0 && position < list_.count, "TSlideCache: removal at an invalid position");
    // The list is announced without the container first; only then does the cache let it go.
    TRef<TDrawContainer> removed = std::move(list_.items[static_cast<std::size_t>(position)]);
    for (int i = position; i + 1 < list_.count; ++i)
        list_.items[static_cast<std::size_t>(i)] = std::move(list_.items[static_cast<std::size_t>(i + 1)]);
    --list_.count;
    list_.items[static_cast<std::size_t>(list_.count)] = nullptr;
    Announce();
    removed.Reset();
}

void TSlideCache::Insert(TRef<TDrawContainer> container) {
    KIV_ASSERT(list_.count < TSlideList::kMaxSlides, "TSlideCache: more than three slides");
    int position = 0;
    while (position < list_.count && list_[position]->Index() < container->Index())
        ++position;
    for (int i = list_.count; i > position; --i)
        list_.items[static_cast<std::size_t>(i)] = std::move(list_.items[static_cast<std::size_t>(i - 1)]);
    list_.items[static_cast<std::size_t>(position)] = std::move(container);
    ++list_.count;
    Announce();
}

bool TSlideCache::Update(double t) {
    const auto [first, last] = WindowAt(t);
    const auto inWindow = [](std::int32_t index, std::int32_t from, std::int32_t to) {
        return index >= from && index <= to;
    };

    for (int i = 0; i < list_.count && list_.count >= 2;) {
        if (inWindow(list_[i]->Index(), first, last)) {
            ++i;
        } else {
            RemoveAt(i);
        }
    }

    std::int32_t missing = first;
    bool found = false;
    for (std::int64_t index = first; index <= last; ++index) {
        bool cached = false;
        for (int i = 0; i < list_.count; ++i)
            cached = cached || list_[i]->Index() == index;
        if (!cached) {
            missing = static_cast<std::int32_t>(index);
            found = true;
            break;
        }
    }
    if (!found) return false;
    TRef<TDrawContainer> container = producer_->BuildContainer(missing);
    ++built_;
    if (currentTime_) {
        // A seek during the build: a slide the new window does not want is dropped, unannounced.
        const double now = currentTime_();
        if (now != t) {
            const auto [newFirst, newLast] = WindowAt(now);
            if (!inWindow(missing, newFirst, newLast)) {
                ++cancelled_;
                return true;
            }
        }
    }
    if (slideBuilt_) slideBuilt_(*container);
    Insert(std::move(container));
    return true;
}

void TSlideCache::Clear() {
    while (list_.count > 0)
        RemoveAt(list_.count - 1);
}

} // namespace kiv

#include "framework/EventList.h"

#include <algorithm>

namespace kiv {

int TCustomEventList::NewEventNumber() {
    static std::atomic<int> counter{0};
    return counter.fetch_add(1) + 1;
}

TEventList::TEventList(int bucketCount) : bucketCount_(std::clamp(bucketCount, 1, kApplicationBuckets)) {}

TEventList::~TEventList() { Clear(); }

std::size_t TEventList::BucketOf(int event) const {
    return static_cast<std::size_t>(static_cast<unsigned>(event) % static_cast<unsigned>(bucketCount_));
}

void TEventList::Subscribe(int event, TEventHandler handler) {
    auto* item = new TEventListItem(event, handler);
    TLockGuard guard(lock_);
    const std::size_t bucket = BucketOf(event);
    if (buckets_.size() <= bucket) buckets_.resize(bucket + 1, nullptr);
    item->next = buckets_[bucket];
    buckets_[bucket] = item;
}

bool TEventList::Unsubscribe(int event, TEventHandler handler) {
    TEventListItem* removed = nullptr;
    {
        TLockGuard guard(lock_);
        const std::size_t bucket = BucketOf(event);
        if (bucket >= buckets_.size()) return false;
        // The first matching record of the chain goes: records are prepended, so of a handler
        // subscribed twice the newest subscription is the one removed.
        TEventListItem** link = &buckets_[bucket];
        while (*link && !((*link)->event == event && (*link)->handler == handler))
            link = &(*link)->next;
        if (!*link) return false;
        removed = *link;
        *link = removed->next;
        removed->next = nullptr;
        while (!buckets_.empty() && buckets_.back() == nullptr) buckets_.pop_back();
    }
    removed->Release();
    return true;
}

void TEventList::Fire(TRefObject* sender, int event, TRefObject* data) {
    std::vector<TEventListItem*> chain;
    {
        TLockGuard guard(lock_);
        const std::size_t bucket = BucketOf(event);
        if (bucket >= buckets_.size()) return;
        for (TEventListItem* item = buckets_[bucket]; item; item = item->next) {
            if (item->event != event) continue;
            item->AddRef();
            chain.push_back(item);
        }
    }
    // Our references go even when a handler raises.
    struct TReleaseAll {
        std::vector<TEventListItem*>& items;
        ~TReleaseAll() {
            for (TEventListItem* item : items) item->Release();
        }
    } releaseAll{chain};
    // The chain holds the newest record first; run the oldest first.
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        TEventListItem* item = *it;
        // Only our own reference left: it was unsubscribed by an earlier handler of this fire.
        if (item->RefCount() > 1) item->handler.code(item->handler.data, sender, event, data);
    }
}

void TEventList::Clear() {
    std::vector<TEventListItem*> all;
    {
        TLockGuard guard(lock_);
        for (TEventListItem* head : buckets_)
            for (TEventListItem* item = head; item; item = item->next) all.push_back(item);
        buckets_.clear();
    }
    for (TEventListItem* item : all) item->Release();
}

int TEventList::HandlerCount(int event) {
    TLockGuard guard(lock_);
    const std::size_t bucket = BucketOf(event);
    int count = 0;
    if (bucket < buckets_.size())
        for (TEventListItem* item = buckets_[bucket]; item; item = item->next) count += item->event == event;
    return count;
}

} // namespace kiv

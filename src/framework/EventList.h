// Numbered events: any part of the program subscribes a handler to an event number and anyone
// fires it. TEventList keeps the handlers in hash buckets (number mod bucket count), each bucket a
// singly linked chain with the newest record first; Fire runs them oldest first.
//
// Subscribe, Unsubscribe and Fire may be called from any thread. The lock covers only the chain
// walk, never a handler call, so a handler may subscribe or unsubscribe (itself included) while it
// runs; a record unsubscribed during a fire does not run later in that fire.
#pragma once

#include "base/RefObject.h"
#include "base/Sync.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace kiv {

// A method pointer: code plus the object it runs on. Two handlers are the same when both parts
// are. MakeEventHandler<&TClass::Method>(object) builds one for a member function
// `void Method(TRefObject* sender, int event, TRefObject* data)`.
struct TEventHandler {
    using TCode = void (*)(void* handlerData, TRefObject* sender, int event, TRefObject* data);
    TCode code = nullptr;
    void* data = nullptr;
    friend bool operator==(const TEventHandler&, const TEventHandler&) = default;
};

template <auto Method, class TClass>
TEventHandler MakeEventHandler(TClass* object) {
    return {[](void* self, TRefObject* sender, int event, TRefObject* data) {
                (static_cast<TClass*>(self)->*Method)(sender, event, data);
            },
            object};
}

// One subscription; reference-counted so that a fire in progress keeps it alive.
class TEventListItem : public TRefObject {
public:
    TEventListItem(int event, TEventHandler handler) : event(event), handler(handler) {}
    const int event;
    const TEventHandler handler;
    TEventListItem* next = nullptr;
};

class TCustomEventList : public TRefObject {
public:
    // The next number from the process-wide counter; the first one handed out is 1.
    static int NewEventNumber();
};

class TEventList : public TCustomEventList {
public:
    static constexpr int kApplicationBuckets = 4096;
    static constexpr int kDefaultBuckets = 16;

    // The bucket count is clamped to 1..4096.
    explicit TEventList(int bucketCount = kDefaultBuckets);
    ~TEventList() override;

    void Subscribe(int event, TEventHandler handler);
    // Removes the first record of `event` with this handler in the chain, which is the newest
    // subscription of it; false when there is none.
    bool Unsubscribe(int event, TEventHandler handler);
    // Runs the handlers of exactly `event`, oldest subscription first.
    void Fire(TRefObject* sender, int event, TRefObject* data);
    // Releases every record.
    void Clear();

    int BucketCount() const { return bucketCount_; }
    // Handlers subscribed to `event` (for diagnostics and tests).
    int HandlerCount(int event);

private:
    std::size_t BucketOf(int event) const;

    const int bucketCount_;
    TSafeCriticalSection lock_;
    std::vector<TEventListItem*> buckets_; // grows to the highest used bucket, shrinks back
};

// An event list that can also carry events across threads.
class TPostEventList : public TEventList {
public:
    using TEventList::TEventList;
    // Queues the event for delivery on the owning thread; takes ownership of `data`.
    virtual void Post(int event, TRefObject* data) = 0;
    // Delivers the event on the owning thread and blocks until it ran; `data` stays the caller's.
    virtual void Send(int event, TRefObject* data) = 0;
};

} // namespace kiv

// The application's cross-thread queue: events that worker threads hand to the main thread.
// Each queued TEventItem is announced by one SDL user event naming it; the main thread looks the
// item up, fires its event number and releases it, which frees owned data and signals the item's
// completion event.
#pragma once

#include "base/RefObject.h"
#include "base/Sync.h"

#include <deque>

namespace kiv {

class TEventItem : public TRefObject {
public:
    TEventItem(int event, TRefObject* data, bool ownsData) : event(event), data(data), ownsData(ownsData) {}
    const int event;
    TRefObject* const data;
    const bool ownsData;
    TEvent done{TEvent::TReset::Manual};

    // Ends the queue's hold on the item: signals its sender, then drops the queue's reference
    // (the last one frees owned data).
    void Finish() {
        done.Set();
        Release();
    }

protected:
    ~TEventItem() override {
        if (ownsData && data) data->Release();
    }
};

class TWinAppEventList : public TRefObject {
public:
    // Appends (Post) or inserts at the head (Send). False when the queue is closed; the caller
    // keeps its reference then.
    bool Append(TEventItem* item);
    bool InsertFirst(TEventItem* item);
    // Removes `item` and hands the queue's reference to the caller; false when it is not queued.
    bool Take(TEventItem* item);
    // Removes the oldest item, or returns null.
    TEventItem* TakeFirst();
    // Closes the queue for good: every queued item is finished (its sender released).
    void Close();
    bool IsClosed();
    std::size_t Count();

protected:
    ~TWinAppEventList() override { Close(); }

private:
    TSafeCriticalSection lock_;
    std::deque<TEventItem*> items_;
    bool closed_ = false;
};

} // namespace kiv

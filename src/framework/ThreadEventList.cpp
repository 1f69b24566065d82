#include "framework/ThreadEventList.h"

#include "base/Assert.h"

namespace kiv {

TThreadEventList::TThreadEventList(THandler handler)
    : TEventList(kApplicationBuckets), handler_(std::move(handler)) {}

TThreadEventList::~TThreadEventList() { Close(); }

void TThreadEventList::Post(int code, TRefObject* data) {
    {
        TLockGuard guard(lock_);
        if (!closed_) {
            items_.push_back({code, data, {}});
            return;
        }
    }
    if (data) data->Release();
}

void TThreadEventList::Send(int code, TRefObject* data) {
    KIV_ASSERT_NOT_THREAD(owner_.load());
    // Shared, so that the owner may still be setting it while the sender returns.
    auto done = std::make_shared<TEvent>(TEvent::TReset::Manual);
    {
        TLockGuard guard(lock_);
        if (closed_) return;
        items_.push_back({code, data, done});
    }
    done->WaitFor();
}

bool TThreadEventList::HandleMessage(int code, TRefObject* data) { return handler_ && handler_(code, data); }

int TThreadEventList::ProcessAll() {
    std::thread::id unowned{};
    owner_.compare_exchange_strong(unowned, std::this_thread::get_id());
    KIV_ASSERT_THREAD(owner_.load());
    int handled = 0;
    for (;;) {
        TMessageItem item;
        {
            TLockGuard guard(lock_);
            if (items_.empty()) return handled;
            item = items_.front();
            items_.pop_front();
        }
        // The item is finished (sender released, posted data freed) even when a handler raises.
        struct TFinish {
            TMessageItem& item;
            ~TFinish() {
                if (item.done)
                    item.done->Set();
                else if (item.data)
                    item.data->Release();
            }
        } finish{item};
        if (!HandleMessage(item.code, item.data)) Fire(this, item.code, item.data);
        ++handled;
        if (StopAfter(item.code)) return handled;
    }
}

void TThreadEventList::Close() {
    std::deque<TMessageItem> discarded;
    {
        TLockGuard guard(lock_);
        closed_ = true;
        discarded.swap(items_);
        // Senders are released under the lock, as the queue is dropped.
        for (TMessageItem& item : discarded)
            if (item.done) item.done->Set();
    }
    for (TMessageItem& item : discarded)
        if (!item.done && item.data) item.data->Release();
}

bool TThreadEventList::IsClosed() {
    TLockGuard guard(lock_);
    return closed_;
}

std::size_t TThreadEventList::Count() {
    TLockGuard guard(lock_);
    return items_.size();
}

} // namespace kiv

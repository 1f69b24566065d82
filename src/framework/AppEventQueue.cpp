#include "framework/AppEventQueue.h"

#include <algorithm>

namespace kiv {

bool TWinAppEventList::Append(TEventItem* item) {
    TLockGuard guard(lock_);
    if (closed_) return false;
    items_.push_back(item);
    return true;
}

bool TWinAppEventList::InsertFirst(TEventItem* item) {
    TLockGuard guard(lock_);
    if (closed_) return false;
    items_.push_front(item);
    return true;
}

bool TWinAppEventList::Take(TEventItem* item) {
    TLockGuard guard(lock_);
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return false;
    items_.erase(it);
    return true;
}

TEventItem* TWinAppEventList::TakeFirst() {
    TLockGuard guard(lock_);
    if (items_.empty()) return nullptr;
    TEventItem* item = items_.front();
    items_.pop_front();
    return item;
}

void TWinAppEventList::Close() {
    std::deque<TEventItem*> discarded;
    {
        TLockGuard guard(lock_);
        closed_ = true;
        discarded.swap(items_);
    }
    for (TEventItem* item : discarded) item->Finish();
}

bool TWinAppEventList::IsClosed() {
    TLockGuard guard(lock_);
    return closed_;
}

std::size_t TWinAppEventList::Count() {
    TLockGuard guard(lock_);
    return items_.size();
}

} // namespace kiv

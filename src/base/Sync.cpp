#include "base/Sync.h"

namespace kiv {

void TEvent::Set() {
    std::lock_guard guard(mutex_);
    set_ = true;
    if (autoReset_)
        changed_.notify_one();
    else
        changed_.notify_all();
}

void TEvent::Reset() {
    std::lock_guard guard(mutex_);
    set_ = false;
}

bool TEvent::IsSet() {
    std::lock_guard guard(mutex_);
    return set_;
}

bool TEvent::WaitFor(std::int64_t timeoutMs) {
    std::unique_lock lock(mutex_);
    const auto isSet = [this] { return set_; };
    if (timeoutMs < 0)
        changed_.wait(lock, isSet);
    else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSet))
        return false;
    if (autoReset_) set_ = false;
    return true;
}

} // namespace kiv

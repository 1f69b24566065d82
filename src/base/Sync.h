// Locks and events of the base library.
//   TSafeCriticalSection: a re-entrant lock (the same thread may enter it again).
//   TEvent: a manual- or auto-reset event that threads wait on with a time-out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kiv {

inline constexpr std::int64_t kInfinite = -1;

class TSafeCriticalSection {
public:
    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    bool TryEnter() { return mutex_.try_lock(); }

    // BasicLockable, so std::lock_guard and std::unique_lock work too.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex mutex_;
};

using TLockGuard = std::lock_guard<TSafeCriticalSection>;

class TEvent {
public:
    enum class TReset { Manual, Auto };
    explicit TEvent(TReset reset = TReset::Manual, bool initiallySet = false)
        : autoReset_(reset == TReset::Auto), set_(initiallySet) {}
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    // Wakes every waiter (manual reset) or exactly one (auto reset).
    void Set();
    void Reset();
    bool IsSet();
    // Waits until the event is set or `timeoutMs` passes (kInfinite: no limit). True when set;
    // an auto-reset event is reset by the wait that sees it.
    bool WaitFor(std::int64_t timeoutMs = kInfinite);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const bool autoReset_;
    bool set_;
};

} // namespace kiv

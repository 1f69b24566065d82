// The process-wide device lock: one re-entrant lock that serialises every renderer operation,
// resource creation and destruction, store destruction and the main thread's creation handler.
// The same thread may take it again (nested operations).
//
// MainThreadId names the thread that makes and releases devices, for KIV_ASSERT_THREAD.
#pragma once

#include "base/Sync.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace kiv {

TSafeCriticalSection& DeviceLock();

// The time the calling thread spent waiting for the device lock, the drawer lock or an upload
// fence (nanoseconds), summed since the thread last reset it: what another thread's uploads cost
// the drawing thread. Frame measurements read and reset it per frame.
std::int64_t& ThreadLockWaitNanos();
// How many threads are waiting in LockCounted right now: a thread that takes the locks over and
// over in slices (uploads) lets them in between.
std::atomic<int>& LockWaiters();

// Takes `lock`, adding the time spent waiting to ThreadLockWaitNanos when it was held elsewhere.
template <class TLock> void LockCounted(TLock& lock) {
    if (lock.try_lock()) return;
    const auto start = std::chrono::steady_clock::now();
    ++LockWaiters();
    lock.lock();
    --LockWaiters();
    ThreadLockWaitNanos() +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
            .count();
}
inline void LockCounted(TSafeCriticalSection& lock) {
    if (lock.TryEnter()) return;
    const auto start = std::chrono::steady_clock::now();
    ++LockWaiters();
    lock.Enter();
    --LockWaiters();
    ThreadLockWaitNanos() +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
            .count();
}

class TDeviceLockGuard {
public:
    TDeviceLockGuard() { LockCounted(DeviceLock()); }
    ~TDeviceLockGuard() { DeviceLock().Leave(); }
    TDeviceLockGuard(const TDeviceLockGuard&) = delete;
    TDeviceLockGuard& operator=(const TDeviceLockGuard&) = delete;
};

// The application's main thread; without an application object, the thread that first asked (the
// program entry's thread). Devices are made and released there.
std::thread::id MainThreadId();
bool OnMainThread();

} // namespace kiv


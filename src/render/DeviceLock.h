// The process-wide device lock: one re-entrant lock that serialises every renderer operation,
// resource creation and destruction, store destruction and the main thread's creation handler.
// The same thread may take it again (nested operations).
//
// MainThreadId names the thread that makes and releases devices, for KIV_ASSERT_THREAD.
#pragma once

#include "base/Sync.h"

#include <thread>

namespace kiv {

TSafeCriticalSection& DeviceLock();

class TDeviceLockGuard {
public:
    TDeviceLockGuard() { DeviceLock().Enter(); }
    ~TDeviceLockGuard() { DeviceLock().Leave(); }
    TDeviceLockGuard(const TDeviceLockGuard&) = delete;
    TDeviceLockGuard& operator=(const TDeviceLockGuard&) = delete;
};

// The application's main thread; without an application object, the thread that first asked (the
// program entry's thread). Devices are made and released there.
std::thread::id MainThreadId();
bool OnMainThread();

} // namespace kiv


// The process-wide device lock: one re-entrant lock that serialises every renderer operation,
// resource creation and destruction, store destruction and the main thread's creation handler.
// The same thread may take it again (nested operations).
//
// The main-thread check guards the calls that must come from the main thread (device creation and
// release); it should become KIV_ASSERT_THREAD once base/Assert.h offers it.
#pragma once

#include "base/Sync.h"

namespace kiv {

TSafeCriticalSection& DeviceLock();

class TDeviceLockGuard {
public:
    TDeviceLockGuard() { DeviceLock().Enter(); }
    ~TDeviceLockGuard() { DeviceLock().Leave(); }
    TDeviceLockGuard(const TDeviceLockGuard&) = delete;
    TDeviceLockGuard& operator=(const TDeviceLockGuard&) = delete;
};

// True on the application's main thread; without an application object, on the thread that first
// asked (the program entry's thread).
bool OnMainThread();

} // namespace kiv

// A call that must come from the main thread; an assertion failure otherwise.
#define KIV_RENDER_ASSERT_MAIN_THREAD() KIV_ASSERT(::kiv::OnMainThread(), "not on the main thread")

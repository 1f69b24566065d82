#include "render/DeviceLock.h"

#include "framework/Application.h"

#include <thread>

namespace kiv {

TSafeCriticalSection& DeviceLock() {
    static TSafeCriticalSection lock;
    return lock;
}

std::int64_t& ThreadLockWaitNanos() {
    thread_local std::int64_t nanos = 0;
    return nanos;
}

std::atomic<int>& LockWaiters() {
    static std::atomic<int> waiters{0};
    return waiters;
}

std::thread::id MainThreadId() {
    if (auto* app = dynamic_cast<TWinApplication*>(TApplication::Instance())) return app->MainThread();
    static const std::thread::id first = std::this_thread::get_id();
    return first;
}

bool OnMainThread() {
    return std::this_thread::get_id() == MainThreadId();
}

} // namespace kiv

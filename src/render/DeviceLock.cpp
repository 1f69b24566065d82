#include "render/DeviceLock.h"

#include "framework/Application.h"

#include <thread>

namespace kiv {

TSafeCriticalSection& DeviceLock() {
    static TSafeCriticalSection lock;
    return lock;
}

bool OnMainThread() {
    if (auto* app = dynamic_cast<TWinApplication*>(TApplication::Instance())) return app->IsMainThread();
    static const std::thread::id first = std::this_thread::get_id();
    return std::this_thread::get_id() == first;
}

} // namespace kiv

#include "package/LoadCallback.h"

#include <atomic>

namespace kiv {

namespace {

std::atomic<bool (*)()> processHook{nullptr};

bool CallHook(void*) { return CallProcessLoadHook(); }

} // namespace

void SetProcessLoadHook(bool (*hook)()) { processHook.store(hook, std::memory_order_release); }

bool CallProcessLoadHook() {
    bool (*hook)() = processHook.load(std::memory_order_acquire);
    return hook ? hook() : true;
}

TLoadCallback ProcessLoadCallback() { return TLoadCallback{&CallHook, nullptr}; }

} // namespace kiv

#include "package/LoadModes.h"

#include "base/Clock.h"
#include "package/LoadCallback.h"

#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace kiv {

namespace {

std::atomic<int> mode{0};
std::atomic<std::int64_t> lastYield{0};

constexpr std::int64_t kYieldInterval = 5;

// Yields when the interval since the last yield has passed; `pause` chooses between giving up
// the time slice and sleeping a millisecond.
void YieldWhenDue(bool pause) {
    const std::int64_t now = ProcessMilliseconds();
    if (now - lastYield.load(std::memory_order_relaxed) <= kYieldInterval) return;
    if (pause)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    else
        ::sched_yield();
    lastYield.store(ProcessMilliseconds(), std::memory_order_relaxed);
}

} // namespace

void SetLoadMode(int newMode) {
    if (newMode < 0 || newMode > 3) newMode = 0;
    // Mode 2 raises the process to a high priority class on the original platform. A Linux
    // process may not raise its own priority without privileges, and the scheduler serves the
    // playing threads well enough, so entering and leaving mode 2 deliberately changes nothing.
    mode.store(newMode, std::memory_order_relaxed);
    SetProcessLoadHook(&LoadModeCallback);
}

int LoadMode() {
    return mode.load(std::memory_order_relaxed);
}

bool LoadModeCallback() {
    switch (mode.load(std::memory_order_relaxed)) {
    case 1:
        YieldWhenDue(false);
        return true;
    case 2:
        YieldWhenDue(true);
        return true;
    case 3:
        return false;
    default:
        return true;
    }
}

} // namespace kiv

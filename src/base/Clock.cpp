#include "base/Clock.h"

#include <chrono>

namespace kiv {

namespace {
// Captured during static initialisation, so "since start" means since the program was loaded.
const auto processStart = std::chrono::steady_clock::now();
} // namespace

std::int64_t ProcessMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 processStart)
        .count();
}

} // namespace kiv

#include "project/TransitionRandom.h"

#include <chrono>
#include <limits>

namespace kiv {

namespace {

std::uint64_t ClockSeed() {
    return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
           static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
}

} // namespace

TTransitionRandom::TTransitionRandom() : engine_(ClockSeed()) {}

TTransitionRandom::TTransitionRandom(std::uint64_t seed) : engine_(seed), fixedSeed_(seed) {}

void TTransitionRandom::Reseed() {
    if (!fixedSeed_) engine_.seed(ClockSeed());
}

std::int32_t TTransitionRandom::Below(std::int32_t count) {
    if (count <= 1) return 0;
    // Rejection keeps the draw uniform and independent of the standard library's distributions.
    const auto range = static_cast<std::uint64_t>(count);
    const std::uint64_t limit =
        std::numeric_limits<std::uint64_t>::max() - std::numeric_limits<std::uint64_t>::max() % range;
    std::uint64_t value = 0;
    do {
        value = engine_();
    } while (value >= limit);
    return static_cast<std::int32_t>(value % range);
}

} // namespace kiv

// The random generator behind the transition choice (pool order, variant, mosaic seed). By default
// every Reseed takes a new seed from the clock, so each show run differs; a generator made with a
// fixed seed ignores Reseed and replays the same sequence (kivtool transitions --seed, tests). The
// numbers come from a fixed algorithm, so a seed gives the same draws on every build.
#pragma once

#include "base/RefObject.h"

#include <cstdint>
#include <optional>
#include <random>

namespace kiv {

class TTransitionRandom : public TRefObject {
public:
    // Seeded from the clock; reseeded from it on every Reseed.
    TTransitionRandom();
    // Seeded once with `seed`; Reseed does nothing.
    explicit TTransitionRandom(std::uint64_t seed);

    void Reseed();
    // Uniform in 0 .. count-1 (0 when count is 0 or less).
    std::int32_t Below(std::int32_t count);

protected:
    ~TTransitionRandom() override = default;

private:
    std::mt19937_64 engine_;
    std::optional<std::uint64_t> fixedSeed_;
};

} // namespace kiv

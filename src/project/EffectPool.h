// The show-wide pool of enabled transitions that slides marked "default" or "defowntime" draw from.
// Built once from the effect catalog; each pass over the pool uses every descriptor once in a new
// random order, and each draw picks one variant of the drawn descriptor, alternating between odd
// and even variants. Not locked: drawn by one thread (the slide producer).
#pragma once

#include "base/RefObject.h"
#include "project/KivEffect.h"
#include "project/TransitionRandom.h"

#include <cstdint>
#include <vector>

namespace kiv {

class TKIVEffectManager;

class TEffectPool {
public:
    // `random` is shared with the owner (it also seeds mosaics).
    explicit TEffectPool(TRef<TTransitionRandom> random);

    // Empties the pool, reads the show-wide default time and fills the pool from the catalog's
    // enabled entries; then shuffles the order.
    void Build(TKIVEffectManager& catalog);

    // The show-wide transition time (`time` of the show-wide settings read as a decimal number; 0
    // when not a number, and never negative).
    double DefaultTime() const { return defaultTime_; }

    std::int32_t Size() const { return static_cast<std::int32_t>(pool_.size()); }
    const TKivEffect& At(std::int32_t position) const { return *pool_[static_cast<std::size_t>(position)]; }
    const std::vector<std::int32_t>& Order() const { return order_; }
    std::int64_t PickCounter() const { return pickCounter_; }
    bool ParityBit() const { return parityBit_; }

    // Reseeds the generator and shuffles the order.
    void Shuffle();
    // The next descriptor of the pass narrowed to one variant; none when the pool is empty. The
    // caller owns the copy (its custom section is shared with the pool).
    TRef<TKivEffect> Pick();

private:
    void Append(TRef<TKivEffect> effect);

    TRef<TTransitionRandom> random_;
    std::vector<TRef<TKivEffect>> pool_;
    std::vector<std::int32_t> order_;
    std::int64_t pickCounter_ = 0;
    bool parityBit_ = false;
    double defaultTime_ = 0;
};

} // namespace kiv

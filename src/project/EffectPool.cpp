#include "project/EffectPool.h"

#include "ini/IniValues.h"
#include "project/EffectManager.h"

#include <cmath>
#include <map>
#include <numeric>
#include <utility>

namespace kiv {

namespace {

// Most descriptors a pool holds; further enabled transitions are left out so that no project can
// make the player copy variant descriptions without bound.
constexpr std::size_t kMaxPoolSize = 1024;

} // namespace

TEffectPool::TEffectPool(TRef<TTransitionRandom> random) : random_(std::move(random)) {}

void TEffectPool::Append(TRef<TKivEffect> effect) {
    if (pool_.size() < kMaxPoolSize) pool_.push_back(std::move(effect));
}

void TEffectPool::Build(TKIVEffectManager& catalog) {
    pool_.clear();
    const double time = ParseIniReal(catalog.DefaultTimeText()).value_or(0);
    defaultTime_ = std::isfinite(time) && time > 0 ? time : 0;
    const std::int32_t count = catalog.EntryCount();
    for (std::int32_t index = 0; index < count && pool_.size() < kMaxPoolSize; ++index) {
        TEffectProp* entry = catalog.Entry(index);
        if (!entry || entry->Enabled() == 0) continue;
        if (!entry->IsCustom()) {
            const std::uint32_t code = EffectFamilyOfStdIndex(entry->StdIndex());
            if (code == 0) continue;
            TRef<TKivEffect> effect =
                code == kEffectCustom ? BuildFirstVariantEffect(*entry) : BuildFamilyEffect(code, *entry);
            if (effect->variantCount > 0) Append(std::move(effect));
            continue;
        }
        // Variants that name the same section share one copy of its description.
        std::map<std::string, TRef<TIniSection>> copies;
        const std::int32_t variants = entry->VariantCount();
        for (std::int32_t variant = 0; variant < variants && pool_.size() < kMaxPoolSize; ++variant) {
            if (!entry->VariantEnabled(variant)) continue;
            const TIniItem* item = entry->VariantItem(variant);
            if (!item) continue;
            TRef<TIniSection>& copy = copies[item->Value()];
            if (!copy) copy = entry->VariantCopy(variant);
            if (copy) Append(BuildCustomEffect(copy));
        }
    }
    order_.resize(pool_.size());
    std::iota(order_.begin(), order_.end(), 0);
    Shuffle();
}

void TEffectPool::Shuffle() {
    random_->Reseed();
    const auto n = static_cast<std::int32_t>(order_.size());
    for (std::int32_t i = 0; i + 1 < n; ++i) {
        // Drawn from the first n - i positions, not from i .. n-1.
        const std::int32_t j = random_->Below(n - i);
        if (j != i) std::swap(order_[static_cast<std::size_t>(i)], order_[static_cast<std::size_t>(j)]);
    }
}

TRef<TKivEffect> TEffectPool::Pick() {
    if (pool_.empty()) return nullptr;
    const auto n = static_cast<std::int64_t>(pool_.size());
    const auto position = static_cast<std::size_t>(pickCounter_ % n);
    ++pickCounter_;
    if (position == 0) Shuffle();
    const TKivEffect& drawn = *pool_[static_cast<std::size_t>(order_[position])];
    std::int32_t variant = random_->Below(drawn.variantCount);
    if ((variant % 2 == 0) != parityBit_) {
        ++variant;
        if (variant == drawn.variantCount) variant = 0;
    }
    parityBit_ = !parityBit_;
    TRef<TKivEffect> copy = drawn.Copy();
    copy->KeepVariant(variant);
    return copy;
}

} // namespace kiv

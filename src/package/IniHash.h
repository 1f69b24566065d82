// Hash buckets over named items (private to the INI document). The number of buckets is a power
// of two, at least 16 and at least the number of names; each chain runs by descending index, so
// the first match is the item that stands last.
#pragma once

#include "base/CaseFold.h"
#include "package/IniFile.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct TIniHashIndex {
    static constexpr std::size_t kMinBuckets = 16;

    static std::uint32_t HashOf(TIniItem& item) {
        if (!item.hashValid_) {
            item.hash_ = FoldedHash(item.name_);
            item.hashValid_ = true;
        }
        return item.hash_;
    }

    static std::size_t BucketCountFor(std::size_t names) {
        std::size_t count = kMinBuckets;
        while (count < names) count *= 2;
        return count;
    }

    // Builds the buckets over `items` (ascending index) for which `take` is true.
    template <class Items, class Take>
    static void Build(std::vector<TIniItem*>& buckets, const Items& items, std::size_t names, Take take) {
        buckets.assign(BucketCountFor(names), nullptr);
        for (const auto& ref : items) {
            TIniItem* item = ref.Get();
            if (!take(*item)) continue;
            TIniItem*& head = buckets[HashOf(*item) & (buckets.size() - 1)];
            item->hashNext_ = head; // ascending order in, descending order in the chain
            head = item;
        }
    }

    // Links an item whose index is already final into its chain.
    static void Link(std::vector<TIniItem*>& buckets, TIniItem& item) {
        TIniItem** link = &buckets[HashOf(item) & (buckets.size() - 1)];
        while (*link && (*link)->index_ > item.index_) link = &(*link)->hashNext_;
        item.hashNext_ = *link;
        *link = &item;
    }

    static void Unlink(std::vector<TIniItem*>& buckets, TIniItem& item) {
        TIniItem** link = &buckets[HashOf(item) & (buckets.size() - 1)];
        while (*link && *link != &item) link = &(*link)->hashNext_;
        if (*link) *link = item.hashNext_;
        item.hashNext_ = nullptr;
    }

    static TIniItem* Find(const std::vector<TIniItem*>& buckets, std::string_view name) {
        if (buckets.empty()) return nullptr;
        const std::uint32_t hash = FoldedHash(name);
        std::string folded;
        bool haveFolded = false;
        for (TIniItem* item = buckets[hash & (buckets.size() - 1)]; item; item = item->hashNext_) {
            if (HashOf(*item) != hash) continue;
            if (item->name_ == name) return item;
            if (!haveFolded) {
                folded = FoldUtf8(name);
                haveFolded = true;
            }
            if (FoldUtf8(item->name_) == folded) return item;
        }
        return nullptr;
    }

    // Checks that every chain runs by strictly descending index and holds only items of its bucket.
    static bool ChainsOrdered(const std::vector<TIniItem*>& buckets) {
        for (std::size_t b = 0; b < buckets.size(); ++b) {
            for (TIniItem* item = buckets[b]; item; item = item->hashNext_) {
                if ((HashOf(*item) & (buckets.size() - 1)) != b) return false;
                if (item->hashNext_ && item->hashNext_->index_ >= item->index_) return false;
            }
        }
        return true;
    }
};

} // namespace kiv

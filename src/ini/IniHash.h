// Hash buckets over named items (private to the INI document). The number of buckets is a power
// of two, at least 16 and at least the number of names; each chain runs by descending index, so
// the first match is the item that stands last.
#pragma once

#include <mutex>

#include "base/CaseFold.h"
#include "base/Utf.h"
#include "ini/IniFile.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// Serialises the lazy building of lookup buckets (rare; lookups themselves take no lock).
inline std::mutex& IniBucketBuildLock() {
    static std::mutex lock;
    return lock;
}

// The bytes FoldUtf8 would produce, one at a time, without building the folded text.
class TFoldedBytes {
public:
    explicit TFoldedBytes(std::string_view text) : text_(text) {}

    // The next byte, or -1 at the end.
    int Next() {
        if (bufferPos_ < bufferLength_) return buffer_[bufferPos_++];
        if (pos_ >= text_.size()) return -1;
        const auto byte = static_cast<unsigned char>(text_[pos_]);
        if (byte < 0x80) {
            ++pos_;
            return byte >= 'A' && byte <= 'Z' ? byte + 32 : byte;
        }
        const std::size_t start = pos_;
        bool valid = true;
        const char32_t cp = DecodeUtf8(text_, pos_, &valid);
        if (!valid) return static_cast<unsigned char>(text_[start]); // copied unchanged
        Encode(FoldCodePoint(cp));
        bufferPos_ = 1;
        return buffer_[0];
    }

private:
    void Encode(char32_t cp) {
        if (cp < 0x80) {
            buffer_[0] = static_cast<unsigned char>(cp);
            bufferLength_ = 1;
        } else if (cp < 0x800) {
            buffer_[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
            buffer_[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            bufferLength_ = 2;
        } else if (cp < 0x10000) {
            buffer_[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
            buffer_[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            buffer_[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            bufferLength_ = 3;
        } else {
            buffer_[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
            buffer_[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
            buffer_[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            buffer_[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            bufferLength_ = 4;
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    unsigned char buffer_[4] = {};
    int bufferLength_ = 0;
    int bufferPos_ = 0;
};

// FoldUtf8(a) == FoldUtf8(b), without allocating.
inline bool FoldedEqual(std::string_view a, std::string_view b) {
    // ASCII folds byte by byte: compare the common ASCII start directly and fold the rest.
    std::size_t start = 0;
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (; start < common; ++start) {
        auto x = static_cast<unsigned char>(a[start]);
        auto y = static_cast<unsigned char>(b[start]);
        if ((x | y) >= 0x80) break;
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    if (start == a.size() && start == b.size()) return true;
    TFoldedBytes left(a.substr(start));
    TFoldedBytes right(b.substr(start));
    for (;;) {
        const int x = left.Next();
        if (x != right.Next()) return false;
        if (x < 0) return true;
    }
}

struct TIniHashIndex {
    static constexpr std::size_t kMinBuckets = 16;

    // Not kept in the item: an item is hashed when its buckets are built or it joins or leaves
    // them, and lookups compare names along a chain of about one item.
    static std::uint32_t HashOf(const TIniItem& item) { return FoldedHash(item.name_); }

    static std::size_t BucketCountFor(std::size_t names) {
        std::size_t count = kMinBuckets;
        while (count < names)
            count *= 2;
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
        while (*link && (*link)->index_ > item.index_)
            link = &(*link)->hashNext_;
        item.hashNext_ = *link;
        *link = &item;
    }

    static void Unlink(std::vector<TIniItem*>& buckets, TIniItem& item) {
        TIniItem** link = &buckets[HashOf(item) & (buckets.size() - 1)];
        while (*link && *link != &item)
            link = &(*link)->hashNext_;
        if (*link) *link = item.hashNext_;
        item.hashNext_ = nullptr;
    }

    static TIniItem* Find(const std::vector<TIniItem*>& buckets, std::string_view name) {
        if (buckets.empty()) return nullptr;
        const std::uint32_t hash = FoldedHash(name);
        for (TIniItem* item = buckets[hash & (buckets.size() - 1)]; item; item = item->hashNext_)
            if (item->name_ == name || FoldedEqual(item->name_, name)) return item;
        return nullptr;
    }

    // --- The document's section table: open addressing over (hash, index + 1) slots, at most half
    // full, so that a lookup compares hashes in one or two adjacent slots before it reads a name.
    // A slot holds the last section of its folded name. ---

    static std::size_t SlotCountFor(std::size_t names) {
        std::size_t count = kMinBuckets;
        while (count < 2 * names)
            count *= 2;
        return count;
    }

    // Puts section `index` (0-based) of `sections`, whose name hashes to `hash`, into its slot,
    // replacing an earlier one of the same folded name.
    template <class Sections>
    static void PutSlot(std::vector<TIniSectionSlot>& slots, const Sections& sections, std::size_t index,
                        std::uint32_t hash) {
        const TIniItem& section = *sections[index];
        const std::size_t mask = slots.size() - 1;
        for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
            TIniSectionSlot& slot = slots[at];
            if (slot.index == 0 ||
                (slot.hash == hash && FoldedEqual(sections[slot.index - 1]->name_, section.name_))) {
                slot = {hash, static_cast<std::uint32_t>(index + 1)};
                return;
            }
        }
    }

    template <class Sections>
    static void BuildSlots(std::vector<TIniSectionSlot>& slots, const Sections& sections) {
        slots.assign(SlotCountFor(sections.size()), TIniSectionSlot{});
        for (std::size_t i = 0; i < sections.size(); ++i)
            PutSlot(slots, sections, i, HashOf(*sections[i]));
    }

    // Doubles the table from the hashes it holds, without reading a name.
    static void GrowSlots(std::vector<TIniSectionSlot>& slots) {
        std::vector<TIniSectionSlot> grown(slots.size() * 2);
        const std::size_t mask = grown.size() - 1;
        for (const TIniSectionSlot& slot : slots) {
            if (slot.index == 0) continue;
            std::size_t at = slot.hash & mask;
            while (grown[at].index != 0)
                at = (at + 1) & mask;
            grown[at] = slot;
        }
        slots.swap(grown);
    }

    // The index of the section of that name, or -1.
    template <class Sections>
    static int FindSlot(const std::vector<TIniSectionSlot>& slots, const Sections& sections,
                        std::string_view name, std::uint32_t hash) {
        if (slots.empty()) return -1;
        const std::size_t mask = slots.size() - 1;
        for (std::size_t at = hash & mask; slots[at].index != 0; at = (at + 1) & mask) {
            if (slots[at].hash != hash) continue;
            const TIniItem& section = *sections[slots[at].index - 1];
            if (section.name_ == name || FoldedEqual(section.name_, name))
                return static_cast<int>(slots[at].index - 1);
        }
        return -1;
    }

    // Every section is found at its own index (the last of its folded name wins), and the table
    // is at most half full.
    template <class Sections>
    static bool SlotsMatch(const std::vector<TIniSectionSlot>& slots, const Sections& sections) {
        if (slots.size() < 2 * sections.size()) return false;
        for (std::size_t i = 0; i < sections.size(); ++i) {
            const int found = FindSlot(slots, sections, sections[i]->name_, HashOf(*sections[i]));
            if (found < static_cast<int>(i) ||
                !FoldedEqual(sections[static_cast<std::size_t>(found)]->name_, sections[i]->name_))
                return false;
        }
        return true;
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

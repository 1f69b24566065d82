// THashList<T>: values kept in insertion order and found by name without regard to case (simple
// case folding). Adding a name that exists replaces its value and keeps its place.
#pragma once

#include "base/CaseFold.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kiv {

template <class T>
class THashList {
public:
    struct TEntry {
        std::string name;
        T value;
    };

    void Add(std::string_view name, T value) {
        std::string folded = FoldUtf8(name);
        if (auto it = index_.find(folded); it != index_.end()) {
            entries_[it->second].value = std::move(value);
            return;
        }
        index_.emplace(std::move(folded), entries_.size());
        entries_.push_back({std::string(name), std::move(value)});
    }

    T* Find(std::string_view name) {
        auto it = index_.find(FoldUtf8(name));
        return it == index_.end() ? nullptr : &entries_[it->second].value;
    }
    const T* Find(std::string_view name) const { return const_cast<THashList*>(this)->Find(name); }

    bool Remove(std::string_view name) {
        auto it = index_.find(FoldUtf8(name));
        if (it == index_.end()) return false;
        const std::size_t removed = it->second;
        index_.erase(it);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(removed));
        for (auto& [key, position] : index_)
            if (position > removed) --position;
        return true;
    }

    void Clear() {
        entries_.clear();
        index_.clear();
    }
    std::size_t Count() const { return entries_.size(); }
    const std::vector<TEntry>& Entries() const { return entries_; }

private:
    std::vector<TEntry> entries_;
    std::unordered_map<std::string, std::size_t> index_; // folded name -> position
};

} // namespace kiv

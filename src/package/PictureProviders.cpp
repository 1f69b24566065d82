#include "package/PictureProviders.h"

#include <algorithm>

namespace kiv {

std::uint64_t TPictureProviderList::Add(TPictureProvider provider) {
    std::lock_guard lock(mutex_);
    const std::uint64_t id = nextId_++;
    entries_.emplace_back(id, provider);
    return id;
}

void TPictureProviderList::Remove(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [id](const auto& entry) { return entry.first == id; });
}

std::vector<TPictureProvider> TPictureProviderList::Snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<TPictureProvider> providers;
    providers.reserve(entries_.size());
    for (const auto& entry : entries_)
        providers.push_back(entry.second);
    return providers;
}

TCallbackHandle::~TCallbackHandle() {
    if (auto list = list_.lock()) list->Remove(id_);
}

} // namespace kiv

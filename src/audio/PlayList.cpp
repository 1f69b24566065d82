#include "audio/PlayList.h"

#include <algorithm>

namespace kiv {

void TPlayList::Add(const std::string& file, double length) {
    Add(TMusicItemInfo{file, totalLength_, 0, length});
}

void TPlayList::Add(TMusicItemInfo item) {
    // The storage grows to 1, then 8, then doubles.
    if (items_.size() == items_.capacity())
        items_.reserve(items_.empty() ? 1 : items_.size() == 1 ? 8 : items_.size() * 2);
    totalLength_ = std::max(totalLength_, item.start + item.length);
    items_.push_back(std::move(item));
}

TMusicItemInfo TPlayList::Item(std::int64_t index) const {
    if (items_.empty() || index < 0) return {};
    const auto count = static_cast<std::int64_t>(items_.size());
    TMusicItemInfo item = items_[static_cast<std::size_t>(index % count)];
    item.start += static_cast<double>(index / count) * totalLength_;
    return item;
}

} // namespace kiv

// A playlist: sound items (a file name or a composite description) on one timeline, optionally
// repeating. The background music is a playlist of at most one item, the composite of all tracks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

struct TMusicItemInfo {
    std::string file;  // a file name or a composite description
    double start = 0;  // ms on the playlist's timeline
    double offset = 0; // ms inside the file
    double length = 0; // ms
};

class TPlayList {
public:
    std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
    // The largest start + length of the items.
    double TotalLength() const { return totalLength_; }
    bool Repeat() const { return repeat_; }
    void SetRepeat(bool repeat) { repeat_ = repeat; }

    // Adds `file` at the current total length with offset 0.
    void Add(const std::string& file, double length);
    void Add(TMusicItemInfo item);

    // Item `index`: for index >= count the item index mod count of pass index div count, its start
    // shifted by the pass times the total length. An empty item when the list is empty or the index
    // is negative.
    TMusicItemInfo Item(std::int64_t index) const;

private:
    std::vector<TMusicItemInfo> items_;
    double totalLength_ = 0;
    bool repeat_ = false;
};

} // namespace kiv

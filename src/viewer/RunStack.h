// The run stack of the main window: one command-line text per show left through
// "runpresentationandreturn(", so that closing the show reached that way returns to the previous
// show at the slide it was left on. Main thread only.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kiv {

struct TRunStackItem {
    // A show command line: the show between double quotes and "-slide N".
    std::string text;
};

class TRunStack {
public:
    void Push(TRunStackItem item) { items_.push_back(std::move(item)); }
    // Removes and returns the newest item; nothing when empty.
    std::optional<TRunStackItem> Pop() {
        if (items_.empty()) return std::nullopt;
        TRunStackItem item = std::move(items_.back());
        items_.pop_back();
        return item;
    }
    bool Empty() const { return items_.empty(); }
    int Count() const { return static_cast<int>(items_.size()); }
    const TRunStackItem& Item(int index) const { return items_.at(static_cast<std::size_t>(index)); }

private:
    std::vector<TRunStackItem> items_;
};

} // namespace kiv

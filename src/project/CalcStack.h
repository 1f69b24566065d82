// TCalcStack: the value stack of the formula machine. The top value is held apart from the values
// below it, so the one-input commands that dominate compiled formulas touch no memory but the top.
// A stack belongs to one owner and is not shared between threads.
#pragma once

#include <vector>

namespace kiv {

class TCalcStack {
public:
    TCalcStack() { below_.reserve(8); }

    // Empties the stack: count 0, top 0.
    void Reset() noexcept {
        count_ = 0;
        top_ = 0.0;
        below_.clear();
    }

    void Push(double value) {
        if (count_ > 0) below_.push_back(top_);
        top_ = value;
        ++count_;
    }

    // Returns the top value; the next value becomes the top. Popping the last value leaves the top
    // as it was, and popping an empty stack returns that top (0 after a reset) with the count
    // staying 0, so a function that takes more than it was given cannot read outside the stack.
    double Pop() noexcept {
        const double value = top_;
        if (count_ > 1) {
            top_ = below_.back();
            below_.pop_back();
        }
        if (count_ > 0) --count_;
        return value;
    }

    double Top() const noexcept { return top_; }
    // Replaces the top value; on an empty stack it only sets the value a Pop would return.
    void SetTop(double value) noexcept { top_ = value; }
    int Count() const noexcept { return count_; }

private:
    int count_ = 0;
    double top_ = 0.0;
    std::vector<double> below_;
};

} // namespace kiv

#include "engine/MouseMoveDetector.h"

#include <cstdlib>

namespace kiv {

void TMouseMoveDetector::Sample(int x, int y, std::int64_t now) {
    if (samples_ == 0) {
        x_ = x;
        y_ = y;
        samples_ = 1;
        return;
    }
    ++samples_;
    if (std::abs(static_cast<long long>(x) - x_) + std::abs(static_cast<long long>(y) - y_) >= 6) {
        x_ = x;
        y_ = y;
        lastMove_ = now;
        moved_ = true;
    }
}

bool TMouseMoveDetector::IsIdle(std::int64_t now) {
    if (resetPending_) {
        resetPending_ = false;
        lastMove_ = now;
        moved_ = true;
    }
    // Before the first move the mouse counts as resting.
    if (!moved_) return true;
    return now - lastMove_ > idleInterval_;
}

} // namespace kiv

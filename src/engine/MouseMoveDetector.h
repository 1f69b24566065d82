// TMouseMoveDetector: tells whether the mouse moved recently. A move counts when the pointer went
// 6 pixels or more (|dx| + |dy|) from the last recorded position; the detector is idle when more
// than the idle interval passed since the last recorded move.
#pragma once

#include <cstdint>

namespace kiv {

class TMouseMoveDetector {
public:
    void SetIdleInterval(std::int64_t ms) noexcept { idleInterval_ = ms; }
    std::int64_t IdleInterval() const noexcept { return idleInterval_; }

    // A pointer position at clock time `now`; the first sample only records it.
    void Sample(int x, int y, std::int64_t now);
    // Idle at `now`; a pending reset first records `now` as the last move.
    bool IsIdle(std::int64_t now);
    // The panel counts as just used: the next query records its time as the last move.
    void Reset() noexcept { resetPending_ = true; }

    std::int64_t LastMoveTime() const noexcept { return lastMove_; }
    int SampleCount() const noexcept { return samples_; }

private:
    int x_ = 0;
    int y_ = 0;
    int samples_ = 0;
    std::int64_t lastMove_ = 0;
    std::int64_t idleInterval_ = 0;
    bool resetPending_ = false;
    bool moved_ = false; // a move was recorded since creation
};

} // namespace kiv

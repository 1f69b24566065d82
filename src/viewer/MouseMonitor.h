// TMouseMonitor: the main window's mouse cursor. It follows whether the cursor is inside the
// window's client area (enter and leave callbacks) and hides the cursor for a show that asks for
// it ([Main] opt_hidecursor): for the whole show, or after the cursor rested for the hide interval;
// a move of more than 4 pixels on either axis shows it again. The window feeds it cursor moves and
// timer ticks (every 20 ms while the cursor is inside). Main thread only; the clock is injectable.
#pragma once

#include "render/RenderTypes.h"

#include <cstdint>
#include <functional>

namespace kiv {

class TIniFile;

class TMouseMonitor {
public:
    static constexpr std::int64_t kTimerMs = 20;
    static constexpr int kMoveThreshold = 4;

    explicit TMouseMonitor(std::function<std::int64_t()> clock = {});

    std::function<void()> OnEnter;
    std::function<void()> OnLeave;
    // A real change of the hidden state (true: hide the cursor).
    std::function<void(bool hidden)> OnVisibility;
    // Called first on every move, update and tick (the hand cursor over objects with actions).
    std::function<void()> OnPoll;

    // The show's choice: 1 hidden for the whole show; 2 hidden now and again after the interval
    // (seconds); anything else shown.
    void ApplyShowOptions(const TIniFile& project, TPoint cursor);
    // Negative values count as 0 (off).
    void SetHideInterval(std::int64_t milliseconds);
    void SetHidden(bool hidden, TPoint cursor);

    // The cursor at `cursor` (window coordinates) in a client area of `clientSize`.
    void CursorMoved(TPoint cursor, TPoint clientSize);
    // A timer tick or window update.
    void Tick(TPoint cursor, TPoint clientSize);

    bool Inside() const { return inside_; }
    bool Hidden() const { return hidden_; }
    std::int64_t HideInterval() const { return hideInterval_; }
    // True while the 20 ms timer should run (the cursor is inside).
    bool TimerWanted() const { return inside_; }

private:
    void Update(TPoint cursor, TPoint clientSize);

    std::function<std::int64_t()> clock_;
    bool inside_ = false;
    bool hidden_ = false;
    std::int64_t hideInterval_ = 0;
    std::int64_t lastChange_ = 0;
    TPoint lastPosition_;
};

} // namespace kiv

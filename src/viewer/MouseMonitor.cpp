#include "viewer/MouseMonitor.h"

#include "base/Clock.h"
#include "ini/IniFile.h"

#include <cstdlib>

namespace kiv {

TMouseMonitor::TMouseMonitor(std::function<std::int64_t()> clock)
    : clock_(clock ? std::move(clock) : ProcessMilliseconds) {
    lastChange_ = clock_();
}

void TMouseMonitor::ApplyShowOptions(const TIniFile& project, TPoint cursor) {
    switch (project.ReadInteger("Main", "opt_hidecursor", 0)) {
    case 1:
        SetHideInterval(0);
        SetHidden(true, cursor);
        break;
    case 2:
        SetHideInterval(static_cast<std::int64_t>(project.ReadInteger("Main", "opt_hc2_hideinterval", 0)) *
                        1000);
        SetHidden(true, cursor);
        break;
    default:
        SetHideInterval(0);
        SetHidden(false, cursor);
        break;
    }
}

void TMouseMonitor::SetHideInterval(std::int64_t milliseconds) {
    hideInterval_ = milliseconds < 0 ? 0 : milliseconds;
}

void TMouseMonitor::SetHidden(bool hidden, TPoint cursor) {
    lastChange_ = clock_();
    lastPosition_ = cursor;
    if (hidden == hidden_) return;
    hidden_ = hidden;
    if (OnVisibility) OnVisibility(hidden);
}

void TMouseMonitor::Update(TPoint cursor, TPoint clientSize) {
    if (OnPoll) OnPoll();
    const bool inside = cursor.x >= 0 && cursor.y >= 0 && cursor.x < clientSize.x && cursor.y < clientSize.y;
    if (inside != inside_) {
        inside_ = inside;
        if (inside ? OnEnter : OnLeave) (inside ? OnEnter : OnLeave)();
    }
    // Unsigned, as the system's tick counts compare: a clock that went back counts as long ago.
    const auto elapsed = static_cast<std::uint64_t>(clock_() - lastChange_);
    if (hideInterval_ > 0 && elapsed > static_cast<std::uint64_t>(hideInterval_)) SetHidden(true, cursor);
}

void TMouseMonitor::CursorMoved(TPoint cursor, TPoint clientSize) {
    Update(cursor, clientSize);
    if (hideInterval_ > 0 && (std::abs(cursor.x - lastPosition_.x) > kMoveThreshold ||
                              std::abs(cursor.y - lastPosition_.y) > kMoveThreshold))
        SetHidden(false, cursor);
}

void TMouseMonitor::Tick(TPoint cursor, TPoint clientSize) {
    Update(cursor, clientSize);
}

} // namespace kiv

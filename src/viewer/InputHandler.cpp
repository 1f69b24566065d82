#include "viewer/InputHandler.h"

#include "base/Clock.h"
#include "viewer/ActionPerformer.h"
#include "viewer/MainWindowActions.h"
#include "viewer/SlideNavigation.h"

#include <algorithm>

namespace kiv {

namespace {

constexpr int kKeyboardBits = kModWin | kModShift | kModAlt | kModCtrl;

} // namespace

TInputHandler::TInputHandler(TMainWindowActions& window, TActionPerformer& performer,
                             std::function<std::int64_t()> clock)
    : window_(window), performer_(performer), clock_(clock ? std::move(clock) : ProcessMilliseconds) {}

bool TInputHandler::KeyEvent(int modifiers, int keyCode, int eventFlag) {
    const bool down = eventFlag == kKeyDown;
    if (window_.State().startupMode && keyCode == vk::Return && down) {
        performer_.Perform(MakeAction(kActionCloseDialog));
        return true;
    }
    if (window_.Engine().SendDialogOpen()) {
        if (keyCode == vk::Escape && down) window_.Engine().PostCloseTopDialog();
        if (keyCode != vk::F1) return true;
    }
    if (!mapping_) return false;
    if (const TKeyMap* binding = mapping_->FindKey(modifiers, keyCode, eventFlag)) {
        if (binding->Action().kind == kActionHelp && window_.ShowRunning()) {
            window_.Engine().PostAction(binding->Action());
            return true;
        }
        performer_.Perform(binding->Action());
    }
    if (!mapping_->ControlPermitted() && down && TInputMappingClass::ReleasesHold(keyCode) &&
        window_.Engine().SendHolding())
        window_.Engine().SendClearHold();
    return false;
}

void TInputHandler::MouseEvent(int modifiers, int x, int y, TWindowMouseEvent event, TMouseButton button) {
    if (clock_() - window_.State().createdAt < kStartGuardMs) return;
    window_.Engine().SendPollCursor();
    if (!mapping_) return;
    const TKivActionInfo action = mapping_->MouseAction(modifiers, x, y, event, button);
    if (window_.CursorShown() || action.kind == kActionHelp) {
        window_.Engine().PostMouse(
            TMouseInput{modifiers, x, y, static_cast<int>(event), static_cast<int>(button)}, action);
        return;
    }
    if (!action.IsNone()) performer_.Perform(action);
}

void TInputHandler::WheelEvent(int modifiers, int delta) {
    if (!wheelEnabled_) return;
    const long long total = static_cast<long long>(wheelRest_) + delta;
    const int notches = static_cast<int>(total / 120);
    wheelRest_ = static_cast<int>(total % 120);
    if (notches == 0 || !window_.HasViewer()) return;
    const TSlideTimes* times = window_.SlideTimes();
    if (!times) return;

    double time = window_.CurrentTime();
    if ((modifiers & kKeyboardBits) == kModCtrl) {
        // Down (negative) goes forward a slide per notch, up back a slide per notch.
        const TSlideNavigation navigation(*times);
        const bool paused = window_.Paused();
        for (int i = 0; i < std::abs(notches); ++i)
            time = notches < 0 ? navigation.NextSlideTime(time, paused) : navigation.PrevSlideTime(time);
    } else {
        // Seeking before the start of the show is pointless; the start is as far back as it goes.
        time = std::max(0.0, time - notches * kWheelStepMs);
    }
    window_.Engine().PostSeek(time);
}

} // namespace kiv

#include "viewer/InputMapping.h"

#include "ini/IniFile.h"

#include <cstdlib>

namespace kiv {

namespace {

constexpr int kNoShiftAltCtrl = kModShift | kModAlt | kModCtrl;

} // namespace

bool TInputMappingClass::TMouseMoveDetector::Check(int x, int y) {
    if (!reference_) {
        reference_ = {{x, y}};
        return false;
    }
    const std::int64_t distance = std::llabs(x - (*reference_)[0]) + std::llabs(y - (*reference_)[1]);
    if (distance <= kThreshold) return false;
    reference_ = {{x, y}};
    return true;
}

TKivActionInfo MouseActionFromName(std::string_view name) {
    if (name == "Exit") return MakeAction(kActionExit);
    if (name == "Next slide") return MakeAction(kActionNextSlide);
    if (name == "Prev. slide") return MakeAction(kActionPrevSlide);
    if (name == "Help") return MakeAction(kActionHelp);
    if (name == "Pause") return MakeAction(kActionPause);
    if (name == "Go to first") return MakeAction(kActionGotoSlide, 0);
    return MakeAction(kActionNone);
}

TInputMappingClass::TInputMappingClass() = default;

TInputMappingClass::TInputMappingClass(const TIniFile& project) {
    const TIniSection* main = project.FindSection("Main");
    const auto text = [main](std::string_view key) { return main ? main->GetText(key) : std::string(); };
    const auto flag = [main](std::string_view key, bool fallback) {
        return main ? main->GetBool(key, fallback) : fallback;
    };

    leftMouse_ = MouseActionFromName(text("opt_leftmouse"));
    rightMouse_ = MouseActionFromName(text("opt_rightmouse"));
    doubleClick_ = MouseActionFromName(text("opt_dblclick"));

    screenSaver_ = flag("opt_ssaver", false);
    if (screenSaver_) screenSaverKey_ = MakeRef<TKeyMap>(0, 0, kKeyDown, MakeAction(kActionExit));
    if (screenSaver_ || flag("opt_exitonmove", false)) moveDetector_ = MakeRef<TMouseMoveDetector>();
    controlPermitted_ = flag("opt_synchpermitcontrol", true);

    const auto bind = [this](int key, TKivActionInfo action, int value = 0) {
        AddKey(key, kNoShiftAltCtrl, value, kKeyDown, std::move(action));
    };
    bind(vk::Escape, MakeAction(kActionExit));
    if (controlPermitted_) {
        for (int key : {vk::Space, vk::Pause, vk::MediaPlayPause})
            bind(key, MakeAction(kActionPause));
        bind(vk::KeyP, MakeAction(kActionPause), kModCtrl);
        bind(vk::MediaStop, MakeAction(kActionStop));
        for (int key : {vk::Left, vk::Up, vk::Prior, vk::BrowserBack, vk::MediaPrevTrack})
            bind(key, MakeAction(kActionPrevSlide));
        for (int key : {vk::Right, vk::Down, vk::Next, vk::BrowserForward, vk::MediaNextTrack})
            bind(key, MakeAction(kActionNextSlide));
        bind(vk::Home, MakeAction(kActionGotoSlide, 0));
        bind(vk::End, MakeAction(kActionGotoSlide, project.ReadInteger("Times", "opt_slidescount", 0)));
    }
    if (!flag("opt_lockf1", false)) bind(vk::F1, MakeAction(kActionHelp));
}

void TInputMappingClass::AddKey(int keyCode, int modifierMask, int modifierValue, int eventFlag,
                                TKivActionInfo action) {
    if (keyCode < 0 || keyCode >= static_cast<int>(keys_.size())) return;
    auto binding = MakeRef<TKeyMap>(modifierMask, modifierValue, eventFlag, std::move(action));
    binding->SetNextBinding(std::move(keys_[keyCode]));
    keys_[keyCode] = std::move(binding);
}

const TKeyMap* TInputMappingClass::KeyChain(int keyCode) const {
    if (keyCode < 0 || keyCode >= static_cast<int>(keys_.size())) return nullptr;
    return keys_[keyCode].Get();
}

const TKeyMap* TInputMappingClass::FindKey(int modifiers, int keyCode, int eventFlag) const {
    if (screenSaverKey_) return screenSaverKey_.Get();
    const TKeyMap* chain = KeyChain(keyCode);
    return chain ? chain->Find(modifiers, eventFlag) : nullptr;
}

TKivActionInfo TInputMappingClass::MouseAction(int modifiers, int x, int y, TWindowMouseEvent event,
                                               TMouseButton button) {
    constexpr int kAnyKeyOrButton =
        kModWin | kModShift | kModAlt | kModCtrl | kModLeftButton | kModRightButton | kModMiddleButton;
    if (screenSaver_ && (modifiers & kAnyKeyOrButton) != 0) return MakeAction(kActionExit);
    if (moveDetector_ && moveDetector_->Check(x, y)) return MakeAction(kActionExit);
    if (event == TWindowMouseEvent::ButtonUp && button == TMouseButton::Left) return leftMouse_;
    if (event == TWindowMouseEvent::ButtonUp && button == TMouseButton::Right) return rightMouse_;
    if (event == TWindowMouseEvent::DoubleClick && button == TMouseButton::Left) return doubleClick_;
    return MakeAction(kActionNone);
}

bool TInputMappingClass::ReleasesHold(int keyCode) {
    switch (keyCode) {
    case vk::Pause:
    case vk::Space:
    case vk::Next:
    case vk::Right:
    case vk::BrowserForward:
    case vk::MediaNextTrack:
    case vk::MediaPlayPause:
        return true;
    default:
        return false;
    }
}

} // namespace kiv

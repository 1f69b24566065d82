#include "viewer/InputMapping.h"

#include "ini/IniFile.h"
#include "viewer/SdlKeys.h"

#include <SDL.h>
#include <gtest/gtest.h>

namespace kiv {
namespace {

TRef<TInputMappingClass> MappingFor(const std::string& text) {
    auto project = MakeRef<TIniFile>();
    project->LoadFromText(text);
    return MakeRef<TInputMappingClass>(*project);
}

std::uint8_t KindOf(const TInputMappingClass& mapping, int modifiers, int key, int event = kKeyDown) {
    const TKeyMap* binding = mapping.FindKey(modifiers, key, event);
    return binding ? binding->Action().kind : static_cast<std::uint8_t>(kActionNone);
}

TEST(InputMapping, DefaultKeysSteerTheShowOnKeyDownWithoutShiftAltCtrl) {
    const auto mapping = MappingFor("[Main]\n[Times]\nopt_slidescount=7\n");
    EXPECT_EQ(KindOf(*mapping, 0, vk::Escape), kActionExit);
    for (int key : {vk::Left, vk::Up, vk::Prior, vk::BrowserBack, vk::MediaPrevTrack})
        EXPECT_EQ(KindOf(*mapping, 0, key), kActionPrevSlide) << key;
    for (int key : {vk::Right, vk::Down, vk::Next, vk::BrowserForward, vk::MediaNextTrack})
        EXPECT_EQ(KindOf(*mapping, 0, key), kActionNextSlide) << key;
    for (int key : {vk::Space, vk::Pause, vk::MediaPlayPause})
        EXPECT_EQ(KindOf(*mapping, 0, key), kActionPause);
    EXPECT_EQ(KindOf(*mapping, 0, vk::MediaStop), kActionStop);
    EXPECT_EQ(KindOf(*mapping, 0, vk::F1), kActionHelp);
    EXPECT_EQ(mapping->FindKey(0, vk::Home, kKeyDown)->Action(), MakeAction(kActionGotoSlide, 0));
    EXPECT_EQ(mapping->FindKey(0, vk::End, kKeyDown)->Action(), MakeAction(kActionGotoSlide, 7));

    // Key up, Shift, Ctrl or Alt held: nothing. The Windows key and mouse buttons do not count.
    EXPECT_EQ(KindOf(*mapping, 0, vk::Right, kKeyUp), kActionNone);
    EXPECT_EQ(KindOf(*mapping, kModShift, vk::Right), kActionNone);
    EXPECT_EQ(KindOf(*mapping, kModAlt, vk::Escape), kActionNone);
    EXPECT_EQ(KindOf(*mapping, kModWin | kModLeftButton, vk::Right), kActionNextSlide);
    // P pauses only with Ctrl alone.
    EXPECT_EQ(KindOf(*mapping, kModCtrl, vk::KeyP), kActionPause);
    EXPECT_EQ(KindOf(*mapping, 0, vk::KeyP), kActionNone);
    EXPECT_EQ(KindOf(*mapping, kModCtrl | kModShift, vk::KeyP), kActionNone);
    EXPECT_EQ(KindOf(*mapping, 0, vk::KeyA), kActionNone);
    EXPECT_EQ(mapping->FindKey(0, 300, kKeyDown), nullptr);
    EXPECT_EQ(mapping->FindKey(0, -1, kKeyDown), nullptr);
}

TEST(InputMapping, WithoutControlOnlyExitAndHelpStay) {
    const auto mapping = MappingFor("[Main]\nopt_synchpermitcontrol=0\n");
    EXPECT_FALSE(mapping->ControlPermitted());
    EXPECT_EQ(KindOf(*mapping, 0, vk::Escape), kActionExit);
    EXPECT_EQ(KindOf(*mapping, 0, vk::F1), kActionHelp);
    for (int key : {vk::Left, vk::Right, vk::Up, vk::Down, vk::Space, vk::Home, vk::End, vk::MediaStop})
        EXPECT_EQ(KindOf(*mapping, 0, key), kActionNone) << key;
    EXPECT_EQ(KindOf(*mapping, kModCtrl, vk::KeyP), kActionNone);
    // Right still releases a hold (the window does that); Left does not.
    EXPECT_TRUE(TInputMappingClass::ReleasesHold(vk::Right));
    EXPECT_TRUE(TInputMappingClass::ReleasesHold(vk::MediaPlayPause));
    EXPECT_FALSE(TInputMappingClass::ReleasesHold(vk::Left));
    EXPECT_FALSE(TInputMappingClass::ReleasesHold(vk::Down));
}

TEST(InputMapping, LockedF1HasNoHelp) {
    EXPECT_EQ(KindOf(*MappingFor("[Main]\nopt_lockf1=1\n"), 0, vk::F1), kActionNone);
    EXPECT_EQ(KindOf(*MappingFor("[Main]\nopt_lockf1=yes\n"), 0, vk::F1), kActionHelp); // not a boolean
}

TEST(InputMapping, NewestBindingOfAKeyIsFoundFirst) {
    auto mapping = MakeRef<TInputMappingClass>();
    mapping->AddKey(vk::KeyA, 0, 0, kKeyDown, MakeAction(kActionExit));
    mapping->AddKey(vk::KeyA, kModShift, kModShift, kKeyDown, MakeAction(kActionHelp));
    mapping->AddKey(vk::KeyA, 0, 0, kKeyDown, MakeAction(kActionPause));
    EXPECT_EQ(KindOf(*mapping, 0, vk::KeyA), kActionPause);
    EXPECT_EQ(KindOf(*mapping, kModShift, vk::KeyA), kActionPause); // mask 0 matches everything
    int length = 0;
    for (const TKeyMap* binding = mapping->KeyChain(vk::KeyA); binding; binding = binding->NextBinding())
        ++length;
    EXPECT_EQ(length, 3);
}

TEST(InputMapping, MouseActionsComeFromTheExactDisplayNames) {
    const auto mapping = MappingFor(
        "[Main]\nopt_leftmouse=Next slide\nopt_rightmouse=Prev. slide\nopt_dblclick=Go to first\n");
    EXPECT_EQ(mapping->MouseAction(0, 10, 10, TWindowMouseEvent::ButtonUp, TMouseButton::Left).kind,
              kActionNextSlide);
    EXPECT_EQ(mapping->MouseAction(0, 10, 10, TWindowMouseEvent::ButtonUp, TMouseButton::Right).kind,
              kActionPrevSlide);
    EXPECT_EQ(mapping->MouseAction(0, 10, 10, TWindowMouseEvent::DoubleClick, TMouseButton::Left),
              MakeAction(kActionGotoSlide, 0));
    EXPECT_TRUE(mapping->MouseAction(0, 10, 10, TWindowMouseEvent::ButtonDown, TMouseButton::Left).IsNone());
    EXPECT_TRUE(mapping->MouseAction(0, 10, 10, TWindowMouseEvent::ButtonUp, TMouseButton::Middle).IsNone());
    EXPECT_FALSE(mapping->HasMoveDetector());

    EXPECT_EQ(MouseActionFromName("Exit").kind, kActionExit);
    EXPECT_EQ(MouseActionFromName("Help").kind, kActionHelp);
    EXPECT_EQ(MouseActionFromName("Pause").kind, kActionPause);
    EXPECT_TRUE(MouseActionFromName("exit").IsNone());
    EXPECT_TRUE(MouseActionFromName("Next Slide").IsNone());
    EXPECT_TRUE(MouseActionFromName("").IsNone());
}

TEST(InputMapping, ScreenSaverEndsOnAnyKeyButtonOrSixPixelMove) {
    const auto mapping = MappingFor("[Main]\nopt_ssaver=1\nopt_leftmouse=Pause\n");
    EXPECT_TRUE(mapping->ScreenSaver());
    for (int key : {vk::KeyA, vk::Shift, vk::Right, 0, 255}) {
        EXPECT_EQ(KindOf(*mapping, 0, key, kKeyDown), kActionExit) << key;
        EXPECT_EQ(KindOf(*mapping, kModCtrl | kModAlt, key, kKeyUp), kActionExit) << key;
    }
    // The first position is only the reference; moves of up to 5 pixels keep the show running.
    EXPECT_TRUE(mapping->MouseAction(0, 100, 100, TWindowMouseEvent::Move, TMouseButton::None).IsNone());
    EXPECT_TRUE(mapping->MouseAction(0, 103, 102, TWindowMouseEvent::Move, TMouseButton::None).IsNone());
    EXPECT_TRUE(mapping->MouseAction(0, 95, 100, TWindowMouseEvent::Move, TMouseButton::None).IsNone());
    EXPECT_EQ(mapping->MouseAction(0, 104, 102, TWindowMouseEvent::Move, TMouseButton::None).kind, kActionExit);
    // A button (or key) held during any event ends it too.
    EXPECT_EQ(
        mapping->MouseAction(kModLeftButton, 104, 102, TWindowMouseEvent::ButtonDown, TMouseButton::Left).kind,
        kActionExit);
    EXPECT_EQ(mapping->MouseAction(kModShift, 104, 102, TWindowMouseEvent::Move, TMouseButton::None).kind,
              kActionExit);
}

TEST(InputMapping, ExitOnMoveUsesTheDetectorWithoutScreenSaver) {
    const auto mapping = MappingFor("[Main]\nopt_exitonmove=1\n");
    EXPECT_FALSE(mapping->ScreenSaver());
    EXPECT_EQ(KindOf(*mapping, 0, vk::KeyA), kActionNone);
    EXPECT_TRUE(
        mapping->MouseAction(kModLeftButton, 0, 0, TWindowMouseEvent::ButtonDown, TMouseButton::Left).IsNone());
    EXPECT_EQ(mapping->MouseAction(0, 6, 0, TWindowMouseEvent::Move, TMouseButton::None).kind, kActionExit);
    // The firing position is the new reference.
    EXPECT_TRUE(mapping->MouseAction(0, 9, 2, TWindowMouseEvent::Move, TMouseButton::None).IsNone());
    EXPECT_EQ(mapping->MouseAction(0, 1, 1, TWindowMouseEvent::Move, TMouseButton::None).kind, kActionExit);
}

TEST(MoveDetector, DistanceIsTheSumOfBothAxesAndExtremeCoordinatesDoNotOverflow) {
    auto detector = MakeRef<TInputMappingClass::TMouseMoveDetector>();
    EXPECT_FALSE(detector->Check(2147483647, 2147483647));
    EXPECT_TRUE(detector->Check(-2147483647 - 1, -2147483647 - 1));
    EXPECT_FALSE(detector->Check(-2147483647 - 1 + 5, -2147483647 - 1));
}

TEST(SdlKeys, KeysReachTheVirtualKeysTheMappingBinds) {
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE), vk::Escape);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_RIGHT, SDL_SCANCODE_RIGHT), vk::Right);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_PAGEDOWN, SDL_SCANCODE_PAGEDOWN), vk::Next);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_PAGEUP, SDL_SCANCODE_PAGEUP), vk::Prior);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_PAUSE, SDL_SCANCODE_PAUSE), vk::Pause);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_F1, SDL_SCANCODE_F1), vk::F1);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_F24, SDL_SCANCODE_F24), 0x87);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_p, SDL_SCANCODE_P), vk::KeyP);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER), vk::Return);
    // Media and browser keys.
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_AUDIOPLAY, SDL_SCANCODE_AUDIOPLAY), vk::MediaPlayPause);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_AUDIOSTOP, SDL_SCANCODE_AUDIOSTOP), vk::MediaStop);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_AUDIONEXT, SDL_SCANCODE_AUDIONEXT), vk::MediaNextTrack);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_AUDIOPREV, SDL_SCANCODE_AUDIOPREV), vk::MediaPrevTrack);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_AC_BACK, SDL_SCANCODE_AC_BACK), vk::BrowserBack);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_AC_FORWARD, SDL_SCANCODE_AC_FORWARD), vk::BrowserForward);
    // A letter of a non-Latin layout falls back to its position; Latin layouts follow the letter.
    EXPECT_EQ(SdlKeyToVirtualKey(0x0437 /* Cyrillic ze */, SDL_SCANCODE_P), vk::KeyP);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_a, SDL_SCANCODE_Q), vk::KeyA);
    EXPECT_EQ(SdlKeyToVirtualKey(0x0437, SDL_SCANCODE_PAGEDOWN), vk::Next);
    EXPECT_EQ(SdlKeyToVirtualKey(SDLK_UNKNOWN, SDL_SCANCODE_UNKNOWN), 0);
    EXPECT_EQ(SdlKeyToVirtualKey(0x7fffffff, 100000), 0);
}

TEST(SdlKeys, ModifiersAndButtonsBecomeTheMappingBits) {
    EXPECT_EQ(SdlKeyModifiers(KMOD_NONE), 0);
    EXPECT_EQ(SdlKeyModifiers(KMOD_LCTRL), kModCtrl);
    EXPECT_EQ(SdlKeyModifiers(KMOD_RSHIFT | KMOD_LALT | KMOD_RGUI), kModShift | kModAlt | kModWin);
    EXPECT_EQ(SdlKeyModifiers(KMOD_NUM | KMOD_CAPS), 0);
    EXPECT_EQ(SdlMouseButtons(SDL_BUTTON_LMASK | SDL_BUTTON_MMASK), kModLeftButton | kModMiddleButton);
    EXPECT_EQ(SdlMouseButtons(SDL_BUTTON_RMASK), kModRightButton);
}

} // namespace
} // namespace kiv

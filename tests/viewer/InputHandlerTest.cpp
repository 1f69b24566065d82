#include "viewer/InputHandler.h"

#include "FakeWindow.h"
#include "HandTimeline.h"
#include "ini/IniFile.h"
#include "viewer/ActionPerformer.h"
#include "viewer/ProgramRunner.h"
#include "viewer/ShowSwitcher.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using testing::TFakeWindow;
using testing::TNoShowFiles;
using testing::THandTimeline;

class InputHandlerTest : public ::testing::Test {
protected:
    THandTimeline timeline{{5000, 9000, 15000}, {2000, 1000, 8000}, false};
    TFakeWindow window;
    TNoShowFiles files;
    TProgramRunner runner{TProgramRunner::TOptions{}};
    TShowSwitcher switcher{window, files};
    TActionPerformer performer{window, runner, switcher};
    std::int64_t now = 50000;
    TInputHandler handler{window, performer, [this] { return now; }};

    InputHandlerTest() {
        window.times = &timeline;
        window.state.createdAt = 10000;
        Use("[Main]\nopt_leftmouse=Next slide\nopt_rightmouse=Help\n");
    }
    void Use(const std::string& project) {
        window.project->LoadFromText(project);
        handler.SetMapping(MakeRef<TInputMappingClass>(*window.project));
    }
    void Click(int x = 10, int y = 10) {
        handler.MouseEvent(kModLeftButton, x, y, TWindowMouseEvent::ButtonDown, TMouseButton::Left);
        handler.MouseEvent(0, x, y, TWindowMouseEvent::ButtonUp, TMouseButton::Left);
    }
};

TEST_F(InputHandlerTest, KeysPerformTheirBindings) {
    EXPECT_FALSE(handler.KeyEvent(0, vk::Right, kKeyDown));
    EXPECT_EQ(window.seeks, (std::vector<double>{5000}));
    EXPECT_FALSE(handler.KeyEvent(0, vk::Right, kKeyUp));
    EXPECT_EQ(window.seeks.size(), 1u);
    handler.KeyEvent(0, vk::Escape, kKeyDown);
    EXPECT_TRUE(window.state.exitRequested);
    EXPECT_EQ(window.closeRequests, 1);
}

TEST_F(InputHandlerTest, HelpKeyGoesToTheEngineAndEndsTheHandling) {
    EXPECT_TRUE(handler.KeyEvent(0, vk::F1, kKeyDown));
    ASSERT_EQ(window.engineActions.size(), 1u);
    EXPECT_EQ(window.engineActions[0].kind, kActionHelp);
}

TEST_F(InputHandlerTest, WithoutControlArrowsDoNothingButRightReleasesAHold) {
    Use("[Main]\nopt_synchpermitcontrol=0\n");
    for (int key : {vk::Left, vk::Right, vk::Up, vk::Down, vk::Home, vk::End})
        handler.KeyEvent(0, key, kKeyDown);
    EXPECT_TRUE(window.seeks.empty());
    EXPECT_EQ(window.holdsCleared, 0); // no hold, nothing to release

    window.holding = true;
    handler.KeyEvent(0, vk::Left, kKeyDown);
    EXPECT_TRUE(window.holding);
    handler.KeyEvent(0, vk::Right, kKeyUp);
    EXPECT_TRUE(window.holding);
    EXPECT_FALSE(handler.KeyEvent(0, vk::Right, kKeyDown));
    EXPECT_FALSE(window.holding);
    EXPECT_EQ(window.holdsCleared, 1);
    EXPECT_TRUE(window.seeks.empty());
}

TEST_F(InputHandlerTest, StartupEnterEndsWithExitCodeOne) {
    handler.KeyEvent(0, vk::Return, kKeyDown);
    EXPECT_FALSE(window.exitCode.has_value());
    window.state.startupMode = true;
    EXPECT_FALSE(handler.KeyEvent(0, vk::Return, kKeyUp));
    EXPECT_TRUE(handler.KeyEvent(0, vk::Return, kKeyDown));
    EXPECT_EQ(window.exitCode, 1);
    EXPECT_TRUE(window.state.exitRequested);
    EXPECT_EQ(window.closeRequests, 1);
}

TEST_F(InputHandlerTest, OpenDialogSwallowsKeysButF1AndEscClosesIt) {
    window.dialogOpen = true;
    EXPECT_TRUE(handler.KeyEvent(0, vk::Escape, kKeyDown));
    EXPECT_EQ(window.dialogsClosed, 1);
    EXPECT_EQ(window.closeRequests, 0);
    EXPECT_TRUE(handler.KeyEvent(0, vk::Right, kKeyDown));
    EXPECT_TRUE(window.seeks.empty());
    EXPECT_TRUE(handler.KeyEvent(0, vk::F1, kKeyDown));
    EXPECT_EQ(window.engineActions.size(), 1u);
}

TEST_F(InputHandlerTest, ClicksInTheFirstSecondAreIgnored) {
    now = window.state.createdAt + 999;
    Click();
    EXPECT_TRUE(window.seeks.empty());
    EXPECT_EQ(window.cursorPolls, 0);
    now = window.state.createdAt + 1000;
    Click();
    EXPECT_EQ(window.seeks, (std::vector<double>{5000}));
    EXPECT_EQ(window.cursorPolls, 2);
}

TEST_F(InputHandlerTest, WithTheCursorShownTheEngineGetsTheEventFirst) {
    window.cursorShown = true;
    Click(3, 4);
    EXPECT_TRUE(window.seeks.empty());
    ASSERT_EQ(window.engineMouse.size(), 2u);
    EXPECT_EQ(window.engineMouse[1].first.x, 3);
    EXPECT_EQ(window.engineMouse[1].first.y, 4);
    EXPECT_EQ(window.engineMouse[1].second.kind, kActionNextSlide);
    // "Help" always goes through the engine.
    window.cursorShown = false;
    handler.MouseEvent(0, 3, 4, TWindowMouseEvent::ButtonUp, TMouseButton::Right);
    EXPECT_EQ(window.engineMouse.size(), 3u);
    EXPECT_EQ(window.engineMouse[2].second.kind, kActionHelp);
}

TEST_F(InputHandlerTest, ScreenSaverEndsOnKeysButtonsAndMoves) {
    Use("[Main]\nopt_ssaver=1\n");
    handler.MouseEvent(0, 100, 100, TWindowMouseEvent::Move, TMouseButton::None);
    handler.MouseEvent(0, 105, 100, TWindowMouseEvent::Move, TMouseButton::None);
    EXPECT_EQ(window.closeRequests, 0);
    handler.MouseEvent(0, 106, 100, TWindowMouseEvent::Move, TMouseButton::None);
    EXPECT_EQ(window.closeRequests, 1);
    handler.MouseEvent(kModRightButton, 106, 100, TWindowMouseEvent::ButtonDown, TMouseButton::Right);
    EXPECT_EQ(window.closeRequests, 2);
    handler.KeyEvent(0, vk::KeyA + ('Q' - 'A'), kKeyDown);
    EXPECT_EQ(window.closeRequests, 3);
    EXPECT_TRUE(window.state.exitRequested);
}

TEST_F(InputHandlerTest, WheelSeeksByNotchesAndCarriesTheRest) {
    window.time = 10000;
    handler.WheelEvent(0, 60);
    EXPECT_TRUE(window.seeks.empty());
    handler.WheelEvent(0, 60 + 120); // with the rest: two notches up
    EXPECT_EQ(window.seeks, (std::vector<double>{10000 - 700 * 2}));
    handler.WheelEvent(kModShift, -240 - 60);
    EXPECT_EQ(window.seeks.back(), 8600 + 700 * 2);
    // Never before the start.
    handler.WheelEvent(0, 120 * 50);
    EXPECT_EQ(window.seeks.back(), 0);
}

TEST_F(InputHandlerTest, CtrlWheelStepsSlidesKeepingThePause) {
    window.time = 100;
    window.paused = true;
    handler.WheelEvent(kModCtrl, -120);
    EXPECT_EQ(window.seeks, (std::vector<double>{5000 + 1000}));
    handler.WheelEvent(kModCtrl, -240);
    EXPECT_EQ(window.seeks.back(), 15000 + 2000); // two slides on: the end of the show
    handler.WheelEvent(kModCtrl | kModLeftButton, 120);
    EXPECT_EQ(window.seeks.back(), 15000);
    EXPECT_TRUE(window.paused);
}

TEST_F(InputHandlerTest, LockedWheelDoesNothing) {
    handler.SetWheelEnabled(false);
    handler.WheelEvent(0, 1200);
    EXPECT_TRUE(window.seeks.empty());
}

} // namespace
} // namespace kiv

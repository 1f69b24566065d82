// The main window on SDL's offscreen display with a recording engine: SDL key and window events go
// through the show's input mapping to the engine, the engine's window mode reaches the SDL window,
// and Escape closes through the close handler, stopping the engine once however often it is pressed.
#include "app/MainForm.h"

#include "framework/Application.h"
#include "package/TempFolder.h"
#include "project/KivShowLocator.h"
#include "render/Engine.h"
#include "render/gl/EngineGL.h"
#include "viewer/RecordingEngine.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace kiv {
namespace {

using testing::TRecordingEngine;

// Four slides of 16 s; the window 800 × 600 with its frame.
const std::string kProject = "[Main]\r\nKivVersion=5.6\r\nopt_scr_full=0\r\nopt_scr_width=800\r\n"
                             "opt_scr_height=600\r\nopt_withoutborder=0\r\nopt_scr_caption=Four slides\r\n"
                             "[Times]\r\nopt_slidescount=4\r\nopt_synchpos1=16000\r\nopt_synchpos2=32000\r\n"
                             "opt_synchpos3=48000\r\nopt_synchpos4=64000\r\n";

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        app = new TZkApplication;
        app->Prepare();
        // SDL's event queue outlives an application: an earlier test's quit must not end this one.
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        T3DEngine::SetFactory(CreateEngineGL);
        test::WriteFileBytes(folder.File("Project.kiv"), kProject);
        form = std::make_unique<TMainForm>(*app, commandLine, folder.File("kivviewer"),
                                           [this](TDrawDevice&) { return TRef<TViewerEngine>(engine); });
        app->SetNativeEventHandler([this](const SDL_Event& event) { form->HandleEvent(event); });
    }
    void TearDown() override {
        app->SetNativeEventHandler(nullptr);
        form.reset();
        SetCurrentShow(nullptr);
        T3DEngine::SetFactory(nullptr);
        if (!app->Finalised()) app->Finalise();
        app->Release();
    }

    void Key(SDL_Keycode key, SDL_Scancode scancode) {
        for (const Uint32 type : {SDL_KEYDOWN, SDL_KEYUP}) {
            SDL_Event event{};
            event.type = type;
            event.key.windowID = SDL_GetWindowID(form->Window());
            event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
            event.key.keysym.sym = key;
            event.key.keysym.scancode = scancode;
            SDL_PushEvent(&event);
        }
        // The window's own close request comes back as an event: two passes handle it too.
        app->ProcessPending();
        app->ProcessPending();
    }
    long Count(const std::string& call) const {
        return std::count(engine->calls.begin(), engine->calls.end(), call);
    }

    TZkApplication* app = nullptr;
    test::TTempFolder folder;
    TCommandLine commandLine = TCommandLine::FromText("kivviewer");
    TRef<TRecordingEngine> engine = MakeRef<TRecordingEngine>();
    std::unique_ptr<TMainForm> form;
};

TEST_F(MainFormTest, TheFirstShowStartsTheEngineUnpausedInTheProjectsWindow) {
    ASSERT_TRUE(form->OpenFirstShow(folder.File("Project.kiv"), false, false, 0));
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"actions on", "open 0", "start", "103 run"}));
    int w = 0, h = 0;
    SDL_GetWindowSize(form->Window(), &w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);
    EXPECT_STREQ(SDL_GetWindowTitle(form->Window()), "Four slides");
    EXPECT_TRUE(form->Visible());
    ASSERT_NE(form->Viewer().Device(), nullptr);
    EXPECT_EQ(form->Viewer().Device()->Bounds(), (TRect{0, 0, 800, 600}));

    // A later window mode from the engine: frameless 640 × 480.
    engine->OnNotification({TViewerNotification::kWindowMode, {640, 480, kModeFrameless}, "", {}});
    SDL_GetWindowSize(form->Window(), &w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(form->Viewer().Placement().frame, TWindowFrame::None);
    EXPECT_EQ(form->Viewer().Device()->Bounds(), (TRect{0, 0, 640, 480}));
}

TEST_F(MainFormTest, KeysMoveAndPauseTheShowThroughTheMapping) {
    ASSERT_TRUE(form->OpenFirstShow(folder.File("Project.kiv"), false, false, 0));
    engine->calls.clear();
    Key(SDLK_RIGHT, SDL_SCANCODE_RIGHT);
    ASSERT_EQ(engine->calls.size(), 1u);
    EXPECT_EQ(engine->calls[0].rfind("102 seek #1 ", 0), 0u) << engine->calls[0];
    const double next = form->CurrentTime();
    EXPECT_GT(next, 0);
    Key(SDLK_LEFT, SDL_SCANCODE_LEFT);
    EXPECT_LT(form->CurrentTime(), next);
    Key(SDLK_SPACE, SDL_SCANCODE_SPACE);
    EXPECT_EQ(engine->calls.back(), "103 pause");
    Key(SDLK_SPACE, SDL_SCANCODE_SPACE);
    EXPECT_EQ(engine->calls.back(), "103 run");
    EXPECT_FALSE(app->QuitRequested());
}

TEST_F(MainFormTest, EscapeClosesOnceStoppingTheEngineAndASecondEscapeChangesNothing) {
    ASSERT_TRUE(form->OpenFirstShow(folder.File("Project.kiv"), false, false, 0));
    Key(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
    EXPECT_TRUE(app->QuitRequested());
    EXPECT_EQ(Count("stop"), 1);
    EXPECT_TRUE(form->State().closing);
    const std::size_t calls = engine->calls.size();
    Key(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
    Key(SDLK_RIGHT, SDL_SCANCODE_RIGHT);
    EXPECT_EQ(engine->calls.size(), calls);
}

TEST_F(MainFormTest, WindowEventsReachTheDrawDevice) {
    ASSERT_TRUE(form->OpenFirstShow(folder.File("Project.kiv"), false, false, 0));
    TDrawDevice& device = *form->Viewer().Device();
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.windowID = SDL_GetWindowID(form->Window());
    event.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    SDL_PushEvent(&event);
    app->ProcessPending();
    EXPECT_FALSE(device.IsForeground());
    event.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    SDL_PushEvent(&event);
    app->ProcessPending();
    EXPECT_TRUE(device.IsForeground());

    // A window resized (by the user, with -resize) draws into its new client area.
    SDL_SetWindowSize(form->Window(), 700, 500);
    app->ProcessPending();
    EXPECT_EQ(device.Bounds(), (TRect{0, 0, 700, 500}));
    EXPECT_FALSE(device.FullScreen());
}

TEST_F(MainFormTest, F11AndADoubleClickTurnFullScreenOnAndOff) {
    ASSERT_TRUE(form->OpenFirstShow(folder.File("Project.kiv"), false, false, 0));
    TDrawDevice& device = *form->Viewer().Device();
    const std::size_t calls = engine->calls.size();
    Key(SDLK_F11, SDL_SCANCODE_F11);
    EXPECT_TRUE(device.FullScreen());
    Key(SDLK_F11, SDL_SCANCODE_F11);
    EXPECT_FALSE(device.FullScreen());
    EXPECT_EQ(device.Bounds(), (TRect{0, 0, 800, 600}));
    // F11 reaches no binding of the show: nothing went to the engine.
    EXPECT_EQ(engine->calls.size(), calls);
    SDL_Event click{};
    click.type = SDL_MOUSEBUTTONDOWN;
    click.button.windowID = SDL_GetWindowID(form->Window());
    click.button.button = SDL_BUTTON_LEFT;
    click.button.clicks = 2;
    click.button.x = 400;
    click.button.y = 300;
    SDL_PushEvent(&click);
    app->ProcessPending();
    EXPECT_TRUE(device.FullScreen());
    SDL_PushEvent(&click);
    app->ProcessPending();
    EXPECT_FALSE(device.FullScreen());
}

TEST_F(MainFormTest, TheWindowsCloseButtonAsksTheCloseHandler) {
    ASSERT_TRUE(form->OpenFirstShow(folder.File("Project.kiv"), false, false, 0));
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.windowID = SDL_GetWindowID(form->Window());
    event.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&event);
    app->ProcessPending();
    app->ProcessPending();
    EXPECT_TRUE(app->QuitRequested());
    EXPECT_EQ(Count("stop"), 1);
}

TEST_F(MainFormTest, AShowThatEndsWithCloseClosesTheWindowOthersPlayOn) {
    test::WriteFileBytes(folder.File("Repeat.kiv"), kProject + "[Main]\r\nopt_repeat=repeat\r\n");
    ASSERT_TRUE(form->OpenFirstShow(folder.File("Repeat.kiv"), false, false, 0));
    engine->OnPosition(64000, true, 64000);
    app->ProcessPending();
    EXPECT_FALSE(app->QuitRequested());

    test::WriteFileBytes(folder.File("Close.kiv"), kProject + "[Main]\r\nopt_repeat=close\r\n");
    ASSERT_TRUE(form->OpenShow(folder.File("Close.kiv"), false, false, false, 0));
    engine->OnPosition(63000, false, 64000);
    app->ProcessPending();
    EXPECT_FALSE(app->QuitRequested());
    engine->OnPosition(64000, true, 64000);
    app->ProcessPending();
    EXPECT_TRUE(app->QuitRequested());
    EXPECT_EQ(Count("stop"), 1);
}

TEST_F(MainFormTest, AShowThatDoesNotOpenLeavesNoEngineAndSaysWhy) {
    EXPECT_FALSE(form->OpenFirstShow(folder.File("missing.kiv"), false, false, 0));
    EXPECT_TRUE(form->LastOpenFailedWithMessage());
    EXPECT_TRUE(engine->calls.empty());
    EXPECT_FALSE(form->Viewer().HasEngine());
}

} // namespace
} // namespace kiv

// Full-screen shows on SDL windows (offscreen video driver): exclusive mode, the foreground
// followed through the window's focus events, the window placement given back when a full-screen
// renderer or store lets go, and the pacing of presents.
#include "framework/EventList.h"
#include "render/DevStore.h"
#include "render/DeviceLock.h"
#include "render/RenderFixture.h"
#include "render/WinDevice.h"
#include "render/gl/RendererGL.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kiv {
namespace {

constexpr TRect kSaved{5, 7, 205, 107}; // the monitor the show covers

class FullScreenTest : public test::TRenderFixture {
protected:
    void SetUp() override {
        TRenderFixture::SetUp();
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) GTEST_SKIP() << "no SDL video: " << SDL_GetError();
        videoStarted = true;
        window =
            SDL_CreateWindow("kiv full screen test", 50, 60, 96, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
        winDevice = MakeRef<TWinDevice>(window);
        winDevice->SetBounds({0, 0, kSaved.Width(), kSaved.Height()}, {kSaved.left, kSaved.top}, true);
        // The main loop hands window events to the device, as the show viewer does.
        app->SetNativeEventHandler([this](const SDL_Event& event) { winDevice->HandleEvent(event); });
    }
    void TearDown() override {
        if (app) app->SetNativeEventHandler({});
        shows.clear();
        if (winDevice) winDevice->Destroy();
        winDevice.Reset();
        if (window) SDL_DestroyWindow(window);
        T3DEngine::SetExclusiveAllowed(true);
        T3DRendererGL::SetPacingClock({});
        TRenderFixture::TearDown();
        if (videoStarted) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    T3DRendererGL& NewShowRenderer() {
        TRendererParams params;
        engine->GetAdapterInfo(0, params);
        params.Rect = kSaved;
        TRef<T3DRenderer> r = engine->CreateRenderer(winDevice.Get(), params);
        EXPECT_TRUE(r);
        if (!r) throw std::runtime_error("no renderer");
        r->OnKilled = [this] { ++killed; };
        shows.push_back(r);
        return dynamic_cast<T3DRendererGL&>(*r);
    }
    // Sends a focus event through SDL's queue; the application's loop delivers it.
    void Focus(bool gained, std::uint32_t windowId) {
        SDL_Event event{};
        event.type = SDL_WINDOWEVENT;
        event.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
        event.window.windowID = windowId;
        ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
        app->ProcessPending();
    }
    std::uint32_t Mode() const { return SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP; }
    TRect Placement() const {
        int x = 0, y = 0, w = 0, h = 0;
        SDL_GetWindowPosition(window, &x, &y);
        SDL_GetWindowSize(window, &w, &h);
        return {x, y, x + w, y + h};
    }

    bool videoStarted = false;
    SDL_Window* window = nullptr;
    TRef<TWinDevice> winDevice;
    std::vector<TRef<T3DRenderer>> shows;
    int killed = 0;
};

TEST_F(FullScreenTest, AnExclusiveShowRunsFullWindowInTheBackgroundAndComesBackExclusive) {
    T3DRendererGL& first = NewShowRenderer();
    ASSERT_EQ(first.State, kStateReady);
    EXPECT_TRUE(first.Exclusive);
    EXPECT_EQ(Mode(), static_cast<std::uint32_t>(SDL_WINDOW_FULLSCREEN))
        << "SDL full screen at the desktop mode";
    EXPECT_EQ(first.BackBufferSize(), (TPoint{200, 100}));
    ASSERT_TRUE(first.BeginScene());

    // Another window's focus changes nothing.
    Focus(false, SDL_GetWindowID(window) + 1000);
    EXPECT_TRUE(winDevice->IsForeground());

    Focus(false, SDL_GetWindowID(window));
    EXPECT_FALSE(winDevice->IsForeground());
    ASSERT_TRUE(first.BeginScene()) << "the show goes on in the background";
    EXPECT_FALSE(first.Exclusive);
    EXPECT_EQ(Mode(), static_cast<std::uint32_t>(SDL_WINDOW_FULLSCREEN_DESKTOP)) << "full-window";
    ASSERT_TRUE(first.Clear(nullptr, 0, kClearTarget, 0xFF204060, 0));
    EXPECT_EQ(Pixel(*Frame(first), 199, 99), 0xFF204060u);
    ASSERT_TRUE(first.BeginScene()) << "still in the background: nothing more happens";
    EXPECT_EQ(killed, 0);

    // A renderer made in the background is windowed.
    T3DRendererGL& second = NewShowRenderer();
    EXPECT_FALSE(second.Exclusive);
    EXPECT_EQ(second.Store(), first.Store()) << "one store per window";

    Focus(true, SDL_GetWindowID(window));
    EXPECT_FALSE(first.BeginScene()) << "the foreground came back: this scene fails";
    EXPECT_EQ(killed, 2) << "the store went, with both renderers";
    EXPECT_EQ(first.State, kStateLost);
    EXPECT_EQ(first.Store(), nullptr);
    EXPECT_EQ(winDevice->Find<TDevStore>(), nullptr);

    T3DRendererGL& third = NewShowRenderer();
    ASSERT_EQ(third.State, kStateReady);
    EXPECT_TRUE(third.Exclusive) << "exclusive again";
    EXPECT_EQ(Mode(), static_cast<std::uint32_t>(SDL_WINDOW_FULLSCREEN));
    ASSERT_TRUE(third.BeginScene());
    ASSERT_TRUE(third.Clear(nullptr, 0, kClearTarget, 0xFF0A0B0C, 0));
    EXPECT_EQ(Pixel(*Frame(third), 0, 0), 0xFF0A0B0Cu);
}

TEST_F(FullScreenTest, WithoutExclusiveModeTheShowIsFullWindowAndIgnoresTheForeground) {
    T3DEngine::SetExclusiveAllowed(false);
    T3DRendererGL& show = NewShowRenderer();
    ASSERT_EQ(show.State, kStateReady);
    EXPECT_FALSE(show.Exclusive);
    EXPECT_EQ(Mode(), static_cast<std::uint32_t>(SDL_WINDOW_FULLSCREEN_DESKTOP));
    Focus(false, SDL_GetWindowID(window));
    ASSERT_TRUE(show.BeginScene());
    Focus(true, SDL_GetWindowID(window));
    EXPECT_TRUE(show.BeginScene());
    EXPECT_EQ(killed, 0);
}

TEST_F(FullScreenTest, AFullScreenRendererGivesTheWindowBackWhereItWas) {
    NewShowRenderer();
    ASSERT_EQ(Mode(), static_cast<std::uint32_t>(SDL_WINDOW_FULLSCREEN));
    shows.clear();
    EXPECT_EQ(Mode(), 0u) << "exclusive mode ends with the renderer";
    EXPECT_EQ(Placement(), kSaved);
    ASSERT_NE(winDevice->Find<TDevStore>(), nullptr) << "the store stays with the window";
}

TEST_F(FullScreenTest, AStoreLostOnAWorkerGivesTheWindowBackOnTheMainThread) {
    T3DRendererGL& show = NewShowRenderer();
    ASSERT_EQ(Mode(), static_cast<std::uint32_t>(SDL_WINDOW_FULLSCREEN));
    show.LeaveThread();
    const int done = LoopEndingEvent();
    std::thread worker = test::StartNamedThread("kivTestDrawer", [&] {
        show.ForceLossForTesting();
        show.Clear(nullptr, 0, kClearTarget, 0, 0);
        show.LeaveThread();       // as a drawing thread that ends
        app->Post(done, nullptr); // queued behind the release
    });
    worker.join(); // the main loop has not run yet
    EXPECT_EQ(killed, 1);
    EXPECT_EQ(winDevice->Find<TDevStore>(), nullptr);
    EXPECT_EQ(Mode(), static_cast<std::uint32_t>(SDL_WINDOW_FULLSCREEN)) << "the worker leaves the window alone";
    app->Run();
    EXPECT_EQ(Mode(), 0u);
    EXPECT_EQ(Placement(), kSaved);
}

TEST_F(FullScreenTest, TheForegroundLostOnADrawingThreadChangesTheWindowOnTheMainThread) {
    T3DRendererGL& show = NewShowRenderer();
    ASSERT_EQ(Mode(), static_cast<std::uint32_t>(SDL_WINDOW_FULLSCREEN));
    show.LeaveThread();
    Focus(false, SDL_GetWindowID(window));
    const int done = LoopEndingEvent();
    bool drew = false;
    std::thread drawer = test::StartNamedThread("kivTestDrawer", [&] {
        drew = show.BeginScene() && show.Clear(nullptr, 0, kClearTarget, 0xFF445566, 0);
        show.LeaveThread();
        app->Post(done, nullptr); // queued behind the window change
    });
    drawer.join(); // the main loop has not run yet
    EXPECT_TRUE(drew) << "the show goes on in the background";
    EXPECT_FALSE(show.Exclusive);
    EXPECT_EQ(Mode(), static_cast<std::uint32_t>(SDL_WINDOW_FULLSCREEN)) << "not changed off the main thread";
    app->Run();
    EXPECT_EQ(Mode(), static_cast<std::uint32_t>(SDL_WINDOW_FULLSCREEN_DESKTOP));
    EXPECT_EQ(killed, 0);
}

TEST_F(FullScreenTest, PacingWaitsForTheRefreshPeriodOnWindowsAndNeverHeadless) {
    std::int64_t now = 1000;
    std::vector<std::int64_t> slept;
    T3DRendererGL::SetPacingClock({[&] { return now; },
                                   [&](std::int64_t ms) {
                                       slept.push_back(ms);
                                       now += ms;
                                   }});
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(renderer->Present(nullptr, nullptr, 0));
    EXPECT_TRUE(slept.empty()) << "headless presents never sleep";

    T3DEngine::SetExclusiveAllowed(false);
    T3DRendererGL& show = NewShowRenderer();
    show.RefreshRate = 50;                          // a period of 20 ms
    ASSERT_TRUE(show.Present(nullptr, nullptr, 0)); // long after the last present: the least wait
    ASSERT_TRUE(show.Present(nullptr, nullptr, 0)); // at once: the whole period less 3 ms
    now += 10;
    ASSERT_TRUE(show.Present(nullptr, nullptr, 0)); // half way: the rest less 3 ms
    now += 30;
    ASSERT_TRUE(show.Present(nullptr, nullptr, 0)); // late: the least wait
    show.RefreshRate = 0;                           // no rate: 60 Hz, 16 ms
    ASSERT_TRUE(show.Present(nullptr, nullptr, 0));
    EXPECT_EQ(slept, (std::vector<std::int64_t>{1, 17, 7, 1, 13}));
    ASSERT_TRUE(renderer->Present(nullptr, nullptr, 0));
    EXPECT_EQ(slept.size(), 5u);

    // While a present waits for its moment another thread (an upload slice) can take the device
    // lock.
    bool free = false;
    T3DRendererGL::SetPacingClock({[&] { return now; },
                                   [&](std::int64_t ms) {
                                       now += ms;
                                       std::thread other = test::StartNamedThread("uploader", [&] {
                                           free = DeviceLock().TryEnter();
                                           if (free) DeviceLock().Leave();
                                       });
                                       other.join();
                                   }});
    ASSERT_TRUE(show.Present(nullptr, nullptr, 0));
    EXPECT_TRUE(free) << "the device lock is free during the pacing wait";
}

} // namespace
} // namespace kiv

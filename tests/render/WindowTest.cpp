// Renderers on SDL windows (SDL's offscreen video driver: EGL pbuffers, no display server).
#include "render/DevStore.h"
#include "render/Monitors.h"
#include "render/RenderFixture.h"
#include "render/gl/GLContext.h"
#include "render/gl/RendererGL.h"

#include <SDL.h>
#include <gtest/gtest.h>

namespace kiv {
namespace {

class WindowTest : public test::TRenderFixture {
protected:
    void SetUp() override {
        TRenderFixture::SetUp();
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) GTEST_SKIP() << "no SDL video: " << SDL_GetError();
        videoStarted = true;
    }
    void TearDown() override {
        windowed.Reset();
        if (windowDevice) windowDevice->Destroy();
        windowDevice.Reset();
        if (window) SDL_DestroyWindow(window);
        TRenderFixture::TearDown();
        if (videoStarted) SDL_QuitSubSystem(SDL_INIT_VIDEO);
        TScreen::Instance().Refresh();
    }
    void MakeWindow(Uint32 flags) {
        window = SDL_CreateWindow("kiv render test", 0, 0, 96, 64, flags | SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
        windowDevice = MakeDevice(96, 64);
        windowDevice->SetHandle(window);
    }

    bool videoStarted = false;
    SDL_Window* window = nullptr;
    TRef<TDrawDevice> windowDevice;
    TRef<T3DRenderer> windowed;
};

TEST_F(WindowTest, AWindowGetsAContextOfItsOwnAndPresentsItsBackBuffer) {
    MakeWindow(SDL_WINDOW_OPENGL);
    windowed = MakeRenderer(windowDevice.Get());
    ASSERT_TRUE(windowed);
    auto* store = dynamic_cast<T3DRendererGL&>(*windowed).Store();
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(static_cast<TGLContext*>(store->Device())->Window(), window);
    EXPECT_NE(store, dynamic_cast<T3DRendererGL&>(*renderer).Store()) << "one store per window";
    EXPECT_EQ(windowed->BackBufferSize(), (TPoint{96, 64}));
    ASSERT_TRUE(windowed->BeginScene());
    ASSERT_TRUE(windowed->Clear(nullptr, 0, kClearTarget, 0xFF336699, 0));
    ASSERT_TRUE(windowed->EndScene());
    const TRect r{0, 0, 96, 64};
    EXPECT_TRUE(windowed->Present(&r, &r, 1));
    EXPECT_EQ(Pixel(*Frame(*windowed), 95, 63), 0xFF336699u);
    // The headless renderer made before still draws: each call binds its own context.
    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0xFF010203, 0));
    EXPECT_EQ(Pixel(*Frame(*renderer), 0, 0), 0xFF010203u);
    EXPECT_EQ(Pixel(*Frame(*windowed), 0, 0), 0xFF336699u);
}

TEST_F(WindowTest, AWindowWithoutGLGivesNoRendererAndNoCrash) {
    MakeWindow(0);
    int killed = 0;
    TRendererParams params;
    engine->GetAdapterInfo(0, params);
    windowed = engine->CreateRenderer(windowDevice.Get(), params);
    EXPECT_FALSE(windowed);
    EXPECT_EQ(killed, 0);
    EXPECT_TRUE(windowDevice->Renderers().empty());
    // The store stays with the window, without a device, for the next attempt.
    auto* store = windowDevice->Find<TDevStore>();
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->Device(), nullptr);
}

TEST_F(WindowTest, MonitorsComeFromSdlWhileItsVideoRuns) {
    TRendererParams info;
    ASSERT_TRUE(engine->GetAdapterInfo(0, info));
    SDL_Rect bounds{};
    ASSERT_EQ(SDL_GetDisplayBounds(0, &bounds), 0);
    EXPECT_EQ(info.Rect, (TRect{bounds.x, bounds.y, bounds.x + bounds.w, bounds.y + bounds.h}));
    EXPECT_GT(info.RefreshRate, 0);
    EXPECT_FALSE(engine->GetAdapterInfo(SDL_GetNumVideoDisplays(), info));
    TScreen& monitors = TScreen::Instance();
    monitors.Refresh();
    EXPECT_EQ(monitors.MonitorCount(), SDL_GetNumVideoDisplays());
    EXPECT_EQ(monitors.MonitorRect(0), info.Rect);
    EXPECT_EQ(monitors.MonitorForRect(info.Rect), 0);
}

} // namespace
} // namespace kiv

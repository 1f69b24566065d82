// Renderer life: creation from another thread, device loss and recreation, two renderers on one
// window.
#include "render/DevStore.h"
#include "render/RenderFixture.h"
#include "render/gl/RendererGL.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

namespace kiv {
namespace {

using LifecycleTest = test::TRenderFixture;

TRef<TBitmap> Checker(int w, int h) {
    auto b = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t v =
                ((x / 2 + y / 2) % 2) ? 0xFF10C0F0u : 0xFF802010u + static_cast<std::uint32_t>(x);
            std::memcpy(b->Row(y) + x * 4, &v, 4);
        }
    return b;
}

bool SameFrames(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.Row(y), b.Row(y), a.RowBytes()) != 0) return false;
    return true;
}

TEST_F(LifecycleTest, AForcedLossKillsEverythingOnceAndTheNextFrameMatchesTheOneBefore) {
    auto picture = Checker(16, 8);
    auto drawFrame = [&](T3DRenderer& r, T3DTexture* texture) {
        EXPECT_TRUE(r.BeginScene());
        EXPECT_TRUE(r.Clear(nullptr, 0, kClearTarget, 0xFF204060, 0));
        DrawRect(r, texture, {10, 6, 42, 22}, 0xFFFFFFFF, kDrawTextured | kDrawTextureAlpha);
        DrawRect(r, nullptr, {30, 20, 60, 40}, 0x80FF0000, kDrawVertexColors | kDrawTextureAlpha);
        EXPECT_TRUE(r.EndScene());
        return Frame(r);
    };
    auto texture = Upload(*renderer, *picture);
    auto list = renderer->CreateVertexList(3, kVertexDiffuse, 0);
    auto shader = renderer->CreateShader("void main() { fragColor = vColor; }\n", false);
    ASSERT_TRUE(texture && list && shader);
    int rendererKilled = 0, textureKilled = 0, listKilled = 0, shaderKilled = 0;
    renderer->OnKilled = [&] { ++rendererKilled; };
    texture->OnKilled = [&] { ++textureKilled; };
    list->OnKilled = [&] { ++listKilled; };
    shader->OnKilled = [&] { ++shaderKilled; };
    auto before = drawFrame(*renderer, texture.Get());

    TDevStore* store = device->Find<TDevStore>();
    ASSERT_NE(store, nullptr);
    dynamic_cast<T3DRendererGL&>(*renderer).ForceLossForTesting();
    EXPECT_FALSE(renderer->BeginScene()) << "the loss is reported by the call that meets it";
    EXPECT_EQ(renderer->State, kStateLost);
    EXPECT_EQ(renderer->LastError, kErrLost);
    EXPECT_EQ(device->Find<TDevStore>(), nullptr) << "the window's store was destroyed";
    EXPECT_EQ(rendererKilled, 1);
    EXPECT_EQ(textureKilled, 1);
    EXPECT_EQ(listKilled, 1);
    EXPECT_EQ(shaderKilled, 1);
    EXPECT_TRUE(texture->Killed());
    EXPECT_FALSE(renderer->Clear(nullptr, 0, kClearTarget, 0, 0)) << "a lost renderer draws nothing";
    EXPECT_EQ(rendererKilled, 1) << "killed once only";

    // The layers above make a new renderer and reload what they need.
    renderer = MakeRenderer(device.Get());
    ASSERT_TRUE(renderer);
    EXPECT_NE(device->Find<TDevStore>(), nullptr);
    auto reloaded = Upload(*renderer, *picture);
    auto after = drawFrame(*renderer, reloaded.Get());
    EXPECT_TRUE(SameFrames(*before, *after));
    texture.Reset(); // a killed texture goes without touching the new device
    list.Reset();
    shader.Reset();
    EXPECT_TRUE(renderer->BeginScene());
}

TEST_F(LifecycleTest, AContextResetReportedByRobustnessIsALostDevice) {
    // The hook stands in for the driver: the software rasteriser makes no robust context.
    struct TRestore {
        ~TRestore() { T3DRendererGL::SetResetStatusForTesting({}); }
    } restore;
    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0xFF112233, 0));
    auto before = Frame(*renderer);
    int killed = 0;
    renderer->OnKilled = [&] { ++killed; };
    int asked = 0;
    T3DRendererGL::SetResetStatusForTesting([&]() -> unsigned {
        ++asked;
        return 0x8253; // GL_GUILTY_CONTEXT_RESET
    });
    EXPECT_FALSE(renderer->Clear(nullptr, 0, kClearTarget, 0xFF112233, 0));
    EXPECT_GT(asked, 0);
    EXPECT_EQ(renderer->State, kStateLost);
    EXPECT_EQ(renderer->LastError, kErrLost);
    EXPECT_EQ(killed, 1);
    EXPECT_EQ(device->Find<TDevStore>(), nullptr) << "the window's store was destroyed";
    T3DRendererGL::SetResetStatusForTesting([]() -> unsigned { return 0; });
    renderer = MakeRenderer(device.Get());
    ASSERT_TRUE(renderer);
    ASSERT_TRUE(renderer->BeginScene());
    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0xFF112233, 0));
    EXPECT_TRUE(SameFrames(*before, *Frame(*renderer)));
}

TEST_F(LifecycleTest, TwoRenderersOnOneWindowShareItsStoreAndOneOutlivesTheOther) {
    auto second = MakeRenderer(device.Get());
    ASSERT_TRUE(second);
    auto& a = dynamic_cast<T3DRendererGL&>(*renderer);
    auto& b = dynamic_cast<T3DRendererGL&>(*second);
    ASSERT_NE(a.Store(), nullptr);
    EXPECT_EQ(a.Store(), b.Store());
    EXPECT_EQ(a.Store()->Renderers.size(), 2u);
    EXPECT_EQ(device->Renderers().size(), 2u);

    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0xFF0000FF, 0));
    ASSERT_TRUE(second->BeginScene());
    ASSERT_TRUE(second->Clear(nullptr, 0, kClearTarget, 0xFF00FF00, 0));
    EXPECT_EQ(Pixel(*Frame(*renderer), 5, 5), 0xFF0000FFu) << "each renderer has its own back buffer";
    EXPECT_EQ(Pixel(*Frame(*second), 5, 5), 0xFF00FF00u);

    TDevStore* store = a.Store();
    renderer.Reset();
    EXPECT_EQ(store->Renderers.size(), 1u);
    EXPECT_EQ(device->Find<TDevStore>(), store) << "the store stays with the window";
    ASSERT_TRUE(second->Clear(nullptr, 0, kClearTarget, 0xFFFF0000, 0));
    EXPECT_EQ(Pixel(*Frame(*second), 5, 5), 0xFFFF0000u);
    EXPECT_EQ(device->Renderers().size(), 1u);
}

TEST_F(LifecycleTest, ARendererAskedForOnAWorkerIsPendingUntilTheMainThreadMadeIt) {
    auto other = MakeDevice(32, 32);
    std::thread::id refreshedOn;
    other->OnRefresh = [&] { refreshedOn = std::this_thread::get_id(); };
    const int done = LoopEndingEvent();

    TRef<T3DRenderer> pending;
    bool drewWhilePending = true;
    std::thread worker = test::StartNamedThread("kivTestWorker", [&] {
        TRendererParams params;
        engine->GetAdapterInfo(0, params);
        pending = engine->CreateRenderer(other.Get(), params);
        if (pending && pending->State == kStatePending)
            drewWhilePending = pending->BeginScene() || pending->Clear(nullptr, 0, kClearTarget, 0, 0) ||
                               pending->CreateTexture(kTexColor, 4, 4, false);
        app->Post(done, nullptr); // queued behind the creation
    });
    app->Run();
    worker.join();
    ASSERT_TRUE(pending);
    EXPECT_FALSE(drewWhilePending) << "a pending renderer fails every drawing call";
    EXPECT_EQ(refreshedOn, std::this_thread::get_id()) << "the device was made on the main thread";
    EXPECT_EQ(pending->State, kStateReady);
    ASSERT_TRUE(pending->BeginScene());
    ASSERT_TRUE(pending->Clear(nullptr, 0, kClearTarget, 0xFF123456, 0));
    EXPECT_EQ(Pixel(*Frame(*pending), 0, 0), 0xFF123456u);
    pending.Reset();
    other->Destroy();
}

TEST_F(LifecycleTest, APendingRendererFreedBeforeTheMainThreadRanLeavesNothingBehind) {
    auto other = MakeDevice(32, 32);
    bool refreshed = false;
    other->OnRefresh = [&] { refreshed = true; };
    const int done = LoopEndingEvent();
    std::thread worker = test::StartNamedThread("kivTestWorker", [&] {
        TRendererParams params;
        engine->GetAdapterInfo(0, params);
        auto pending = engine->CreateRenderer(other.Get(), params);
        EXPECT_EQ(pending->State, kStatePending);
        pending.Reset();
        app->Post(done, nullptr);
    });
    app->Run();
    worker.join();
    EXPECT_FALSE(refreshed) << "the posted record did nothing";
    EXPECT_TRUE(other->Renderers().empty());
    EXPECT_EQ(other->Find<TDevStore>(), nullptr);
    other->Destroy();
}

TEST_F(LifecycleTest, ARendererMadeOnTheMainThreadDrawsOnAnotherThread) {
    auto other = MakeDevice(16, 16);
    auto drawn = MakeRenderer(other.Get());
    ASSERT_TRUE(drawn);
    std::uint32_t seen = 0;
    bool began = false;
    std::thread engineThread = test::StartNamedThread("kivTestDraw", [&] {
        began = drawn->BeginScene() && drawn->Clear(nullptr, 0, kClearTarget, 0xFF445566, 0);
        seen = Pixel(*Frame(*drawn), 3, 3);
        drawn->LeaveThread();
    });
    engineThread.join();
    EXPECT_TRUE(began) << "creation let the context go for the drawing thread";
    EXPECT_EQ(seen, 0xFF445566u);
    // Back on the main thread once the drawing thread let go.
    ASSERT_TRUE(drawn->Clear(nullptr, 0, kClearTarget, 0xFF000000, 0));
    EXPECT_EQ(Pixel(*Frame(*drawn), 3, 3), 0xFF000000u);
    drawn.Reset();
    other->Destroy();
}

TEST_F(LifecycleTest, DestroyingTheDrawDeviceKillsItsRenderersAndClearsTheirDevice) {
    int killed = 0;
    renderer->OnKilled = [&] { ++killed; };
    device->Destroy();
    EXPECT_EQ(killed, 1);
    EXPECT_EQ(renderer->Device, nullptr);
    EXPECT_FALSE(renderer->BeginScene());
    EXPECT_EQ(renderer->State, kStateLost);
}

TEST_F(LifecycleTest, CreationWithoutAWindowToDrawOnFails) {
    TRendererParams params;
    EXPECT_FALSE(engine->CreateRenderer(nullptr, params));
}

} // namespace
} // namespace kiv

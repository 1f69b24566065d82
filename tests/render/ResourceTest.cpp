// Texture formats and addressing, surface and volume locks, the engine singleton and the device
// lock.
#include "render/DeviceLock.h"
#include "render/Monitors.h"
#include "render/RenderFixture.h"
#include "render/gl/GLContext.h"
#include "render/gl/RendererGL.h"

#include <gtest/gtest.h>

#include <cstring>
#include <epoxy/gl.h>

namespace kiv {
namespace {

using ResourceTest = test::TRenderFixture;

TEST_F(ResourceTest, SixteenBitTexturesKeepBlueInTheLowBits) {
    auto texture = renderer->CreateTexture(kTex565, 2, 1, false);
    ASSERT_TRUE(texture);
    T3DSurface* s = texture->GetSurface(0);
    ASSERT_EQ(s->GetPixelFormat(), TPixelFormat::Rgb565);
    auto locked = s->Lock({0, 0, 2, 1}, false);
    const std::uint16_t pixels[2] = {0x001F, 0xF800}; // pure blue, pure red
    std::memcpy(locked->Row(0), pixels, 4);
    s->Unlock(locked.Get());
    texture->SetFilter(kFilterPoint);
    texture->SetAddressing(kAddressClamp, kAddressClamp);
    DrawRect(*renderer, texture.Get(), {0, 0, 2, 1}, 0xFFFFFFFF, kDrawTextured | kDrawTextureAlpha);
    auto frame = Frame(*renderer);
    EXPECT_EQ(Pixel(*frame, 0, 0), 0xFF0000FFu);
    EXPECT_EQ(Pixel(*frame, 1, 0), 0xFFFF0000u);
}

TEST_F(ResourceTest, AddressingRepeatsMirrorsOrClampsBeyondTheTexture) {
    auto picture = MakeRef<TBitmap>(2, 1, TPixelFormat::Bgra32);
    const std::uint32_t texels[2] = {0xFF0000FF, 0xFF00FF00};
    std::memcpy(picture->Row(0), texels, 8);
    auto texture = Upload(*renderer, *picture);
    // Texture coordinates 0 … 2 across 4 pixels: texels a b | then the second copy.
    auto row = [&](TAddressing mode) {
        texture->SetAddressing(mode, mode);
        DrawRect(*renderer, texture.Get(), {0, 0, 2, 1}, 0xFFFFFFFF, kDrawTextured);
        TSourceVertex v[4];
        const float xs[4] = {-1, -1 + 8.0f / kWidth, -1, -1 + 8.0f / kWidth};
        const float ys[4] = {1, 1, 1 - 2.0f / kHeight, 1 - 2.0f / kHeight};
        const float us[4] = {0, 2, 0, 2};
        for (int i = 0; i < 4; ++i) {
            v[i].x = xs[i];
            v[i].y = ys[i];
            v[i].tex[0] = {us[i], 0.5f};
        }
        auto list = renderer->CreateVertexList(4, 0, 1);
        EXPECT_TRUE(list->Fill(0, v, 4, 0));
        list->SetRange(0, 2, kPrimTriangleStrip);
        EXPECT_TRUE(renderer->DrawVertexList({texture.Get()}, list.Get(), kDrawTextured));
        auto f = Frame(*renderer);
        std::string s;
        for (int x = 0; x < 4; ++x)
            s += Pixel(*f, x, 0) == texels[0] ? 'a' : Pixel(*f, x, 0) == texels[1] ? 'b' : '?';
        return s;
    };
    EXPECT_EQ(row(kAddressWrap), "abab");
    EXPECT_EQ(row(kAddressMirror), "abba");
    EXPECT_EQ(row(kAddressClamp), "abbb");
}

TEST_F(ResourceTest, MipChainsNeedAnisotropyAndRenderTargetsHaveOneLevel) {
    EXPECT_EQ(renderer->CreateTexture(kTexColor, 64, 32, true)->LevelCount(), 1) << "anisotropy is off";
    T3DEngineGL::SetAnisotropyEnabled(true);
    EXPECT_EQ(renderer->CreateTexture(kTexColor, 64, 32, true)->LevelCount(), 7);
    EXPECT_EQ(renderer->CreateTexture(kTexGrey, 16, 16, true)->LevelCount(), 5);
    EXPECT_EQ(renderer->CreateTexture(kTexTargetAlpha, 64, 64, true)->LevelCount(), 1);
    EXPECT_EQ(renderer->CreateTexture(kTexColor, 64, 32, false)->LevelCount(), 1);
    T3DEngineGL::SetAnisotropyEnabled(false);
}

TEST_F(ResourceTest, LocksOutsideTheSurfaceFailAndReadOnlyLocksChangeNothing) {
    auto texture = renderer->CreateTexture(kTexColor, 4, 4, false);
    T3DSurface* s = texture->GetSurface(0);
    EXPECT_FALSE(s->Lock({4, 4, 8, 8}, false));
    EXPECT_EQ(s->GetSize(), (TPoint{4, 4}));
    auto locked = s->Lock({0, 0, 4, 4}, false);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const std::uint32_t opaque = 0xFF111111;
            std::memcpy(locked->Row(y) + x * 4, &opaque, 4);
        }
    s->Unlock(locked.Get());
    auto peek = s->Lock({1, 1, 3, 3}, true);
    ASSERT_TRUE(peek);
    EXPECT_EQ(peek->Width(), 2);
    std::memset(peek->Row(0), 0x99, 8);
    s->Unlock(peek.Get());
    auto copy = MakeRef<TBitmap>(4, 4, TPixelFormat::Bgra32);
    ASSERT_TRUE(s->CopyTo(*copy));
    EXPECT_EQ(copy->Row(1)[4], 0x11) << "writes into a read-only lock are dropped";
    // What the device samples is still the last written level.
    texture->SetFilter(kFilterPoint);
    texture->SetAddressing(kAddressClamp, kAddressClamp);
    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0, 0));
    DrawRect(*renderer, texture.Get(), {0, 0, 4, 4}, 0xFFFFFFFF, kDrawTextured);
    EXPECT_EQ(Pixel(*Frame(*renderer), 1, 1), 0xFF111111u);
}

TEST_F(ResourceTest, VolumeLocksHandBackTheBoxSliceAfterSlice) {
    auto volume = renderer->CreateVolumeTexture(4, 4, 4);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->LevelCount(), 1);
    auto all = volume->LockLevel(0, {0, 0, 0, 4, 4, 4});
    ASSERT_TRUE(all);
    ASSERT_EQ(all->Height(), 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 4; ++x)
            all->Row(y)[x * 4] = static_cast<std::uint8_t>(y * 4 + x);
    volume->UnlockLevel(0, all.Get());
    auto box = volume->LockLevel(0, {1, 2, 1, 3, 4, 3});
    ASSERT_TRUE(box);
    EXPECT_EQ(box->Width(), 2);
    EXPECT_EQ(box->Height(), 4);
    EXPECT_EQ(box->Row(0)[0], (1 * 4 + 2) * 4 + 1) << "slice 1, row 2, column 1";
    EXPECT_EQ(box->Row(3)[4], (2 * 4 + 3) * 4 + 2) << "slice 2, row 3, column 2";
    volume->UnlockLevel(0, box.Get());
    EXPECT_FALSE(volume->LockLevel(0, {0, 0, 0, 5, 4, 4})) << "a box beyond the texture";
    EXPECT_FALSE(volume->LockLevel(1, {0, 0, 0, 1, 1, 1})) << "one level only";
}

TEST_F(ResourceTest, ObjectsReleasedOnAnotherThreadAreDeletedWhereTheContextIsCurrent) {
    // A vertex list and a render target's framebuffer made here, while this thread holds the
    // device context, and let go on another thread (as a slide freed by the loader lets its
    // objects go): they wait for this thread, which deletes them at its next renderer call.
    auto* gl = dynamic_cast<T3DRendererGL*>(renderer.Get());
    ASSERT_NE(gl, nullptr);
    auto* context = static_cast<TGLContext*>(gl->Store()->Device());
    TRef<T3DVertexList> list = renderer->CreateVertexList(4, 0, 1);
    ASSERT_TRUE(list);
    TSourceVertex v[4]{};
    ASSERT_TRUE(list->Fill(0, v, 4, 0)); // the list's buffer exists now
    TRef<T3DTexture> target = renderer->CreateTexture(kTexTargetAlpha, 8, 8, false);
    ASSERT_TRUE(target);
    ASSERT_TRUE(renderer->SetRenderTarget(target->GetSurface(0))); // its framebuffer exists now
    ASSERT_TRUE(renderer->SetRenderTarget(nullptr));
    const std::size_t before = context->DeletesWaiting();
    std::thread other = test::StartNamedThread("release", [&] {
        list.Reset();
        target.Reset();
    });
    other.join();
    EXPECT_EQ(context->DeletesWaiting(), before + 3) << "vertex array, buffer and framebuffer wait";
    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0, 0));
    EXPECT_EQ(context->DeletesWaiting(), 0u) << "deleted at this thread's next call";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(EngineSingleton, IsMadeOnceByTheFactoryAndReleasedAtShutdown) {
    int made = 0;
    T3DEngine::SetFactory([&made] {
        ++made;
        return TRef<T3DEngine>();
    });
    EXPECT_EQ(T3DEngine::Get(), nullptr);
    EXPECT_EQ(T3DEngine::Get(), nullptr);
    EXPECT_EQ(made, 1) << "a failed factory is not asked again";
    T3DEngine::Shutdown();
    EXPECT_EQ(T3DEngine::Get(), nullptr);
    EXPECT_EQ(made, 2);
    T3DEngine::SetFactory(nullptr);
    T3DEngine::Shutdown();
}

TEST(DeviceLock, IsReentrantAndKeepsOtherThreadsOut) {
    TDeviceLockGuard outer;
    {
        TDeviceLockGuard inner; // the same thread enters again
    }
    bool enteredWhileHeld = true;
    std::thread worker = test::StartNamedThread("kivLockProbe", [&] {
        enteredWhileHeld = DeviceLock().TryEnter();
        if (enteredWhileHeld) DeviceLock().Leave();
    });
    worker.join();
    EXPECT_FALSE(enteredWhileHeld);
}

TEST(Rectangles, IntersectAndCompareEmptyOnesAsEqual) {
    EXPECT_EQ(Intersect({0, 0, 10, 10}, {5, 5, 20, 20}), (TRect{5, 5, 10, 10}));
    EXPECT_TRUE(Intersect({0, 0, 10, 10}, {10, 0, 20, 10}).IsEmpty());
    EXPECT_TRUE((TRect{3, 3, 3, 9}).SameAs(TRect{0, 0, 0, 0}));
    EXPECT_FALSE((TRect{0, 0, 1, 1}).SameAs(TRect{0, 0, 0, 0}));
    EXPECT_EQ(RectText({1, 2, 3, 4}), "(1, 2, 3, 4)");
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

TEST(Monitors, HeadlessThereIsOneMonitorOfTheHeadlessSize) {
    TScreen::SetHeadlessSize(800, 600);
    TScreen& screen = TScreen::Instance();
    screen.Refresh();
    ASSERT_EQ(screen.MonitorCount(), 1);
    EXPECT_EQ(screen.ScreenSize(), (TPoint{800, 600}));
    EXPECT_EQ(screen.PixelsPerInch(), (TPoint{96, 96}));
    EXPECT_EQ(screen.CenteredRect(301, 201), (TRect{249, 199, 550, 400})) << "offsets rounded toward zero";
    EXPECT_EQ(screen.DesktopRect(), (TRect{0, 0, 800, 600}));
    EXPECT_EQ(screen.MonitorRect(1), TRect{}) << "no such monitor";
    EXPECT_EQ(screen.MonitorForRect({5000, 5000, 5100, 5100}), 0) << "none overlaps: the first";
    TScreen::SetHeadlessSize(1920, 1080);
    screen.Refresh();
}

} // namespace
} // namespace kiv

// A headless drawing set-up for the render tests: the application object (the main thread's
// queue), the GL engine, a draw device without a window and a renderer on it, plus helpers that
// draw pixel rectangles with identity transforms and read the frame back; and the same set-up
// with a slide drawer on the device, for tests that draw through it.
#pragma once

#include "framework/Application.h"
#include "images/Bitmap.h"
#include "render/DrawDevice.h"
#include "render/Drawer.h"
#include "render/Renderer.h"
#include "render/gl/EngineGL.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace kiv::test {

class TRenderFixture : public testing::Test {
public:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;

    void SetUp() override;
    void TearDown() override;

    // A headless draw device of the given size.
    TRef<TDrawDevice> MakeDevice(int width, int height);
    TRef<T3DRenderer> MakeRenderer(TDrawDevice* device);

    // A colour texture (kind 0) filled from a 32-bit picture, point or linear filtered, clamped.
    TRef<T3DTexture> Upload(T3DRenderer& r, TBitmap& picture, int kind = kTexColor);
    // Draws the pixel rectangle with `texture` (texel coordinates 0 … 1 across it) or, without a
    // texture, in `color` (0xAARRGGBB). flags as DrawVertexList takes them.
    void DrawRect(T3DRenderer& r, T3DTexture* texture, const TRect& rect, std::uint32_t color,
                  unsigned flags);
    // The back buffer (or the current target), top row first.
    TRef<TBitmap> Frame(T3DRenderer& r);
    static std::uint32_t Pixel(const TBitmap& b, int x, int y);
    static void WritePng(const TBitmap& b, const std::string& path);
    // A new application event number whose firing ends the running loop (app->Run returns), for
    // tests that wait on the main thread for a worker's cross-thread calls.
    int LoopEndingEvent();

    TZkApplication* app = nullptr;
    TRef<T3DEngineGL> engine;
    TRef<TDrawDevice> device;
    TRef<T3DRenderer> renderer;

private:
    struct TLoopEnd {
        TZkApplication* app = nullptr;
        void OnDone(TRefObject*, int, TRefObject*) { app->Terminate(); }
    } loopEnd_;
};

// A draw item that runs a function, with a blur value; counts the frame ends it hears.
class TFnItem final : public TDrawItem {
public:
    explicit TFnItem(std::function<void(TDeviceDrawer&)> body, float blur = 0)
        : body_(std::move(body)), blur_(blur) {}
    void Draw(TDeviceDrawer& drawer) override { body_(drawer); }
    float GetBlur() const override { return blur_; }
    void AfterDraw(TDeviceDrawer&) override { ++afterDraws; }
    int afterDraws = 0;

private:
    std::function<void(TDeviceDrawer&)> body_;
    float blur_;
};

// The fixture with a slide drawer on its device instead of a renderer of its own: the drawer's
// screen makes the renderer, through the fixture's engine.
class TDrawerFixture : public TRenderFixture {
public:
    void SetUp() override;
    void TearDown() override;

    // One frame: cleared to `background` (0xAARRGGBB), then `body`; read back, with GL's error
    // state checked.
    TRef<TBitmap> DrawFrame(std::uint32_t background, const std::function<void(TDeviceDrawer&)>& body);

    TRef<T3DDrawer> drawer;
};

// Starts `body` on a thread with the given name; the caller joins it.
std::thread StartNamedThread(const char* name, std::function<void()> body);

} // namespace kiv::test

// The slide drawer on a headless GL context for benchmarks: the application object, the GL
// engine, a draw device of a given size that is drawn but never presented, and a one-pixel read
// that puts the rasteriser's work inside a frame's time.
#pragma once

#include "framework/Application.h"
#include "render/DrawDevice.h"
#include "render/Drawer.h"
#include "render/gl/EngineGL.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace kiv::bench {

struct THeadlessDrawer {
    TZkApplication* app = nullptr; // lives for the whole program
    TRef<T3DEngine> engine;
    TRef<TDrawDevice> device;
    TRef<T3DDrawer> drawer;

    THeadlessDrawer(int width, int height) {
        app = new TZkApplication;
        app->Prepare();
        engine = CreateEngineGL();
        if (!engine) std::abort();
        TRef<T3DEngine> e = engine;
        T3DEngine::SetFactory([e] { return e; });
        T3DEngineGL::SetAnisotropyEnabled(false);
        device = MakeRef<TDrawDevice>();
        device->SetBounds({0, 0, width, height}, {0, 0}, false);
        drawer = MakeRef<T3DDrawer>();
        drawer->Init(device.Get());
        drawer->SetCaptureSize({width, height});
    }

    void ReadOnePixel() {
        T3DSurface* back = nullptr;
        drawer->Screen()->Renderer()->GetBackBuffer(back);
        if (!back) return;
        auto one = back->Lock({0, 0, 1, 1}, true);
        benchmark::DoNotOptimize(one->Row(0)[0]);
        back->Unlock(one.Get());
    }
};

} // namespace kiv::bench

// What the drawing benchmarks share: the slide drawer on a headless GL context of 1280 × 720 (drawn,
// never presented), a host that serves pictures by name, and a slide built from project text.
#pragma once

#include "framework/Application.h"
#include "images/BitmapStore.h"
#include "ini/IniFile.h"
#include "objects/KivSlide.h"
#include "objects/ObjectHost.h"
#include "render/DrawDevice.h"
#include "render/Drawer.h"
#include "render/gl/EngineGL.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <utility>

namespace kiv::bench {

constexpr int kFrameWidth = 1280;
constexpr int kFrameHeight = 720;

// A host with the camera of a 1280 × 720 screen and the pictures put in `pictures`.
class TPictureHost final : public TKivObjectHost {
public:
    std::map<std::string, TRef<TImage>> pictures;
    TVec3 CameraPosition() const override { return {kFrameWidth / 2.0, kFrameHeight / 2.0, -kFrameHeight}; }
    TRef<TImage> LoadPicture(const std::string& name) override {
        const auto found = pictures.find(name);
        return found == pictures.end() ? TRef<TImage>{} : found->second;
    }
};

// A draw item running a function, with a blur value.
class TFnItem final : public TDrawItem {
public:
    TFnItem(std::function<void(TDeviceDrawer&)> body, float blur) : body_(std::move(body)), blur_(blur) {}
    void Draw(TDeviceDrawer& drawer) override { body_(drawer); }
    float GetBlur() const override { return blur_; }

private:
    std::function<void(TDeviceDrawer&)> body_;
    float blur_;
};

// The application, the GL engine and a 1280 × 720 device; aborts when there is no GL.
struct THeadlessDevice {
    TZkApplication* app = nullptr;
    TRef<T3DEngine> engine;
    TRef<TDrawDevice> device;

    THeadlessDevice() {
        app = new TZkApplication;
        app->Prepare();
        engine = CreateEngineGL();
        if (!engine) std::abort();
        TRef<T3DEngine> e = engine;
        T3DEngine::SetFactory([e] { return e; });
        T3DEngineGL::SetAnisotropyEnabled(false);
        device = MakeRef<TDrawDevice>();
        device->SetBounds({0, 0, kFrameWidth, kFrameHeight}, {0, 0}, false);
    }
};

// The slide drawer on that device, made once for the whole program.
struct THeadlessGl : THeadlessDevice {
    TRef<T3DDrawer> drawer;

    THeadlessGl() {
        drawer = MakeRef<T3DDrawer>();
        drawer->Init(device.Get());
        drawer->SetCaptureSize({kFrameWidth, kFrameHeight}); // drawn, never presented
    }

    // Reads one pixel back, so that the rasteriser's work is inside the time.
    void ReadOnePixel() {
        T3DSurface* back = nullptr;
        drawer->Screen()->Renderer()->GetBackBuffer(back);
        auto one = back->Lock({0, 0, 1, 1}, true);
        benchmark::DoNotOptimize(one->Row(0)[0]);
        back->Unlock(one.Get());
    }
    // One frame: cleared to black, `slide` drawn, one pixel read.
    void DrawFrame(TKivSlide& slide) {
        TFnItem root(
            [&](TDeviceDrawer& d) {
                drawer->Clear(0xFF000000, false);
                d.Draw(slide);
            },
            0);
        drawer->Draw(root);
        ReadOnePixel();
    }
};

inline THeadlessGl& HeadlessGl() {
    static THeadlessGl* gl = new THeadlessGl; // lives for the whole program
    return *gl;
}

// A 1280 × 720 slide of 10 seconds built from `text` (a "[Slide]" section holding one root
// object) and advanced to its start; `file` keeps the project text alive. Aborts when the text
// holds no slide.
inline TRef<TKivSlide> BuildBenchSlide(TKivObjectHost& host, TIniFile& file, const std::string& text) {
    file.LoadFromText(text);
    auto slide = MakeRef<TKivSlide>(&host, 0);
    slide->SetSize(kFrameWidth, kFrameHeight);
    slide->SetCentre({kFrameWidth / 2.0, kFrameHeight / 2.0});
    TSlideInfo times;
    times.sync = 9000;
    times.nextTransition = 1000;
    times.end = 10000;
    slide->SetTimes(times, 0);
    TKeyframeTiming timing;
    timing.build = timing.actual = DurationsOf(times);
    TIniList* section = file.FindSection("Slide");
    if (!section) std::abort();
    slide->Build(TKivSlide::RootObject(*section), timing);
    slide->Advance(true, 0);
    return slide;
}

} // namespace kiv::bench

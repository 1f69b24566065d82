// T3DEngineGL: the engine on OpenGL. One context per window store: an SDL GL context when the draw
// device has a window, headless EGL (surfaceless) when it has none. Capabilities come from a
// probe context made on first question. Monitors come from SDL when its video subsystem runs,
// else one headless monitor (1920 × 1080 at 60 Hz unless a test sets another).
//
// Renderers are created on the main thread. CreateRenderer from another thread returns a pending
// renderer and posts a TInitData record to the main thread through the application's
// cross-thread queue; the main thread's handler makes the device later.
#pragma once

#include "render/Engine.h"

#include <atomic>
#include <functional>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

class TDrawDevice;
class TDevStore;
class TDeviceContext;
class T3DRendererGL;
class TGLContext;

// The record that carries a pending creation to the main thread.
class TInitData : public TRefObject {
public:
    TRef<TDrawDevice> Device;
    T3DRendererGL* Renderer = nullptr; // cleared when the renderer dies first
    TRendererParams Params;
};

// The record that carries the release of a full-screen device and the window placement restore to
// the main thread.
class TReleaseData : public TRefObject {
public:
    TRef<TDeviceContext> Context;
    std::uint32_t WindowId = 0;
    TRect Rect;
};

// A window call carried to the main thread.
class TWindowCall : public TRefObject {
public:
    std::function<void()> Call;
};

class T3DEngineGL final : public T3DEngine {
public:
    T3DEngineGL();

    int AdapterForRect(const TRect& rect) override;
    int GetCaps(const std::string& name, int adapter) override;
    std::string GetCapsText(const std::string& name, int adapter) override;
    bool GetAdapterInfo(int adapter, TRendererParams& info) override;
    TRef<T3DRenderer> CreateRenderer(TDrawDevice* device, const TRendererParams& params) override;
    bool IsDeviceUsable() override { return usable_.load(); }
    void ReleaseFullScreen(TDrawDevice* device, TRef<TDeviceContext> context, const TRect& rect) override;
    int ShaderLevel(int adapter) override;

    // Main thread, under the device lock: makes the renderer's device (reusing the window's store
    // and context) and its back buffer. On failure the renderer's OnKilled fires.
    bool InternalCreateRenderer(TDrawDevice* device, const TRendererParams& params, T3DRendererGL* renderer);

    int MarshalEvent() const { return marshalEvent_; }
    // Runs `call` at once on the main thread, else posts it there (window calls are made on the
    // main thread only). Dropped when there is no application to post to.
    void OnMainThreadCall(std::function<void()> call);

    // Test seams.
    void SetHeadlessMonitor(const TRect& rect, int refreshRate) { SetHeadlessMonitors({rect}, refreshRate); }
    void SetHeadlessMonitors(std::vector<TRect> rects, int refreshRate);
    void SetDeviceUsableForTesting(bool usable) { usable_ = usable; }
    // Anisotropic filtering of mip-mapped textures (off for exact pixel tests).
    static void SetAnisotropyEnabled(bool enabled);
    static bool AnisotropyEnabled();

protected:
    ~T3DEngineGL() override;

private:
    void OnMarshal(TRefObject* sender, int event, TRefObject* data);
    struct TCaps {
        bool known = false;
        int maxTexture = 0;
        int maxAnisotropy = 0;
        int pixelShaderVersion = 0;
        int vendorId = 0;
        std::string description;
    };
    const TCaps& Caps();
    std::vector<TRect> Monitors();

    int marshalEvent_ = 0;
    std::atomic<bool> usable_{true};
    std::mutex capsLock_;
    TCaps caps_;
    std::vector<TRect> headlessMonitors_{TRect{0, 0, 1920, 1080}};
    int headlessRefresh_ = 60;
};

// The factory the program installs: an engine when a GL 3.3 core context can be made (windowed
// or headless), none otherwise (the reason is logged).
TRef<T3DEngine> CreateEngineGL();

} // namespace kiv

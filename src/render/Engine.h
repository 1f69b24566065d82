// T3DEngine: the process-wide entry to the drawing device: adapters, their capabilities and the
// creation of renderers. The engine is a singleton made on first request by the installed
// factory; a missing engine is treated like one whose IsDeviceUsable is false.
#pragma once

#include "base/RefObject.h"
#include "render/RenderTypes.h"

#include <functional>
#include <string>

namespace kiv {

class TDrawDevice;
class TDeviceContext;
class T3DRenderer;

// Renderer parameters: the adapter's monitor rectangle on the desktop, its refresh rate (Hz, 0
// when unknown) and display format, and the adapter index.
struct TRendererParams {
    TRect Rect;
    int RefreshRate = 0;
    int Format = 0;
    int Adapter = 0;
};

class T3DEngine : public TRefObject {
public:
    // The adapter whose monitor overlaps `rect` most (the first on ties); 0 when none does.
    virtual int AdapterForRect(const TRect& rect) = 0;
    // Case-insensitive names: "pixelshaderversion", "maxtexwidth", "maxtexheight",
    // "maxanisotropy", "raster", "vendor"; any other name gives 0.
    virtual int GetCaps(const std::string& name, int adapter) = 0;
    // "vendor": the adapter description; otherwise empty.
    virtual std::string GetCapsText(const std::string& name, int adapter) = 0;
    // Fills Rect, RefreshRate and Format; false when the display mode cannot be read.
    virtual bool GetAdapterInfo(int adapter, TRendererParams& info) = 0;
    // On the main thread: a ready renderer, or none on failure. On another thread: a pending
    // renderer at once (State 1) whose device the main thread makes later; when that fails the
    // renderer's OnKilled fires.
    virtual TRef<T3DRenderer> CreateRenderer(TDrawDevice* device, const TRendererParams& params) = 0;
    virtual bool IsDeviceUsable() { return true; }
    // A full-screen store or renderer let go of its device: the device reference is released and
    // the window put back over `rect` on the main thread (posted there from other threads).
    virtual void ReleaseFullScreen(TDrawDevice* device, TRef<TDeviceContext> context, const TRect& rect) {
        (void)device;
        (void)context;
        (void)rect;
    }
    // 0, 1 or 2: how much of the pixel-shader catalog the adapter runs.
    virtual int ShaderLevel(int adapter) = 0;

    int LastError = kErrNone;

    // The process-wide engine, made on first request by the factory (none when it fails).
    static T3DEngine* Get();
    // Installs the factory; the engine made by an earlier factory is released.
    static void SetFactory(std::function<TRef<T3DEngine>()> factory);
    // Releases the engine (program end, tests).
    static void Shutdown();
    // The process-wide switch that lets full-screen shows take exclusive mode (on by default).
    static void SetExclusiveAllowed(bool allowed);
    static bool ExclusiveAllowed();
};

// The shader level from an adapter's vendor id and pixel-shader version (major × 0x100 + minor).
int ShaderLevelFor(int vendorId, int pixelShaderVersion);

} // namespace kiv

#include "render/gl/EngineGL.h"

#include "base/Assert.h"
#include "base/CaseFold.h"
#include "base/Exception.h"
#include "base/Log.h"
#include "framework/Application.h"
#include "render/DevStore.h"
#include "render/DeviceLock.h"
#include "render/DrawDevice.h"
#include "render/gl/GLContext.h"
#include "render/gl/RendererGL.h"
#include "render/gl/ResourcesGL.h"
#include "render/gl/WindowModes.h"

#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kiv {
namespace {

std::atomic<bool> anisotropyEnabled{true};

std::string Lower(const std::string& s) {
    std::string r = s;
    std::transform(r.begin(), r.end(), r.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return r;
}

// PCI vendor ids from the GL vendor and renderer strings.
int VendorIdOf(const std::string& vendor, const std::string& renderer) {
    const std::string text = Lower(vendor + " " + renderer);
    if (text.find("intel") != std::string::npos) return 0x8086;
    if (text.find("nvidia") != std::string::npos) return 0x10DE;
    if (text.find("amd") != std::string::npos || text.find("ati ") != std::string::npos) return 0x1002;
    return 0; // a software rasteriser
}

bool SdlVideoRuns() {
    return SDL_WasInit(SDL_INIT_VIDEO) != 0;
}

} // namespace

void T3DEngineGL::SetAnisotropyEnabled(bool enabled) {
    anisotropyEnabled = enabled;
}
bool T3DEngineGL::AnisotropyEnabled() {
    return anisotropyEnabled.load();
}

T3DEngineGL::T3DEngineGL() {
    marshalEvent_ = TCustomEventList::NewEventNumber();
    if (auto* app = TApplication::Instance())
        app->Subscribe(marshalEvent_, MakeEventHandler<&T3DEngineGL::OnMarshal>(this));
}

T3DEngineGL::~T3DEngineGL() {
    if (auto* app = TApplication::Instance())
        app->Unsubscribe(marshalEvent_, MakeEventHandler<&T3DEngineGL::OnMarshal>(this));
}

void T3DEngineGL::SetHeadlessMonitors(std::vector<TRect> rects, int refreshRate) {
    headlessMonitors_ = std::move(rects);
    headlessRefresh_ = refreshRate;
}

std::vector<TRect> T3DEngineGL::Monitors() {
    std::vector<TRect> monitors;
    if (SdlVideoRuns()) {
        const int n = SDL_GetNumVideoDisplays();
        for (int i = 0; i < n; ++i) {
            SDL_Rect r{};
            if (SDL_GetDisplayBounds(i, &r) == 0) monitors.push_back({r.x, r.y, r.x + r.w, r.y + r.h});
        }
    }
    if (monitors.empty()) monitors = headlessMonitors_;
    return monitors;
}

int T3DEngineGL::AdapterForRect(const TRect& rect) {
    const auto monitors = Monitors();
    int best = 0;
    std::int64_t bestArea = 0;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const TRect r = Intersect(monitors[i], rect);
        const std::int64_t area = std::int64_t{r.Width()} * r.Height();
        if (area > bestArea) {
            bestArea = area;
            best = static_cast<int>(i);
        }
    }
    return best;
}

bool T3DEngineGL::GetAdapterInfo(int adapter, TRendererParams& info) {
    const auto monitors = Monitors();
    if (adapter < 0 || adapter >= static_cast<int>(monitors.size())) return false;
    info.Rect = monitors[static_cast<std::size_t>(adapter)];
    info.Format = 0;
    info.RefreshRate = headlessRefresh_;
    if (SdlVideoRuns()) {
        SDL_DisplayMode mode{};
        if (SDL_GetCurrentDisplayMode(adapter, &mode) != 0) return false;
        info.RefreshRate = mode.refresh_rate > 0 ? mode.refresh_rate : 60;
        info.Format = static_cast<int>(mode.format);
    }
    return true;
}

const T3DEngineGL::TCaps& T3DEngineGL::Caps() {
    TDeviceLockGuard deviceGuard; // the device lock first, as every other path takes it
    std::lock_guard guard(capsLock_);
    if (caps_.known) return caps_;
    caps_.known = true;
    try {
        // The probe context answers and is let go at once.
        TRef<TGLContext> probe = CreateSurfacelessContext();
        if (!probe->MakeCurrent()) return caps_;
        GLint value = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &value);
        caps_.maxTexture = value;
        if (epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic")) {
            GLfloat aniso = 0;
            glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &aniso);
            caps_.maxAnisotropy = static_cast<int>(aniso);
        }
        const auto* vendor = reinterpret_cast<const char*>(glGetString(GL_VENDOR));
        const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        caps_.description = std::string(renderer ? renderer : "").substr(0, 512);
        caps_.vendorId = VendorIdOf(vendor ? vendor : "", renderer ? renderer : "");
        // A GL 3.3 core context runs everything shader model 3 ran.
        caps_.pixelShaderVersion = epoxy_gl_version() >= 33 ? 0x300 : 0x200;
        probe->Unbind();
    } catch (const Exception& e) {
        TLog::Line(e.Message());
    }
    return caps_;
}

int T3DEngineGL::GetCaps(const std::string& name, int) {
    const TCaps& caps = Caps();
    const std::string n = Lower(name);
    if (n == "pixelshaderversion") return caps.pixelShaderVersion;
    if (n == "maxtexwidth" || n == "maxtexheight") return caps.maxTexture;
    if (n == "maxanisotropy") return caps.maxAnisotropy;
    if (n == "raster") return caps.maxAnisotropy > 1 ? 1 : 0;
    if (n == "vendor") return caps.vendorId;
    return 0;
}

std::string T3DEngineGL::GetCapsText(const std::string& name, int) {
    if (Lower(name) == "vendor") return Caps().description;
    return {};
}

int T3DEngineGL::ShaderLevel(int adapter) {
    const TCaps& caps = Caps();
    if (caps.pixelShaderVersion == 0) return 0;
    return ShaderLevelFor(caps.vendorId, GetCaps("pixelshaderversion", adapter));
}

TRef<T3DRenderer> T3DEngineGL::CreateRenderer(TDrawDevice* device, const TRendererParams& params) {
    auto renderer = MakeRef<T3DRendererGL>(this);
    renderer->Device = device;
    if (device) device->AddRenderer(renderer.Get());
    if (OnMainThread()) {
        TDeviceLockGuard guard;
        if (!InternalCreateRenderer(device, params, renderer.Get())) return {};
        return renderer;
    }
    auto* app = dynamic_cast<TWinApplication*>(TApplication::Instance());
    if (!app) {
        TLog::Line("No application to create the renderer on");
        return {};
    }
    renderer->State = kStatePending;
    {
        // The main thread binds the window's context to make the renderer; a drawing thread that
        // holds it (a window that changed size or mode) lets go of it first, or every attempt
        // fails. The renderer's first call binds it here again.
        TDeviceLockGuard guard;
        auto* store = device ? device->Find<TDevStore>() : nullptr;
        if (auto* context = store ? static_cast<TGLContext*>(store->Device()) : nullptr) context->HandOver();
    }
    auto init = MakeRef<TInitData>();
    init->Device = ShareRef(device);
    init->Renderer = renderer.Get();
    init->Params = params;
    {
        TDeviceLockGuard guard;
        renderer->PendingInit = init.Get();
    }
    app->Post(marshalEvent_, init.Detach());
    return renderer;
}

void T3DEngineGL::ReleaseFullScreen(TDrawDevice* device, TRef<TDeviceContext> context, const TRect& rect) {
    const std::uint32_t windowId = device ? WindowId(static_cast<SDL_Window*>(device->Handle())) : 0;
    if (OnMainThread()) {
        context.Reset();
        RestoreWindowPlacement(windowId, rect);
        return;
    }
    auto* app = dynamic_cast<TWinApplication*>(TApplication::Instance());
    if (!app) return; // no main thread to hand the window to
    auto release = MakeRef<TReleaseData>();
    release->Context = std::move(context);
    release->WindowId = windowId;
    release->Rect = rect;
    app->Post(marshalEvent_, release.Detach());
}

void T3DEngineGL::OnMainThreadCall(std::function<void()> call) {
    if (OnMainThread()) {
        call();
        return;
    }
    auto* app = dynamic_cast<TWinApplication*>(TApplication::Instance());
    if (!app) return;
    auto record = MakeRef<TWindowCall>();
    record->Call = std::move(call);
    app->Post(marshalEvent_, record.Detach());
}

void T3DEngineGL::OnMarshal(TRefObject*, int, TRefObject* data) {
    if (auto* windowCall = dynamic_cast<TWindowCall*>(data)) {
        if (windowCall->Call) windowCall->Call();
        return;
    }
    if (auto* release = dynamic_cast<TReleaseData*>(data)) {
        {
            TDeviceLockGuard guard;
            release->Context.Reset();
        }
        if (release->WindowId && IsDeviceUsable()) RestoreWindowPlacement(release->WindowId, release->Rect);
        return;
    }
    auto* init = dynamic_cast<TInitData*>(data);
    if (!init) return;
    TDeviceLockGuard guard;
    // The drawing thread may take the window's context again once this is done, made or not.
    struct TEndHandOver {
        TDrawDevice* device;
        ~TEndHandOver() {
            auto* store = device ? device->Find<TDevStore>() : nullptr;
            if (auto* context = store ? static_cast<TGLContext*>(store->Device()) : nullptr)
                context->EndHandOver();
        }
    } endHandOver{init->Device.Get()};
    T3DRendererGL* renderer = init->Renderer;
    if (!renderer) return; // the renderer died first
    renderer->PendingInit = nullptr;
    init->Renderer = nullptr;
    renderer->AddRef();
    auto keep = TRef<T3DRendererGL>::Adopt(renderer);
    InternalCreateRenderer(init->Device.Get(), init->Params, renderer);
}

bool T3DEngineGL::InternalCreateRenderer(TDrawDevice* device, const TRendererParams& params,
                                         T3DRendererGL* renderer) {
    KIV_ASSERT_THREAD(MainThreadId());
    TDeviceLockGuard guard;
    auto fail = [&](const std::string& why) {
        if (!why.empty()) TLog::Line(why);
        TLog::Line("T3DEngine9.InternalCreateRenderer: create device res= " + std::to_string(kErrLost));
        renderer->State = kStateLost;
        renderer->LastError = kErrLost;
        if (renderer->OnKilled) {
            auto killed = renderer->OnKilled;
            killed();
        }
        return false;
    };
    if (!device) return fail("No window to draw");
    auto* wrapper = device->Find<TRectangleWrapper>();
    if (!wrapper) {
        auto w = MakeRef<TRectangleWrapper>();
        wrapper = w.Get();
        device->Attach(std::move(w));
    }
    TRect backRect;
    if (device->FullScreen()) {
        wrapper->SavedRect = params.Rect;
        backRect = {0, 0, params.Rect.Width(), params.Rect.Height()};
    } else {
        wrapper->SavedRect = device->Bounds();
        backRect = device->Bounds();
    }
    auto* window = static_cast<SDL_Window*>(device->Handle());
    const bool allowed = ExclusiveAllowed();
    if (device->FullScreen() && !allowed) RestoreWindowPlacement(WindowId(window), wrapper->SavedRect);
    // Exclusive is SDL's full screen at the desktop mode; every renderer still draws through its
    // own back buffer.
    renderer->Exclusive = device->FullScreen() && allowed && !wrapper->AvoidExclusive;
    wrapper->AvoidExclusive = false;
    TLog::Line(std::string("T3DEngine9.InternalCreateRenderer: init ") +
               (renderer->Exclusive ? "exclusive" : "windowed") + " device: " + RectText(wrapper->SavedRect));
    if (device->FullScreen()) EnterFullScreenMode(window, renderer->Exclusive);
    auto* store = device->Find<TDevStore>();
    if (!store) {
        auto s = MakeRef<TDevStore>(device, this);
        store = s.Get();
        device->Attach(std::move(s));
    }
    // A context this call binds (or makes) is let go again, so that the drawing thread can take it.
    const bool wasCurrent = store->Device() && static_cast<TGLContext*>(store->Device())->IsCurrentHere();
    if (!store->Device()) {
        try {
            store->SetDevice(window ? CreateWindowContext(window) : CreateSurfacelessContext());
        } catch (const Exception& e) {
            return fail(e.Message());
        }
    }
    auto* context = static_cast<TGLContext*>(store->Device());
    if (!context->MakeCurrent()) return fail("");
    // The slide loader's uploads go through a context shared with this one, made and released
    // here with the device.
    if (!context->UploadContext()) context->CreateUploadContext();
    const bool made =
        renderer->Init(store, backRect.Width(), backRect.Height(), device->FullScreen(), params.RefreshRate);
    if (!wasCurrent) context->Unbind();
    if (!made) return fail("");
    TLog::Line("T3DEngine9.InternalCreateRenderer: create device res= 0");
    if (device->OnRefresh) device->OnRefresh();
    return true;
}

TRef<T3DEngine> CreateEngineGL() {
    try {
        // A context must be possible at all: headless always needs EGL; windows use SDL's.
        TRef<TGLContext> probe = CreateSurfacelessContext();
        probe->Unbind();
    } catch (const Exception& e) {
        if (!SdlVideoRuns()) {
            // Nothing can be drawn: said in the log and on standard error, since there may be no
            // display for a message box.
            const std::string message = std::string("Can't create the GL engine: ") + e.what();
            TLog::Line(message);
            TLog::DebugOutput(message);
            return {};
        }
    }
    return MakeRef<T3DEngineGL>();
}

} // namespace kiv

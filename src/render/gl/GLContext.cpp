#include "render/gl/GLContext.h"

#include "render/DeviceLock.h"

#include "base/Exception.h"
#include "base/Log.h"

#include <SDL.h>
#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace kiv {
namespace {

thread_local TGLContext* currentHere = nullptr;
std::atomic<int> uploadContexts{0};

bool HasExtension(const char* list, const char* name) {
    if (!list) return false;
    const std::size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
    return false;
}

// One surfaceless display for the process, initialised once and kept (EGL terminates a display
// for every context at once).
EGLDisplay SurfacelessDisplay() {
    static std::once_flag once;
    static EGLDisplay display = EGL_NO_DISPLAY;
    static std::string failure;
    std::call_once(once, [] {
        const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
        if (!HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless") ||
            !HasExtension(clientExtensions, "EGL_EXT_platform_base")) {
            failure = "EGL has no surfaceless platform";
            return;
        }
        EGLDisplay d = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        EGLint major = 0, minor = 0;
        if (d == EGL_NO_DISPLAY || !eglInitialize(d, &major, &minor)) {
            failure = "EGL display cannot be initialised";
            return;
        }
        display = d;
    });
    if (display == EGL_NO_DISPLAY) throw Exception("No GL 3.3 device: " + failure);
    return display;
}

class TEglContext final : public TGLContext {
public:
    // `share`: the context whose objects this one shares (an upload context), or none.
    explicit TEglContext(const TEglContext* share = nullptr) {
        display_ = SurfacelessDisplay();
        if (!eglBindAPI(EGL_OPENGL_API)) throw Exception("No GL 3.3 device: EGL has no desktop GL");
        const EGLint configAttribs[] = {EGL_SURFACE_TYPE,
                                        EGL_PBUFFER_BIT,
                                        EGL_RENDERABLE_TYPE,
                                        EGL_OPENGL_BIT,
                                        EGL_RED_SIZE,
                                        8,
                                        EGL_GREEN_SIZE,
                                        8,
                                        EGL_BLUE_SIZE,
                                        8,
                                        EGL_ALPHA_SIZE,
                                        8,
                                        EGL_NONE};
        EGLConfig config = nullptr;
        EGLint count = 0;
        if (!eglChooseConfig(display_, configAttribs, &config, 1, &count) || count < 1)
            throw Exception("No GL 3.3 device: no EGL configuration for desktop GL");
        // A shared context must ask for the same reset notification as the context it shares.
        const bool robustOffered = share ? share->robust_
                                         : HasExtension(eglQueryString(display_, EGL_EXTENSIONS),
                                                        "EGL_EXT_create_context_robustness");
        const EGLContext shareWith = share ? share->context_ : EGL_NO_CONTEXT;
        EGLint attribs[16];
        int n = 0;
        attribs[n++] = EGL_CONTEXT_MAJOR_VERSION;
        attribs[n++] = 3;
        attribs[n++] = EGL_CONTEXT_MINOR_VERSION;
        attribs[n++] = 3;
        attribs[n++] = EGL_CONTEXT_OPENGL_PROFILE_MASK;
        attribs[n++] = EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT;
        const int plain = n;
        if (robustOffered) {
            attribs[n++] = EGL_CONTEXT_OPENGL_RESET_NOTIFICATION_STRATEGY_EXT;
            attribs[n++] = EGL_LOSE_CONTEXT_ON_RESET_EXT;
        }
        attribs[n] = EGL_NONE;
        context_ = eglCreateContext(display_, config, shareWith, attribs);
        robust_ = context_ != EGL_NO_CONTEXT && robustOffered;
        if (context_ == EGL_NO_CONTEXT && robustOffered && !share) {
            attribs[plain] = EGL_NONE;
            context_ = eglCreateContext(display_, config, shareWith, attribs);
        }
        if (share) MarkUpload();
        if (context_ == EGL_NO_CONTEXT)
            throw Exception("No GL 3.3 device: EGL cannot make a GL 3.3 core context");
    }
    ~TEglContext() override {
        ForgetCurrent();
        eglDestroyContext(display_, context_);
    }

protected:
    TRef<TGLContext> MakeShared() override { return TRef<TGLContext>::Adopt(new TEglContext(this)); }
    bool BindHere() override { return eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_); }
    void UnbindHere() override { eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT); }

private:
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
};

class TSdlContext final : public TGLContext {
public:
    explicit TSdlContext(SDL_Window* window) : window_(window) {
        SetAttributes(false);
        context_ = SDL_GL_CreateContext(window);
        if (!context_)
            throw Exception(std::string("No GL 3.3 device: the window has no GL 3.3 core context (") +
                            SDL_GetError() + ")");
        MarkCurrentHere(); // SDL made it current on this thread
        // Vertical sync, adaptive when the driver offers it.
        if (SDL_GL_SetSwapInterval(-1) != 0) SDL_GL_SetSwapInterval(1);
    }
    // The upload context of `share` (current on this thread) on a hidden window of its own: SDL
    // cannot make one window current on two threads. `share` stays current here.
    explicit TSdlContext(TSdlContext& share) {
        window_ = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1, 1,
                                   SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (!window_) throw Exception(std::string("No hidden window for uploads (") + SDL_GetError() + ")");
        ownsWindow_ = true;
        SetAttributes(true);
        context_ = SDL_GL_CreateContext(window_);
        SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
        const std::string error = context_ ? "" : SDL_GetError();
        // SDL made the new context current; the device context goes back.
        SDL_GL_MakeCurrent(share.window_, share.context_);
        if (!context_) {
            SDL_DestroyWindow(window_);
            throw Exception("No shared GL context for uploads (" + error + ")");
        }
        MarkUpload();
    }
    ~TSdlContext() override {
        ForgetCurrent();
        SDL_GL_DeleteContext(context_);
        if (ownsWindow_) SDL_DestroyWindow(window_);
    }
    void Swap() override { SDL_GL_SwapWindow(window_); }
    SDL_Window* Window() const override { return window_; }
    void DrawableSize(int& width, int& height) const override {
        SDL_GL_GetDrawableSize(window_, &width, &height);
    }

protected:
    TRef<TGLContext> MakeShared() override { return TRef<TGLContext>::Adopt(new TSdlContext(*this)); }
    static void SetAttributes(bool share) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, share ? 1 : 0);
    }
    bool BindHere() override {
        // SDL skips the call when it believes the context is current already; another context
        // may have been bound behind its back (the surfaceless ones), so let go first.
        if (SDL_GL_GetCurrentContext() == context_) SDL_GL_MakeCurrent(window_, nullptr);
        return SDL_GL_MakeCurrent(window_, context_) == 0;
    }
    void UnbindHere() override { SDL_GL_MakeCurrent(window_, nullptr); }

private:
    SDL_Window* window_ = nullptr;
    SDL_GLContext context_ = nullptr;
    bool ownsWindow_ = false;
};

} // namespace

TGLContext::~TGLContext() {
    if (isUpload_) --uploadContexts;
}

void TGLContext::MarkUpload() {
    isUpload_ = true;
    ++uploadContexts;
}

int TGLContext::UploadContextsAlive() {
    return uploadContexts.load();
}

bool TGLContext::IsCurrentHere() const {
    return currentHere == this;
}

bool TGLContext::HeldElsewhere() const {
    const std::thread::id owner = owner_.load();
    return owner != std::thread::id{} && owner != std::this_thread::get_id();
}

void TGLContext::DeleteLater(TLater kind, unsigned name) {
    if (!name) return;
    std::lock_guard lock(laterMutex_);
    later_.emplace_back(kind, name);
    hasLater_ = true;
}

std::size_t TGLContext::DeletesWaiting() const {
    std::lock_guard lock(laterMutex_);
    return later_.size();
}

void TGLContext::DeleteWaiting() {
    std::vector<std::pair<TLater, unsigned>> waiting;
    {
        std::lock_guard lock(laterMutex_);
        waiting.swap(later_);
        hasLater_ = false;
    }
    for (auto& [kind, name] : waiting) {
        switch (kind) {
        case TLater::Framebuffer: glDeleteFramebuffers(1, &name); break;
        case TLater::VertexArray: glDeleteVertexArrays(1, &name); break;
        case TLater::Buffer: glDeleteBuffers(1, &name); break;
        case TLater::Shader: glDeleteShader(name); break;
        }
    }
}

bool TGLContext::MakeCurrent() {
    if (currentHere == this) {
        if (hasLater_) DeleteWaiting();
        return true;
    }
    if (handOver_.load() && !OnMainThread()) return false; // the main thread takes it now
    const std::thread::id none{};
    std::thread::id expected = none;
    if (!owner_.compare_exchange_strong(expected, std::this_thread::get_id()) &&
        expected != std::this_thread::get_id()) {
        TLog::Line("GL context is current on another thread");
        return false;
    }
    if (!BindHere()) {
        owner_ = none;
        return false;
    }
    if (currentHere) currentHere->owner_ = none;
    currentHere = this;
    if (hasLater_) DeleteWaiting();
    return true;
}

void TGLContext::MarkCurrentHere() {
    if (currentHere && currentHere != this) currentHere->owner_ = std::thread::id{};
    currentHere = this;
    owner_ = std::this_thread::get_id();
}

void TGLContext::HandOver() {
    if (IsCurrentHere()) {
        glFinish();
        Unbind();
    }
    handOver_ = true;
}

void TGLContext::Unbind() {
    if (currentHere != this) return;
    UnbindHere();
    currentHere = nullptr;
    owner_ = std::thread::id{};
}

bool TGLContext::CreateUploadContext() {
    if (upload_) return true;
    if (!IsCurrentHere()) {
        TLog::Line("No upload context: the device context is not current here");
        return false;
    }
    try {
        upload_ = MakeShared();
    } catch (const Exception& e) {
        TLog::Line(e.Message());
        return false;
    }
    return true;
}

void TGLContext::ForgetCurrent() {
    upload_.Reset(); // the upload context goes first, on this thread
    if (currentHere == this) {
        UnbindHere();
        currentHere = nullptr;
    }
    owner_ = std::thread::id{};
}

TTextureContextScope::TTextureContextScope(TGLContext* device) {
    if (!device) return;
    if (device->IsCurrentHere()) {
        ok_ = true;
        return;
    }
    if (TGLContext* upload = device->UploadContext()) {
        onUpload_ = true;
        if (upload->IsCurrentHere()) {
            ok_ = true; // an enclosing scope bound it
            return;
        }
        ok_ = upload->MakeCurrent();
        if (ok_) bound_ = ShareRef(upload);
        return;
    }
    ok_ = device->MakeCurrent();
}

TTextureContextScope::~TTextureContextScope() {
    if (bound_) bound_->Unbind(); // leaving a context flushes its commands
}

TRef<TGLContext> CreateSurfacelessContext() {
    return TRef<TGLContext>::Adopt(new TEglContext);
}

TRef<TGLContext> CreateWindowContext(SDL_Window* window) {
    return TRef<TGLContext>::Adopt(new TSdlContext(window));
}

} // namespace kiv

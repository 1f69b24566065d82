// The two ways to a GL 3.3 core context, behind one interface: an SDL2 GL context on a window, and
// headless EGL on Mesa's surfaceless platform (no display server; drawing goes into framebuffer
// objects only). A context is the device of one window's store.
//
// MakeCurrent binds the context to the calling thread (nothing when it already is). A context is
// current on at most one thread: the main thread binds it to create or release objects and lets
// it go again (Unbind); the drawing thread keeps it.
//
// Uploads from other threads (the slide loader) go through a second context that shares the
// device context's textures: its upload context, made and released with it on the thread that
// makes devices (under SDL on a hidden window of its own, headless a surfaceless context). Only
// textures and fences are shared: vertex arrays and framebuffers stay on the device context.
#pragma once

#include "render/DevStore.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct SDL_Window;

namespace kiv {

class TGLContext : public TDeviceContext {
public:
    // False when the context cannot be made current here (another thread holds it, or the driver
    // refused).
    bool MakeCurrent();
    // Releases the context from the calling thread when it is current here.
    void Unbind();
    bool IsCurrentHere() const;
    // True while another thread holds the context.
    bool HeldElsewhere() const;

    // Objects of this context that are not shared (framebuffers, vertex arrays) and buffers and
    // shaders released on a thread where the context cannot be made current: deleted the next
    // time the context is made current on the thread that holds it, so that none is lost.
    enum class TLater { Framebuffer, VertexArray, Buffer, Shader };
    void DeleteLater(TLater kind, unsigned name);
    std::size_t DeletesWaiting() const;

    // The drawing thread lets the context go for the main thread, which makes a renderer on it:
    // until EndHandOver (on the main thread) no other thread binds it, so that nothing the drawing
    // thread still releases takes it back first.
    void HandOver();
    void EndHandOver() { handOver_ = false; }

    // Shows the window's default framebuffer (nothing headless).
    virtual void Swap() {}
    // The window, or none headless.
    virtual SDL_Window* Window() const { return nullptr; }
    // The size of the window's drawable (0 × 0 headless).
    virtual void DrawableSize(int& width, int& height) const {
        width = 0;
        height = 0;
    }
    // True when the context reports resets (GL robustness).
    bool Robust() const { return robust_; }

    // Makes the upload context; called where this context is current. False (logged) when the
    // driver refuses one; texture work from other threads then waits for this context.
    bool CreateUploadContext();
    TGLContext* UploadContext() const { return upload_.Get(); }
    // Whether this context is an upload context.
    bool IsUploadContext() const { return isUpload_; }
    // How many upload contexts exist in the process (they go with their device).
    static int UploadContextsAlive();

    // Picture textures given up, kept for reuse by a texture of the same kind and size: making a
    // large texture costs the driver an allocation that it clears (a software rasteriser spends
    // milliseconds on it, under the device lock). A texture given up is reused only once the
    // drawing context finished a frame after that (FrameSerial and FrameFence), so that no draw
    // still reads it. Used under the device lock; the names go with the context.
    struct TRecycledTexture {
        unsigned name = 0;
        int kind = 0, width = 0, height = 0, levels = 0;
        std::int64_t bytes = 0;
        std::uint64_t serial = 0; // FrameSerial when given up
    };
    std::vector<TRecycledTexture> Recycled;
    std::int64_t RecycledBytes = 0;
    // Frames ended on this context, and a fence after the last one (a GLsync).
    std::uint64_t FrameSerial = 0;
    void* FrameFence = nullptr;

protected:
    ~TGLContext() override;
    virtual bool BindHere() = 0;
    virtual void UnbindHere() = 0;
    // Called by the subclass's destructor: releases the upload context, then lets go of the
    // context on this thread.
    void ForgetCurrent();
    // A context sharing this one's objects, made while this one is current here.
    virtual TRef<TGLContext> MakeShared() = 0;
    // Records that the subclass made the context current on this thread.
    void MarkCurrentHere();
    // Called by the subclass once it made an upload context.
    void MarkUpload();
    bool robust_ = false;
    bool isUpload_ = false;
    std::atomic<bool> handOver_{false};

private:
    // Deletes what waits; the context is current here.
    void DeleteWaiting();

    TRef<TGLContext> upload_;
    std::atomic<std::thread::id> owner_{};
    mutable std::mutex laterMutex_;
    std::vector<std::pair<TLater, unsigned>> later_;
    std::atomic<bool> hasLater_{false};
};

// Makes a context current on the calling thread for texture work (creation, upload, release,
// fences) on the device context `device`, for the lifetime of the scope: the device context when
// it is current here; otherwise its upload context, bound for this scope only (so that the device
// context is never taken from the drawing thread); without an upload context the device context
// itself, as for any other work. Used under the device lock, which keeps one thread at a time on
// the upload context.
class TTextureContextScope {
public:
    explicit TTextureContextScope(TGLContext* device);
    ~TTextureContextScope();
    TTextureContextScope(const TTextureContextScope&) = delete;
    TTextureContextScope& operator=(const TTextureContextScope&) = delete;
    bool Ok() const { return ok_; }
    // True when the work runs on the upload context (its results need a fence before drawing).
    bool OnUploadContext() const { return onUpload_; }

private:
    TRef<TGLContext> bound_; // kept alive while bound, should the device go meanwhile
    bool ok_ = false;
    bool onUpload_ = false;
};

// Headless: EGL surfaceless. Raises Exception with a clear message when EGL, the surfaceless
// platform or a GL 3.3 core context is not available.
TRef<TGLContext> CreateSurfacelessContext();

// A context on an SDL window made with SDL_WINDOW_OPENGL. Raises Exception when SDL cannot make a
// GL 3.3 core context for it.
TRef<TGLContext> CreateWindowContext(SDL_Window* window);

} // namespace kiv

// The two ways to a GL 3.3 core context, behind one interface: an SDL2 GL context on a window, and
// headless EGL on Mesa's surfaceless platform (no display server; drawing goes into framebuffer
// objects only). A context is the device of one window's store.
//
// MakeCurrent binds the context to the calling thread (nothing when it already is). A context is
// current on at most one thread: the main thread binds it to create or release objects and lets
// it go again (Unbind); the drawing thread keeps it.
#pragma once

#include "render/DevStore.h"

#include <atomic>
#include <string>
#include <thread>

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

protected:
    ~TGLContext() override;
    virtual bool BindHere() = 0;
    virtual void UnbindHere() = 0;
    // Called by the subclass's destructor: lets go of the context on this thread.
    void ForgetCurrent();
    // Records that the subclass made the context current on this thread.
    void MarkCurrentHere();
    bool robust_ = false;

private:
    std::atomic<std::thread::id> owner_{};
};

// Headless: EGL surfaceless. Raises Exception with a clear message when EGL, the surfaceless
// platform or a GL 3.3 core context is not available.
TRef<TGLContext> CreateSurfacelessContext();

// A context on an SDL window made with SDL_WINDOW_OPENGL. Raises Exception when SDL cannot make a
// GL 3.3 core context for it.
TRef<TGLContext> CreateWindowContext(SDL_Window* window);

} // namespace kiv

// TDrawDevice: a drawing target bound to one window (or, headless, to no window at all: the
// renderer then draws into its back buffer only). The show viewer creates it; renderers attach
// themselves; other layers park auxiliary objects on it (`Attachments`) and find them by class.
#pragma once

#include "base/RefObject.h"
#include "render/RenderTypes.h"

#include <functional>
#include <mutex>
#include <vector>

namespace kiv {

class T3DRenderer;

class TDrawDevice : public TRefObject {
public:
    TDrawDevice() = default;

    // Releases the attachments (a device store among them kills what was created on it) and clears
    // the device pointer of every attached renderer. Called by the destructor; may be called early.
    virtual void Destroy();
    // Stores the three values and tells every renderer (UpdateBounds), unless nothing changed
    // (two empty rectangles count as equal).
    virtual void SetBounds(const TRect& bounds, TPoint screenOrigin, bool fullScreen);
    virtual bool IsForeground() { return true; }

    // The main thread sets the geometry while the drawing thread reads it: each reading is whole.
    TRect Bounds() const;
    TPoint ScreenOrigin() const;
    bool FullScreen() const;
    // The drawing rectangle on the desktop.
    TRect DesktopRect() const;

    // The window (an SDL_Window*), or none for headless drawing.
    void* Handle() const { return handle_; }
    void SetHandle(void* window) { handle_ = window; }

    // Fired when the window needs a repaint and after a renderer was created for it.
    std::function<void()> OnRefresh;

    const std::vector<T3DRenderer*>& Renderers() const { return renderers_; }
    void AddRenderer(T3DRenderer* renderer);
    void RemoveRenderer(T3DRenderer* renderer);

    // Owned auxiliary objects, found again by class.
    void Attach(TRef<TRefObject> object);
    // Removes and releases `object`; false when it is not attached.
    bool Detach(TRefObject* object);
    template <class T> T* Find() const {
        for (const auto& a : attachments_)
            if (auto* t = dynamic_cast<T*>(a.Get())) return t;
        return nullptr;
    }

protected:
    ~TDrawDevice() override;

private:
    std::vector<T3DRenderer*> renderers_;
    std::vector<TRef<TRefObject>> attachments_;
    mutable std::mutex geometryLock_; // held only to copy the three values in or out
    TRect bounds_;
    TPoint screenOrigin_;
    bool fullScreen_ = false;
    void* handle_ = nullptr;
};

// The rectangle to restore after full screen and whether the next renderer avoids exclusive mode.
class TRectangleWrapper : public TRefObject {
public:
    TRect SavedRect;
    bool AvoidExclusive = false;
};

} // namespace kiv

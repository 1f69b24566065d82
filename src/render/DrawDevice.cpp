#include "render/DrawDevice.h"

#include "render/DeviceLock.h"
#include "render/Renderer.h"

#include <algorithm>

namespace kiv {

TDrawDevice::~TDrawDevice() {
    Destroy();
}

void TDrawDevice::Destroy() {
    TDeviceLockGuard guard;
    // Last attached first, so a store dies before the objects parked before it.
    while (!attachments_.empty()) {
        TRef<TRefObject> last = std::move(attachments_.back());
        attachments_.pop_back();
    }
    for (T3DRenderer* r : renderers_)
        r->Device = nullptr;
    renderers_.clear();
}

void TDrawDevice::SetBounds(const TRect& bounds, TPoint screenOrigin, bool fullScreen) {
    {
        std::lock_guard geometry(geometryLock_);
        if (bounds.SameAs(bounds_) && screenOrigin == screenOrigin_ && fullScreen == fullScreen_) return;
        bounds_ = bounds;
        screenOrigin_ = screenOrigin;
        fullScreen_ = fullScreen;
    }
    TDeviceLockGuard guard;
    for (T3DRenderer* r : std::vector<T3DRenderer*>(renderers_))
        r->UpdateBounds();
}

TRect TDrawDevice::Bounds() const {
    std::lock_guard geometry(geometryLock_);
    return bounds_;
}

TPoint TDrawDevice::ScreenOrigin() const {
    std::lock_guard geometry(geometryLock_);
    return screenOrigin_;
}

bool TDrawDevice::FullScreen() const {
    std::lock_guard geometry(geometryLock_);
    return fullScreen_;
}

TRect TDrawDevice::DesktopRect() const {
    std::lock_guard geometry(geometryLock_);
    return bounds_.Moved(screenOrigin_.x, screenOrigin_.y);
}

void TDrawDevice::AddRenderer(T3DRenderer* renderer) {
    TDeviceLockGuard guard;
    renderers_.push_back(renderer);
}

void TDrawDevice::RemoveRenderer(T3DRenderer* renderer) {
    TDeviceLockGuard guard;
    std::erase(renderers_, renderer);
}

void TDrawDevice::Attach(TRef<TRefObject> object) {
    TDeviceLockGuard guard;
    attachments_.push_back(std::move(object));
}

bool TDrawDevice::Detach(TRefObject* object) {
    TRef<TRefObject> gone;
    TDeviceLockGuard guard;
    auto it = std::find_if(attachments_.begin(), attachments_.end(),
                           [&](const TRef<TRefObject>& a) { return a.Get() == object; });
    if (it == attachments_.end()) return false;
    gone = std::move(*it);
    attachments_.erase(it);
    gone.Reset(); // released while the lock is held: a store disposes under it
    return true;
}

} // namespace kiv

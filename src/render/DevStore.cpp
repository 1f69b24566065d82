#include "render/DevStore.h"

#include "base/Log.h"
#include "render/DeviceLock.h"
#include "render/DrawDevice.h"
#include "render/Engine.h"
#include "render/Renderer.h"

namespace kiv {

TDevStore::~TDevStore() {
    Dispose();
}

void TDevStore::Dispose() {
    TDeviceLockGuard guard;
    if (disposed_) return;
    disposed_ = true;
    // A full-screen store gives its window back where it was before full screen.
    const bool fullScreen = !Renderers.empty() && Renderers.front()->IsFullScreen();
    TRect restore;
    if (fullScreen && owner_) {
        auto* wrapper = owner_->Find<TRectangleWrapper>();
        restore = wrapper ? wrapper->SavedRect : owner_->Bounds();
        TLog::Line("Store.Dispose FullScreen, R= " + RectText(restore));
    }
    // Last first. Each kill may destroy other objects of the store (an owner freeing its renderer
    // frees the renderer's textures), which then leave the lists; so take them one at a time.
    auto killAll = [](auto& list) {
        while (!list.empty()) {
            auto* item = list.back();
            list.pop_back();
            item->Kill();
        }
    };
    killAll(Shaders);
    killAll(VertexLists);
    killAll(Textures);
    while (!Renderers.empty()) {
        T3DRenderer* r = Renderers.back();
        Renderers.pop_back();
        r->Kill();
    }
    if (fullScreen && owner_ && engine_) engine_->ReleaseFullScreen(owner_, std::move(device_), restore);
    device_.Reset();
}

} // namespace kiv

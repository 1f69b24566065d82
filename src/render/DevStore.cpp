#include "render/DevStore.h"

#include "render/DeviceLock.h"
#include "render/Renderer.h"

namespace kiv {

TDevStore::~TDevStore() {
    Dispose();
}

void TDevStore::Dispose() {
    TDeviceLockGuard guard;
    if (disposed_) return;
    disposed_ = true;
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
    device_.Reset();
}

} // namespace kiv

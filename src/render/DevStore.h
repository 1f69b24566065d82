// TDevStore: the per-window store, an attachment of the draw device. It holds the one device
// (context) of that window, shared by all windowed renderers of the window, and lists every object
// created on it. It does not own those objects; each keeps a back-pointer and removes itself when
// destroyed. Destroying the store (device lost, window regained the foreground, device destroyed)
// tells every renderer, texture, vertex list and shader that it was killed, last first.
#pragma once

#include "base/RefObject.h"

#include <vector>

namespace kiv {

class TDrawDevice;
class T3DEngine;
class T3DRenderer;
class TBaseTexture;
class T3DVertexList;
class T3DShader;

// The device behind a store; the implementation derives from it.
class TDeviceContext : public TRefObject {};

class TDevStore : public TRefObject {
public:
    TDevStore(TDrawDevice* owner, T3DEngine* engine) : owner_(owner), engine_(engine) {}

    TDrawDevice* Owner() const { return owner_; }
    T3DEngine* Engine() const { return engine_; }
    TDeviceContext* Device() const { return device_.Get(); }
    void SetDevice(TRef<TDeviceContext> device) { device_ = std::move(device); }

    // All four lists are used under the device lock.
    std::vector<T3DRenderer*> Renderers;
    std::vector<TBaseTexture*> Textures;
    std::vector<T3DVertexList*> VertexLists;
    std::vector<T3DShader*> Shaders;

    // Kills every object of the store (see above) and releases the device. Runs once; the
    // destructor calls it.
    void Dispose();
    bool Disposed() const { return disposed_; }

protected:
    ~TDevStore() override;

private:
    TDrawDevice* owner_;
    T3DEngine* engine_;
    TRef<TDeviceContext> device_;
    bool disposed_ = false;
};

} // namespace kiv

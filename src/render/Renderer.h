// T3DRenderer: a window-bound drawing target on a device: scenes, presentation, clearing, render
// targets, textures, vertex lists, fixed-function drawing with a fixed set of blend rules, and
// shaders. Every operation takes the device lock; a renderer whose creation is still pending
// (State 1), or that lost its device (State 2), fails every drawing call. Callers test `State`.
//
// Renderers are created and released through the engine (T3DEngine::CreateRenderer); the device
// behind them is made on the main thread.
#pragma once

#include "base/RefObject.h"
#include "render/RenderTypes.h"
#include "render/Shader.h"
#include "render/Surface.h"
#include "render/Texture.h"
#include "render/VertexList.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kiv {

class TDrawDevice;

class T3DRenderer : public TRefObject {
public:
    // Cleared when the draw device is destroyed.
    TDrawDevice* Device = nullptr;
    std::uint8_t State = kStateReady;
    int LastError = kErrNone;
    bool L8Supported = false;
    // Fired when the renderer's device was killed or its pending creation failed; the owner frees
    // the renderer.
    std::function<void()> OnKilled;

    virtual void UpdateBounds() = 0;
    // The renderer draws a full-screen show (the device's flag at creation).
    virtual bool IsFullScreen() const { return false; }
    virtual bool BeginScene() = 0;
    virtual bool EndScene() = 0;
    // Copies the first source rectangle onto the first destination rectangle of the window.
    virtual bool Present(const TRect* sourceRects, const TRect* destRects, int count) = 0;
    // flags: TClearFlags; colour 0xAARRGGBB. The depth flag is dropped (there is no depth buffer).
    virtual bool Clear(const TRect* rects, int count, unsigned flags, std::uint32_t color, float z) = 0;
    virtual bool ResetStates() = 0;
    // None: back to the back buffer.
    virtual bool SetRenderTarget(T3DSurface* surface) = 0;
    virtual T3DSurface* GetRenderTarget() = 0;
    virtual bool GetBackBuffer(T3DSurface*& backBuffer) = 0;
    virtual bool SetViewport(const TRect& rect, float minZ, float maxZ) = 0;
    // The number of textures must equal the stages used. flags: TDrawFlags.
    virtual bool DrawVertexList(const std::vector<T3DTexture*>& textures, T3DVertexList* list,
                                unsigned flags) = 0;
    virtual bool SetTexture(int stage, TBaseTexture* texture) = 0;
    // None on failure (LastError says why: 2 = out of video memory).
    virtual TRef<T3DTexture> CreateTexture(int kind, int width, int height, bool mipmapped) = 0;
    virtual TRef<TVolumeTexture> CreateVolumeTexture(int width, int height, int depth) = 0;
    // flags: TVertexFlags; texCoordSets 0 … 8.
    virtual TRef<T3DVertexList> CreateVertexList(int vertexCount, unsigned flags, int texCoordSets) = 0;
    virtual bool StretchRects(T3DSurface* source, T3DSurface* dest, int count, const TRect* sourceRects,
                              const TRect* destRects) = 0;
    virtual bool SetBlendMode(int mode) = 0;
    virtual bool SetTransform(int kind, const TMatrix& matrix) = 0;
    virtual bool SetCullNone(bool none) = 0;
    // The offset between texel and pixel centres that callers add when mapping pixels.
    virtual void GetPixelCenter(float& x, float& y) = 0;
    virtual TRef<T3DShader> CreateShader(const std::string& code, bool isVertex) = 0;
    // A pixel shader replaces the pixel stage, a vertex shader the vertex stage; none clears both.
    virtual bool SetShader(T3DShader* shader) = 0;
    virtual bool SetShaderConstants(int startRegister, const float* data, int count, bool isVertex) = 0;

    // The size of the back buffer.
    virtual TPoint BackBufferSize() = 0;

    // The calling thread stops drawing with this renderer: its device is let go, so that another
    // thread can draw with it (a drawing thread calls it before it ends).
    virtual void LeaveThread() = 0;

    // Called by the dying device store, under the device lock: the renderer forgets its store,
    // becomes lost and fires OnKilled.
    virtual void Kill() = 0;

protected:
    T3DRenderer() = default;
};

} // namespace kiv

// T3DScreen: the drawing surface above the renderer that the slide drawer and the transitions
// use without caring about device loss. It owns at most one renderer for one draw device,
// recreates it when the window moves to another place, size or monitor, and keeps the registered
// device-dependent resources that can be released and rebuilt at any time. It supplies pixel
// coordinates with a perspective depth (the camera), a stack of off-screen render targets and a
// triangle batch.
//
// The screen has no lock of its own: its users serialise access (the drawer's locks); every
// renderer call takes the device lock.
#pragma once

#include "render/Renderer.h"
#include "render/ScreenResource.h"
#include "render/ScreenTextures.h"

#include <array>
#include <atomic>
#include <functional>
#include <vector>

namespace kiv {

class TDrawDevice;
class T3DScreen;
class TDeviceKilledMessenger;

// A pixel point with depth (positive depth recedes).
struct TPoint3 {
    double x = 0, y = 0, z = 0;
};

// The triangle batch: triangles in pixel coordinates gathered and drawn in one call.
class TVertexBuffer final : public TScreenResource {
public:
    static constexpr int kDefaultCapacity = 1024;
    static constexpr int kMaxTextures = 7;

    explicit TVertexBuffer(T3DScreen* screen) : TScreenResource(screen) {}

    // Flushes; keeps the vertex list when it holds `capacity` triangles with `sets` coordinate
    // sets (only the limit changes), else makes a new one.
    void Reserve(int capacity, int sets);
    // Flushes and starts a batch with the first `count` of `textures`.
    void Begin(const std::vector<TCustomTexture*>& textures, int count);
    // Three points with their colours (0xAARRGGBB) and, per batch texture, texel coordinates.
    void AddTriangle(const std::array<TPoint3, 3>& points, const std::array<std::uint32_t, 3>& colors,
                     const std::vector<std::array<std::array<double, 2>, 3>>& texels = {});
    void Flush();
    void ReleaseDevice() override;

    int Pending() const { return static_cast<int>(vertices_.size() / 3); }
    // The device vertex list in use (none before the first flush).
    const T3DVertexList* List() const { return list_.Get(); }
    bool Forced = false;
    bool UsesAlpha = true;

protected:
    ~TVertexBuffer() override = default;

private:
    TRef<T3DVertexList> list_;
    int listCapacity_ = 0;
    int listSets_ = 0;
    int limit_ = kDefaultCapacity;
    int sets_ = 2;
    std::vector<TSourceVertex> vertices_;
    std::vector<TCustomTexture*> textures_;
};

// One point of an anti-aliased quad's 4 × 4 grid: a pixel position with depth and its texel
// coordinates (the same for every texture of the quad, scaled by each texture's size).
struct TGridPoint {
    TPoint3 p;
    double u = 0, v = 0;
};

// A rectangle of texels with fractional edges: a picture that moves by part of a texel keeps
// sampling where its corners are.
struct TTexelRect {
    double left = 0, top = 0, right = 0, bottom = 0;
};

// Edge flags of anti-aliased quads.
enum TEdgeFlags : unsigned { kEdgeLeft = 1, kEdgeTop = 2, kEdgeRight = 4, kEdgeBottom = 8 };

class T3DScreen : public TRefObject {
public:
    T3DScreen();

    // Attaches the screen to a draw device (none: assertion "DrawDevice=nil") and creates the
    // renderer unless nothing changed.
    void SetDevice(TDrawDevice* device);
    // Recreates the renderer when the window changed; false when the scene is skipped.
    bool BeginScene();
    // Ends the scene and, when asked, shows it; false when the scene did not end.
    bool EndScene(bool present);
    // Shows the ended scene (the renderer paces it to the display's refresh).
    void Present();
    void Clear(std::uint32_t color, bool withDepth = false);
    void FillRect(std::uint32_t color, const TRect& rect);
    // Makes `texture`'s surface the target; (x, y) is its place in the drawing area.
    void PushTarget(TCustomTexture* texture, int x, int y);
    void PopTarget();
    TRect GetTargetRect() const;
    void SetViewport(const TRect& rect);
    // Viewport, clip rectangle and camera as one record, for nested drawing.
    struct TState {
        TRect viewport, clipRect;
        double invWidth = 0, invHeight = 0;
        double areaW = 0, areaH = 0, viewW = 0, viewH = 0, originX = 0, originY = 0;
    };
    TState SaveState() const;
    void RestoreState(const TState& state);
    // Draws a render-target texture over the drawing area with its Opacity.
    void DrawTarget(TCustomTexture* texture);
    void KillRenderer();
    void ReleaseResources();

    // Draws the grid's cells (row-major, inner points 5, 6, 9, 10 are the corners top-left,
    // top-right, bottom-left, bottom-right; the outer twelve the fringe, drawn transparent) that
    // the edge flags ask for. cornerColors: top-left, top-right, bottom-left, bottom-right.
    void DrawQuad(const std::vector<TCustomTexture*>& textures, unsigned edgeFlags,
                  const std::array<std::uint32_t, 4>& cornerColors, const std::array<TGridPoint, 16>& grid);
    // A quad given by its 3-D corners (top-left, top-right, bottom-left, bottom-right) showing the
    // source rectangle (texels) of the textures, with a one-pixel fringe on the flagged edges.
    void DrawPerspectiveQuad(const std::vector<TCustomTexture*>& textures,
                             const std::array<std::uint32_t, 4>& colors, const TTexelRect& sourceRect,
                             const std::array<TPoint3, 4>& corners, unsigned edgeFlags);
    // The fringe grid of DrawPerspectiveQuad; the flags come back cleared when the projected quad
    // is degenerate (an edge of 0.1 pixel or less, or two nearly collinear edges).
    std::array<TGridPoint, 16> FringeGrid(const TTexelRect& sourceRect, const std::array<TPoint3, 4>& corners,
                                          unsigned& edgeFlags) const;

    // Pixel point → device coordinates; false while ClipRect is empty.
    bool ToDevice(const TPoint3& p, float& x, float& y, float& z) const;
    // Where a pixel point at a depth is drawn (the camera's projection).
    void Project(const TPoint3& p, double& x, double& y) const;
    // The camera: the view viewW × viewH at (originX, originY) of an area areaW × areaH.
    void Camera(double areaW, double areaH, double viewW, double viewH, double originX, double originY);

    bool Ready() const { return ready_; }
    T3DRenderer* Renderer() const { return renderer_.Get(); }
    TDrawDevice* Device() const { return device_; }
    const TRect& DeviceRect() const { return deviceRect_; }
    const TRect& ClipRect() const { return clipRect_; }
    TPoint TargetOrigin() const { return targetOrigin_; }
    TVertexBuffer& Batch() { return *batch_; }
    std::size_t TargetDepth() const { return targetStack_.size(); }
    const std::vector<TScreenResource*>& Resources() const { return resources_; }

    double ScaleX = 1, ScaleY = 1, ShiftX = 0, ShiftY = 0;
    std::function<void()> OnLost;

    // Called by resources and by the device's messenger.
    void Register(TScreenResource* resource) { resources_.push_back(resource); }
    void Unregister(TScreenResource* resource);
    void DeviceGone();

protected:
    ~T3DScreen() override;

private:
    struct TTargetWrapper {
        TPoint origin;
        TRef<T3DSurface> surface;
        TCustomTexture* texture = nullptr;
    };
    TRect ComputeRect(TDrawDevice* device) const;
    void CreateRenderer();
    void TargetChanged();

    TRef<T3DRenderer> renderer_;
    TDrawDevice* device_ = nullptr;
    TRect deviceRect_;
    bool fullScreen_ = false;
    void* handle_ = nullptr;
    int adapter_ = -1;
    TRect viewport_;
    TRect clipRect_;
    double invWidth_ = 0;
    double invHeight_ = 0;
    double areaW_ = 0, areaH_ = 0, viewW_ = 0, viewH_ = 0, originX_ = 0, originY_ = 0;
    TPoint targetOrigin_;
    TRef<TVertexBuffer> batch_;
    std::vector<TTargetWrapper> targetStack_;
    std::vector<TScreenResource*> resources_;
    TDeviceKilledMessenger* messenger_ = nullptr;
    std::atomic<bool> ready_{false}; // read by threads that preload while the engine draws
};

} // namespace kiv

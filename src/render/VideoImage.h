// T3DYUV: a video frame on the device, written plane by plane by the video decoder (lock, write,
// unlock) and drawn by the slide drawer. YUV mode keeps three 8-bit planes (Y full size, U and V
// half size) converted by the video shaders; RGBA mode one 32-bit texture; RGB mode one 5-6-5
// texture. Each image has its own lock; a released image (its drawer gone) ignores every call.
#pragma once

#include "images/Bitmap.h"
#include "render/ScreenTextures.h"

#include <array>
#include <mutex>

namespace kiv {

class T3DDrawer;
class T3DYUV;

// A plane texture: its texels come only from locking; losing the device object marks the image
// dirty, so that the decoder writes a whole frame again.
class TVideoTexture final : public TCustomTexture {
public:
    TVideoTexture(T3DScreen* screen, int kind, T3DYUV* owner) : TCustomTexture(screen, kind), owner_(owner) {}
    void Upload() override {}
    void ReleaseDevice() override;
    void Forget() { owner_ = nullptr; }

protected:
    ~TVideoTexture() override = default;
    void FillTopLevel(TBitmap&) override {}

private:
    T3DYUV* owner_;
};

// Repeats each picture row's last texel up to the bitmap's width and the last picture row below
// the picture, so that filtering at the picture's edge sees edge texels (8-bit planes).
void PadPlane(TBitmap& plane, int pictureWidth, int pictureHeight);

// min(n + 8, the next power of two ≥ n).
int PaddedSide(int n);

class T3DYUV final : public TRefObject {
public:
    enum TMode { kModeYUV, kModeRGBA, kModeRGB };
    enum TPlaneIndex { kPlaneY = 0, kPlaneU = 1, kPlaneV = 2, kPlaneRGB = 3, kPlaneRGBA = 4 };

    T3DYUV(T3DDrawer* drawer, T3DScreen* screen, int width, int height, bool hasAlpha, TMode mode);

    // The plane's top level over its padded size, for writing one frame; none when released or
    // when the plane does not exist in this mode.
    TRef<TBitmap> LockPlane(int index);
    // Pads planes 0 … 2 and hands the texels to the device.
    void UnlockPlane(int index, TBitmap* bitmap);
    void Preload();

    int Width() const { return width_; }
    int Height() const { return height_; }
    int PaddedWidth() const { return pw_; }
    int PaddedHeight() const { return ph_; }
    bool HasAlpha() const { return hasAlpha_; }
    TMode Mode() const { return mode_; }
    TCustomTexture* Plane(int index) const;
    bool Dirty() const { return dirty_; }
    void ClearDirty() { dirty_ = false; }
    void MarkDirty() { dirty_ = true; }
    // Called by the drawer when it goes: planes are freed, later calls do nothing.
    void Abandon();

protected:
    ~T3DYUV() override;

private:
    std::recursive_mutex lock_;
    T3DDrawer* drawer_;
    int width_, height_, pw_, ph_;
    bool hasAlpha_;
    TMode mode_;
    std::array<TRef<TVideoTexture>, 5> planes_;
    std::array<T3DSurface*, 5> lockedSurface_{};
    int locks_ = 0;
    bool dirty_ = true;
};

} // namespace kiv

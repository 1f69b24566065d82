// Colour look-up textures for the colour-grading and video shaders: a 32 × 32 × 32 volume table
// or a 256 × 16 grey-ramp table, filled from a source picture or the identity, optionally passed
// through a colour-filter chain; and the shared video tables (RGB identity and YUV → RGB) as
// 32 × 1024 pictures of 32 slices.
#pragma once

#include "images/Bitmap.h"
#include "render/ScreenResource.h"
#include "render/Texture.h"

#include <functional>

namespace kiv {

class T3DScreen;

// Applies a colour-filter chain to a picture in place (the table's texels as a picture).
using TColorFilterChain = std::function<void(TBitmap&)>;

// 32 slices of 32 × 32 one below the other; texel (x, y, z) has red x, green y, blue z, each
// n × 8 + n div 4 (0 … 31 → 0 … 255), alpha 255.
TRef<TBitmap> MakeIdentityVolumeTable();
// The video table: the identity (RGB) or, for slice z = Y, row y = U, column x = V, the YUV → RGB
// conversion with each of Y, U, V spread as above.
TRef<TBitmap> MakeVideoColorTable(bool yuv);
// The shared video table of that variant (one per process and variant, read-only). While colour
// management is on it is passed through the transform from the variant's source profile ("sRGB"
// for RGB, "YUVsRGB" for YUV) to the display profile; made again when that profile or the colour
// management mode changes, and kept per profile so that switching back costs nothing.
TRef<TBitmap> VideoColorTable(bool yuv);

class TCustomColoringTexture : public TScreenResource {
public:
    void ReleaseDevice() override;
    T3DTexture* Texture() const { return texture_.Get(); }
    TVolumeTexture* Volume() const { return volume_.Get(); }

protected:
    using TScreenResource::TScreenResource;
    ~TCustomColoringTexture() override { ReleaseDevice(); }
    TRef<T3DTexture> texture_;
    TRef<TVolumeTexture> volume_;
};

class TCustomColorGradeTexture final : public TCustomColoringTexture {
public:
    // kind 1: a 32³ volume table; any other: a 2-D table of 256 × 16.
    TCustomColorGradeTexture(T3DScreen* screen, int kind) : TCustomColoringTexture(screen), kind_(kind) {}
    // The table's texels as a picture (32 × 1024 or 256 × 16); none for the identity.
    void SetSource(TRef<TBitmap> source);
    void SetFilters(TColorFilterChain chain);
    // Makes and fills the device table on a ready screen; none otherwise.
    TBaseTexture* Realize();

protected:
    ~TCustomColorGradeTexture() override = default;

private:
    TRef<TBitmap> Table() const;
    int kind_;
    TRef<TBitmap> source_;
    TColorFilterChain chain_;
};

} // namespace kiv

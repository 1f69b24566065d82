// Textures: TBaseTexture is what a store lists and what a stage binds; T3DTexture a 2-D texture
// of one of the five kinds (RenderTypes.h); TVolumeTexture a 3-D texture of 32-bit texels with
// one level (the colour look-up tables).
#pragma once

#include "images/Bitmap.h"
#include "render/DeviceResource.h"
#include "render/Surface.h"

namespace kiv {

// Addressing modes.
enum TAddressing : std::uint8_t { kAddressWrap = 0, kAddressClamp = 1, kAddressMirror = 2 };
// Filters.
enum TFilter : std::uint8_t { kFilterPoint = 0, kFilterLinear = 1 };

class TBaseTexture : public TDeviceResource {
public:
    virtual int LevelCount() = 0;

protected:
    using TDeviceResource::TDeviceResource;
};

class T3DTexture : public TBaseTexture {
public:
    // The level's surface, created once and cached (a render-target surface for kinds 1 and 2).
    virtual T3DSurface* GetSurface(int level) = 0;
    // Makes the texture resident now.
    virtual void Preload() = 0;
    virtual void SetAddressing(TAddressing u, TAddressing v) {
        AddressU = u;
        AddressV = v;
    }
    virtual void SetFilter(TFilter filter) { Filter = filter; }
    virtual void SetMipmapped(bool mipmapped) { Mipmapped = mipmapped; }
    virtual void SetLodBias(float bias) { LodBias = bias; }

    std::uint8_t Kind = kTexColor;
    bool Premultiplied = false;
    TAddressing AddressU = kAddressWrap;
    TAddressing AddressV = kAddressWrap;
    TFilter Filter = kFilterLinear;
    bool Mipmapped = false;
    float LodBias = 0;

protected:
    using TBaseTexture::TBaseTexture;
};

class TVolumeTexture : public TBaseTexture {
public:
    // A bitmap whose rows are the box's rows, slice after slice (width = box width, height = box
    // height × box depth); changes reach the texture at UnlockLevel.
    struct TBox {
        int left = 0, top = 0, front = 0, right = 0, bottom = 0, back = 0;
    };
    virtual TRef<TBitmap> LockLevel(int level, const TBox& box) = 0;
    virtual void UnlockLevel(int level, TBitmap* bitmap) = 0;

protected:
    using TBaseTexture::TBaseTexture;
};

} // namespace kiv

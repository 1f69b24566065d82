// T3DSurface: one 2-D image on the device: a texture level, a render target or a back buffer.
#pragma once

#include "images/Bitmap.h"
#include "render/DeviceResource.h"

#include <cstring>

namespace kiv {

class T3DSurface : public TDeviceResource {
public:
    // Reads the whole surface into `target`, a 32-bit bitmap of the surface's size, top row first.
    virtual bool CopyTo(TBitmap& target) = 0;
    // (0, 0) when there is no surface.
    virtual TPoint GetSize() = 0;
    virtual TPixelFormat GetPixelFormat() = 0;
    // A bitmap holding the rectangle's pixels in the surface's format; changes reach the surface
    // at Unlock (unless locked read-only). None when the lock fails.
    virtual TRef<TBitmap> Lock(const TRect& rect, bool readOnly) = 0;
    virtual void Unlock(TBitmap* bitmap) = 0;
    // Writes `rect` of the surface from `source` (of the surface's pixel format), whose pixel
    // (sourceX, sourceY) lands on the rectangle's top-left corner; the rectangle must lie inside
    // both. Surfaces that keep a CPU copy may write the device straight from `source` and read
    // their copy back when it is asked for. The default locks, copies and unlocks.
    virtual bool Write(const TRect& rect, const TBitmap& source, int sourceX, int sourceY) {
        TRef<TBitmap> locked = Lock(rect, false);
        if (!locked) return false;
        const int bpp = BytesPerPixel(source.Format());
        for (int y = 0; y < rect.Height(); ++y)
            std::memcpy(locked->Row(y), source.Row(sourceY + y) + sourceX * bpp,
                        static_cast<std::size_t>(rect.Width()) * bpp);
        Unlock(locked.Get());
        return LastError == kErrNone;
    }
    // Render-target surfaces (texture kinds 1 and 2 and back buffers).
    virtual bool IsRenderTarget() const = 0;

protected:
    using TDeviceResource::TDeviceResource;
};

} // namespace kiv

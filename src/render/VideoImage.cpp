#include "render/VideoImage.h"

#include "base/Assert.h"
#include "render/Drawer.h"

#include <algorithm>
#include <cstring>

namespace kiv {

void TVideoTexture::ReleaseDevice() {
    const bool had = Texture() != nullptr;
    TCustomTexture::ReleaseDevice();
    if (had && owner_) owner_->MarkDirty();
}

void PadPlane(TBitmap& plane, int pictureWidth, int pictureHeight) {
    const int w = plane.Width(), h = plane.Height();
    const int pw = std::min(pictureWidth, w), ph = std::min(pictureHeight, h);
    if (pw <= 0 || ph <= 0) return;
    for (int y = 0; y < ph; ++y) {
        std::uint8_t* row = plane.Row(y);
        std::memset(row + pw, row[pw - 1], static_cast<std::size_t>(w - pw));
    }
    for (int y = ph; y < h; ++y)
        std::memcpy(plane.Row(y), plane.Row(ph - 1), static_cast<std::size_t>(w));
}

int PaddedSide(int n) {
    if (n <= 0) return 0;
    int p = 1;
    while (p < n)
        p *= 2;
    return std::min(n + 8, p);
}

T3DYUV::T3DYUV(T3DDrawer* drawer, T3DScreen* screen, int width, int height, bool hasAlpha, TMode mode)
    : drawer_(drawer), width_(std::max(0, width)), height_(std::max(0, height)), pw_(PaddedSide(width_)),
      ph_(PaddedSide(height_)), hasAlpha_(hasAlpha), mode_(mode) {
    auto make = [&](int index, int kind, int w, int h) {
        planes_[static_cast<std::size_t>(index)] = MakeRef<TVideoTexture>(screen, kind, this);
        planes_[static_cast<std::size_t>(index)]->SetSize(w, h);
    };
    if (mode == kModeYUV) {
        make(kPlaneY, kTexGrey, width_, height_);
        make(kPlaneU, kTexGrey, width_ / 2, height_ / 2);
        make(kPlaneV, kTexGrey, width_ / 2, height_ / 2);
    } else if (mode == kModeRGBA) {
        make(kPlaneRGBA, kTexColor, width_, height_);
    } else {
        make(kPlaneRGB, kTex565, width_, height_);
    }
    for (auto& plane : planes_)
        if (plane) plane->Realize();
}

T3DYUV::~T3DYUV() {
    KIV_ASSERT(locks_ == 0, "video image destroyed while a plane is locked");
    if (drawer_) drawer_->ForgetVideoImage(this);
    for (auto& plane : planes_)
        if (plane) plane->Forget();
}

TCustomTexture* T3DYUV::Plane(int index) const {
    KIV_ASSERT(index >= 0 && index <= 4, "plane index out of range");
    return planes_[static_cast<std::size_t>(index)].Get();
}

TRef<TBitmap> T3DYUV::LockPlane(int index) {
    std::lock_guard lock(lock_);
    KIV_ASSERT(index >= 0 && index <= 4, "plane index out of range");
    if (!drawer_) return nullptr;
    TVideoTexture* plane = planes_[static_cast<std::size_t>(index)].Get();
    T3DTexture* texture = plane ? plane->Realize() : nullptr;
    T3DSurface* surface = texture ? texture->GetSurface(0) : nullptr;
    if (!surface) return nullptr;
    const bool chroma = index == kPlaneU || index == kPlaneV;
    const int w = chroma ? pw_ / 2 : pw_, h = chroma ? ph_ / 2 : ph_;
    TRef<TBitmap> bitmap = surface->Lock({0, 0, w, h}, false);
    if (!bitmap) return nullptr;
    lockedSurface_[static_cast<std::size_t>(index)] = surface;
    ++locks_;
    return bitmap;
}

void T3DYUV::UnlockPlane(int index, TBitmap* bitmap) {
    std::lock_guard lock(lock_);
    KIV_ASSERT(index >= 0 && index <= 4, "plane index out of range");
    T3DSurface*& surface = lockedSurface_[static_cast<std::size_t>(index)];
    if (!surface) return;
    if (bitmap && index <= kPlaneV) {
        const bool chroma = index != kPlaneY;
        PadPlane(*bitmap, chroma ? width_ / 2 : width_, chroma ? height_ / 2 : height_);
    }
    surface->Unlock(bitmap);
    surface = nullptr;
    --locks_;
    dirty_ = false;
}

void T3DYUV::Preload() {
    std::lock_guard lock(lock_);
    if (!drawer_) return;
    for (auto& plane : planes_)
        if (plane) plane->Preload();
}

void T3DYUV::Abandon() {
    std::lock_guard lock(lock_);
    drawer_ = nullptr;
    for (auto& plane : planes_)
        if (plane) {
            plane->Forget();
            plane->ReleaseDevice();
        }
}

} // namespace kiv

#include "images/BitmapStore.h"

#include "base/Assert.h"

#include <algorithm>

namespace kiv {

TBitmapStore::TBitmapStore(std::string name, int width, int height, TPixelFormat format)
    : name_(std::move(name)), width_(width), height_(height), format_(format) {}

TRef<TColorProfile> TBitmapStore::Profile() const {
    std::lock_guard lock(const_cast<TSafeCriticalSection&>(lock_));
    return profile_;
}

void TBitmapStore::SetProfile(TRef<TColorProfile> profile) {
    TLockGuard lock(lock_);
    profile_ = std::move(profile);
}

TBitmap* TBitmapStore::Matches(TBitmap* bitmap, TBitmapClass wanted, TPixelFormat format) {
    if (!bitmap) return nullptr;
    if (format != TPixelFormat::None && bitmap->Format() != format) return nullptr;
    if (wanted == TBitmapClass::Owned && !bitmap->OwnsPixels()) return nullptr;
    return bitmap;
}

TRef<TBitmap> TBitmapStore::GetMipLevel(int level, TPixelFormat format, TBitmapClass wanted) {
    TLockGuard lock(lock_);
    if (level < 0) KIV_FAIL("TSysBitmapStore.GetMipLevel - Index<0");
    if (static_cast<std::size_t>(level) >= levels_.size()) {
        std::size_t size = std::max<std::size_t>(levels_.size(), 4);
        while (size <= static_cast<std::size_t>(level))
            size *= 2;
        levels_.resize(size);
    }
    for (const auto& cached : levels_[level])
        if (TBitmap* match = Matches(cached.Get(), wanted, format)) return TRef<TBitmap>::Share(match);

    if (levels_[level].empty()) {
        TRef<TBitmap> loaded = LoadLevel(level, format, wanted);
        if (!loaded)
            KIV_FAIL(std::string(ClassName()) + ".GetMipLevel: no bitmap for level " + std::to_string(level));
        if (loaded->Level() != level) KIV_FAIL("Incorrect MipLevelIndex");
        levels_[level].push_back(loaded);
        if (Matches(loaded.Get(), wanted, format)) return loaded;
    }

    const TBitmap& first = *levels_[level].front();
    const TPixelFormat target = format == TPixelFormat::None ? first.Format() : format;
    TRef<TBitmap> converted =
        convertHook_ ? convertHook_(first, target, wanted) : ConvertBitmap(first, target);
    if (!converted || !Matches(converted.Get(), wanted, format))
        KIV_FAIL("Invalid Combination Of Bitmap Parameters");
    converted->SetLevel(level);
    converted->SetName(name_);
    levels_[level].push_back(converted);
    return converted;
}

TSysBitmapStore::TSysBitmapStore(std::string name, int width, int height, TPixelFormat format,
                                 TRotationQuery query, void* context)
    : TBitmapStore(name, width, height, format) {
    if (query) {
        const int orientation = query(name, context);
        if (orientation == 3 || orientation == 6 || orientation == 8) orientation_ = orientation;
    }
    if (orientation_ == 6 || orientation_ == 8) SetSize(height, width);
}

TRef<TBitmap> TSysBitmapStore::LoadLevel(int level, TPixelFormat format, TBitmapClass) {
    if (level < 0) KIV_FAIL("TSysBitmapStore.GetMipLevel - Index<0");
    if (TRef<TBitmap> source = ReadSourceLevel(level, format)) {
        source = RotateBitmap(*source, orientation_);
        source->SetLevel(level);
        source->SetName(Name());
        return source;
    }
    if (level == 0) return nullptr;
    TRef<TBitmap> above =
        GetMipLevel(level - 1, HasAlpha(Format()) ? TPixelFormat::Bgra32 : TPixelFormat::Bgr24);
    TRef<TBitmap> reduced = ReduceBitmap(*above);
    reduced->SetLevel(level);
    reduced->SetName(Name());
    return reduced;
}

TWrapperBitmapStore::TWrapperBitmapStore(std::string name, TRef<TBitmap> bitmap, TRotationQuery query,
                                         void* context)
    : TSysBitmapStore(std::move(name), bitmap->Width(), bitmap->Height(), bitmap->Format(), query, context),
      bitmap_(std::move(bitmap)) {}

TRef<TBitmap> TWrapperBitmapStore::ReadSourceLevel(int level, TPixelFormat) {
    if (level != 0 || !bitmap_) return nullptr;
    // The level cache keeps it from now on.
    TRef<TBitmap> bitmap = std::move(bitmap_);
    return bitmap;
}

} // namespace kiv

#include "render/ColorTables.h"

#include "images/ColorProfile.h"
#include "render/Screen.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

namespace kiv {
namespace {

int Spread(int n) {
    return n * 8 + n / 4;
}

std::uint8_t Clamp255(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0));
}

} // namespace

TRef<TBitmap> MakeIdentityVolumeTable() {
    return MakeVideoColorTable(false);
}

TRef<TBitmap> MakeVideoColorTable(bool yuv) {
    auto table = MakeRef<TBitmap>(32, 1024, TPixelFormat::Bgra32);
    for (int z = 0; z < 32; ++z)
        for (int y = 0; y < 32; ++y) {
            std::uint8_t* row = table->Row(z * 32 + y);
            for (int x = 0; x < 32; ++x) {
                std::uint8_t* p = row + x * 4;
                if (!yuv) {
                    p[2] = static_cast<std::uint8_t>(Spread(x));
                    p[1] = static_cast<std::uint8_t>(Spread(y));
                    p[0] = static_cast<std::uint8_t>(Spread(z));
                } else {
                    const double Y = 1.1643835616438356 * (Spread(z) - 16);
                    const double U = Spread(y) - 128;
                    const double V = Spread(x) - 128;
                    p[2] = Clamp255(Y + 1.596 * V);
                    p[1] = Clamp255(Y - 0.813 * V - 0.391 * U);
                    p[0] = Clamp255(Y + 2.018 * U);
                }
                p[3] = 255;
            }
        }
    return table;
}

TRef<TBitmap> VideoColorTable(bool yuv) {
    // Keyed by variant, colour management mode and target profile (null while management is off).
    using TKey = std::tuple<bool, TColorManagement, const TColorProfile*>;
    struct TEntry {
        TRef<TColorProfile> target; // keeps the key's profile alive
        TRef<TBitmap> table;
    };
    static std::mutex lock;
    static std::map<TKey, TEntry> tables;
    const TColorManagement mode = ColorManagement();
    TRef<TColorProfile> target = mode == TColorManagement::Off ? TRef<TColorProfile>() : DisplayProfile();
    std::lock_guard guard(lock);
    TEntry& entry = tables[TKey{yuv, mode, target.Get()}];
    if (entry.table) return entry.table;
    TRef<TBitmap> table = MakeVideoColorTable(yuv);
    if (target) {
        TRef<TColorProfile> source = BuiltInProfile(yuv ? "YUVsRGB" : "sRGB");
        if (source)
            if (TRef<TColorTransform> transform = CreateColorTransform(*source, *target))
                transform->Apply(*table);
    }
    entry.target = std::move(target);
    entry.table = table;
    return table;
}

void TCustomColoringTexture::ReleaseDevice() {
    if (texture_) texture_->OnKilled = nullptr;
    if (volume_) volume_->OnKilled = nullptr;
    texture_.Reset();
    volume_.Reset();
}

void TCustomColorGradeTexture::SetSource(TRef<TBitmap> source) {
    source_ = std::move(source);
    ReleaseDevice();
}

void TCustomColorGradeTexture::SetFilters(TColorFilterChain chain) {
    chain_ = std::move(chain);
    ReleaseDevice();
}

TRef<TBitmap> TCustomColorGradeTexture::Table() const {
    TRef<TBitmap> table;
    if (source_) {
        table = MakeRef<TBitmap>(source_->Width(), source_->Height(), TPixelFormat::Bgra32);
        for (int y = 0; y < table->Height(); ++y)
            std::memcpy(table->Row(y), source_->Row(y), table->RowBytes());
    } else if (kind_ == 1) {
        table = MakeIdentityVolumeTable();
    } else {
        table = MakeRef<TBitmap>(256, 16, TPixelFormat::Bgra32);
        for (int y = 0; y < 16; ++y)
            for (int i = 0; i < 256; ++i) {
                std::uint8_t* p = table->Row(y) + i * 4;
                p[0] = p[1] = p[2] = static_cast<std::uint8_t>(i);
                p[3] = 255;
            }
    }
    if (chain_) {
        if (kind_ == 1) {
            chain_(*table);
        } else {
            // The 2-D table is filtered as one 256-texel row, copied to every row.
            auto row = MakeRef<TBitmap>(256, 1, TPixelFormat::Bgra32);
            std::memcpy(row->Row(0), table->Row(0), 256 * 4);
            chain_(*row);
            for (int y = 0; y < table->Height(); ++y)
                std::memcpy(table->Row(y), row->Row(0), 256 * 4);
        }
    }
    return table;
}

TBaseTexture* TCustomColorGradeTexture::Realize() {
    if (texture_) return texture_.Get();
    if (volume_) return volume_.Get();
    T3DScreen* screen = Screen();
    if (!screen || !screen->Ready()) return nullptr;
    T3DRenderer* r = screen->Renderer();
    TRef<TBitmap> table = Table();
    if (kind_ == 1) {
        volume_ = r->CreateVolumeTexture(32, 32, 32);
        if (!volume_) return nullptr;
        TRef<TBitmap> locked = volume_->LockLevel(0, {0, 0, 0, 32, 32, 32});
        if (locked) {
            for (int y = 0; y < 1024 && y < table->Height(); ++y)
                std::memcpy(locked->Row(y), table->Row(y), std::min(locked->RowBytes(), table->RowBytes()));
            volume_->UnlockLevel(0, locked.Get());
        }
        volume_->OnKilled = [this] { volume_.Reset(); };
        return volume_.Get();
    }
    texture_ = r->CreateTexture(kTexColor, 256, 16, false);
    if (!texture_) return nullptr;
    T3DSurface* surface = texture_->GetSurface(0);
    if (TRef<TBitmap> locked = surface->Lock({0, 0, 256, 16}, false)) {
        for (int y = 0; y < 16 && y < table->Height(); ++y)
            std::memcpy(locked->Row(y), table->Row(y), std::min(locked->RowBytes(), table->RowBytes()));
        surface->Unlock(locked.Get());
    }
    texture_->OnKilled = [this] { texture_.Reset(); };
    return texture_.Get();
}

} // namespace kiv

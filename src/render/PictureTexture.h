// Picture textures of the slide drawer: one picture level uploaded as tiles of at most
// kPictureTileSide texels (TMultiTexture6), and the per-picture cache the drawer keeps in the
// picture's attachments (TTextureStore2, a list of TTextureWrapper entries keyed by level and
// pattern settings).
#pragma once

#include "images/Bitmap.h"
#include "render/ScreenTextures.h"

#include <mutex>
#include <string>
#include <vector>

namespace kiv {

class T3DScreen;

// The largest tile side; bigger pictures are split into a grid of tiles. Each tile carries one more
// column and row repeating its edge texels, so that linear filtering at the edge never reaches the
// unused part of the power-of-two texture (2047 + 1 fills 2048 exactly).
inline constexpr int kPictureTileSide = 2047;

// One tile: the part `rect` of the picture level, copied (and premultiplied when asked) at upload.
class TPictureTile final : public TCustomTexture {
public:
    TPictureTile(T3DScreen* screen, TRef<TBitmap> picture, const TRect& rect, bool premultiplied);
    const TRect& Rect() const { return rect_; }
    int fills = 0; // how often the texels were written (uploads)

protected:
    ~TPictureTile() override = default;
    void FillTopLevel(TBitmap& level) override;
    // Tiles that are not premultiplied are written straight from the picture.
    bool CanWriteTopRows() const override { return !Premultiplied(); }
    bool WriteTopRows(T3DSurface& surface, int top, int bottom) override;

private:
    TRef<TBitmap> picture_;
    TRect rect_;
};

// A picture level as tiles. Its texel space is the level's: (0, 0) … (Width, Height).
class TMultiTexture6 final : public TRefObject {
public:
    TMultiTexture6(T3DScreen* screen, TRef<TBitmap> picture, bool premultiplied,
                   int tileSide = kPictureTileSide);
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Premultiplied() const { return premultiplied_; }
    const std::vector<TRef<TPictureTile>>& Tiles() const { return tiles_; }
    // Passes smoothing, mip-mapping and the LOD bias on to every tile.
    void SetSampling(bool pointFilter, bool mipmapped, float lodBias);
    // Realises and fills every tile now.
    void Preload();
    // The same for a thread that does not draw: tile after tile in slices (see
    // TCustomTexture::PreloadSliced), `outerLock` held with the device lock around each slice.
    void PreloadSliced(std::mutex* outerLock, std::recursive_mutex* frameLock = nullptr);

protected:
    ~TMultiTexture6() override = default;

private:
    int width_;
    int height_;
    bool premultiplied_;
    std::vector<TRef<TPictureTile>> tiles_;
};

// One cached picture texture and its key.
struct TTextureWrapper {
    std::string key;
    TRef<TMultiTexture6> texture;
};

// The drawer's cache on one picture.
class TTextureStore2 final : public TRefObject {
public:
    // "MultiTexID: level:patternA:patternB:premultiplied:pattern" with True/False for the flags.
    static std::string Key(int level, int patternA, int patternB, bool premultiplied, bool pattern);
    TRef<TMultiTexture6> Find(const std::string& key) const;
    void Add(std::string key, TRef<TMultiTexture6> texture);
    std::size_t Count() const;

protected:
    ~TTextureStore2() override = default;

private:
    mutable std::mutex mutex_;
    std::vector<TTextureWrapper> entries_;
};

} // namespace kiv

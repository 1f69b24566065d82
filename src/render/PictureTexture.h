// Picture textures of the slide drawer: one picture level laid out on pooled tiles
// (TMultiTexture6, TileTextures.h), and the per-picture cache the drawer keeps in the picture's
// attachments (TTextureStore2, a list of TTextureWrapper entries keyed by level and pattern
// settings).
#pragma once

#include "images/Bitmap.h"
#include "objects/Geometry.h"
#include "render/Screen.h"
#include "render/TileTextures.h"

#include <mutex>
#include <string>
#include <vector>

namespace kiv {

class T3DScreen;

// A picture level on tiles. Its texel space is the source's: (0, 0) … (Width, Height); for a
// sprite sheet (`pattern`) the source is the sheet with a border around every cell
// (BorderedCells), so a cell never bleeds into its neighbour.
class TMultiTexture6 final : public TRefObject {
public:
    TMultiTexture6(TRef<TTextureManager6> manager, TRef<TBitmap> picture, bool premultiplied,
                   bool pattern = false, int columns = 1, int rows = 1);
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Premultiplied() const { return premultiplied_; }
    // Bands from top to bottom, each from left to right; every tile shows (used − 2) × (used − 2)
    // texels of the source and repeats one of each neighbour around them.
    const std::vector<TRef<TTextureTile>>& Tiles() const { return tiles_; }
    // Passes smoothing, mip-mapping and the LOD bias on to every tile.
    void SetSampling(bool pointFilter, bool mipmapped, float lodBias);
    // Refills tiles that kept a device texture of an earlier picture (the drawing thread).
    void PrepareTiles();
    // Realises and fills every tile now.
    void Preload();
    // The same for a thread that does not draw: tile after tile in slices (see
    // TCustomTexture::PreloadSliced), `outerLock` held with the device lock around each slice.
    void PreloadSliced(std::mutex* outerLock, std::recursive_mutex* frameLock = nullptr);
    // Draws `source` (texels) with texel point (x, y) at origin + x · axisX + y · axisY, tile by
    // tile, in `color`; with `edges` (kEdge… flags) the picture's flagged outer edges get the
    // one-pixel fringe. The batch's forced flag is `forced` (tints). Returns the tiles drawn.
    int DrawPicture(T3DScreen& screen, const TRectF& source, TPoint3 origin, TVec3 axisX, TVec3 axisY,
                    std::uint32_t color, unsigned edges, bool forced);

protected:
    ~TMultiTexture6() override;

private:
    void Place(int x, int y, int h, int w);

    TRef<TTextureManager6> manager_;
    TRef<TBitmap> source_;
    int width_ = 0;
    int height_ = 0;
    bool premultiplied_;
    std::vector<TRef<TTextureTile>> tiles_;
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

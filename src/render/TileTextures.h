// Tile textures for pictures: power-of-two tiles of nine sizes (512 × 512 down to 64 × 64) kept in
// pools (TTileManager) by the drawer's texture manager (TTextureManager6) and reused from picture
// to picture. A tile shows a part of a picture with a one-pixel border around it copied from the
// neighbouring pixels (at the picture's own edges: its edge pixels repeated), so that linear
// filtering joins neighbouring tiles without a seam.
//
// Threads: the manager's pools are locked; a tile is used by the one picture texture that took it
// until that texture gives it back.
#pragma once

#include "images/Bitmap.h"
#include "render/Screen.h"
#include "render/ScreenTextures.h"

#include <array>
#include <atomic>
#include <mutex>
#include <vector>

namespace kiv {

class T3DScreen;
class TTileManager;

// One tile: `used` texels of its texture, from `origin` of the source picture (one pixel up and
// left of its first usable pixel). Texels outside the source repeat its nearest edge pixel; with
// mip-maps the unused rest of the texture repeats the used part's last column and row, so that
// reduced levels see no foreign texels.
class TTextureTile final : public TCustomTexture {
public:
    TTextureTile(T3DScreen* screen, TTileManager* pool, int width, int height);
    TTileManager* Pool() const { return pool_; }
    TPoint Origin() const { return origin_; }
    int UsedWidth() const { return usedWidth_; }
    int UsedHeight() const { return usedHeight_; }
    // The part of the source the tile shows without its border.
    TRect Rect() const {
        return {origin_.x + 1, origin_.y + 1, origin_.x + usedWidth_ - 1, origin_.y + usedHeight_ - 1};
    }
    bool NeedsUpload() const { return needsUpload_; }
    // Uploads a device texture kept from an earlier picture when it holds stale texels.
    void Prepare();
    int fills = 0; // how often the texels were written (uploads)

protected:
    ~TTextureTile() override = default;
    void FillTopLevel(TBitmap& level) override;
    bool CanWriteTopRows() const override { return !Premultiplied(); }
    bool WriteTopRows(T3DSurface& surface, int top, int bottom) override;
    int RowsToWrite() const override { return usedHeight_; }
    TRef<TBitmap> MakeLevelOne() override;
    bool NeedsRefill() const override { return needsUpload_; }
    void Refilled() override { needsUpload_ = false; }

private:
    friend class TTileManager;
    friend class TTextureManager6;
    friend class TMultiTexture6;
    void Assign(TRef<TBitmap> source, TPoint origin, int usedWidth, int usedHeight);

    TTileManager* pool_;
    TRef<TBitmap> source_;
    TPoint origin_;
    int usedWidth_ = 0;
    int usedHeight_ = 0;
    std::atomic<bool> needsUpload_{true};
};

// A pool of tiles of one size.
class TTileManager final : public TRefObject {
public:
    TTileManager(int width, int height) : width_(width), height_(height) {}
    int Width() const { return width_; }
    int Height() const { return height_; }
    std::size_t FreeCount() const { return free_.size(); }
    int Made() const { return made_; }

protected:
    ~TTileManager() override;

private:
    friend class TTextureManager6;
    int width_;
    int height_;
    int made_ = 0;
    std::vector<TRef<TTextureTile>> free_;
};

// The drawer's tile pools, one per size in the order of kTileSizes.
class TTextureManager6 final : public TRefObject {
public:
    static constexpr std::array<TPoint, 9> kTileSizes{TPoint{512, 512}, TPoint{512, 256}, TPoint{256, 512},
                                                      TPoint{256, 256}, TPoint{256, 128}, TPoint{128, 256},
                                                      TPoint{256, 64},  TPoint{64, 256},  TPoint{64, 64}};

    explicit TTextureManager6(T3DScreen* screen);
    T3DScreen* Screen() const { return screen_; }
    // The pool for w × h texels (borders included): the largest covered area, then the least
    // waste, the first in pool order on a tie; −1 when none covers anything.
    int ChoosePool(int w, int h) const;
    // A tile of that pool (the most recently returned, or a new one) with its used size set to
    // what of w × h it covers; none when no pool covers anything.
    TRef<TTextureTile> ChooseTile(int w, int h);
    // Back to its pool's free list, its texels marked stale (a tile of no pool is dropped).
    void Return(TRef<TTextureTile> tile);
    // Frees the tiles waiting in the pools (their device textures go with them).
    void FreeIdleTiles();
    const TTileManager& Pool(std::size_t index) const { return *pools_[index]; }
    std::size_t PoolCount() const { return pools_.size(); }

protected:
    ~TTextureManager6() override = default;

private:
    T3DScreen* screen_;
    std::vector<TRef<TTileManager>> pools_;
    mutable std::mutex mutex_;
};

// Solid boxes with anti-aliased edges: a 256 × 256 opaque white texture under the anti-aliased
// quad, so that the box shows its vertex colours and only its flagged edges fade out over one pixel
// (an edge without a flag has no fringe).
class TBoxAntialiaser final : public TRefObject {
public:
    explicit TBoxAntialiaser(T3DScreen* screen);
    static constexpr int kSide = 256;
    // The quad with corners top-left, top-right, bottom-left, bottom-right in the corner colours
    // (the same order); `edges` are kEdge… flags.
    void DrawBox(T3DScreen& screen, const std::array<TPoint3, 4>& corners,
                 const std::array<std::uint32_t, 4>& colors, unsigned edges);
    TCustomTexture* Texture() const;

protected:
    ~TBoxAntialiaser() override = default;

private:
    TRef<TCustomTexture> texture_;
};

// A picture divided into columns × rows cells (sprite-sheet frames) with every cell surrounded by a
// one-pixel border repeating the cell's own edge pixels: (W + 2 × columns) × (H + 2 × rows).
TRef<TBitmap> BorderedCells(const TBitmap& source, int columns, int rows);

} // namespace kiv

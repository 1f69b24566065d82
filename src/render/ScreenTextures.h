// Textures of the screen: TCustomTexture (power-of-two sized, at least 32 × 32, with mip-maps and
// the retry that frees managed textures in halves when a render target does not fit),
// TRenderTargetTexture and its pool TRenderTargetManager, and TShader (a device shader rebuilt
// after every loss).
#pragma once

#include "images/Bitmap.h"
#include "render/Renderer.h"
#include "render/ScreenResource.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

class TRenderTargetManager;

// Level i from level i − 1 of a 32-bit texture: each texel the truncated mean of the 2 × 2 texels
// it covers when the source is exactly twice the size, else of the box of texels it covers.
void ReduceLevel(const TBitmap& source, TBitmap& dest);
// The truncated per-channel mean of four 32-bit texels.
inline std::uint32_t Mean4(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    constexpr std::uint32_t m = 0x00FF00FF; // two channels per word, room for the sum of four
    const std::uint32_t even = (a & m) + (b & m) + (c & m) + (d & m);
    const std::uint32_t odd = ((a >> 8) & m) + ((b >> 8) & m) + ((c >> 8) & m) + ((d >> 8) & m);
    return ((even >> 2) & m) | (((odd >> 2) & m) << 8);
}

// out[x] = Mean4 of a[2x], a[2x + 1], b[2x], b[2x + 1] for x < count: one row of a level reduced
// from two rows of 32-bit texels of the level above.
void ReducePairs(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int count);

// The texture size for a requested side: the smallest power of two ≥ n, at least 32; 0 for n ≤ 0.
int TextureSide(int n);

// The most texels one slice of a sliced upload writes (1 MB of 32-bit texels).
inline constexpr int kUploadSliceTexels = 256 * 1024;

// What sliced uploads held their locks for, process-wide since the last reset.
struct TUploadSliceStats {
    std::int64_t slices = 0;
    std::int64_t longestNanos = 0;      // the longest one slice held the locks
    std::int64_t longestWriteNanos = 0; // the same for slices that write texels (not creation)
    std::int64_t totalNanos = 0;
    // The calling thread's processor time in the longest writing slice: its own work, without the
    // time it was preempted on a busy machine.
    std::int64_t longestWriteCpuNanos = 0;
};
// The calling thread's processor time (nanoseconds).
std::int64_t ThreadCpuNanos();
TUploadSliceStats UploadSliceStats();
void ResetUploadSliceStats();

class TCustomTexture : public TScreenResource {
public:
    // Realises the device texture when it is missing and the size is valid on a ready screen;
    // none otherwise.
    T3DTexture* Realize();
    // A size change releases the device texture.
    void SetSize(int width, int height);
    void SetMipmapped(bool mipmapped);
    void SetPremultiplied(bool premultiplied);
    void SetKind(int kind);
    // Fills every level: level 0 through FillTopLevel, each further level by 2 × 2 box averaging.
    virtual void Upload();
    void ReleaseDevice() override;
    void Preload();
    // Preload for a thread that does not draw (the slide loader): the device texture is made and
    // filled in slices of at most kUploadSliceTexels texels, each holding the device lock (and
    // `outerLock` and `frameLock` when given, taken first, the frame lock before the other) only
    // around its GL calls, so that a frame drawn meanwhile waits for one slice at most; the CPU
    // work (copying, mip levels) runs unlocked. The texture is used only once complete; one the
    // drawing thread made meanwhile is kept.
    void PreloadSliced(std::mutex* outerLock, std::recursive_mutex* frameLock = nullptr);

    T3DTexture* Texture() const { return texture_.Get(); }
    int Kind() const { return kind_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int TexWidth() const { return texWidth_; }
    int TexHeight() const { return texHeight_; }
    double InvTexWidth() const { return invTexWidth_; }
    double InvTexHeight() const { return invTexHeight_; }
    bool Mipmapped() const { return mipmapped_; }
    bool Premultiplied() const { return premultiplied_; }

    float LodBias = 0;
    bool PointFilter = false;
    std::uint8_t Opacity = 255;

protected:
    TCustomTexture(T3DScreen* screen, int kind);
    ~TCustomTexture() override;
    // Draws the picture into the locked top level (width × height at the level's corner).
    virtual void FillTopLevel(TBitmap& level) = 0;
    // Textures whose top level is a plain copy of a picture write it straight from the picture,
    // without a CPU copy, when it is their only level: rows [top, bottom) of the top level.
    virtual bool CanWriteTopRows() const { return false; }
    virtual bool WriteTopRows(T3DSurface& /*surface*/, int /*top*/, int /*bottom*/) { return false; }
    // How many top rows WriteTopRows fills (the rest of the level is never sampled).
    virtual int RowsToWrite() const { return height_; }
    // Level 1 reduced straight from the picture by textures that write their top level straight
    // (what a copy of the top level would give); none: mip levels come from a copy of the top level.
    virtual TRef<TBitmap> MakeLevelOne() { return nullptr; }
    // A texture whose device texture is kept while its texels go stale (pooled tiles) asks to be
    // filled again; Refilled is called once every level is written.
    virtual bool NeedsRefill() const { return false; }
    virtual void Refilled() {}

private:
    TRef<T3DTexture> CreateWithRetry(T3DRenderer& renderer);

    TRef<T3DTexture> texture_;
    int kind_;
    int width_ = 0;
    int height_ = 0;
    int texWidth_ = 0;
    int texHeight_ = 0;
    double invTexWidth_ = 0;
    double invTexHeight_ = 0;
    bool mipmapped_ = false;
    bool mipEver_ = false;
    bool premultiplied_ = false;
};

// An off-screen target: kind 2 with premultiplied alpha, or kind 1 without.
class TRenderTargetTexture final : public TCustomTexture {
public:
    TRenderTargetTexture(T3DScreen* screen, bool premultiplied);
    void Upload() override {}
    TRenderTargetManager* Pool() const { return pool_; }

protected:
    void FillTopLevel(TBitmap&) override {}

private:
    friend class TRenderTargetManager;
    TRenderTargetManager* pool_ = nullptr;
};

// A pool of render targets of one power-of-two size and one premultiplied flag, reused between
// frames: Acquire lends the most recently returned one, Return takes it back.
class TRenderTargetManager {
public:
    explicit TRenderTargetManager(bool premultiplied) : premultiplied_(premultiplied) {}
    ~TRenderTargetManager() { Clear(); }
    // Rounded up to powers of two; a different rounded size releases every pooled texture.
    void SetSize(int width, int height);
    TRef<TRenderTargetTexture> Acquire(T3DScreen* screen);
    // A texture lent from this pool goes back on the free list (its size and flag must be the
    // pool's: assertion); any other is simply dropped.
    void Return(TRef<TRenderTargetTexture> texture);
    void Clear();
    std::size_t FreeCount() const { return free_.size(); }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    std::vector<TRef<TRenderTargetTexture>> free_;
    int width_ = 0;
    int height_ = 0;
    bool premultiplied_;
};

// Compiled shader code on the screen's renderer: made at once on a ready screen, again at the next
// scene start when missing or when its last call failed.
class TShader final : public TScreenResource {
public:
    TShader(T3DScreen* screen, std::string code, bool isVertex);
    T3DShader* DeviceShader() const { return shader_.Get(); }
    bool IsVertex() const { return vertex_; }
    // Makes the device shader when it is missing or broken.
    void Recreate();
    void ReleaseDevice() override { shader_.Reset(); }

protected:
    ~TShader() override = default;

private:
    std::string code_;
    bool vertex_;
    TRef<T3DShader> shader_;
};

} // namespace kiv

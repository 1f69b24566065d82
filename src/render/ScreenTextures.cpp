#include "render/ScreenTextures.h"

#include "base/Assert.h"
#include "base/Log.h"
#include "render/DeviceLock.h"
#include "render/Screen.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kiv {
namespace {

const char* Outcome(bool ok) {
    return ok ? "True" : "False";
}

std::atomic<std::int64_t> sliceCount{0};
std::atomic<std::int64_t> sliceLongest{0};
std::atomic<std::int64_t> sliceLongestWrite{0};
std::atomic<std::int64_t> sliceTotal{0};
std::atomic<std::int64_t> sliceLongestWriteCpu{0};

void Raise(std::atomic<std::int64_t>& longest, std::int64_t nanos) {
    std::int64_t seen = longest.load();
    while (nanos > seen && !longest.compare_exchange_weak(seen, nanos)) {
    }
}

// The locks one slice holds besides the device lock, taken in this order.
struct TSliceLocks {
    std::recursive_mutex* frame = nullptr;
    std::mutex* outer = nullptr;
};

// Runs `work` holding the slice's locks and the device lock, and counts how long they were held;
// `writes`, read once the work is done: the slice wrote texels (else it made or handed over a
// texture only).
template <class TWork> void Slice(const TSliceLocks& locks, TWork&& work, const bool& writes = true) {
    if (locks.frame) LockCounted(*locks.frame);
    std::unique_lock<std::recursive_mutex> frameHeld =
        locks.frame ? std::unique_lock<std::recursive_mutex>(*locks.frame, std::adopt_lock)
                    : std::unique_lock<std::recursive_mutex>();
    if (locks.outer) LockCounted(*locks.outer);
    std::unique_lock<std::mutex> outerHeld = locks.outer
                                                 ? std::unique_lock<std::mutex>(*locks.outer, std::adopt_lock)
                                                 : std::unique_lock<std::mutex>();
    std::optional<TDeviceLockGuard> guard(std::in_place);
    const auto start = std::chrono::steady_clock::now();
    const std::int64_t cpuStart = ThreadCpuNanos();
    work();
    if (writes) Raise(sliceLongestWriteCpu, ThreadCpuNanos() - cpuStart);
    const std::int64_t nanos =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
            .count();
    ++sliceCount;
    sliceTotal += nanos;
    Raise(sliceLongest, nanos);
    if (writes) Raise(sliceLongestWrite, nanos);
    guard.reset();
    outerHeld = {};
    frameHeld = {};
    // The locks are not fair: a thread waiting for them (the drawing thread) gets them before
    // the next slice, or it could wait behind many slices in a row.
    for (int spins = 0; LockWaiters().load() > 0 && spins < 100000; ++spins)
        std::this_thread::yield();
}

// Level i (i > 1) of a width × height texture from level i − 1.
TRef<TBitmap> ReducedLevel(const TBitmap& previous, int width, int height, int i) {
    auto next =
        MakeRef<TBitmap>(std::max(1, width >> i), std::max(1, height >> i), TPixelFormat::Bgra32, false);
    ReduceLevel(previous, *next);
    return next;
}

} // namespace

void ReducePairs(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int count) {
    int x = 0;
#if defined(__SSE2__)
    // Four texels at a time: eight of each row widened to 16 bits, summed down, then across
    // neighbouring pairs, divided by four and narrowed again (the sums never exceed 1020).
    const __m128i zero = _mm_setzero_si128();
    auto load = [](const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    for (; x + 4 <= count; x += 4) {
        const __m128i a0 = load(a + 8 * x), a1 = load(a + 8 * x + 16);
        const __m128i b0 = load(b + 8 * x), b1 = load(b + 8 * x + 16);
        const __m128i s01 = _mm_add_epi16(_mm_unpacklo_epi8(a0, zero), _mm_unpacklo_epi8(b0, zero));
        const __m128i s23 = _mm_add_epi16(_mm_unpackhi_epi8(a0, zero), _mm_unpackhi_epi8(b0, zero));
        const __m128i s45 = _mm_add_epi16(_mm_unpacklo_epi8(a1, zero), _mm_unpacklo_epi8(b1, zero));
        const __m128i s67 = _mm_add_epi16(_mm_unpackhi_epi8(a1, zero), _mm_unpackhi_epi8(b1, zero));
        const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi64(s01, s23), _mm_unpackhi_epi64(s01, s23));
        const __m128i hi = _mm_add_epi16(_mm_unpacklo_epi64(s45, s67), _mm_unpackhi_epi64(s45, s67));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x),
                         _mm_packus_epi16(_mm_srli_epi16(lo, 2), _mm_srli_epi16(hi, 2)));
    }
#endif
    for (; x < count; ++x) {
        std::uint32_t p[4];
        std::memcpy(p, a + 8 * x, 8);
        std::memcpy(p + 2, b + 8 * x, 8);
        const std::uint32_t mean = Mean4(p[0], p[1], p[2], p[3]);
        std::memcpy(out + 4 * x, &mean, 4);
    }
}

void ReduceLevel(const TBitmap& source, TBitmap& dest) {
    KIV_ASSERT(source.Format() == TPixelFormat::Bgra32 && dest.Format() == TPixelFormat::Bgra32,
               "mip levels must be 32-bit");
    if (source.Width() == 2 * dest.Width() && source.Height() == 2 * dest.Height()) {
        for (int y = 0; y < dest.Height(); ++y)
            ReducePairs(source.Row(2 * y), source.Row(2 * y + 1), dest.Row(y), dest.Width());
        return;
    }
    for (int y = 0; y < dest.Height(); ++y) {
        const int y0 = y * source.Height() / dest.Height();
        const int y1 = std::max(y0 + 1, (y + 1) * source.Height() / dest.Height());
        for (int x = 0; x < dest.Width(); ++x) {
            const int x0 = x * source.Width() / dest.Width();
            const int x1 = std::max(x0 + 1, (x + 1) * source.Width() / dest.Width());
            unsigned sum[4] = {};
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 4; ++c)
                        sum[c] += source.Row(sy)[sx * 4 + c];
            const unsigned n = static_cast<unsigned>((y1 - y0) * (x1 - x0));
            for (int c = 0; c < 4; ++c)
                dest.Row(y)[x * 4 + c] = static_cast<std::uint8_t>(sum[c] / n);
        }
    }
}

TUploadSliceStats UploadSliceStats() {
    return {sliceCount.load(), sliceLongest.load(), sliceLongestWrite.load(), sliceTotal.load(),
            sliceLongestWriteCpu.load()};
}

std::int64_t ThreadCpuNanos() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

void ResetUploadSliceStats() {
    sliceCount = 0;
    sliceLongest = 0;
    sliceLongestWrite = 0;
    sliceLongestWriteCpu = 0;
    sliceTotal = 0;
}

int TextureSide(int n) {
    if (n <= 0) return 0;
    int side = 32;
    while (side < n)
        side *= 2;
    return side;
}

TCustomTexture::TCustomTexture(T3DScreen* screen, int kind) : TScreenResource(screen), kind_(kind) {}

TCustomTexture::~TCustomTexture() {
    ReleaseDevice();
}

void TCustomTexture::SetSize(int width, int height) {
    if (width == width_ && height == height_) return;
    ReleaseDevice();
    width_ = width;
    height_ = height;
    texWidth_ = width > 0 && height > 0 ? TextureSide(width) : 0;
    texHeight_ = width > 0 && height > 0 ? TextureSide(height) : 0;
    invTexWidth_ = texWidth_ ? 1.0 / texWidth_ : 0;
    invTexHeight_ = texHeight_ ? 1.0 / texHeight_ : 0;
}

void TCustomTexture::SetMipmapped(bool mipmapped) {
    if (mipmapped == mipmapped_) return;
    if (!mipEver_) ReleaseDevice();
    mipmapped_ = mipmapped;
    mipEver_ = mipEver_ || mipmapped;
}

void TCustomTexture::SetPremultiplied(bool premultiplied) {
    premultiplied_ = premultiplied;
    if (texture_) texture_->Premultiplied = premultiplied;
}

void TCustomTexture::SetKind(int kind) {
    ReleaseDevice();
    kind_ = kind;
}

void TCustomTexture::ReleaseDevice() {
    TDeviceLockGuard guard;
    if (!texture_) return;
    TRef<T3DTexture> gone = std::move(texture_);
    gone->OnKilled = nullptr;
}

void TCustomTexture::Preload() {
    if (T3DTexture* t = Realize()) t->Preload();
}

TRef<T3DTexture> TCustomTexture::CreateWithRetry(T3DRenderer& renderer) {
    TRef<T3DTexture> texture = renderer.CreateTexture(kind_, texWidth_, texHeight_, mipmapped_);
    if (!IsTargetKind(kind_)) return texture;
    TLog::Line(std::string("Rt Create First Attempt Ok= ") + Outcome(texture.Get() != nullptr));
    if (texture || renderer.LastError != kErrOutOfMemory) return texture;
    // Out of video memory: free managed textures in halves, the most recently registered first.
    std::vector<TCustomTexture*> managed;
    for (TScreenResource* r : Screen()->Resources())
        if (auto* t = dynamic_cast<TCustomTexture*>(r);
            t && (t->Kind() == kTexColor || t->Kind() == kTexGrey))
            managed.push_back(t);
    const int n = static_cast<int>(managed.size());
    TLog::Line("tmpTexListcount= " + std::to_string(n));
    for (int s = 1; !texture && (1 << (s - 1)) < n; ++s) {
        const int from = (n >> (s - 1)) - 1;
        const int to = n >> s;
        for (int i = from; i >= to; --i)
            managed[static_cast<std::size_t>(i)]->ReleaseDevice();
        texture = renderer.CreateTexture(kind_, texWidth_, texHeight_, mipmapped_);
        TLog::Line("Released Managed Texs from " + std::to_string(from) + " to " + std::to_string(to) +
                   "; Rt Create " + std::to_string(s) +
                   "nd Attempt Ok= " + Outcome(texture.Get() != nullptr));
    }
    return texture;
}

void TCustomTexture::PreloadSliced(std::mutex* outerLock, std::recursive_mutex* frameLock) {
    const TSliceLocks locks{frameLock, outerLock};
    if (kind_ != kTexColor && kind_ != kTexGrey) {
        Preload(); // render targets hold nothing to upload
        return;
    }
    TRef<T3DTexture> made;
    bool done = false;
    bool reused = false; // a kept device texture filled again in place
    const auto handOver = [&] {
        if (reused) {
            if (texture_ == made) Refilled();
            return;
        }
        if (texture_) return;
        texture_ = std::move(made);
        texture_->Premultiplied = premultiplied_;
        texture_->OnKilled = [this] { ReleaseDevice(); };
        Refilled();
    };
    // The first slice makes the texture. A kept device texture costs nothing to take, so that slice
    // also writes the first band of a top level written straight from the picture (a tile whose
    // texels fit one band is complete and handed over): a frame meets one slice less per texture.
    // Making a texture (the driver allocates and clears its storage) stays a slice of its own.
    const int topRows = CanWriteTopRows() ? std::min(height_, RowsToWrite()) : 0;
    int firstRows = 0;
    bool firstWrites = false;
    Slice(
        locks,
        [&] {
            T3DScreen* screen = Screen();
            if (texture_ && !NeedsRefill()) {
                done = true;
                return;
            }
            if (texture_) {
                made = texture_;
                reused = true;
            } else {
                if (!screen || !screen->Ready() || !screen->Renderer() || texWidth_ <= 0 || texHeight_ <= 0)
                    return;
                made = CreateWithRetry(*screen->Renderer());
            }
            if (!made || !reused || topRows <= 0 || width_ <= 0) return;
            const int rows = std::min(topRows, std::max(1, kUploadSliceTexels / width_));
            T3DSurface* surface = made->GetSurface(0);
            if (!surface || !WriteTopRows(*surface, 0, rows)) return;
            firstRows = rows;
            firstWrites = true;
            if (rows == topRows && made->LevelCount() == 1) {
                handOver();
                done = true;
            }
        },
        firstWrites);
    if (done || !made) return;
    // The writes, each a band of rows of one level, are packed in order into slices of at most
    // kUploadSliceTexels texels; the last slice also hands the finished texture over (its fence
    // is set), so that small levels and the hand-over cost no slice of their own.
    struct TWrite {
        std::int64_t texels;
        std::function<bool()> write; // false: the device or the texture went
    };
    std::vector<TWrite> writes;
    auto bands = [&](int from, int w, int h, const std::function<bool(int, int)>& write) {
        const int rows = std::max(1, kUploadSliceTexels / w);
        for (int top = from; top < h; top += rows) {
            const int bottom = std::min(h, top + rows);
            writes.push_back(
                {std::int64_t{bottom - top} * w, [write, top, bottom] { return write(top, bottom); }});
        }
    };
    std::vector<TRef<TBitmap>> levels; // the reduced levels' CPU copies, kept until written
    // Reduced levels are made without any lock held, level 1 straight from the picture when the
    // texture can do so.
    TRef<TBitmap> levelOne;
    if (CanWriteTopRows() && (made->LevelCount() == 1 || (levelOne = MakeLevelOne()))) {
        // Straight from the picture, band by band.
        T3DSurface* surface = made->GetSurface(0);
        if (!surface) return;
        bands(firstRows, width_, topRows,
              [this, surface](int top, int bottom) { return WriteTopRows(*surface, top, bottom); });
        TRef<TBitmap> level = std::move(levelOne);
        for (int i = 1; level && i < made->LevelCount(); ++i) {
            if (i > 1) level = ReducedLevel(*level, width_, height_, i);
            T3DSurface* target = made->GetSurface(i);
            if (!target) return;
            levels.push_back(level);
            const TBitmap* from = level.Get();
            bands(0, level->Width(), level->Height(), [target, from](int top, int bottom) {
                return target->Write({0, top, from->Width(), bottom}, *from, 0, top);
            });
        }
    } else {
        TRef<TBitmap> previous;
        for (int i = 0; i < made->LevelCount(); ++i) {
            const int w = std::max(1, width_ >> i);
            const int h = std::max(1, height_ >> i);
            T3DSurface* surface = made->GetSurface(i);
            if (!surface) return; // the device went
            // The level's CPU copy is filled without any lock held ...
            TRef<TBitmap> level = surface->Lock({0, 0, w, h}, false);
            if (!level) return;
            if (i == 0)
                FillTopLevel(*level);
            else if (previous)
                ReduceLevel(*previous, *level);
            surface->Unlock(nullptr); // nothing reaches the device yet
            previous = level;
            // ... and reaches the device in bands of rows.
            bands(0, w, h, [surface, w](int top, int bottom) {
                TRef<TBitmap> band = surface->Lock({0, top, w, bottom}, false);
                surface->Unlock(band.Get());
                return true;
            });
        }
    }
    for (std::size_t first = 0; first < writes.size() || first == 0;) {
        std::size_t end = first;
        std::int64_t texels = 0;
        while (end < writes.size() && (end == first || texels + writes[end].texels <= kUploadSliceTexels))
            texels += writes[end++].texels;
        bool gone = false;
        Slice(locks, [&] {
            gone = made->Killed() || !Screen();
            for (std::size_t i = first; !gone && i < end; ++i)
                gone = !writes[i].write();
            if (!gone && end == writes.size()) handOver();
        });
        if (gone || end == writes.size()) return;
        first = end;
    }
}

T3DTexture* TCustomTexture::Realize() {
    TDeviceLockGuard guard; // the slide loader may be handing a texture over
    if (texture_) return texture_.Get();
    T3DScreen* screen = Screen();
    if (!screen || !screen->Ready() || !screen->Renderer() || texWidth_ <= 0 || texHeight_ <= 0)
        return nullptr;
    texture_ = CreateWithRetry(*screen->Renderer());
    if (!texture_) return nullptr;
    texture_->Premultiplied = premultiplied_;
    texture_->OnKilled = [this] { ReleaseDevice(); };
    if (kind_ == kTexColor || kind_ == kTexGrey) Upload();
    return texture_.Get();
}

void TCustomTexture::Upload() {
    if (!texture_) return;
    const int levels = texture_->LevelCount();
    TRef<TBitmap> level;
    if (CanWriteTopRows() && (levels == 1 || (level = MakeLevelOne()))) {
        T3DSurface* surface = texture_->GetSurface(0);
        bool ok = surface && WriteTopRows(*surface, 0, std::min(height_, RowsToWrite()));
        for (int i = 1; ok && level && i < levels; ++i) {
            if (i > 1) level = ReducedLevel(*level, width_, height_, i);
            T3DSurface* target = texture_->GetSurface(i);
            ok = target && target->Write({0, 0, level->Width(), level->Height()}, *level, 0, 0);
        }
        if (ok) Refilled();
        return;
    }
    std::vector<std::pair<T3DSurface*, TRef<TBitmap>>> locked;
    TBitmap* previous = nullptr;
    for (int i = 0; i < levels; ++i) {
        const int w = std::max(1, width_ >> i);
        const int h = std::max(1, height_ >> i);
        T3DSurface* surface = texture_->GetSurface(i);
        TRef<TBitmap> bitmap = surface ? surface->Lock({0, 0, w, h}, false) : TRef<TBitmap>();
        if (!bitmap) continue; // a level that cannot be locked is skipped
        if (i == 0)
            FillTopLevel(*bitmap);
        else if (previous)
            ReduceLevel(*previous, *bitmap);
        previous = bitmap.Get();
        locked.emplace_back(surface, std::move(bitmap));
    }
    for (auto& [surface, bitmap] : locked)
        surface->Unlock(bitmap.Get());
    if (!locked.empty()) Refilled();
}

// ---- render targets

TRenderTargetTexture::TRenderTargetTexture(T3DScreen* screen, bool premultiplied)
    : TCustomTexture(screen, premultiplied ? kTexTargetAlpha : kTexTargetOpaque) {
    SetPremultiplied(premultiplied);
}

void TRenderTargetManager::SetSize(int width, int height) {
    const int w = width > 0 ? std::max(1, 1 << static_cast<int>(std::ceil(std::log2(width)))) : 0;
    const int h = height > 0 ? std::max(1, 1 << static_cast<int>(std::ceil(std::log2(height)))) : 0;
    if (w == width_ && h == height_) return;
    Clear();
    width_ = w;
    height_ = h;
}

TRef<TRenderTargetTexture> TRenderTargetManager::Acquire(T3DScreen* screen) {
    TRef<TRenderTargetTexture> texture;
    if (!free_.empty()) {
        texture = std::move(free_.back());
        free_.pop_back();
    } else {
        texture = MakeRef<TRenderTargetTexture>(screen, premultiplied_);
        texture->SetSize(width_, height_);
    }
    texture->pool_ = this;
    texture->Realize();
    return texture;
}

void TRenderTargetManager::Return(TRef<TRenderTargetTexture> texture) {
    if (!texture || texture->pool_ != this) return; // not lent from here: really destroyed
    KIV_ASSERT(texture->Width() == width_ && texture->Height() == height_ &&
                   texture->Premultiplied() == premultiplied_,
               "pooled texture returned to a pool of another size or flag");
    texture->pool_ = nullptr;
    free_.push_back(std::move(texture));
}

void TRenderTargetManager::Clear() {
    free_.clear();
}

// ---- shaders

TShader::TShader(T3DScreen* screen, std::string code, bool isVertex)
    : TScreenResource(screen), code_(std::move(code)), vertex_(isVertex) {
    if (screen && screen->Ready()) Recreate();
}

void TShader::Recreate() {
    if (shader_ && shader_->LastError == kErrNone && !shader_->Killed()) return;
    T3DScreen* screen = Screen();
    if (!screen || !screen->Renderer()) return;
    shader_ = screen->Renderer()->CreateShader(code_, vertex_);
    if (shader_) shader_->OnKilled = [this] { shader_.Reset(); };
}

} // namespace kiv

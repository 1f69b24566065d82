// Uploads from a thread that does not draw: they go through the device's upload context (a context
// sharing its textures), in slices that hold the locks briefly, fenced before the drawing context
// samples them.
#include "images/BitmapStore.h"
#include "images/Image.h"
#include "render/DevStore.h"
#include "render/DeviceLock.h"
#include "render/Drawer.h"
#include "render/RenderFixture.h"
#include "render/gl/GLContext.h"
#include "render/gl/RendererGL.h"
#include "render/gl/ResourcesGL.h"

#include <SDL.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace kiv {
namespace {

// A picture whose every texel differs from its neighbours: blue = x, green = y, red = the
// picture's seed plus x / 256 + y / 256 (all modulo 256), opaque.
std::uint32_t PatternTexel(int x, int y, int seed) {
    const std::uint32_t r = static_cast<std::uint32_t>(seed + x / 256 + y / 256) & 0xFF;
    return 0xFF000000u | (r << 16) | ((static_cast<std::uint32_t>(y) & 0xFF) << 8) |
           (static_cast<std::uint32_t>(x) & 0xFF);
}

TRef<TBitmap> PatternBitmap(int w, int h, int seed) {
    auto b = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(b->Row(y));
        for (int x = 0; x < w; ++x)
            row[x] = PatternTexel(x, y, seed);
    }
    return b;
}

TRef<TImage> PatternImage(int w, int h, int seed) {
    return MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("pattern", PatternBitmap(w, h, seed)));
}

TGLContext* DeviceContextOf(TDrawDevice& device) {
    auto* store = device.Find<TDevStore>();
    return store ? static_cast<TGLContext*>(store->Device()) : nullptr;
}

// The GL texture behind one tile, none when it has none.
T3DTextureGL* TileTexture(const TTextureTile& tile) {
    return dynamic_cast<T3DTextureGL*>(tile.Texture());
}

class UploadTest : public test::TDrawerFixture {
protected:
    void SetUp() override {
        TDrawerFixture::SetUp();
        if (HasFatalFailure()) return;
        Draw([](TDeviceDrawer&) {}); // the screen is ready and its context current here
        ResetUploadSliceStats();
    }
    TRef<TBitmap> Draw(const std::function<void(TDeviceDrawer&)>& body) { return DrawFrame(0xFF000000, body); }
    // Draws the picture's texels (x0, y0) … (x0 + 64, y0 + 48) 1:1 onto the frame and checks them.
    void ExpectTexels(TImage& picture, int seed, int x0, int y0) {
        TPictureDrawParams params;
        params.filtering = 0;
        params.sourceRect = {static_cast<float>(x0), static_cast<float>(y0), static_cast<float>(x0 + kWidth),
                             static_cast<float>(y0 + kHeight)};
        auto frame = Draw([&](TDeviceDrawer& d) {
            d.DrawImage(picture, {0, 0, 0}, params, {1, 0, 0}, {0, 1, 0}, {0, 0});
        });
        ASSERT_TRUE(frame);
        int wrong = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if (Pixel(*frame, x, y) != PatternTexel(x0 + x, y0 + y, seed)) ++wrong;
        EXPECT_EQ(wrong, 0) << "texels from (" << x0 << ", " << y0 << ") of picture " << seed << ", first "
                            << std::hex << Pixel(*frame, 0, 0) << " against " << PatternTexel(x0, y0, seed);
    }
    static std::vector<TTextureTile*> TilesOf(TImage& picture) {
        std::vector<TTextureTile*> tiles;
        auto store = picture.Attachments().Find<TTextureStore2>();
        if (!store) return tiles;
        auto texture = store->Find(TTextureStore2::Key(0, 1, 1, false, false));
        if (texture)
            for (auto& t : texture->Tiles())
                tiles.push_back(t.Get());
        return tiles;
    }
    // The GL error state of the upload context, read on the calling thread.
    GLenum UploadContextError() {
        TDeviceLockGuard guard;
        TTextureContextScope scope(DeviceContextOf(*device));
        EXPECT_TRUE(scope.Ok() && scope.OnUploadContext());
        return glGetError();
    }
};

TEST_F(UploadTest, TheDeviceHasAnUploadContextThatGoesWithIt) {
    TGLContext* context = DeviceContextOf(*device);
    ASSERT_TRUE(context);
    ASSERT_TRUE(context->UploadContext()) << "made with the device";
    EXPECT_TRUE(context->UploadContext()->IsUploadContext());
    EXPECT_FALSE(context->IsUploadContext());
    EXPECT_EQ(TGLContext::UploadContextsAlive(), 1);
    // Another thread's texture work runs there and leaves it unbound again.
    bool onUpload = false, boundAfter = true;
    std::thread worker = test::StartNamedThread("kiv-uploader", [&] {
        {
            TDeviceLockGuard guard;
            TTextureContextScope scope(context);
            onUpload = scope.Ok() && scope.OnUploadContext() && context->UploadContext()->IsCurrentHere();
        }
        boundAfter = context->UploadContext()->IsCurrentHere();
    });
    worker.join();
    EXPECT_TRUE(onUpload);
    EXPECT_FALSE(boundAfter);
    EXPECT_TRUE(context->IsCurrentHere()) << "the drawing thread keeps its context";
    {
        TTextureContextScope scope(context);
        EXPECT_FALSE(scope.OnUploadContext()) << "the drawing thread works on its own context";
    }
    drawer.Reset();
    device->Destroy();
    EXPECT_EQ(TGLContext::UploadContextsAlive(), 0) << "released with the device";
}

TEST_F(UploadTest, PicturesPreloadedOnAnotherThreadWhileFramesAreDrawnShowExactTexels) {
    // Three pictures of 5 × 5 tiles each (512 × 512 tiles showing 510 × 510 texels; the last
    // column 256 × 512, the last band 512 × 256 and 64 × 64).
    std::vector<TRef<TImage>> pictures;
    for (int seed = 0; seed < 3; ++seed)
        pictures.push_back(PatternImage(2100, 2060, seed * 40));
    std::atomic<bool> done{false};
    GLenum loaderError = GL_INVALID_ENUM;
    std::thread loader = test::StartNamedThread("kiv-slide-loader", [&] {
        TPictureDrawParams params;
        params.filtering = 0;
        for (auto& p : pictures)
            drawer->PreloadImage(*p, params);
        loaderError = UploadContextError();
        done = true;
    });
    int frames = 0;
    while (!done) { // frames keep coming while the pictures upload
        auto frame = Draw([&](TDeviceDrawer& d) {
            TBoxParams box;
            box.color1 = box.color2 = 0xFF20A040;
            box.size = {8, 8};
            d.DrawBox({static_cast<float>(frames % 50), 4, 0}, {0, 0}, box, {1, 0, 0}, {0, 1, 0});
        });
        ASSERT_TRUE(frame);
        EXPECT_EQ(Pixel(*frame, frames % 50 + 4, 8), 0xFF20A040u) << "frame " << frames;
        ++frames;
    }
    loader.join();
    EXPECT_EQ(loaderError, static_cast<GLenum>(GL_NO_ERROR)) << "the upload context";
    EXPECT_GT(frames, 0);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        auto tiles = TilesOf(*pictures[i]);
        ASSERT_EQ(tiles.size(), 25u);
        for (TTextureTile* tile : tiles) {
            ASSERT_TRUE(TileTexture(*tile)) << "handed over once complete";
            EXPECT_TRUE(TileTexture(*tile)->Fence().Pending()) << "fenced until the drawing context waits";
        }
        const int seed = static_cast<int>(i) * 40;
        ExpectTexels(*pictures[i], seed, 0, 0);
        ExpectTexels(*pictures[i], seed, 2020, 2000); // across four tiles (borders at 2040)
        ExpectTexels(*pictures[i], seed, 2100 - kWidth, 2060 - kHeight);
        Draw([&](TDeviceDrawer& d) { // every tile, small
            d.DrawImage(*pictures[i], {0, 0, 0}, TPictureDrawParams{}, {0.02, 0, 0}, {0, 0.02, 0}, {0, 0});
        });
        for (TTextureTile* tile : tiles) {
            EXPECT_EQ(tile->fills, 1) << "uploaded once, by the loader";
            EXPECT_FALSE(TileTexture(*tile)->Fence().Pending()) << "dropped after the wait";
        }
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(UploadTest, OneSliceHoldsTheLocksForAFractionOfTheWholePicture) {
    auto picture = PatternImage(4000, 3000, 7); // 12 MP on 512 × 512 tiles and smaller
    std::int64_t wholeNanos = 0, wholeCpuNanos = 0;
    std::thread loader = test::StartNamedThread("kiv-slide-loader", [&] {
        TPictureDrawParams params;
        const auto start = std::chrono::steady_clock::now();
        const std::int64_t cpuStart = ThreadCpuNanos();
        drawer->PreloadImage(*picture, params);
        wholeCpuNanos = ThreadCpuNanos() - cpuStart;
        wholeNanos =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
                .count();
    });
    loader.join();
    const TUploadSliceStats stats = UploadSliceStats();
    // Each tile (its texels and its border) is written in bands of at most kUploadSliceTexels of
    // its texture's width, plus one slice that makes it; the last band hands it over.
    std::int64_t slices = 0;
    for (TTextureTile* tile : TilesOf(*picture)) {
        const int w = tile->Width(), h = tile->UsedHeight();
        const int rows = kUploadSliceTexels / w;
        EXPECT_LE(std::int64_t{rows} * w, kUploadSliceTexels);
        slices += (h + rows - 1) / rows + 1;
    }
    EXPECT_EQ(stats.slices, slices);
    EXPECT_GT(stats.longestWriteNanos, 0);
    // A slice writing texels does a small part of the picture's work under the locks (processor
    // time, so that preemption on a busy machine does not count); the longest slice of all is a
    // tile's creation (the driver allocates and clears its storage).
    EXPECT_LT(stats.longestWriteCpuNanos * 10, wholeCpuNanos)
        << "longest writing slice " << stats.longestWriteCpuNanos / 1000 << " µs, whole picture "
        << wholeCpuNanos / 1000 << " µs of processor time";
    EXPECT_LT(stats.totalNanos, wholeNanos);
    ExpectTexels(*picture, 7, 3000, 2020);
}

TEST_F(UploadTest, MipMappedPicturesAreReducedAndUploadedLevelByLevelOnTheLoader) {
    T3DEngineGL::SetAnisotropyEnabled(true); // mip-mapped pictures get every level
    auto picture = PatternImage(300, 200, 3);
    std::thread loader = test::StartNamedThread("kiv-slide-loader", [&] {
        TPictureDrawParams params;
        params.filtering = 0;
        drawer->PreloadImage(*picture, params);
    });
    loader.join();
    T3DEngineGL::SetAnisotropyEnabled(false);
    // One slice makes the texture; its 302 × 202 texels and all ten levels are fewer than
    // kUploadSliceTexels, written in one more slice that also hands the texture over.
    EXPECT_EQ(UploadSliceStats().slices, 2);
    auto tiles = TilesOf(*picture);
    ASSERT_EQ(tiles.size(), 1u);
    T3DTextureGL* texture = TileTexture(*tiles[0]);
    ASSERT_TRUE(texture);
    ASSERT_EQ(texture->LevelCount(), 10) << "a 512 × 256 texture down to one texel";
    T3DSurface* level1 = texture->GetSurface(1);
    TRef<TBitmap> half = level1->Lock({0, 0, 256, 128}, true);
    ASSERT_TRUE(half);
    int wrong = 0;
    // The tile holds the picture from (−1, −1) with its edge rows and columns repeated around it,
    // and beyond the 302 × 202 texels it uses its last column and row: each texel of level 1 is
    // the average of 2 × 2 of them.
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 256; ++x)
            for (int c = 0; c < 4; ++c) {
                auto channel = [&](int px, int py) {
                    px = std::clamp(std::min(px, 301) - 1, 0, 299);
                    py = std::clamp(std::min(py, 201) - 1, 0, 199);
                    return (PatternTexel(px, py, 3) >> (8 * c)) & 0xFF;
                };
                const std::uint32_t want = (channel(2 * x, 2 * y) + channel(2 * x + 1, 2 * y) +
                                            channel(2 * x, 2 * y + 1) + channel(2 * x + 1, 2 * y + 1)) /
                                           4;
                if (half->Row(y)[4 * x + c] != want) ++wrong;
            }
    level1->Unlock(half.Get());
    EXPECT_EQ(wrong, 0) << "level 1 is the 2 × 2 average of the tile";
    ExpectTexels(*picture, 3, 200, 100);
    EXPECT_EQ(tiles[0]->fills, 1);
}

TEST_F(UploadTest, APooledTileMadeWithoutMipMapsGetsThemForAMipMappedPicture) {
    T3DEngineGL::SetAnisotropyEnabled(true);
    auto drawn = PatternImage(300, 200, 1);
    ExpectTexels(*drawn, 1, 10, 10); // drawn without a preload: one level
    TTextureTile* tile = TilesOf(*drawn).at(0);
    ASSERT_TRUE(TileTexture(*tile));
    EXPECT_EQ(TileTexture(*tile)->LevelCount(), 1);
    drawer->ReleaseImage(*drawn);
    auto preloaded = PatternImage(300, 200, 2);
    drawer->PreloadImage(*preloaded, TPictureDrawParams{});
    T3DEngineGL::SetAnisotropyEnabled(false);
    ASSERT_EQ(TilesOf(*preloaded).at(0), tile) << "the same pooled tile";
    ASSERT_TRUE(TileTexture(*tile));
    EXPECT_EQ(TileTexture(*tile)->LevelCount(), 10);
    ExpectTexels(*preloaded, 2, 200, 100);
}

// Without anisotropic filtering a mip-mapped picture's tiles have one level: the next picture
// preloaded on a pooled tile fills its device texture again in place instead of making a new one,
// taking it and writing its one band in a single slice.
TEST_F(UploadTest, APooledTileMadeForMipMapsIsFilledAgainInPlaceInOneSlice) {
    auto first = PatternImage(300, 200, 1);
    drawer->PreloadImage(*first, TPictureDrawParams{});
    TTextureTile* tile = TilesOf(*first).at(0);
    const TRef<T3DTexture> kept = ShareRef(tile->Texture());
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->LevelCount(), 1);
    drawer->ReleaseImage(*first);
    auto second = PatternImage(300, 200, 2);
    ResetUploadSliceStats();
    drawer->PreloadImage(*second, TPictureDrawParams{});
    ASSERT_EQ(TilesOf(*second).at(0), tile) << "the same pooled tile";
    EXPECT_EQ(tile->Texture(), kept.Get()) << "its device texture kept";
    EXPECT_EQ(UploadSliceStats().slices, 1);
    EXPECT_EQ(tile->fills, 2);
    ExpectTexels(*second, 2, 200, 100);
}

TEST_F(UploadTest, PicturesUploadedOnOneContextAreReleasedFromTheOther) {
    const std::int64_t before = TextureBytesInUse();
    auto fromLoader = PatternImage(300, 200, 1);
    auto fromDrawer = PatternImage(300, 200, 2);
    TPictureDrawParams params;
    params.filtering = 0;
    drawer->PreloadImage(*fromDrawer, params); // on the drawing thread: its own context
    unsigned drawerName = TileTexture(*TilesOf(*fromDrawer).at(0))->Name();
    unsigned loaderName = 0;
    std::thread loader = test::StartNamedThread("kiv-slide-loader", [&] {
        drawer->PreloadImage(*fromLoader, params);
        loaderName = TileTexture(*TilesOf(*fromLoader).at(0))->Name();
        drawer->ReleaseImage(*fromDrawer); // made by the drawing context, freed by the upload context
        drawer->TileManager()->FreeIdleTiles(); // the tile pools let go of it
    });
    loader.join();
    ASSERT_NE(loaderName, 0u);
    ExpectTexels(*fromLoader, 1, 100, 100);
    EXPECT_FALSE(glIsTexture(drawerName)) << "deleted in the share group";
    EXPECT_TRUE(glIsTexture(loaderName));
    drawer->ReleaseImage(*fromLoader); // made by the upload context, freed by the drawing context
    EXPECT_TRUE(glIsTexture(loaderName)) << "kept in its tile pool";
    drawer->TileManager()->FreeIdleTiles();
    EXPECT_FALSE(glIsTexture(loaderName));
    EXPECT_EQ(TextureBytesInUse(), before);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    GLenum uploadError = GL_INVALID_ENUM;
    std::thread checker = test::StartNamedThread("kiv-gl-check", [&] { uploadError = UploadContextError(); });
    checker.join();
    EXPECT_EQ(uploadError, static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(UploadTest, LargeTexturesGivenUpAreReusedOnceAFrameEndedAfterwards) {
    TGLContext* context = DeviceContextOf(*device);
    ASSERT_TRUE(context);
    TPictureDrawParams params;
    params.filtering = 0;
    auto preload = [&](TImage& picture) {
        unsigned name = 0;
        std::thread loader = test::StartNamedThread("kiv-slide-loader", [&] {
            drawer->PreloadImage(picture, params);
            name = TileTexture(*TilesOf(picture).at(0))->Name();
        });
        loader.join();
        return name;
    };
    // Pictures given up by the drawer wait in its tile pools; freed from there, their textures
    // reach the device's recycling.
    auto release = [&](TImage& picture) {
        drawer->ReleaseImage(picture);
        drawer->TileManager()->FreeIdleTiles();
    };
    auto first = PatternImage(510, 510, 1); // one 512 × 512 tile of 1 MB: worth keeping
    const unsigned firstName = preload(*first);
    release(*first);
    ASSERT_EQ(context->Recycled.size(), 1u);
    EXPECT_EQ(context->Recycled[0].name, firstName);
    // No frame ended since: a draw may still read it, so a new texture is made.
    auto second = PatternImage(510, 510, 2);
    const unsigned secondName = preload(*second);
    EXPECT_NE(secondName, firstName);
    EXPECT_EQ(context->Recycled.size(), 1u);
    ExpectTexels(*second, 2, 400, 400); // frames end
    auto third = PatternImage(510, 510, 3);
    EXPECT_EQ(preload(*third), firstName) << "reused after a frame";
    EXPECT_TRUE(context->Recycled.empty());
    ExpectTexels(*third, 3, 0, 0);
    ExpectTexels(*third, 3, 510 - kWidth, 510 - kHeight);
    // Small textures are simply deleted.
    auto small = PatternImage(100, 100, 4);
    preload(*small);
    release(*small);
    EXPECT_TRUE(context->Recycled.empty());
}

// A picture whose decoding waits for `release`: it tells whether a frame was drawn meanwhile.
class TSlowStore final : public TBitmapStore {
public:
    TSlowStore(TEvent& entered, TEvent& release)
        : TBitmapStore("slow", 300, 200, TPixelFormat::Bgra32), entered_(entered), release_(release) {}
    const char* ClassName() const override { return "TSlowStore"; }
    bool releasedByFrame = false;

protected:
    TRef<TBitmap> LoadLevel(int level, TPixelFormat format, TBitmapClass) override {
        return ReadSourceLevel(level, format);
    }
    TRef<TBitmap> ReadSourceLevel(int, TPixelFormat) override {
        entered_.Set();
        releasedByFrame = release_.WaitFor(30000); // the time-out only keeps a broken build from hanging
        return PatternBitmap(300, 200, 5);
    }

private:
    TEvent& entered_;
    TEvent& release_;
};

TEST_F(UploadTest, AFrameIsDrawnWhileAPictureBeingPreloadedStillDecodes) {
    TEvent entered, release;
    auto store = MakeRef<TSlowStore>(entered, release);
    TSlowStore* slow = store.Get();
    auto picture = MakeRef<TImage>(store);
    auto other = PatternImage(64, 48, 9);
    std::thread loader = test::StartNamedThread("kiv-slide-loader", [&] {
        TPictureDrawParams params;
        params.filtering = 0;
        drawer->PreloadImage(*picture, params);
    });
    ASSERT_TRUE(entered.WaitFor(kInfinite));
    // The loader decodes now; a frame with another picture goes through meanwhile.
    ExpectTexels(*other, 9, 0, 0);
    release.Set();
    loader.join();
    EXPECT_TRUE(slow->releasedByFrame) << "the frame waited for the decoding";
    ExpectTexels(*picture, 5, 100, 100);
}

TEST_F(UploadTest, ALevelWrittenStraightToTheDeviceIsReadBackFromIt) {
    T3DRenderer* r = drawer->Screen()->Renderer();
    ASSERT_TRUE(r);
    TRef<T3DTexture> texture = r->CreateTexture(kTexColor, 64, 32, false);
    ASSERT_TRUE(texture);
    T3DSurface* surface = texture->GetSurface(0);
    auto picture = PatternBitmap(100, 100, 4);
    // Written from the loader's thread, through the upload context.
    bool written = false, refused = true;
    std::thread loader = test::StartNamedThread("kiv-slide-loader", [&] {
        written = surface->Write({0, 0, 64, 32}, *picture, 10, 20);
        refused = !surface->Write({60, 0, 70, 4}, *picture, 0, 0); // beyond the level
    });
    loader.join();
    EXPECT_TRUE(written);
    EXPECT_TRUE(refused);
    EXPECT_EQ(surface->LastError, kErrInvalidCall);
    // The level keeps no CPU copy of what was written straight; changing a part through Lock keeps
    // the rest, since the copy is read back from the device first.
    TRef<TBitmap> part = surface->Lock({4, 4, 8, 8}, false);
    ASSERT_TRUE(part);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            std::uint32_t v = 0;
            std::memcpy(&v, part->Row(y) + x * 4, 4);
            EXPECT_EQ(v, PatternTexel(14 + x, 24 + y, 4)) << "read back at " << x << ", " << y;
            const std::uint32_t white = 0xFFFFFFFF;
            std::memcpy(part->Row(y) + x * 4, &white, 4);
        }
    surface->Unlock(part.Get());
    auto all = MakeRef<TBitmap>(64, 32, TPixelFormat::Bgra32);
    ASSERT_TRUE(surface->CopyTo(*all));
    EXPECT_EQ(Pixel(*all, 0, 0), PatternTexel(10, 20, 4));
    EXPECT_EQ(Pixel(*all, 63, 31), PatternTexel(73, 51, 4));
    EXPECT_EQ(Pixel(*all, 5, 5), 0xFFFFFFFFu);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// In a window the upload context has a hidden window of its own.
TEST_F(UploadTest, AWindowsUploadContextSharesTexturesWithIt) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) GTEST_SKIP() << "no SDL video: " << SDL_GetError();
    SDL_Window* window =
        SDL_CreateWindow("kiv upload test", 0, 0, 64, 48, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    auto windowDevice = MakeDevice(64, 48);
    windowDevice->SetHandle(window);
    {
        TRef<T3DRenderer> windowed = MakeRenderer(windowDevice.Get());
        ASSERT_TRUE(windowed);
        TGLContext* context = DeviceContextOf(*windowDevice);
        ASSERT_TRUE(context && context->UploadContext());
        EXPECT_NE(context->UploadContext()->Window(), window) << "a hidden window of its own";
        ASSERT_TRUE(windowed->BeginScene()); // the window's context is current here from now on
        auto picture = PatternBitmap(64, 48, 9);
        TRef<T3DTexture> texture;
        bool onUpload = false;
        std::thread loader = test::StartNamedThread("kiv-slide-loader", [&] {
            texture = Upload(*windowed, *picture);
            TDeviceLockGuard guard;
            TTextureContextScope scope(context);
            onUpload = scope.OnUploadContext() && glGetError() == GL_NO_ERROR;
        });
        loader.join();
        ASSERT_TRUE(texture);
        EXPECT_TRUE(onUpload);
        EXPECT_TRUE(static_cast<T3DTextureGL&>(*texture).Fence().Pending());
        DrawRect(*windowed, texture.Get(), {0, 0, 64, 48}, 0xFFFFFFFF, kDrawTextured);
        auto frame = Frame(*windowed);
        int wrong = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                if (Pixel(*frame, x, y) != PatternTexel(x, y, 9)) ++wrong;
        EXPECT_EQ(wrong, 0);
        EXPECT_FALSE(static_cast<T3DTextureGL&>(*texture).Fence().Pending());
        EXPECT_TRUE(windowed->EndScene());
        texture.Reset();
        windowed->LeaveThread();
    }
    const int alive = TGLContext::UploadContextsAlive();
    windowDevice->Destroy();
    EXPECT_EQ(TGLContext::UploadContextsAlive(), alive - 1)
        << "the hidden window's context went with the device";
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

} // namespace
} // namespace kiv

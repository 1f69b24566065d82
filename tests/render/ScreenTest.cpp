#include "render/Screen.h"
#include "base/Log.h"
#include "images/ColorProfile.h"
#include "render/ColorTables.h"
#include "render/DevStore.h"
#include "render/RenderFixture.h"
#include "render/gl/RendererGL.h"
#include "render/gl/ResourcesGL.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace kiv {
namespace {

// A colour texture drawn from a picture, as the drawer's picture textures are.
class TPictureTexture final : public TCustomTexture {
public:
    TPictureTexture(T3DScreen* screen, TRef<TBitmap> picture)
        : TCustomTexture(screen, kTexColor), picture_(picture) {
        SetSize(picture->Width(), picture->Height());
    }
    int fills = 0;

protected:
    void FillTopLevel(TBitmap& level) override {
        ++fills;
        for (int y = 0; y < picture_->Height(); ++y)
            std::memcpy(level.Row(y), picture_->Row(y), picture_->RowBytes());
    }

private:
    TRef<TBitmap> picture_;
};

TRef<TBitmap> Gradient(int w, int h) {
    auto b = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = b->Row(y) + x * 4;
            p[0] = static_cast<std::uint8_t>(x * 7);
            p[1] = static_cast<std::uint8_t>(y * 11);
            p[2] = static_cast<std::uint8_t>((x ^ y) * 5);
            p[3] = 255;
        }
    return b;
}

class ScreenTest : public test::TRenderFixture {
protected:
    void SetUp() override {
        TRenderFixture::SetUp();
        renderer.Reset(); // the screen makes its own
        TRef<T3DEngine> e = engine;
        T3DEngine::SetFactory([e] { return e; });
        screen = MakeRef<T3DScreen>();
        screen->SetDevice(device.Get());
        ASSERT_TRUE(screen->BeginScene());
    }
    void TearDown() override {
        screen.Reset();
        T3DEngine::SetFactory(nullptr);
        T3DEngine::Shutdown();
        TRenderFixture::TearDown();
    }
    // Two triangles of the pixel quad with corner depths, texels covering the whole picture.
    void Quad(TCustomTexture* t, double x0, double y0, double x1, double y1,
              std::array<double, 4> z = {0, 0, 0, 0}, std::uint32_t color = 0xFFFFFFFF) {
        const double w = t ? t->Width() : 0, h = t ? t->Height() : 0;
        auto& batch = screen->Batch();
        std::vector<TCustomTexture*> textures;
        if (t) textures.push_back(t);
        batch.Begin(textures, static_cast<int>(textures.size()));
        const std::array<std::uint32_t, 3> c{color, color, color};
        std::vector<std::array<std::array<double, 2>, 3>> uv1, uv2;
        if (t) {
            uv1.push_back({{{0, 0}, {w, 0}, {0, h}}});
            uv2.push_back({{{0, h}, {w, 0}, {w, h}}});
        }
        batch.AddTriangle({TPoint3{x0, y0, z[0]}, TPoint3{x1, y0, z[1]}, TPoint3{x0, y1, z[2]}}, c, uv1);
        batch.AddTriangle({TPoint3{x0, y1, z[2]}, TPoint3{x1, y0, z[1]}, TPoint3{x1, y1, z[3]}}, c, uv2);
        batch.Flush();
    }
    TRef<TBitmap> ScreenFrame() { return Frame(*screen->Renderer()); }

    TRef<T3DScreen> screen;
};

TEST(TextureSize, RoundsUpToPowersOfTwoOfAtLeast32) {
    EXPECT_EQ(TextureSide(1), 32);
    EXPECT_EQ(TextureSide(32), 32);
    EXPECT_EQ(TextureSide(33), 64);
    EXPECT_EQ(TextureSide(100), 128);
    EXPECT_EQ(TextureSide(0), 0);
    EXPECT_EQ(TextureSide(-5), 0);
}

TEST_F(ScreenTest, TexturesAreRoundedAndAnEmptyOneIsNeverRealised) {
    auto one = MakeRef<TPictureTexture>(screen.Get(), Gradient(1, 1));
    EXPECT_EQ(one->TexWidth(), 32);
    EXPECT_EQ(one->TexHeight(), 32);
    auto odd = MakeRef<TPictureTexture>(screen.Get(), Gradient(33, 100));
    EXPECT_EQ(odd->TexWidth(), 64);
    EXPECT_EQ(odd->TexHeight(), 128);
    ASSERT_NE(odd->Realize(), nullptr);
    EXPECT_EQ(odd->Texture()->GetSurface(0)->GetSize(), (TPoint{64, 128}));
    EXPECT_EQ(odd->InvTexWidth(), 1.0 / 64);
    odd->SetSize(0, 10);
    EXPECT_EQ(odd->Texture(), nullptr) << "a size change releases the device texture";
    EXPECT_EQ(odd->Realize(), nullptr);
}

TEST_F(ScreenTest, MipLevelsAreTwoByTwoAverages) {
    T3DEngineGL::SetAnisotropyEnabled(true);
    auto picture = Gradient(64, 64);
    auto t = MakeRef<TPictureTexture>(screen.Get(), picture);
    t->SetMipmapped(true);
    ASSERT_NE(t->Realize(), nullptr);
    T3DEngineGL::SetAnisotropyEnabled(false);
    ASSERT_EQ(t->Texture()->LevelCount(), 7);
    auto level1 = t->Texture()->GetSurface(1)->Lock({0, 0, 32, 32}, true);
    ASSERT_TRUE(level1);
    for (int c = 0; c < 4; ++c) {
        const int sum = picture->Row(2)[2 * 4 + c] + picture->Row(2)[3 * 4 + c] + picture->Row(3)[2 * 4 + c] +
                        picture->Row(3)[3 * 4 + c];
        EXPECT_EQ(level1->Row(1)[1 * 4 + c], sum / 4) << "channel " << c;
    }
    t->Texture()->GetSurface(1)->Unlock(level1.Get());
}

// The row kernel behind every reduced level works several texels at a time: each texel must still
// be the truncated per-channel mean, whatever the count (the batch's remainder) and however the
// rows are aligned in memory.
TEST(MipReduction, EveryTexelIsTheTruncatedMeanOfItsFourForAnyCountAndAlignment) {
    std::vector<std::uint8_t> bytes(2 * 8 * 40 + 64);
    std::uint32_t seed = 12345;
    for (auto& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    // Channels at 255 and 254 check that the sums do not overflow or round up.
    std::fill(bytes.begin(), bytes.begin() + 16, std::uint8_t{255});
    std::fill(bytes.begin() + 16, bytes.begin() + 32, std::uint8_t{254});
    for (const int count : {0, 1, 3, 4, 5, 7, 8, 9, 16, 19, 40})
        for (const int offset : {0, 1, 3}) {
            const std::uint8_t* a = bytes.data() + offset;
            const std::uint8_t* b = a + 8 * 40 + 5;
            std::vector<std::uint8_t> out(4 * static_cast<std::size_t>(count) + 4, 0xAB);
            ReducePairs(a, b, out.data() + offset % 2, count);
            int wrong = 0;
            for (int x = 0; x < count; ++x)
                for (int c = 0; c < 4; ++c) {
                    const int sum = a[8 * x + c] + a[8 * x + 4 + c] + b[8 * x + c] + b[8 * x + 4 + c];
                    wrong += out[static_cast<std::size_t>(offset % 2 + 4 * x + c)] != sum / 4;
                }
            EXPECT_EQ(wrong, 0) << count << " texels from offset " << offset;
            EXPECT_EQ(out[static_cast<std::size_t>(offset % 2 + 4 * count)], 0xAB)
                << "nothing written past " << count << " texels";
        }
}

TEST_F(ScreenTest, PoolsLendTheMostRecentlyReturnedTargetAndDropOnResize) {
    TRenderTargetManager pool(true);
    pool.SetSize(100, 50);
    EXPECT_EQ(pool.Width(), 128);
    EXPECT_EQ(pool.Height(), 64);
    auto a = pool.Acquire(screen.Get());
    auto b = pool.Acquire(screen.Get());
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.Get(), b.Get());
    EXPECT_EQ(a->Kind(), kTexTargetAlpha);
    EXPECT_TRUE(a->Premultiplied());
    ASSERT_NE(a->Texture(), nullptr) << "lent textures are realised";
    TRenderTargetTexture* rawA = a.Get();
    TRenderTargetTexture* rawB = b.Get();
    pool.Return(std::move(a));
    pool.Return(std::move(b));
    EXPECT_EQ(pool.FreeCount(), 2u);
    auto again = pool.Acquire(screen.Get());
    EXPECT_EQ(again.Get(), rawB) << "the most recently returned first";
    auto next = pool.Acquire(screen.Get());
    EXPECT_EQ(next.Get(), rawA);
    EXPECT_EQ(pool.FreeCount(), 0u);
    // A texture not lent from this pool is not taken in.
    auto stranger = MakeRef<TRenderTargetTexture>(screen.Get(), true);
    stranger->SetSize(128, 64);
    pool.Return(std::move(stranger));
    EXPECT_EQ(pool.FreeCount(), 0u);
    pool.Return(std::move(again));
    pool.SetSize(120, 60); // the same rounded size keeps the pool
    EXPECT_EQ(pool.FreeCount(), 1u);
    pool.SetSize(200, 60);
    EXPECT_EQ(pool.FreeCount(), 0u);
    auto opaque = TRenderTargetManager(false).Acquire(screen.Get());
    EXPECT_EQ(opaque->Kind(), kTexTargetOpaque);
}

TEST_F(ScreenTest, ATargetOverTheRightHalfGivesTheSamePixelsAsDrawingDirectly) {
    auto picture = MakeRef<TPictureTexture>(screen.Get(), Gradient(32, 32));
    picture->PointFilter = false;
    const std::array<double, 4> depth{0, 20, 0, 40}; // perspective on the right side
    screen->Clear(0xFF000000);
    Quad(picture.Get(), 10, 6, 58, 42, depth);
    auto direct = ScreenFrame();
    WritePng(*direct, testing::TempDir() + "kiv_render_screen.png");

    screen->Clear(0xFF000000);
    auto target = MakeRef<TRenderTargetTexture>(screen.Get(), false);
    target->SetSize(kWidth / 2, kHeight);
    target->PointFilter = true;
    screen->PushTarget(target.Get(), kWidth / 2, 0);
    ASSERT_EQ(screen->TargetDepth(), 2u);
    EXPECT_EQ(screen->GetTargetRect(), (TRect{32, 0, 64, 64}));
    screen->Clear(0xFF000000);
    Quad(picture.Get(), 10, 6, 58, 42, depth);
    screen->PopTarget();
    EXPECT_EQ(screen->TargetOrigin(), (TPoint{0, 0}));
    EXPECT_EQ(screen->GetTargetRect(), (TRect{0, 0, kWidth, kHeight}));
    // Copy the target back onto the right half, texel for pixel.
    screen->Clear(0xFF000000);
    auto& batch = screen->Batch();
    batch.Begin({target.Get()}, 1);
    const std::array<std::uint32_t, 3> white{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    const double l = kWidth / 2, r = kWidth, h = kHeight;
    batch.AddTriangle({TPoint3{l, 0, 0}, TPoint3{r, 0, 0}, TPoint3{l, h, 0}}, white,
                      {{{{0, 0}, {32, 0}, {0, h}}}});
    batch.AddTriangle({TPoint3{l, h, 0}, TPoint3{r, 0, 0}, TPoint3{r, h, 0}}, white,
                      {{{{0, h}, {32, 0}, {32, h}}}});
    batch.Flush();
    auto viaTarget = ScreenFrame();
    int differing = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = kWidth / 2; x < kWidth; ++x)
            if (Pixel(*viaTarget, x, y) != Pixel(*direct, x, y)) ++differing;
    EXPECT_EQ(differing, 0);
    EXPECT_NE(Pixel(*direct, 40, 20), 0xFF000000u) << "the quad reaches the right half";
}

TEST_F(ScreenTest, APointAtDepthIsScaledTowardsTheCentre) {
    // A quad at depth H is drawn at half its size around the centre of the drawing area.
    const double H = kHeight;
    screen->Clear(0xFF000000);
    Quad(nullptr, 0, 0, kWidth, kHeight, {H, H, H, H}, 0xFFFFFFFF);
    auto frame = ScreenFrame();
    // Centre (32, 24); the quad spans 16 … 48 × 12 … 36.
    EXPECT_EQ(Pixel(*frame, 16, 12), 0xFFFFFFFFu);
    EXPECT_EQ(Pixel(*frame, 47, 35), 0xFFFFFFFFu);
    EXPECT_EQ(Pixel(*frame, 15, 12), 0xFF000000u);
    EXPECT_EQ(Pixel(*frame, 48, 35), 0xFF000000u);
    EXPECT_EQ(Pixel(*frame, 16, 11), 0xFF000000u);
    EXPECT_EQ(Pixel(*frame, 47, 36), 0xFF000000u);
    double x = 0, y = 0;
    screen->Project({0, 0, H}, x, y);
    EXPECT_NEAR(x, 16, 1e-9);
    EXPECT_NEAR(y, 12, 1e-9);
    screen->Project({10, 40, 0}, x, y);
    EXPECT_NEAR(x, 10, 1e-9) << "depth 0 is drawn at its pixel position";
    EXPECT_NEAR(y, 40, 1e-9);
}

TEST_F(ScreenTest, TheIdentityVolumeTableMapsEachLatticeColourToItself) {
    auto table = MakeRef<TCustomColorGradeTexture>(screen.Get(), 1);
    TBaseTexture* volume = table->Realize();
    ASSERT_NE(volume, nullptr);
    // Sample texel centres: column i of the frame reads texel (i, c[0].x, c[0].y).
    auto shader = screen->Renderer()->CreateShader(
        "uniform sampler3D s0;\n"
        "void main() { fragColor = texture(s0, vec3(gl_FragCoord.x / 32.0, (c[0].x + 0.5) / 32.0,"
        " (c[0].y + 0.5) / 32.0)); }\n",
        false);
    ASSERT_TRUE(shader);
    T3DRenderer* r = screen->Renderer();
    auto spread = [](int n) { return static_cast<std::uint32_t>(n * 8 + n / 4); };
    for (int g : {0, 17, 31}) {
        for (int b : {0, 9, 31}) {
            const float constants[4] = {static_cast<float>(g), static_cast<float>(b), 0, 0};
            r->SetShaderConstants(0, constants, 1, false);
            r->SetShader(shader.Get());
            r->SetTexture(0, volume);
            Quad(nullptr, 0, 0, 32, 1);
            r->SetShader(nullptr);
            r->SetTexture(0, nullptr);
            auto frame = ScreenFrame();
            for (int i = 0; i < 32; ++i)
                ASSERT_EQ(Pixel(*frame, i, 0), 0xFF000000u | (spread(i) << 16) | (spread(g) << 8) | spread(b))
                    << i << "," << g << "," << b;
        }
    }
    EXPECT_EQ(spread(31), 255u);
}

TEST(VideoColorTable, ConvertsYuvWithTheVideoCoefficients) {
    auto rgb = MakeVideoColorTable(false);
    auto yuv = MakeVideoColorTable(true);
    ASSERT_EQ(yuv->Width(), 32);
    ASSERT_EQ(yuv->Height(), 1024);
    auto at = [](TBitmap& b, int x, int y, int z) { return b.Row(z * 32 + y) + x * 4; };
    // Y = 16, U = V = 132: R = 1.596 × 4 → 6, G → 0 (clamped), B = 2.018 × 4 → 8.
    const std::uint8_t* p = at(*yuv, 16, 16, 2);
    EXPECT_EQ(p[2], 6);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[0], 8);
    EXPECT_EQ(p[3], 255);
    // Y = 255 saturates.
    p = at(*yuv, 16, 16, 31);
    EXPECT_EQ(p[2], 255);
    EXPECT_EQ(p[1], 255);
    // Y = 128 (z = 16 → 132), U = 0 (y = 0), V = 255 (x = 31).
    p = at(*yuv, 31, 0, 16);
    const double Y = 1.1643835616438356 * (132 - 16);
    EXPECT_EQ(p[2], static_cast<int>(std::clamp(std::nearbyint(Y + 1.596 * 127), 0.0, 255.0)));
    EXPECT_EQ(p[1], static_cast<int>(std::clamp(std::nearbyint(Y - 0.813 * 127 - 0.391 * -128), 0.0, 255.0)));
    EXPECT_EQ(p[0], static_cast<int>(std::clamp(std::nearbyint(Y + 2.018 * -128), 0.0, 255.0)));
    p = at(*rgb, 5, 6, 7);
    EXPECT_EQ(p[2], 41);
    EXPECT_EQ(p[1], 49);
    EXPECT_EQ(p[0], 57);
}

// Puts the process-wide colour state back after a test.
struct TColorStateGuard {
    ~TColorStateGuard() {
        SetDisplayProfile(nullptr);
        SetColorManagement(TColorManagement::Active);
    }
};

TEST(VideoColorTable, FollowsTheDisplayProfileThroughEachVariantsSourceProfile) {
    TColorStateGuard restore;
    auto sameTable = [](const TBitmap& a, const TBitmap& b) {
        for (int y = 0; y < a.Height(); ++y)
            if (std::memcmp(a.Row(y), b.Row(y), static_cast<std::size_t>(a.Width()) * 4) != 0) return false;
        return true;
    };
    auto expected = [](bool yuv, const char* source, const TColorProfile& target) {
        auto table = MakeVideoColorTable(yuv);
        CreateColorTransform(*BuiltInProfile(source), target)->Apply(*table);
        return table;
    };
    TRef<TColorProfile> adobe = BuiltInProfile("AdobeRGB");
    TRef<TColorProfile> funky = BuiltInProfile("FunkyRGB");

    SetColorManagement(TColorManagement::Off);
    SetDisplayProfile(adobe);
    EXPECT_TRUE(sameTable(*VideoColorTable(false), *MakeVideoColorTable(false)))
        << "no management, no transform";
    EXPECT_TRUE(sameTable(*VideoColorTable(true), *MakeVideoColorTable(true)));

    SetColorManagement(TColorManagement::Active);
    TRef<TBitmap> rgbAdobe = VideoColorTable(false);
    TRef<TBitmap> yuvAdobe = VideoColorTable(true);
    EXPECT_FALSE(sameTable(*rgbAdobe, *MakeVideoColorTable(false)));
    EXPECT_TRUE(sameTable(*rgbAdobe, *expected(false, "sRGB", *adobe)));
    EXPECT_TRUE(sameTable(*yuvAdobe, *expected(true, "YUVsRGB", *adobe)));
    EXPECT_EQ(VideoColorTable(false), rgbAdobe) << "made once per profile";

    // Another target profile makes other tables; going back finds the first ones again.
    SetDisplayProfile(funky);
    TRef<TBitmap> rgbFunky = VideoColorTable(false);
    EXPECT_NE(rgbFunky, rgbAdobe);
    EXPECT_TRUE(sameTable(*rgbFunky, *expected(false, "sRGB", *funky)));
    EXPECT_TRUE(sameTable(*VideoColorTable(true), *expected(true, "YUVsRGB", *funky)));
    SetDisplayProfile(adobe);
    EXPECT_EQ(VideoColorTable(false), rgbAdobe);
    EXPECT_EQ(VideoColorTable(true), yuvAdobe);
}

TEST_F(ScreenTest, AGreyRampTableHasTheFilterChainBakedIn) {
    auto table = MakeRef<TCustomColorGradeTexture>(screen.Get(), 0);
    table->SetFilters([](TBitmap& b) {
        for (int x = 0; x < b.Width(); ++x)
            b.Row(0)[x * 4 + 2] = 255 - b.Row(0)[x * 4 + 2]; // invert red
    });
    ASSERT_NE(table->Realize(), nullptr);
    auto locked = table->Texture()->GetSurface(0)->Lock({0, 0, 256, 16}, true);
    EXPECT_EQ(locked->Row(15)[10 * 4 + 2], 245);
    EXPECT_EQ(locked->Row(15)[10 * 4 + 1], 10);
    table->Texture()->GetSurface(0)->Unlock(locked.Get());
}

TEST_F(ScreenTest, OutOfMemoryForATargetFreesManagedTexturesInHalvesNewestFirst) {
    const std::string logPath = testing::TempDir() + "kiv_render_retry.log";
    std::vector<TRef<TPictureTexture>> managed;
    for (int i = 0; i < 8; ++i) {
        managed.push_back(MakeRef<TPictureTexture>(screen.Get(), Gradient(32, 32)));
        ASSERT_NE(managed.back()->Realize(), nullptr);
    }
    // Room for the 64 × 64 target only once seven 32 × 32 textures have gone.
    const std::int64_t texture = 32 * 32 * 4, target = 64 * 64 * 4;
    SetTextureBudgetForTesting(TextureBytesInUse() + target - 7 * texture);
    TLog::Start(TLogMode::File, "", logPath);
    auto rt = MakeRef<TRenderTargetTexture>(screen.Get(), true);
    rt->SetSize(64, 64);
    T3DTexture* made = rt->Realize();
    TLog::Finish();
    SetTextureBudgetForTesting(-1);
    ASSERT_NE(made, nullptr);
    EXPECT_NE(managed[0]->Texture(), nullptr) << "the oldest texture stays";
    for (int i = 1; i < 8; ++i)
        EXPECT_EQ(managed[static_cast<std::size_t>(i)]->Texture(), nullptr) << i;
    std::ifstream in(logPath);
    std::stringstream text;
    text << in.rdbuf();
    const std::string log = text.str();
    EXPECT_NE(log.find("Rt Create First Attempt Ok= False"), std::string::npos);
    EXPECT_NE(log.find("tmpTexListcount= 8"), std::string::npos);
    EXPECT_NE(log.find("Released Managed Texs from 7 to 4; Rt Create 1nd Attempt Ok= False"),
              std::string::npos);
    EXPECT_NE(log.find("Released Managed Texs from 3 to 2; Rt Create 2nd Attempt Ok= False"),
              std::string::npos);
    EXPECT_NE(log.find("Released Managed Texs from 1 to 1; Rt Create 3nd Attempt Ok= True"),
              std::string::npos);
    // Released textures come back when drawn next.
    ASSERT_NE(managed[5]->Realize(), nullptr);
    EXPECT_EQ(managed[5]->fills, 2);
}

TEST_F(ScreenTest, AfterADeviceLossTheNextSceneRebuildsEverythingAndDrawsTheSameFrame) {
    auto picture = MakeRef<TPictureTexture>(screen.Get(), Gradient(32, 32));
    auto shader = MakeRef<TShader>(screen.Get(), "void main() { fragColor = vColor; }\n", false);
    ASSERT_NE(shader->DeviceShader(), nullptr);
    int lost = 0;
    screen->OnLost = [&] { ++lost; };
    auto draw = [&] {
        screen->Clear(0xFF102030);
        Quad(picture.Get(), 4, 4, 40, 30, {0, 10, 0, 10});
        screen->FillRect(0xFF00FF00, {50, 10, 60, 20});
        auto f = ScreenFrame();
        screen->EndScene(true);
        return f;
    };
    auto before = draw();
    T3DShader* oldShader = shader->DeviceShader();
    dynamic_cast<T3DRendererGL&>(*screen->Renderer()).ForceLossForTesting();
    EXPECT_FALSE(screen->BeginScene());
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(screen->Renderer(), nullptr);
    EXPECT_EQ(picture->Texture(), nullptr) << "the texture's device object was killed";
    EXPECT_EQ(shader->DeviceShader(), nullptr);
    EXPECT_FALSE(screen->Ready());
    screen->Clear(0xFFFFFFFF); // does nothing without a renderer

    ASSERT_TRUE(screen->BeginScene());
    EXPECT_NE(shader->DeviceShader(), nullptr) << "shaders come back at the first scene start";
    EXPECT_NE(shader->DeviceShader(), oldShader);
    auto after = draw();
    EXPECT_EQ(picture->fills, 2) << "refilled when drawn";
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            ASSERT_EQ(Pixel(*after, x, y), Pixel(*before, x, y)) << x << "," << y;
}

TEST_F(ScreenTest, AnUnchangedOrEmptyWindowDoesNotRecreateTheRenderer) {
    T3DRenderer* first = screen->Renderer();
    // Held, so that a new renderer cannot be made at the same address once the screen lets it go.
    const TRef<T3DRenderer> keepFirst = TRef<T3DRenderer>::Share(first);
    screen->EndScene(false);
    ASSERT_TRUE(screen->BeginScene());
    EXPECT_EQ(screen->Renderer(), first);
    device->SetBounds({0, 0, 0, 0}, {0, 0}, false);
    screen->BeginScene();
    T3DRenderer* empty = screen->Renderer();
    EXPECT_NE(empty, first) << "a changed rectangle makes a new renderer";
    device->SetBounds({5, 5, 5, 9}, {0, 0}, false); // another empty rectangle
    screen->BeginScene();
    EXPECT_EQ(screen->Renderer(), empty) << "two empty rectangles count as equal";
}

// An axis-aligned white quad 16 … 32 × 16 … 32 on black, with the given edges anti-aliased.
TRef<TBitmap> AntiAliasedQuad(ScreenTest& t, T3DScreen& screen, TCustomTexture* white, unsigned flags,
                              std::array<TPoint3, 4> corners = {TPoint3{16, 16, 0}, TPoint3{32, 16, 0},
                                                                TPoint3{16, 32, 0}, TPoint3{32, 32, 0}}) {
    screen.Clear(0xFF000000);
    const std::uint32_t w = 0xFFFFFFFF;
    screen.DrawPerspectiveQuad({white}, {w, w, w, w}, {0, 0, 32, 32}, corners, flags);
    return t.Frame(*screen.Renderer());
}

std::uint32_t Green(std::uint32_t p) {
    return (p >> 8) & 0xFF;
}

TEST_F(ScreenTest, AntiAliasedEdgesFadeOverOnePixelOnlyWhereFlagged) {
    // The picture fills its texture, so clamping repeats its edge texels.
    auto picture = MakeRef<TBitmap>(32, 32, TPixelFormat::Bgra32);
    picture->Fill32(0xFFFFFFFF);
    auto white = MakeRef<TPictureTexture>(screen.Get(), picture);
    {
        auto f =
            AntiAliasedQuad(*this, *screen, white.Get(), kEdgeLeft | kEdgeTop | kEdgeRight | kEdgeBottom);
        WritePng(*f, testing::TempDir() + "kiv_render_aa.png");
        EXPECT_EQ(Pixel(*f, 20, 20), 0xFFFFFFFFu) << "inside";
        EXPECT_NEAR(static_cast<int>(Green(Pixel(*f, 15, 20))), 128, 2) << "half way through the left fringe";
        EXPECT_NEAR(static_cast<int>(Green(Pixel(*f, 32, 20))), 128, 2) << "right fringe";
        EXPECT_NEAR(static_cast<int>(Green(Pixel(*f, 20, 15))), 128, 2) << "top fringe";
        EXPECT_NEAR(static_cast<int>(Green(Pixel(*f, 20, 32))), 128, 2) << "bottom fringe";
        EXPECT_EQ(Pixel(*f, 14, 20), 0xFF000000u) << "one pixel wide";
    }
    {
        auto f = AntiAliasedQuad(*this, *screen, white.Get(), kEdgeLeft);
        EXPECT_NEAR(static_cast<int>(Green(Pixel(*f, 15, 20))), 128, 2);
        EXPECT_EQ(Pixel(*f, 20, 15), 0xFF000000u) << "no top fringe";
        EXPECT_EQ(Pixel(*f, 32, 20), 0xFF000000u);
    }
}

TEST_F(ScreenTest, QuadCellsFollowTheEdgeFlags) {
    // A grid with an eight-pixel fringe, so that every cell shows: inner square 16 … 32.
    auto picture = MakeRef<TBitmap>(32, 32, TPixelFormat::Bgra32);
    picture->Fill32(0xFFFFFFFF);
    auto white = MakeRef<TPictureTexture>(screen.Get(), picture);
    std::array<TGridPoint, 16> grid;
    const double at[4] = {8, 16, 32, 40};
    for (int i = 0; i < 16; ++i)
        grid[static_cast<std::size_t>(i)] = {{at[i % 4], at[i / 4], 0}, 16, 16};
    const std::array<std::uint32_t, 4> opaque{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    auto cells = [&](unsigned flags) {
        screen->Clear(0xFF000000);
        screen->DrawQuad({white.Get()}, flags, opaque, grid);
        auto f = Frame(*screen->Renderer());
        // Sample each cell near its inner corner, where the fringe's alpha is highest.
        std::string drawn;
        const int sx[3] = {14, 24, 33}, sy[3] = {14, 24, 33};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                drawn += Pixel(*f, sx[c], sy[r]) != 0xFF000000u ? '#' : '.';
        return drawn;
    };
    EXPECT_EQ(cells(0), "....#....");
    EXPECT_EQ(cells(kEdgeLeft), "...##....") << "one edge alone: no corner cells";
    EXPECT_EQ(cells(kEdgeLeft | kEdgeTop), "#####.#..") << "two adjacent edges: their shared corner too";
    EXPECT_EQ(cells(kEdgeRight | kEdgeBottom), "..#.#####");
    EXPECT_EQ(cells(kEdgeLeft | kEdgeTop | kEdgeRight | kEdgeBottom), "#########");
}

TEST_F(ScreenTest, DegenerateQuadsAreDrawnWithoutFringe) {
    unsigned flags = kEdgeLeft | kEdgeTop | kEdgeRight | kEdgeBottom;
    // Nearly collinear: the top-right corner lies almost on the line from top-left to bottom-right.
    screen->FringeGrid({0, 0, 4, 4},
                       {TPoint3{0, 0, 0}, TPoint3{20, 1, 0}, TPoint3{0, 10, 0}, TPoint3{40, 2, 0}}, flags);
    EXPECT_EQ(flags, 0u);
    flags = kEdgeLeft;
    screen->FringeGrid({0, 0, 4, 4},
                       {TPoint3{0, 0, 0}, TPoint3{0.05, 0, 0}, TPoint3{0, 10, 0}, TPoint3{0.05, 10, 0}},
                       flags);
    EXPECT_EQ(flags, 0u) << "an edge of 0.1 pixel or less";
    flags = kEdgeLeft | kEdgeTop;
    auto grid = screen->FringeGrid(
        {0, 0, 8, 8}, {TPoint3{10, 10, 0}, TPoint3{20, 10, 0}, TPoint3{10, 20, 0}, TPoint3{20, 20, 0}},
        flags);
    EXPECT_EQ(flags, kEdgeLeft | kEdgeTop);
    EXPECT_NEAR(grid[0].p.x, 9, 1e-9) << "corner moved along the miter";
    EXPECT_NEAR(grid[0].p.y, 9, 1e-9);
    EXPECT_NEAR(grid[0].u, -0.8, 1e-9) << "fringe texels lie just outside the source";
    EXPECT_NEAR(grid[4].p.x, 9, 1e-9);
    EXPECT_NEAR(grid[4].p.y, 10, 1e-9);
    EXPECT_NEAR(grid[7].p.x, 20, 1e-9) << "the right edge is not flagged";
    EXPECT_NEAR(grid[10].u, 8, 1e-9);
    EXPECT_NEAR(grid[10].v, 8, 1e-9);
}

TEST_F(ScreenTest, SavedStateBringsBackViewportAndCamera) {
    const auto saved = screen->SaveState();
    screen->Camera(kWidth * 2, kHeight * 2, kWidth, kHeight, 10, 20);
    screen->SetViewport({1, 2, 3, 4});
    EXPECT_EQ(screen->ShiftX, 10);
    screen->RestoreState(saved);
    EXPECT_EQ(screen->ShiftX, 0);
    EXPECT_EQ(screen->ScaleX, 1);
    double x = 0, y = 0;
    screen->Project({12, 34, 0}, x, y);
    EXPECT_NEAR(x, 12, 1e-9);
    EXPECT_NEAR(y, 34, 1e-9);
}

TEST_F(ScreenTest, WithoutAnEngineNothingIsCreatedAndNothingIsDrawn) {
    T3DEngine::SetFactory([] { return TRef<T3DEngine>(); });
    auto other = MakeRef<T3DScreen>();
    other->SetDevice(device.Get());
    EXPECT_EQ(other->Renderer(), nullptr);
    EXPECT_FALSE(other->BeginScene());
    other->Clear(0xFFFFFFFF);
    auto texture = MakeRef<TPictureTexture>(other.Get(), Gradient(8, 8));
    EXPECT_EQ(texture->Realize(), nullptr);
    other->EndScene(true);
    // An engine that reports the device unusable is treated the same way.
    TRef<T3DEngine> e = engine;
    T3DEngine::SetFactory([e] { return e; });
    engine->SetDeviceUsableForTesting(false);
    other->SetDevice(MakeDevice(16, 16).Get());
    EXPECT_EQ(other->Renderer(), nullptr);
    engine->SetDeviceUsableForTesting(true);
}

TEST_F(ScreenTest, MovingToAnotherDisplayDestroysTheWindowsDeviceLikeALoss) {
    engine->SetHeadlessMonitors({{0, 0, 1920, 1080}, {1920, 0, 3840, 1080}}, 60);
    auto picture = MakeRef<TPictureTexture>(screen.Get(), Gradient(8, 8));
    ASSERT_NE(picture->Realize(), nullptr);
    TDevStore* before = device->Find<TDevStore>();
    ASSERT_NE(before, nullptr);
    screen->EndScene(false);
    // The same window moved within its display: a new renderer on the same store.
    device->SetBounds({0, 0, kWidth, kHeight}, {100, 100}, false);
    ASSERT_TRUE(screen->BeginScene());
    EXPECT_EQ(device->Find<TDevStore>(), before);
    EXPECT_NE(picture->Texture(), nullptr) << "textures survive a new renderer on the same device";
    screen->EndScene(false);
    // Onto the second display.
    device->SetBounds({0, 0, kWidth, kHeight}, {2000, 100}, false);
    ASSERT_TRUE(screen->BeginScene());
    EXPECT_EQ(picture->Texture(), nullptr) << "killed with the old device";
    ASSERT_NE(picture->Realize(), nullptr);
    EXPECT_EQ(picture->fills, 2);
}

TEST_F(ScreenTest, DestroyingTheDeviceUnderTheScreenLeavesItWithoutRenderer) {
    device->Destroy();
    EXPECT_EQ(screen->Device(), nullptr);
    EXPECT_EQ(screen->Renderer(), nullptr);
    EXPECT_FALSE(screen->BeginScene());
}

} // namespace
} // namespace kiv

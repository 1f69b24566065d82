#include "render/Drawer.h"

#include "images/BitmapStore.h"
#include "images/Image.h"
#include "objects/ColorTable.h"
#include "objects/KivImage.h"
#include "render/ColorTables.h"
#include "render/RenderFixture.h"
#include "render/ShaderCatalog.h"
#include "render/gl/ResourcesGL.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace kiv {
namespace {

using test::TFnItem;

TRef<TImage> SolidImage(int w, int h, std::uint32_t argb) {
    auto b = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
    b->Fill32(argb);
    return MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("solid", b));
}

int Channel(std::uint32_t p, int shift) {
    return static_cast<int>((p >> shift) & 0xFF);
}

// Expects every colour channel of `p` within `tolerance` of `want` (0xRRGGBB).
void ExpectColor(std::uint32_t p, std::uint32_t want, int tolerance, const char* what) {
    for (int shift : {16, 8, 0})
        EXPECT_NEAR(Channel(p, shift), Channel(want, shift), tolerance)
            << what << ": channel " << shift << " of " << std::hex << p << " against " << want;
}

class DrawerTest : public test::TDrawerFixture {
protected:
    // Draws one frame over `background` and reads it back; GL must be clean afterwards.
    TRef<TBitmap> Frame(std::uint32_t background, std::function<void(TDeviceDrawer&)> body, float blur = 0) {
        auto root = MakeRef<TFnItem>([&](TDeviceDrawer& d) {
            drawer->Clear(background, false);
            if (blur == 0)
                body(d);
            else {
                auto inner = MakeRef<TFnItem>(body, blur);
                d.Draw(*inner);
            }
        });
        EXPECT_TRUE(drawer->Draw(*root));
        EXPECT_EQ(root->afterDraws, 1);
        TRef<TBitmap> frame = drawer->GrabImage();
        EXPECT_TRUE(frame);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        EXPECT_EQ(drawer->Screen()->Renderer()->LastError, kErrNone);
        return frame;
    }
    static constexpr TVec3 kX{1, 0, 0};
    static constexpr TVec3 kY{0, 1, 0};
};

TEST(DrawerMath, BlurWeightsSumToOneAndStrengthZeroKeepsThePicture) {
    for (double e : {0.0, 0.25, 0.5, 1.0}) {
        const TBlurWeights w = BlurWeights(e);
        EXPECT_NEAR(w.w0 + 2 * (w.w1 + w.w2 + w.w3), 1.0, 1e-6) << e;
    }
    const TBlurWeights none = BlurWeights(0);
    EXPECT_EQ(none.w0, 1.0f);
    EXPECT_EQ(none.w1, 0.0f);
    const TBlurWeights full = BlurWeights(1);
    EXPECT_FLOAT_EQ(full.w3, 0.065722f);
    EXPECT_FLOAT_EQ(full.w0, 0.294544f);
    EXPECT_EQ(BlurWeights(std::nan("")).w0, 1.0f) << "NaN strength blurs nothing";
}

TEST(DrawerMath, BlurPlansFollowTheHalfResolutionRadius) {
    const TBlurPlan g10 = PlanBlur(10);
    EXPECT_EQ(g10.fullPasses, 1);
    EXPECT_NEAR(g10.finalStrength, std::log2(10.0 / 7.0), 1e-12);
    const TBlurPlan g14 = PlanBlur(14);
    EXPECT_EQ(g14.fullPasses, 1);
    EXPECT_DOUBLE_EQ(g14.finalStrength, 1.0);
    const TBlurPlan g7 = PlanBlur(7);
    EXPECT_EQ(g7.fullPasses, 0);
    EXPECT_DOUBLE_EQ(g7.finalStrength, 1.0);
    const TBlurPlan g1 = PlanBlur(1);
    EXPECT_LT(g1.mixFactor, 0);
    EXPECT_EQ(g1.fullPasses, 0);
    EXPECT_EQ(g1.finalStrength, 0.0);
    EXPECT_NEAR(PlanBlur(0.5).mixFactor, (0.5 - 0.00001) / 0.99999, 1e-12);
    EXPECT_EQ(PlanBlur(28).fullPasses, 2);
    EXPECT_DOUBLE_EQ(PlanBlur(28).finalStrength, 1.0);
    EXPECT_LT(PlanBlur(-3).mixFactor, 0);
    EXPECT_EQ(PlanBlur(-3).finalStrength, 0.0) << "negative radius draws nothing blurred";
}

TEST(DrawerMath, TextureStoreKeysNameLevelAndPatternSettings) {
    EXPECT_EQ(TTextureStore2::Key(2, 3, 4, true, false), "MultiTexID: 2:3:4:True:False");
}

TEST_F(DrawerTest, HalfOpacityBlendsOverTheBackground) {
    auto picture = SolidImage(16, 16, 0xFFF08010);
    TPictureDrawParams params;
    params.opacity = 50;
    auto frame = Frame(0xFF2040C0, [&](TDeviceDrawer& d) {
        d.DrawImage(*picture, {8, 8, 0}, params, kX, kY, {0, 0});
    });
    const double a = std::lround(50 * 2.55) / 255.0;
    auto mix = [&](int s, int b) { return static_cast<std::uint32_t>(std::lround(s * a + b * (1 - a))); };
    const std::uint32_t want = (mix(0xF0, 0x20) << 16) | (mix(0x80, 0x40) << 8) | mix(0x10, 0xC0);
    ExpectColor(Pixel(*frame, 15, 15), want, 1, "inside");
    ExpectColor(Pixel(*frame, 30, 30), 0x2040C0, 0, "outside");
}

TEST_F(DrawerTest, AQuarterTurnMapsTexelsOntoRotatedPixels) {
    // 2 × 2 texels of four colours, point filtered, scaled by 8 and turned a quarter clockwise.
    auto b = MakeRef<TBitmap>(2, 2, TPixelFormat::Bgra32);
    const std::uint32_t colors[2][2] = {{0xFFFF0000, 0xFF00FF00}, {0xFF0000FF, 0xFFFFFF00}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            std::memcpy(b->Row(y) + x * 4, &colors[y][x], 4);
    auto picture = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("quad", b));
    TPictureDrawParams params;
    params.filtering = 0;
    const TVec3 axisX{0, 8, 0}, axisY{-8, 0, 0};
    auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) {
        d.DrawImage(*picture, {32, 16, 0}, params, axisX, axisY, {0, 0});
    });
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            // Texel centre (x + 0.5, y + 0.5) lands at origin + (x + 0.5)·axisX + (y + 0.5)·axisY.
            const int px = static_cast<int>(32 - 8 * (y + 0.5)), py = static_cast<int>(16 + 8 * (x + 0.5));
            ExpectColor(Pixel(*frame, px, py), colors[y][x] & 0xFFFFFF, 0, "rotated texel");
        }
    ExpectColor(Pixel(*frame, 34, 20), 0, 0, "right of the turned picture is empty");
}

TEST_F(DrawerTest, ASourceRectangleIsPlacedFromItsOwnTopLeftCorner) {
    // Left half red, right half green; only the right half is shown, at the origin, scaled by 2.
    auto b = MakeRef<TBitmap>(8, 4, TPixelFormat::Bgra32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            const std::uint32_t c = x < 4 ? 0xFFFF0000u : 0xFF00FF00u;
            std::memcpy(b->Row(y) + x * 4, &c, 4);
        }
    auto picture = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("halves", b));
    TPictureDrawParams params;
    params.filtering = 0;
    params.sourceRect = {4, 0, 8, 4};
    const TVec3 axisX{2, 0, 0}, axisY{0, 2, 0};
    auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) {
        d.DrawImage(*picture, {10, 10, 0}, params, axisX, axisY, {0, 0});
    });
    ExpectColor(Pixel(*frame, 11, 11), 0x00FF00, 0, "the source's first texel at the origin");
    ExpectColor(Pixel(*frame, 16, 16), 0x00FF00, 0, "its last texel");
    ExpectColor(Pixel(*frame, 19, 12), 0, 0, "nothing right of the shown part");
    ExpectColor(Pixel(*frame, 8, 12), 0, 0, "nothing left of the origin");
}

TEST_F(DrawerTest, PicturesAreCachedPerLevelAndReleased) {
    auto picture = SolidImage(32, 32, 0xFF808080);
    TPictureDrawParams level0, level1;
    level1.level = 1;
    Frame(0xFF000000, [&](TDeviceDrawer& d) {
        d.DrawImage(*picture, {0, 0, 0}, level0, kX, kY, {0, 0});
        d.DrawImage(*picture, {0, 0, 0}, level1, kX, kY, {0, 0});
        d.DrawImage(*picture, {0, 0, 0}, level0, kX, kY, {0, 0});
    });
    auto store = picture->Attachments().Find<TTextureStore2>();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Count(), 2u) << "a second level makes a second texture; the first is reused";
    drawer->ReleaseImage(*picture);
    EXPECT_FALSE(picture->Attachments().Find<TTextureStore2>());
}

TEST_F(DrawerTest, APreloadedPictureIsUploadedOnceAndDrawnFromTheCache) {
    auto picture = SolidImage(24, 24, 0xFF3060C0);
    TPictureDrawParams params;
    Frame(0xFF000000, [](TDeviceDrawer&) {}); // a frame makes the screen ready
    drawer->PreloadImage(*picture, params);
    auto store = picture->Attachments().Find<TTextureStore2>();
    ASSERT_TRUE(store);
    auto texture = store->Find(TTextureStore2::Key(0, 1, 1, false, false));
    ASSERT_TRUE(texture);
    ASSERT_EQ(texture->Tiles().size(), 1u);
    TTextureTile* tile = texture->Tiles()[0].Get();
    EXPECT_EQ(tile->fills, 1);
    EXPECT_TRUE(tile->Mipmapped());
    auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) {
        d.DrawImage(*picture, {0, 0, 0}, params, kX, kY, {0, 0});
    });
    ExpectColor(Pixel(*frame, 12, 12), 0x3060C0, 1, "drawn from the preloaded texture");
    EXPECT_EQ(tile->fills, 1) << "no second upload";
    EXPECT_EQ(store->Count(), 1u);
}

TEST_F(DrawerTest, ALevelOnePictureCoversTheFullSizeArea) {
    auto picture = SolidImage(32, 16, 0xFF00FF00);
    TPictureDrawParams params;
    params.level = 1; // a 16 × 8 copy drawn over the full 32 × 16 units
    auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) {
        d.DrawImage(*picture, {4, 4, 0}, params, kX, kY, {0, 0});
    });
    ExpectColor(Pixel(*frame, 34, 18), 0x00FF00, 1, "far corner inside");
    ExpectColor(Pixel(*frame, 37, 21), 0, 0, "beyond the picture");
}

TEST(TileTextures, PoolsAreChosenByCoverThenWasteAndPicturesLaidOutInBands) {
    auto manager = MakeRef<TTextureManager6>(nullptr);
    struct TCase {
        int w, h; // borders included
        TPoint pool;
    } cases[] = {
        {66, 66, {256, 128}},    // six sizes cover it all: the least waste, the first of a tie
        {102, 32, {256, 64}},    // 256 × 128 and 128 × 256 cover as much but waste more
        {1002, 702, {512, 512}}, // the most covered first
        {3, 600, {256, 512}},
    };
    for (const TCase& c : cases) {
        const int pool = manager->ChoosePool(c.w, c.h);
        ASSERT_GE(pool, 0) << c.w << " × " << c.h;
        EXPECT_EQ(TTextureManager6::kTileSizes[static_cast<std::size_t>(pool)], c.pool)
            << c.w << " × " << c.h;
    }
    EXPECT_EQ(manager->ChoosePool(0, 10), -1) << "nothing to cover";

    auto small = MakeRef<TMultiTexture6>(manager, MakeRef<TBitmap>(64, 64, TPixelFormat::Bgra32), false);
    ASSERT_EQ(small->Tiles().size(), 1u);
    const TTextureTile& one = *small->Tiles()[0];
    EXPECT_EQ(one.Origin(), (TPoint{-1, -1}));
    EXPECT_EQ(one.UsedWidth(), 66);
    EXPECT_EQ(one.UsedHeight(), 66);
    EXPECT_EQ(one.Width(), 256);
    EXPECT_EQ(one.Height(), 128);

    // The usable parts of the tiles cover a picture exactly once; the first tile is 512 × 512.
    const int w = 1000, h = 700;
    auto big = MakeRef<TMultiTexture6>(manager, MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32), false);
    ASSERT_FALSE(big->Tiles().empty());
    EXPECT_EQ(big->Tiles()[0]->Width(), 512);
    EXPECT_EQ(big->Tiles()[0]->Rect(), (TRect{0, 0, 510, 510}));
    std::vector<int> covered(static_cast<std::size_t>(w * h));
    for (const auto& tile : big->Tiles()) {
        const TRect r = tile->Rect();
        EXPECT_EQ(r.Width() + 2, tile->UsedWidth());
        EXPECT_LE(tile->UsedWidth(), tile->Width());
        ASSERT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= w && r.bottom <= h);
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                ++covered[static_cast<std::size_t>(y * w + x)];
    }
    EXPECT_EQ(std::count(covered.begin(), covered.end(), 1), w * h);

    // Released tiles go back to their pools and serve the next picture of that size, stale.
    const std::size_t tiles = big->Tiles().size();
    const TTextureTile* first = big->Tiles()[0].Get();
    big.Reset();
    std::size_t free = 0;
    int made = 0;
    for (std::size_t i = 0; i < manager->PoolCount(); ++i) {
        free += manager->Pool(i).FreeCount();
        made += manager->Pool(i).Made();
    }
    EXPECT_EQ(free, tiles);
    auto again = MakeRef<TMultiTexture6>(manager, MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32), false);
    int madeAfter = 0;
    for (std::size_t i = 0; i < manager->PoolCount(); ++i)
        madeAfter += manager->Pool(i).Made();
    EXPECT_EQ(madeAfter, made) << "no new tile";
    EXPECT_TRUE(std::any_of(again->Tiles().begin(), again->Tiles().end(),
                            [&](const auto& t) { return t.Get() == first; }));
    EXPECT_TRUE(again->Tiles()[0]->NeedsUpload());
}

// A picture of two-texel stripes and a diagonal ramp, so that every texel differs from its neighbours.
TRef<TBitmap> Stripes(int w, int h) {
    auto b = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t c = 0xFF000000u | (((x / 2) % 2 ? 0xE0u : 0x20u) << 16) |
                                    (static_cast<std::uint32_t>((x + y) % 256) << 8) |
                                    ((y / 3) % 2 ? 0xC0u : 0x30u);
            std::memcpy(b->Row(y) + x * 4, &c, 4);
        }
    return b;
}

// The whole picture as one device texture the picture carries itself (drawn as one tile).
class TWholeTexture final : public TCustomTexture {
public:
    TWholeTexture(T3DScreen* screen, TRef<TBitmap> picture)
        : TCustomTexture(screen, kTexColor), picture_(picture) {
        SetSize(picture->Width(), picture->Height());
    }

protected:
    void FillTopLevel(TBitmap& level) override {
        for (int y = 0; y < picture_->Height(); ++y)
            std::memcpy(level.Row(y), picture_->Row(y), static_cast<std::size_t>(picture_->Width()) * 4);
    }

private:
    TRef<TBitmap> picture_;
};

TEST_F(DrawerTest, PicturesCrossingTileBordersDrawLikeOneTexture) {
    // 600 × 600 texels: tile borders at 510 both ways; the part drawn straddles four tiles, scaled
    // by 1.37 from a fractional place under linear filtering, and again with a pattern.
    TRef<TBitmap> b = Stripes(600, 600);
    auto tiled = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("tiled", b));
    auto whole = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("whole", b));
    Frame(0xFF000000, [](TDeviceDrawer&) {});
    whole->Attachments().Add(MakeRef<TWholeTexture>(drawer->Screen(), b));
    TPictureDrawParams params;
    params.filtering = 1;
    params.sourceRect = {488, 494, 532, 525};
    const TVec3 ax{1.37, 0, 0}, ay{0, 1.37, 0};
    // A texture of its own is placed by its texel coordinates, tiles from the source's corner.
    auto one = Frame(0xFF000000, [&](TDeviceDrawer& d) {
        d.DrawImage(*whole, {0.4, 0.7, 0}, params, ax, ay, {488, 494});
    });
    auto tiles = Frame(0xFF000000, [&](TDeviceDrawer& d) {
        d.DrawImage(*tiled, {0.4, 0.7, 0}, params, ax, ay, {0, 0});
    });
    auto store = tiled->Attachments().Find<TTextureStore2>();
    ASSERT_TRUE(store);
    ASSERT_EQ(store->Find(TTextureStore2::Key(0, 1, 1, false, false))->Tiles()[0]->Rect(),
              (TRect{0, 0, 510, 510}));
    int worst = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int shift : {16, 8, 0})
                worst = std::max(
                    worst, std::abs(Channel(Pixel(*one, x, y), shift) - Channel(Pixel(*tiles, x, y), shift)));
    EXPECT_LE(worst, 1) << "no seam where the tiles meet";
}

TEST_F(DrawerTest, APanWithAntialiasedEdgesMovesAtAnEvenPace) {
    // A 400 × 225 picture, black with a white line two texels wide at texels 200 … 202, zoomed to
    // 200 % and panned: the source rectangle moves 0.64 texel per 20 ms frame (a 1.28 pixel step),
    // as a view port's pan does. Sampled every frame, the line's centre must follow the straight
    // line, never stand still and never jump, both from picture tiles and from a texture of its own.
    auto b = MakeRef<TBitmap>(400, 225, TPixelFormat::Bgra32);
    b->Fill32(0xFF000000);
    for (int y = 0; y < 225; ++y)
        for (int x = 200; x < 202; ++x)
            std::memset(b->Row(y) + x * 4, 0xFF, 4);
    auto tiled = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("line", b));
    auto whole = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("line-own", b));
    Frame(0xFF000000, [](TDeviceDrawer&) {});
    whole->Attachments().Add(MakeRef<TWholeTexture>(drawer->Screen(), b));
    const TVec3 ax{2, 0, 0}, ay{0, 2, 0};
    for (TImage* picture : {tiled.Get(), whole.Get()}) {
        const bool own = picture == whole.Get();
        double previous = 1e9;
        for (int k = 0; k <= 30; ++k) {
            const double s = 175.3 + 0.64 * k;
            TPictureDrawParams params;
            params.filtering = 1;
            params.edgeAntialias = true;
            params.sourceRect = {static_cast<float>(s), 100, static_cast<float>(s + 32), 124};
            const double left = static_cast<float>(s); // the rectangle as the drawer gets it
            auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) {
                d.DrawImage(*picture, {0, 0, 0}, params, ax, ay,
                            own ? TVec2{left, 100} : TVec2{0, 0});
            });
            // The line's centre on row 24: the brightness-weighted mean of the pixel centres.
            double sum = 0, moment = 0;
            for (int x = 0; x < kWidth; ++x) {
                const int g = Channel(Pixel(*frame, x, 24), 8);
                sum += g;
                moment += g * (x + 0.5);
            }
            ASSERT_GT(sum, 255) << "the line is in view at step " << k;
            const double centre = moment / sum, want = 2 * (201 - left);
            EXPECT_NEAR(centre, want, 0.25) << (own ? "own texture" : "tiles") << ", step " << k;
            EXPECT_LT(centre, previous - 0.5) << (own ? "own texture" : "tiles") << ": moves at step " << k;
            previous = centre;
        }
    }
}

TEST_F(DrawerTest, SpriteCellsAreFramedByTheirOwnEdgeTexels) {
    // Two 8 × 8 cells, red and blue; cell 1 magnified eight times under linear filtering shows no
    // red at its left edge, and cell 0 no blue at its right edge.
    auto b = MakeRef<TBitmap>(16, 8, TPixelFormat::Bgra32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            const std::uint32_t c = x < 8 ? 0xFFFF0000u : 0xFF0000FFu;
            std::memcpy(b->Row(y) + x * 4, &c, 4);
        }
    auto sheet = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("sheet", b));
    TPictureDrawParams params;
    params.filtering = 1;
    params.pattern = true;
    params.patternA = 2;
    for (int cell : {0, 1}) {
        params.sourceRect = SpriteCellRect(16, 8, 2, 1, cell);
        auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) {
            d.DrawImage(*sheet, {0, 0, 0}, params, {8, 0, 0}, {0, 4, 0}, {0, 0});
        });
        const std::uint32_t want = cell == 0 ? 0xFF0000 : 0x0000FF;
        for (int x : {0, 31, 32, 63})
            ExpectColor(Pixel(*frame, x, 16), want, 1, cell == 0 ? "cell 0" : "cell 1");
    }
}

TEST_F(DrawerTest, ABoxEdgeAtAFractionalPlaceIsPartlyCovered) {
    // White boxes over black from x = 10.25 to 30.25: the flagged right edge fades over one pixel
    // (pixel 30, centre 30.5, is covered to 1 − 0.25); the unflagged left edge is sharp.
    TBoxParams box;
    box.color1 = box.color2 = 0xFFFFFFFF;
    box.size = {20, 10};
    box.edgeAntialias = {false, false, true, false};
    auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) { d.DrawBox({10.25, 10, 0}, {0, 0}, box, kX, kY); });
    const int partial = static_cast<int>(std::lround(255 * 0.75));
    EXPECT_NEAR(Channel(Pixel(*frame, 30, 15), 8), partial, 2);
    ExpectColor(Pixel(*frame, 29, 15), 0xFFFFFF, 0, "inside");
    ExpectColor(Pixel(*frame, 31, 15), 0, 0, "beyond the fringe");
    ExpectColor(Pixel(*frame, 10, 15), 0xFFFFFF, 0, "the sharp edge's first pixel");
    ExpectColor(Pixel(*frame, 9, 15), 0, 0, "before the sharp edge");
    ExpectColor(Pixel(*frame, 20, 9), 0, 0, "the unflagged top edge has no fringe");
    // All four edges flagged at quarter positions: each edge pixel is covered by its fraction.
    box.edgeAntialias = {true, true, true, true};
    auto all = Frame(0xFF000000, [&](TDeviceDrawer& d) {
        d.DrawBox({10.75, 10.75, 0}, {0, 0}, box, kX, kY);
    });
    EXPECT_NEAR(Channel(Pixel(*all, 10, 20), 8), std::lround(255 * 0.75), 2) << "left: 0.25 outside the edge";
    EXPECT_NEAR(Channel(Pixel(*all, 20, 10), 8), std::lround(255 * 0.75), 2) << "top";
    EXPECT_NEAR(Channel(Pixel(*all, 31, 20), 8), std::lround(255 * 0.25), 2) << "right: 0.75 outside";
}

TEST_F(DrawerTest, BoxFillStylesPutTheColoursOnTheirCornersAndSides) {
    TBoxParams box;
    box.color1 = 0xFFFF0000;
    box.color2 = 0xFF0000FF;
    box.size = {20, 20};
    auto draw = [&](int style) {
        box.fillStyle = style;
        return Frame(0xFF000000, [&](TDeviceDrawer& d) { d.DrawBox({10, 10, 0}, {0, 0}, box, kX, kY); });
    };
    auto tlbr = draw(kFillTopLeftToBottomRight);
    EXPECT_GT(Channel(Pixel(*tlbr, 10, 10), 16), 230);
    EXPECT_GT(Channel(Pixel(*tlbr, 29, 29), 0), 230);
    ExpectColor(Pixel(*tlbr, 29, 10), 0x7F007F, 12, "the other corners the average");
    auto vertical = draw(kFillVertical);
    EXPECT_GT(Channel(Pixel(*vertical, 20, 10), 16), 230) << "colour 1 at the top";
    EXPECT_GT(Channel(Pixel(*vertical, 20, 29), 0), 230);
    auto horizontal = draw(kFillHorizontal);
    EXPECT_GT(Channel(Pixel(*horizontal, 10, 20), 16), 230) << "colour 1 on the left";
    EXPECT_GT(Channel(Pixel(*horizontal, 29, 20), 0), 230);
    box.opacity = 0;
    auto none = draw(kFillSolid);
    ExpectColor(Pixel(*none, 20, 20), 0, 0, "opacity 0 draws nothing");
}

TEST_F(DrawerTest, BordersSurroundTheRectangleAndOffsetsMoveEverything) {
    auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) {
        d.SetOffset({3, 2});
        d.DrawBorder({10, 10, 0}, {0, 0}, kX, kY, {20, 10}, 0xFFFFFFFF, 2, 3, 100, false);
        d.SetOffset({0, 0});
        d.DrawBorder({0, 0, 0}, {0, 0}, kX, kY, {0, 10}, 0xFFFF0000, 5, 5, 100, false);
    });
    // The rectangle is (13, 12) … (33, 22) after the offset; strips 2 wide left/right, 3 top/bottom.
    ExpectColor(Pixel(*frame, 11, 9), 0xFFFFFF, 0, "top-left corner of the top strip");
    ExpectColor(Pixel(*frame, 34, 23), 0xFFFFFF, 0, "bottom-right corner");
    ExpectColor(Pixel(*frame, 20, 16), 0, 0, "inside stays empty");
    ExpectColor(Pixel(*frame, 10, 16), 0, 0, "left of the left strip");
    ExpectColor(Pixel(*frame, 2, 2), 0, 0, "a zero-width rectangle has no border");
}

TEST_F(DrawerTest, APureGreyMaskKeepsTheContentsColours) {
    auto content = MakeRef<TFnItem>([](TDeviceDrawer& d) {
        d.FillRectangle({0, 0, 0}, {64, 48, 0}, 0xFFC06020);
    });
    auto maskOf = [](std::uint32_t color) {
        return MakeRef<TFnItem>([color](TDeviceDrawer& d) {
            d.FillRectangle({8, 8, 0}, {40, 40, 0}, color);
        });
    };
    auto grey = maskOf(0xFF808080), white = maskOf(0xFFFFFFFF), red = maskOf(0xFFFF0000);
    auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) { d.DrawMasked(*grey, *content, 100, nullptr); });
    const double a = 0x80 / 255.0; // coverage = the grey level, colour unchanged
    ExpectColor(Pixel(*frame, 20, 20),
                (std::lround(0xC0 * a) << 16) | (std::lround(0x60 * a) << 8) | std::lround(0x20 * a), 2,
                "grey mask");
    ExpectColor(Pixel(*frame, 50, 44), 0, 0, "outside the mask the black mask removes the content");
    frame = Frame(0xFF000000, [&](TDeviceDrawer& d) { d.DrawMasked(*white, *content, 100, nullptr); });
    ExpectColor(Pixel(*frame, 20, 20), 0xC06020, 1, "white mask keeps the content");
    frame = Frame(0xFF000000, [&](TDeviceDrawer& d) { d.DrawMasked(*white, *content, 50, nullptr); });
    ExpectColor(Pixel(*frame, 20, 20), 0x603010, 2, "half opacity");
    frame = Frame(0xFF000000, [&](TDeviceDrawer& d) { d.DrawMasked(*red, *content, 100, nullptr); });
    ExpectColor(Pixel(*frame, 20, 20), 0xC00000, 2, "a red mask tints: only red passes");
    drawer->ForcedShaderLevel = 0;
    frame = Frame(0xFF102030, [&](TDeviceDrawer& d) { d.DrawMasked(*white, *content, 100, nullptr); });
    ExpectColor(Pixel(*frame, 20, 20), 0x102030, 0, "no shaders: masked drawing draws nothing");
}

TEST_F(DrawerTest, BlurSpreadsABoxAcrossItsEdgeAndRunsThePlannedPasses) {
    auto body = [](TDeviceDrawer& d) { d.FillRectangle({16, 8, 0}, {48, 40, 0}, 0xFFFFFFFF); };
    auto sharp = Frame(0xFF000000, body);
    EXPECT_EQ(Channel(Pixel(*sharp, 15, 24), 16), 0);
    drawer->ShaderLog.clear();
    // A blur value of 20 000 is a radius of 20 pixels, G = 10 at half resolution: two pass pairs.
    auto blurred = Frame(0xFF000000, body, 20000);
    int h = 0, v = 0;
    for (const auto& s : drawer->ShaderLog) {
        h += s == "gauss_blur_h7";
        v += s == "gauss_blur_v7";
    }
    EXPECT_EQ(h, 2);
    EXPECT_EQ(v, 2);
    drawer->Screen()->Batch().Flush();
    TRenderFixture::WritePng(*blurred, ::testing::TempDir() + "drawer_blur.png");
    // Across the left edge the values rise monotonically from dark outside to bright inside.
    int previous = -1;
    for (int x = 6; x <= 28; x += 2) {
        const int value = Channel(Pixel(*blurred, x, 24), 16);
        EXPECT_GE(value, previous - 1) << "at x " << x;
        previous = value;
    }
    EXPECT_GT(Channel(Pixel(*blurred, 13, 24), 16), 20) << "light spreads outside";
    EXPECT_LT(Channel(Pixel(*blurred, 17, 24), 16), 235) << "the edge softens inside";
    EXPECT_GT(Channel(Pixel(*blurred, 32, 24), 16), 200) << "the middle stays bright";
    // Left and right edges blur alike.
    EXPECT_NEAR(Channel(Pixel(*blurred, 13, 24), 16), Channel(Pixel(*blurred, 50, 24), 16), 24);
}

// Pooled targets keep what earlier frames drew in them, and the half-resolution passes write their
// targets without blending: the same blurred frame must come out texel for texel alike after blurs
// that left every target bright, for each pass plan (cross-fade, one and two pass pairs, a larger
// blur), for an opaque box and for a translucent one at the frame's corner.
TEST_F(DrawerTest, ABlurDoesNotDependOnWhatEarlierFramesLeftInItsTargets) {
    constexpr int w = 300, h = 200; // targets of 512 × 256 and 256 × 128, much larger than a box
    drawer.Reset();
    device->Destroy();
    device = MakeDevice(w, h);
    drawer = MakeRef<T3DDrawer>();
    drawer->Init(device.Get());
    drawer->SetCaptureSize({w, h});
    using TBody = std::function<void(TDeviceDrawer&)>;
    const TBody bodies[] = {[](TDeviceDrawer& d) {
                                d.FillRectangle({100, 60, 0}, {140, 90, 0}, 0xFFFFFFFF);
                            },
                            [](TDeviceDrawer& d) {
                                d.FillRectangle({w - 21, h - 13, 0}, {w + 40, h + 40, 0}, 0x9080FF40);
                            }};
    const TBody everywhere = [](TDeviceDrawer& d) {
        d.FillRectangle({-100, -100, 0}, {4 * w, 4 * h, 0}, 0xFFFFFFFF);
    };
    const float blurs[] = {1000, 20000, 40000, 90000};
    std::vector<TRef<TBitmap>> clean;
    for (const TBody& body : bodies)
        for (const float blur : blurs)
            clean.push_back(Frame(0xFF000000, body, blur));
    for (const float blur : blurs)
        Frame(0xFF000000, everywhere, blur);
    std::size_t i = 0;
    for (const TBody& body : bodies)
        for (const float blur : blurs) {
            TRef<TBitmap> again = Frame(0xFF000000, body, blur);
            const TBitmap& want = *clean[i++];
            int differing = 0;
            for (int y = 0; y < want.Height(); ++y)
                differing += std::memcmp(want.Row(y), again->Row(y), want.RowBytes()) != 0;
            EXPECT_EQ(differing, 0) << "rows changed for blur " << blur << " of body " << (i - 1) / 4;
        }
}

TEST_F(DrawerTest, ASmallBlurCrossFadesWithTheHalfResolutionCopy) {
    drawer->ShaderLog.clear();
    auto frame = Frame(
        0xFF000000,
        [](TDeviceDrawer& d) {
            d.FillRectangle({16, 8, 0}, {48, 40, 0}, 0xFFFFFFFF);
        },
        1000);
    EXPECT_EQ(drawer->ShaderLog, std::vector<std::string>{"gauss_mix"});
    EXPECT_GT(Channel(Pixel(*frame, 32, 24), 16), 250) << "the middle is unchanged";
}

TEST_F(DrawerTest, SharpeningRaisesContrastAtEdgesOnly) {
    auto body = [](TDeviceDrawer& d) {
        d.FillRectangle({0, 0, 0}, {64, 48, 0}, 0xFF404040);
        d.FillRectangle({32, 0, 0}, {64, 48, 0}, 0xFFA0A0A0);
    };
    // A blur value of −10 000 asks for a sharpen amount of 100, which the shader applies as A = 1.
    auto frame = Frame(0xFF000000, body, -10000);
    // B at the last dark column = (4·40 + 2·(40+40+40+A0) + (40+40+A0+A0)) / 16; D = C − B.
    const double c = 0x40, bright = 0xA0;
    const double blur = (4 * c + 2 * (3 * c + bright) + (2 * c + 2 * bright)) / 16;
    EXPECT_NEAR(Channel(Pixel(*frame, 31, 20), 16), std::lround(c + (c - blur)), 1);
    EXPECT_NEAR(Channel(Pixel(*frame, 10, 20), 16), 0x40, 0) << "flat areas keep their value";
    EXPECT_GT(Channel(Pixel(*frame, 32, 20), 16), 0xA0) << "the bright side of the edge brightens";
    drawer->ForcedShaderLevel = 1;
    frame = Frame(0xFF000000, body, -10000);
    EXPECT_NEAR(Channel(Pixel(*frame, 31, 20), 16), 0x40, 0) << "below level 2 nothing is sharpened";
}

TEST_F(DrawerTest, AVolumeColourTableGradesThePicture) {
    // An inverting table graded against the identity.
    TColorTable invert = TColorTable::VolumeIdentity();
    for (std::size_t i = 0; i < invert.Pixels().size(); i += 4)
        for (int k = 0; k < 3; ++k)
            invert.Data()[i + k] = static_cast<std::uint8_t>(255 - invert.Data()[i + k]);
    const TColorTable identity = TColorTable::VolumeIdentity();
    // 66 = 8 × 8 + 8 div 4 lies on a cell of the 32-cell table.
    auto picture = SolidImage(16, 16, 0xFF424242);
    TPictureDrawParams params;
    params.gradingMode = 1;
    params.gradingFrom = &invert;
    params.gradingTo = &identity;
    for (float t : {0.0f, 0.5f, 1.0f}) {
        params.gradingFactor = t;
        auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) {
            d.DrawImage(*picture, {8, 8, 0}, params, kX, kY, {0, 0});
        });
        const auto want = static_cast<std::uint32_t>(std::lround((1 - t) * (255 - 66) + t * 66));
        ExpectColor(Pixel(*frame, 12, 12), want * 0x010101, 3, "graded");
    }
    EXPECT_EQ(drawer->ShaderStackDepth(), 0u);
}

TEST_F(DrawerTest, PerChannelTablesGradeEachChannelOnItsOwn) {
    TColorTable swap = TColorTable::ChannelIdentity(1);
    // Red doubles (capped), green inverts, blue stays.
    for (int i = 0; i < 256; ++i) {
        std::uint8_t* p = swap.Data() + i * 4;
        p[2] = static_cast<std::uint8_t>(std::min(255, i * 2));
        p[1] = static_cast<std::uint8_t>(255 - i);
    }
    auto picture = SolidImage(16, 16, 0xFF405060);
    TPictureDrawParams params;
    params.gradingMode = 2;
    params.gradingFrom = &swap;
    params.gradingTo = &swap;
    params.gradingFactor = 0.3f;
    auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) {
        d.DrawImage(*picture, {8, 8, 0}, params, kX, kY, {0, 0});
    });
    ExpectColor(Pixel(*frame, 12, 12), (0x80u << 16) | ((255u - 0x50) << 8) | 0x60, 2, "per channel");
}

// Grey planes for the video shaders.
class TPlane final : public TCustomTexture {
public:
    TPlane(T3DScreen* screen, std::uint8_t value) : TCustomTexture(screen, kTexGrey), value_(value) {
        SetSize(4, 4);
    }

protected:
    void FillTopLevel(TBitmap& level) override {
        for (int y = 0; y < 4; ++y)
            std::memset(level.Row(y), value_, 4);
    }

private:
    std::uint8_t value_;
};

TEST_F(DrawerTest, ChromaKeyAlphaGrowsWithTheSquareOfTheDistance) {
    T3DScreen* screen = drawer->Screen();
    auto table = MakeRef<TCustomColorGradeTexture>(screen, 1);
    const float threshold = 0.2f, key = 128 / 255.0f;
    for (int delta : {0, 13, 26, 39, 64}) {
        auto y = MakeRef<TPlane>(screen, 255);
        auto u = MakeRef<TPlane>(screen, static_cast<std::uint8_t>(128 + delta));
        auto v = MakeRef<TPlane>(screen, static_cast<std::uint8_t>(128 + delta));
        auto frame = Frame(0xFF000000, [&](TDeviceDrawer&) {
            drawer->PushShader("color_grade_chromakey");
            screen->Renderer()->SetTexture(3, table->Realize());
            screen->Renderer()->SetTexture(4, table->Realize());
            drawer->SetConstant(0, 0);
            drawer->SetConstant(3, threshold, 1 / threshold);
            drawer->SetConstant(4, key, key);
            auto& batch = screen->Batch();
            batch.Begin({y.Get(), u.Get(), v.Get()}, 3);
            const std::array<std::array<double, 2>, 3> a{{{0, 0}, {4, 0}, {0, 4}}},
                b{{{0, 4}, {4, 0}, {4, 4}}};
            const std::uint32_t w = 0xFFFFFFFF;
            batch.AddTriangle({TPoint3{0, 0, 0}, TPoint3{16, 0, 0}, TPoint3{0, 16, 0}}, {w, w, w}, {a, a, a});
            batch.AddTriangle({TPoint3{0, 16, 0}, TPoint3{16, 0, 0}, TPoint3{16, 16, 0}}, {w, w, w},
                              {b, b, b});
            drawer->PopShader();
            screen->Renderer()->SetTexture(3, nullptr);
            screen->Renderer()->SetTexture(4, nullptr);
        });
        // Blue carries Y (full) through the identity table, times the key's alpha over black.
        const double d = delta / 255.0;
        const double alpha = d >= threshold ? 1.0 : (d / threshold) * (d / threshold);
        EXPECT_NEAR(Channel(Pixel(*frame, 8, 8), 0), 255 * alpha, 3) << "distance " << delta;
    }
}

TEST_F(DrawerTest, NestedDrawsShareTheFrameAndCaptureCentresTheDrawingRectangle) {
    int inner = 0;
    auto child = MakeRef<TFnItem>([&](TDeviceDrawer&) { ++inner; });
    auto root = MakeRef<TFnItem>([&](TDeviceDrawer& d) { EXPECT_TRUE(d.Draw(*child)); });
    EXPECT_TRUE(drawer->Draw(*root));
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(root->afterDraws, 1);
    EXPECT_EQ(child->afterDraws, 0) << "only the top-level item hears about the frame's end";
    drawer->SetCaptureSize({20, 10});
    EXPECT_EQ(drawer->DrawRect(), (TRect{22, 19, 42, 29}));
    EXPECT_EQ(drawer->EyePosition().z, -static_cast<double>(kHeight));
    EXPECT_EQ(drawer->HalfPool().Width(), 32) << "half of 64";
    EXPECT_EQ(drawer->HalfPool().Height(), 32) << "half of 48 is 24, pooled at 32";
}

TEST_F(DrawerTest, EveryCatalogShaderCompiles) {
    Frame(0xFF000000, [](TDeviceDrawer&) {});
    auto* renderer = drawer->Screen()->Renderer();
    for (std::string_view name : kDrawerShaderNames) {
        const char* source = DrawerShaderSource(name);
        ASSERT_NE(source, nullptr) << name;
        EXPECT_TRUE(renderer->CreateShader(source, false)) << name;
    }
    EXPECT_EQ(DrawerShaderSource("no_such_shader"), nullptr);
}

TEST_F(DrawerTest, AGrabbedFrameIsOpaqueUnderBlendedDraws) {
    // Half-transparent and tinted pictures blend into the back buffer's alpha too; the grabbed
    // frame is what the screen shows, so every pixel of it is opaque.
    auto picture = SolidImage(16, 16, 0xFFF08010);
    auto shadow = SolidImage(16, 16, 0x80FFFFFF);
    TPictureDrawParams half;
    half.opacity = 50;
    TPictureDrawParams tinted;
    tinted.tint = 0xFF000000u;
    auto frame = Frame(0xFF2040C0, [&](TDeviceDrawer& d) {
        d.DrawImage(*picture, {8, 8, 0}, half, kX, kY, {0, 0});
        d.DrawImage(*shadow, {40, 8, 0}, tinted, kX, kY, {0, 0});
    });
    ASSERT_TRUE(frame);
    for (auto [x, y] : {std::pair{15, 15}, {47, 15}, {2, 2}, {kWidth - 1, kHeight - 1}})
        EXPECT_EQ(Pixel(*frame, x, y) >> 24, 0xFFu) << x << "," << y;
    ExpectColor(Pixel(*frame, 47, 15),
                std::lround(0x20 * (1 - 128 / 255.0)) << 16 | std::lround(0x40 * (1 - 128 / 255.0)) << 8 |
                    std::lround(0xC0 * (1 - 128 / 255.0)),
                2, "the tinted half-transparent picture darkens the background by half");
}

TEST_F(DrawerTest, ALayerTargetDrawsBackWithItsAlpha) {
    auto frame = Frame(0xFF000000, [&](TDeviceDrawer& d) {
        TLayerTarget* layer = d.BeginLayerTarget();
        ASSERT_NE(layer, nullptr);
        d.FillRectangle({0, 0, 0}, {32, 48, 0}, 0xFF00C000);
        d.EndLayerTarget();
        d.DrawLayerTarget(layer, 128);
    });
    ExpectColor(Pixel(*frame, 10, 10), std::lround(0xC0 * 128 / 255.0) << 8, 1, "half the layer");
    ExpectColor(Pixel(*frame, 50, 10), 0, 0, "the layer's empty part stays transparent");
    EXPECT_EQ(drawer->FullPool().FreeCount(), 1u) << "the layer went back to its pool";
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

TEST_F(DrawerTest, ALayerWithoutATargetLeavesTheTargetItWasDrawnInto) {
    // No render target can be made for the layer (the device is out of texture memory): the
    // layer's contents go where the drawing goes, and its end must not pop the target that an
    // enclosing pass (here a blur's) pushed.
    Frame(0xFF000000, [](TDeviceDrawer&) {});
    std::size_t inside = 0, after = 0;
    auto frame = Frame(
        0xFF000000,
        [&](TDeviceDrawer& d) {
            // Layers that take the pooled targets first (kept until drawn back).
            std::vector<TLayerTarget*> held;
            for (std::size_t k = drawer->FullPool().FreeCount(); k > 0; --k) {
                held.push_back(d.BeginLayerTarget());
                d.EndLayerTarget();
            }
            inside = drawer->Screen()->TargetDepth();
            SetTextureBudgetForTesting(TextureBytesInUse());
            TLayerTarget* layer = d.BeginLayerTarget();
            SetTextureBudgetForTesting(-1);
            EXPECT_EQ(layer, nullptr);
            d.FillRectangle({0, 0, 0}, {kWidth, kHeight, 0}, 0xFF20C040u);
            d.EndLayerTarget();
            after = drawer->Screen()->TargetDepth();
            for (TLayerTarget* h : held)
                d.DrawLayerTarget(h, 0);
        },
        30);
    EXPECT_GT(inside, 1u) << "the blur draws into a target of its own";
    EXPECT_EQ(after, inside);
    ExpectColor(Pixel(*frame, kWidth / 2, kHeight / 2), 0x20C040, 8, "the layer's contents, blurred");
}

TEST_F(DrawerTest, BatchesOfThreePlanesBetweenPicturesKeepOneVertexList) {
    // A video's three planes drawn between pictures, frame after frame: the batch keeps the
    // vertex list it made for three coordinate sets instead of making one per change.
    auto picture = SolidImage(8, 8, 0xFF4080C0);
    auto plane = MakeRef<TBitmap>(8, 8, TPixelFormat::Bgra32);
    plane->Fill32(0xFF102030);
    Frame(0xFF000000, [](TDeviceDrawer&) {});
    auto own = MakeRef<TWholeTexture>(drawer->Screen(), plane);
    const T3DVertexList* first = nullptr;
    for (int k = 0; k < 4; ++k) {
        Frame(0xFF000000, [&](TDeviceDrawer& d) {
            d.DrawImage(*picture, {0, 0, 0}, {}, kX, kY, {0, 0});
            auto& batch = drawer->Screen()->Batch();
            batch.Begin({own.Get(), own.Get(), own.Get()}, 3);
            const std::array<std::array<double, 2>, 3> uv{{{0, 0}, {8, 0}, {0, 8}}};
            batch.AddTriangle({TPoint3{10, 10, 0}, TPoint3{18, 10, 0}, TPoint3{10, 18, 0}},
                              {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}, {uv, uv, uv});
            batch.Flush();
            d.DrawImage(*picture, {20, 20, 0}, {}, kX, kY, {0, 0});
        });
        if (k == 0) first = drawer->Screen()->Batch().List();
        EXPECT_EQ(drawer->Screen()->Batch().List(), first) << "frame " << k;
    }
    EXPECT_NE(first, nullptr);
}

TEST(VideoPlanes, PaddingRepeatsTheLastColumnAndRow) {
    TBitmap plane(6, 4, TPixelFormat::Grey8);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            plane.Row(y)[x] = static_cast<std::uint8_t>(10 * y + x + 1);
    PadPlane(plane, 3, 2);
    const std::uint8_t want[4][6] = {
        {1, 2, 3, 3, 3, 3}, {11, 12, 13, 13, 13, 13}, {11, 12, 13, 13, 13, 13}, {11, 12, 13, 13, 13, 13}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(plane.Row(y)[x], want[y][x]) << x << ", " << y;
    EXPECT_EQ(PaddedSide(16), 16);
    EXPECT_EQ(PaddedSide(100), 108);
    EXPECT_EQ(PaddedSide(1000), 1008);
    EXPECT_EQ(PaddedSide(0), 0);
}

class VideoDrawerTest : public DrawerTest {
protected:
    // Writes one synthetic frame of constant Y, U and V.
    void Fill(T3DYUV& video, std::uint8_t y, std::uint8_t u, std::uint8_t v) {
        const std::uint8_t values[3] = {y, u, v};
        for (int i = 0; i < 3; ++i) {
            TRef<TBitmap> plane = video.LockPlane(i);
            ASSERT_TRUE(plane) << "plane " << i;
            const bool chroma = i > 0;
            EXPECT_EQ(plane->Width(), chroma ? video.PaddedWidth() / 2 : video.PaddedWidth());
            const int w = chroma ? video.Width() / 2 : video.Width(),
                      h = chroma ? video.Height() / 2 : video.Height();
            for (int row = 0; row < h; ++row)
                std::memset(plane->Row(row), values[i], static_cast<std::size_t>(w));
            video.UnlockPlane(i, plane.Get());
        }
    }
};

TEST_F(VideoDrawerTest, ASyntheticYuvFrameIsConvertedToRgb) {
    Frame(0xFF000000, [](TDeviceDrawer&) {});
    TRef<T3DYUV> video = drawer->CreateVideoImage(16, 8, false);
    ASSERT_TRUE(video);
    ASSERT_EQ(video->Mode(), T3DYUV::kModeYUV);
    EXPECT_EQ(drawer->VideoImageCount(), 1u);
    TVideoDrawParams params;
    params.sourceRect = {0, 0, 16, 8};
    const TVec3 scale4X{4, 0, 0}, scale4Y{0, 4, 0};
    Fill(*video, 126, 128, 128); // mid grey: (126 − 16) × 1.164 = 128
    auto frame = Frame(0xFF000000, [&](TDeviceDrawer&) {
        drawer->DrawVideo(*video, {0, 0, 0}, params, scale4X, scale4Y, {0, 0});
    });
    ExpectColor(Pixel(*frame, 30, 14), 0x808080, 4, "grey");
    Fill(*video, 81, 90, 240); // the video-range code of pure red
    frame = Frame(0xFF000000, [&](TDeviceDrawer&) {
        drawer->DrawVideo(*video, {0, 0, 0}, params, scale4X, scale4Y, {0, 0});
    });
    const std::uint32_t p = Pixel(*frame, 30, 14);
    EXPECT_GT(Channel(p, 16), 225);
    EXPECT_LT(Channel(p, 8), 30);
    EXPECT_LT(Channel(p, 0), 30);
    // Keyed on its own chroma, the frame vanishes.
    params.chromaKey = true;
    params.keyU = 90 / 255.0f;
    params.keyV = 240 / 255.0f;
    params.keyThreshold = 0.2f;
    frame = Frame(0xFF000000, [&](TDeviceDrawer&) {
        drawer->DrawVideo(*video, {0, 0, 0}, params, scale4X, scale4Y, {0, 0});
    });
    ExpectColor(Pixel(*frame, 30, 14), 0, 1, "keyed out");
    EXPECT_EQ(video->RefCount(), 1);
    video.Reset();
    EXPECT_EQ(drawer->VideoImageCount(), 0u) << "a destroyed image leaves the drawer's list";
}

TEST_F(VideoDrawerTest, DeinterlacingReadsOneFieldOnly) {
    Frame(0xFF000000, [](TDeviceDrawer&) {});
    TRef<T3DYUV> video = drawer->CreateVideoImage(16, 16, false);
    ASSERT_TRUE(video);
    Fill(*video, 16, 128, 128);
    // Even lines white, odd lines black.
    TRef<TBitmap> y = video->LockPlane(0);
    ASSERT_TRUE(y);
    for (int row = 0; row < 16; row += 2)
        std::memset(y->Row(row), 235, 16);
    video->UnlockPlane(0, y.Get());
    TVideoDrawParams params;
    params.sourceRect = {0, 0, 16, 16};
    const TVec3 sx{2, 0, 0}, sy{0, 2, 0};
    for (int field : {1, 2}) {
        params.deinterlace = field;
        auto frame = Frame(0xFF000000, [&](TDeviceDrawer&) {
            drawer->DrawVideo(*video, {0, 0, 0}, params, sx, sy, {0, 0});
        });
        const int want = field == 1 ? 255 : 0;
        for (int py : {9, 11, 13, 15, 17})
            EXPECT_NEAR(Channel(Pixel(*frame, 10, py), 8), want, 12) << "field " << field << " row " << py;
    }
}

} // namespace
} // namespace kiv

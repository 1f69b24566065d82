#include "base/Log.h"
#include "render/DevStore.h"
#include "render/RenderFixture.h"
#include "render/gl/RendererGL.h"
#include "render/gl/ResourcesGL.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

namespace kiv {
namespace {

using test::TRenderFixture;

// A picture whose every pixel differs and whose halves are told apart: blue grows to the right,
// green downwards, red is 255 in the top-left quarter only.
TRef<TBitmap> AsymmetricPicture(int w, int h) {
    auto b = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = b->Row(y) + x * 4;
            p[0] = static_cast<std::uint8_t>(x * 255 / (w - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / (h - 1));
            p[2] = (x < w / 2 && y < h / 2) ? 255 : 0;
            p[3] = 255;
        }
    return b;
}

std::uint32_t PictureAt(const TBitmap& b, int x, int y) {
    return TRenderFixture::Pixel(b, x, y);
}

using RendererTest = TRenderFixture;

TEST_F(RendererTest, TexelToPixelQuadIsExactAndReadBackComesTopRowFirst) {
    auto picture = AsymmetricPicture(32, 16);
    auto texture = Upload(*renderer, *picture);
    ASSERT_TRUE(texture);
    // Linear filtering too: texel centres meet pixel centres, so nothing is blended.
    texture->SetFilter(kFilterLinear);
    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0xFF000000, 0));
    DrawRect(*renderer, texture.Get(), {8, 4, 40, 20}, 0xFFFFFFFF, kDrawTextured | kDrawTextureAlpha);
    auto frame = Frame(*renderer);
    WritePng(*frame, testing::TempDir() + "kiv_render_quad.png");
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(Pixel(*frame, 8 + x, 4 + y), PictureAt(*picture, x, y)) << x << "," << y;
    EXPECT_EQ(Pixel(*frame, 7, 4), 0xFF000000u) << "nothing left of the quad";
    EXPECT_EQ(Pixel(*frame, 8, 3), 0xFF000000u) << "nothing above the quad";
    EXPECT_EQ(Pixel(*frame, 40, 19), 0xFF000000u);
    // The red quarter is at the top left of the frame, not the bottom left.
    EXPECT_EQ((Pixel(*frame, 9, 5) >> 16) & 0xFF, 255u);
    EXPECT_EQ((Pixel(*frame, 9, 18) >> 16) & 0xFF, 0u);
}

TEST_F(RendererTest, GreyAndOpaqueKindsSampleAsTheirFormatsSay) {
    auto grey = renderer->CreateTexture(kTexGrey, 4, 4, false);
    ASSERT_TRUE(grey);
    T3DSurface* s = grey->GetSurface(0);
    EXPECT_EQ(s->GetPixelFormat(), TPixelFormat::Grey8);
    auto locked = s->Lock({0, 0, 4, 4}, false);
    for (int y = 0; y < 4; ++y)
        std::memset(locked->Row(y), 0x40, 4);
    s->Unlock(locked.Get());
    grey->SetFilter(kFilterPoint);
    grey->SetAddressing(kAddressClamp, kAddressClamp);
    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0xFF000000, 0));
    DrawRect(*renderer, grey.Get(), {0, 0, 4, 4}, 0xFFFFFFFF, kDrawTextured | kDrawTextureAlpha);
    auto frame = Frame(*renderer);
    EXPECT_EQ(Pixel(*frame, 1, 1), 0xFF404040u) << "grey is (l, l, l) with alpha 1";
}

// Expected result of one channel of an "over" blend, rounded as the unorm conversion does.
int Over(int src, int srcAlpha, int dst) {
    return static_cast<int>(std::lround(src * (srcAlpha / 255.0) + dst * (1 - srcAlpha / 255.0)));
}

void ExpectNear(std::uint32_t got, const int expected[4], const char* what) {
    for (int c = 0; c < 4; ++c) {
        const int g = static_cast<int>((got >> (c * 8)) & 0xFF);
        EXPECT_LE(std::abs(g - expected[c]), 1)
            << what << " channel " << c << " got " << g << " want " << expected[c];
    }
}

TEST_F(RendererTest, EachBlendRuleGivesTheValuesComputedHere) {
    // Destination and source as (b, g, r, a).
    const int dst[4] = {200, 40, 100, 128};
    const int src[4] = {20, 220, 120, 96};
    const std::uint32_t dstColor = (std::uint32_t(dst[3]) << 24) | (dst[2] << 16) | (dst[1] << 8) | dst[0];
    const std::uint32_t srcColor = (std::uint32_t(src[3]) << 24) | (src[2] << 16) | (src[1] << 8) | src[0];
    auto drawWith = [&](int mode) {
        renderer->SetBlendMode(mode);
        EXPECT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, dstColor, 0));
        DrawRect(*renderer, nullptr, {0, 0, 8, 8}, srcColor, kDrawVertexColors | kDrawTextureAlpha);
        return Pixel(*Frame(*renderer), 3, 3);
    };
    {
        int want[4];
        for (int c = 0; c < 4; ++c)
            want[c] = Over(src[c], src[3], dst[c]);
        ExpectNear(drawWith(kBlendNormal), want, "normal");
    }
    {
        int want[4];
        for (int c = 0; c < 4; ++c)
            want[c] = std::max(src[c], dst[c]);
        ExpectNear(drawWith(kBlendMax), want, "maximum");
    }
    {
        int want[4];
        for (int c = 0; c < 3; ++c)
            want[c] = Over(src[c], src[3], dst[c]);
        want[3] = static_cast<int>(std::lround(src[3] + dst[3] * (1 - src[3] / 255.0)));
        ExpectNear(drawWith(kBlendSeparateAlpha), want, "separate alpha");
    }
    ExpectNear(drawWith(kBlendReplace), src, "replace: the source as it is");
    {
        // A premultiplied texture is drawn with (one, inverse source alpha).
        auto texel = MakeRef<TBitmap>(1, 1, TPixelFormat::Bgra32);
        const int pre[4] = {10, 60, 30, 96};
        for (int c = 0; c < 4; ++c)
            texel->Row(0)[c] = static_cast<std::uint8_t>(pre[c]);
        auto texture = Upload(*renderer, *texel);
        texture->Premultiplied = true;
        renderer->SetBlendMode(kBlendNormal);
        EXPECT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, dstColor, 0));
        DrawRect(*renderer, texture.Get(), {0, 0, 8, 8}, 0xFFFFFFFF,
                 kDrawTextured | kDrawVertexColors | kDrawTextureAlpha);
        int want[4];
        for (int c = 0; c < 4; ++c)
            want[c] = static_cast<int>(std::lround(pre[c] + dst[c] * (1 - pre[3] / 255.0)));
        ExpectNear(Pixel(*Frame(*renderer), 3, 3), want, "premultiplied source");
    }
    {
        // Drawing into a premultiplied target keeps its alpha premultiplied: alpha is (one, inverse
        // source alpha) while colour stays "over".
        auto target = renderer->CreateTexture(kTexTargetAlpha, 8, 8, false);
        ASSERT_TRUE(target);
        target->Premultiplied = true;
        ASSERT_TRUE(renderer->SetRenderTarget(target->GetSurface(0)));
        EXPECT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, dstColor, 0));
        DrawRect(*renderer, nullptr, {0, 0, 8, 8}, srcColor, kDrawVertexColors | kDrawTextureAlpha);
        auto read = MakeRef<TBitmap>(8, 8, TPixelFormat::Bgra32);
        ASSERT_TRUE(target->GetSurface(0)->CopyTo(*read));
        int want[4];
        for (int c = 0; c < 3; ++c)
            want[c] = Over(src[c], src[3], dst[c]);
        want[3] = static_cast<int>(std::lround(src[3] + dst[3] * (1 - src[3] / 255.0)));
        ExpectNear(Pixel(*read, 3, 3), want, "premultiplied target");
        ASSERT_TRUE(renderer->SetRenderTarget(nullptr));
    }
}

TEST_F(RendererTest, ClearWithRectanglesStaysInsideThemAndTheDepthFlagAloneClearsNothing) {
    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0xFF000000, 0));
    const TRect rects[2] = {{0, 0, 4, 4}, {60, 44, 80, 60}};
    ASSERT_TRUE(renderer->Clear(rects, 2, kClearTarget, 0xFFFF0000, 0));
    EXPECT_TRUE(renderer->Clear(nullptr, 0, kClearDepth, 0xFF00FF00, 0));
    auto frame = Frame(*renderer);
    EXPECT_EQ(Pixel(*frame, 3, 3), 0xFFFF0000u);
    EXPECT_EQ(Pixel(*frame, 4, 3), 0xFF000000u);
    EXPECT_EQ(Pixel(*frame, 63, 47), 0xFFFF0000u) << "clipped to the back buffer";
    EXPECT_EQ(Pixel(*frame, 59, 47), 0xFF000000u);
}

TEST_F(RendererTest, RenderTargetCopiedBackGivesTheSamePixelsAsDrawingDirectly) {
    auto picture = AsymmetricPicture(16, 16);
    auto texture = Upload(*renderer, *picture);
    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0xFF000000, 0));
    DrawRect(*renderer, texture.Get(), {4, 4, 20, 20}, 0xFFFFFFFF, kDrawTextured | kDrawTextureAlpha);
    auto direct = Frame(*renderer);

    auto target = renderer->CreateTexture(kTexTargetOpaque, kWidth, kHeight, false);
    ASSERT_TRUE(target);
    ASSERT_TRUE(renderer->SetRenderTarget(target->GetSurface(0)));
    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0xFF000000, 0));
    DrawRect(*renderer, texture.Get(), {4, 4, 20, 20}, 0xFFFFFFFF, kDrawTextured | kDrawTextureAlpha);
    ASSERT_TRUE(renderer->SetRenderTarget(nullptr));
    ASSERT_TRUE(renderer->Clear(nullptr, 0, kClearTarget, 0xFF0000FF, 0));
    T3DSurface* back = nullptr;
    ASSERT_TRUE(renderer->GetBackBuffer(back));
    const TRect all{0, 0, kWidth, kHeight};
    ASSERT_TRUE(renderer->StretchRects(target->GetSurface(0), back, 1, &all, &all));
    auto copied = Frame(*renderer);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            ASSERT_EQ(Pixel(*copied, x, y), Pixel(*direct, x, y)) << x << "," << y;
}

TEST_F(RendererTest, TexturesBeyondTheLimitOrTheBudgetFailWithTheirErrorClass) {
    const int max = engine->GetCaps("maxtexwidth", 0);
    ASSERT_GT(max, 0);
    EXPECT_FALSE(renderer->CreateTexture(kTexColor, max + 1, 4, false));
    EXPECT_EQ(renderer->LastError, kErrInvalidCall);
    EXPECT_EQ(renderer->State, kStateReady) << "a refused texture does not lose the device";

    SetTextureBudgetForTesting(TextureBytesInUse() + 64 * 64 * 4);
    auto first = renderer->CreateTexture(kTexColor, 64, 64, false);
    auto second = renderer->CreateTexture(kTexColor, 64, 64, false);
    const int secondError = renderer->LastError;
    first.Reset();
    auto third = renderer->CreateTexture(kTexColor, 64, 64, false);
    SetTextureBudgetForTesting(-1);
    EXPECT_TRUE(first.Get() == nullptr);
    EXPECT_FALSE(second);
    EXPECT_EQ(secondError, kErrOutOfMemory);
    EXPECT_TRUE(third) << "freeing a texture gives its memory back";
    EXPECT_TRUE(renderer->BeginScene());
}

TEST_F(RendererTest, VertexListsRefuseRangesBeyondTheirSize) {
    auto list = renderer->CreateVertexList(3, kVertexDiffuse, 2);
    ASSERT_TRUE(list);
    TSourceVertex v[4];
    EXPECT_TRUE(list->Fill(0, v, 3, 0));
    EXPECT_FALSE(list->Fill(1, v, 3, 0));
    EXPECT_FALSE(list->Fill(-1, v, 1, 0));
    EXPECT_FALSE(renderer->CreateVertexList(0, 0, 0));
    EXPECT_FALSE(renderer->CreateVertexList(4, 0, 9)) << "at most eight texture-coordinate sets";
}

TEST_F(RendererTest, CapsAnswerCaseInsensitivelyAndTheShaderLevelIsTwo) {
    EXPECT_EQ(engine->GetCaps("MaxTexWidth", 0), engine->GetCaps("maxtexwidth", 0));
    EXPECT_EQ(engine->GetCaps("MAXTEXHEIGHT", 0), engine->GetCaps("maxtexwidth", 0));
    EXPECT_EQ(engine->GetCaps("no such cap", 0), 0);
    EXPECT_EQ(engine->GetCaps("pixelshaderversion", 0), 0x300);
    EXPECT_FALSE(engine->GetCapsText("vendor", 0).empty());
    EXPECT_EQ(engine->ShaderLevel(0), 2);
    float cx = 1, cy = 1;
    renderer->GetPixelCenter(cx, cy);
    EXPECT_EQ(cx, 0.0f);
    EXPECT_EQ(cy, 0.0f);
}

TEST(ShaderLevel, FollowsVendorAndPixelShaderVersion) {
    EXPECT_EQ(ShaderLevelFor(0x8086, 0x300), 2);
    EXPECT_EQ(ShaderLevelFor(0x8086, 0x200), 1);
    EXPECT_EQ(ShaderLevelFor(0x10DE, 0x200), 2);
    EXPECT_EQ(ShaderLevelFor(0x10DE, 0x104), 0);
    EXPECT_EQ(ShaderLevelFor(0x8086, 0x104), 0);
}

TEST_F(RendererTest, AdapterForRectTakesTheLargestOverlapAndZeroOutside) {
    EXPECT_EQ(engine->AdapterForRect({5000, 5000, 5100, 5100}), 0);
    EXPECT_EQ(engine->AdapterForRect({10, 10, 100, 100}), 0);
}

TEST_F(RendererTest, APixelShaderReadsTheRegisterFileAndItsSamplers) {
    auto shader = renderer->CreateShader("uniform sampler2D s0;\n"
                                         "void main() { fragColor = texture(s0, vTex[0]) * c[3]; }\n",
                                         false);
    ASSERT_TRUE(shader);
    auto texel = MakeRef<TBitmap>(1, 1, TPixelFormat::Bgra32);
    texel->Fill32(0xFF804020);
    auto texture = Upload(*renderer, *texel);
    const float constants[4] = {0.5f, 1.0f, 1.0f, 1.0f};
    ASSERT_TRUE(renderer->SetShaderConstants(3, constants, 1, false));
    ASSERT_TRUE(renderer->SetShader(shader.Get()));
    DrawRect(*renderer, texture.Get(), {0, 0, 4, 4}, 0xFFFFFFFF, kDrawTextured);
    ASSERT_TRUE(renderer->SetShader(nullptr));
    const std::uint32_t p = Pixel(*Frame(*renderer), 1, 1);
    EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 0x40, 1) << "red halved by c[3].x";
    EXPECT_EQ((p >> 8) & 0xFF, 0x40u);
    EXPECT_EQ(p & 0xFF, 0x20u);
    EXPECT_FALSE(renderer->CreateShader("this is not GLSL", false));
    EXPECT_FALSE(renderer->SetShaderConstants(31, constants, 2, false)) << "only 32 registers";
}

// The log written while `body` runs.
std::string LogOf(const std::function<void()>& body) {
    const std::string path = testing::TempDir() + "kiv_render_conditions.log";
    std::remove(path.c_str());
    TLog::Start(TLogMode::File, "", path);
    body();
    TLog::Finish();
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(RendererTest, RefusedTexturesSayWhy) {
    const int max = engine->GetCaps("maxtexwidth", 0);
    ASSERT_GT(max, 0);
    TRef<TVolumeTexture> volume;
    TRef<T3DTexture> overBudget;
    int volumeError = kErrNone, budgetError = kErrNone;
    const std::string log = LogOf([&] {
        EXPECT_FALSE(renderer->CreateTexture(kTexColor, 4, max + 1, false));
        volume = renderer->CreateVolumeTexture(32, 32, 1 << 20);
        volumeError = renderer->LastError;
        SetTextureBudgetForTesting(TextureBytesInUse() + 1024);
        overBudget = renderer->CreateTexture(kTexColor, 64, 32, false);
        budgetError = renderer->LastError;
        SetTextureBudgetForTesting(-1);
    });
    EXPECT_NE(log.find("Texture size 4 x " + std::to_string(max + 1) + " is beyond the device's limit " +
                       std::to_string(max)),
              std::string::npos)
        << log;
    EXPECT_FALSE(volume) << "a volume beyond the limit is refused before any memory is taken";
    EXPECT_EQ(volumeError, kErrInvalidCall);
    EXPECT_NE(log.find("Volume texture size 32 x 32 x 1048576 is beyond the device's limit"),
              std::string::npos)
        << log;
    EXPECT_FALSE(overBudget);
    EXPECT_EQ(budgetError, kErrOutOfMemory);
    EXPECT_NE(log.find("Out of video memory for a texture of 64 x 32"), std::string::npos) << log;
    EXPECT_EQ(renderer->State, kStateReady);
    EXPECT_TRUE(renderer->CreateVolumeTexture(4, 4, 4)) << "a volume within the limit is made";
}

// Without a usable GL 3.3 driver the engine is not made, and standard error says why (there may be
// no display for a message box). Each case runs in a fresh process, before Mesa is loaded.
TEST(EngineConditions, NoDriverGivesNoEngineAndAMessageOnStandardError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("LIBGL_DRIVERS_PATH", "/nonexistent", 1);
            setenv("EGL_DRIVERS_PATH", "/nonexistent", 1);
            std::exit(CreateEngineGL() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "Can't create the GL engine: ");
}

TEST(EngineConditions, ADriverBelowGl33GivesNoEngineAndAMessageOnStandardError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("MESA_GL_VERSION_OVERRIDE", "3.0", 1);
            std::exit(CreateEngineGL() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "Can't create the GL engine: No GL 3.3 device");
}

} // namespace
} // namespace kiv

#include "PictureMaker.h"
#include "base/Assert.h"
#include "base/Exception.h"
#include "images/GifReader.h"
#include "images/JpegStore.h"
#include "images/PictureLoader.h"
#include "images/PngStore.h"

#include <png.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <cstdlib>

namespace kiv {
namespace {

using test::TBytes;
using test::TBytesStream;

// The largest difference of any colour channel between two pictures of the same size.
int MaxDifference(const TBitmap& a, const TBitmap& b) {
    TRef<TBitmap> x = ConvertBitmap(a, TPixelFormat::Bgr24), y = ConvertBitmap(b, TPixelFormat::Bgr24);
    int worst = 0;
    for (int row = 0; row < x->Height(); ++row)
        for (std::size_t i = 0; i < x->RowBytes(); ++i)
            worst = std::max(worst, std::abs(x->Row(row)[i] - y->Row(row)[i]));
    return worst;
}

// The mean of each 2^level square of the source, as scaled JPEG decoding approximates it.
TRef<TBitmap> BoxReduced(const TBitmap& source, int level) {
    const int n = 1 << level;
    auto out =
        MakeRef<TBitmap>((source.Width() + n - 1) / n, (source.Height() + n - 1) / n, TPixelFormat::Bgra32);
    for (int y = 0; y < out->Height(); ++y)
        for (int x = 0; x < out->Width(); ++x)
            for (int c = 0; c < 4; ++c) {
                int sum = 0, count = 0;
                for (int sy = y * n; sy < std::min(y * n + n, source.Height()); ++sy)
                    for (int sx = x * n; sx < std::min(x * n + n, source.Width()); ++sx, ++count)
                        sum += source.Row(sy)[4 * sx + c];
                out->Row(y)[4 * x + c] = static_cast<std::uint8_t>(sum / count);
            }
    return out;
}

TEST(Jpeg, LevelsUpToThreeAreDecodedAtReducedScaleAndHigherOnesHalved) {
    TRef<TBitmap> picture = test::MakeGradient(203, 101);
    TBytesStream stream(test::EncodeJpeg(*picture, 95));
    TRef<TImage> image = DecodePictureByName(stream, "photo.JPG");
    ASSERT_TRUE(image);
    TBitmapStore& store = image->Store();
    EXPECT_STREQ(store.ClassName(), "TJpegBitmapStore");
    EXPECT_EQ(store.Format(), TPixelFormat::Bgr24);
    for (int level = 0; level <= 3; ++level) {
        SCOPED_TRACE(level);
        TRef<TBitmap> decoded = store.GetMipLevel(level, TPixelFormat::Bgra32);
        TRef<TBitmap> expected = BoxReduced(*picture, level);
        ASSERT_EQ(decoded->Width(), expected->Width());
        ASSERT_EQ(decoded->Height(), expected->Height());
        EXPECT_EQ(decoded->Format(), TPixelFormat::Bgra32) << "decoded straight into the asked format";
        EXPECT_LE(MaxDifference(*decoded, *expected), 12);
    }
    for (int level = 4; level <= 5; ++level) {
        TRef<TBitmap> above = store.GetMipLevel(level - 1, TPixelFormat::Bgr24);
        TRef<TBitmap> reduced = ReduceBitmap(*above);
        TRef<TBitmap> decoded = store.GetMipLevel(level);
        EXPECT_EQ(decoded->Format(), TPixelFormat::Bgr24);
        EXPECT_EQ(MaxDifference(*decoded, *reduced), 0)
            << "level " << level << " is level " << level - 1 << " halved";
    }
    EXPECT_EQ(MaxDifference(*store.GetMipLevel(2, TPixelFormat::Bgr24), *store.GetMipLevel(2)), 0);
}

TEST(Jpeg, BrokenDataAfterTheHeaderStillGivesAPicture) {
    const TBytes whole = test::EncodeJpeg(*test::MakeGradient(64, 64, false, true), 90);
    TBytesStream stream(TBytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2)));
    TRef<TImage> image = DecodePictureByName(stream, "cut.jpg");
    ASSERT_TRUE(image);
    TRef<TBitmap> level0 = image->Store().GetMipLevel(0);
    EXPECT_EQ(level0->Width(), 64);
    EXPECT_EQ(level0->Row(63)[0], 128) << "missing rows are mid-grey";

    TBytes garbage = whole;
    for (std::size_t i = 0; i < garbage.size(); i += 7)
        garbage[i] ^= 0x5A;
    TBytesStream bad(garbage);
    if (TRef<TImage> decoded = DecodePictureByName(bad, "bad.jpg")) decoded->Store().GetMipLevel(1);
    for (std::size_t n : {0u, 2u, 20u, 100u}) {
        TBytesStream head(TBytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
        EXPECT_FALSE(DecodePictureByName(head, "head.jpg")) << n;
        EXPECT_EQ(head.GetPosition(), 0);
    }
}

TEST(Jpeg, EmbeddedProfilesAreReadAndSrgbIsShared) {
    TRef<TBitmap> picture = test::MakeGradient(16, 16);
    {
        TRef<TColorProfile> srgb = BuiltInProfile("sRGB");
        TBytesStream stream(test::EncodeJpeg(*picture, 90, srgb->Data()));
        TRef<TImage> image = DecodePictureByName(stream, "s.jpg");
        ASSERT_TRUE(image);
        EXPECT_EQ(image->Store().Profile(), srgb);
    }
    {
        // A profile of more than one marker's worth comes back whole.
        TBytes big = BuiltInProfile("AdobeRGB")->Data();
        big.resize(150000, 0x42);
        TBytesStream stream(test::EncodeJpeg(*picture, 90, big));
        TRef<TImage> image = DecodePictureByName(stream, "adobe.jpg");
        ASSERT_TRUE(image);
        TRef<TColorProfile> profile = image->Store().Profile();
        ASSERT_TRUE(profile);
        EXPECT_EQ(profile->Name(), "adobe.jpg");
        EXPECT_EQ(profile->Data(), big);
    }
    TBytesStream plain(test::EncodeJpeg(*picture, 90));
    EXPECT_FALSE(DecodePictureByName(plain, "plain.jpg")->Store().Profile());
}

TEST(Jpeg, MarkerScanStopsCleanlyOnBrokenMarkers) {
    const TBytes icc = BuiltInProfile("AdobeRGB")->Data();
    TBytes file = test::EncodeJpeg(*test::MakeGradient(8, 8), 90, icc);
    EXPECT_EQ(ReadJpegProfile(file.data(), file.size()), icc);
    TBytes noStart = file;
    noStart[1] = 0x00;
    EXPECT_TRUE(ReadJpegProfile(noStart.data(), noStart.size()).empty());
    TBytes fill = {0xFF, 0xD8, 0xFF, 0xFF, 0xFF};
    EXPECT_TRUE(ReadJpegProfile(fill.data(), fill.size()).empty());
    TBytes badLength = {0xFF, 0xD8, 0xFF, 0xE2, 0xFF, 0xFF, 'I', 'C', 'C'};
    EXPECT_TRUE(ReadJpegProfile(badLength.data(), badLength.size()).empty());
}

TEST(Jpeg, ThePictureLimitHoldsForTheDecodedScale) {
    // 8192 x 8192 is exactly the limit; one more column needs half size.
    EXPECT_EQ(JpegDecodeLevel(8192, 8192, 0), 0);
    EXPECT_EQ(JpegDecodeLevel(8193, 8192, 0), 1);
    EXPECT_EQ(JpegDecodeLevel(8193, 8192, 2), 2);
    EXPECT_EQ(JpegDecodeLevel(12000, 6000, 0), 1);
    // 40000 x 30000 is 1.2 gigapixels: 1/4 gives 10000 x 7500, still too many; 1/8 fits.
    EXPECT_EQ(JpegDecodeLevel(40000, 30000, 0), 3);
    EXPECT_EQ(JpegDecodeLevel(40000, 30000, 3), 3);
    // Odd sizes round up when scaled: 65529 / 8 -> 8192 columns.
    EXPECT_EQ(JpegDecodeLevel(65529, 8192 * 8, 0), 3);
    EXPECT_EQ(JpegDecodeLevel(65537, 8192 * 8, 0), -1);
    EXPECT_EQ(JpegDecodeLevel(0, 10, 0), -1);
    EXPECT_EQ(JpegDecodeLevel(10, 10, -1), -1);
}

TEST(Jpeg, APanoramaBeyondTheLimitShowsAtTheLargestScaleWithin) {
    // 12000 x 6000 = 72 million pixels, over the 67 million of the limit at full size.
    constexpr int kWidth = 12000, kHeight = 6000;
    const TBytes file = test::EncodeJpegRows(kWidth, kHeight, 60, false, [](int y, std::uint8_t* bgra) {
        for (int x = 0; x < kWidth; ++x, bgra += 4) {
            bgra[0] = 60;
            bgra[1] = static_cast<std::uint8_t>(y * 255 / (kHeight - 1));
            bgra[2] = static_cast<std::uint8_t>(x * 255 / (kWidth - 1));
            bgra[3] = 255;
        }
    });
    TBytesStream stream(file);
    TRef<TImage> image = DecodePictureByName(stream, "panorama.jpg");
    ASSERT_TRUE(image) << "a picture too large at full size must still load";
    TBitmapStore& store = image->Store();
    EXPECT_EQ(store.Width(), kWidth);
    EXPECT_EQ(store.Height(), kHeight);
    const auto expectGradient = [](const TBitmap& level) {
        for (const auto& [fx, fy] : {std::pair{0.1, 0.1}, {0.5, 0.5}, {0.9, 0.3}, {0.25, 0.95}}) {
            const int x = static_cast<int>(fx * level.Width()), y = static_cast<int>(fy * level.Height());
            const std::uint8_t* pixel = level.Row(y) + 4 * x;
            EXPECT_NEAR(pixel[2], fx * 255, 4) << x << "," << y;
            EXPECT_NEAR(pixel[1], fy * 255, 4) << x << "," << y;
            EXPECT_NEAR(pixel[0], 60, 4) << x << "," << y;
        }
    };
    TRef<TBitmap> level0 = store.GetMipLevel(0, TPixelFormat::Bgra32);
    EXPECT_EQ(level0->Width(), 6000) << "level 0 over the limit is decoded at half size";
    EXPECT_EQ(level0->Height(), 3000);
    EXPECT_EQ(level0->Level(), 0);
    expectGradient(*level0);
    TRef<TBitmap> level3 = store.GetMipLevel(3, TPixelFormat::Bgra32);
    EXPECT_EQ(level3->Width(), 1500) << "levels within the limit keep their own scale";
    EXPECT_EQ(level3->Height(), 750);
    expectGradient(*level3);
}

TEST(Jpeg, AProgressiveHeaderClaimingAnEnormousPictureCannotTakeAllMemory) {
    // A small progressive file whose frame header claims 24000 x 24000: scaled decoding would still
    // need every full-size coefficient (about 1.7 GB), beyond what the decoder may take.
    TBytes file = test::EncodeJpegRows(64, 64, 90, true, [](int y, std::uint8_t* bgra) {
        for (int x = 0; x < 64; ++x, bgra += 4)
            bgra[0] = bgra[1] = bgra[2] = static_cast<std::uint8_t>(x + y), bgra[3] = 255;
    });
    std::size_t sof = 0;
    for (std::size_t i = 0; i + 9 < file.size() && !sof; ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xC2) sof = i;
    ASSERT_NE(sof, 0u) << "a progressive frame header";
    for (std::size_t at : {sof + 5, sof + 7}) { // height, then width
        file[at] = 24000 >> 8;
        file[at + 1] = 24000 & 0xFF;
    }
    TBytesStream stream(file);
    TRef<TImage> image = DecodePictureByName(stream, "claims.jpg");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Store().Width(), 24000);
    TRef<TBitmap> level = image->Store().GetMipLevel(2, TPixelFormat::Bgr24);
    ASSERT_EQ(level->Width(), 6000);
    EXPECT_EQ(level->Row(5999)[3 * 5999], 128) << "what cannot be decoded is mid-grey";
}

test::TPngSpec RgbSpec(int width, int height, int colorType, int depth, unsigned seed) {
    test::TPngSpec spec;
    spec.width = width;
    spec.height = height;
    spec.colorType = colorType;
    spec.bitDepth = depth;
    const int channels = colorType == PNG_COLOR_TYPE_RGB ? 3 : colorType == PNG_COLOR_TYPE_RGBA ? 4 : 1;
    std::srand(seed);
    for (int y = 0; y < height; ++y) {
        TBytes row(static_cast<std::size_t>((width * channels * depth + 7) / 8));
        for (auto& b : row)
            b = static_cast<std::uint8_t>(std::rand());
        spec.rows.push_back(row);
    }
    return spec;
}

TRef<TBitmap> LoadPng(const test::TPngSpec& spec) {
    TBytesStream stream(test::EncodePng(spec));
    TRef<TImage> image = DecodePictureByName(stream, "p.png");
    if (!image) return nullptr;
    return image->Store().GetMipLevel(0);
}

TEST(Png, RgbAndRgbaPicturesComeOutAsBgrAndBgra) {
    for (bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced);
        test::TPngSpec rgb = RgbSpec(19, 13, PNG_COLOR_TYPE_RGB, 8, 1);
        rgb.interlaced = interlaced;
        TRef<TBitmap> bgr = LoadPng(rgb);
        ASSERT_TRUE(bgr);
        ASSERT_EQ(bgr->Format(), TPixelFormat::Bgr24);
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 19; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(bgr->Row(y)[3 * x + c], rgb.rows[y][3 * x + 2 - c]);

        test::TPngSpec rgba = RgbSpec(19, 13, PNG_COLOR_TYPE_RGBA, 8, 2);
        rgba.interlaced = interlaced;
        TRef<TBitmap> bgra = LoadPng(rgba);
        ASSERT_EQ(bgra->Format(), TPixelFormat::Bgra32);
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 19; ++x) {
                const std::uint8_t* in = rgba.rows[y].data() + 4 * x;
                const std::uint8_t expected[4] = {in[2], in[1], in[0], in[3]};
                ASSERT_EQ(std::memcmp(bgra->Row(y) + 4 * x, expected, 4), 0);
            }
    }
}

// A PNG whose header claims another size (the IHDR checksum made to match); the image data stays
// that of the original.
TBytes WithClaimedSize(TBytes png, std::uint32_t width, std::uint32_t height) {
    const auto put = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            png[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    };
    put(16, width); // signature 8, length 4, "IHDR" 4
    put(20, height);
    put(29, static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17)));
    return png;
}

TEST(Png, APictureBeyondTheLimitIsReducedWhileRead) {
    // 12000 x 6000 one-bit grey: black, except white from column 6001 on in the top half and all
    // of the bottom half.
    constexpr int kWidth = 12000, kHeight = 6000;
    test::TPngSpec spec;
    spec.width = kWidth;
    spec.height = kHeight;
    spec.colorType = PNG_COLOR_TYPE_GRAY;
    spec.bitDepth = 1;
    TBytes top(kWidth / 8, 0), bottom(kWidth / 8, 0xFF);
    for (int x = 6001; x < kWidth; ++x)
        top[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    for (int y = 0; y < kHeight; ++y)
        spec.rows.push_back(y < kHeight / 2 ? top : bottom);
    TBytesStream stream(test::EncodePng(spec));
    TRef<TImage> image = DecodePictureByName(stream, "panorama.png");
    ASSERT_TRUE(image) << "a picture too large at full size must still load";
    TBitmapStore& store = image->Store();
    EXPECT_EQ(store.Width(), kWidth);
    TRef<TBitmap> level0 = store.GetMipLevel(0);
    ASSERT_EQ(level0->Width(), 6000);
    ASSERT_EQ(level0->Height(), 3000);
    EXPECT_EQ(level0->Row(0)[3 * 2999], 0);
    EXPECT_EQ(level0->Row(0)[3 * 3000], 127) << "columns 6000 and 6001: black and white";
    EXPECT_EQ(level0->Row(0)[3 * 3001], 255);
    EXPECT_EQ(level0->Row(1500)[0], 255);
    TRef<TBitmap> level1 = store.GetMipLevel(1);
    EXPECT_EQ(level1->Width(), 6000) << "level 1 is the reduction read from the file too";
    TRef<TBitmap> level2 = store.GetMipLevel(2);
    EXPECT_EQ(level2->Width(), 3000);
    EXPECT_EQ(level2->Height(), 1500);
    EXPECT_EQ(level2->Row(1499)[0], 255);
}

TEST(Png, OnlyPicturesReadableRowByRowMayBeBeyondTheLimit) {
    test::TPngSpec spec = RgbSpec(8, 8, PNG_COLOR_TYPE_RGB, 8, 4);
    TPngInfo info;
    const TBytes plain = WithClaimedSize(test::EncodePng(spec), 9000, 9000);
    ASSERT_TRUE(ReadPngInfo(plain.data(), plain.size(), info));
    EXPECT_EQ(info.width, 9000);
    spec.interlaced = true;
    const TBytes interlaced = WithClaimedSize(test::EncodePng(spec), 9000, 9000);
    EXPECT_FALSE(ReadPngInfo(interlaced.data(), interlaced.size(), info))
        << "interlaced passes each cover the whole picture";
    const TBytes within = WithClaimedSize(test::EncodePng(spec), 8192, 8192);
    EXPECT_TRUE(ReadPngInfo(within.data(), within.size(), info));
    // The claimed size does not match the data: decoding ends early and keeps the store whole.
    TBytesStream stream(plain);
    TRef<TImage> image = DecodePictureByName(stream, "claimed.png");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Store().GetMipLevel(0)->Width(), 4500);
}

TEST(Png, GreyPaletteAndSixteenBitPicturesAreConverted) {
    test::TPngSpec grey = RgbSpec(9, 3, PNG_COLOR_TYPE_GRAY, 4, 3);
    TRef<TBitmap> g = LoadPng(grey);
    ASSERT_EQ(g->Format(), TPixelFormat::Bgr24);
    for (int x = 0; x < 9; ++x) {
        const int nibble = (grey.rows[1][x / 2] >> ((x & 1) ? 0 : 4)) & 15;
        ASSERT_EQ(g->Row(1)[3 * x], nibble * 17);
        ASSERT_EQ(g->Row(1)[3 * x + 2], nibble * 17);
    }

    test::TPngSpec palette = RgbSpec(5, 2, PNG_COLOR_TYPE_PALETTE, 8, 4);
    for (auto& row : palette.rows)
        for (auto& b : row)
            b %= 4;
    palette.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 8, 7};
    palette.trans = {255, 128, 0};
    TRef<TBitmap> p = LoadPng(palette);
    ASSERT_EQ(p->Format(), TPixelFormat::Bgra32) << "a transparent palette entry makes alpha";
    for (int x = 0; x < 5; ++x) {
        const int index = palette.rows[0][x];
        ASSERT_EQ(p->Row(0)[4 * x + 2], palette.palette[3 * index]);
        ASSERT_EQ(p->Row(0)[4 * x + 3], index < 3 ? palette.trans[index] : 255);
    }

    test::TPngSpec deep = RgbSpec(4, 2, PNG_COLOR_TYPE_RGB, 16, 5);
    TRef<TBitmap> d = LoadPng(deep);
    ASSERT_EQ(d->Format(), TPixelFormat::Bgr24);
    EXPECT_EQ(d->Row(1)[0], deep.rows[1][4]) << "blue is the high byte of the third sample";
    EXPECT_EQ(d->Row(1)[5], deep.rows[1][6 + 0]);
}

TEST(Png, TruncatedDataKeepsWhatArrivedAndHeadersAloneAreDeclined) {
    const TBytes whole = test::EncodePng(RgbSpec(50, 50, PNG_COLOR_TYPE_RGB, 8, 6));
    TBytesStream cut(
        TBytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() * 2 / 3)));
    TRef<TImage> image = DecodePictureByName(cut, "cut.png");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Store().GetMipLevel(0)->Width(), 50);
    for (std::size_t n : {0u, 8u, 20u, 32u}) {
        TBytesStream head(TBytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
        EXPECT_FALSE(DecodePictureByName(head, "head.png")) << n;
    }
}

std::vector<std::uint8_t> GreyPalette() {
    std::vector<std::uint8_t> palette;
    for (int i = 0; i < 256; ++i)
        palette.insert(palette.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7});
    return palette;
}

std::uint32_t Pixel(const TBitmap& b, int x, int y) {
    std::uint32_t v;
    std::memcpy(&v, b.Row(y) + 4 * x, 4);
    return v;
}
std::uint32_t PaletteColor(int index) {
    return 0xFF000000u | (index << 16) | ((255 - index) << 8) | 7;
}

TEST(Gif, FirstFrameIsComposedOnTheScreenWithTransparency) {
    test::TGifSpec spec;
    spec.width = 6;
    spec.height = 4;
    spec.palette = GreyPalette();
    test::TGifFrameSpec frame{1, 1, 3, 2, {10, 11, 12, 13, 99, 15}, 0, 99, 5, false};
    spec.frames = {frame, frame};
    TBytesStream stream(test::EncodeGif(spec));
    TRef<TImage> image = DecodePictureByName(stream, "a.gif");
    ASSERT_TRUE(image);
    TRef<TBitmap> b = image->Store().GetMipLevel(0);
    ASSERT_EQ(b->Width(), 6);
    ASSERT_EQ(b->Height(), 4);
    EXPECT_EQ(Pixel(*b, 0, 0), 0u) << "outside the frame: transparent";
    EXPECT_EQ(Pixel(*b, 1, 1), PaletteColor(10));
    EXPECT_EQ(Pixel(*b, 3, 2), PaletteColor(15));
    EXPECT_EQ(Pixel(*b, 2, 2), 0u) << "the transparent index";
    EXPECT_FALSE(image->Store().TilesTag());

    TBytesStream again(test::EncodeGif(spec));
    EXPECT_EQ(DecodePictureByName(again, "a.gif_first_frame")->Width(), 6);
}

TEST(Gif, AFirstFrameAloneIsLimitedByThePictureLimitNotTheAtlasBudget) {
    // 6000 x 5000 = 30 million pixels: beyond the atlas budget, within the picture limit.
    test::TGifSpec spec;
    spec.width = 6000;
    spec.height = 5000;
    spec.palette = GreyPalette();
    spec.frames = {{4000, 3000, 2, 2, {20, 21, 22, 23}, 0, -1, 5, false}};
    TBytesStream stream(test::EncodeGif(spec));
    TRef<TImage> image = DecodePictureByName(stream, "wide.gif");
    ASSERT_TRUE(image) << "a single frame has no atlas to budget for";
    TRef<TBitmap> b = image->Store().GetMipLevel(0);
    ASSERT_EQ(b->Width(), 6000);
    ASSERT_EQ(b->Height(), 5000);
    EXPECT_EQ(Pixel(*b, 4001, 3001), PaletteColor(23));
    EXPECT_EQ(Pixel(*b, 3999, 3000), 0u);
    TBytesStream atlas(test::EncodeGif(spec));
    EXPECT_FALSE(DecodePictureByName(atlas, "wide.gif|framesatlas")) << "an atlas keeps its budget";
}

TEST(Gif, AFirstFrameBeyondThePictureLimitIsReducedNotRefused) {
    // 12000 x 6000 = 72 million pixels: half size fits the limit.
    test::TGifSpec spec;
    spec.width = 12000;
    spec.height = 6000;
    spec.palette = GreyPalette();
    // Columns 101 .. 104 of rows 200 .. 203; index 99 is transparent.
    spec.frames = {
        {101, 200, 4, 4, {40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 99}, 0, 99, 5, false}};
    TBytesStream stream(test::EncodeGif(spec));
    TRef<TImage> image = DecodePictureByName(stream, "panorama.gif");
    ASSERT_TRUE(image);
    TRef<TBitmap> b = image->Store().GetMipLevel(0);
    ASSERT_EQ(b->Width(), 6000);
    ASSERT_EQ(b->Height(), 3000);
    const std::uint32_t full = PaletteColor(40);
    // Destination pixel (51, 100) covers screen columns 102, 103 of rows 200, 201: all drawn.
    EXPECT_EQ(Pixel(*b, 51, 100), full);
    // (50, 100) covers columns 100 (empty) and 101 (drawn): the mean of colour and transparent.
    const std::uint32_t half = ((full >> 1) & 0x7F7F7F7Fu);
    EXPECT_EQ(Pixel(*b, 50, 100), half);
    // (52, 101) covers columns 104, 105 of rows 202, 203: one drawn pixel, one transparent index,
    // two beyond the frame.
    EXPECT_EQ(Pixel(*b, 52, 101), (full >> 2) & 0x3F3F3F3Fu);
    EXPECT_EQ(Pixel(*b, 49, 100), 0u);
    EXPECT_EQ(Pixel(*b, 5999, 2999), 0u);

    test::TGifSpec huge = spec;
    huge.width = huge.height = 65535; // 4.3 gigapixels: 1/8 is 8192 x 8192, just within
    TBytesStream big(test::EncodeGif(huge));
    TRef<TImage> reduced = DecodePictureByName(big, "huge.gif");
    ASSERT_TRUE(reduced);
    EXPECT_EQ(reduced->Store().GetMipLevel(0)->Width(), 8192);
}

TEST(Gif, AtlasFollowsTheDisposalRules) {
    test::TGifSpec spec;
    spec.width = 4;
    spec.height = 1;
    spec.palette = GreyPalette();
    spec.loopCount = 3;
    spec.frames = {
        {0, 0, 4, 1, {1, 1, 1, 1}, 1, -1, 10, false}, // kept
        {1, 0, 2, 1, {2, 2}, 3, -1, 20, false},       // restored afterwards
        {2, 0, 2, 1, {3, 3}, 2, -1, 30, false},       // cleared afterwards
        {0, 0, 1, 1, {4}, 0, -1, 40, true},
    };
    TBytesStream stream(test::EncodeGif(spec));
    TRef<TImage> image = DecodePictureByName(stream, "anim.gif|framesatlas");
    ASSERT_TRUE(image);
    TRef<TBitmap> atlas = image->Store().GetMipLevel(0);
    ASSERT_EQ(atlas->Width(), 16);
    const std::uint32_t c1 = PaletteColor(1), c2 = PaletteColor(2), c3 = PaletteColor(3),
                        c4 = PaletteColor(4);
    const std::uint32_t expected[4][4] = {
        {c1, c1, c1, c1}, {c1, c2, c2, c1}, {c1, c1, c3, c3}, {c4, c1, 0, 0}};
    for (int k = 0; k < 4; ++k)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(Pixel(*atlas, 4 * k + x, 0), expected[k][x]) << k << "," << x;
    TRef<TTilesTag> tag = image->Store().TilesTag();
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->frameWidth, 4);
    EXPECT_EQ(tag->frameHeight, 1);
    EXPECT_EQ(tag->frameCount, 4);
    EXPECT_EQ(tag->frameCount2, 4);
    EXPECT_EQ(tag->delaySum, 1000);
    EXPECT_EQ(tag->averageDelay, 250);
    EXPECT_EQ(tag->delays, "100,200,300,400");
    EXPECT_EQ(tag->loopCount, 3);
}

TEST(Gif, HundredFramesOfAMillionPixelsGiveAnAtlasOf26) {
    test::TGifSpec spec;
    spec.width = 1000;
    spec.height = 1000;
    spec.palette = GreyPalette();
    for (int k = 0; k < 100; ++k)
        spec.frames.push_back({k * 9, k * 9, 8, 8,
                               std::vector<std::uint8_t>(64, static_cast<std::uint8_t>(k + 1)), 1, -1, 4,
                               false});
    TBytesStream stream(test::EncodeGif(spec));
    TRef<TImage> image = DecodePictureByName(stream, "big.gif|framesatlas");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Width(), 26000);
    EXPECT_EQ(image->Height(), 1000);
    TRef<TBitmap> atlas = image->Store().GetMipLevel(0);
    EXPECT_EQ(Pixel(*atlas, 25 * 1000 + 25 * 9, 25 * 9), PaletteColor(26));
    EXPECT_EQ(Pixel(*atlas, 25 * 1000 + 0, 0), PaletteColor(1)) << "earlier frames are kept";
    EXPECT_EQ(image->Store().TilesTag()->frameCount, 26);
}

// Files a show makes to exhaust the loader: countless 1 x 1 frames on a 1 x 1 screen (the pixel
// budget alone would allow 26 million of them), and frames far larger than the screen (each read
// whole before it is cut to the screen). Both stop at the atlas's limits with the frames before.
TEST(Gif, CountlessOrHugeFramesStopAtTheAtlasLimits) {
    test::TGifSpec tiny;
    tiny.width = tiny.height = 1;
    tiny.palette = GreyPalette();
    for (int k = 0; k < kMaxAtlasFrames + 100; ++k)
        tiny.frames.push_back({0, 0, 1, 1, {static_cast<std::uint8_t>(k % 250 + 1)}, 1, -1, 1, false});
    TBytesStream tinyStream(test::EncodeGif(tiny));
    TRef<TImage> image = DecodePictureByName(tinyStream, "tiny.gif|framesatlas");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Width(), kMaxAtlasFrames);
    EXPECT_EQ(image->Store().TilesTag()->frameCount, kMaxAtlasFrames);
    EXPECT_EQ(Pixel(*image->Store().GetMipLevel(0), kMaxAtlasFrames - 1, 0),
              PaletteColor((kMaxAtlasFrames - 1) % 250 + 1));

    // 3000 x 3000 frames on a 10 x 10 screen: 9 million bytes each, so two fit the budget.
    test::TGifSpec huge;
    huge.width = huge.height = 10;
    huge.palette = GreyPalette();
    for (int k = 0; k < 3; ++k)
        huge.frames.push_back({0, 0, 3000, 3000, std::vector<std::uint8_t>(9000000, static_cast<std::uint8_t>(k + 1)),
                               1, -1, 1, false});
    TBytesStream hugeStream(test::EncodeGif(huge));
    TRef<TImage> cut = DecodePictureByName(hugeStream, "huge.gif|framesatlas");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->Store().TilesTag()->frameCount, 2);
    EXPECT_EQ(Pixel(*cut->Store().GetMipLevel(0), 15, 5), PaletteColor(2));
}

TEST(Gif, ABrokenFileKeepsTheFramesDecodedSoFar) {
    test::TGifSpec spec;
    spec.width = 20;
    spec.height = 20;
    spec.palette = GreyPalette();
    for (int k = 0; k < 3; ++k) {
        std::vector<std::uint8_t> noise(400);
        for (std::size_t i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<std::uint8_t>((i * 37 + k * 11) % 251);
        spec.frames.push_back({0, 0, 20, 20, noise, 1, -1, 4, false});
    }
    const TBytes whole = test::EncodeGif(spec);
    // Cut inside the last frame's second data block: its first rows arrived.
    TBytesStream stream(TBytes(whole.begin(), whole.end() - 100));
    TRef<TImage> image = DecodePictureByName(stream, "cut.gif|framesatlas");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Store().TilesTag()->frameCount, 3) << "the broken last frame is kept in part";
    ASSERT_EQ(image->Width(), 60);
    TRef<TBitmap> atlas = image->Store().GetMipLevel(0);
    EXPECT_NE(Pixel(*atlas, 40, 0), Pixel(*atlas, 20, 0)) << "a row of the last frame that arrived";
    EXPECT_EQ(Pixel(*atlas, 40, 19), Pixel(*atlas, 20, 19)) << "a row that did not: the frame before shows";
    for (std::size_t n : {0u, 6u, 13u, 800u}) {
        TBytesStream head(TBytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
        EXPECT_FALSE(DecodePictureByName(head, "h.gif")) << n;
        EXPECT_EQ(head.GetPosition(), 0);
    }
}

TEST(PictureDecoding, ABadPictureIsDeclinedButAFailedAssertionIsNotTakenForOne) {
    TBytesStream stream(TBytes{1, 2, 3, 4});
    stream.SetPosition(1);
    EXPECT_FALSE(DecodeOrRewind(stream, [&]() -> TRef<TBitmapStore> {
        stream.SetPosition(3);
        throw EImageError("bad picture");
    }));
    EXPECT_EQ(stream.GetPosition(), 1) << "a declined picture rewinds the stream";
    EXPECT_THROW(DecodeOrRewind(stream, []() -> TRef<TBitmapStore> { KIV_FAIL("decoder check"); }),
                 EAssertionFailed);
}

} // namespace
} // namespace kiv

#include "PictureMaker.h"
#include "images/BmpReader.h"
#include "images/GfxImage.h"
#include "images/PictureLoader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <random>

namespace kiv {
namespace {

using test::TBmpSpec;
using test::TBytes;
using test::TBytesStream;

TRef<TBitmap> Decode(const TBytes& file) {
    return DecodeBmp(file.data(), file.size());
}

// Palette pictures: random indices below `colors` and a random palette.
TBmpSpec PaletteSpec(int width, int height, int bits, int colors, unsigned seed) {
    std::mt19937 random(seed);
    TBmpSpec spec;
    spec.width = width;
    spec.height = height;
    spec.bits = bits;
    for (int i = 0; i < colors * 3; ++i)
        spec.palette.push_back(static_cast<std::uint8_t>(random()));
    for (int i = 0; i < width * height; ++i) {
        // Runs of equal indices so that run-length files use both runs and literal stretches.
        const int index = (i / 5 % 3 == 0) ? static_cast<int>(random() % colors) : (i / 7) % colors;
        spec.indices.push_back(static_cast<std::uint8_t>(index));
    }
    return spec;
}

void ExpectPalettePixels(const TBmpSpec& spec, const TBitmap& bitmap) {
    ASSERT_EQ(bitmap.Format(), TPixelFormat::Bgr24);
    ASSERT_EQ(bitmap.Width(), spec.width);
    ASSERT_EQ(bitmap.Height(), spec.height);
    for (int y = 0; y < spec.height; ++y)
        for (int x = 0; x < spec.width; ++x) {
            const int index = spec.indices[static_cast<std::size_t>(y) * spec.width + x];
            ASSERT_EQ(std::memcmp(bitmap.Row(y) + 3 * x, spec.palette.data() + 3 * index, 3), 0)
                << "pixel " << x << "," << y;
        }
}

TEST(Bmp, PalettePicturesOf1And4And8BitsExpandToBgr) {
    for (int bits : {1, 4, 8}) {
        const TBmpSpec spec = PaletteSpec(13, 5, bits, 1 << bits, 7u + bits);
        SCOPED_TRACE(bits);
        ExpectPalettePixels(spec, *Decode(test::MakeBmp(spec)));
    }
}

TEST(Bmp, RunLengthPicturesOf8And4Bits) {
    for (int bits : {8, 4}) {
        TBmpSpec spec = PaletteSpec(37, 9, bits, bits == 8 ? 200 : 16, 3u + bits);
        spec.compression = bits == 8 ? 1 : 2;
        SCOPED_TRACE(bits);
        ExpectPalettePixels(spec, *Decode(test::MakeBmp(spec)));
    }
}

TEST(Bmp, RunLengthDeltaSkipsPixelsAndEarlyEndLeavesBlack) {
    TBmpSpec spec = PaletteSpec(4, 3, 8, 4, 1);
    spec.palette = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    spec.compression = 1;
    TBytes file = test::MakeBmp(spec);
    // Replace the pixel data: bottom row "two of colour 1", a move of (1, 1), one of colour 2, end.
    const std::size_t at = file[10] | (file[11] << 8);
    file.resize(at);
    for (std::uint8_t b : {2, 1, 0, 2, 1, 1, 1, 2, 0, 1})
        file.push_back(b);
    TRef<TBitmap> bitmap = Decode(file);
    EXPECT_EQ(std::memcmp(bitmap->Row(2), spec.palette.data() + 3, 3), 0);
    EXPECT_EQ(std::memcmp(bitmap->Row(2) + 3, spec.palette.data() + 3, 3), 0);
    EXPECT_EQ(bitmap->Row(2)[6], 0) << "not written: black";
    EXPECT_EQ(std::memcmp(bitmap->Row(1) + 9, spec.palette.data() + 6, 3), 0) << "after the move to (3, 1)";
    EXPECT_EQ(bitmap->Row(0)[0], 0);
}

TEST(Bmp, SixteenBitPicturesKeepTheirLayout) {
    struct TCase {
        int compression;
        std::vector<std::uint32_t> masks;
        TPixelFormat format;
    };
    for (const TCase& c :
         {TCase{0, {}, TPixelFormat::Rgb555}, TCase{3, {0x7C00, 0x3E0, 0x1F}, TPixelFormat::Rgb555},
          TCase{3, {0xF800, 0x7E0, 0x1F}, TPixelFormat::Rgb565}}) {
        TBmpSpec spec;
        spec.width = 3;
        spec.height = 2;
        spec.bits = 16;
        spec.compression = c.compression;
        spec.masks = c.masks;
        spec.pixels = {0x7C00, 0x03E0, 0x001F, 0xFFFF, 0x0000, 0x4210};
        if (c.format == TPixelFormat::Rgb565) spec.pixels[0] = 0xF800, spec.pixels[1] = 0x07E0;
        TRef<TBitmap> bitmap = Decode(test::MakeBmp(spec));
        ASSERT_EQ(bitmap->Format(), c.format);
        TRef<TBitmap> bgr = ConvertBitmap(*bitmap, TPixelFormat::Bgr24);
        const std::uint8_t red[3] = {0, 0, 255}, green[3] = {0, 255, 0}, blue[3] = {255, 0, 0};
        EXPECT_EQ(std::memcmp(bgr->Row(0), red, 3), 0);
        EXPECT_EQ(std::memcmp(bgr->Row(0) + 3, green, 3), 0);
        EXPECT_EQ(std::memcmp(bgr->Row(0) + 6, blue, 3), 0);
    }
    TBmpSpec odd;
    odd.width = 1;
    odd.height = 1;
    odd.bits = 16;
    odd.compression = 3;
    odd.masks = {0xF00, 0xF0, 0xF};
    odd.pixels = {0};
    EXPECT_THROW(Decode(test::MakeBmp(odd)), EImageError) << "only 5-5-5 and 5-6-5 fields";
}

TEST(Bmp, TrueColourPicturesBottomUpAndTopDown) {
    TRef<TBitmap> picture = test::MakeGradient(7, 4, false, true);
    for (bool topDown : {false, true}) {
        TBmpSpec spec;
        spec.width = 7;
        spec.height = 4;
        spec.topDown = topDown;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 7; ++x) {
                const std::uint8_t* p = picture->Row(y) + 4 * x;
                spec.pixels.push_back(p[0] | (p[1] << 8) | (p[2] << 16));
            }
        TRef<TBitmap> bitmap = Decode(test::MakeBmp(spec));
        ASSERT_EQ(bitmap->Format(), TPixelFormat::Bgr24);
        TRef<TBitmap> bgra = ConvertBitmap(*bitmap, TPixelFormat::Bgra32);
        for (int y = 0; y < 4; ++y)
            EXPECT_EQ(std::memcmp(bgra->Row(y), picture->Row(y), 28), 0) << topDown << y;
    }
}

TEST(Bmp, ThirtyTwoBitPicturesPlainAndWithBitFields) {
    TBmpSpec spec;
    spec.width = 2;
    spec.height = 1;
    spec.bits = 32;
    spec.pixels = {0x80112233, 0x00445566};
    TRef<TBitmap> plain = Decode(test::MakeBmp(spec));
    ASSERT_EQ(plain->Format(), TPixelFormat::Bgra32);
    EXPECT_EQ(plain->Row(0)[3], 0x80);
    EXPECT_EQ(plain->Row(0)[7], 0x00) << "alpha kept when some pixel has one";

    spec.pixels = {0x00112233, 0x00445566};
    EXPECT_EQ(Decode(test::MakeBmp(spec))->Row(0)[3], 255) << "an unused fourth byte means opaque";

    // Fields in the order A B G R, from a 124-byte header with an alpha mask.
    spec.compression = 3;
    spec.infoSize = 124;
    spec.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
    spec.pixels = {0x40302010, 0xFF000000};
    TRef<TBitmap> fields = Decode(test::MakeBmp(spec));
    const std::uint8_t expected[8] = {0x30, 0x20, 0x10, 0x40, 0, 0, 0, 0xFF};
    EXPECT_EQ(std::memcmp(fields->Row(0), expected, 8), 0);
}

TEST(Bmp, BrokenAndHostileFilesAreDeclined) {
    TBytes good = test::MakeBmp24(*test::MakeGradient(10, 10));
    TBytes truncated(good.begin(), good.end() - 31);
    EXPECT_THROW(Decode(truncated), EImageError);
    TBytes huge = good;
    for (std::size_t at : {18u, 22u}) { // width and height 100 000
        huge[at] = 0xA0;
        huge[at + 1] = 0x86;
        huge[at + 2] = 0x01;
        huge[at + 3] = 0;
    }
    EXPECT_THROW(Decode(huge), EImageError);
    TBytes rleTrueColour = good;
    rleTrueColour[30] = 1; // RLE8 on a 24-bit picture
    EXPECT_THROW(Decode(rleTrueColour), EImageError);
    TBytes noPixels(good.begin(), good.begin() + 54);
    EXPECT_THROW(Decode(noPixels), EImageError);
    for (std::size_t n = 0; n < 60; ++n)
        EXPECT_THROW(Decode(TBytes(good.begin(), good.begin() + n)), EImageError);

    TBytesStream stream(huge);
    EXPECT_FALSE(DecodePictureByName(stream, "huge.bmp"));
    EXPECT_EQ(stream.GetPosition(), 0);
}

// The mean of each 2^shift square, channel by channel, truncated (24- or 32-bit pictures).
TRef<TBitmap> BoxMean(const TBitmap& source, int shift) {
    const int n = 1 << shift, bytes = BytesPerPixel(source.Format());
    auto out = MakeRef<TBitmap>((source.Width() + n - 1) / n, (source.Height() + n - 1) / n, source.Format());
    for (int y = 0; y < out->Height(); ++y)
        for (int x = 0; x < out->Width(); ++x)
            for (int c = 0; c < bytes; ++c) {
                int sum = 0, count = 0;
                for (int sy = y * n; sy < std::min(y * n + n, source.Height()); ++sy)
                    for (int sx = x * n; sx < std::min(x * n + n, source.Width()); ++sx, ++count)
                        sum += source.Row(sy)[bytes * sx + c];
                out->Row(y)[bytes * x + c] = static_cast<std::uint8_t>(sum / count);
            }
    return out;
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.Format() != b.Format()) return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.Row(y), b.Row(y), a.RowBytes()) != 0) return false;
    return true;
}

TEST(Bmp, ReducedDecodingIsTheMeanOfEachSquareInEveryLayout) {
    std::vector<test::TBmpSpec> specs;
    test::TBmpSpec s;
    s.width = 9;
    s.height = 5;
    for (std::uint32_t i = 0; i < 45; ++i)
        s.pixels.push_back(i * 2654435761u);
    s.bits = 24;
    specs.push_back(s);
    s.bits = 16; // 5-5-5
    specs.push_back(s);
    s.compression = 3; // 5-6-5 bit fields
    s.masks = {0xF800, 0x07E0, 0x001F};
    specs.push_back(s);
    s.bits = 32; // bit fields with alpha
    s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    specs.push_back(s);
    s.compression = 0; // plain, with the fourth byte unused
    s.masks.clear();
    for (auto& pixel : s.pixels)
        pixel &= 0xFFFFFF;
    specs.push_back(s);
    s.bits = 4;
    s.topDown = true;
    for (int i = 0; i < 45; ++i)
        s.indices.push_back(static_cast<std::uint8_t>(i * 7 % 16));
    for (int i = 0; i < 16; ++i)
        s.palette.insert(s.palette.end(),
                         {static_cast<std::uint8_t>(i * 16), static_cast<std::uint8_t>(255 - i),
                          static_cast<std::uint8_t>(i * 3)});
    specs.push_back(s);
    for (const test::TBmpSpec& spec : specs) {
        SCOPED_TRACE(std::to_string(spec.bits) + " bits, compression " + std::to_string(spec.compression));
        const TBytes file = test::MakeBmp(spec);
        TRef<TBitmap> full = Decode(file);
        if (BytesPerPixel(full->Format()) == 2) full = ConvertBitmap(*full, TPixelFormat::Bgr24);
        for (int shift : {1, 2, 4}) {
            TRef<TBitmap> reduced = DecodeBmp(file.data(), file.size(), shift);
            EXPECT_TRUE(SamePixels(*reduced, *BoxMean(*full, shift))) << "reduced by " << (1 << shift);
        }
    }
}

TEST(Bmp, PicturesBeyondTheLimitAreReducedWhileDecoded) {
    // Two rows of 2^24 + 32 pixels at one bit a pixel (4 MB of file): beyond the longest side, so
    // decoded at half size. Palette entry 0 up to column 2^23, entry 1 from there on.
    constexpr std::uint32_t kWidth = (1u << 24) + 32, kRowBytes = kWidth / 8; // a multiple of 4
    TBytes file = {'B', 'M'};
    const auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    const auto put16 = [&](std::uint32_t v) {
        file.push_back(static_cast<std::uint8_t>(v));
        file.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    put32(62 + 2 * kRowBytes); // file size
    put32(0);
    put32(62); // pixel data offset
    put32(40);
    put32(kWidth);
    put32(2);                                        // height
    put16(1);                                        // planes
    put16(1);                                        // bits
    for (std::uint32_t v : {0u, 0u, 0u, 0u, 2u, 0u}) // compression .. colours used, important
        put32(v);
    file.insert(file.end(), {10, 20, 30, 0, 250, 240, 230, 0});
    TBytes row(kRowBytes, 0);
    row[(1 << 23) / 8] = 0x7F; // columns 2^23 + 1 .. 2^23 + 7
    std::fill(row.begin() + (1 << 23) / 8 + 1, row.end(), 0xFF);
    file.insert(file.end(), row.begin(), row.end());
    file.insert(file.end(), row.begin(), row.end());
    ASSERT_EQ(file.size(), 62 + 2 * std::size_t{kRowBytes});

    TRef<TBitmap> reduced = Decode(file);
    ASSERT_EQ(reduced->Width(), static_cast<int>(kWidth / 2));
    ASSERT_EQ(reduced->Height(), 1);
    const std::uint8_t left[3] = {10, 20, 30}, right[3] = {250, 240, 230}, middle[3] = {130, 130, 130};
    EXPECT_EQ(std::memcmp(reduced->Row(0), left, 3), 0);
    EXPECT_EQ(std::memcmp(reduced->Row(0) + 3 * ((1 << 22) - 1), left, 3), 0);
    EXPECT_EQ(std::memcmp(reduced->Row(0) + 3 * (1 << 22), middle, 3), 0) << "columns 2^23 and 2^23 + 1";
    EXPECT_EQ(std::memcmp(reduced->Row(0) + 3 * ((1 << 22) + 1), right, 3), 0);

    // Run-length pictures beyond the limit are refused, and missing rows are never read.
    TBytes rle = file;
    rle[28] = 8;
    rle[30] = 1;
    EXPECT_THROW(Decode(rle), EImageError);
    file.resize(file.size() - 100);
    EXPECT_THROW(Decode(file), EImageError);
}

std::vector<std::pair<std::string, std::string>> GfxFields(int width, int height) {
    return {{"File", "C:\\Pictures\\photo.bmp"},
            {"Width", std::to_string(width)},
            {"Height", std::to_string(height)},
            {"OriginalSize", "12345"}};
}

TEST(Gfx, CompressedPicturesDecodeTo32Bits) {
    TRef<TBitmap> picture = test::MakeGradient(21, 11, false, true);
    TBytesStream stream(test::MakeZkgfx(GfxFields(21, 11), test::DeflateRaw(test::MakeBmp24(*picture))));
    TRef<TImage> image = DecodePictureByName(stream, "photo.zkgfx");
    ASSERT_TRUE(image);
    EXPECT_STREQ(image->Store().ClassName(), "TGfxBitmapStore");
    EXPECT_EQ(image->Format(), TPixelFormat::Bgra32);
    TRef<TBitmap> level0 = image->Store().GetMipLevel(0, TPixelFormat::Bgra32);
    for (int y = 0; y < 11; ++y)
        ASSERT_EQ(std::memcmp(level0->Row(y), picture->Row(y), 21 * 4), 0);
    EXPECT_EQ(image->Store().GetMipLevel(1)->Width(), 11);

    TBytesStream again(test::MakeZkgfx(GfxFields(21, 11), test::DeflateRaw(test::MakeBmp24(*picture))));
    auto gfx = MakeRef<TGfxImage>(again);
    EXPECT_EQ(*gfx->Field("file"), "C:\\Pictures\\photo.bmp") << "field names without regard to case";
    EXPECT_EQ(gfx->OriginalSize(), 12345);
}

TEST(Gfx, CompressedDataUnderABmpNameIsRecognisedByItsMagic) {
    TBytesStream stream(
        test::MakeZkgfx(GfxFields(3, 2), test::DeflateRaw(test::MakeBmp24(*test::MakeGradient(3, 2)))));
    TRef<TImage> image = DecodePictureByName(stream, "photo.BMP");
    ASSERT_TRUE(image);
    EXPECT_STREQ(image->Store().ClassName(), "TGfxBitmapStore");
}

void ExpectGreen(TImage& image, int width, int height) {
    TRef<TBitmap> level0 = image.Store().GetMipLevel(0, TPixelFormat::Bgra32);
    ASSERT_EQ(level0->Width(), width);
    ASSERT_EQ(level0->Height(), height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint32_t pixel;
            std::memcpy(&pixel, level0->Row(y) + 4 * x, 4);
            ASSERT_EQ(pixel, 0xFF00FF00u);
        }
}

TEST(Gfx, DamagedPixelDataGivesAnOpaqueGreenPictureOfTheDeclaredSize) {
    const TBytes data = test::DeflateRaw(test::MakeBmp24(*test::MakeGradient(40, 30, false, true)));
    {
        TBytesStream stream(
            test::MakeZkgfx(GfxFields(40, 30), TBytes(data.begin(), data.begin() + data.size() / 2)));
        TRef<TImage> image = DecodePictureByName(stream, "cut.zkgfx");
        ASSERT_TRUE(image);
        ExpectGreen(*image, 40, 30);
    }
    {
        TBytes garbage(data.size(), 0xFF);
        TBytesStream stream(test::MakeZkgfx(GfxFields(40, 30), garbage));
        TRef<TImage> image = DecodePictureByName(stream, "garbage.zkgfx");
        ASSERT_TRUE(image);
        ExpectGreen(*image, 40, 30);
    }
}

TEST(Gfx, PixelDataOfAnotherSizeThanDeclaredIsShownAsItIs) {
    TRef<TBitmap> picture = test::MakeGradient(100, 80, false, true);
    const TBytes data = test::DeflateRaw(test::MakeBmp24(*picture));
    // 10 x 8 declares far fewer bytes than the 24 KB bitmap inside holds.
    for (const auto& [width, height] : {std::pair{101, 80}, {100, 79}, {10, 8}, {200, 160}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        TBytesStream stream(test::MakeZkgfx(GfxFields(width, height), data));
        TRef<TImage> image = DecodePictureByName(stream, "mismatch.zkgfx");
        ASSERT_TRUE(image);
        TRef<TBitmap> level0 = image->Store().GetMipLevel(0, TPixelFormat::Bgra32);
        ASSERT_EQ(level0->Width(), 100);
        ASSERT_EQ(level0->Height(), 80);
        for (int y = 0; y < 80; ++y)
            ASSERT_EQ(std::memcmp(level0->Row(y), picture->Row(y), 100 * 4), 0) << "row " << y;
        EXPECT_EQ(image->Store().GetMipLevel(1)->Width(), 50) << "levels follow the decoded picture";
    }
}

TEST(Gfx, IncompleteHeadersAreDeclined) {
    const TBytes data = test::DeflateRaw(test::MakeBmp24(*test::MakeGradient(4, 4)));
    auto fields = GfxFields(4, 4);
    std::vector<TBytes> broken;
    for (std::size_t drop = 0; drop < fields.size(); ++drop) {
        auto fewer = fields;
        fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(drop));
        broken.push_back(test::MakeZkgfx(fewer, data));
    }
    auto notNumber = fields;
    notNumber[1].second = "4px";
    broken.push_back(test::MakeZkgfx(notNumber, data));
    auto huge = fields;
    huge[1].second = huge[2].second = "100000";
    broken.push_back(test::MakeZkgfx(huge, data));
    const TBytes whole = test::MakeZkgfx(fields, data);
    for (std::size_t n = 0; n < 70; ++n)
        broken.push_back(TBytes(whole.begin(), whole.begin() + n));
    for (const TBytes& file : broken) {
        TBytesStream stream(file);
        EXPECT_FALSE(LoadGfxPicture(stream, "x.zkgfx", nullptr, nullptr));
        EXPECT_EQ(stream.GetPosition(), 0);
    }
}

TEST(Gfx, InflatingStopsAtTheLimit) {
    const TBytes zeros(1 << 20, 0);
    const TBytes packed = test::DeflateRaw(zeros);
    EXPECT_EQ(InflateRaw(packed.data(), packed.size(), 1 << 21).size(), zeros.size());
    EXPECT_THROW(InflateRaw(packed.data(), packed.size(), 1000), EImageError);
    EXPECT_THROW(InflateRaw(packed.data(), packed.size() / 2, 1 << 21), EZLibError);
}

} // namespace
} // namespace kiv

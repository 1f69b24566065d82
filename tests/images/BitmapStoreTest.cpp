#include "PictureMaker.h"
#include "images/PictureLoader.h"

#include "base/Exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <atomic>
#include <thread>

namespace kiv {
namespace {

using test::TBytesStream;

// The halving rule written out directly: 1 2 1 / 2 4 2 / 1 2 1 around (2x, 2y), edges clamped.
std::uint8_t ReferenceReduced(const TBitmap& source, int x, int y, int channel) {
    static const int kWeight[3] = {1, 2, 1};
    const int bpp = BytesPerPixel(source.Format());
    int sum = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int sx = std::clamp(2 * x + dx, 0, source.Width() - 1);
            const int sy = std::clamp(2 * y + dy, 0, source.Height() - 1);
            sum += kWeight[dx + 1] * kWeight[dy + 1] * source.Row(sy)[bpp * sx + channel];
        }
    return static_cast<std::uint8_t>(sum / 16);
}

void ExpectReductionOf(const TBitmap& source, const TBitmap& reduced) {
    ASSERT_EQ(reduced.Width(), (source.Width() + 1) / 2);
    ASSERT_EQ(reduced.Height(), (source.Height() + 1) / 2);
    const int bpp = BytesPerPixel(source.Format());
    for (int y = 0; y < reduced.Height(); ++y)
        for (int x = 0; x < reduced.Width(); ++x)
            for (int c = 0; c < bpp; ++c)
                ASSERT_EQ(reduced.Row(y)[bpp * x + c], ReferenceReduced(source, x, y, c))
                    << "pixel " << x << "," << y << " channel " << c;
}

// A store that counts how often the format is asked for a level.
class TCountingStore : public TSysBitmapStore {
public:
    explicit TCountingStore(TRef<TBitmap> picture)
        : TSysBitmapStore("counting", picture->Width(), picture->Height(), picture->Format(), nullptr,
                          nullptr),
          picture_(std::move(picture)) {}
    std::atomic<int> reads{0};

protected:
    TRef<TBitmap> ReadSourceLevel(int level, TPixelFormat) override {
        ++reads;
        return level == 0 ? ConvertBitmap(*picture_, picture_->Format()) : nullptr;
    }

private:
    TRef<TBitmap> picture_;
};

// A faulty store: loads the wrong level, or nothing at all for level 1.
class TFaultyStore : public TBitmapStore {
public:
    TFaultyStore() : TBitmapStore("faulty", 4, 4, TPixelFormat::Grey8) {}
    const char* ClassName() const override { return "TFaultyStore"; }

protected:
    TRef<TBitmap> LoadLevel(int level, TPixelFormat, TBitmapClass) override {
        if (level == 1) return nullptr;
        auto bitmap = MakeRef<TBitmap>(4, 4, TPixelFormat::Grey8);
        bitmap->SetLevel(level == 2 ? 3 : level);
        return bitmap;
    }
    TRef<TBitmap> ReadSourceLevel(int, TPixelFormat) override { return nullptr; }
};

TEST(PictureLimit, TheReductionThatFitsIsTheSmallestPowerOfTwo) {
    EXPECT_EQ(ReductionWithinLimit(8192, 8192), 0) << "exactly the limit";
    EXPECT_EQ(ReductionWithinLimit(8193, 8192), 1);
    EXPECT_EQ(ReductionWithinLimit(12000, 6000), 1);
    EXPECT_EQ(ReductionWithinLimit(40000, 30000), 3);
    EXPECT_EQ(ReductionWithinLimit(1, 100000000), 3) << "a side beyond 2^24 is reduced too";
    EXPECT_EQ(ReductionWithinLimit(0, 5), -1);
    EXPECT_EQ(ReductionWithinLimit(5, -1), -1);
}

TEST(RowReducer, EachPixelIsTheMeanOfItsSquareIncludingPartEdgesAndMissingRows) {
    // 5 x 3 source, halved: 3 x 2, the last column and row of squares cut by the edge.
    auto source = MakeRef<TBitmap>(5, 3, TPixelFormat::Bgr24);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c)
                source->Row(y)[3 * x + c] = static_cast<std::uint8_t>(10 * (y * 5 + x) + c);
    const auto mean = [&](int x0, int y0, int x1, int y1, int c, int count) {
        int sum = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                sum += source->Row(y)[3 * x + c];
        return sum / count;
    };
    TRowReducer whole(5, 3, TPixelFormat::Bgr24, 1);
    for (int y = 0; y < 3; ++y)
        whole.AddRow(source->Row(y));
    TRef<TBitmap> reduced = whole.Finish();
    ASSERT_EQ(reduced->Width(), 3);
    ASSERT_EQ(reduced->Height(), 2);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(reduced->Row(0)[c], mean(0, 0, 2, 2, c, 4));
        EXPECT_EQ(reduced->Row(0)[6 + c], mean(4, 0, 5, 2, c, 2)) << "a square cut by the right edge";
        EXPECT_EQ(reduced->Row(1)[3 + c], mean(2, 2, 4, 3, c, 2)) << "a square cut by the bottom edge";
        EXPECT_EQ(reduced->Row(1)[6 + c], source->Row(2)[12 + c]) << "the corner is one pixel";
    }
    // Data that breaks off after the first row: the rows never given count as zero.
    TRowReducer cut(5, 3, TPixelFormat::Bgr24, 1);
    cut.AddRow(source->Row(0));
    TRef<TBitmap> partial = cut.Finish();
    EXPECT_EQ(partial->Row(0)[0], mean(0, 0, 2, 1, 0, 4));
    EXPECT_EQ(partial->Row(1)[0], 0);
    EXPECT_THROW(TRowReducer(4, 4, TPixelFormat::Grey8, 1), EImageError);

    // 32 bits: alpha is averaged like the colours; a quarter-size square of 4 x 4.
    const std::uint8_t bgra[5 * 4] = {0, 0, 0, 0, 4, 8, 12, 255, 200, 100, 50, 25, 1, 2, 3, 4, 9, 9, 9, 9};
    TRowReducer quarter(5, 1, TPixelFormat::Bgra32, 2);
    quarter.AddRow(bgra);
    TRef<TBitmap> q = quarter.Finish();
    ASSERT_EQ(q->Width(), 2);
    ASSERT_EQ(q->Height(), 1);
    const std::uint8_t expected[8] = {205 / 4, 110 / 4, 65 / 4, 284 / 4, 9, 9, 9, 9};
    EXPECT_EQ(std::memcmp(q->Row(0), expected, 8), 0);
}

TEST(BitmapStore, LevelsOf101By51AreHalvedRoundingUpWithTheWeightedFilter) {
    TRef<TBitmap> picture = ConvertBitmap(*test::MakeGradient(101, 51, false, true), TPixelFormat::Bgr24);
    auto store = MakeRef<TWrapperBitmapStore>("p.bmp", picture);
    TRef<TBitmap> level0 = store->GetMipLevel(0);
    TRef<TBitmap> level1 = store->GetMipLevel(1);
    TRef<TBitmap> level2 = store->GetMipLevel(2);
    EXPECT_EQ(level1->Width(), 51);
    EXPECT_EQ(level1->Height(), 26);
    EXPECT_EQ(level2->Width(), 26);
    EXPECT_EQ(level2->Height(), 13);
    EXPECT_EQ(level2->Level(), 2);
    ExpectReductionOf(*level0, *level1);
    ExpectReductionOf(*level1, *level2);
    // Far levels end at 1 x 1.
    TRef<TBitmap> level9 = store->GetMipLevel(9);
    EXPECT_EQ(level9->Width(), 1);
    EXPECT_EQ(level9->Height(), 1);
}

TEST(BitmapStore, PicturesWithAlphaAreReducedIn32Bits) {
    TRef<TBitmap> picture = test::MakeGradient(9, 7, true, true);
    auto store = MakeRef<TWrapperBitmapStore>("a.png", picture);
    TRef<TBitmap> level1 = store->GetMipLevel(1);
    EXPECT_EQ(level1->Format(), TPixelFormat::Bgra32);
    ExpectReductionOf(*store->GetMipLevel(0), *level1);
}

TEST(BitmapStore, LevelsAndConversionsAreMadeOnceAndCached) {
    auto store = MakeRef<TCountingStore>(test::MakeGradient(8, 8));
    TRef<TBitmap> first = store->GetMipLevel(0, TPixelFormat::Bgra32);
    EXPECT_EQ(store->GetMipLevel(0, TPixelFormat::Bgra32), first);
    TRef<TBitmap> bgr = store->GetMipLevel(0, TPixelFormat::Bgr24);
    EXPECT_EQ(bgr->Format(), TPixelFormat::Bgr24);
    EXPECT_EQ(store->GetMipLevel(0, TPixelFormat::Bgr24), bgr);
    EXPECT_EQ(store->GetMipLevel(0), first) << "no format asked: the first bitmap of the level";
    EXPECT_EQ(std::memcmp(bgr->Row(3) + 9, first->Row(3) + 12, 3), 0);
    EXPECT_EQ(store->reads.load(), 1);
}

TEST(BitmapStore, TwoThreadsAskingForALevelDecodeItOnce) {
    auto store = MakeRef<TCountingStore>(test::MakeGradient(300, 200));
    TRef<TBitmap> results[2];
    std::thread a([&] { results[0] = store->GetMipLevel(1, TPixelFormat::Bgra32); });
    std::thread b([&] { results[1] = store->GetMipLevel(1, TPixelFormat::Bgra32); });
    a.join();
    b.join();
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(store->reads.load(), 2) << "level 0 once, and level 1 asked once before being reduced";
}

TEST(BitmapStore, ProgrammingErrorsAreAssertions) {
    auto expectAssertion = [](auto&& call, const std::string& text) {
        try {
            call();
            ADD_FAILURE() << "no assertion for " << text;
        } catch (const EAssertionFailed& error) {
            EXPECT_NE(std::string(error.what()).find(text), std::string::npos) << error.what();
        }
    };
    auto store = MakeRef<TFaultyStore>();
    expectAssertion([&] { store->GetMipLevel(-1); }, "'TSysBitmapStore.GetMipLevel - Index<0'");
    expectAssertion([&] { store->GetMipLevel(1); }, "TFaultyStore.GetMipLevel");
    expectAssertion([&] { store->GetMipLevel(2); }, "'Incorrect MipLevelIndex'");
    expectAssertion([&] { store->GetMipLevel(0, TPixelFormat::Rgb565); },
                    "'Invalid Combination Of Bitmap Parameters'");
    EXPECT_EQ(store->GetMipLevel(0, TPixelFormat::Bgr24)->Format(), TPixelFormat::Bgr24);
}

TEST(BitmapStore, AStoppedReductionLeavesTheRestEmpty) {
    TRef<TBitmap> picture = test::MakeGradient(16, 16);
    int rows = 0;
    picture->SetProgress([&rows] { return ++rows <= 3; });
    TRef<TBitmap> reduced = ReduceBitmap(*picture);
    EXPECT_NE(reduced->Row(2)[4 * 5 + 3], 0);
    EXPECT_EQ(reduced->Row(3)[4 * 5 + 3], 0) << "rows after the stop stay untouched";
}

TEST(BitmapStore, TurnedPicturesSwapTheirSizeAndMovePixels) {
    TRef<TBitmap> picture = test::MakeGradient(5, 3);
    int orientation = 6;
    auto query = [](const std::string& name, void* context) {
        return name == "turn.bmp" ? *static_cast<int*>(context) : 1;
    };
    auto store = MakeRef<TWrapperBitmapStore>("turn.bmp", picture, query, &orientation);
    EXPECT_EQ(store->Width(), 3);
    EXPECT_EQ(store->Height(), 5);
    TRef<TBitmap> turned = store->GetMipLevel(0);
    ASSERT_EQ(turned->Width(), 3);
    // A quarter turn clockwise: the top-left pixel goes to the top-right corner, the bottom-left
    // one to the top-left.
    EXPECT_EQ(std::memcmp(turned->Row(0) + 4 * 2, picture->Row(0), 4), 0);
    EXPECT_EQ(std::memcmp(turned->Row(0), picture->Row(2), 4), 0);
    EXPECT_EQ(std::memcmp(turned->Row(4) + 4 * 2, picture->Row(0) + 4 * 4, 4), 0);

    TRef<TBitmap> half = RotateBitmap(*picture, 3);
    EXPECT_EQ(std::memcmp(half->Row(2) + 4 * 4, picture->Row(0), 4), 0);
    TRef<TBitmap> left = RotateBitmap(*picture, 8);
    EXPECT_EQ(std::memcmp(left->Row(4), picture->Row(0), 4), 0) << "counter-clockwise: top-left goes down";
    EXPECT_EQ(RotateBitmap(*picture, 7), picture);
}

TEST(BitmapStore, OwnedClassGivesACopyOfWrappedPixels) {
    struct TKeeper : TRefObject {
        std::uint8_t pixels[2 * 2 * 3] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    };
    auto keeper = MakeRef<TKeeper>();
    auto wrapped =
        MakeRef<TBitmap>(2, 2, TPixelFormat::Bgr24, keeper->pixels, 6, TRef<TRefObject>::Share(keeper.Get()));
    auto store = MakeRef<TWrapperBitmapStore>("w", wrapped);
    TRef<TBitmap> any = store->GetMipLevel(0);
    EXPECT_FALSE(any->OwnsPixels());
    TRef<TBitmap> owned = store->GetMipLevel(0, TPixelFormat::None, TBitmapClass::Owned);
    EXPECT_TRUE(owned->OwnsPixels());
    EXPECT_EQ(owned->Format(), TPixelFormat::Bgr24);
    EXPECT_EQ(std::memcmp(owned->Row(1), keeper->pixels + 6, 6), 0);
}

TEST(Image, CopiesShareOneStoreAndOneDecodedBitmap) {
    TBytesStream stream(test::MakeBmp24(*test::MakeGradient(6, 4)));
    TRef<TImage> first = DecodePictureByName(stream, "shared.bmp");
    ASSERT_TRUE(first);
    TRef<TImage> second = first->Clone();
    EXPECT_EQ(&first->Store(), &second->Store());
    EXPECT_EQ(first->Store().GetMipLevel(1, TPixelFormat::Bgra32),
              second->Store().GetMipLevel(1, TPixelFormat::Bgra32));
    EXPECT_EQ(second->Width(), 6);
    EXPECT_EQ(second->Name(), "shared.bmp");
    struct TTexture : TRefObject {};
    first->Attachments().Add(MakeRef<TTexture>());
    EXPECT_TRUE(first->Attachments().Find<TTexture>());
    EXPECT_FALSE(second->Attachments().Find<TTexture>()) << "attachments belong to one picture";
}

TEST(PictureLoader, ExtensionsAreTakenFromTheLastNameComponent) {
    EXPECT_EQ(PictureExtension("C:\\Show\\img\\Beach.JPG"), ".JPG");
    EXPECT_EQ(PictureExtension("anim.gif|framesatlas"), ".gif|framesatlas");
    EXPECT_EQ(PictureExtension("C:\\dir.x\\file"), "");
    EXPECT_EQ(PictureExtension(""), "");
}

std::atomic<int> g_testLoaderCalls{0};
TRef<TBitmapStore> CountingLoader(TStream& stream, const std::string& name, TRotationQuery, void*) {
    ++g_testLoaderCalls;
    stream.ReadByte(); // moves the stream; the registry does not rely on it staying put
    return MakeRef<TWrapperBitmapStore>(name, test::MakeGradient(1, 1));
}

TEST(PictureLoader, RegisteredExtensionsAreNormalisedAndComparedWithoutCase) {
    RegisterLoader(CountingLoader, {"  *tstx", ".tsty"});
    TBytesStream stream({1, 2, 3});
    EXPECT_TRUE(DecodePictureByName(stream, "a.TSTX"));
    stream.SetPosition(0);
    EXPECT_TRUE(DecodePictureByName(stream, "b.tsty"));
    EXPECT_EQ(g_testLoaderCalls.load(), 2);
    stream.SetPosition(0);
    EXPECT_FALSE(DecodePictureByName(stream, "c.tstz"));
    EXPECT_EQ(g_testLoaderCalls.load(), 2);
}

TEST(PictureLoader, PngDataInABmpNameLoadsAsPng) {
    test::TPngSpec spec;
    spec.width = 3;
    spec.height = 2;
    spec.rows = {{10, 20, 30, 40, 50, 60, 70, 80, 90}, {1, 2, 3, 4, 5, 6, 7, 8, 9}};
    TBytesStream stream(test::EncodePng(spec));
    TRef<TImage> image = DecodePictureByName(stream, "photo.bmp");
    ASSERT_TRUE(image);
    EXPECT_STREQ(image->Store().ClassName(), "TImageLibStore");
    TRef<TBitmap> level0 = image->Store().GetMipLevel(0, TPixelFormat::Bgr24);
    EXPECT_EQ(level0->Row(0)[0], 30) << "blue of the first pixel";
    EXPECT_EQ(level0->Row(1)[8], 7);
}

TEST(PictureLoader, DataNoLoaderAcceptsGivesNothingAndKeepsTheStreamPosition) {
    test::TBytes junk(100, 0x5A);
    TBytesStream stream(junk);
    stream.SetPosition(10);
    for (const char* name : {"x.bmp", "x.jpg", "x.gif", "x.png", "x.zkgfx", "x.gif|framesatlas"}) {
        EXPECT_FALSE(DecodePictureByName(stream, name)) << name;
        EXPECT_EQ(stream.GetPosition(), 10) << name;
    }
}

TEST(PictureLoader, ANameWithoutExtensionTriesEveryLoader) {
    TBytesStream stream(test::MakeBmp24(*test::MakeGradient(3, 3)));
    TRef<TImage> image = DecodePictureByName(stream, "picture");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Width(), 3);
}

} // namespace
} // namespace kiv

// The picture cache over file access: sharing by name and source, providers, the placeholder and
// two threads asking for one picture.
#include "images/PictureCache.h"
#include "PictureMaker.h"
#include "base/Sync.h"
#include "images/Placeholder.h"
#include "package/MemoryStream.h"
#include "package/RealFileSource.h"
#include "support/HermeticFolders.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

namespace kiv {
namespace {

using test::TBytes;

// Files held in memory; counts how often each name was opened.
class TCountingSource : public TFileSource {
public:
    void Put(const std::string& name, TBytes bytes) { files_[name] = std::move(bytes); }
    TRef<TStream> Open(const std::string& name) override {
        ++opens[name];
        auto found = files_.find(name);
        if (found == files_.end()) return nullptr;
        auto stream = MakeRef<TMemoryStream>();
        stream->WriteBuffer(found->second.data(), static_cast<std::int32_t>(found->second.size()));
        stream->SetPosition(0);
        return stream;
    }
    int Rotation(const std::string& name) const override { return name == "turned.bmp" ? 6 : 0; }

    std::map<std::string, int> opens;

private:
    std::map<std::string, TBytes> files_;
};

TBytes Bmp(int width, int height) {
    return test::MakeBmp24(*test::MakeGradient(width, height));
}

TRef<TFileAccessor> AccessorWith(TRef<TCountingSource>& source) {
    source = MakeRef<TCountingSource>();
    return MakeRef<TFileAccessor>(source);
}

std::uint32_t PixelAt(TBitmap& bitmap, int x, int y) {
    const std::uint8_t* p = bitmap.Row(y) + x * 4;
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

int CountPixels(TBitmap& bitmap, std::uint32_t argb, int fromY, int toY) {
    int count = 0;
    for (int y = fromY; y < toY; ++y)
        for (int x = 1; x + 1 < bitmap.Width(); ++x)
            count += PixelAt(bitmap, x, y) == argb;
    return count;
}

bool SamePixels(TBitmap& a, TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.Row(y), b.Row(y), a.RowBytes()) != 0) return false;
    return true;
}

TEST(PictureCache, TwoUsersOfOnePictureShareOneDecodedBitmap) {
    TRef<TCountingSource> source;
    TRef<TFileAccessor> accessor = AccessorWith(source);
    source->Put("a.bmp", Bmp(8, 6));
    const std::size_t before = LiveImageHandles();
    TRef<TImage> first = LoadCachedPicture(*accessor, "a.bmp");
    TRef<TImage> second = LoadCachedPicture(*accessor->Copy(), "A.BMP");
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.Get(), second.Get()) << "each user gets its own picture object";
    EXPECT_EQ(&first->Store(), &second->Store());
    EXPECT_EQ(first->Store().GetMipLevel(0).Get(), second->Store().GetMipLevel(0).Get());
    EXPECT_EQ(source->opens["a.bmp"], 1) << "decoded once";
    EXPECT_EQ(LiveImageHandles(), before + 1);
    EXPECT_EQ(first->Width(), 8);
    EXPECT_EQ(first->Height(), 6);

    first.Reset();
    EXPECT_EQ(LiveImageHandles(), before + 1) << "the second user still holds it";
    second.Reset();
    EXPECT_EQ(LiveImageHandles(), before);
    TRef<TImage> again = LoadCachedPicture(*accessor, "a.bmp");
    ASSERT_TRUE(again);
    EXPECT_EQ(source->opens["a.bmp"], 2) << "nobody held it, so it is decoded anew";
}

TEST(PictureCache, SameNameFromAnotherSourceIsDecodedAgain) {
    TRef<TCountingSource> one, two;
    TRef<TFileAccessor> showOne = AccessorWith(one);
    TRef<TFileAccessor> showTwo = AccessorWith(two);
    one->Put("p.bmp", Bmp(4, 4));
    two->Put("p.bmp", Bmp(10, 2));
    TRef<TImage> a = LoadCachedPicture(*showOne, "p.bmp");
    TRef<TImage> b = LoadCachedPicture(*showTwo, "p.bmp");
    ASSERT_TRUE(a && b);
    EXPECT_NE(&a->Store(), &b->Store());
    EXPECT_EQ(a->Width(), 4);
    EXPECT_EQ(b->Width(), 10);
}

TEST(PictureCache, ClonesKeepThePictureShared) {
    TRef<TCountingSource> source;
    TRef<TFileAccessor> accessor = AccessorWith(source);
    source->Put("c.bmp", Bmp(3, 3));
    const std::size_t before = LiveImageHandles();
    TRef<TImage> clone;
    {
        TRef<TImage> original = LoadCachedPicture(*accessor, "c.bmp");
        ASSERT_TRUE(original);
        clone = original->Clone();
    }
    EXPECT_EQ(LiveImageHandles(), before + 1);
    TRef<TImage> later = LoadCachedPicture(*accessor, "c.bmp");
    EXPECT_EQ(&later->Store(), &clone->Store());
    EXPECT_EQ(source->opens["c.bmp"], 1);
    clone.Reset();
    later.Reset();
    EXPECT_EQ(LiveImageHandles(), before);
}

TEST(PictureCache, SourceRotationTurnsThePicture) {
    TRef<TCountingSource> source;
    TRef<TFileAccessor> accessor = AccessorWith(source);
    source->Put("turned.bmp", Bmp(8, 2));
    TRef<TImage> picture = LoadCachedPicture(*accessor, "turned.bmp");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Width(), 2);
    EXPECT_EQ(picture->Height(), 8);
}

TEST(Placeholder, LinesSayWhatWentWrongAndNameTheFile) {
    EXPECT_EQ(PlaceholderLines("C:\\Show\\p.jpg", TPlaceholderKind::Image, false),
              (std::vector<std::string>{" Image not found ", " p.jpg "}));
    EXPECT_EQ(PlaceholderLines("img\\p.jpg", TPlaceholderKind::Image, true),
              (std::vector<std::string>{" Image load error: ", " p.jpg "}));
    EXPECT_EQ(PlaceholderLines("clip.mp4|2", TPlaceholderKind::Video, false),
              (std::vector<std::string>{" Video not found ", " clip.mp4 "}));
    EXPECT_EQ(PlaceholderLines("/v/clip.MOV", TPlaceholderKind::Video, true)[0], " Video load error: ");
    EXPECT_TRUE(IsVideoName("a\\CLIP.Mp4|2"));
    EXPECT_FALSE(IsVideoName("a\\clip.jpg"));
    EXPECT_FALSE(IsVideoName("mp4"));
}

TEST(PictureCache, MissingPictureGivesThePlaceholderInTwoGreys) {
    TRef<TCountingSource> source;
    TRef<TFileAccessor> accessor = AccessorWith(source);
    TRef<TImage> picture = LoadCachedPicture(*accessor, "p.jpg");
    ASSERT_TRUE(picture);
    TRef<TBitmap> bitmap = picture->Store().GetMipLevel(0, TPixelFormat::Bgra32);
    // Two text lines of a 20-pixel font with margins: a picture of a few dozen pixels each way.
    EXPECT_GE(bitmap->Height(), 40);
    EXPECT_LE(bitmap->Height(), 120);
    EXPECT_GE(bitmap->Width(), 100);
    EXPECT_LE(bitmap->Width(), 400);
    EXPECT_EQ(PixelAt(*bitmap, 0, 0), kPlaceholderInk) << "frame";
    const int half = bitmap->Height() / 2;
    EXPECT_GT(CountPixels(*bitmap, kPlaceholderBackground, 1, bitmap->Height() - 1), bitmap->Width() * 10);
    EXPECT_GT(CountPixels(*bitmap, kPlaceholderInk, 1, half), 20) << "first line drawn";
    EXPECT_GT(CountPixels(*bitmap, kPlaceholderInk, half, bitmap->Height() - 1), 5) << "second line drawn";

    TRef<TBitmapStore> expected = MakePlaceholderStore("p.jpg", TPlaceholderKind::Image, false);
    EXPECT_TRUE(SamePixels(*bitmap, *expected->GetMipLevel(0)));
    TRef<TBitmapStore> other = MakePlaceholderStore("p.jpg", TPlaceholderKind::Image, true);
    EXPECT_FALSE(SamePixels(*bitmap, *other->GetMipLevel(0)));
}

TEST(PictureCache, PlaceholderGrowsWithTheNameAndKeepsItsHeight) {
    TRef<TBitmapStore> shortName = MakePlaceholderStore("p.jpg", TPlaceholderKind::Image, false);
    TRef<TBitmapStore> longName =
        MakePlaceholderStore("a picture with a rather long file name.jpg", TPlaceholderKind::Image, false);
    EXPECT_GT(longName->Width(), shortName->Width() + 100);
    EXPECT_EQ(longName->Height(), shortName->Height());
}

TEST(PictureCache, FileThatDoesNotDecodeGivesTheLoadErrorPlaceholder) {
    TRef<TCountingSource> source;
    TRef<TFileAccessor> accessor = AccessorWith(source);
    source->Put("broken.jpg", TBytes{'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'});
    TRef<TImage> picture = LoadCachedPicture(*accessor, "broken.jpg");
    ASSERT_TRUE(picture);
    TRef<TBitmapStore> expected = MakePlaceholderStore("broken.jpg", TPlaceholderKind::Image, true);
    EXPECT_TRUE(SamePixels(*picture->Store().GetMipLevel(0), *expected->GetMipLevel(0)));

    TRef<TImage> video = LoadCachedPicture(*accessor, "movie.mp4");
    ASSERT_TRUE(video);
    TRef<TBitmapStore> videoExpected = MakePlaceholderStore("movie.mp4", TPlaceholderKind::Video, false);
    EXPECT_TRUE(SamePixels(*video->Store().GetMipLevel(0), *videoExpected->GetMipLevel(0)));
}

TEST(PictureCache, MissingPictureOnDiskGivesThePlaceholder) {
    auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(test::THermeticFolders::Top().string()));
    TRef<TImage> picture = LoadCachedPicture(*accessor, "C:\\Show\\p.jpg");
    ASSERT_TRUE(picture);
    TRef<TBitmapStore> expected = MakePlaceholderStore("p.jpg", TPlaceholderKind::Image, false);
    EXPECT_TRUE(SamePixels(*picture->Store().GetMipLevel(0), *expected->GetMipLevel(0)));

    const TBytes bytes = Bmp(5, 7);
    std::ofstream((test::THermeticFolders::Top() / "Found.BMP").string(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    TRef<TImage> found = LoadCachedPicture(*accessor, "found.bmp");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Width(), 5);
    EXPECT_EQ(found->Height(), 7);
}

struct TProviderState {
    std::string answersTo;
    TRef<TRefObject> answer;
    std::atomic<int> calls{0};
};

TRef<TRefObject> Provide(void* data, const std::string& name) {
    auto* state = static_cast<TProviderState*>(data);
    ++state->calls;
    return name == state->answersTo ? state->answer : nullptr;
}

TEST(PictureCache, FirstProviderThatAnswersWinsBeforeTheFiles) {
    TRef<TCountingSource> source;
    TRef<TFileAccessor> accessor = AccessorWith(source);
    source->Put("derived:1", Bmp(2, 2));
    source->Put("plain.bmp", Bmp(6, 6));
    TProviderState first{"derived:1", MakeRef<TWrapperBitmapStore>("d", test::MakeGradient(11, 3))};
    TProviderState second{"derived:1", MakeRef<TWrapperBitmapStore>("e", test::MakeGradient(12, 3))};
    TRef<TCallbackHandle> one = source->AddPictureProvider(&Provide, &first);
    TRef<TCallbackHandle> two = source->AddPictureProvider(&Provide, &second);

    TRef<TImage> derived = LoadCachedPicture(*accessor, "derived:1");
    ASSERT_TRUE(derived);
    EXPECT_EQ(derived->Width(), 11);
    EXPECT_EQ(second.calls, 0);
    EXPECT_EQ(source->opens["derived:1"], 0);

    TRef<TImage> plain = LoadCachedPicture(*accessor, "plain.bmp");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->Width(), 6) << "names no provider knows come from the files";
    EXPECT_EQ(second.calls, 1);

    // A provider may answer with a picture; freeing a handle removes its provider.
    one.Reset();
    TProviderState third{"derived:2",
                         MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("f", test::MakeGradient(13, 3)))};
    TRef<TCallbackHandle> three = source->AddPictureProvider(&Provide, &third);
    TRef<TImage> fromImage = LoadCachedPicture(*accessor, "derived:2");
    ASSERT_TRUE(fromImage);
    EXPECT_EQ(fromImage->Width(), 13);
    EXPECT_EQ(first.calls, 2) << "asked for derived:1 and plain.bmp, not after its handle went";
}

// A provider that blocks until the test lets it go.
struct TBlockingProvider {
    TEvent entered;
    TEvent release;
    std::atomic<int> calls{0};
};

TRef<TRefObject> ProvideSlowly(void* data, const std::string& name) {
    auto* state = static_cast<TBlockingProvider*>(data);
    if (name != "slow") return nullptr;
    ++state->calls;
    state->entered.Set();
    state->release.WaitFor();
    return MakeRef<TWrapperBitmapStore>(name, test::MakeGradient(9, 9));
}

TEST(PictureCache, TwoThreadsAskingForOnePictureDecodeItOnceAndOthersLoadMeanwhile) {
    TRef<TCountingSource> source;
    TRef<TFileAccessor> accessor = AccessorWith(source);
    source->Put("other.bmp", Bmp(4, 4));
    TBlockingProvider provider;
    TRef<TCallbackHandle> handle = source->AddPictureProvider(&ProvideSlowly, &provider);

    TRef<TImage> first, second;
    std::thread a([&] { first = LoadCachedPicture(*accessor, "slow"); });
    ASSERT_TRUE(provider.entered.WaitFor(10000));
    std::thread b([&] { second = LoadCachedPicture(*accessor, "SLOW"); });
    // Another picture is not held up by the one being made.
    TRef<TImage> other = LoadCachedPicture(*accessor, "other.bmp");
    EXPECT_TRUE(other);
    provider.release.Set();
    a.join();
    b.join();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(provider.calls, 1);
    EXPECT_EQ(&first->Store(), &second->Store());
}

TEST(PictureCache, ManyThreadsLoadingAndFreeingKeepTheCountsRight) {
    TRef<TCountingSource> source;
    TRef<TFileAccessor> accessor = AccessorWith(source);
    for (int i = 0; i < 4; ++i)
        source->Put("m" + std::to_string(i) + ".bmp", Bmp(4 + i, 4));
    const std::size_t before = LiveImageHandles();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&accessor, t] {
            for (int round = 0; round < 200; ++round) {
                const int i = (round + t) % 4;
                TRef<TImage> picture = LoadCachedPicture(*accessor, "m" + std::to_string(i) + ".bmp");
                if (!picture || picture->Width() != 4 + i) std::abort();
                TRef<TImage> clone = picture->Clone();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(LiveImageHandles(), before);
}

} // namespace
} // namespace kiv

// Picture loading costs, each next to a reference measured in the same run:
//   JPEG level 0 and level 2 of a 24-megapixel photo through DecodePicture + GetMipLevel, against
//   libjpeg-turbo decoding the same file at the same scale into the same pixel format; the same
//   for a 5640 x 3172 progressive JPEG at quality 100;
//   the frame atlas of a 100-frame 1000 x 1000 GIF, against giflib reading all its frames plus
//   clearing a buffer of the atlas's size once;
//   halving a 6000 x 4000 picture (level 1 from level 0), against a plain 2 x 2 average.
// The test pictures are generated on first use under /tmp.
#include "BareJpeg.h"
#include "PictureMaker.h"
#include "images/PictureLoader.h"

#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <jpeglib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

using namespace kiv;

test::TBytes Cached(const std::string& path, test::TBytes (*make)()) {
    if (std::filesystem::exists(path)) {
        std::ifstream in(path, std::ios::binary);
        return test::TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    test::TBytes bytes = make();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

const test::TBytes& Photo() {
    static const test::TBytes bytes = Cached("/tmp/kiv_bench_photo_24mp.jpg", [] {
        return test::EncodeJpeg(*test::MakeGradient(6000, 4000, false, true), 90);
    });
    return bytes;
}

// A photo-sized progressive JPEG at quality 100 (as cjpeg -progressive -quality 100 writes it):
// every coefficient of the whole picture is kept until the last scan, unlike baseline files.
const test::TBytes& ProgressivePhoto() {
    static const test::TBytes bytes = Cached("/tmp/kiv_bench_progressive_q100.jpg", [] {
        TRef<TBitmap> picture = test::MakeGradient(5640, 3172, false, true);
        return test::EncodeJpegRows(
            picture->Width(), picture->Height(), 100, true,
            [&](int y, std::uint8_t* bgra) { std::memcpy(bgra, picture->Row(y), picture->RowBytes()); });
    });
    return bytes;
}

const test::TBytes& Animation() {
    static const test::TBytes bytes = Cached("/tmp/kiv_bench_100_frames.gif", [] {
        test::TGifSpec spec;
        spec.width = 1000;
        spec.height = 1000;
        for (int i = 0; i < 256; ++i)
            spec.palette.insert(spec.palette.end(),
                                {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 9});
        for (int k = 0; k < 100; ++k) {
            std::vector<std::uint8_t> indices(200 * 200);
            for (std::size_t i = 0; i < indices.size(); ++i)
                indices[i] = static_cast<std::uint8_t>((i / 200 + i % 200 + k) & 255);
            spec.frames.push_back(
                {(k * 8) % 800, (k * 5) % 800, 200, 200, std::move(indices), k % 4, 7, 4, false});
        }
        return test::EncodeGif(spec);
    });
    return bytes;
}

void LoadJpeg(benchmark::State& state, int level, const test::TBytes& file = Photo()) {
    test::TBytesStream stream(file);
    for (auto _ : state) {
        stream.SetPosition(0);
        TRef<TImage> image = DecodePictureByName(stream, "photo.jpg");
        benchmark::DoNotOptimize(image->Store().GetMipLevel(level, TPixelFormat::Bgra32)->Row(0));
    }
}

void ReferenceJpeg(benchmark::State& state, int denominator, const test::TBytes& file = Photo()) {
    for (auto _ : state)
        bench::BareJpegDecode(file, static_cast<unsigned>(denominator));
}

void BM_JpegLevel0_Reference(benchmark::State& state) {
    ReferenceJpeg(state, 1);
}
void BM_JpegLevel0_LoadPicture(benchmark::State& state) {
    LoadJpeg(state, 0);
}
void BM_JpegLevel2_Reference(benchmark::State& state) {
    ReferenceJpeg(state, 4);
}
void BM_JpegLevel2_LoadPicture(benchmark::State& state) {
    LoadJpeg(state, 2);
}
BENCHMARK(BM_JpegLevel0_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegLevel0_LoadPicture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegLevel2_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegLevel2_LoadPicture)->Unit(benchmark::kMillisecond);

void BM_ProgressiveQ100Level0_Reference(benchmark::State& state) {
    ReferenceJpeg(state, 1, ProgressivePhoto());
}
void BM_ProgressiveQ100Level0_LoadPicture(benchmark::State& state) {
    LoadJpeg(state, 0, ProgressivePhoto());
}
void BM_ProgressiveQ100Level2_Reference(benchmark::State& state) {
    ReferenceJpeg(state, 4, ProgressivePhoto());
}
void BM_ProgressiveQ100Level2_LoadPicture(benchmark::State& state) {
    LoadJpeg(state, 2, ProgressivePhoto());
}
BENCHMARK(BM_ProgressiveQ100Level0_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgressiveQ100Level0_LoadPicture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgressiveQ100Level2_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgressiveQ100Level2_LoadPicture)->Unit(benchmark::kMillisecond);

int ReadGif(GifFileType* gif, GifByteType* out, int count) {
    auto* cursor = static_cast<std::pair<const std::uint8_t*, std::size_t>*>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), cursor->second);
    std::memcpy(out, cursor->first, n);
    cursor->first += n;
    cursor->second -= n;
    return static_cast<int>(n);
}

void BM_GifAtlas_ReferenceSlurp(benchmark::State& state) {
    const test::TBytes& file = Animation();
    for (auto _ : state) {
        std::pair<const std::uint8_t*, std::size_t> cursor{file.data(), file.size()};
        int error = 0;
        GifFileType* gif = DGifOpen(&cursor, ReadGif, &error);
        DGifSlurp(gif);
        benchmark::DoNotOptimize(gif->ImageCount);
        // Writing an atlas of the same size once: 26 frames of 1000 x 1000 in 32 bits.
        auto atlas = std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t{26000} * 1000 * 4);
        std::memset(atlas.get(), 0, std::size_t{26000} * 1000 * 4);
        benchmark::DoNotOptimize(atlas.get());
        DGifCloseFile(gif, &error);
    }
}
void BM_GifAtlas_LoadPicture(benchmark::State& state) {
    test::TBytesStream stream(Animation());
    for (auto _ : state) {
        stream.SetPosition(0);
        TRef<TImage> image = DecodePictureByName(stream, "anim.gif|framesatlas");
        benchmark::DoNotOptimize(image->Store().GetMipLevel(0)->Row(0));
    }
}
BENCHMARK(BM_GifAtlas_ReferenceSlurp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifAtlas_LoadPicture)->Unit(benchmark::kMillisecond);

TRef<TBitmap> LargePicture() {
    static TRef<TBitmap> picture =
        ConvertBitmap(*test::MakeGradient(6000, 4000, false, true), TPixelFormat::Bgr24);
    return picture;
}

void BM_Reduce6000x4000_ReferenceBoxAverage(benchmark::State& state) {
    TRef<TBitmap> source = LargePicture();
    for (auto _ : state) {
        auto target = MakeRef<TBitmap>(3000, 2000, TPixelFormat::Bgr24, false);
        for (int y = 0; y < 2000; ++y) {
            const std::uint8_t* a = source->Row(2 * y);
            const std::uint8_t* b = source->Row(2 * y + 1);
            std::uint8_t* out = target->Row(y);
            for (int x = 0; x < 3000 * 3; ++x) {
                const int i = (x / 3) * 6 + x % 3;
                out[x] = static_cast<std::uint8_t>((a[i] + a[i + 3] + b[i] + b[i + 3]) >> 2);
            }
        }
        benchmark::DoNotOptimize(target->Row(0));
    }
}
void BM_Reduce6000x4000_Level1(benchmark::State& state) {
    TRef<TBitmap> source = LargePicture();
    for (auto _ : state)
        benchmark::DoNotOptimize(ReduceBitmap(*source)->Row(0));
}
BENCHMARK(BM_Reduce6000x4000_ReferenceBoxAverage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reduce6000x4000_Level1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

#include "ClipMaker.h"
#include "PictureMaker.h"
#include "base/Log.h"
#include "package/MemoryStream.h"
#include "support/LogCapture.h"
#include "support/ThreadNames.h"
#include "video/FFMpegDll.h"
#include "video/KivVideo.h"
#include "video/VideoExtractor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace kiv {
namespace {

TRef<TStream> StreamOf(const std::vector<std::uint8_t>& bytes) {
    auto stream = MakeRef<TMemoryStream>();
    if (!bytes.empty()) stream->WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return stream;
}

TRef<TKivVideoExtractor> Extractor(const std::vector<std::uint8_t>& clip, const char* name, bool loop) {
    std::string error;
    auto source = TWinVideoSource::Open(StreamOf(clip), name, error);
    EXPECT_TRUE(source) << error;
    if (!source) return {};
    return MakeRef<TKivVideoExtractor>(std::move(source), loop);
}

// The frame the extractor hands out for `t` once it was decoded, with its mean luma.
struct TShown {
    std::int64_t frame = -2;
    bool exact = false;
    double luma = -1;
};
TShown ShowAt(TKivVideoExtractor& extractor, double t) {
    TShown shown;
    EXPECT_TRUE(extractor.Request(t, true));
    TKivVideoExtractor::TTaken taken = extractor.Take(t);
    if (!taken.image) return shown;
    shown.frame = taken.frame;
    shown.exact = taken.exact;
    double sum = 0;
    const TYUVImage& image = *taken.image;
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x)
            sum += image.Plane(0)[y * image.Stride(0) + x];
    shown.luma = sum / (image.Width() * image.Height());
    extractor.PutBack(taken.image);
    return shown;
}

int FrameOfLuma(double luma) {
    return static_cast<int>(std::lround((luma - 20) / 6));
}

TEST(VideoFrames, EachShowTimeGetsItsExactFrameSeekingBackwardsAndForwards) {
    test::TClipSpec lossless; // ffv1 in Matroska: every frame a key frame
    test::TClipSpec predicted;
    predicted.codec = "mpeg4";
    predicted.format = "mp4";
    predicted.extension = ".mp4";
    predicted.gop = 8; // seeks land on a key frame up to 7 frames early
    predicted.bFrames = 2;
    // 30 frames at 25 fps: frame n covers (n − 0.5) × 40 … (n + 0.5) × 40 ms; a time half way
    // between two frames shows the even one.
    const struct {
        double t;
        int frame;
    } kSteps[] = {{0, 0},   {19, 0},   {21, 1},   {100, 2},   {1000, 25}, {1000, 25}, {420, 10}, {61, 2},
                  {459, 11}, {899, 22}, {1095, 27}, {1180, 29}, {9000, 29}, {-50, 0},   {180, 4}, {220, 6}};
    for (const test::TClipSpec* spec : {&lossless, &predicted}) {
        SCOPED_TRACE(spec->codec);
        const std::vector<std::uint8_t> clip = test::MakeClip(*spec);
        TRef<TKivVideoExtractor> extractor = Extractor(clip, spec->extension, false);
        ASSERT_TRUE(extractor);
        EXPECT_EQ(extractor->Params().width, 64);
        EXPECT_EQ(extractor->Params().frameCount, 30);
        EXPECT_DOUBLE_EQ(extractor->Params().fps, 25.0);
        for (const auto& step : kSteps) {
            const bool repeated = &step != &kSteps[0] && step.t == (&step)[-1].t;
            // The last Take asked for the next frame in advance: let that decoding end first.
            if (repeated) {
                EXPECT_TRUE(extractor->Request(step.t + 40, true));
            }
            const std::int64_t before = extractor->Decodes();
            const TShown shown = ShowAt(*extractor, step.t);
            EXPECT_EQ(shown.frame, step.frame) << "at " << step.t << " ms";
            EXPECT_TRUE(shown.exact) << "at " << step.t << " ms";
            EXPECT_EQ(FrameOfLuma(shown.luma), step.frame) << "pixels at " << step.t << " ms: " << shown.luma;
            if (repeated) {
                EXPECT_EQ(extractor->Decodes(), before) << "a frame asked again is not decoded again";
            }
        }
        EXPECT_EQ(extractor->Failures(), 0);
        EXPECT_TRUE(test::HasThread("kivVideoFrames"));
        extractor->Stop();
        EXPECT_TRUE(extractor->Finished());
    }
    EXPECT_FALSE(test::HasThread("kivVideoFrames")) << "every worker is joined";
}

// An MPEG-2 program stream has no index: a seek into its last group of pictures may land where no
// picture can be decoded before the end. Every frame of it must still be shown, and a time after
// the end holds the last one.
TEST(VideoFrames, EveryFrameOfAnMpeg2ProgramStreamShowsAfterASeekToTheEnd) {
    test::TClipSpec spec;
    spec.codec = "mpeg2video";
    spec.format = "mpeg";
    spec.extension = ".mpg";
    spec.width = 128;
    spec.height = 96;
    spec.frames = 38; // the last group of pictures begins at frame 36
    spec.gop = 12;
    spec.bFrames = 2;
    const std::vector<std::uint8_t> clip = test::MakeClip(spec);
    const std::string log = test::LoggedWhile([&] {
        for (const int frame : {37, 36, 30, 24, 35, 37, 10, 33}) {
            // A new source for every seek that starts from afar, and one source going on.
            TRef<TKivVideoExtractor> fresh = Extractor(clip, "end.mpg", false);
            ASSERT_TRUE(fresh);
            const TShown shown = ShowAt(*fresh, frame * 40.0);
            EXPECT_EQ(FrameOfLuma(shown.luma), frame) << frame;
        }
        TRef<TKivVideoExtractor> one = Extractor(clip, "end.mpg", false);
        ASSERT_TRUE(one);
        for (const double t : {1480.0, 1000.0, 1440.0, 1400.0, 5000.0, 1360.0})
            EXPECT_EQ(FrameOfLuma(ShowAt(*one, t).luma), std::min(37, static_cast<int>(t / 40))) << t;
        EXPECT_EQ(one->Failures(), 0);
    });
    EXPECT_EQ(log.find("Error="), std::string::npos) << log;
}

// A clip opened again (every slide that shows it is built anew) is known from the first probe; its
// frames come out as before. A file of the same name with other bytes is probed afresh; a program
// stream, whose streams are found only by reading, is probed every time.
TEST(VideoFrames, AClipOpenedAgainIsNotProbedAgain) {
    test::TClipSpec spec;
    spec.codec = "mpeg4";
    spec.format = "mp4";
    spec.extension = ".mp4";
    spec.gop = 8;
    const std::vector<std::uint8_t> clip = test::MakeClip(spec);
    spec.frames = 20;
    const std::vector<std::uint8_t> other = test::MakeClip(spec);
    const TFFMpegDll& library = TFFMpegDll::Shared();
    const std::int64_t before = library.Probes();
    for (int round = 0; round < 3; ++round) {
        TRef<TKivVideoExtractor> extractor = Extractor(clip, "again.mp4", false);
        ASSERT_TRUE(extractor);
        EXPECT_EQ(library.Probes(), before + 1) << "round " << round;
        EXPECT_EQ(extractor->Params().frameCount, 30);
        EXPECT_DOUBLE_EQ(extractor->Params().fps, 25.0);
        for (const double t : {520.0, 40.0, 1160.0})
            EXPECT_EQ(FrameOfLuma(ShowAt(*extractor, t).luma), static_cast<int>(t / 40)) << t;
    }
    TRef<TKivVideoExtractor> changed = Extractor(other, "again.mp4", false);
    ASSERT_TRUE(changed);
    EXPECT_EQ(library.Probes(), before + 2);
    EXPECT_EQ(changed->Params().frameCount, 20);
    spec.codec = "mpeg2video";
    spec.format = "mpeg";
    spec.extension = ".mpg";
    const std::vector<std::uint8_t> program = test::MakeClip(spec);
    for (int round = 0; round < 2; ++round)
        ASSERT_TRUE(Extractor(program, "program.mpg", false));
    EXPECT_EQ(library.Probes(), before + 4);
}

// Interlaced MPEG-4 in AVI (made by ffmpeg, bottom field first) does not say so in its stream: the
// first decoded frames do. A progressive clip stays progressive.
TEST(VideoFrames, TheFieldOrderComesFromTheFirstDecodedFrames) {
    if (std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the ffmpeg program is not installed (scripts/install-deps.sh installs it)";
    const std::string path = testing::TempDir() + "interlaced_" + std::to_string(::getpid()) + ".avi";
    const std::string command = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=s=128x96:r=25:d=1 "
                                "-vf setfield=bff -flags +ildct+ilme -c:v mpeg4 -top 0 " + path;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    std::remove(path.c_str());
    for (int round = 0; round < 2; ++round) { // probed, then known
        TRef<TKivVideoExtractor> extractor = Extractor(bytes, "interlaced.avi", false);
        ASSERT_TRUE(extractor);
        EXPECT_TRUE(extractor->Params().interlaced);
        EXPECT_TRUE(extractor->Params().bottomFieldFirst);
        EXPECT_GE(ShowAt(*extractor, 200).frame, 0); // its frames decode
    }
    TRef<TKivVideoExtractor> progressive = Extractor(test::MakeClip(test::TClipSpec{}), "flat.mkv", false);
    ASSERT_TRUE(progressive);
    EXPECT_FALSE(progressive->Params().interlaced);
}

// The grey and RGB outputs of a clip: the grey table maps video-range luma onto 5-6-5 greys, and RGB
// is the frame's RGBA without its alpha.
TEST(VideoFrames, GreyAndRgbFramesOfAClip) {
    EXPECT_EQ(TWinVideoSource::GreyOf(0), 4 * 32 + 2 * 2049);      // e = 16
    EXPECT_EQ(TWinVideoSource::GreyOf(255), 58 * 32 + 29 * 2049);  // e = 235
    EXPECT_EQ(TWinVideoSource::GreyOf(128), 31 * 32 + 15 * 2049);  // e = 125
    test::TClipSpec spec; // ffv1: lossless
    spec.painter = [](int n, int x, int, int& y, int& u, int& v) {
        y = test::FrameLuma(n);
        u = x < 32 ? 90 : 160;
        v = 128;
    };
    std::string error;
    auto source = TWinVideoSource::Open(StreamOf(test::MakeClip(spec)), "colours.mkv", error);
    ASSERT_TRUE(source) << error;
    auto grey = MakeRef<TBitmap>(64, 48, TPixelFormat::Rgb565);
    ASSERT_TRUE(source->GetGreyFrame(7, *grey));
    std::uint16_t pixel = 0;
    std::memcpy(&pixel, grey->Row(20) + 2 * 50, 2);
    EXPECT_EQ(pixel, TWinVideoSource::GreyOf(test::FrameLuma(7)));
    auto rgb = MakeRef<TBitmap>(64, 48, TPixelFormat::Bgr24);
    ASSERT_TRUE(source->GetFrame24(7, *rgb));
    TYUVImage rgba(64, 48, true);
    ASSERT_TRUE(source->GetFrame(7, rgba));
    for (const int x : {5, 50}) {
        const std::uint8_t* want = rgba.Plane(0) + 20 * rgba.Stride(0) + 4 * x;
        const std::uint8_t* got = rgb->Row(20) + 3 * x;
        EXPECT_EQ(got[0], want[2]) << x;
        EXPECT_EQ(got[1], want[1]) << x;
        EXPECT_EQ(got[2], want[0]) << x;
    }
    EXPECT_NE(rgb->Row(20)[3 * 5], rgb->Row(20)[3 * 50]); // the two halves differ in blue
    auto wrong = MakeRef<TBitmap>(10, 10, TPixelFormat::Bgr24);
    const std::string log = test::LoggedWhile([&] { EXPECT_FALSE(source->GetFrame24(3, *wrong)); });
    EXPECT_NE(log.find("RGB data not found"), std::string::npos);
}

TEST(VideoFrames, ALoopingClipWrapsWhereAStoppingOneHoldsItsLastFrame) {
    test::TClipSpec spec;
    spec.frames = 10; // 400 ms
    const std::vector<std::uint8_t> clip = test::MakeClip(spec);
    TRef<TKivVideoExtractor> looping = Extractor(clip, "loop.mkv", true);
    TRef<TKivVideoExtractor> stopping = Extractor(clip, "stop.mkv", false);
    ASSERT_TRUE(looping && stopping);
    const struct {
        double t;
        int looped, stopped;
    } kSteps[] = {{360, 9, 9}, {400, 0, 9}, {445, 1, 9}, {800, 0, 9}, {1195, 0, 9}, {1230, 1, 9}, {80, 2, 2}};
    for (const auto& step : kSteps) {
        EXPECT_EQ(FrameOfLuma(ShowAt(*looping, step.t).luma), step.looped) << "looping at " << step.t;
        EXPECT_EQ(FrameOfLuma(ShowAt(*stopping, step.t).luma), step.stopped) << "stopping at " << step.t;
    }
}

TEST(VideoFrames, ClipTimeFollowsStartSpeedAndDuration) {
    // StartKIVTime 1000, StartVideoTime 500, 2000 ms of clip.
    TVideoKeys keys;
    keys.startKivTime = 1000;
    keys.startVideoTime = 500;
    keys.duration = 2000;
    const struct {
        double m, x, clip;
    } kCases[] = {
        {1, 0, 500},     {1, 999, 500},     {1, 1000, 500},    {1, 1800, 1300},
        {1, 3000, 2500}, {1, 9000, 2500},   {2, 1500, 1500},   {2, 2000, 2500},
        {2, 5000, 2500}, {0.5, 3000, 1500}, {0.5, 6000, 2500},
    };
    for (const auto& c : kCases) {
        keys.fpsMultiplier = c.m;
        EXPECT_DOUBLE_EQ(VideoClipTime(keys, c.x, 60000), c.clip) << "speed " << c.m << " at " << c.x;
    }
    // Without a duration the clip runs to the end of the file.
    keys.duration = 0;
    keys.fpsMultiplier = 1;
    EXPECT_DOUBLE_EQ(VideoClipTime(keys, 99000, 4000), 4000);
}

TEST(VideoFrames, ALongGifPlaysToItsLastPictureComposedFromKeyFramesInAnyOrder) {
    // 450 pictures on a 256 × 256 screen (all composed: 118 MB), picture i a 4 × 4 mark in cell i;
    // the marks of pictures 4, 14, … are cleared and those of 9, 19, … restored away after them.
    constexpr int kPictures = 450, kSide = 256, kCells = kSide / 4;
    test::TGifSpec gif;
    gif.width = gif.height = kSide;
    gif.palette.assign(768, 0);
    gif.palette[3] = 255, gif.palette[7] = 255;
    gif.loopCount = 0;
    const auto kept = [](int i) { return i % 10 != 4 && i % 10 != 9; };
    for (int i = 0; i < kPictures; ++i)
        gif.frames.push_back({(i % kCells) * 4, (i / kCells) * 4, 4, 4,
                              std::vector<std::uint8_t>(16, static_cast<std::uint8_t>(1 + i % 2)),
                              i % 10 == 4   ? 2
                              : i % 10 == 9 ? 3
                                            : 0,
                              -1, 10, false});
    const test::TBytes bytes = test::EncodeGif(gif);
    TRef<TStream> stream = StreamOf({bytes.begin(), bytes.end()});
    std::string error;
    std::unique_ptr<TGifVideoSource> source = TGifVideoSource::Open(*stream, error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->PictureCount(), kPictures);
    EXPECT_EQ(source->Params().frameCount, kPictures);
    EXPECT_LT(source->HeldBytes(), std::int64_t{kPictures} * kSide * kSide) << "a quarter of all composed";
    TYUVImage image(kSide, kSide, true);
    for (const int n : {0, 9, 10, 11, 25, 19, 20, 21, 399, 400, 449, 5, 448, 449}) {
        ASSERT_TRUE(source->GetFrame(n, image)) << n;
        for (int i = 0; i < kPictures; ++i) {
            const std::uint8_t* p =
                image.Plane(0) + image.Stride(0) * ((i / kCells) * 4 + 1) + 4 * ((i % kCells) * 4 + 2);
            const bool marked = i == n || (i < n && kept(i));
            ASSERT_EQ(p[3], marked ? 255 : 0) << "cell " << i << " of frame " << n;
            if (marked) {
                ASSERT_EQ(p[i % 2 == 0 ? 0 : 1], 255) << "cell " << i << " of frame " << n;
            }
        }
    }
}

TEST(VideoFrames, AnimatedGifsPlayAtTheRateOfTheirShortestDelayAndLoopAsTheySay) {
    // Three full-screen frames, red, green and blue, shown 50 ms (a delay of 0), 100 ms and 50 ms.
    test::TGifSpec gif;
    gif.width = 8;
    gif.height = 4;
    gif.palette.assign(768, 0);
    gif.palette[0] = 255, gif.palette[4] = 255, gif.palette[8] = 255;
    for (int i = 0; i < 3; ++i)
        gif.frames.push_back({0, 0, 8, 4, std::vector<std::uint8_t>(32, static_cast<std::uint8_t>(i)), 0, -1,
                              i == 1 ? 10 : 0, false});
    const struct {
        int loops;
        std::int64_t frames;
        std::vector<std::pair<double, int>> shown; // time, colour index
    } kCases[] = {
        {0, 4, {{0, 0}, {60, 1}, {120, 1}, {160, 2}, {210, 0}, {260, 1}, {1160, 2}}},
        {2, 1000000, {{0, 0}, {260, 1}, {360, 2}, {450, 2}, {5000, 2}, {60, 1}}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.loops);
        gif.loopCount = c.loops;
        const test::TBytes bytes = test::EncodeGif(gif);
        TRef<TStream> stream = StreamOf({bytes.begin(), bytes.end()});
        std::string error;
        std::unique_ptr<TGifVideoSource> source = TGifVideoSource::Open(*stream, error);
        ASSERT_TRUE(source) << error;
        EXPECT_DOUBLE_EQ(source->Params().fps, 20.0);
        EXPECT_EQ(source->Params().frameCount, c.frames);
        EXPECT_FALSE(source->Params().yuv);
        auto extractor = MakeRef<TKivVideoExtractor>(std::move(source), true);
        for (const auto& [t, colour] : c.shown) {
            ASSERT_TRUE(extractor->Request(t, true));
            TKivVideoExtractor::TTaken taken = extractor->Take(t);
            ASSERT_TRUE(taken.image);
            const std::uint8_t* rgba = taken.image->Plane(0) + taken.image->Stride(0) * 2 + 4 * 3;
            EXPECT_EQ(rgba[colour], 255) << "at " << t << " ms";
            EXPECT_EQ(rgba[(colour + 1) % 3], 0) << "at " << t << " ms";
            EXPECT_EQ(rgba[3], 255);
            extractor->PutBack(taken.image);
        }
    }
}

TEST(VideoBadInput, BrokenClipsAreRefusedOrEndWithoutHangingTheWorker) {
    test::TClipSpec spec;
    const std::vector<std::uint8_t> good = test::MakeClip(spec);
    std::vector<std::uint8_t> truncated(good.begin(),
                                        good.begin() + static_cast<std::ptrdiff_t>(good.size() * 6 / 10));
    test::TClipSpec empty;
    empty.frames = 0;
    std::vector<std::uint8_t> unknown = good;
    // The codec's name in the container becomes one no decoder knows.
    for (std::size_t i = 0; i + 4 <= unknown.size(); ++i)
        if (std::memcmp(&unknown[i], "FFV1", 4) == 0) std::memcpy(&unknown[i], "QZX9", 4);
    const std::string text = "This is not a video, only text that pretends to be one.\n";
    std::string y4m = "YUV4MPEG2 W16000 H16000 F25:1 Ip A1:1 C420jpeg\nFRAME\n";
    y4m.append(4096, '\x80');
    // Within the side limit but beyond the area of 8K.
    std::string square = "YUV4MPEG2 W8192 H8192 F25:1 Ip A1:1 C420jpeg\nFRAME\n";
    square.append(4096, '\x80');
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* name;
    } kCases[] = {
        {"truncated", truncated, "cut.mkv"},
        {"text", {text.begin(), text.end()}, "text.mp4"},
        {"no frames", test::MakeClip(empty), "empty.mkv"},
        {"unknown codec", unknown, "odd.mkv"},
        {"16000 x 16000", {y4m.begin(), y4m.end()}, "huge.y4m"},
        {"8192 x 8192", {square.begin(), square.end()}, "square.y4m"},
        {"nothing", {}, "zero.mp4"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::string error;
        std::unique_ptr<TWinVideoSource> source = TWinVideoSource::Open(StreamOf(c.bytes), c.name, error);
        if (!source) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        // Only the cut clip opens: the frames it still has are served, the others fail or stand in
        // for the last one; every request returns.
        EXPECT_STREQ(c.what, "truncated");
        auto extractor = MakeRef<TKivVideoExtractor>(std::move(source), false);
        for (double t : {0.0, 1160.0, 400.0, 1160.0})
            EXPECT_TRUE(extractor->Request(t, true));
        EXPECT_TRUE(ShowAt(*extractor, 0).exact);
        extractor->Stop();
    }
}

} // namespace
} // namespace kiv

#include "ClipMaker.h"
#include "VideoTestSupport.h"
#include "audio/MusicCompiler.h"
#include "audio/SoundSource.h"
#include "objects/ObjectHost.h"
#include "package/MemoryStream.h"
#include "support/IniText.h"
#include "support/LogCapture.h"
#include "support/ThreadNames.h"
#include "video/KivVideo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kiv {
namespace {

TEST(VideoObject, ABrokenOrMissingClipShowsTheVideoPlaceholderAndSaysWhy) {
    RegisterVideoObjects();
    RegisterVideoObjects(); // once only
    const std::vector<std::uint8_t> good = test::MakeClip({});
    const std::string text = "only text\n";
    const std::map<std::string, std::vector<std::uint8_t>> files{
        {"good.mkv", good},
        {"text.mp4", {text.begin(), text.end()}},
        {"cut.mkv", {good.begin(), good.begin() + 40}},
    };
    // The slide lives inside the capture: its objects log while they are built.
    const std::string log = test::LoggedWhile([&] {
        test::TTestSlide slide =
            test::MakeSlide(test::VideoObject("good", "FileName=good.mkv\nDeinterlaceType=Sideways\n") +
                                test::VideoObject("text", "FileName=text.mp4\n") +
                                test::VideoObject("cut", "FileName=cut.mkv\n") +
                                test::VideoObject("gone", "FileName=gone.mp4\n"),
                            0, 1600, 900, {}, files);
        const TKivVideo* ok = test::VideoOf(slide, "good");
        ASSERT_NE(ok, nullptr);
        ASSERT_NE(ok->Extractor(), nullptr);
        ASSERT_NE(ok->Picture(), nullptr);
        EXPECT_EQ(ok->Picture()->Width(), 64);
        EXPECT_EQ(ok->Picture()->Height(), 48);
        for (const char* guid : {"text", "cut", "gone"}) {
            SCOPED_TRACE(guid);
            const TKivVideo* broken = test::VideoOf(slide, guid);
            ASSERT_NE(broken, nullptr);
            EXPECT_EQ(broken->Extractor(), nullptr);
            ASSERT_NE(broken->Picture(), nullptr);
            EXPECT_GT(broken->Picture()->Width(), 0) << "the placeholder picture";
            EXPECT_GT(broken->Size().x, 0.0);
        }
        // The placeholder is drawn like a picture; a drawer that cannot show video draws no clip.
        test::TRecordingDrawer drawer;
        slide.Advance(500);
        drawer.Draw(*slide.slide);
        EXPECT_EQ(drawer.CallsOf("gone", "DrawImage").size(), 1u);
        EXPECT_EQ(drawer.CallsOf("good", "DrawImage").size(), 0u);
        ok->Extractor()->Request(0, true);
        EXPECT_TRUE(test::HasThread("kivVideoFrames"));
    });
    EXPECT_FALSE(test::HasThread("kivVideoFrames")) << "the object's worker ends with it";
    EXPECT_NE(log.find("Sideways"), std::string::npos) << "a bad deinterlace word is logged";
    for (const char* name : {"text.mp4", "cut.mkv", "gone.mp4"})
        EXPECT_NE(log.find(std::string("Video ") + name + " cannot be played"), std::string::npos) << log;
}

// Serves clips as streams that count the bytes read: the show's own files, and files on disk.
class TCountingStream final : public TMemoryStream {
public:
    explicit TCountingStream(const std::vector<std::uint8_t>& bytes) {
        WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        SetPosition(0);
    }
    std::int32_t Read(void* buffer, std::int32_t count) override {
        const std::int32_t got = TMemoryStream::Read(buffer, count);
        read += got;
        return got;
    }
    std::int64_t read = 0;
};

class TStreamHost final : public TKivObjectHost {
public:
    std::map<std::string, std::vector<std::uint8_t>> show, disk;
    std::vector<TRef<TCountingStream>> opened;
    TVec3 CameraPosition() const override { return {800, 450, -900}; }
    TRef<TStream> OpenFile(const std::string& name, bool fromDisk) override {
        for (const auto* files : {fromDisk ? &disk : &show, &show})
            if (const auto found = files->find(name); found != files->end())
                return opened.emplace_back(MakeRef<TCountingStream>(found->second));
        return nullptr;
    }
};

TEST(VideoObject, TheClipIsReadFromItsStreamAsItPlaysAndLoadFromDiskPrefersTheDisk) {
    // Frames of noise: a clip of 5 MB, more than the opening reads to learn the clip.
    test::TClipSpec big;
    big.width = 160;
    big.height = 120;
    big.frames = 250;
    big.painter = [](int n, int x, int y, int& Y, int& U, int& V) {
        const unsigned h = (static_cast<unsigned>(n) * 73856093u) ^ (static_cast<unsigned>(x) * 19349663u) ^
                           (static_cast<unsigned>(y) * 83492791u);
        Y = 16 + static_cast<int>((h * 2654435761u) >> 24) % 220;
        U = V = 128;
    };
    test::TClipSpec small;
    small.width = 32;
    small.height = 24;
    TStreamHost host;
    const std::vector<std::uint8_t> bigClip = test::MakeClip(big);
    host.show = {{"a.mkv", bigClip}, {"b.mkv", bigClip}};
    host.disk = {{"a.mkv", test::MakeClip(small)}};
    TRef<TIniFile> file = test::ParseIni("[Slide]\nobject Container:Root\nGUID=root\n" +
                                         test::VideoObject("show", "FileName=a.mkv\n") +
                                         test::VideoObject("disk", "FileName=a.mkv\nLoadFromDisk=1\n") +
                                         test::VideoObject("fallback", "FileName=b.mkv\nLoadFromDisk=1\n") +
                                         "end\n");
    auto slide = MakeRef<TKivSlide>(&host, 0);
    slide->SetSize(1600, 900);
    slide->SetCentre({800, 450});
    TSlideInfo times;
    times.sync = 9000;
    times.end = 10000;
    slide->SetTimes(times, 0);
    TKeyframeTiming timing;
    timing.build = timing.actual = DurationsOf(times);
    slide->Build(TKivSlide::RootObject(*file->FindSection("Slide")), timing);
    slide->Advance(true, 0);
    const struct {
        const char* guid;
        int width;
    } kShown[] = {{"show", 160}, {"disk", 32}, {"fallback", 160}};
    for (const auto& shown : kShown) {
        const auto* video = dynamic_cast<const TKivVideo*>(test::TTestSlide::Find(*slide, shown.guid));
        ASSERT_NE(video, nullptr);
        ASSERT_NE(video->Extractor(), nullptr) << shown.guid;
        EXPECT_EQ(video->Extractor()->Params().width, shown.width) << shown.guid;
        ASSERT_TRUE(video->Extractor()->Request(0, true));
    }
    ASSERT_EQ(host.opened.size(), 3u);
    for (const auto& stream : host.opened) {
        if (stream->GetSize() > 1000000) {
            EXPECT_LT(stream->read * 2, stream->GetSize()) << "the first frame needs only the file's start";
        }
    }
}

TEST(VideoObject, AClipOfTheTracksContinuesFromTheSlideWhereItBegan) {
    test::TClipSpec spec;
    spec.frames = 60;
    // The clip began at show time 4000, a second before this slide (which starts at 5000); the
    // root is closed here so that [Tracks] follows the slide's section.
    const std::string objects = test::VideoObject("v", "ClipGUID={C1}\n") +
                                "end\n[Tracks]\nobject Clip1:TVideoClip2\nGUID={C1}\nFileName=a.mkv\n"
                                "StartKIVTime=4000\nStartVideoTime=100\nDuration=2000\n";
    test::TTestSlide slide = test::MakeSlide(objects, 5000, 1600, 900, {}, {{"a.mkv", test::MakeClip(spec)}});
    const TKivVideo* video = test::VideoOf(slide, "v");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(video->Extractor(), nullptr) << "the file named by the track";
    const struct { double t, clip; } kSteps[] = {{5000, 1100}, {5400, 1500}, {6000, 2100}, {9000, 2100}};
    for (const auto& step : kSteps) {
        slide.Advance(step.t);
        EXPECT_DOUBLE_EQ(video->ClipTime(), step.clip) << "at " << step.t;
    }
}

TEST(VideoObject, DeinterlaceModesAndTheChromaKeyColour) {
    TVideoParams progressive, top, bottom;
    top.interlaced = bottom.interlaced = true;
    bottom.bottomFieldFirst = true;
    // "Auto" follows the clip, "Wave" draws both fields (blended before), "BobEven" and "BobOdd"
    // force a field.
    const int kModes[4][3] = {{0, 1, 2}, {0, 0, 0}, {1, 1, 1}, {2, 2, 2}};
    for (int type = 0; type < 4; ++type) {
        EXPECT_EQ(VideoDeinterlaceMode(type, progressive), kModes[type][0]) << type;
        EXPECT_EQ(VideoDeinterlaceMode(type, top), kModes[type][1]) << type;
        EXPECT_EQ(VideoDeinterlaceMode(type, bottom), kModes[type][2]) << type;
    }
    // "Wave" on combs (fields of 40 and 200, as a moving edge leaves them): every row (1 2 1) / 4
    // with its neighbours, the edge rows repeated, in the chroma planes too.
    TYUVImage combs(4, 8, false);
    for (int index = 0; index < 3; ++index)
        for (int y = 0; y < combs.PlaneHeight(index); ++y)
            std::memset(combs.Plane(index) + y * combs.Stride(index), y % 2 ? 200 : 40, combs.Stride(index));
    BlendVideoFields(combs);
    const int kLuma[8] = {80, 120, 120, 120, 120, 120, 120, 160};
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(combs.Plane(0)[y * combs.Stride(0) + 3], kLuma[y]) << y;
    EXPECT_EQ(combs.Plane(1)[1 * combs.Stride(1)], 120);
    // Video-range codes of pure green, red and grey.
    const struct {
        std::uint32_t argb;
        int u, v;
    } kKeys[] = {{0xFF00FF00u, 54, 34}, {0xFFFF0000u, 90, 240}, {0xFF808080u, 128, 128}};
    for (const auto& key : kKeys) {
        float u = 0, v = 0;
        ChromaKeyUV(key.argb, u, v);
        EXPECT_NEAR(u * 255, key.u, 1) << std::hex << key.argb;
        EXPECT_NEAR(v * 255, key.v, 1) << std::hex << key.argb;
    }
}

TEST(VideoSound, TheClipsSoundIsHeardWithTheFrameItBelongsTo) {
    // Silent until frame 12 (480 ms into the file), loud from there; frame n's luma encodes n.
    test::TClipSpec spec;
    spec.soundOnsetFrame = 12;
    const std::vector<std::uint8_t> clip = test::MakeClip(spec);
    const std::string object =
        test::VideoObject("v", "FileName=a.mkv\nStartKIVTime=300\nStartVideoTime=200\nDuration=1000\n");
    TRef<TIniFile> document =
        test::ParseIni("[Slide]\nobject Container:Root\nGUID=root\n" + object + "end\n");
    const std::vector<TVideoSound> sounds =
        SlideVideoSounds(*document, *document->FindSection("Slide"), 0, 10000);
    ASSERT_EQ(sounds.size(), 1u);
    // The show's check of sound files knows no video containers: the clip's sound stays.
    TCompiledSound compiled =
        CompileComment(nullptr, sounds, 10000, [](const std::string&) { return false; });
    ASSERT_EQ(compiled.composite.items.size(), 1u);
    std::unique_ptr<TSoundSource> sound = OpenCompositeSound(compiled.composite, [&](const std::string&) {
        auto stream = MakeRef<TMemoryStream>();
        stream->WriteBuffer(clip.data(), static_cast<std::int32_t>(clip.size()));
        return TRef<TStream>(stream);
    });
    ASSERT_TRUE(sound);
    // The slide time at which the sound starts, as the sound device plays the slide.
    std::vector<std::int16_t> block(2 * 441);
    double onset = -1;
    for (int read = 0; onset < 0 && read < 100; ++read) {
        const int got = sound->Read(block.data(), 441);
        ASSERT_GT(got, 0);
        for (int i = 0; i < got && onset < 0; ++i)
            if (std::abs(block[2 * i]) > 2000) onset = (read * 441 + i) * 1000.0 / kDeviceRate;
    }
    EXPECT_NEAR(onset, 300 + 480 - 200, 2);
    // The frame the video object shows then, and the frames around it.
    test::TTestSlide slide = test::MakeSlide(object, 0, 1600, 900, {}, {{"a.mkv", clip}});
    const TKivVideo* video = test::VideoOf(slide, "v");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(video->Extractor(), nullptr);
    for (const double delta : {-25.0, 0.0, 25.0}) {
        slide.Advance(onset + delta);
        const double t = video->ClipTime();
        video->Extractor()->Request(t, true);
        TKivVideoExtractor::TTaken taken = video->Extractor()->Take(t);
        ASSERT_TRUE(taken.image);
        const int luma = taken.image->Plane(0)[taken.image->Stride(0) * 10 + 10];
        video->Extractor()->PutBack(taken.image);
        const int shown = (luma - 20 + 3) / 6;
        EXPECT_LE(std::abs(shown - 12), 1) << "at " << delta << " ms from the sound's start";
        if (delta < 0) {
            EXPECT_LE(shown, 12);
        } else if (delta > 0) {
            EXPECT_GE(shown, 12);
        }
    }
}

} // namespace
} // namespace kiv

// A video on a slide of the interactive engine, stepped by the virtual clock: pausing the show
// holds the clip's frame, and a seek (paused or playing) shows the frame of the new time.
#include "ClipMaker.h"
#include "EngineTestSupport.h"
#include "package/FileAccessor.h"
#include "package/RealFileSource.h"
#include "video/KivVideo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace kiv {
namespace {

const TKivVideo* FindVideo(const TKivObject& object) {
    if (const auto* video = dynamic_cast<const TKivVideo*>(&object)) return video;
    for (int i = 0; i < object.ChildCount(); ++i)
        if (const TKivVideo* found = FindVideo(*object.Child(i))) return found;
    return nullptr;
}

TEST(VideoInTheEngine, PausingHoldsTheFrameAndASeekShowsTheFrameOfItsTime) {
    // 100 frames at 25 fps on the first slide (0 … 2000 ms), from the slide's start.
    test::TClipSpec spec;
    spec.frames = 100;
    const std::filesystem::path folder =
        std::filesystem::path(testing::TempDir()) / ("video_engine_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    {
        const std::vector<std::uint8_t> clip = test::MakeClip(spec);
        std::ofstream(folder / "clip.mkv", std::ios::binary)
            .write(reinterpret_cast<const char*>(clip.data()), static_cast<std::streamsize>(clip.size()));
    }
    test::TTestShowSpec show;
    show.effect = "";
    show.firstSlideObjects = "object Clip:Video\nGUID=clip\nFileName=clip.mkv\n"
                             "object k:KeyPoint\nTime=0\nScaleX=100\nScaleY=100\nend\nend\n";
    auto files = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>(folder.string()), folder.string());
    THeadlessPlayer player(files, test::ParseIni(test::EngineShowText(show)), test::RigOptions());
    TKivEngine& engine = player.Engine();
    const auto step = [&](double ms) {
        engine.AdvanceClock(ms);
        engine.StepOnce();
        if (auto* app = dynamic_cast<TWinApplication*>(TApplication::Instance())) app->ProcessPending();
    };
    // The frame the video object shows after the engine settled on the current time: the worker
    // may still be decoding, so a few passes (the clock standing still) are allowed for it.
    const auto shown = [&] {
        std::int64_t frame = -1;
        for (int pass = 0; pass < 50; ++pass) {
            step(0);
            const TKivVideo* video = nullptr;
            for (int layer = 0; !video && layer < engine.Root().LayerCount(); ++layer)
                if (const auto* slide = dynamic_cast<const TKivObject*>(engine.Root().Layer(layer)))
                    video = FindVideo(*slide);
            if (!video || !video->Extractor()) continue;
            video->Extractor()->Request(video->ClipTime(), true);
            frame = video->ShownFrame();
            if (frame == video->Extractor()->FrameFor(video->ClipTime())) break;
        }
        return frame;
    };
    while (engine.CurrentTime() < 1000)
        step(10);
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 1000);
    EXPECT_EQ(shown(), 25);

    engine.Queue().Post(kEngineMode, new TModeData(true));
    step(0);
    ASSERT_TRUE(engine.Paused());
    for (int i = 0; i < 3; ++i) {
        step(700);
        EXPECT_DOUBLE_EQ(engine.CurrentTime(), 1000);
        EXPECT_EQ(shown(), 25) << "a paused show holds its frame";
    }
    // Seeks while paused, backwards and forwards, then playing on from the last one.
    const struct {
        double time;
        std::int64_t frame;
    } kSeeks[] = {{400, 10}, {1600, 40}, {0, 0}, {1220, 30}}; // 30.5 frames: the even one
    for (const auto& seek : kSeeks) {
        engine.Queue().Post(kEngineOpen, new TOpenParams(false, engine.NextRequestId(), nullptr, nullptr,
                                                         static_cast<int>(seek.time)));
        step(0);
        EXPECT_DOUBLE_EQ(engine.CurrentTime(), seek.time);
        EXPECT_EQ(shown(), seek.frame) << "after a seek to " << seek.time;
    }
    engine.Queue().Post(kEngineMode, new TModeData(false));
    step(0);
    for (int i = 0; i < 20; ++i)
        step(10);
    EXPECT_DOUBLE_EQ(engine.CurrentTime(), 1420);
    EXPECT_EQ(shown(), 36);
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace kiv

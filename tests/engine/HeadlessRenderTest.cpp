// Headless playback end to end: `kivviewer SHOW -render OUT` on a hand-made show, its frames
// compared byte for byte with `kivtool slide` outside transitions and with `kivtool frame`, two
// renders of the same show identical, bad switch values refused, nothing left in the temporary
// folder.
#include "EngineTestSupport.h"

#include "support/HermeticFolders.h"
#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kiv {
namespace {

namespace fs = std::filesystem;

const auto* const kHermetic = ::testing::AddGlobalTestEnvironment(new test::THermeticFolders);

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string FrameName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06d.png", number);
    return name;
}

class HeadlessRender : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ =
            test::THermeticFolders::Top() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(dir_);
        show_ = dir_ / "Show.kiv";
        std::ofstream(show_) << test::EngineShowText();
    }
    test::TRunResult Run(const std::string& program, const std::vector<std::string>& args) {
        return test::RunProgram(program, args, dir_, "SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy");
    }
    fs::path dir_;
    fs::path show_;
};

#if defined(KIVVIEWER_PATH) && defined(KIVTOOL_PATH)
TEST_F(HeadlessRender, EveryFrameOutsideTransitionsIsTheSlideAsKivtoolDrawsIt) {
    const fs::path out = dir_ / "frames";
    const test::TRunResult run = Run(KIVVIEWER_PATH, {"-filename", show_.string(), "-render", out.string(),
                                                      "-size", "64x36", "-fps", "10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // One pass of a 6 s show at 10 fps: frames for 0, 100, … 5900 ms.
    int count = 0;
    for (const auto& entry : fs::directory_iterator(out))
        count += entry.path().extension() == ".png" ? 1 : 0;
    EXPECT_EQ(count, 60);
    EXPECT_NE(run.err.find("frame 60 / 60"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("fps"), std::string::npos);
    // Outside the transitions (0–500, 2000–2500, 4000–4500 ms) each frame is its slide alone.
    for (const int t : {600, 1900, 2600, 3300, 4600, 5900}) {
        const int slide = t / 2000 + 1;
        const fs::path single = dir_ / ("slide-" + std::to_string(t) + ".png");
        const test::TRunResult drawn =
            Run(KIVTOOL_PATH, {"slide", show_.string(), std::to_string(slide), std::to_string(t), "-o",
                               single.string(), "--size", "64x36"});
        ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
        EXPECT_EQ(ReadAll(out / FrameName(t / 100 + 1)), ReadAll(single)) << "t = " << t;
    }
    // kivtool frame draws the engine's frame: during a transition too.
    for (const int t : {300, 2200, 4400}) {
        const fs::path one = dir_ / ("frame-at-" + std::to_string(t) + ".png");
        const test::TRunResult drawn = Run(KIVTOOL_PATH, {"frame", show_.string(), std::to_string(t), "-o",
                                                          one.string(), "--size", "64x36"});
        ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
        EXPECT_EQ(drawn.out, "64 36\n");
        EXPECT_EQ(ReadAll(out / FrameName(t / 100 + 1)), ReadAll(one)) << "t = " << t;
    }
    // Past the end of a show that stops, the frame is its last moment.
    const fs::path last = dir_ / "after-the-end.png", end = dir_ / "at-the-end.png";
    ASSERT_EQ(
        Run(KIVTOOL_PATH, {"frame", show_.string(), "9000", "-o", last.string(), "--size", "64x36"}).exitCode,
        0);
    ASSERT_EQ(
        Run(KIVTOOL_PATH, {"frame", show_.string(), "5999", "-o", end.string(), "--size", "64x36"}).exitCode,
        0);
    EXPECT_EQ(ReadAll(last), ReadAll(end));
    // The temporary folder of the runs holds nothing afterwards.
    EXPECT_TRUE(fs::is_empty(test::THermeticFolders::Temp()));
}

TEST_F(HeadlessRender, BadValuesAreRefusedWithTheUsage) {
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"-fps", "0"},
                                                {"-size", "64"},
                                                {"-from", "-5"},
                                                {"-to", "soon"},
                                                {"-render", (dir_ / "x.mp4").string(), "-crf", "99"}}) {
        std::vector<std::string> args{"-filename", show_.string()};
        if (bad[0] != "-render") args.insert(args.end(), {"-render", (dir_ / "x").string()});
        args.insert(args.end(), bad.begin(), bad.end());
        const test::TRunResult run = Run(KIVVIEWER_PATH, args);
        EXPECT_EQ(run.exitCode, 2) << bad[0];
        EXPECT_NE(run.err.find("usage: kivviewer SHOW -render OUT"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "x"));
    EXPECT_FALSE(fs::exists(dir_ / "x.mp4"));
    const test::TRunResult frame = Run(KIVTOOL_PATH, {"frame", show_.string(), "-3", "-o", "x.png"});
    EXPECT_EQ(frame.exitCode, 2);
}
#endif

TEST_F(HeadlessRender, TwoRendersOfOneShowAreIdenticalAndStartAtFrom) {
    THeadlessOptions options;
    options.width = 48;
    options.height = 27;
    options.fps = 8;
    options.fromMs = 1875; // frame k shows 1875 + 125 k: through slide 2's transition
    options.toMs = 3000;
    const fs::path first = dir_ / "first", second = dir_ / "second";
    for (const fs::path& out : {first, second})
        ASSERT_EQ(RenderShowToFolder(nullptr, test::ParseIni(test::EngineShowText()), options, out.string(),
                                     nullptr),
                  "");
    int count = 0;
    for (int k = 1; fs::exists(first / FrameName(k)); ++k, ++count)
        EXPECT_EQ(ReadAll(first / FrameName(k)), ReadAll(second / FrameName(k))) << k;
    EXPECT_EQ(count, 9); // 1875 … 2875
    EXPECT_FALSE(fs::exists(first / FrameName(10)));
    // The first frame is FROM: slide 1 still alone; the dissolve to slide 2 runs from 2000 to 2500.
    EXPECT_EQ(ReadAll(first / FrameName(1)), ReadAll(first / FrameName(2))); // 1875, 2000
    EXPECT_NE(ReadAll(first / FrameName(3)), ReadAll(first / FrameName(4))); // 2125, 2250
    EXPECT_NE(ReadAll(first / FrameName(4)), ReadAll(first / FrameName(5))); // 2250, 2375
    EXPECT_EQ(ReadAll(first / FrameName(6)), ReadAll(first / FrameName(9))); // 2500, 2875
}

} // namespace
} // namespace kiv

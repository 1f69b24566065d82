// Runs `kivtool slide` on a show written by the test (a solid background, boxes and a picture) and
// checks the pixels of the PNG it writes against places computed here: the show rectangle fitted
// into the window, the bars in the hider colour, the objects where their keys put them.
#include "engine/NavSkinSupport.h"
#include "images/Bitmap.h"
#include "images/PngStore.h"
#include "images/PngWriter.h"

#include "support/RunProgram.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;


// Colours as 0xRRGGBB; the project writes them as 0x00BBGGRR decimal numbers.
constexpr std::uint32_t kBackground = 0x204080;
constexpr std::uint32_t kHider = 0x3060C0;
constexpr std::uint32_t kBoxColor = 0xE0C020;
constexpr std::uint32_t kLateColor = 0x10D060;
constexpr std::uint32_t kPictureColor = 0xC02090;
constexpr std::uint32_t kLogoColor = 0x40A0E0;

std::string ProjectColor(std::uint32_t rgb) {
    const std::uint32_t bgr = ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
    return std::to_string(bgr);
}

std::string HexColor(std::uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06X", rgb);
    return text;
}

class SlideCommand : public testing::Test {
protected:
    void SetUp() override {
        // A folder of this process and test, removed again when the test passes.
        dir_ = fs::temp_directory_path() / ("kivtool_slide_" + std::to_string(::getpid()) + "_" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        WritePicture();
        WriteShow(1);
    }

    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }

    // A 40 × 20 picture of one colour.
    void WritePicture() {
        auto picture = MakeRef<TBitmap>(40, 20, TPixelFormat::Bgra32);
        picture->Fill32(0xFF000000u | kPictureColor);
        ASSERT_TRUE(WritePngFile(*picture, (dir_ / "pic.png").string()));
    }

    // A 400 × 200 show of `slides` slides of 5 s each. Slide 1: a 100 × 50 box at the centre, the
    // picture centred at a quarter of the width and height, and a box at the right that appears
    // 2 s into the slide.
    void WriteShow(int slides) {
        std::string text = "[Main]\nMinorVersion=13\nopt_scr_width=400\nopt_scr_height=200\n"
                           "opt_scr_hidercolor=" +
                           ProjectColor(kHider) + "\nopt_bstyle=1\nopt_bcolor=" + ProjectColor(kBackground) +
                           "\n" + extraMain_ + "[Times]\nopt_slidescount=" + std::to_string(slides) + "\n";
        for (int i = 1; i <= slides; ++i)
            text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(5000 * i) + "\n";
        text += "[Slide1]\nobject Container:Root\nGUID=root\n"
                "object box:Box\nGUID=box\nFitMode=None\nSize=100,50\nColor1=" +
                HexColor(kBoxColor) +
                "\nend\n"
                "object pic:Image\nGUID=pic\nFitMode=None\nImageName=pic.png\n"
                "object k:KeyPoint\nTime=0\nPosition=-50,-50\nend\nend\n"
                "object late:Box\nGUID=late\nFitMode=None\nSize=20,20\nDeltaTime1=2000\nColor1=" +
                HexColor(kLateColor) + "\nobject k:KeyPoint\nTime=0\nPosition=80,0\nend\nend\nend\n";
        for (int i = 2; i <= slides; ++i)
            text += "[Slide" + std::to_string(i) + "]\n";
        std::ofstream(dir_ / "show.kiv", std::ios::binary) << text;
    }

    // `arguments` split at spaces (the test's paths have none).
    test::TRunResult Run(const std::string& arguments) {
        std::vector<std::string> args{"slide"};
        std::istringstream words(arguments);
        for (std::string word; words >> word;)
            args.push_back(word);
        return test::RunProgram(KIVTOOL_PATH, args, dir_);
    }

    // Draws slide `index` at `time` into a window of `size` and reads the PNG back.
    TRef<TBitmap> Draw(int index, double time, const std::string& size, const std::string& extra = {}) {
        const std::string png = (dir_ / "out.png").string();
        fs::remove(png);
        const test::TRunResult run = Run(Show() + " " + std::to_string(index) + " " + std::to_string(time) + " -o " +
                             png + (size.empty() ? "" : " --size " + size) + extra);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::ifstream in(png, std::ios::binary);
        const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), {});
        if (data.empty()) return nullptr;
        TRef<TBitmap> bitmap = DecodePng(data.data(), data.size());
        if (bitmap) {
            EXPECT_EQ(run.out,
                      std::to_string(bitmap->Width()) + " " + std::to_string(bitmap->Height()) + "\n");
        }
        return bitmap;
    }

    std::string Show() const { return (dir_ / "show.kiv").string(); }

    static std::uint32_t Rgb(const TBitmap& b, int x, int y) {
        std::uint32_t v = 0;
        std::memcpy(&v, b.Row(y) + x * 4, 4);
        return v & 0xFFFFFFu;
    }

    fs::path dir_;
    std::string extraMain_; // more [Main] keys for WriteShow
};

// Each channel within `tolerance` (2: what blending rounds) of the wanted colour.
testing::AssertionResult Near(std::uint32_t got, std::uint32_t want, int tolerance = 2) {
    for (int shift : {0, 8, 16}) {
        const int a = static_cast<int>((got >> shift) & 0xFF), b = static_cast<int>((want >> shift) & 0xFF);
        if (a - b > tolerance || b - a > tolerance) {
            char text[64];
            std::snprintf(text, sizeof text, "%06X instead of %06X", got, want);
            return testing::AssertionFailure() << text;
        }
    }
    return testing::AssertionSuccess();
}

TEST_F(SlideCommand, ATallWindowGetsBarsAboveAndBelowTheShow) {
    // 400 × 200 in 400 × 400: the show fills rows 100 … 299.
    TRef<TBitmap> frame = Draw(1, 3000, "400x400");
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->Width(), 400);
    ASSERT_EQ(frame->Height(), 400);
    for (int x : {0, 200, 399}) {
        EXPECT_TRUE(Near(Rgb(*frame, x, 0), kHider)) << x;
        EXPECT_TRUE(Near(Rgb(*frame, x, 99), kHider)) << x;
        EXPECT_TRUE(Near(Rgb(*frame, x, 300), kHider)) << x;
        EXPECT_TRUE(Near(Rgb(*frame, x, 399), kHider)) << x;
    }
    // The background in the show's corners.
    for (auto [x, y] : {std::pair{1, 101}, {398, 101}, {1, 298}, {398, 298}})
        EXPECT_TRUE(Near(Rgb(*frame, x, y), kBackground)) << x << "," << y;
    // The box: 100 × 50 at the centre (150 … 249, 175 … 224).
    EXPECT_TRUE(Near(Rgb(*frame, 200, 200), kBoxColor));
    EXPECT_TRUE(Near(Rgb(*frame, 152, 177), kBoxColor));
    EXPECT_TRUE(Near(Rgb(*frame, 247, 222), kBoxColor));
    EXPECT_TRUE(Near(Rgb(*frame, 147, 200), kBackground));
    EXPECT_TRUE(Near(Rgb(*frame, 200, 172), kBackground));
    // The picture, 40 × 20 centred at (100, 150).
    EXPECT_TRUE(Near(Rgb(*frame, 100, 150), kPictureColor));
    EXPECT_TRUE(Near(Rgb(*frame, 82, 142), kPictureColor));
    EXPECT_TRUE(Near(Rgb(*frame, 117, 157), kPictureColor));
    EXPECT_TRUE(Near(Rgb(*frame, 77, 150), kBackground));
    EXPECT_TRUE(Near(Rgb(*frame, 100, 137), kBackground));
    // The late box (20 × 20 centred at (360, 200)) is there 3 s into the slide.
    EXPECT_TRUE(Near(Rgb(*frame, 360, 200), kLateColor));
}

TEST_F(SlideCommand, AWideWindowGetsBarsLeftAndRight) {
    // 400 × 200 in 800 × 200: the show fills columns 200 … 599.
    TRef<TBitmap> frame = Draw(1, 3000, "800x200");
    ASSERT_TRUE(frame);
    for (int y : {0, 100, 199}) {
        EXPECT_TRUE(Near(Rgb(*frame, 0, y), kHider)) << y;
        EXPECT_TRUE(Near(Rgb(*frame, 199, y), kHider)) << y;
        EXPECT_TRUE(Near(Rgb(*frame, 600, y), kHider)) << y;
        EXPECT_TRUE(Near(Rgb(*frame, 799, y), kHider)) << y;
    }
    EXPECT_TRUE(Near(Rgb(*frame, 201, 1), kBackground));
    EXPECT_TRUE(Near(Rgb(*frame, 598, 198), kBackground));
    EXPECT_TRUE(Near(Rgb(*frame, 400, 100), kBoxColor));
    EXPECT_TRUE(Near(Rgb(*frame, 300, 50), kPictureColor));
}

TEST_F(SlideCommand, AWindowOfTheShowsShapeIsAllShow) {
    // 400 × 200 drawn at 800 × 400: no bars; positions are percentages of the show, so the picture
    // moves out with it, while an unfitted box keeps its size in pixels (352 … 449, 175 … 224).
    TRef<TBitmap> frame = Draw(1, 3000, "800x400");
    ASSERT_TRUE(frame);
    for (auto [x, y] : {std::pair{0, 0}, {799, 0}, {0, 399}, {799, 399}})
        EXPECT_TRUE(Near(Rgb(*frame, x, y), kBackground)) << x << "," << y;
    EXPECT_TRUE(Near(Rgb(*frame, 352, 177), kBoxColor));
    EXPECT_TRUE(Near(Rgb(*frame, 447, 222), kBoxColor));
    EXPECT_TRUE(Near(Rgb(*frame, 347, 200), kBackground));
    EXPECT_TRUE(Near(Rgb(*frame, 400, 172), kBackground));
    EXPECT_TRUE(Near(Rgb(*frame, 200, 100), kPictureColor));
    EXPECT_TRUE(Near(Rgb(*frame, 200, 85), kBackground));
    EXPECT_TRUE(Near(Rgb(*frame, 720, 200), kLateColor));
}

TEST_F(SlideCommand, TheShowTimeDecidesWhatIsVisible) {
    TRef<TBitmap> early = Draw(1, 1000, "400x200");
    ASSERT_TRUE(early);
    EXPECT_TRUE(Near(Rgb(*early, 360, 100), kBackground));
    EXPECT_TRUE(Near(Rgb(*early, 200, 100), kBoxColor));
    TRef<TBitmap> late = Draw(1, 2500, "400x200");
    ASSERT_TRUE(late);
    EXPECT_TRUE(Near(Rgb(*late, 360, 100), kLateColor));
}

TEST_F(SlideCommand, TheDefaultWindowIs1280By720) {
    TRef<TBitmap> frame = Draw(1, 0, "");
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->Width(), 1280);
    EXPECT_EQ(frame->Height(), 720);
    // 2:1 in 16:9: the show is 1280 × 640 from row 40.
    EXPECT_TRUE(Near(Rgb(*frame, 640, 39), kHider));
    EXPECT_TRUE(Near(Rgb(*frame, 640, 41), kBackground));
    EXPECT_TRUE(Near(Rgb(*frame, 640, 680), kHider));
}

TEST_F(SlideCommand, ASlideWithoutObjectsShowsItsBackground) {
    WriteShow(2);
    TRef<TBitmap> frame = Draw(2, 6000, "400x200");
    ASSERT_TRUE(frame);
    EXPECT_TRUE(Near(Rgb(*frame, 200, 100), kBackground));
    EXPECT_TRUE(Near(Rgb(*frame, 100, 50), kBackground));
}

TEST_F(SlideCommand, AMissingPictureDrawsThePlaceholderInItsPlace) {
    std::filesystem::remove(dir_ / "pic.png");
    TRef<TBitmap> frame = Draw(1, 3000, "400x200");
    ASSERT_TRUE(frame);
    // Something other than the background or the picture covers the picture's place; the rest of
    // the slide is drawn as before.
    const std::uint32_t centre = Rgb(*frame, 100, 50);
    EXPECT_FALSE(Near(centre, kBackground));
    EXPECT_FALSE(Near(centre, kPictureColor));
    EXPECT_TRUE(Near(Rgb(*frame, 200, 100), kBoxColor));
    EXPECT_TRUE(Near(Rgb(*frame, 1, 1), kBackground));
}

TEST_F(SlideCommand, WrongUsageIsRefusedWithExitCodeTwo) {
    const std::string out = " -o " + (dir_ / "never.png").string();
    struct TCase {
        std::string arguments;
        std::string message;
    };
    const TCase cases[] = {
        {Show() + " 0 0" + out, "no slide 0"},
        {Show() + " 2 0" + out, "no slide 2 (the show has 1)"},
        {Show() + " x 0" + out, "bad slide number"},
        {Show() + " 1 soon" + out, "bad time"},
        {Show() + " 1 0" + out + " --size 400", "bad size"},
        {Show() + " 1 0" + out + " --size 0x100", "bad size"},
        {Show() + " 1 0" + out + " --size 100000x100", "bad size"},
        {Show() + " 1 0", "usage"},
        {(dir_ / "missing.kiv").string() + " 1 0" + out, "missing.kiv"},
    };
    for (const TCase& c : cases) {
        const test::TRunResult run = Run(c.arguments);
        EXPECT_EQ(run.exitCode, 2) << c.arguments;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << ": " << run.err;
        EXPECT_NE(run.err.find("usage: kivtool slide SHOW INDEX TIME -o OUT.png"), std::string::npos)
            << c.arguments << ": " << run.err;
        EXPECT_TRUE(run.out.empty()) << c.arguments;
    }
    EXPECT_FALSE(fs::exists(dir_ / "never.png"));
}

TEST_F(SlideCommand, OverlayAddsTheLogoAndTheBarShownAsAfterAMouseMove) {
    // A 200 × 100 logo, 20 % of the show's height, at the show's left-top corner; the bar skin of
    // the overlay tests (80 × 20 pixels: red, green and blue bands, three black buttons with white
    // faces), 10 % of the window high at the bottom of the whole window, auto-hiding.
    ASSERT_TRUE(WritePngFile(*test::Solid(200, 100, 0xFF000000u | kLogoColor), (dir_ / "logo.png").string()));
    fs::create_directories(dir_ / "skin");
    for (const auto& [name, bitmap] : test::SkinPictures())
        ASSERT_TRUE(WritePngFile(*bitmap, (dir_ / "skin" / name).string()));
    std::ofstream(dir_ / "skin" / "nav.ini", std::ios::binary) << test::SkinText();
    extraMain_ = "opt_logo=1\nopt_logo_fn=logo.png\nopt_logo_pos=5\nopt_logo_size=20\n"
                 "opt_fcp=1\nopt_nav_inifile=skin\\nav.ini\nopt_cp=Bottom\nopt_hidenavbar=1\n"
                 "opt_newnavbuttons_count=3\nopt_newnavbutton1=home\nopt_newnavbutton2=pause\n"
                 "opt_newnavbutton3=exit\n";
    WriteShow(1);

    // 400 × 200 in 400 × 300: the show fills rows 50 … 249. The logo covers (0, 50)–(80, 90); the
    // bar is 30 high and 120 wide (scale 1.5) at (140, 270), on the bar below the show.
    TRef<TBitmap> frame = Draw(1, 3000, "400x300", " --overlay");
    ASSERT_TRUE(frame);
    EXPECT_TRUE(Near(Rgb(*frame, 40, 70), kLogoColor));
    EXPECT_TRUE(Near(Rgb(*frame, 85, 70), kBackground));
    EXPECT_TRUE(Near(Rgb(*frame, 147, 285), 0xFF0000)); // left cap
    EXPECT_TRUE(Near(Rgb(*frame, 252, 285), 0x0000FF)); // right cap
    EXPECT_TRUE(Near(Rgb(*frame, 157, 285), 0x00FF00)); // between the offset and the first button
    EXPECT_TRUE(Near(Rgb(*frame, 171, 285), 0xFFFFFF)); // the first button's face
    EXPECT_TRUE(Near(Rgb(*frame, 164, 274), 0x000000)); // its background
    EXPECT_TRUE(Near(Rgb(*frame, 100, 285), kHider));   // beside the bar: the hider colour
    EXPECT_TRUE(Near(Rgb(*frame, 10, 10), kHider));

    // Without --overlay neither is drawn.
    TRef<TBitmap> plain = Draw(1, 3000, "400x300");
    ASSERT_TRUE(plain);
    EXPECT_TRUE(Near(Rgb(*plain, 40, 70), kBackground));
    EXPECT_TRUE(Near(Rgb(*plain, 171, 285), kHider));
}

TEST_F(SlideCommand, AnUnwritableOutputIsAnError) {
    const test::TRunResult run = Run(Show() + " 1 0 -o " + (dir_ / "no" / "such" / "out.png").string() + " --size 40x20");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot be written"), std::string::npos) << run.err;
}

// A video object on the slide shows its clip's frame, made here by ffmpeg in a flat colour, placed
// into the 400 x 200 slide at the clip's display aspect: an anamorphic 320 x 240 clip of 16:9
// (pixels 4:3 wide) is drawn 356 x 200, the same clip with square pixels 267 x 200.
TEST_F(SlideCommand, AVideoShowsItsFrameAtTheClipsDisplayAspect) {
    if (std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the ffmpeg program is not installed (scripts/install-deps.sh installs it)";
    constexpr std::uint32_t kClipColor = 0xE02020;
    for (const auto& [sar, width] : {std::pair<const char*, int>{"4/3", 356}, {"1", 267}}) {
        SCOPED_TRACE(sar);
        const std::string command = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
                                    "'color=c=0xE02020:s=320x240:r=25:d=1' -vf setsar=" +
                                    std::string(sar) + " -c:v libx264 -pix_fmt yuv420p " +
                                    (dir_ / "clip.mp4").string();
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::string text = "[Main]\nMinorVersion=13\nopt_scr_width=400\nopt_scr_height=200\nopt_bstyle=1\n"
                                 "opt_bcolor=" + ProjectColor(kBackground) +
                                 "\n[Times]\nopt_slidescount=1\nopt_synchpos1=5000\n[Slide1]\n"
                                 "object Container:Root\nGUID=root\nobject v:Video\nGUID=v\nFileName=clip.mp4\n"
                                 "AntialiasedBorder=0\nend\nend\n";
        std::ofstream(dir_ / "show.kiv", std::ios::binary) << text;
        TRef<TBitmap> frame = Draw(1, 500, "400x200");
        ASSERT_TRUE(frame);
        // The colour went through YUV 4:2:0 and back: within 8.
        EXPECT_TRUE(Near(Rgb(*frame, 200, 100), kClipColor, 8));
        int drawn = 0;
        for (int x = 0; x < 400; ++x)
            drawn += Near(Rgb(*frame, x, 100), kClipColor, 8) ? 1 : 0;
        EXPECT_NEAR(drawn, width, 2);
        EXPECT_TRUE(Near(Rgb(*frame, 200, 2), kClipColor, 8)); // the full height
        EXPECT_TRUE(Near(Rgb(*frame, 2, 100), kBackground));
    }
}

} // namespace
} // namespace kiv

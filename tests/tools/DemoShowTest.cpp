// Draws slides of the bundled demo show with `kivtool slide` and checks that each shows what it is
// there to show: a gradient background under a picture with a drop shadow, a picture seen through
// a star-shaped mask, a picture that blurs in, and a card turned in 3-D. Show times are those of
// the demo: slide N starts at (N - 1) × 4.5 s. The window is 640 × 360, half the design size.
#include "images/Bitmap.h"
#include "images/PngStore.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kiv {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 640;
constexpr int kHeight = 360;

struct TRgb {
    int r = 0, g = 0, b = 0;
};

TRgb Lerp(TRgb a, TRgb b, double f) {
    auto mix = [f](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * f)); };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

int Luma(TRgb c) {
    return (c.r * 299 + c.g * 587 + c.b * 114) / 1000;
}

testing::AssertionResult Near(TRgb got, TRgb want, int tolerance) {
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "(" << got.r << "," << got.g << "," << got.b << ") instead of ("
                                       << want.r << "," << want.g << "," << want.b << ")";
}

class DemoShow : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kivtool_demo_" + std::to_string(::getpid()) + "_" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }

    // Slide `index` at show time `time` (ms), read back from the PNG kivtool writes.
    TRef<TBitmap> Draw(int index, int time, const std::string& extra = {}) {
        const std::string png = (dir_ / ("slide" + std::to_string(index) + "_" + std::to_string(time) +
                                         (extra.empty() ? "" : "_o") + ".png"))
                                    .string();
        const std::string command = std::string(KIVTOOL_PATH) + " slide " + DEMO_PROJECT + " " +
                                    std::to_string(index) + " " + std::to_string(time) + " -o " + png +
                                    " --size " + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                                    extra + " >/dev/null 2>" + (dir_ / "stderr.txt").string();
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
        std::ifstream in(png, std::ios::binary);
        const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), {});
        if (data.empty()) return nullptr;
        TRef<TBitmap> bitmap = DecodePng(data.data(), data.size());
        if (bitmap) {
            EXPECT_EQ(bitmap->Width(), kWidth);
            EXPECT_EQ(bitmap->Height(), kHeight);
        }
        return bitmap;
    }

    static TRgb At(const TBitmap& b, int x, int y) {
        const std::uint8_t* p = b.Row(y) + 4 * x;
        return {p[2], p[1], p[0]};
    }
    static int Alpha(const TBitmap& b, int x, int y) { return b.Row(y)[4 * x + 3]; }

    // Summed squared steps of the green channel along row y between x0 and x1: blurring spreads
    // each edge over more, smaller steps, so this falls as the picture blurs.
    static long EdgeEnergy(const TBitmap& b, int y, int x0, int x1) {
        long sum = 0;
        for (int x = x0; x < x1; ++x) {
            const long step = At(b, x + 1, y).g - At(b, x, y).g;
            sum += step * step;
        }
        return sum;
    }

    fs::path dir_;
};

TEST_F(DemoShow, TheOverlayShowsTheSkinnedBarAtTheBottomAndTheLogoAtTheRightTop) {
    // The bar is 7 % of 360 = 25 pixels high and 181 wide, 3 % above the bottom: (230, 330) to
    // (411, 355); its glyphs are near white. The logo is 32 high and 96 wide at the right-top.
    TRef<TBitmap> plain = Draw(2, 7000);
    TRef<TBitmap> overlay = Draw(2, 7000, " --overlay");
    ASSERT_TRUE(plain && overlay);
    auto bright = [](const TBitmap& b, int x0, int y0, int x1, int y1) {
        int count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (const TRgb c = At(b, x, y); c.r > 200 && c.g > 200 && c.b > 200) ++count;
        return count;
    };
    EXPECT_EQ(bright(*plain, 230, 330, 411, 355), 0);
    EXPECT_GT(bright(*overlay, 230, 330, 411, 355), 150); // seven glyphs
    EXPECT_EQ(bright(*overlay, 0, 330, 225, 360), 0);     // nothing beside the bar
    int changed = 0;
    for (int y = 5; y < 45; ++y)
        for (int x = 520; x < 635; ++x)
            if (std::abs(Luma(At(*plain, x, y)) - Luma(At(*overlay, x, y))) > 20) ++changed;
    EXPECT_GT(changed, 300);
}

TEST_F(DemoShow, TheRingsLieOnAVerticalGradientWithAShadowDownAndToTheRight) {
    // Slide 4 (13.5 … 18 s) at 2.5 s: the picture is scaled from 70 % to 78 % over the slide, so
    // 74.4 % here: x 82 … 558, y 46 … 314 in the window.
    TRef<TBitmap> frame = Draw(4, 16000);
    ASSERT_TRUE(frame);
    // Gradient from #1B1F4A at the top to #4A6AD0 at the bottom, away from the shadow.
    const TRgb top{0x1B, 0x1F, 0x4A}, bottom{0x4A, 0x6A, 0xD0};
    EXPECT_TRUE(Near(At(*frame, 2, 2), Lerp(top, bottom, 2.5 / kHeight), 4));
    EXPECT_TRUE(Near(At(*frame, 2, 180), Lerp(top, bottom, 180.5 / kHeight), 4));
    EXPECT_TRUE(Near(At(*frame, 2, 357), Lerp(top, bottom, 357.5 / kHeight), 4));
    // The picture's own dark ground inside.
    EXPECT_TRUE(Near(At(*frame, 100, 60), {0x10, 0x16, 0x2C}, 6));
    // The shadow: below and right of the picture the background is darker than above and left.
    auto darkening = [&](int x, int y) { return Luma(At(*frame, 2, y)) - Luma(At(*frame, x, y)); };
    EXPECT_GT(darkening(320, 322), 20);
    EXPECT_GT(darkening(566, 180), 10);
    EXPECT_GT(darkening(320, 322), darkening(320, 38) + 10);
    EXPECT_GT(darkening(566, 180), darkening(74, 180) + 5);
    // What the screen shows is opaque, shadow and soft edges included.
    for (int y = 0; y < kHeight; y += 7)
        for (int x = 0; x < kWidth; x += 7)
            ASSERT_EQ(Alpha(*frame, x, y), 255) << x << "," << y;
}

TEST_F(DemoShow, TheTilesShowThroughAStarOverAHorizontalGradient) {
    // Slide 7 (27 … 31.5 s): a 720 × 720 view port at 92 %, its star mask's tips at the top.
    TRef<TBitmap> frame = Draw(7, 29000);
    ASSERT_TRUE(frame);
    const TRgb left{0x20, 0x10, 0x3A}, right{0x0E, 0x3A, 0x4A};
    auto background = [&](int x) { return Lerp(left, right, (x + 0.5) / kWidth); };
    for (int x : {2, 100, 540, 637})
        for (int y : {2, 180, 357})
            EXPECT_TRUE(Near(At(*frame, x, y), background(x), 4)) << x << "," << y;
    // Inside the star's square but between its arms: the gradient, not the picture.
    for (auto [x, y] : {std::pair{175, 30}, {465, 30}, {320, 320}})
        EXPECT_TRUE(Near(At(*frame, x, y), background(x), 4)) << x << "," << y;
    // The star's body shows the tiles: colours that the gradient has nowhere.
    int tiled = 0;
    for (int y = 140; y <= 220; y += 10)
        for (int x = 280; x <= 360; x += 10)
            if (!Near(At(*frame, x, y), background(x), 24)) ++tiled;
    EXPECT_GE(tiled, 60) << "of 81 samples in the star's middle";
}

TEST_F(DemoShow, TheStripesBlurInAfterTheTransition) {
    // Slide 5 (18 … 22.5 s): its transition ends at 19.5 s; the blur falls to nothing by 22 s.
    TRef<TBitmap> blurred = Draw(5, 19600);
    TRef<TBitmap> clearing = Draw(5, 20800);
    TRef<TBitmap> sharp = Draw(5, 22300);
    ASSERT_TRUE(blurred && clearing && sharp);
    long e[3] = {};
    int i = 0;
    for (const TRef<TBitmap>& frame : {blurred, clearing, sharp}) {
        for (int y : {120, 180, 240})
            e[i] += EdgeEnergy(*frame, y, 160, 480);
        ++i;
    }
    EXPECT_LT(e[0], e[1]);
    EXPECT_LT(e[1], e[2]);
    EXPECT_GT(e[2], 2 * e[0]) << "sharp " << e[2] << ", blurred " << e[0];
    // The stripes' two colours are both there when sharp.
    EXPECT_TRUE(Near(At(*sharp, 320, 180), {0x1D, 0x2D, 0x44}, 10) ||
                Near(At(*sharp, 320, 180), {0x3E, 0x5C, 0x76}, 10));
}

TEST_F(DemoShow, TheCardTurnsInPerspective) {
    // Slide 10 (40.5 … 45 s): a card at 50 % turned about its vertical axis from −55° to 40°, its
    // border light. Seen in perspective its near side is taller than its far side. From the card's
    // centre, walk to its border: left and right along the middle row, then up and down just
    // inside each side.
    TRef<TBitmap> frame = Draw(10, 40600);
    ASSERT_TRUE(frame);
    auto border = [&](int x, int y) { return Near(At(*frame, x, y), {0xF0, 0xE6, 0xD2}, 48); };
    auto walk = [&](int x, int y, int dx, int dy) {
        while (x > 0 && y > 0 && x < kWidth - 1 && y < kHeight - 1 && !border(x, y)) {
            x += dx;
            y += dy;
        }
        return dx != 0 ? x : y;
    };
    const int cx = kWidth / 2, cy = kHeight / 2;
    const int left = walk(cx, cy, -1, 0), right = walk(cx, cy, 1, 0);
    ASSERT_GT(right - left, 100) << left << " … " << right;
    EXPECT_LT(right - left, kWidth / 2) << "turned, the card is narrower than half the window";
    auto height = [&](int x) { return walk(x, cy, 0, 1) - walk(x, cy, 0, -1); };
    const int nearLeft = height(left + 5), nearRight = height(right - 5);
    EXPECT_GT(nearLeft, 60);
    EXPECT_GT(nearRight, nearLeft + 10) << "left side " << nearLeft << ", right side " << nearRight;
    EXPECT_LT(nearRight, kHeight - 20);
}

} // namespace
} // namespace kiv

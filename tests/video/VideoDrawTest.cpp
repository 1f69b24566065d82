#include "ClipMaker.h"
#include "PictureMaker.h"
#include "VideoTestSupport.h"
#include "render/Drawer.h"
#include "render/RenderFixture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

using test::VideoObject;
using test::VideoOf;

// A draw item that clears the frame and draws a slide.
class TClearAndDraw final : public TDrawItem {
public:
    TClearAndDraw(T3DDrawer& drawer, TDrawItem& slide) : drawer_(drawer), slide_(slide) {}
    void Draw(TDeviceDrawer& d) override {
        drawer_.Clear(0xFF0000FFu, false); // blue
        d.Draw(slide_);
    }

private:
    T3DDrawer& drawer_;
    TDrawItem& slide_;
};

class VideoDrawTest : public test::TDrawerFixture {
protected:
    void SetUp() override {
        TDrawerFixture::SetUp();
        RegisterVideoObjects();
    }
    // The slide drawn at show time `t`, read back.
    TRef<TBitmap> DrawAt(test::TTestSlide& slide, double t) {
        slide.Advance(t);
        TClearAndDraw item(*drawer, *slide.slide);
        EXPECT_TRUE(drawer->Draw(item));
        return drawer->GrabImage();
    }
    static int Green(std::uint32_t p) { return static_cast<int>((p >> 8) & 0xFF); }
};

TEST_F(VideoDrawTest, TheSlideShowsTheExactFrameOfEachShowTime) {
    test::TClipSpec spec;
    spec.codec = "mpeg4";
    spec.format = "mp4";
    spec.extension = ".mp4";
    spec.gop = 6;
    // Starts 200 ms into the object's time, 400 ms into the file.
    test::TTestSlide slide = test::MakeSlide(
        VideoObject("v", "FileName=clip.mp4\nStartKIVTime=200\nStartVideoTime=400\nAntialiasedBorder=0\n"), 0,
        kWidth, kHeight, {}, {{"clip.mp4", test::MakeClip(spec)}});
    const TKivVideo* video = VideoOf(slide, "v");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(video->Extractor(), nullptr);
    const struct {
        double t;
        int frame;
    } kSteps[] = {{0, 10}, {150, 10}, {210, 10}, {330, 13}, {1000, 29}, {5000, 29}, {260, 12}, {790, 25}};
    for (const auto& step : kSteps) {
        TRef<TBitmap> frame = DrawAt(slide, step.t);
        ASSERT_TRUE(frame);
        EXPECT_EQ(video->ShownFrame(), step.frame) << "at " << step.t;
        // Grey of luma Y: (Y − 16) × 255 ÷ 219.
        const double want = (test::FrameLuma(step.frame) - 16) * 255.0 / 219.0;
        EXPECT_NEAR(Green(Pixel(*frame, kWidth / 2, kHeight / 2)), want, 4) << "at " << step.t;
    }
}

TEST_F(VideoDrawTest, AChromaKeyedGreenShowsWhatLiesBehindWithOrWithoutSmoothEdges) {
    test::TClipSpec spec;
    spec.frames = 3;
    // A green band on the left quarter, red elsewhere: the half-size chroma planes must line up
    // with the luma plane for the key to find the green.
    spec.painter = [](int, int x, int, int& y, int& u, int& v) {
        if (x < 16) // pure green
            y = 144, u = 54, v = 34;
        else // pure red
            y = 82, u = 90, v = 240;
    };
    const std::vector<std::uint8_t> clip = test::MakeClip(spec);
    for (const char* smooth : {"0", "1"}) {
        SCOPED_TRACE(std::string("AntialiasedBorder=") + smooth);
        test::TTestSlide slide = test::MakeSlide(
            VideoObject("v",
                        std::string("FileName=k.mkv\nChromaEnable=1\nChromakey=#00FF00\nChromaDelta=10\n") +
                            "AntialiasedBorder=" + smooth + "\n"),
            0, kWidth, kHeight, {}, {{"k.mkv", clip}});
        TRef<TBitmap> frame = DrawAt(slide, 40);
        ASSERT_TRUE(frame);
        for (const int x : {4, 10}) {
            const std::uint32_t keyed = Pixel(*frame, x, 24);
            EXPECT_EQ(keyed & 0xFFFFFF, 0x0000FFu) << std::hex << keyed << " at " << std::dec << x;
        }
        for (const int x : {24, 40, 56}) {
            const std::uint32_t kept = Pixel(*frame, x, 24);
            EXPECT_GT((kept >> 16) & 0xFF, 220u) << std::hex << kept << " at " << std::dec << x;
            EXPECT_LT(Green(kept), 30) << std::hex << kept << " at " << std::dec << x;
        }
    }
}

TEST_F(VideoDrawTest, GifsAndDevicesWithoutShadersDrawFromOneRgbTexture) {
    // A red GIF (RGBA texture) and a red clip on a device without shaders (5-6-5 texture).
    test::TGifSpec gif;
    gif.width = kWidth;
    gif.height = kHeight;
    gif.palette.assign(768, 0);
    gif.palette[0] = 255;
    gif.frames.push_back(
        {0, 0, kWidth, kHeight, std::vector<std::uint8_t>(kWidth * kHeight, 0), 0, -1, 10, false});
    const test::TBytes gifBytes = test::EncodeGif(gif);
    test::TClipSpec spec;
    spec.frames = 2;
    spec.painter = [](int, int, int, int& y, int& u, int& v) { y = 82, u = 90, v = 240; };
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        int shaderLevel; // -1 the device's
    } kCases[] = {{"a.gif", {gifBytes.begin(), gifBytes.end()}, -1}, {"b.mkv", test::MakeClip(spec), 0}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        drawer->ForcedShaderLevel = c.shaderLevel;
        test::TTestSlide slide =
            test::MakeSlide(VideoObject("v", std::string("FileName=") + c.name + "\nAntialiasedBorder=0\n"),
                            0, kWidth, kHeight, {}, {{c.name, c.bytes}});
        TRef<TBitmap> frame = DrawAt(slide, 0);
        ASSERT_TRUE(frame);
        ASSERT_EQ(drawer->VideoImageCount(), 1u);
        const std::uint32_t p = Pixel(*frame, 30, 20);
        EXPECT_GT((p >> 16) & 0xFF, 230u) << std::hex << p;
        EXPECT_LT(Green(p), 20) << std::hex << p;
        EXPECT_LT(p & 0xFF, 20u) << std::hex << p;
    }
}

} // namespace
} // namespace kiv

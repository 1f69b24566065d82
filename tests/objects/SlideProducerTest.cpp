// The show's place on the screen (fit inside, cover, fixed size, odd sizes, older projects), the
// camera, and slides built from a project with their size, centre, scale and background.
#include "objects/SlideProducer.h"

#include "RecordingDrawer.h"
#include "SlideShowSupport.h"
#include "base/Exception.h"
#include "support/IniText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

namespace kiv {
namespace {

TRef<TKivSource> Source(const std::string& main, const std::string& slides = "[Times]\nopt_slidescount=0\n") {
    TKivSourceSetup setup;
    setup.document = test::ParseIni("[Main]\n" + main + slides);
    setup.programFileName = "kivviewer";
    setup.random = MakeRef<TTransitionRandom>(1);
    return MakeRef<TKivSource>(std::move(setup));
}

const std::string kFullHd = "opt_scr_width=1920\nopt_scr_height=1080\n";

TEST(ShowRect, FitInsideLetterboxesAndCoverOverflows) {
    TRef<TKivSource> source = Source(kFullHd);
    TSlideProducer producer(*source);
    producer.SetScreen(1280, 1024, kShowFitInside);
    EXPECT_EQ(producer.ShowWidth(), 1280);
    EXPECT_EQ(producer.ShowHeight(), 720);
    EXPECT_EQ(producer.ShowRect(), (TShowRect{0, 152, 1280, 872}));

    producer.SetScreen(1280, 1024, kShowCover);
    // 1820.44 rounds to 1820; the left edge at −270 is clipped to the screen.
    EXPECT_EQ(producer.ShowWidth(), 1820);
    EXPECT_EQ(producer.ShowHeight(), 1024);
    EXPECT_EQ(producer.ShowRect(), (TShowRect{0, 0, 1280, 1024}));
}

TEST(ShowRect, AFixedSizeShowIsCentredAndNeverEnlarged) {
    TRef<TKivSource> source = Source("opt_scr_width=800\nopt_scr_height=600\nopt_scr_fullfixedsize=1\n");
    TSlideProducer producer(*source);
    producer.SetScreen(1920, 1080, kShowFitInside);
    EXPECT_EQ(producer.ShowRect(), (TShowRect{560, 240, 1360, 840}));
    // On a smaller screen it is reduced with its aspect kept.
    producer.SetScreen(400, 600, kShowFitInside);
    EXPECT_EQ(producer.ShowRect(), (TShowRect{0, 150, 400, 450}));
}

TEST(ShowRect, AnOddSizeShortOfTheScreenGrowsByOne) {
    TRef<TKivSource> source = Source("opt_scr_width=1279\nopt_scr_height=720\n");
    TSlideProducer producer(*source);
    // A computed width of 1279 on a 1280-wide screen becomes 1280.
    producer.SetScreen(1280, 720, kShowFitInside);
    EXPECT_EQ(producer.ShowRect(), (TShowRect{0, 0, 1280, 720}));
    // 1819 × 1024 scaled by 1280 ÷ 1819: the height 720.57 rounds to 721 and becomes 722.
    producer.SetScreen(1280, 1024, kShowFitInside);
    EXPECT_EQ(producer.ShowWidth(), 1280);
    EXPECT_EQ(producer.ShowHeight(), 722);
    EXPECT_EQ(producer.ShowRect(), (TShowRect{0, 151, 1280, 873}));
    // An odd screen keeps an odd size that fills it.
    producer.SetScreen(1281, 721, kShowFitInside);
    EXPECT_EQ(producer.ShowRect(), (TShowRect{0, 0, 1281, 721}));
}

TEST(ShowRect, PixelAspectsAreAppliedInSquareUnits) {
    TRef<TKivSource> source = Source(kFullHd);
    TSlideProducer producer(*source);
    // A pixel aspect of 200 in y: 1280 × 1024 pixels are 1280 × 512 units; the show is
    // 910 × 512 units, 910 × 1024 pixels.
    producer.SetScreen(1280, 1024, kShowFitInside, 100, 200);
    EXPECT_EQ(producer.ShowWidth(), 910);
    EXPECT_EQ(producer.ShowHeight(), 1024);
    EXPECT_EQ(producer.CameraPosition().z, -512.0);
}

TEST(ShowRect, OlderProjectsTakeTheScreensShapeOrTheirRatio) {
    TRef<TKivSource> plain = Source("MinorVersion=12\n");
    TSlideProducer screenShaped(*plain);
    screenShaped.SetScreen(1000, 500, kShowFitInside);
    EXPECT_EQ(screenShaped.ShowRect(), (TShowRect{0, 0, 1000, 500}));

    TRef<TKivSource> ratio = Source("MinorVersion=12\nopt_scr_ratio=1\n");
    TSlideProducer square(*ratio);
    square.SetScreen(1000, 500, kShowFitInside);
    EXPECT_EQ(square.ShowRect(), (TShowRect{250, 0, 750, 500}));
}

TEST(ShowRect, AZeroDesignHeightIsRefused) {
    TRef<TKivSource> source = Source("opt_scr_width=1920\n");
    TSlideProducer producer(*source);
    try {
        producer.SetScreen(1280, 720, kShowFitInside);
        FAIL() << "no failure";
    } catch (const Exception& failure) {
        EXPECT_STREQ(failure.what(), "ZeroSize of Presentation!");
    }
}

TEST(ShowRect, AnEmptyScreenGivesAnEmptyRectangle) {
    TRef<TKivSource> source = Source(kFullHd);
    TSlideProducer producer(*source);
    producer.SetScreen(0, 0, kShowFitInside);
    EXPECT_TRUE(producer.ShowRect().IsEmpty());
    EXPECT_EQ(producer.ShowRect(), TShowRect{});
}

TEST(ShowRect, TheCameraLooksFromTheScreenHeight) {
    TRef<TKivSource> source = Source(kFullHd);
    TSlideProducer producer(*source);
    producer.SetScreen(1280, 1024, kShowFitInside);
    const TVec3 eye = producer.CameraPosition();
    EXPECT_EQ(eye.x, 640.0);
    EXPECT_EQ(eye.y, 512.0);
    EXPECT_EQ(eye.z, -1024.0);
    EXPECT_EQ(producer.Host().CameraPosition().z, -1024.0);
}

TEST(BuildSlide, ASlideTakesTheShowRectangleItsTimesAndBackground) {
    const std::string slides = "[Times]\nopt_slidescount=2\nopt_synchpos1=4000\nopt_synchpos2=8000\n"
                               "[Slide1]\nobject Container:Root\nGUID=root\nobject b:Box\nGUID=b\nend\nend\n"
                               "[Slide2]\nbstyle=3\nbcolorstyle=1\nbcolor1=255\nbcolor2=65280\n";
    TRef<TKivSource> source = Source(kFullHd + "opt_bstyle=1\nopt_bcolor=16711680\n", slides);
    TSlideProducer producer(*source);
    producer.SetScreen(1280, 1024, kShowFitInside);

    TRef<TKivSlide> first = producer.BuildSlide(0, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->ParentSize().x, 1280.0);
    EXPECT_EQ(first->ParentSize().y, 720.0);
    EXPECT_EQ(first->Centre().x, 640.0);
    EXPECT_EQ(first->Centre().y, 512.0);
    EXPECT_EQ(first->ChildCount(), 1);
    EXPECT_EQ(first->Host(), &producer.Host());
    EXPECT_EQ(first->Background().kind, kBackgroundSolid);
    EXPECT_EQ(first->Background().color1, 0xFF0000FFu); // [Main]'s blue
    EXPECT_EQ(first->Times().sync, 4000.0);

    // Indexes past the end wrap to the slides of the show.
    TRef<TKivSlide> second = producer.BuildSlide(3, 1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Index(), 1);
    EXPECT_EQ(second->Pass(), 1);
    EXPECT_EQ(second->Background().kind, kBackgroundVGradient);
    EXPECT_EQ(second->ChildCount(), 0);
}

TEST(BuildSlide, AShowWithoutSlidesIsRefusedAndAMissingSectionBuildsNothing) {
    TRef<TKivSource> empty = Source(kFullHd);
    TSlideProducer none(*empty);
    none.SetScreen(640, 360, kShowFitInside);
    try {
        none.BuildSlide(0, 0);
        FAIL() << "no failure";
    } catch (const Exception& failure) {
        EXPECT_STREQ(failure.what(), "No Slides in Presentation");
    }

    TRef<TKivSource> sectionless = Source(kFullHd, "[Times]\nopt_slidescount=1\nopt_synchpos1=1000\n");
    TSlideProducer producer(*sectionless);
    producer.SetScreen(640, 360, kShowFitInside);
    EXPECT_FALSE(producer.BuildSlide(0, 0));
}

TEST(BuildSlide, AnObjectWithoutGuidFailsTheSlideWithoutThrowing) {
    TRef<TKivSource> source = Source(kFullHd, "[Times]\nopt_slidescount=1\nopt_synchpos1=1000\n"
                                              "[Slide1]\nobject Container:Root\nobject b:Box\nend\nend\n");
    TSlideProducer producer(*source);
    producer.SetScreen(640, 360, kShowFitInside);
    EXPECT_FALSE(producer.BuildSlide(0, 0));
}

TEST(DerivedPictures, EqualShadowsAndReducedBackgroundsAreMadeOnceAndShared) {
    test::TPictureMaker maker;
    maker.width = 400;
    maker.height = 300;
    auto files = MakeRef<test::TNoFiles>();
    TRef<TCallbackHandle> pictures = files->AddPictureProvider(&test::TPictureMaker::Provide, &maker);
    auto image = [](const std::string& guid, const std::string& keys) {
        return "object " + guid + ":Image\nGUID=" + guid + "\nImageName=pic1.png\nFitMode=None\n" + keys +
               "end\n";
    };
    // Two slides with a picture background ten times smaller than the 400 × 300 picture (tiles of
    // 128 × 96 on a 1280 × 720 slide: halved once); objects a, b and d cast the same shadow, c another.
    const std::string background = "bstyle=2\nbfn=pic9.png\nbsize=10\n";
    const std::string slides =
        "[Times]\nopt_slidescount=2\nopt_synchpos1=4000\nopt_synchpos2=8000\n[Slide1]\n" + background +
        "object Container:Root\nGUID=root\n" + image("a", "ShadowEnable=1\n") +
        image("b", "ShadowEnable=1\n") + image("c", "ShadowEnable=1\nShadowSize=40\n") + "end\n[Slide2]\n" +
        background + "object Container:Root\nGUID=root\n" + image("d", "ShadowEnable=1\n") + "end\n";
    TKivSourceSetup setup;
    setup.document = test::ParseIni("[Main]\n" + kFullHd + slides);
    setup.fileAccessor = MakeRef<TFileAccessor>(files);
    setup.programFileName = "kivviewer";
    setup.random = MakeRef<TTransitionRandom>(1);
    auto source = MakeRef<TKivSource>(std::move(setup));
    TSlideProducer producer(*source);
    producer.SetScreen(1280, 720, kShowFitInside);
    TRef<TKivSlide> first = producer.BuildSlide(0, 0);
    TRef<TKivSlide> second = producer.BuildSlide(1, 0);
    ASSERT_TRUE(first && second);
    test::TRecordingDrawer drawer;
    first->Advance(true, 0);
    second->Advance(true, 4000);
    drawer.Draw(*first);
    drawer.Draw(*second);
    std::map<std::string, const TBitmapStore*> shadows; // each object's first picture: its shadow
    std::set<const TBitmapStore*> backgrounds;
    for (const test::TDrawCall& call : drawer.calls) {
        if (call.op != "DrawImage") continue;
        if (call.image->Name().rfind("SlideBg: ", 0) == 0) {
            backgrounds.insert(&call.image->Store());
            EXPECT_EQ(call.image->Width(), 200);
            EXPECT_EQ(call.image->Height(), 150);
        } else if (!call.guid.empty() && !shadows.count(call.guid)) {
            shadows[call.guid] = &call.image->Store();
        }
    }
    ASSERT_EQ(shadows.size(), 4u);
    EXPECT_EQ(shadows["a"], shadows["b"]);
    EXPECT_EQ(shadows["a"], shadows["d"]) << "shared across slides";
    EXPECT_NE(shadows["a"], shadows["c"]);
    EXPECT_EQ(backgrounds.size(), 1u) << "one reduced background for both slides";
}

TEST(DerivedPictures, MaskNamesGiveThePictureAsAMask) {
    test::TPictureMaker maker;
    auto files = MakeRef<test::TNoFiles>();
    TRef<TCallbackHandle> pictures = files->AddPictureProvider(&test::TPictureMaker::Provide, &maker);
    TKivSourceSetup setup;
    setup.document = test::ParseIni("[Main]\n" + kFullHd + "[Times]\nopt_slidescount=0\n");
    setup.fileAccessor = MakeRef<TFileAccessor>(files);
    setup.programFileName = "kivviewer";
    setup.random = MakeRef<TTransitionRandom>(1);
    auto source = MakeRef<TKivSource>(std::move(setup));
    TSlideProducer producer(*source);
    // An opaque picture: alpha is its largest channel; grey turns white, a colour is lightened by
    // w × (255 − c) / 255³ with w the product of (255 − the channels' differences).
    struct TCase {
        std::uint32_t argb;
        const char* name;
    } cases[] = {
        {0xFF336699u, "Mask: pic1.png"}, {0xFF808080u, "Mask: pic2.png"}, {0xFFFF0000u, "Mask: pic3.png"}};
    for (const TCase& c : cases) {
        maker.argb = c.argb;
        TRef<TImage> mask = producer.Host().LoadPicture(c.name);
        ASSERT_TRUE(mask);
        TRef<TBitmap> level = mask->Store().GetMipLevel(0, TPixelFormat::Bgra32);
        ASSERT_TRUE(level);
        const std::uint8_t* p = level->Row(5) + 4 * 7;
        const int r = (c.argb >> 16) & 0xFF, g = (c.argb >> 8) & 0xFF, b = c.argb & 0xFF;
        EXPECT_EQ(p[3], std::max({r, g, b})) << c.name;
        const std::int64_t w =
            std::int64_t{255 - std::abs(r - b)} * (255 - std::abs(b - g)) * (255 - std::abs(g - r));
        for (const auto& [channel, value] : {std::pair{0, b}, std::pair{1, g}, std::pair{2, r}}) {
            const int want = r == g && g == b ? 255 : static_cast<int>(value + w * (255 - value) / 16581375);
            EXPECT_EQ(p[channel], want) << c.name << " channel " << channel;
        }
    }
}

TEST(DerivedPictures, PresetMasksCoverTheirShapeAndRefuseBadNames) {
    TKivSourceSetup setup;
    setup.document = test::ParseIni("[Main]\n" + kFullHd + "[Times]\nopt_slidescount=0\n");
    setup.fileAccessor = MakeRef<TFileAccessor>(MakeRef<test::TNoFiles>());
    setup.programFileName = "kivviewer";
    setup.random = MakeRef<TTransitionRandom>(1);
    auto source = MakeRef<TKivSource>(std::move(setup));
    TSlideProducer producer(*source);
    const double pi = std::acos(-1.0);
    // Each shape's area in pixels, measured as the sum of alpha ÷ 255, against its exact area; the
    // pixels at the centre and at a corner, and the mirror symmetry of the picture.
    struct TCase {
        const char* name;
        int width, height;
        double area;
        int corner;
    } cases[] = {
        {"PresetedMask:Rectangle:40:30", 40, 30, 1200.0, 255},
        {"PresetedMask:ellipse:200:100", 200, 100, pi * 100 * 50, 0},
        {"PresetedMask:RoundRect:120:80", 120, 80, 120.0 * 80 - (4 - pi) * 16 * 16, 0}, // r 20 % of 80
        {"PresetedMask:RoundRect:120:80:50", 120, 80, 120.0 * 80 - (4 - pi) * 40 * 40, 0},
        {"PresetedMask:Diamond:101:61", 101, 61, 101.0 * 61 / 2, 0},
    };
    for (const TCase& c : cases) {
        TRef<TImage> mask = producer.Host().LoadPicture(c.name);
        ASSERT_TRUE(mask) << c.name;
        TRef<TBitmap> level = mask->Store().GetMipLevel(0, TPixelFormat::Bgra32);
        ASSERT_TRUE(level) << c.name;
        ASSERT_EQ(level->Width(), c.width) << c.name;
        ASSERT_EQ(level->Height(), c.height) << c.name;
        double covered = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const std::uint8_t* p = level->Row(y) + 4 * x;
                const std::uint8_t* mirror = level->Row(c.height - 1 - y) + 4 * (c.width - 1 - x);
                ASSERT_EQ(p[3], mirror[3]) << c.name << " at " << x << "," << y;
                ASSERT_EQ(p[0] & p[1] & p[2], 255) << c.name << " is white";
                covered += p[3] / 255.0;
            }
        EXPECT_NEAR(covered, c.area, c.area * 0.005) << c.name;
        EXPECT_EQ(level->Row(c.height / 2)[4 * (c.width / 2) + 3], 255) << c.name;
        EXPECT_EQ(level->Row(0)[3], c.corner) << c.name;
    }
    // The same name is the same shared picture; a bad name makes no mask (the accessor shows its
    // grey placeholder instead of a white one).
    TRef<TImage> once = producer.Host().LoadPicture("PresetedMask:Ellipse:200:100");
    TRef<TImage> again = producer.Host().LoadPicture("PresetedMask:Ellipse:200:100");
    ASSERT_TRUE(once && again);
    EXPECT_EQ(&once->Store(), &again->Store());
    for (const char* bad :
         {"PresetedMask:Star:10:10", "PresetedMask:Ellipse:0:10", "PresetedMask:Ellipse:10",
          "PresetedMask:Ellipse:30000:10", "PresetedMask:Ellipse:10:-5", "PresetedMask:RoundRect:10:10:x",
          "PresetedMask:Rectangle:10:10:5:5", "PresetedMask:"}) {
        TRef<TImage> picture = producer.Host().LoadPicture(bad);
        TRef<TBitmap> level = picture ? picture->Store().GetMipLevel(0, TPixelFormat::Bgra32) : nullptr;
        if (level) {
            EXPECT_NE(level->Row(level->Height() / 2)[4 * (level->Width() / 2)], 255) << bad;
        }
    }
}

} // namespace
} // namespace kiv

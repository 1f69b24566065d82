// The overlay: the logo at every placement, the navigation panel's place for two window sizes,
// mouse routing (hover, press, click, fall-through), auto-hide on an injected clock, the draw
// order with the border fill, and a show that plays on without a broken bar.
#include "engine/LogoPicture.h"
#include "engine/OverlayTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kiv {
namespace {

using namespace test;

using OverlayLogo = OverlayFixture;
using OverlayPanel = OverlayFixture;
using OverlayDraw = OverlayFixture;

std::string LogoKeys(int position, double offset = 0) {
    return "opt_logo=1\nopt_logo_fn=logo.png\nopt_logo_size=10\nopt_logo_opacity=70\nopt_logo_pos=" +
           std::to_string(position) + "\nopt_logo_offset=" + std::to_string(offset) + "\n";
}

TEST_F(OverlayLogo, StandsAtEachPlacementOfTheSlideArea) {
    // Slide area 800 × 500 at (100, 50); the logo is 10 % of 500 = 50 high, 100 wide.
    struct TCase {
        int position;
        int left;
        int top;
    };
    const TCase cases[] = {
        {0, 100, 275}, // left
        {1, 450, 50},  // top
        {2, 800, 275}, // right
        {3, 450, 500}, // bottom
        {4, 450, 275}, // centre
        {5, 100, 50},  // left-top
        {6, 800, 50},  // right-top
        {7, 800, 500}, // right-bottom
        {8, 100, 500}, // left-bottom
        {9, 450, 275}, // any other value: centre
    };
    for (const TCase& c : cases) {
        TThirdSlide& overlay = Make(LogoKeys(c.position));
        ASSERT_EQ(overlay.LogoIndex(), 0) << c.position;
        const TOverlayImage& logo = overlay.Images()[0];
        EXPECT_EQ(logo.rect, (TPlacedRect{c.left, c.top, c.left + 100, c.top + 50})) << c.position;
        EXPECT_FLOAT_EQ(logo.opacity, 70.0f);

        // Drawn where it stands: the picture's texels mapped onto the rectangle.
        TRecordingDrawer drawer;
        drawer.Draw(overlay);
        ASSERT_EQ(drawer.calls.size(), 2u);
        const TDrawCall& draw = drawer.calls[0];
        EXPECT_EQ(draw.op, "DrawImage");
        const TVec3 topLeft = draw.Map(0, 0);
        const TVec3 bottomRight = draw.Map(draw.image->Width(), draw.image->Height());
        EXPECT_DOUBLE_EQ(topLeft.x, c.left) << c.position;
        EXPECT_DOUBLE_EQ(topLeft.y, c.top) << c.position;
        EXPECT_DOUBLE_EQ(bottomRight.x, c.left + 100) << c.position;
        EXPECT_DOUBLE_EQ(bottomRight.y, c.top + 50) << c.position;
        EXPECT_FLOAT_EQ(draw.opacity, 70.0f);
        EXPECT_EQ(drawer.calls[1].op, "BorderFill"); // no panel: the border fill comes last
    }
}

TEST_F(OverlayLogo, TheOffsetMovesItInwardsAndTheAspectFactorNarrowsIt) {
    TThirdSlide& offset = Make(LogoKeys(5, 10));
    // Position −90 %: round(0.1 × 800 / 2) = 40 and round(0.1 × 500 / 2) = 25 from the corner.
    EXPECT_EQ(offset.Images()[0].rect, (TPlacedRect{140, 75, 240, 125}));

    referenceWidth_ = 1000; // (800 / 1000) × (500 / 500) = 0.8
    referenceHeight_ = 500;
    TThirdSlide& narrow = Make(LogoKeys(5));
    EXPECT_DOUBLE_EQ(narrow.AspectFactor(), 0.8);
    EXPECT_EQ(narrow.Images()[0].rect, (TPlacedRect{100, 50, 180, 100}));
}

TEST_F(OverlayLogo, NoLogoWithoutAFileOrWhenSwitchedOffOrMissing) {
    EXPECT_EQ(Make("opt_logo=1\nopt_logo_fn=\n").LogoIndex(), -1);
    EXPECT_EQ(Make("opt_logo=0\nopt_logo_fn=logo.png\n").LogoIndex(), -1);
    const std::string log =
        LoggedWhile([&] { EXPECT_EQ(Make("opt_logo=1\nopt_logo_fn=gone.png\n").LogoIndex(), -1); });
    EXPECT_NE(log.find("gone.png"), std::string::npos) << log;
    EXPECT_TRUE(overlay_->Images().empty());
}

TEST(LogoPicture, LargePicturesAreHalvedThenResampled) {
    // 4000 × 3000 for a 100-pixel height: target 133.3 × 100; halved while both sides stay at
    // least twice the target: 2000 × 1500, 1000 × 750, 500 × 375, 250 × 188.
    EXPECT_EQ(HalvedLogoSize(4000, 3000, 400.0 / 3.0, 100.0), (TPictureSize{250, 188}));
    EXPECT_EQ(HalvedLogoSize(300, 100, 150.0, 50.0), (TPictureSize{150, 50}));
    EXPECT_EQ(HalvedLogoSize(299, 100, 150.0, 50.0), (TPictureSize{299, 100})); // 2W > width
    EXPECT_EQ(HalvedLogoSize(5, 3, 2.0, 1.0), (TPictureSize{3, 2}));            // (s + 1) div 2

    auto big = Solid(400, 300, 0xFF336699u);
    TRef<TBitmap> ready = PrepareLogo(*big, 40.0, 30.0);
    EXPECT_EQ(ready->Width(), 40);
    EXPECT_EQ(ready->Height(), 30);
    EXPECT_EQ(PixelAt(*ready, 20, 15), 0xFF336699u);
    TRef<TBitmap> small = PrepareLogo(*big, 300.0, 200.0); // no halving: the picture as it is
    EXPECT_EQ(small->Width(), 400);
}

// The window rectangle of canvas rectangle `r` of a bar placed at `bar`.
TPlacedRect ToWindow(const TNavPanel& panel, const TNavRect& r) {
    const TPlacedRect& bar = panel.BarRect();
    const double sx = static_cast<double>(bar.Width()) / panel.Bar().TotalWidth();
    const double sy = static_cast<double>(bar.Height()) / panel.Bar().TotalHeight();
    return {static_cast<int>(std::ceil(bar.left + r.left * sx)),
            static_cast<int>(std::ceil(bar.top + r.top * sy)),
            static_cast<int>(std::floor(bar.left + r.right * sx)),
            static_cast<int>(std::floor(bar.top + r.bottom * sy))};
}

TEST_F(OverlayPanel, ButtonsLandWhereTheWindowSizePutsThem) {
    // 1280 × 720 window, bar in the whole window: 72 high (10 %), 72 × 80 / 20 = 288 wide, bottom
    // centre. Canvas button 0 (13, 2)–(29, 18) scales by 3.6.
    TThirdSlide& big = Make(PanelKeys(), {160, 0, 1120, 720}, 1280, 720);
    ASSERT_TRUE(big.HasPanel());
    EXPECT_EQ(big.Panel()->BarRect(), (TPlacedRect{496, 648, 784, 720}));
    EXPECT_EQ(ToWindow(*big.Panel(), big.Panel()->Bar().ButtonRect(0)), (TPlacedRect{543, 656, 600, 712}));
    TOverlayMouseResult r = big.Mouse(1, 0, kMousePress, 571, 684);
    EXPECT_EQ(r.action.kind, kPanelHandled);
    r = big.Mouse(1, 0, kMouseRelease, 571, 684);
    EXPECT_EQ(r.action.kind, kPanelHome);
    EXPECT_EQ(r.action.number, 1);
    EXPECT_TRUE(r.handled);

    // 800 × 600 window, bar in the slide area (0, 75)–(800, 525): 45 high, 180 wide, scale 2.25.
    TThirdSlide& small = Make(PanelKeys() + "opt_nav_wndbottom=0\n", {0, 75, 800, 525}, 800, 600);
    ASSERT_TRUE(small.HasPanel());
    EXPECT_EQ(small.Panel()->BarRect(), (TPlacedRect{310, 480, 490, 525}));
    EXPECT_EQ(ToWindow(*small.Panel(), small.Panel()->Bar().ButtonRect(2)),
              (TPlacedRect{421, 485, 456, 520}));
    small.Mouse(1, 0, kMousePress, 438, 502);
    r = small.Mouse(1, 0, kMouseRelease, 438, 502);
    EXPECT_EQ(r.action.kind, kPanelExit);
}

TEST_F(OverlayPanel, InTheSlideAreaTheBarNeverReachesTheBorder) {
    const TShowRect area{200, 100, 800, 500};
    for (const char* anchor : {"Left-Top", "Top", "Right-Top", "Right", "Right-Bottom", "Bottom",
                               "Left-Bottom", "Left", "center"}) {
        TThirdSlide& overlay =
            Make(PanelKeys() + "opt_nav_wndbottom=0\nopt_cp=" + anchor + "\n", area, 1000, 600);
        const TPlacedRect& bar = overlay.Panel()->BarRect();
        EXPECT_GE(bar.left, area.left) << anchor;
        EXPECT_GE(bar.top, area.top) << anchor;
        EXPECT_LE(bar.right, area.right) << anchor;
        EXPECT_LE(bar.bottom, area.bottom) << anchor;
    }
    // In the whole window the bottom bar sits on the border below the slide area.
    TThirdSlide& window = Make(PanelKeys(), area, 1000, 600);
    EXPECT_EQ(window.Panel()->BarRect().bottom, 600);
}

TEST_F(OverlayPanel, HoverAndPressShowInThePanelPicture) {
    TThirdSlide& overlay = Make(PanelKeys(), {0, 0, 1000, 600}, 1000, 600);
    const TNavPanel& panel = *overlay.Panel();
    const TPlacedRect home = ToWindow(panel, panel.Bar().ButtonRect(0));
    const int x = (home.left + home.right) / 2;
    const int y = (home.top + home.bottom) / 2;
    TRecordingDrawer drawer;
    drawer.Draw(overlay);
    EXPECT_FALSE(overlay.IsChanged());

    TOverlayMouseResult r = overlay.Mouse(0, 0, kMouseMove, x, y);
    EXPECT_EQ(panel.Bar().ButtonState(0), kNavHover);
    EXPECT_TRUE(r.handled);
    EXPECT_EQ(overlay.NavPanelState(), kPanelHoldsMouse);
    EXPECT_TRUE(overlay.ItemChanged()); // the panel picture was remade
    const TOverlayImage& item = overlay.Images()[static_cast<std::size_t>(overlay.PanelImageIndex())];
    TRef<TBitmap> picture = item.image->Store().GetMipLevel(0, TPixelFormat::Bgra32);
    const TNavRect button = panel.Bar().ButtonRect(0);
    EXPECT_EQ(PixelAt(*picture, (button.left + button.right) / 2, (button.top + button.bottom) / 2), kYellow);

    overlay.Mouse(1, 16, kMousePress, x, y);
    EXPECT_EQ(panel.Bar().ButtonState(0), kNavPressed);
    picture =
        overlay.Images()[static_cast<std::size_t>(overlay.PanelImageIndex())].image->Store().GetMipLevel(0);
    EXPECT_EQ(PixelAt(*picture, button.left + 4 + 1, button.top + 4 + 1), kCyan);
    // The replaced pictures are given back to the drawer at the next frame.
    drawer.Draw(overlay);
    EXPECT_EQ(drawer.releases, 2);
}

TEST_F(OverlayPanel, ClicksElsewhereFallThroughAndTheBarBackgroundIsHandled) {
    TThirdSlide& overlay = Make(PanelKeys(), {0, 0, 1000, 600}, 1000, 600);
    const TPlacedRect& bar = overlay.Panel()->BarRect();
    TOverlayMouseResult r = overlay.Mouse(1, 0, kMousePress, 10, 10);
    EXPECT_FALSE(r.handled);
    r = overlay.Mouse(1, 0, kMouseRelease, 10, 10);
    EXPECT_FALSE(r.handled);
    EXPECT_EQ(r.action.kind, 0);
    EXPECT_EQ(r.object, nullptr);
    EXPECT_EQ(overlay.NavPanelState(), kPanelVisible);

    // The bar's left cap: inside the panel, no button.
    r = overlay.Mouse(1, 0, kMouseRelease, bar.left + 2, bar.top + bar.Height() / 2);
    EXPECT_TRUE(r.handled);
    EXPECT_EQ(r.action.kind, kPanelHandled);

    // A press on a button, released off the bar: the panel keeps the mouse until the release, then
    // nothing fires.
    const TPlacedRect home = ToWindow(*overlay.Panel(), overlay.Panel()->Bar().ButtonRect(0));
    overlay.Mouse(1, 16, kMousePress, home.left + 5, home.top + 5);
    r = overlay.Mouse(0, 16, kMouseMove, 10, 10);
    EXPECT_TRUE(r.handled);
    EXPECT_EQ(overlay.NavPanelState(), kPanelHoldsMouse);
    r = overlay.Mouse(1, 0, kMouseRelease, 10, 10);
    EXPECT_EQ(r.action.kind, 0);
    EXPECT_EQ(overlay.NavPanelState(), kPanelVisible);
}

TEST_F(OverlayPanel, RequestedButtonsTheSkinLacksAreSkipped) {
    TThirdSlide& overlay =
        Make("opt_fcp=1\nopt_nav_inifile=skin\\nav.ini\nopt_newnavbuttons_count=3\n"
             "opt_newnavbutton1=EXIT\nopt_newnavbutton2=forward\nopt_newnavbutton3=home\n");
    ASSERT_TRUE(overlay.HasPanel());
    EXPECT_EQ(overlay.Panel()->Selection(), (std::vector<int>{2, 0}));
    EXPECT_EQ(overlay.Panel()->Bar().ButtonName(0), "exit");
    EXPECT_EQ(overlay.Panel()->Bar().ButtonName(1), "home");
}

TEST_F(OverlayPanel, PauseShowsPlayWhileTheShowIsPaused) {
    TThirdSlide& overlay = Make(PanelKeys(), {0, 0, 1000, 600}, 1000, 600);
    const TNavRect pause = overlay.Panel()->Bar().ButtonRect(1);
    auto centre = [&] {
        TRef<TBitmap> picture =
            overlay.Images()[static_cast<std::size_t>(overlay.PanelImageIndex())].image->Store().GetMipLevel(
                0);
        return PixelAt(*picture, (pause.left + pause.right) / 2, (pause.top + pause.bottom) / 2);
    };
    overlay.Update(0);
    EXPECT_EQ(centre(), kWhite);
    playing_ = false;
    overlay.Update(40);
    EXPECT_EQ(centre(), kMagenta);
    EXPECT_TRUE(overlay.ItemChanged());
}

TEST_F(OverlayPanel, AutoHideFollowsTheMoveDetectorOnTheClock) {
    TThirdSlide& overlay =
        Make(PanelKeys() +
                 "opt_hidenavbar=1\nopt_nav_hideinterval=2\nopt_nav_fadein=500\nopt_nav_hidefadeout=1000\n",
             {0, 0, 1000, 600}, 1000, 600);
    auto opacity = [&](std::int64_t t) {
        now_ = t;
        overlay.Update(0);
        return overlay.PanelOpacity();
    };
    EXPECT_TRUE(overlay.PanelHidden());
    EXPECT_FLOAT_EQ(opacity(0), 0.0f);
    overlay.Mouse(0, 0, kMouseMove, 10, 10); // the first sample only records
    EXPECT_FLOAT_EQ(opacity(50), 0.0f);
    now_ = 100;
    overlay.Mouse(0, 0, kMouseMove, 13, 13); // 3 + 3 = 6 pixels: a move
    EXPECT_FLOAT_EQ(opacity(100), 0.0f);     // the fade-in starts
    EXPECT_FALSE(overlay.PanelHidden());
    EXPECT_FLOAT_EQ(opacity(350), 50.0f);
    EXPECT_FLOAT_EQ(opacity(600), 100.0f);
    EXPECT_FLOAT_EQ(opacity(2100), 100.0f); // exactly the idle interval: still shown
    EXPECT_FLOAT_EQ(opacity(2101), 100.0f); // idle: the fade-out starts
    EXPECT_TRUE(overlay.PanelHidden());
    EXPECT_FLOAT_EQ(opacity(2601), 50.0f);
    // A move halfway through the fade-out fades back in from 50 %.
    now_ = 2601;
    overlay.Mouse(0, 0, kMouseMove, 30, 13);
    EXPECT_FLOAT_EQ(opacity(2601), 50.0f);
    EXPECT_FALSE(overlay.PanelHidden());
    EXPECT_FLOAT_EQ(opacity(2726), 75.0f);
    EXPECT_FLOAT_EQ(opacity(2851), 100.0f);
    // The opacity reaches the panel's picture.
    EXPECT_FLOAT_EQ(overlay.Images()[static_cast<std::size_t>(overlay.PanelImageIndex())].opacity, 100.0f);
}

TEST_F(OverlayPanel, SmallMovesNeverWakeAHiddenPanelAndIntervalZeroHidesAtTheNextFrame) {
    TThirdSlide& overlay = Make(PanelKeys() + "opt_hidenavbar=1\n", {0, 0, 1000, 600}, 1000, 600);
    overlay.Mouse(0, 0, kMouseMove, 10, 10);
    now_ = 10;
    overlay.Mouse(0, 0, kMouseMove, 13, 12); // 5 pixels
    overlay.Update(0);
    EXPECT_TRUE(overlay.PanelHidden());
    now_ = 20;
    overlay.Mouse(0, 0, kMouseMove, 14, 14); // 6 from the recorded (10, 10)
    overlay.Update(0);
    EXPECT_FALSE(overlay.PanelHidden());
    now_ = 36; // the next frame
    overlay.Update(0);
    EXPECT_TRUE(overlay.PanelHidden());
}

TEST_F(OverlayPanel, AFadedOutPanelTakesNoClicks) {
    TThirdSlide& overlay =
        Make(PanelKeys() + "opt_hidenavbar=1\nopt_nav_hideinterval=1\n", {0, 0, 1000, 600}, 1000, 600);
    const TPlacedRect exit = ToWindow(*overlay.Panel(), overlay.Panel()->Bar().ButtonRect(2));
    const int x = exit.left + 4, y = exit.top + 4;
    overlay.Update(0);
    ASSERT_FLOAT_EQ(overlay.PanelOpacity(), 0.0f);
    // Clicking where the invisible exit button lies goes on to the slides.
    TOverlayMouseResult r = overlay.Mouse(1, 16, kMousePress, x, y);
    EXPECT_FALSE(r.handled);
    r = overlay.Mouse(1, 0, kMouseRelease, x, y);
    EXPECT_FALSE(r.handled);
    EXPECT_EQ(r.action.kind, 0);
    // A move wakes it; once it shows, the same click acts.
    now_ = 100;
    overlay.Mouse(0, 0, kMouseMove, x + 6, y);
    overlay.Update(0);
    now_ = 150;
    overlay.Update(0);
    EXPECT_GT(overlay.PanelOpacity(), 0.0f);
    overlay.Mouse(1, 16, kMousePress, x, y);
    EXPECT_EQ(overlay.Mouse(1, 0, kMouseRelease, x, y).action.kind, kPanelExit);
}

TEST_F(OverlayPanel, APointerOverThePanelKeepsItShown) {
    TThirdSlide& overlay =
        Make(PanelKeys() + "opt_hidenavbar=1\nopt_nav_hideinterval=1\n", {0, 0, 1000, 600}, 1000, 600);
    const TPlacedRect& bar = overlay.Panel()->BarRect();
    overlay.Mouse(0, 0, kMouseMove, 500, 300);
    now_ = 10;
    overlay.Mouse(0, 0, kMouseMove, bar.left + 3, bar.top + 3);
    overlay.Update(0);
    EXPECT_FALSE(overlay.PanelHidden());
    now_ = 5000;
    overlay.Update(0);
    EXPECT_FALSE(overlay.PanelHidden());
}

TEST_F(OverlayDraw, TheBorderFillRunsJustBeforeThePanelAndLastWhileCapturing) {
    TThirdSlide& overlay = Make(LogoKeys(5) + PanelKeys(), {100, 50, 900, 550}, 1000, 600);
    ASSERT_EQ(overlay.LogoIndex(), 0);
    ASSERT_EQ(overlay.PanelImageIndex(), 1);
    EXPECT_EQ(DrawnOps(), (std::vector<std::string>{"DrawImage", "BorderFill", "DrawImage"}));
    EXPECT_FALSE(overlay.IsChanged());
    overlay.SetCapturing(true);
    EXPECT_EQ(DrawnOps(), (std::vector<std::string>{"DrawImage", "BorderFill"}));
}

TEST_F(OverlayDraw, AnEmptyOverlayStillFillsTheBorder) {
    Make("");
    EXPECT_EQ(DrawnOps(), std::vector<std::string>{"BorderFill"});
    EXPECT_EQ(overlay_->NavPanelState(), kNoPanel);
}

TEST_F(OverlayPanel, ABrokenSkinLeavesTheShowWithoutTheBar) {
    struct TCase {
        std::string skin;
        std::string keys;
        std::string reason;
    };
    std::string badBounds = SkinText();
    badBounds.replace(badBounds.find("Bounds=0,0,10,20"), 16, "Bounds=0,0,10");
    const TCase cases[] = {
        {badBounds, PanelKeys(), "Incorrect number of parameters in field \"Bounds\" in [Cell(1:1)]"},
        {SkinText(), "opt_fcp=1\nopt_nav_inifile=skin\\none.ini\n", "none.ini"},
        {"[Common]\nVideoStyle=1\n", PanelKeys(), "video-style"},
        {"[Common]\nColsCount=0\n[CellWithObjects]\nCell=1,1\n", PanelKeys(), "empty bar"},
    };
    for (const TCase& c : cases) {
        WriteSkin(c.skin);
        const std::string log = LoggedWhile([&] {
            TThirdSlide& overlay = Make(LogoKeys(5) + c.keys);
            EXPECT_FALSE(overlay.HasPanel()) << c.reason;
            EXPECT_EQ(overlay.LogoIndex(), 0) << c.reason; // the rest of the overlay is there
            overlay.Update(0);
            EXPECT_FALSE(overlay.Mouse(1, 0, kMousePress, 500, 590).handled);
        });
        EXPECT_NE(log.find("without the navigation bar"), std::string::npos) << log;
        EXPECT_NE(log.find(c.reason), std::string::npos) << log;
    }
}

TEST_F(OverlayPanel, MissingSkinPicturesLeaveABarThatStillWorks) {
    std::filesystem::remove(dir_ / "skin" / "bar.png");
    std::filesystem::remove(dir_ / "skin" / "faces.png");
    TThirdSlide& overlay = Make(PanelKeys(), {0, 0, 1000, 600}, 1000, 600);
    ASSERT_TRUE(overlay.HasPanel());
    const TPlacedRect home = ToWindow(*overlay.Panel(), overlay.Panel()->Bar().ButtonRect(0));
    overlay.Mouse(1, 16, kMousePress, home.left + 5, home.top + 5);
    EXPECT_EQ(overlay.Mouse(1, 0, kMouseRelease, home.left + 5, home.top + 5).action.kind, kPanelHome);
}

} // namespace
} // namespace kiv

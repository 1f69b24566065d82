// The engine driven by a virtual clock through a three-slide show: which slides and which
// transition state each frame shows around the boundaries, seeks, pause, the clock held until the
// slides are built, the end of the show, barriers, device loss and the message edge cases.
#include "EngineTestSupport.h"

#include "audio/KivMusicPlayer.h"
#include "engine/DrawController.h"
#include "engine/SlideLoader.h"
#include "render/Drawer.h"
#include "render/gl/RendererGL.h"

#include <cmath>

namespace kiv {
namespace {

using test::kSlideColors;
using test::kSlideMs;
using test::kTransitionMs;
using test::TEngineRig;
using test::TTestShowSpec;

TEST(EngineFrames, SlidesAndTransitionStateAroundEveryBoundary) {
    TEngineRig rig;
    // Frames every 10 ms from 0 to the end of the show.
    for (int k = 0; k < 600; ++k) {
        const double t = k * 10.0;
        ASSERT_TRUE(rig.Player().RenderFrame(k)) << "frame at " << t;
        TKivEngine& engine = rig.Engine();
        ASSERT_DOUBLE_EQ(engine.CurrentTime(), t);
        const TRootItem& root = engine.Root();
        // The slide whose transition runs at t (slide 1 from the lead-in at 0, slide 2 from 2000,
        // slide 3 from 4000).
        const int incoming = t >= 4000 ? 2 : t >= 2000 ? 1 : 0;
        const bool transition = t <= incoming * kSlideMs + kTransitionMs;
        SCOPED_TRACE("t = " + std::to_string(t));
        if (transition) {
            ASSERT_EQ(root.LayerCount(), 3);
            EXPECT_EQ(rig.LayerSlide(0), incoming - 1);
            EXPECT_EQ(rig.LayerSlide(1), incoming);
            ASSERT_NE(root.Filter(), nullptr);
            EXPECT_DOUBLE_EQ(root.Progress(), t - incoming * kSlideMs);
            // A plain cut at the middle of the transition stands in for the effect.
            const bool second = t - incoming * kSlideMs >= kTransitionMs / 2;
            // The lead-in slide before the show wears the first slide's background.
            EXPECT_EQ(rig.CentreColor(), kSlideColors[second || incoming == 0 ? incoming : incoming - 1]);
        } else {
            ASSERT_EQ(root.LayerCount(), 2);
            EXPECT_EQ(root.Filter(), nullptr);
            EXPECT_EQ(rig.LayerSlide(0), incoming);
            EXPECT_EQ(rig.CentreColor(), kSlideColors[incoming]);
        }
    }
}

} // namespace
} // namespace kiv

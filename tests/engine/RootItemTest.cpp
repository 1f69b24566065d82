// The root item's draw order (slides, the plain cut standing in for a transition, the overlay last),
// its change detection, a layer that throws while drawing, and the frame interpolator.
#include "engine/RootItem.h"
#include "engine/FrameInterpolator.h"
#include "objects/PassThroughDrawer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace kiv {
namespace {

// Draws items straight through and records nothing itself; the items record their draws.
using TPlainDrawer = test::TPassThroughDrawer;

class TNamedItem final : public TDrawItem {
public:
    TNamedItem(std::string name, std::vector<std::string>& log, bool throws = false)
        : name_(std::move(name)), log_(log), throws_(throws) {}
    void Draw(TDeviceDrawer&) override {
        log_.push_back(name_);
        if (throws_) throw std::runtime_error("broken object");
    }
    void MarkChanged(bool on) { changed_ = on; }

private:
    std::string name_;
    std::vector<std::string>& log_;
    bool throws_;
};

struct TRootRig {
    std::vector<std::string> log;
    TRef<TRootItem> root = MakeRef<TRootItem>(true);
    TRef<TNamedItem> a = MakeRef<TNamedItem>("a", log);
    TRef<TNamedItem> b = MakeRef<TNamedItem>("b", log);
    TRef<TNamedItem> overlay = MakeRef<TNamedItem>("overlay", log);
    TRef<TKivFilter> filter = MakeRef<TKivFilter>(nullptr, 500.0, 0.0f);
    TPlainDrawer drawer;

    std::vector<std::string> Draw() {
        log.clear();
        root->Draw(drawer);
        return log;
    }
};

using TNames = std::vector<std::string>;

TEST(RootItemDraw, SlidesThenTheOverlayLast) {
    TRootRig rig;
    rig.root->SetLayer(0, rig.a.Get());
    rig.root->SetLayer(1, rig.overlay.Get());
    EXPECT_EQ(rig.Draw(), (TNames{"a", "overlay"}));
    // Without an overlay the last layer is empty and only the slides are drawn.
    rig.root->Clear();
    rig.root->SetLayer(0, rig.a.Get());
    rig.root->SetLayer(1, nullptr);
    EXPECT_EQ(rig.Draw(), (TNames{"a"}));
}

TEST(RootItemDraw, TransitionIsAPlainCutAtItsMiddle) {
    TRootRig rig;
    for (const double progress : {0.0, 249.0, 250.0, 499.0}) {
        rig.root->Clear();
        rig.root->SetLayer(0, rig.a.Get());
        rig.root->SetLayer(1, rig.b.Get());
        rig.root->SetLayer(2, rig.overlay.Get());
        rig.root->SetFilter(rig.filter.Get(), progress);
        EXPECT_TRUE(rig.root->Transitioning());
        EXPECT_EQ(rig.Draw(), (TNames{progress < 250 ? "a" : "b", "overlay"})) << progress;
    }
}

TEST(RootItemDraw, ALayerThatThrowsLeavesTheRestOfTheFrame) {
    TRootRig rig;
    auto broken = MakeRef<TNamedItem>("broken", rig.log, true);
    rig.root->SetLayer(0, broken.Get());
    rig.root->SetLayer(1, rig.a.Get());
    rig.root->SetLayer(2, rig.overlay.Get());
    EXPECT_NO_THROW(rig.Draw());
    EXPECT_EQ(rig.log, (TNames{"broken", "a", "overlay"}));
}

TEST(RootItemChange, LayersFilterProgressAndItemChangesMarkTheFrame) {
    TRootRig rig;
    const auto select = [&](TDrawItem* first, TKivFilter* filter, double progress) {
        rig.root->Clear();
        rig.root->SetLayer(0, first);
        rig.root->SetLayer(1, rig.overlay.Get());
        rig.root->SetFilter(filter, progress);
    };
    select(rig.a.Get(), nullptr, 0);
    EXPECT_TRUE(rig.root->HasChanged()); // the first frame
    select(rig.a.Get(), nullptr, 0);
    EXPECT_FALSE(rig.root->HasChanged()); // same layers, nothing moved: the frame is skipped
    select(rig.b.Get(), nullptr, 0);
    EXPECT_TRUE(rig.root->HasChanged()); // another slide in layer 0
    select(rig.b.Get(), nullptr, 0);
    rig.overlay->MarkChanged(true);
    EXPECT_TRUE(rig.root->HasChanged()); // the overlay faded
    rig.overlay->MarkChanged(false);
    select(rig.b.Get(), rig.filter.Get(), 10);
    EXPECT_TRUE(rig.root->HasChanged()); // a transition runs: every frame counts
    rig.root->Clear();
    rig.root->SetLayer(0, rig.b.Get());
    EXPECT_TRUE(rig.root->HasChanged()); // one layer fewer than before
}

TEST(FrameInterpolator, WarmUpThenSmoothingTowardTheRawClock) {
    TFrameInterpolator f;
    // 16 warm-up samples and then 32 ring samples pass through unchanged.
    double x = 0;
    for (int i = 0; i < 16 + 32; ++i) {
        x += i % 2 == 0 ? 10 : 22; // uneven steps, 16 ms on average
        EXPECT_DOUBLE_EQ(f.Filter(x), x) << i;
    }
    EXPECT_EQ(f.WarmUp(), 0);
    // From then on: the prediction from the mean step, pulled a sixth of the way to the raw value.
    const double previous = f.Output();
    x += 10;
    const double prediction = previous + 16.0;
    EXPECT_DOUBLE_EQ(f.Filter(x), prediction + (x - prediction) / 6.0);
    // A steady clock is followed without lag.
    for (int i = 0; i < 200; ++i)
        f.Filter(x += 16);
    EXPECT_NEAR(f.Output(), x, 1e-6);
}

TEST(FrameInterpolator, PassThroughStartsAtOnceAndEndsAfterTheNextSample) {
    TFrameInterpolator f;
    for (int i = 0; i < 60; ++i)
        f.Filter(i * 16.0);
    f.SetPassThrough(true);
    EXPECT_DOUBLE_EQ(f.Filter(5000), 5000);
    EXPECT_DOUBLE_EQ(f.Filter(5001), 5001);
    f.SetPassThrough(false);
    EXPECT_TRUE(f.PassThrough());
    EXPECT_DOUBLE_EQ(f.Filter(5016), 5016); // still passed through
    EXPECT_FALSE(f.PassThrough());
    // Warm-up is not counted again: smoothing takes over at once.
    EXPECT_NE(f.Filter(5100), 5100);
    // Turning it on drops a pending end.
    f.SetPassThrough(false);
    f.SetPassThrough(true);
    f.Filter(6000);
    EXPECT_TRUE(f.PassThrough());
}

} // namespace
} // namespace kiv

// The drawer's transition order: which slide is drawn plainly and which through the filter, for each
// kind of filter and with Reversed, the filter made once and kept by the parameters, and the plain
// draws outside the transition's time.
#include "render/Drawer.h"
#include "render/RenderFixture.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

// A slide that records its draws, with the drawer's offset and whether it went into a capture.
class TLogItem final : public TDrawItem {
public:
    TLogItem(std::string name, std::vector<std::string>& log, T3DDrawer*& drawer)
        : name_(std::move(name)), log_(log), drawer_(drawer) {}
    void Draw(TDeviceDrawer& d) override {
        std::string entry = name_;
        if (drawer_ && drawer_->Screen()->TargetDepth() > 1) entry += " captured";
        if (d.OffsetActive()) entry += " offset " + std::to_string(static_cast<int>(d.Offset().x));
        log_.push_back(entry);
    }

private:
    std::string name_;
    std::vector<std::string>& log_;
    T3DDrawer*& drawer_;
};

// A filter of a given order that records its draws.
class TLogFilter final : public TDrawFilter {
public:
    TLogFilter(TFilterOrder order, std::vector<std::string>& log) : order_(order), log_(log) {}
    void Draw(TD3DTriController& controller) override {
        log_.push_back("filter");
        EXPECT_FALSE(controller.Area().IsEmpty());
    }
    TFilterOrder Order() const override { return order_; }
    TVec2 PushOffset(const TRect& rect) const override { return {rect.Width() * Phase(), 0}; }

private:
    TFilterOrder order_;
    std::vector<std::string>& log_;
};

class DrawerTransition : public test::TDrawerFixture {
protected:
    void SetUp() override {
        TDrawerFixture::SetUp();
        if (HasFatalFailure()) return;
        raw = drawer.Get();
        SetTransitionFilterFactory(
            [this](const TRect& rect, const TKivEffect*, TDrawItem*, float, double duration) {
                ++made;
                auto f = MakeRef<TLogFilter>(order, log);
                f->Reversed = reversed;
                f->Init(rect, 0, static_cast<float>(duration));
                return TRef<TDrawFilter>(f);
            });
    }
    void TearDown() override {
        SetTransitionFilterFactory(nullptr);
        TDrawerFixture::TearDown();
    }
    std::vector<std::string> Frame(TFilterParams* params, double progress) {
        if (auto* holder = dynamic_cast<TKivFilter*>(params)) holder->progress = progress;
        log.clear();
        struct TRoot final : TDrawItem {
            std::function<void()> body;
            void Draw(TDeviceDrawer&) override { body(); }
        };
        auto frame = MakeRef<TRoot>();
        frame->body = [&] { drawer->DrawTransition(*outgoing, *incoming, params); };
        EXPECT_TRUE(drawer->Draw(*frame));
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        EXPECT_EQ(drawer->Screen()->TargetDepth() <= 1, true);
        return log;
    }
    TRef<TKivFilter> Holder() { return MakeRef<TKivFilter>(MakeRef<TKivEffect>(), 1000.0, 0.0f); }

    using TNames = std::vector<std::string>;
    T3DDrawer* raw = nullptr;
    std::vector<std::string> log;
    TRef<TLogItem> outgoing = MakeRef<TLogItem>("out", log, raw);
    TRef<TLogItem> incoming = MakeRef<TLogItem>("in", log, raw);
    TFilterOrder order = TFilterOrder::Common;
    bool reversed = false;
    int made = 0;
};

TEST_F(DrawerTransition, TheOrderTableForEachKindOfFilter) {
    struct TCase {
        TFilterOrder order;
        bool reversed;
        double progress;
        TNames want;
    };
    const TCase cases[] = {
        {TFilterOrder::Common, false, 300, {"out", "in captured", "filter"}},
        {TFilterOrder::Common, true, 300, {"in", "out captured", "filter"}},
        {TFilterOrder::Overturn, false, 300, {"out captured", "filter"}},
        {TFilterOrder::Overturn, false, 500, {"in captured", "filter"}},
        {TFilterOrder::Overturn, true, 300, {"in captured", "filter"}},
        {TFilterOrder::Overturn, true, 700, {"out captured", "filter"}},
        {TFilterOrder::TwoSlides, false, 300, {"in captured", "filter", "out captured", "filter"}},
        {TFilterOrder::TwoSlides, false, 600, {"out captured", "filter", "in captured", "filter"}},
        {TFilterOrder::TwoSlides, true, 300, {"out captured", "filter", "in captured", "filter"}},
        {TFilterOrder::TwoSlides, true, 600, {"in captured", "filter", "out captured", "filter"}},
        {TFilterOrder::Push, false, 250, {"out offset 16", "in captured", "filter"}},
    };
    for (const TCase& c : cases) {
        order = c.order;
        reversed = c.reversed;
        auto holder = Holder();
        EXPECT_EQ(Frame(holder.Get(), c.progress), c.want)
            << static_cast<int>(c.order) << " reversed " << c.reversed << " at " << c.progress;
        EXPECT_FALSE(drawer->OffsetActive());
    }
}

TEST_F(DrawerTransition, TheFilterIsMadeOnceAndOutsideItsTimeTheIncomingSlideIsPlain) {
    auto holder = Holder();
    Frame(holder.Get(), 100);
    Frame(holder.Get(), 200);
    EXPECT_EQ(made, 1);
    auto* filter = dynamic_cast<TDrawFilter*>(holder->drawFilter.Get());
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->CaptureRect, (TRect{0, 0, kWidth, kHeight}));
    EXPECT_FLOAT_EQ(filter->Time(), 200);
    for (const double progress : {1000.0, 1500.0, -1.0})
        EXPECT_EQ(Frame(holder.Get(), progress), (TNames{"in"})) << progress;
    // Parameters that are not a transition holder: the outgoing slide alone.
    EXPECT_EQ(Frame(nullptr, 0), (TNames{"out"}));
    // A holder without a descriptor never asks the factory and draws the incoming slide.
    auto empty = MakeRef<TKivFilter>(nullptr, 1000.0, 0.0f);
    EXPECT_EQ(Frame(empty.Get(), 300), (TNames{"in"}));
    // No factory: no filter, the incoming slide.
    SetTransitionFilterFactory(nullptr);
    auto lone = Holder();
    EXPECT_EQ(Frame(lone.Get(), 300), (TNames{"in"}));
    EXPECT_EQ(made, 1);
}

} // namespace
} // namespace kiv

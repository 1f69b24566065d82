// Transitions drawn by the slide drawer between two solid slides, read back pixel by pixel: each
// family's picture against the mix computed here from its phase and geometry, with GL clean after
// every frame.
#include "TransitionFamilies.h"
#include "effects/FilterFactory.h"
#include "effects/SlideEffectFilter.h"
#include "effects/TransitionFilters.h"
#include "objects/KivImage.h"
#include "objects/SlideProducer.h"
#include "objects/SlideShowSupport.h"
#include "render/Drawer.h"
#include "render/RenderFixture.h"
#include "support/LogCapture.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace kiv {
namespace {

constexpr std::uint32_t kA = 0xF08010; // outgoing
constexpr std::uint32_t kB = 0x2040C0; // incoming
constexpr std::uint32_t kC = 0x10E060; // the outgoing slide's right half where it has one

using test::TFnItem;

int Channel(std::uint32_t p, int shift) {
    return static_cast<int>((p >> shift) & 0xFF);
}

// (1 − k) × a + k × b per channel.
std::uint32_t Mix(std::uint32_t a, std::uint32_t b, double k) {
    std::uint32_t out = 0;
    for (const int shift : {16, 8, 0})
        out |= static_cast<std::uint32_t>(std::lround((1 - k) * Channel(a, shift) + k * Channel(b, shift)))
               << shift;
    return out;
}

// The soft edge's S-curve, written out: a² / 128 below the middle, mirrored above it.
double SCurve(double a) {
    return a < 127.5 ? a * a / 128 : 255 - (255 - a) * (255 - a) / 128;
}

std::uint32_t Scale(std::uint32_t a, double k) {
    return Mix(0, a, k);
}

// Under: capture 1; over it capture 2 fading in over the first second of the effect slide.
const std::string kFadeInObjects = "object Under:Image\nGUID=u\nReplaceWithEffectBuffer=1\nend\n"
                                   "object Over:Image\nGUID=o\nReplaceWithEffectBuffer=2\n"
                                   "object A:KeyPoint\nOrigin=SlideBegin\nTime=0\nOpacity=0\nend\n"
                                   "object B:KeyPoint\nOrigin=SlideBegin\nTime=1000\nOpacity=100\nend\nend\n";

class TransitionPixels : public test::TDrawerFixture {
protected:
    void SetUp() override {
        TDrawerFixture::SetUp();
        if (HasFatalFailure()) return;
        InstallTransitionFilters();
        outgoing = MakeRef<TFnItem>([](TDeviceDrawer& d) {
            d.FillRectangle({0, 0, 0}, {kWidth, kHeight, 0}, 0xFF000000u | kA);
        });
        incoming = MakeRef<TFnItem>([](TDeviceDrawer& d) {
            d.FillRectangle({0, 0, 0}, {kWidth, kHeight, 0}, 0xFF000000u | kB);
        });
        twoTone = MakeRef<TFnItem>([](TDeviceDrawer& d) {
            d.FillRectangle({0, 0, 0}, {kWidth / 2, kHeight, 0}, 0xFF000000u | kA);
            d.FillRectangle({kWidth / 2, 0, 0}, {kWidth, kHeight, 0}, 0xFF000000u | kC);
        });
    }
    void TearDown() override {
        holder.Reset();
        first.Reset();
        second.Reset();
        ReleaseEffectProducer();
        producer.reset();
        source.Reset();
        TDrawerFixture::TearDown();
    }

    static TRef<TKivEffect> Effect(std::uint32_t type, std::vector<bool> switches,
                                   std::vector<std::int32_t> ints = {}) {
        return test::Effect(type, std::move(switches), std::move(ints));
    }
    static std::vector<bool> Only(int count, int on, int actions = 0) {
        return test::OnlySwitch(count, on, actions);
    }

    // One frame of the transition at `ms` of `duration`; GL must be clean afterwards.
    TRef<TBitmap> Frame(TFilterParams* params, double ms, TDrawItem* from = nullptr, TDrawItem* to = nullptr) {
        if (auto* holder = dynamic_cast<TKivFilter*>(params)) holder->progress = ms;
        TDrawItem& out = from ? *from : *outgoing;
        TDrawItem& in = to ? *to : *incoming;
        auto root = MakeRef<TFnItem>([&](TDeviceDrawer&) {
            drawer->Clear(0xFF000000u, false);
            drawer->DrawTransition(out, in, params);
        });
        EXPECT_TRUE(drawer->Draw(*root));
        TRef<TBitmap> frame = drawer->GrabImage();
        EXPECT_TRUE(frame);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        EXPECT_EQ(drawer->Screen()->Renderer()->LastError, kErrNone);
        return frame;
    }
    TRef<TBitmap> Frame(TKivEffect* effect, double ms, float smoothline = 0, TDrawItem* from = nullptr) {
        holder = MakeRef<TKivFilter>(ShareRef(effect), 1000.0, smoothline);
        return Frame(holder.Get(), ms, from);
    }
    static std::uint32_t At(const TBitmap& b, int x, int y) { return Pixel(b, x, y) & 0xFFFFFF; }
    static void ExpectColor(std::uint32_t got, std::uint32_t want, int tolerance, const std::string& what) {
        for (const int shift : {16, 8, 0})
            EXPECT_NEAR(Channel(got, shift), Channel(want, shift), tolerance)
                << what << ": " << std::hex << got << " against " << want;
    }
    // The fraction of B in a pixel mixed from A and B (from the channel with the largest span).
    static double Share(std::uint32_t got) {
        return (Channel(got, 0) - Channel(kA, 0)) / double(Channel(kB, 0) - Channel(kA, 0));
    }

    // A show of two solid slides (kA, kB) and a custom transition section "effect_x" holding
    // `objects` inside its root, for a 64 × h design; its slides are built and at 3.5 s.
    void BuildShow(int h, const std::string& objects) {
        const std::string size = "opt_scr_width=64\nopt_scr_height=" + std::to_string(h) + "\n";
        const std::string show =
            "[Main]\n" + size + "[Times]\nopt_slidescount=2\nopt_synchpos1=4000\n" +
            "opt_synchpos2=8000\n[Slide1]\nbstyle=1\nbcolor=240,128,16\n[Slide2]\nbstyle=1\n" +
            "bcolor=32,64,192\n[effect_x]\nCustomEffTime=2000\n" + size + "object Container:Root\nGUID=r\n" +
            objects + "end\n";
        auto files = MakeRef<test::TNoFiles>();
        TKivSourceSetup setup;
        setup.document = test::ParseIni(show);
        setup.fileAccessor = MakeRef<TFileAccessor>(files);
        setup.programFileName = "kivviewer";
        setup.random = MakeRef<TTransitionRandom>(1);
        source = MakeRef<TKivSource>(std::move(setup));
        first.Reset();
        second.Reset();
        producer = std::make_unique<TSlideProducer>(*source);
        producer->SetScreen(kWidth, kHeight, kShowFitInside);
        first = producer->BuildSlide(0, 0);
        second = producer->BuildSlide(1, 0);
        ASSERT_TRUE(first && second);
        first->Advance(true, 3500);
        second->Advance(true, 3500);
        section = source->Document().FindSection("effect_x");
        ASSERT_TRUE(section);
    }
    TRef<TKivSource> source;
    std::unique_ptr<TSlideProducer> producer; // the slides' host
    TRef<TKivSlide> first, second;
    TIniSection* section = nullptr;

    TRef<TFnItem> outgoing, incoming, twoTone;
    TRef<TKivFilter> holder;
};

TEST_F(TransitionPixels, DissolveMixesByThePhaseAndEndsOnTheIncomingSlide) {
    auto dissolve = Effect(kEffectDissolve, {true});
    for (const double ms : {0.0, 250.0, 500.0, 900.0}) {
        auto frame = Frame(dissolve.Get(), ms);
        const std::uint32_t want = Mix(kA, kB, ms / 1000 * 255 / 255);
        for (const auto& [x, y] : {std::pair{0, 0}, {31, 20}, {63, 47}})
            ExpectColor(At(*frame, x, y), want, 1, "dissolve at " + std::to_string(ms));
    }
    // At or past the duration, and before the start, only the incoming slide shows.
    for (const double ms : {1000.0, 5000.0, -1.0})
        ExpectColor(At(*Frame(dissolve.Get(), ms), 10, 10), kB, 0, "outside at " + std::to_string(ms));
}

TEST_F(TransitionPixels, ParametersWithoutAFilterDrawOneSlidePlainly) {
    // No holder at all: the outgoing slide.
    ExpectColor(At(*Frame(static_cast<TFilterParams*>(nullptr), 0), 5, 5), kA, 0, "no holder");
    // A holder without a descriptor, or a family whose switches leave no direction: the incoming one.
    auto none = MakeRef<TKivFilter>(nullptr, 1000.0, 0.0f);
    ExpectColor(At(*Frame(none.Get(), 300), 5, 5), kB, 0, "no descriptor");
    ExpectColor(At(*Frame(Effect(kEffectGates, std::vector<bool>(8, false)).Get(), 300), 5, 5), kB, 0,
                "no direction");
}

TEST_F(TransitionPixels, GatesOpenABandAndReversedClosesItAsAMirror) {
    // Direction 5 at f = 0.5 with no soft edge: the incoming slide in a band of half-width w / 4.
    auto open = Frame(Effect(kEffectGates, Only(8, 5)).Get(), 500);
    for (int x = 0; x < kWidth; ++x) {
        const double d = std::abs(x + 0.5 - kWidth / 2.0);
        if (std::abs(d - kWidth / 4.0) < 1) continue;
        ExpectColor(At(*open, x, 24), d < kWidth / 4.0 ? kB : kA, 1, "gates column " + std::to_string(x));
    }
    // Direction 1 is the reversed form: at f the outgoing slide shows where direction 5 shows the
    // incoming one at 1 − f.
    for (const double f : {0.25, 0.6}) {
        auto closing = Frame(Effect(kEffectGates, Only(8, 1)).Get(), f * 1000);
        auto opening = Frame(Effect(kEffectGates, Only(8, 5)).Get(), (1 - f) * 1000);
        for (int x = 0; x < kWidth; ++x) {
            const double d = std::abs(x + 0.5 - kWidth / 2.0);
            if (std::abs(d - (1 - f) * kWidth / 2) < 1) continue;
            const bool inside = At(*opening, x, 10) == At(*opening, 32, 10);
            ExpectColor(At(*closing, x, 10), inside ? kA : kB, 1, "reversed column " + std::to_string(x));
            ExpectColor(At(*opening, x, 10), inside ? kB : kA, 1, "opening column " + std::to_string(x));
        }
    }
}

TEST_F(TransitionPixels, ASoftEdgeRampsOverTheSmoothWidthWithTheSCurve) {
    // smoothline 0.25 on 64 pixels: s = 16, E = 32 + 16; at f = 0.75 R = 36 and the core ends at 20.
    auto frame = Frame(Effect(kEffectGates, Only(8, 5)).Get(), 750, 0.25f);
    double last = 2;
    for (int x = 32; x < kWidth; ++x) {
        const double d = x + 0.5 - 32;
        const double share = Share(At(*frame, x, 30));
        const double want = d <= 20 ? 1 : d >= 36 ? 0 : 1 - SCurve((d - 20) * 255 / 16) / 255;
        EXPECT_NEAR(share, want, 0.08) << "distance " << d;
        EXPECT_LE(share, last + 0.01) << "the ramp falls monotonically at " << d;
        last = share;
        // The left side mirrors the right.
        ExpectColor(At(*frame, 63 - x, 30), At(*frame, x, 30), 2, "mirror of column " + std::to_string(x));
    }
}

TEST_F(TransitionPixels, PageFromTheUpperLeftCornerCoversATriangleAtTheMiddle) {
    auto frame = Frame(Effect(kEffectPage, Only(8, 8)).Get(), 500);
    const double half = (kWidth + kHeight) / 2.0;
    for (int y = 0; y < kHeight; y += 3)
        for (int x = 0; x < kWidth; x += 3) {
            const double sum = x + 0.5 + y + 0.5;
            if (std::abs(sum - half) < 1.5) continue;
            ExpectColor(At(*frame, x, y), sum < half ? kB : kA, 1,
                        "page at " + std::to_string(x) + "," + std::to_string(y));
        }
}

TEST_F(TransitionPixels, ACircleGrowsFromTheCentreOverTheWholeRectangle) {
    auto circle = Effect(kEffectShapes, Only(3, 1, 2), {50, 50});
    ExpectColor(At(*Frame(circle.Get(), 0), 32, 24), kA, 0, "nothing at f = 0");
    auto middle = Frame(circle.Get(), 500); // R = 20 of the half-diagonal 40
    for (int y = 0; y < kHeight; y += 2)
        for (int x = 0; x < kWidth; x += 2) {
            const double d = std::hypot(x + 0.5 - 32, y + 0.5 - 24);
            if (std::abs(d - 20) < 1.5) continue;
            ExpectColor(At(*middle, x, y), d < 20 ? kB : kA, 1,
                        "circle at " + std::to_string(x) + "," + std::to_string(y));
        }
    auto late = Frame(circle.Get(), 999);
    for (const auto& [x, y] : {std::pair{0, 0}, {63, 0}, {0, 47}, {63, 47}, {32, 24}})
        ExpectColor(At(*late, x, y), kB, 1, "corner");
    // Action 1: the outgoing slide inside a shrinking circle.
    auto shrinking = Frame(Effect(kEffectShapes, {true, false, true, false, false}, {50, 50}).Get(), 500);
    ExpectColor(At(*shrinking, 32, 24), kA, 1, "reversed centre");
    ExpectColor(At(*shrinking, 1, 1), kB, 1, "reversed corner");
}

TEST_F(TransitionPixels, MosaicWithoutAppearanceFadesEveryCellAlike) {
    auto frame = Frame(Effect(kEffectMosaic, {true}, {4, 4, 0}).Get(), 500);
    const std::uint32_t want = Mix(kA, kB, (std::round(256 * 0.5) - 1) / 255);
    for (int y = 1; y < kHeight; y += 6)
        for (int x = 1; x < kWidth; x += 6)
            ExpectColor(At(*frame, x, y), want, 1, "cell");
}

TEST_F(TransitionPixels, PushMovesBothSlidesAndSlideOnlyTheIncomingOne) {
    // Push from the left (direction switch 3) at f = 0.25: outgoing at +W / 4, incoming at −3W / 4.
    auto push = Frame(Effect(kEffectPush, Only(4, 3)).Get(), 250, 0, twoTone.Get());
    for (int x = 0; x < kWidth; ++x) {
        if (x == 15 || x == 16 || x == 47 || x == 48) continue;
        const std::uint32_t want = x < 16 ? kB : x < 48 ? kA : kC;
        ExpectColor(At(*push, x, 20), want, 1, "push column " + std::to_string(x));
    }
    auto slide = Frame(Effect(kEffectSlide, Only(4, 3)).Get(), 250, 0, twoTone.Get());
    for (int x = 0; x < kWidth; ++x) {
        if (x == 15 || x == 16 || x == 31 || x == 32) continue;
        const std::uint32_t want = x < 16 ? kB : x < 32 ? kA : kC;
        ExpectColor(At(*slide, x, 20), want, 1, "slide column " + std::to_string(x));
    }
}

TEST_F(TransitionPixels, FlipShowsTheOutgoingSlideTurningThenTheIncomingOne) {
    auto flip = Effect(kEffectFlip, {true, false, false, false, false, false});
    const double grey = std::round(std::cos(M_PI / 4) * 155 + 100) / 255;
    auto early = Frame(flip.Get(), 250);
    ExpectColor(At(*early, 32, 24), Scale(kA, grey), 2, "outgoing, turned");
    ExpectColor(At(*early, 1, 24), 0, 0, "uncovered edge");
    ExpectColor(At(*early, 62, 24), 0, 0, "uncovered far edge");
    auto late = Frame(flip.Get(), 750);
    ExpectColor(At(*late, 32, 24), Scale(kB, grey), 2, "incoming, turned");
    ExpectColor(At(*late, 1, 24), 0, 0, "uncovered edge");
}

TEST_F(TransitionPixels, TheCentreHandSweepsClockwiseOrMirrored) {
    // Hourhand direction 5 at f = 0.25 with the least soft edge: the quarter from straight up to
    // straight right of the centre; with action 2 the quarter from up to left.
    std::vector<bool> s(11, false);
    s[0] = true;
    s[2 + 4] = true;
    auto clockwise = Frame(Effect(kEffectHourhand, s).Get(), 250);
    s[0] = false;
    s[1] = true;
    auto counter = Frame(Effect(kEffectHourhand, s).Get(), 250);
    const std::pair<int, int> upperRight{48, 8}, upperLeft{15, 8}, lowerRight{48, 40}, lowerLeft{15, 40};
    ExpectColor(At(*clockwise, upperRight.first, upperRight.second), kB, 1, "clockwise upper right");
    for (const auto& [x, y] : {upperLeft, lowerRight, lowerLeft})
        ExpectColor(At(*clockwise, x, y), kA, 1, "clockwise elsewhere");
    ExpectColor(At(*counter, upperLeft.first, upperLeft.second), kB, 1, "counter-clockwise upper left");
    for (const auto& [x, y] : {upperRight, lowerRight, lowerLeft})
        ExpectColor(At(*counter, x, y), kA, 1, "counter-clockwise elsewhere");
    // The frames are mirror images of each other.
    for (int y = 2; y < kHeight; y += 5)
        for (int x = 2; x < kWidth; x += 5)
            ExpectColor(At(*counter, kWidth - 1 - x, y), At(*clockwise, x, y), 3, "mirror");
}

TEST_F(TransitionPixels, ABroomFromTheLeftHasSweptTheTopHalfAtTheMiddle) {
    std::vector<bool> s(11, false);
    s[0] = true;
    s[2 + 3] = true; // direction 4: pivot on the left
    auto frame = Frame(Effect(kEffectHourhand, s, {}).Get(), 500);
    for (int x = 4; x < kWidth; x += 6) {
        ExpectColor(At(*frame, x, 10), kB, 1, "top at " + std::to_string(x));
        ExpectColor(At(*frame, x, 38), kA, 1, "bottom at " + std::to_string(x));
    }
}

TEST_F(TransitionPixels, SwapStartsWithTheOutgoingSlideAndSplitsBothAtTheMiddle) {
    auto swap = Effect(kEffectSwap, {false, false, true, false});
    swap->floatParams = {4, 1, 60};
    auto start = Frame(swap.Get(), 0);
    for (const auto& [x, y] : {std::pair{0, 0}, {32, 24}, {63, 47}})
        ExpectColor(At(*start, x, y), kA, 1, "start");
    // f = 0.5: the incoming slide receded to the left, the outgoing one to the right, a gap between.
    auto middle = Frame(swap.Get(), 500);
    ExpectColor(At(*middle, 5, 24), kB, 1, "left");
    ExpectColor(At(*middle, 58, 24), kA, 1, "right");
    ExpectColor(At(*middle, 32, 24), 0, 0, "gap");
}

TEST_F(TransitionPixels, CurlingLaysTheIncomingSlideDownBehindTheRoll) {
    // Direction 5: the roll moves right; R = round(64 × 0.05) = 3; at f = 0.5 the axis is at 30.5.
    auto curl = [](bool action2) {
        std::vector<bool> s(12, false);
        s[action2 ? 1 : 0] = true;
        s[2 + 4] = true;
        auto e = Effect(kEffectCurling, s, {0, 0});
        e->floatParams = {0.05f, 0.125f};
        return e;
    };
    ExpectColor(At(*Frame(curl(false).Get(), 0), 5, 20), kA, 1, "nothing laid down at the start");
    auto middle = Frame(curl(false).Get(), 500);
    for (const int x : {2, 10, 20, 27})
        ExpectColor(At(*middle, x, 20), kB, 1, "laid down at " + std::to_string(x));
    for (const int x : {36, 50, 62})
        ExpectColor(At(*middle, x, 20), kA, 1, "still outgoing at " + std::to_string(x));
    // Action 2 rolls the outgoing slide up off the incoming one, from the left edge, its back
    // folded over its own right part.
    auto reversed = Frame(curl(true).Get(), 500);
    ExpectColor(At(*reversed, 10, 20), kB, 1, "incoming uncovered");
    ExpectColor(At(*reversed, 50, 20), kA, 1, "outgoing still flat");
    ExpectColor(At(*Frame(curl(true).Get(), 0), 50, 20), kA, 1, "reversed start");
    // With usecolor the folded-back sheet is drawn in the colour scaled by its shade (255 folded
    // flat: channel × 255 div 256), the laid-down part stays the slide.
    auto colored = curl(false);
    colored->switches[10] = true;
    colored->intParams = {0, 0x0080FF}; // 0x00BBGGRR: red 255, green 128, blue 0
    auto flap = Frame(colored.Get(), 500);
    ExpectColor(At(*flap, 10, 20), 0xFE7F00, 1, "coloured flap");
    ExpectColor(At(*flap, 50, 20), kA, 1, "outgoing beside the roll");
    // The roll starts exactly at its axis, not at the edge of the grid cell the axis crosses: with
    // R = 16 the cells are 4 pixels wide and at f = 0.475 the axis is at −16 + 80 × 0.475 = 22,
    // inside the cell from 20 to 24.
    auto wide = curl(false);
    wide->switches[10] = true;
    wide->intParams = {0, 0x0080FF};
    wide->floatParams = {0.25f, 0.125f};
    auto cut = Frame(wide.Get(), 475);
    for (const int x : {5, 20, 21})
        ExpectColor(At(*cut, x, 20), kB, 1, "laid flat before the axis at " + std::to_string(x));
    ExpectColor(At(*cut, 23, 20), 0xFE7F00, 2, "on the roll just past the axis");
}

// The captures' edges: a slide captured for a custom transition lies at the capture's top-left
// corner (moved there when the drawing area starts elsewhere) and repeats its last column and row
// outward by doubling runs up to 32 pixels (here 15 columns: 31 would pass the 25 left of the
// 64-wide capture); one captured for a sliding filter stays in place and repeats them by one pixel;
// beyond, the clear colour (transparent black for both) stays.
TEST_F(TransitionPixels, CapturesRepeatTheirLastColumnAndRowOutward) {
    constexpr std::uint32_t kBody = 0xFF204060u, kColumn = 0xFFC08020u, kRow = 0xFF10F010u;
    struct TCase {
        int x, y;
        std::uint32_t want;
    };
    for (const TPoint at : {TPoint{0, 0}, TPoint{8, 6}}) {
        TRef<TBitmap> slideCapture, filterCapture;
        auto root = MakeRef<TFnItem>([&](TDeviceDrawer&) {
            TCustomD3DEffecter* effecter = drawer->Effecter();
            T3DScreen* screen = drawer->Screen();
            effecter->SetClip({at.x, at.y, at.x + 40, at.y + 30});
            auto paint = [&] {
                screen->FillRect(kBody, TRect{0, 0, 39, 29}.Moved(at.x, at.y));
                screen->FillRect(kColumn, TRect{39, 0, 40, 29}.Moved(at.x, at.y));
                screen->FillRect(kRow, TRect{0, 29, 40, 30}.Moved(at.x, at.y));
            };
            auto read = [&](int n) {
                TRenderTargetTexture* capture = effecter->Capture(n);
                auto bitmap =
                    MakeRef<TBitmap>(capture->TexWidth(), capture->TexHeight(), TPixelFormat::Bgra32);
                EXPECT_TRUE(capture->Texture()->GetSurface(0)->CopyTo(*bitmap));
                return bitmap;
            };
            effecter->BeginEffect(1);
            ASSERT_TRUE(effecter->CaptureSlide(paint));
            slideCapture = read(0);
            effecter->EndEffect();
            effecter->BeginEffect(0);
            ASSERT_TRUE(effecter->CaptureForFilter(1, paint));
            filterCapture = read(0);
            effecter->EndEffect();
            effecter->SetClip(drawer->DrawRect());
        });
        ASSERT_TRUE(drawer->Draw(*root));
        ASSERT_TRUE(slideCapture && filterCapture);
        ASSERT_EQ(slideCapture->Width(), 64);
        ASSERT_EQ(slideCapture->Height(), 64);
        const std::string where = " with the area at " + std::to_string(at.x) + "," + std::to_string(at.y);
        for (const TCase& c : std::initializer_list<TCase>{{0, 0, kBody},
                                                           {10, 10, kBody},
                                                           {40, 10, kColumn},
                                                           {54, 10, kColumn},
                                                           {55, 10, 0},
                                                           {10, 30, kRow},
                                                           {10, 60, kRow},
                                                           {10, 61, 0},
                                                           {54, 60, kRow},
                                                           {55, 40, 0}})
            EXPECT_EQ(Pixel(*slideCapture, c.x, c.y), c.want)
                << "slide capture at " << c.x << "," << c.y << where;
        for (const TCase& c : std::initializer_list<TCase>{{39, 10, kColumn},
                                                           {40, 10, kColumn},
                                                           {41, 10, 0u},
                                                           {10, 30, kRow},
                                                           {40, 30, kRow},
                                                           {10, 31, 0u}})
            EXPECT_EQ(Pixel(*filterCapture, c.x + at.x, c.y + at.y), c.want)
                << "filter capture at " << c.x << "," << c.y << where;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// A window of another shape than the show's: the slide keeps its place between the bars and the
// transition plays inside it, with the slide's size, as it does in a window of the show's shape.
class LetterboxedTransitions : public TransitionPixels {
protected:
    // The window becomes w × h with the slide at `slide`; the slides fill it (two tones for the
    // outgoing one, split at its middle).
    void Window(int w, int h, const TRect& slide) {
        device->SetBounds({0, 0, w, h}, {0, 0}, false);
        drawer->SetCaptureSize({w, h});
        drawer->SetSlideRect(slide);
        area = slide;
    }
    TRef<TBitmap> At(TKivEffect* effect, double ms) {
        holder = MakeRef<TKivFilter>(ShareRef(effect), 1000.0, 0.0f);
        return Frame(holder.Get(), ms, split.Get(), plain.Get());
    }
    TRect area;
    TRef<TFnItem> split = MakeRef<TFnItem>([this](TDeviceDrawer& d) {
        const double middle = (area.left + area.right) / 2.0;
        d.FillRectangle({double(area.left), double(area.top), 0}, {middle, double(area.bottom), 0},
                        0xFF000000u | kA);
        d.FillRectangle({middle, double(area.top), 0}, {double(area.right), double(area.bottom), 0},
                        0xFF000000u | kC);
    });
    TRef<TFnItem> plain = MakeRef<TFnItem>([this](TDeviceDrawer& d) {
        d.FillRectangle({double(area.left), double(area.top), 0}, {double(area.right), double(area.bottom), 0},
                        0xFF000000u | kB);
    });
};

TEST_F(LetterboxedTransitions, SlideAndPushMoveBySlideWidthsBetweenTheBars) {
    // 800 × 360 with a 640 × 360 slide at 80: at f = 0.25 the slide from the left has brought in a
    // quarter of the slide's width (80 … 240); the push has moved the outgoing slide by as much.
    Window(800, 360, {80, 0, 720, 360});
    struct TBand {
        int from, to;
        std::uint32_t color;
    };
    auto expect = [&](const TBitmap& frame, const std::vector<TBand>& bands, bool rows, int across,
                      const std::string& what) {
        for (const TBand& band : bands)
            for (int i = band.from + 1; i < band.to - 1; ++i)
                ExpectColor(rows ? TransitionPixels::At(frame, across, i) : TransitionPixels::At(frame, i, across),
                            band.color, 1, what + " at " + std::to_string(i));
    };
    auto slide = At(Effect(kEffectSlide, Only(4, 3)).Get(), 250);
    // The slide's first column and row reach 2 pixels under the bars, which cover them.
    expect(*slide, {{0, 77, 0}, {80, 240, kB}, {240, 400, kA}, {400, 720, kC}, {720, 800, 0}}, false, 180,
           "slide, 800 × 360");
    auto push = At(Effect(kEffectPush, Only(4, 3)).Get(), 250);
    expect(*push, {{80, 240, kB}, {240, 560, kA}, {560, 720, kC}}, false, 180, "push, 800 × 360");
    // 640 × 480 with the slide at 60 … 420: from the top (direction switch 4) a quarter of 360.
    Window(640, 480, {0, 60, 640, 420});
    auto fromTop = At(Effect(kEffectSlide, Only(4, 4)).Get(), 250);
    expect(*fromTop, {{0, 57, 0}, {60, 150, kB}, {150, 420, kA}, {420, 480, 0}}, true, 100,
           "slide from the top, 640 × 480");
    auto pushDown = At(Effect(kEffectPush, Only(4, 4)).Get(), 250);
    expect(*pushDown, {{60, 150, kB}, {150, 420, kA}}, true, 100, "push from the top, 640 × 480");
}

TEST_F(LetterboxedTransitions, EveryFamilyDrawsTheSlideAsInAWindowOfItsOwnShape) {
    // Each family at 25, 50 and 75 % in a 640 × 360 window, then between the 80-pixel bars of an
    // 800 × 360 window: the slide's part of the wide frame is the narrow frame, and the flat
    // families leave the bars untouched (but for the 2 pixels the slide's edges reach under them).
    const std::vector<std::string> flat = {"dissolve", "circle", "rhomb", "gates", "page",
                                           "mosaic",   "slide",  "hourhand", "broom"};
    const auto families = test::EveryFamily();
    const double times[3] = {250.0, 500.0, 750.0};
    std::vector<TRef<TBitmap>> own;
    Window(640, 360, {0, 0, 640, 360});
    for (const auto& family : families)
        for (const double ms : times)
            own.push_back(At(family.second.Get(), ms));
    Window(800, 360, {80, 0, 720, 360});
    std::size_t n = 0;
    for (const auto& [name, effect] : families)
        for (const double ms : times) {
            const TRef<TBitmap>& narrow = own[n++];
            auto wide = At(effect.Get(), ms);
            ASSERT_TRUE(narrow && wide && narrow->Width() == 640 && wide->Width() == 800);
            const std::string what = name + " at " + std::to_string(int(ms)) + " ms";
            int worst = 0, off = 0;
            for (int y = 0; y < 360; y += 3)
                for (int x = 0; x < 640; x += 3)
                    for (const int shift : {16, 8, 0}) {
                        const int d = std::abs(Channel(Pixel(*narrow, x, y), shift) -
                                               Channel(Pixel(*wide, x + 80, y), shift));
                        worst = std::max(worst, d);
                        if (d > 8) ++off;
                    }
            // Edges may land a fraction of a pixel apart where a 3-D family's perspective rounds.
            EXPECT_LE(off, 60) << what << ": pixels unlike the slide's own window (worst " << worst << ")";
            if (std::find(flat.begin(), flat.end(), name) == flat.end()) continue;
            for (int y = 0; y < 360; y += 5)
                for (const int x : {0, 40, 77, 720, 760, 799})
                    ASSERT_EQ(TransitionPixels::At(*wide, x, y), 0u) << what << ": the bar at " << x << "," << y;
        }
}

TEST_F(LetterboxedTransitions, AWindowResizedMidTransitionKeepsTheFilterAndItsPlace) {
    // Each family begun in a 640 × 360 window goes on in an 800 × 360 one: the same filter (not
    // made again) draws what a filter begun there draws, its geometry (the broom's pivot among it)
    // laid over the slide's new place.
    for (const auto& [name, effect] : test::EveryFamily()) {
        Window(640, 360, {0, 0, 640, 360});
        auto running = MakeRef<TKivFilter>(ShareRef(effect.Get()), 1000.0, 0.0f);
        Frame(running.Get(), 250, split.Get(), plain.Get());
        TRefObject* made = running->drawFilter.Get();
        Window(800, 360, {80, 0, 720, 360});
        auto resized = Frame(running.Get(), 500, split.Get(), plain.Get());
        EXPECT_EQ(running->drawFilter.Get(), made) << name << ": the filter is kept";
        auto fresh = At(effect.Get(), 500);
        int off = 0;
        for (int y = 0; y < 360; y += 3)
            for (int x = 80; x < 720; x += 3)
                for (const int shift : {16, 8, 0})
                    if (std::abs(Channel(Pixel(*resized, x, y), shift) - Channel(Pixel(*fresh, x, y), shift)) > 8) ++off;
        EXPECT_LE(off, 60) << name << ": pixels unlike a transition begun in the resized window";
    }
}

TEST_F(LetterboxedTransitions, APipeWrapsOnceWithTheOuterWrapOnTop) {
    // A roll moving right (direction 5) with a pipe, R = round(640 × 0.05) = 32, no volume, over a
    // 640 × 360 slide: the axis is at p = −32 + 672 f = 200.5 at f = 232.5 / 672. The incoming
    // slide is laid down behind the axis and wound ahead of it; it is blue (kB) up to 350 and green
    // (kC) beyond, so that which wrap shows can be told by its colour.
    Window(640, 360, {0, 0, 640, 360});
    constexpr double p = 200.5, r = 32;
    auto bands = MakeRef<TFnItem>([](TDeviceDrawer& d) {
        d.FillRectangle({0, 0, 0}, {350, 360, 0}, 0xFF000000u | kB);
        d.FillRectangle({350, 0, 0}, {640, 360, 0}, 0xFF000000u | kC);
    });
    std::vector<bool> s(12, false);
    s[0] = true;
    s[2 + 4] = true;
    auto pipe = Effect(kEffectCurling, s, {1, 0});
    pipe->floatParams = {0.05f, 0.125f};
    holder = MakeRef<TKivFilter>(pipe, 1000.0, 0.0f);
    auto frame = Frame(holder.Get(), 1000 * (p + r) / 672, plain.Get(), bands.Get());
    // Where the plane lies d = x + 0.5 − p past the axis, every wrap's point turned by α with
    // sin α = d / R, shade 50 + 205 |cos α| for all of them; the highest, α = π − asin(d / R),
    // shows the slide's point p + α R.
    for (const int x : {172, 184, 196, 205, 216, 228}) {
        const double d = x + 0.5 - p;
        const double alpha = M_PI - std::asin(d / r);
        const double from = p + alpha * r;
        ASSERT_LT(from, 345) << "the test's own geometry";
        const double shade = (50 + 205 * std::sqrt(1 - d * d / (r * r))) / 255;
        for (const int y : {20, 180, 340})
            ExpectColor(TransitionPixels::At(*frame, x, y), Scale(kB, shade), 4,
                        "the outer wrap at " + std::to_string(x) + "," + std::to_string(y));
    }
    // Past one whole turn (2π R ≈ 201 pixels past the axis) the sheet goes on flat, under the
    // roll: beyond the roll it shows the slide 2π R further on, unshaded.
    for (const int x : {250, 300, 430})
        ExpectColor(TransitionPixels::At(*frame, x, 180), x + 2 * M_PI * r < 349 ? kB : kC, 2,
                    "past the turn at " + std::to_string(x));
    // The sheet laid down and the roll meet without a crack along the axis.
    for (int y = 0; y < 360; ++y)
        for (const int x : {199, 200, 201})
            ExpectColor(TransitionPixels::At(*frame, x, y), kB, 3,
                        "at the axis, " + std::to_string(x) + "," + std::to_string(y));
}

TEST_F(TransitionPixels, AColouredRollWithVolumeKeepsItsColour) {
    // As the coloured flap of the curl above, with use volume: the part folded back rises toward
    // the viewer and is still drawn in the colour scaled by its shade, not in grey.
    std::vector<bool> s(12, false);
    s[0] = true;
    s[2 + 4] = true;
    s[10] = s[11] = true;
    auto e = Effect(kEffectCurling, s, {0, 0x0080FF});
    e->floatParams = {0.05f, 0.125f};
    auto flap = Frame(e.Get(), 500);
    ExpectColor(At(*flap, 10, 20), 0xFE7F00, 3, "coloured flap with volume");
    ExpectColor(At(*flap, 50, 20), kA, 1, "outgoing beside the roll");
}

TEST_F(TransitionPixels, WhereTheCaptureIsEmptyTheFilterAddsNothing) {
    // The incoming slide covers only its left half; dissolving in at 50 % the right half must stay
    // the outgoing slide exactly, the left half the even mix.
    auto half = MakeRef<TFnItem>([](TDeviceDrawer& d) {
        d.FillRectangle({0, 0, 0}, {kWidth / 2, kHeight, 0}, 0xFF000000u | kB);
    });
    holder = MakeRef<TKivFilter>(Effect(kEffectDissolve, {true}), 1000.0, 0.0f);
    auto frame = Frame(holder.Get(), 500, nullptr, half.Get());
    const double k = std::lround(0.5 * 255) / 255.0;
    for (const int x : {2, 20, 29})
        ExpectColor(At(*frame, x, 20), Mix(kA, kB, k), 2, "mixed at " + std::to_string(x));
    for (const int x : {35, 50, 62})
        ExpectColor(At(*frame, x, 20), kA, 1, "untouched at " + std::to_string(x));
}

TEST_F(TransitionPixels, FramesReuseTheFilterAndTheCaptureTargets) {
    auto effect = Effect(kEffectGates, Only(8, 5));
    holder = MakeRef<TKivFilter>(effect, 1000.0, 0.0f);
    Frame(holder.Get(), 100);
    TRefObject* filter = holder->drawFilter.Get();
    ASSERT_NE(filter, nullptr);
    TCustomD3DEffecter* effecter = drawer->Effecter();
    ASSERT_NE(effecter, nullptr);
    EXPECT_EQ(effecter->OwnPoolFree(), 1u);
    for (const double ms : {200.0, 300.0, 400.0}) {
        Frame(holder.Get(), ms);
        EXPECT_EQ(holder->drawFilter.Get(), filter);
        EXPECT_EQ(effecter->OwnPoolFree(), 1u) << "a frame made a capture the pool could have lent";
        EXPECT_EQ(effecter->Capture(0), nullptr) << "captures live only within a frame";
    }
    EXPECT_EQ(drawer->Screen()->TargetDepth() <= 1, true);
}

// A custom transition: its effect slide shows the outgoing slide's capture and, over it, the
// incoming slide's capture fading in with the effect slide's own keyframes, which run with the
// phase; the captures are taken off the pictures after the frame.
TEST_F(TransitionPixels, ACustomTransitionDrawsItsSlideOverBothCaptures) {
    // Once filling the frame, once letterboxed (64 × 32 at the top 8): the effect slide lies where
    // the show lies and reads the captures from there.
    for (const int h : {48, 32}) {
        ASSERT_NO_FATAL_FAILURE(BuildShow(h, kFadeInObjects));
        auto effect = BuildCustomEffect(TRef<TIniSection>::Share(section));
        holder = MakeRef<TKivFilter>(effect, 1000.0, 0.0f);
        const int top = (kHeight - h) / 2;
        // The second time the filter is made ahead, as the slide loader prepares the slide the
        // transition enters: the frames keep it and draw the same.
        TRefObject* prepared = nullptr;
        if (h == 32) {
            drawer->PrepareTransition(*holder, *second);
            prepared = holder->drawFilter.Get();
            ASSERT_TRUE(dynamic_cast<TRealSlideFilter*>(prepared)) << "made before the first frame";
        }
        for (const double ms : {0.0, 250.0, 750.0}) {
            auto frame = Frame(holder.Get(), ms, first.Get(), second.Get());
            if (prepared) {
                EXPECT_EQ(holder->drawFilter.Get(), prepared);
            }
            // The incoming capture's opacity: the keyframes (0 → 100 % over 1000 ms) at f × 2000 ms.
            const double k = std::min(1.0, 2 * ms / 1000);
            const std::string what = "at " + std::to_string(ms) + " ms, show height " + std::to_string(h);
            for (const auto& [x, y] : {std::pair{2, top + 1}, std::pair{32, 24}, std::pair{61, top + h - 2}})
                ExpectColor(At(*frame, x, y), Mix(kA, kB, k), 3, what);
            if (top > 2) ExpectColor(At(*frame, 32, top / 2), 0, 0, "the bar " + what);
        }
    }
    auto* custom = dynamic_cast<TRealSlideFilter*>(holder->drawFilter.Get());
    ASSERT_TRUE(custom) << "a custom transition runs its own slide, not a dissolve";
    EXPECT_DOUBLE_EQ(custom->StoredPhase(), 0.75);
    int pictures = 0;
    for (int i = 0; i < custom->EffectSlide()->ChildCount(); ++i)
        if (auto* image = dynamic_cast<TKivImage*>(custom->EffectSlide()->Child(i))) {
            ++pictures;
            EXPECT_EQ(TRealSlideFilter::CaptureWanted(*image), i + 1);
            ASSERT_TRUE(image->Picture());
            EXPECT_FALSE(image->Picture()->Attachments().Find<TCustomTexture>()) << "captures detached";
        }
    EXPECT_EQ(pictures, 2);
    // Without a section the transition dissolves; so does a slide that is not a producer's.
    EXPECT_TRUE(dynamic_cast<TAlphaFilter*>(MakeCustomTransition(first.Get(), nullptr).Get()));
    EXPECT_TRUE(dynamic_cast<TAlphaFilter*>(MakeCustomTransition(outgoing.Get(), section).Get()));
}

// A vertex exactly on the renderer area's left or top edge is drawn 2 pixels further out, so the
// capture's first column and row reach the screen's edge without a gap; the right and bottom edges
// stay where they are.
TEST_F(TransitionPixels, VerticesOnTheAreasLeftAndTopEdgesMoveTwoPixelsOut) {
    const TRect area{8, 6, 40, 30};
    auto root = MakeRef<TFnItem>([&](TDeviceDrawer&) {
        drawer->Clear(0xFF000000u, false);
        TCustomD3DEffecter* effecter = drawer->Effecter();
        T3DScreen* screen = drawer->Screen();
        effecter->SetArea(area);
        effecter->BeginEffect(0);
        // The whole capture in one colour: only where the quad lands is looked at.
        ASSERT_TRUE(effecter->CaptureForFilter(0, [&] {
            screen->FillRect(0xFF000000u | kA, {-64, -64, 128, 128});
        }));
        screen->Camera(kWidth, kHeight, kWidth, kHeight, 0, 0);
        TD3DTriController& controller = effecter->Controller(effecter->Capture(0), area, area);
        const std::vector<TTileVertex> quad{FlatVertex(8, 6, 255),  FlatVertex(40, 6, 255),
                                            FlatVertex(8, 30, 255), FlatVertex(8, 30, 255),
                                            FlatVertex(40, 6, 255), FlatVertex(40, 30, 255)};
        controller.Begin(true);
        controller.Triangles(quad);
        controller.End();
        effecter->EndEffect();
    });
    ASSERT_TRUE(drawer->Draw(*root));
    TRef<TBitmap> frame = drawer->GrabImage();
    ASSERT_TRUE(frame);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    struct TCase {
        int x, y;
        std::uint32_t want;
    };
    for (const TCase& c : std::initializer_list<TCase>{{6, 15, kA},
                                                       {5, 15, 0},
                                                       {20, 4, kA},
                                                       {20, 3, 0},
                                                       {6, 4, kA},
                                                       {39, 29, kA},
                                                       {39, 15, kA},
                                                       {20, 29, kA},
                                                       {38, 28, kA},
                                                       {40, 15, 0},
                                                       {20, 30, 0}})
        ExpectColor(At(*frame, c.x, c.y), c.want, 2, "at " + std::to_string(c.x) + "," + std::to_string(c.y));
}

// After a transition's first frame the pools hold every render target it needs: thirty more
// frames of each family, custom transitions included, make none.
TEST_F(TransitionPixels, NoFrameAfterTheFirstMakesARenderTarget) {
    ASSERT_NO_FATAL_FAILURE(BuildShow(48, kFadeInObjects));
    auto families = test::EveryFamily();
    families.emplace_back("custom", BuildCustomEffect(TRef<TIniSection>::Share(section)));
    for (const auto& [name, effect] : families) {
        holder = MakeRef<TKivFilter>(effect, 1000.0, 0.05f);
        Frame(holder.Get(), 0, first.Get(), second.Get());
        TCustomD3DEffecter* effecter = drawer->Effecter();
        ASSERT_NE(effecter, nullptr);
        const int made = effecter->Made(), acquired = effecter->Acquired();
        for (int i = 1; i <= 30; ++i)
            Frame(holder.Get(), i * 999.0 / 30, first.Get(), second.Get());
        EXPECT_EQ(effecter->Made(), made)
            << name << ": a frame made a render target the pools could have lent";
        EXPECT_GE(effecter->Acquired() - acquired, 30) << name << ": every frame captures";
        EXPECT_EQ(effecter->Capture(0), nullptr) << name;
        EXPECT_EQ(effecter->Capture(1), nullptr) << name;
    }
}

// Input the show should not hold falls back to a dissolve or a cut and says so in the log; the
// frame is drawn without a GL error left behind (Frame checks) and the last frame is the incoming
// slide.
TEST_F(TransitionPixels, BadInputDissolvesOrCutsWithALogLine) {
    // The custom transition's image has no GUID, so its slide cannot be built.
    ASSERT_NO_FATAL_FAILURE(BuildShow(48, "object Under:Image\nReplaceWithEffectBuffer=1\nend\n"));
    constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
    struct TCase {
        const char* what;
        TRef<TKivEffect> effect;
        double duration, ms;
        double share; // of the incoming slide at ms
        const char* log;
    };
    const TCase cases[] = {
        {"unknown family", Effect(99, {true}), 1000, 500, 0.5, "unknown family 99"},
        {"negative duration", Effect(kEffectDissolve, {true}), -500, 100, 1, "a duration of -500"},
        {"no duration", Effect(kEffectGates, Only(8, 5)), kNan, 0, 1, "cannot run"},
        {"enormous duration", Effect(kEffectDissolve, {true}), 1e300, 900e3, 0.25, "kept to one hour"},
        {"a million tiles", Effect(kEffectMosaic, {true}, {1000, 1000, 0, 3}), 1000, 500, 0.5,
         "cells kept to"},
        {"custom slide fails", BuildCustomEffect(TRef<TIniSection>::Share(section)), 1000, 500, 0.5,
         "cannot be built"},
    };
    for (const TCase& c : cases) {
        TRef<TBitmap> frame, last;
        const std::string log = test::LoggedWhile([&] {
            holder = MakeRef<TKivFilter>(c.effect, c.duration, 0.0f);
            frame = Frame(holder.Get(), c.ms, first.Get(), second.Get());
            last = Frame(holder.Get(), std::isfinite(c.duration) ? std::max(c.duration, 0.0) : 0, first.Get(),
                         second.Get());
        });
        ASSERT_TRUE(frame && last) << c.what;
        // The mosaic's cells all fade alike without an appearance; 256 steps round the phase.
        ExpectColor(At(*frame, 40, 30), Mix(kA, kB, c.share), 3, c.what);
        ExpectColor(At(*last, 40, 30), kB, 0, std::string(c.what) + " at the end");
        EXPECT_NE(log.find(c.log), std::string::npos) << c.what << ": " << log;
    }
    // A filter laid out while the drawing rectangle was empty (a zero-size capture rectangle) is laid
    // out anew over the rectangle it is drawn on.
    holder = MakeRef<TKivFilter>(Effect(kEffectDissolve, {true}), 1000.0, 0.0f);
    holder->drawFilter = MakeTransitionFilter({0, 0, 0, 0}, holder->effect.Get(), 0, 1000);
    ExpectColor(At(*Frame(holder.Get(), 250, first.Get(), second.Get()), 40, 30), Mix(kA, kB, 0.25), 3,
                "zero-size capture rectangle");
    auto* made = dynamic_cast<TDrawFilter*>(holder->drawFilter.Get());
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->CaptureRect, (TRect{0, 0, kWidth, kHeight}));
}

} // namespace
} // namespace kiv

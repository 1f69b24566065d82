// Filter geometry without a device: the factory's choice per family and switch, phases and time
// clamping, shape extents, the soft-edge curve and the mosaic's generator and start values.
#include "TransitionFamilies.h"
#include "base/Assert.h"
#include "effects/FilterFactory.h"
#include "effects/TransitionFilters.h"
#include "project/KivSource.h"
#include "project/TransitionRandom.h"
#include "support/IniText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace kiv {
namespace {

constexpr TRect kFullHd{0, 0, 1920, 1080};

using test::Effect;

// Eight direction switches with only `on` (1 … 8) set.
std::vector<bool> OneOf8(int on) {
    std::vector<bool> s(8, false);
    s[static_cast<std::size_t>(on - 1)] = true;
    return s;
}

TEST(FilterFactory, GatesAndPagePickTheirLineFiltersAndDirections) {
    struct TCase {
        std::uint32_t family;
        int direction;
        const char* kind; // h, v or d
        bool reversed;
        int mode; // diagonals only
        bool flip;
    };
    const TCase cases[] = {
        {kEffectGates, 1, "h", true, 0, false},  {kEffectGates, 2, "v", true, 0, false},
        {kEffectGates, 3, "d", true, 1, false},  {kEffectGates, 4, "d", true, 1, true},
        {kEffectGates, 5, "h", false, 0, false}, {kEffectGates, 7, "d", false, 1, false},
        {kEffectGates, 8, "d", false, 1, true},  {kEffectPage, 1, "d", false, 2, false},
        {kEffectPage, 3, "d", false, 0, true},   {kEffectPage, 6, "d", false, 2, true},
        {kEffectPage, 8, "d", false, 0, false},  {kEffectPage, 4, "h", false, 0, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.family) + "/" + std::to_string(c.direction));
        TRef<TDrawFilter> f =
            MakeTransitionFilter(kFullHd, Effect(c.family, OneOf8(c.direction)).Get(), 0, 1000);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->Reversed, c.reversed);
        if (c.kind[0] == 'h') {
            EXPECT_NE(dynamic_cast<THLines*>(f.Get()), nullptr);
        }
        if (c.kind[0] == 'v') {
            EXPECT_NE(dynamic_cast<TVLines*>(f.Get()), nullptr);
        }
        if (c.kind[0] == 'd') {
            auto* d = dynamic_cast<TDiagLines*>(f.Get());
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(d->Mode(), c.mode);
            EXPECT_EQ(d->Flip(), c.flip);
        }
    }
    // Page direction 4 grows from the right edge: its centre is (right, top).
    auto right = MakeTransitionFilter(kFullHd, Effect(kEffectPage, OneOf8(4)).Get(), 0, 1000);
    EXPECT_DOUBLE_EQ(dynamic_cast<TCommonFilter*>(right.Get())->CenterX(), 1920);
    // The first direction switched on wins.
    std::vector<bool> two(8, false);
    two[5] = two[1] = true;
    EXPECT_NE(
        dynamic_cast<TVLines*>(MakeTransitionFilter(kFullHd, Effect(kEffectGates, two).Get(), 0, 1).Get()),
        nullptr);
}

TEST(FilterFactory, NoDirectionOrNoDescriptorGivesNoFilterAndOtherFamiliesFade) {
    EXPECT_FALSE(MakeTransitionFilter(kFullHd, nullptr, 0, 1000));
    for (const std::uint32_t family : {kEffectGates, kEffectPage, kEffectPush, kEffectSlide, kEffectFlip})
        EXPECT_FALSE(
            MakeTransitionFilter(kFullHd, Effect(family, std::vector<bool>(8, false)).Get(), 0, 1000))
            << family;
    EXPECT_FALSE(
        MakeTransitionFilter(kFullHd, Effect(kEffectShapes, {true, false, false, false, false}).Get(), 0, 1));
    // An unknown family code and the families without a geometry of their own dissolve.
    for (const std::uint32_t family : {0u, 99u, std::uint32_t{kEffectDissolve}, std::uint32_t{kEffectCustom}})
        EXPECT_NE(dynamic_cast<TAlphaFilter*>(
                      MakeTransitionFilter(kFullHd, Effect(family, {true}).Get(), 0, 1).Get()),
                  nullptr)
            << family;
}

TEST(FilterFactory, PushAndSlideMapTheirDirectionsAndPushOffsetsTheOutgoingSlide) {
    const int expected[4] = {2, 4, 1, 3};
    for (int d = 1; d <= 4; ++d) {
        std::vector<bool> s(4, false);
        s[static_cast<std::size_t>(d - 1)] = true;
        auto push = MakeTransitionFilter(kFullHd, Effect(kEffectPush, s).Get(), 0, 1000);
        auto* p = dynamic_cast<TPushFilter*>(push.Get());
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->Direction(), expected[d - 1]);
        EXPECT_EQ(p->Order(), TFilterOrder::Push);
        EXPECT_EQ(p->CaptureMode, 1);
        auto slide = MakeTransitionFilter(kFullHd, Effect(kEffectSlide, s).Get(), 0, 1000);
        EXPECT_EQ(dynamic_cast<TSlideFilter*>(slide.Get())->Direction(), expected[d - 1]);
        EXPECT_EQ(slide->Order(), TFilterOrder::Common);
    }
    // Push direction 1 at f = 0.25: the outgoing slide at +W / 4, the incoming one at −3W / 4.
    auto push = MakeRef<TPushFilter>(1);
    push->Init(kFullHd, 0, 1000);
    push->SetTime(250);
    EXPECT_DOUBLE_EQ(push->PushOffset(kFullHd).x, 480);
    EXPECT_DOUBLE_EQ(push->Displacement(1920, 1080).x, -1440);
    push = MakeRef<TPushFilter>(4);
    push->Init(kFullHd, 0, 1000);
    push->SetTime(250);
    EXPECT_DOUBLE_EQ(push->PushOffset(kFullHd).y, -270);
    EXPECT_DOUBLE_EQ(push->Displacement(1920, 1080).y, 810);
}

TEST(DrawFilterTime, TimeIsClampedAndBadDurationsKeepThePhaseInRange) {
    auto f = MakeRef<TAlphaFilter>();
    f->Init(kFullHd, 0, 400);
    f->SetTime(100);
    EXPECT_DOUBLE_EQ(f->Phase(), 0.25);
    f->SetTime(-5);
    EXPECT_DOUBLE_EQ(f->Phase(), 0);
    f->SetTime(NAN);
    EXPECT_DOUBLE_EQ(f->Phase(), 0);
    f->SetTime(900);
    EXPECT_DOUBLE_EQ(f->Phase(), 1);
    // A duration of 0, a negative one or a non-number: the phase stays 0.
    for (const float bad : {0.0f, -300.0f, NAN}) {
        f->Init(kFullHd, 0, bad);
        f->SetTime(50);
        EXPECT_DOUBLE_EQ(f->Phase(), 0) << bad;
        EXPECT_EQ(f->Duration(), 0) << bad;
    }
    // An enormous duration is kept to one hour by the factory; its phase still moves.
    auto huge = MakeTransitionFilter(kFullHd, Effect(kEffectDissolve, {true}).Get(), 0, 1e300);
    ASSERT_TRUE(huge);
    EXPECT_FLOAT_EQ(huge->Duration(), 3.6e6f);
    huge->SetTime(1.8e6);
    EXPECT_NEAR(huge->Phase(), 0.5, 1e-6);
}

TEST(ShapeMasks, ExtentsFollowTheCentreAndTheSoftEdge) {
    // A centred circle on 1920 × 1080 with smoothline 0.1: s = 192 and E = half-diagonal + s.
    std::vector<bool> circle{false, false, true, false, false};
    auto f = MakeTransitionFilter(kFullHd, Effect(kEffectShapes, circle, {50, 50}).Get(), 0.1f, 1000);
    auto* c = dynamic_cast<TCircleFilter*>(f.Get());
    ASSERT_NE(c, nullptr);
    EXPECT_FLOAT_EQ(c->SmoothWidth(), 192);
    EXPECT_NEAR(c->Extent(), std::hypot(960.0, 540.0) + 192, 1e-6);
    EXPECT_NEAR(std::hypot(960.0, 540.0), 1101.45, 0.01);
    EXPECT_EQ(c->Segments(), 128);
    EXPECT_DOUBLE_EQ(c->Radius(), 0); // f = 0: nothing of the filtered slide
    c->SetTime(1000);
    EXPECT_DOUBLE_EQ(c->Radius(), c->Extent());
    // Action 1 reverses: the circle shrinks from E to 0.
    circle[0] = true;
    auto r = MakeTransitionFilter(kFullHd, Effect(kEffectShapes, circle, {50, 50}).Get(), 0.1f, 1000);
    EXPECT_TRUE(r->Reversed);
    EXPECT_DOUBLE_EQ(dynamic_cast<TCommonFilter*>(r.Get())->Radius(), c->Extent());
    // A centre outside the rectangle: the circle starts at its distance to the rectangle.
    auto outside = MakeRef<TCircleFilter>(-0.5, 0.5);
    outside->Init({0, 0, 200, 100}, 0, 1000);
    EXPECT_DOUBLE_EQ(outside->Offset(), 100);
    EXPECT_EQ(outside->Segments(), 256);
    EXPECT_NEAR(outside->Extent(), std::hypot(300.0, 50.0) - 100, 1e-9);
    // Diamond and rectangle extents from the centre.
    auto rhomb = MakeRef<TRhombFilter>(0.5, 0.5);
    rhomb->Init({0, 0, 200, 100}, 10, 1000);
    EXPECT_DOUBLE_EQ(rhomb->Extent(), 150 + 10);
    auto square = MakeRef<TSquareFilter>(0.25, 0.5);
    square->Init({0, 0, 200, 100}, 0, 1000);
    EXPECT_DOUBLE_EQ(square->Extent(), 150); // right − cx beats (bottom − cy) × w / h = 100
    auto beside = MakeRef<TSquareFilter>(1.5, 0.5);
    beside->Init({0, 0, 200, 100}, 4, 1000);
    EXPECT_DOUBLE_EQ(beside->Extent(), 204); // outside: w + s
    // Lines: the farthest edge from the centre line; diagonals: (w + h) / 2 through the centre.
    auto lines = MakeRef<THLines>(0.25, 0.5);
    lines->Init({0, 0, 200, 100}, 0, 1000);
    EXPECT_DOUBLE_EQ(lines->Extent(), 150);
    auto diag = MakeRef<TDiagLines>(1, false);
    diag->Init({0, 0, 201, 100}, 0, 1000);
    EXPECT_DOUBLE_EQ(diag->Extent(), 150); // integer halving of 301
    auto corner = MakeRef<TDiagLines>(0, false);
    corner->Init({0, 0, 200, 100}, 6, 1000);
    EXPECT_DOUBLE_EQ(corner->Extent(), 306);
}

// The circle's rings: the opaque core is a fan of N / 2 triangles from the centre; each band is a
// strip of N triangles between two circles of N / 2 points staggered by 1/N of a turn, the leading
// circle alternating so that a ring two bands share has the same points in both.
TEST(ShapeMasks, CircleRingsAreStaggeredAndShareTheirPoints) {
    auto c = MakeRef<TCircleFilter>(0.5, 0.5);
    c->Init(kFullHd, 192, 1000);
    c->SetTime(500); // R = 646.7: a core of radius R − s and edge bands beyond it
    TD3DTriController none(nullptr, nullptr, kFullHd, kFullHd);
    c->Draw(none);
    const auto& v = c->Vertices();
    const int m = 64;
    ASSERT_GE(v.size(), static_cast<std::size_t>(3 * m + 2 * 6 * m));
    ASSERT_EQ((v.size() - 3 * m) % (6 * m), 0u) << "core fan, then whole strips";
    const double cx = 960, cy = 540, step = 2 * M_PI / m;
    auto angle = [&](const TTileVertex& p) {
        const double a = std::atan2(p.y - cy, p.x - cx);
        return a < -1e-9 ? a + 2 * M_PI : a;
    };
    auto radius = [&](const TTileVertex& p) { return std::hypot(p.x - cx, p.y - cy); };
    // The core: the centre, then consecutive outer points half a step round (the ring band 0 starts
    // from), fully opaque.
    EXPECT_DOUBLE_EQ(v[0].x, cx);
    EXPECT_NEAR(radius(v[1]), c->Radius() - 192, 1e-9);
    EXPECT_NEAR(angle(v[1]), step / 2, 1e-9);
    EXPECT_NEAR(angle(v[2]), 1.5 * step, 1e-9);
    EXPECT_FLOAT_EQ(v[1].opacity, 255);
    // Band b: (outer k, inner k, outer k + 1, …); the outer circle leads (angle 0) on even bands.
    const std::size_t bands = (v.size() - 3 * m) / (6 * m);
    double lastOuter = c->Radius() - 192;
    for (std::size_t b = 0; b < bands; ++b) {
        const TTileVertex* band = &v[3 * m + b * 6 * m];
        const double lead = b % 2 == 0 ? 0 : step / 2;
        EXPECT_NEAR(angle(band[0]), lead, 1e-9) << "band " << b;
        EXPECT_NEAR(angle(band[1]), step / 2 - lead, 1e-9) << "band " << b;
        EXPECT_NEAR(radius(band[1]), lastOuter, 1e-6) << "inner ring = the previous band's outer ring";
        EXPECT_GT(band[1].opacity, band[0].opacity) << "fading outward";
        lastOuter = radius(band[0]);
    }
    EXPECT_NEAR(lastOuter, c->Radius(), 1e-6) << "the last band ends at R";
    EXPECT_FLOAT_EQ(v.back().opacity, 0);
}

TEST(ShapeMasks, TheEdgeCurveIsAnSShapeFromZeroTo255) {
    EXPECT_DOUBLE_EQ(EdgeCurve(0), 0);
    EXPECT_DOUBLE_EQ(EdgeCurve(255), 255);
    EXPECT_DOUBLE_EQ(EdgeCurve(64), 32);
    EXPECT_DOUBLE_EQ(EdgeCurve(191), 255 - 32);
    EXPECT_NEAR(EdgeCurve(127.5), 127.5, 0.6);
    for (int a = 1; a <= 255; ++a)
        EXPECT_GE(EdgeCurve(a), EdgeCurve(a - 1)) << a;
    // Out-of-range arguments stay at the ends.
    EXPECT_DOUBLE_EQ(EdgeCurve(-40), 0);
    EXPECT_DOUBLE_EQ(EdgeCurve(900), 255);
}

// The generator written out again: 32-bit LCG, mantissa bits into [1, 2), minus 1.
float ReferenceUnit(std::uint32_t& state) {
    state = static_cast<std::uint32_t>(static_cast<std::uint64_t>(state) * 1664525u + 1013904223u);
    std::uint32_t bits = 0x3F800000u | (state & 0x7FFFFFu);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value - 1.0f;
}

TEST(Mosaic, StartValuesComeFromTheSeedRowByRow) {
    std::uint32_t a = 0, b = 0;
    for (int i = 0; i < 1000; ++i) {
        const float u = NextUnit(a);
        EXPECT_EQ(u, ReferenceUnit(b));
        EXPECT_GE(u, 0.0f);
        EXPECT_LT(u, 1.0f);
    }
    // Seed 12345, appearance 50: c = 5000; start (j, i) = round(u × c), rows outermost.
    auto m = MakeRef<TRandomFilter>(4, 3, 12345u, 50);
    m->Init(kFullHd, 0, 1000);
    std::uint32_t state = 12345u;
    ASSERT_EQ(m->StartValues().size(), 12u);
    for (std::size_t k = 0; k < 12; ++k)
        EXPECT_EQ(m->StartValues()[k], std::lround(ReferenceUnit(state) * 5000.0)) << k;
    // Another seed gives another order; the same seed the same one.
    auto same = MakeRef<TRandomFilter>(4, 3, 12345u, 50);
    same->Init(kFullHd, 0, 1000);
    EXPECT_EQ(same->StartValues(), m->StartValues());
    auto other = MakeRef<TRandomFilter>(4, 3, 54321u, 50);
    other->Init(kFullHd, 0, 1000);
    EXPECT_NE(other->StartValues(), m->StartValues());
}

// The mosaic's descriptor from a show's transition choice with a fixed seed.
TRef<TKivEffect> ChosenMosaic(std::uint64_t seed) {
    const char* text = "[Main]\nopt_scr_width=640\nopt_scr_height=360\n"
                       "object TheEffect:AnEffect\n  time=800\n"
                       "  object mosaic:mosaic\n    caption=mosaic\n    stdidx=8\n    checked=1\n"
                       "    cols=4\n    rows=3\n    appearence=50\n  end\nend\n"
                       "[Times]\nopt_slidescount=2\nopt_synchpos1=2000\nopt_synchpos2=4000\n"
                       "[Slide1]\nobject TheEffect:AnEffect\n  ref=quick\nend\n"
                       "[Slide2]\nobject TheEffect:AnEffect\n  ref=mosaic\n  time=800\nend\n";
    TKivSourceSetup setup;
    setup.document = test::ParseIni(text);
    setup.programFileName = "test";
    setup.random = MakeRef<TTransitionRandom>(seed);
    auto source = MakeRef<TKivSource>(std::move(setup));
    double time = 0;
    float smoothline = 0;
    return source->GetSlideTransition(1, time, smoothline);
}

TEST(Mosaic, TheSeedOfTheShowsChoiceOrdersTheCells) {
    TRef<TKivEffect> first = ChosenMosaic(7), again = ChosenMosaic(7);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->type, kEffectMosaic);
    ASSERT_EQ(first->intParams.size(), 4u);
    EXPECT_EQ(first->intParams[3], again->intParams[3]);
    auto filter = MakeTransitionFilter(kFullHd, first.Get(), 0, 800);
    auto* m = dynamic_cast<TRandomFilter*>(filter.Get());
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->Columns(), 4);
    ASSERT_EQ(m->Rows(), 3);
    auto state = static_cast<std::uint32_t>(first->intParams[3]);
    for (std::size_t k = 0; k < 12; ++k)
        EXPECT_EQ(m->StartValues()[k], std::lround(ReferenceUnit(state) * 5000.0)) << k;
    auto twin = MakeTransitionFilter(kFullHd, again.Get(), 0, 800);
    EXPECT_EQ(dynamic_cast<TRandomFilter*>(twin.Get())->StartValues(), m->StartValues());
}

TEST(Mosaic, AppearanceZeroFadesAllCellsTogetherAndHugeGridsAreBounded) {
    auto m = MakeRef<TRandomFilter>(5, 5, 7u, 0);
    m->Init(kFullHd, 0, 1000);
    for (const double ms : {0.0, 2.0, 3.0, 6.0, 250.0, 500.0, 999.0}) {
        m->SetTime(ms);
        const double want = std::round(256 * ms / 1000) - 1;
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 5; ++j)
                EXPECT_FLOAT_EQ(m->CellOpacity(j, i), want < 1 ? 0.0f : static_cast<float>(want)) << ms;
    }
    // A million cells asked: the grid is kept to a bounded size (and the filter still draws).
    auto huge = MakeTransitionFilter(kFullHd, Effect(kEffectMosaic, {true}, {1000, 1000, 0}).Get(), 0, 1000);
    auto* h = dynamic_cast<TRandomFilter*>(huge.Get());
    ASSERT_NE(h, nullptr);
    EXPECT_LE(static_cast<long>(h->Columns()) * h->Rows(), TRandomFilter::kMaxCells);
    auto negative = MakeTransitionFilter(kFullHd, Effect(kEffectMosaic, {true}, {-3, 0, 0}).Get(), 0, 1000);
    EXPECT_EQ(dynamic_cast<TRandomFilter*>(negative.Get())->Columns(), 1);
}

TEST(Flip, TheSlideIsEdgeOnAndDarkestAtTheMiddle) {
    auto flip = MakeRef<TOverturnEffect>(1, false, 0.5);
    flip->Init({0, 0, 200, 100}, 0, 1000);
    flip->SetTime(500);
    auto c = flip->Corners();
    EXPECT_NEAR(c[0].x, c[1].x, 1e-9); // zero width
    EXPECT_FLOAT_EQ(c[0].grey, 100);
    flip->SetTime(0);
    c = flip->Corners();
    EXPECT_DOUBLE_EQ(c[0].x, 0);
    EXPECT_DOUBLE_EQ(c[1].x, 200);
    EXPECT_FLOAT_EQ(c[0].grey, 255);
    // At a quarter the near side stays in the slide plane and the far side recedes.
    flip->SetTime(250);
    c = flip->Corners();
    EXPECT_NEAR(c[0].x, 100 - std::cos(M_PI / 4) * 100, 1e-9);
    EXPECT_DOUBLE_EQ(std::min(c[0].z, c[1].z), 0);
    EXPECT_NEAR(std::max(c[0].z, c[1].z), 2 * std::sin(M_PI / 4) * 100 * 0.5, 1e-9);
    // Past the middle the picture is not mirrored: left texels stay on the left.
    flip->SetTime(750);
    c = flip->Corners();
    EXPECT_LT(c[0].x, c[1].x);
    EXPECT_LT(c[0].u, c[1].u);
    // Spinning about the centre line: the two sides at opposite depths.
    auto spin = MakeRef<TOverturnEffect>(6, false, 0.5);
    spin->Init({0, 0, 200, 100}, 0, 1000);
    spin->SetTime(250);
    c = spin->Corners();
    EXPECT_NEAR(c[0].z, -c[1].z, 1e-9);
    EXPECT_NE(c[0].z, 0);
    // Non-linear speed: Q(0.25) = 0.125 of the half turn.
    auto slow = MakeRef<TOverturnEffect>(2, true, 0.5);
    slow->Init({0, 0, 200, 100}, 0, 1000);
    slow->SetTime(250);
    EXPECT_NEAR(slow->Angle(), M_PI * 0.125, 1e-9);
}

TEST(Hourhand, FactoryPicksTheCentreHandOrABroomByTheKeypad) {
    // Switches: actions 1-2, directions 1-9.
    auto with = [](bool action2, int direction) {
        std::vector<bool> s(11, false);
        s[0] = !action2;
        s[1] = action2;
        s[static_cast<std::size_t>(1 + direction)] = true;
        return Effect(kEffectHourhand, s, {}, {0.0f});
    };
    auto clock = MakeTransitionFilter(kFullHd, with(false, 5).Get(), 0, 1000);
    ASSERT_NE(dynamic_cast<TClockEffect*>(clock.Get()), nullptr);
    EXPECT_FALSE(dynamic_cast<TClockEffect*>(clock.Get())->CounterClockwise());
    auto ccw = MakeTransitionFilter(kFullHd, with(true, 5).Get(), 0, 1000);
    EXPECT_TRUE(dynamic_cast<TClockEffect*>(ccw.Get())->CounterClockwise());
    const int kinds[10] = {0, 8, 1, 5, 4, 0, 2, 7, 3, 6};
    for (const int d : {1, 2, 3, 4, 6, 7, 8, 9}) {
        auto broom = MakeTransitionFilter(kFullHd, with(false, d).Get(), 0, 1000);
        auto* b = dynamic_cast<TBroomEffect*>(broom.Get());
        ASSERT_NE(b, nullptr) << d;
        EXPECT_EQ(b->Kind(), kinds[d]) << d;
        EXPECT_FALSE(b->Reversed);
        auto back = MakeTransitionFilter(kFullHd, with(true, d).Get(), 0, 1000);
        EXPECT_EQ(dynamic_cast<TBroomEffect*>(back.Get())->Kind(), kinds[d]) << d;
        EXPECT_TRUE(back->Reversed) << d;
    }
    std::vector<bool> none(11, false);
    none[0] = true;
    EXPECT_FALSE(MakeTransitionFilter(kFullHd, Effect(kEffectHourhand, none).Get(), 0, 1000));
}

TEST(Hourhand, TheEdgeTableAndTheBroomsPivotsAndAngles) {
    EXPECT_EQ(HandCurve(0), 0);
    EXPECT_EQ(HandCurve(64), 32);
    EXPECT_EQ(HandCurve(255), 255);
    for (int i = 0; i < 128; ++i) {
        EXPECT_EQ(HandCurve(i), i * i / 128);
        EXPECT_EQ(HandCurve(255 - i), 255 - HandCurve(i));
    }
    // Left pivot without offset or soft edge: from straight up to straight down.
    auto left = MakeRef<TBroomEffect>(4, 0);
    left->Init({0, 0, 200, 100}, 0, 1000);
    left->Build();
    EXPECT_DOUBLE_EQ(left->Pivot().x, 0);
    EXPECT_DOUBLE_EQ(left->Pivot().y, 50);
    EXPECT_DOUBLE_EQ(left->StartAngle(), 0);
    EXPECT_DOUBLE_EQ(left->EndAngle(), M_PI);
    left->SetTime(500);
    EXPECT_DOUBLE_EQ(left->Value(M_PI / 4), 0);       // swept
    EXPECT_DOUBLE_EQ(left->Value(3 * M_PI / 4), 255); // ahead
    // Upper right with an offset b: pivot beside the corner, angles from t1 and t2.
    auto corner = MakeRef<TBroomEffect>(5, 20);
    corner->Init({10, 10, 210, 110}, 30, 1000);
    corner->Build();
    EXPECT_DOUBLE_EQ(corner->Pivot().x, 230);
    EXPECT_DOUBLE_EQ(corner->Pivot().y, -10);
    const double e = 2 * std::atan(30 / (2 * std::hypot(120.0, 70.0)));
    EXPECT_NEAR(corner->EdgeAngle(), e, 1e-12);
    EXPECT_NEAR(corner->StartAngle(), M_PI - e + std::atan(20.0 / 120), 1e-12);
    EXPECT_NEAR(corner->EndAngle(), 3 * M_PI / 2 - std::atan(20.0 / 220), 1e-12);
    // The edge ramps with the table over e.
    corner->SetTime(400);
    const double phi = corner->Angle();
    EXPECT_DOUBLE_EQ(corner->Value(phi + e * 64 / 255), HandCurve(64));
    EXPECT_DOUBLE_EQ(corner->Value(phi + e * 200 / 255), HandCurve(200));
    EXPECT_DOUBLE_EQ(corner->Value(phi - 0.01), 0);
    EXPECT_DOUBLE_EQ(corner->Value(phi + e + 0.01), 255);
    // Reversed (kind 13): the angle runs back from the end.
    auto reversed = MakeRef<TBroomEffect>(13, 20);
    reversed->Init({10, 10, 210, 110}, 30, 1000);
    reversed->Build();
    EXPECT_TRUE(reversed->Reversed);
    EXPECT_DOUBLE_EQ(reversed->Angle(), corner->EndAngle());
    // The downward broom counts angles below π past a full turn.
    auto down = MakeRef<TBroomEffect>(3, 0);
    down->Init({0, 0, 200, 100}, 0, 1000);
    down->Build();
    down->SetTime(500);
    EXPECT_DOUBLE_EQ(down->Value(M_PI / 4), 255); // 2π + π/4 is ahead of 2π
    EXPECT_DOUBLE_EQ(down->Value(3 * M_PI / 2 + 0.1), 0);
}

TEST(Swap, TheSlidesExchangePlacesAndCrossAtTheMiddle) {
    auto swap = MakeRef<TTwoSlidesEffect>(1, 4, 1, M_PI / 3);
    swap->Init({0, 0, 200, 100}, 0, 1000);
    // f = 0: the second slide drawn (the outgoing one) in front and in place, the first far behind.
    TTileVertex front = swap->Place(50, 20, 200, 100, 2);
    EXPECT_DOUBLE_EQ(front.x, 50);
    EXPECT_DOUBLE_EQ(front.z, 0);
    TTileVertex back = swap->Place(50, 20, 200, 100, 1);
    EXPECT_NEAR(back.x, 50, 1e-9); // sin(π) = 0: not displaced
    EXPECT_NEAR(back.z, 100 * 4 + 50 * std::sin(M_PI / 3), 1e-9);
    // f = 0.5: both displaced furthest, in opposite directions, at the same depth.
    swap->SetTime(500);
    const TTileVertex a = swap->Place(100, 50, 200, 100, 1), b = swap->Place(100, 50, 200, 100, 2);
    EXPECT_NEAR(a.x, 300, 1e-9);
    EXPECT_NEAR(b.x, -100, 1e-9);
    EXPECT_NEAR(a.z, b.z, 1e-9);
    // f = 1: the places exchanged; from the middle on the outgoing slide is drawn first (behind).
    swap->SetTime(1000);
    EXPECT_NEAR(swap->Place(50, 20, 200, 100, 2).z, 0, 1e-9);
    // It moved right, so its left (trailing) edge is tilted back: (W − x) × sin(angle).
    EXPECT_NEAR(swap->Place(50, 20, 200, 100, 1).z, 100 * 4 + 150 * std::sin(M_PI / 3), 1e-9);
    // Around the middle the slide the drawer draws second (the outgoing one before 0.5, the
    // incoming one after) is always the nearer one at the centre, so drawing order and depth agree;
    // at 0.5 exactly they are level.
    for (const double ms : {250.0, 450.0, 499.0, 500.0, 501.0, 550.0, 750.0}) {
        swap->SetTime(ms);
        const double first = swap->Place(100, 50, 200, 100, 1).z,
                     second = swap->Place(100, 50, 200, 100, 2).z;
        if (ms == 500)
            EXPECT_NEAR(first, second, 1e-9);
        else
            EXPECT_LT(second, first) << ms;
    }
    // Vertical directions move along y only.
    auto up = MakeRef<TTwoSlidesEffect>(4, 4, 1, 0);
    up->Init({0, 0, 200, 100}, 0, 1000);
    up->SetTime(500);
    const TTileVertex v = up->Place(100, 50, 200, 100, 1);
    EXPECT_DOUBLE_EQ(v.x, 100);
    EXPECT_NEAR(v.y, 50 - 100, 1e-9);
}

// Curling switches: actions 1-2, directions 1-8, usecolor, usevolume.
TRef<TKivEffect> Curl(bool action2, int direction, bool volume = false) {
    std::vector<bool> s(12, false);
    s[action2 ? 1 : 0] = true;
    s[static_cast<std::size_t>(1 + direction)] = true;
    s[11] = volume;
    return Effect(kEffectCurling, s, {0, 0}, {0.05f, 0.5f});
}

TEST(Curling, DirectionsPickTheRollerAndActionTwoReverses) {
    // Direction → (mode, value): 1 → (15, 3), 2 → (14, 4), 3 → (15, 4), 4 → (14, 3), 5 → (14, 1),
    // 6 → (15, 2), 7 → (14, 2), 8 → (15, 1); action 2 adds 4 to the value; the roller follows from
    // mode and value.
    const int rollers[9] = {0, 8, 3, 6, 2, 1, 7, 4, 5};
    const int reversedRollers[9] = {0, 5, 4, 7, 1, 2, 6, 3, 8};
    for (int d = 1; d <= 8; ++d) {
        auto f = MakeTransitionFilter(kFullHd, Curl(false, d).Get(), 0, 1000);
        auto* roll = dynamic_cast<TRollEffect2*>(f.Get());
        ASSERT_NE(roll, nullptr) << d;
        EXPECT_EQ(roll->Roller(), rollers[d]) << d;
        EXPECT_FALSE(roll->Reversed);
        EXPECT_EQ(roll->CaptureMode, 1);
        auto back = MakeTransitionFilter(kFullHd, Curl(true, d).Get(), 0, 1000);
        EXPECT_EQ(dynamic_cast<TRollEffect2*>(back.Get())->Roller(), reversedRollers[d]) << d;
        EXPECT_TRUE(back->Reversed) << d;
    }
}

TEST(Curling, TheRollTravelsOverTheSlideAndFoldsTheSheetBack) {
    TRollEffect2::TOptions options;
    options.radius = 10;
    auto roll = MakeRef<TRollEffect2>(14, 1, options); // roller 1: the axis moves right
    roll->Init({0, 0, 200, 100}, 0, 1000);
    EXPECT_DOUBLE_EQ(roll->TravelStart(), -10);
    EXPECT_DOUBLE_EQ(roll->TravelEnd(), 200);
    // Behind the axis the sheet lies flat; past it it winds round the roll, past half a turn it
    // lies folded back: a point u past the axis lands at p − (u − πR).
    const TTileVertex flat = roll->Wind(40, 30, 50);
    EXPECT_DOUBLE_EQ(flat.x, 40);
    EXPECT_FLOAT_EQ(flat.grey, 255);
    const TTileVertex quarter = roll->Wind(50 + 10 * M_PI / 2, 30, 50);
    EXPECT_NEAR(quarter.x, 60, 1e-9);
    EXPECT_NEAR(quarter.grey, 50, 1e-3);
    EXPECT_DOUBLE_EQ(quarter.z, 0); // without volume the roll stays in the slide plane
    const TTileVertex folded = roll->Wind(150, 30, 50);
    EXPECT_NEAR(folded.x, 50 - (100 - 10 * M_PI), 1e-9);
    EXPECT_FLOAT_EQ(folded.grey, 255);
    EXPECT_DOUBLE_EQ(folded.u, 150); // the texture stays where the point came from
    // With volume the roll rises toward the viewer and the travel starts a quarter turn earlier.
    options.useVolume = true;
    options.volume = 0.5;
    auto deep = MakeRef<TRollEffect2>(14, 1, options);
    deep->Init({0, 0, 200, 100}, 0, 1000);
    EXPECT_NEAR(deep->TravelStart(), -10 * M_PI / 2, 1e-9);
    EXPECT_NEAR(deep->Wind(150, 30, 50).z, -2 * 10 * 0.5, 1e-9);
    // Value 5 is reversed with roller 2 (the axis measured along −x); the ends are exchanged, so
    // the roll starts at x = 0 with nothing ahead of it and ends past x = 200 + R.
    auto back = MakeRef<TRollEffect2>(14, 5, TRollEffect2::TOptions{});
    back->Init({0, 0, 200, 100}, 0, 1000);
    EXPECT_EQ(back->Roller(), 2);
    EXPECT_DOUBLE_EQ(back->TravelStart(), 0);
    EXPECT_DOUBLE_EQ(back->Travel(1), -202);
    EXPECT_DOUBLE_EQ(back->Wind(150, 30, back->Travel(0)).x, 150);
    // A pipe winds once round the roll (three quarters on a diagonal roll), then goes straight on:
    // 100 past the axis with R = 10 lands 100 − 2π R past it, flat.
    TRollEffect2::TOptions pipe;
    pipe.pipe = true;
    pipe.radius = 10;
    auto tube = MakeRef<TRollEffect2>(14, 1, pipe);
    tube->Init({0, 0, 200, 100}, 0, 1000);
    const TTileVertex once = tube->Wind(150, 30, 50);
    EXPECT_NEAR(once.x, 50 + 100 - 2 * M_PI * 10, 1e-9);
    EXPECT_NEAR(once.z, 0, 1e-9);
    auto diagonal = MakeRef<TRollEffect2>(15, 1, pipe);
    diagonal->Init({0, 0, 200, 100}, 0, 1000);
    EXPECT_DOUBLE_EQ(diagonal->Turn(), 1.5 * M_PI);
    EXPECT_DOUBLE_EQ(tube->Turn(), 2 * M_PI);
    // Past three quarters of a turn the diagonal sheet goes straight on (no further wraps).
    const TVec2 d = diagonal->Direction();
    const TTileVertex past = diagonal->Wind(d.x * 60, d.y * 60, 0);
    EXPECT_NEAR(past.x * d.x + past.y * d.y, -10, 1e-5) << "at p + R sin(3π/2), moving across";
}

TEST(TileClipping, FlatTrianglesAreCutToTheAreaWithTheirValuesInterpolated) {
    const TRect area{0, 0, 100, 100};
    // A triangle inside stays whole.
    std::vector<TTileVertex> inside{FlatVertex(10, 10, 255), FlatVertex(90, 10, 255),
                                    FlatVertex(10, 90, 255)};
    EXPECT_EQ(ClipTriangles(inside, area).size(), 3u);
    // Half outside on the right: cut at x = 100, the opacity there halfway between 0 and 200.
    std::vector<TTileVertex> across{FlatVertex(50, 0, 0), FlatVertex(150, 0, 200), FlatVertex(50, 100, 0)};
    const auto cut = ClipTriangles(across, area);
    ASSERT_FALSE(cut.empty());
    ASSERT_EQ(cut.size() % 3, 0u);
    double maxX = 0;
    bool sawEdge = false;
    for (const TTileVertex& p : cut) {
        maxX = std::max(maxX, p.x);
        EXPECT_DOUBLE_EQ(p.u, p.x);
        if (p.x == 100 && p.y == 0) {
            sawEdge = true;
            EXPECT_FLOAT_EQ(p.opacity, 100);
        }
    }
    EXPECT_DOUBLE_EQ(maxX, 100);
    EXPECT_TRUE(sawEdge);
    // Entirely outside: nothing; with depth: kept whole (the camera places it).
    std::vector<TTileVertex> away{FlatVertex(200, 0, 255), FlatVertex(300, 0, 255), FlatVertex(200, 50, 255)};
    EXPECT_TRUE(ClipTriangles(away, area).empty());
    away[0].z = 5;
    EXPECT_EQ(ClipTriangles(away, area).size(), 3u);
}

// The area of the polygons of a band (shoelace), and their count.
std::pair<double, std::size_t> Pieces(const TXSeparator& s, int band) {
    const auto& v = s.Vertices(band);
    double area = 0;
    std::size_t from = 0;
    for (const std::size_t end : s.Ends(band)) {
        for (std::size_t k = from; k < end; ++k) {
            const TTileVertex& a = v[k];
            const TTileVertex& b = v[k + 1 < end ? k + 1 : from];
            area += a.x * b.y - b.x * a.y;
        }
        from = end;
    }
    return {std::abs(area) / 2, s.Ends(band).size()};
}

TEST(TileSplitting, PolygonsAreCutAlongTheGridWithTheirValuesAndEdgesShared) {
    TXSeparator line;
    line.SetCuts({0, 10}, false);
    // Zones: odd inside a band (band 0 before the first cut), even exactly on a cut.
    for (const auto& [p, zone] : {std::pair{-1.0, 1}, {0.0, 2}, {5.0, 3}, {10.0, 4}, {25.0, 5}})
        EXPECT_EQ(line.Zone(p), zone) << p;

    // A 2 × 2 grid of 10-pixel cells; the triangle x + y ≤ 20 from (5, 5) covers 50 square pixels:
    // 25 in cell (0, 0), 12.5 in each of its neighbours, and the far cell only touches its corner.
    T2DSeparator grid;
    grid.SetGrid({0, 10, 20}, {0, 10, 20});
    EXPECT_EQ(grid.Columns(), 2);
    EXPECT_EQ(grid.Rows(), 2);
    const TTileVertex tri[3] = {FlatVertex(5, 5, 0), FlatVertex(15, 5, 255), FlatVertex(5, 15, 255)};
    grid.AddPolygon(tri, 3);
    const double want[2][2] = {{25, 12.5}, {12.5, 0}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c)
            EXPECT_NEAR(Pieces(grid.Row(r), c + 1).first, want[r][c], 1e-9) << c << "," << r;
    EXPECT_EQ(Pieces(grid.Row(1), 2).second, 0u) << "a corner alone makes no polygon";
    EXPECT_EQ(Pieces(grid.Row(0), 0).second + Pieces(grid.Row(0), 3).second, 0u) << "nothing outside";
    // The cut of the edge (5, 5) → (15, 5) at x = 10 carries half its opacity, in both cells.
    int halves = 0;
    for (const int band : {1, 2})
        for (const TTileVertex& v : grid.Row(0).Vertices(band))
            if (v.x == 10 && v.y == 5) {
                EXPECT_FLOAT_EQ(v.opacity, 127.5f);
                EXPECT_DOUBLE_EQ(v.u, 10);
                ++halves;
            }
    EXPECT_EQ(halves, 2);

    // A polygon lying exactly on a grid line goes into both cells beside it.
    grid.Clear();
    const TTileVertex onLine[3] = {FlatVertex(10, 1, 9), FlatVertex(10, 4, 9), FlatVertex(10, 8, 9)};
    grid.AddPolygon(onLine, 3);
    EXPECT_EQ(Pieces(grid.Row(0), 1).second, 1u);
    EXPECT_EQ(Pieces(grid.Row(0), 2).second, 1u);

    // One long triangle crossing every cut, both ways: the pieces add up to the whole.
    grid.Clear();
    const TTileVertex wide[3] = {FlatVertex(-5, -5, 0), FlatVertex(25, 2, 0), FlatVertex(3, 25, 0)};
    grid.AddPolygon(wide, 3);
    double inside = 0;
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c)
            inside += Pieces(grid.Row(r), c + 1).first;
    // The part of the triangle inside the 20 × 20 grid, measured by sampling its pixels' centres.
    auto in = [&](double x, double y) {
        auto side = [](const TTileVertex& a, const TTileVertex& b, double px, double py) {
            return (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
        };
        const double s0 = side(wide[0], wide[1], x, y), s1 = side(wide[1], wide[2], x, y),
                     s2 = side(wide[2], wide[0], x, y);
        return (s0 >= 0 && s1 >= 0 && s2 >= 0) || (s0 <= 0 && s1 <= 0 && s2 <= 0);
    };
    double sampled = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x)
            sampled += in((x + 0.5) / 10, (y + 0.5) / 10) ? 0.01 : 0;
    EXPECT_NEAR(inside, sampled, 1.0);
}

// A controller whose tiles record what they are given.
class TRecordingController final : public TEffController {
public:
    std::vector<std::string> log;
    TRect GetArea() const override { return GridRect(); }

protected:
    class TTile final : public TEffTile {
    public:
        TTile(TRecordingController& c, const TRect& r, int column, int row)
            : TEffTile(c, r, column, row), owner_(c) {}
        void Begin(bool textured, bool) override { Note(textured ? "begin" : "begin plain"); }
        void DrawAlpha(const TTileVertex*, int last) override { Note("alpha " + std::to_string(last + 1)); }
        void DrawColoured(const TTileVertex*, int last, const std::uint32_t* colours) override {
            Note("coloured " + std::to_string(last + 1) + " " + std::to_string(colours[0] & 0xFFFFFF));
        }
        void Draw3D(const TTileVertex*, int) override { Note("3d"); }
        void End() override { Note("end"); }

    private:
        void Note(const std::string& what) {
            owner_.log.push_back(std::to_string(Column()) + "," + std::to_string(Row()) + " " + what);
        }
        TRecordingController& owner_;
    };
    std::unique_ptr<TEffTile> CreateTile(const TRect& rect, int column, int row) override {
        return std::make_unique<TTile>(*this, rect, column, row);
    }
};

TEST(TileSplitting, TheWholeTileHandsPiecesToTheCellsRowByRowAsFans) {
    TRecordingController controller;
    controller.SetGrid({0, 50, 100.4}, {0, 40});
    EXPECT_EQ(controller.GridRect(), (TRect{0, 0, 100, 40}));
    EXPECT_EQ(controller.Tile(1, 0).Rect(), (TRect{50, 0, 100, 40}));
    // A quad over both cells as two triangles: the left cell gets a square piece of both (two fans of
    // one or two triangles), the right one likewise; cells are visited left to right.
    const std::vector<TTileVertex> quad{FlatVertex(10, 10, 255), FlatVertex(90, 10, 255),
                                        FlatVertex(10, 30, 255), FlatVertex(10, 30, 255),
                                        FlatVertex(90, 10, 255), FlatVertex(90, 30, 255)};
    TMultiTile& whole = controller.WholeTile();
    whole.Begin(true);
    whole.DrawAlpha(quad.data(), 5);
    whole.End();
    ASSERT_EQ(controller.log.size(), 6u);
    EXPECT_EQ(controller.log[0], "0,0 begin");
    EXPECT_EQ(controller.log[2], "0,0 end");
    EXPECT_EQ(controller.log[3], "1,0 begin");
    EXPECT_EQ(controller.log[5], "1,0 end");
    // Each cell: a triangle piece (1 triangle) and a quadrilateral piece (2) → 9 vertices.
    EXPECT_EQ(controller.log[1], "0,0 alpha 9");
    EXPECT_EQ(controller.log[4], "1,0 alpha 9");
    // With a shade colour the pieces go untextured in the colour scaled by the grey level.
    controller.log.clear();
    TTileVertex grey[3] = {FlatVertex(5, 5, 255), FlatVertex(20, 5, 255), FlatVertex(5, 20, 255)};
    for (TTileVertex& v : grey)
        v.grey = 128;
    whole.SetShade(0x0080FF);
    whole.Begin(false);
    whole.DrawAlpha(grey, 2);
    whole.End();
    ASSERT_EQ(controller.log.size(), 3u);
    EXPECT_EQ(controller.log[0], "0,0 begin plain");
    EXPECT_EQ(controller.log[1], "0,0 coloured 3 " + std::to_string(0x00407F)) << "channel × 128 div 256";
    // Whole-area drawing of other kinds is refused; a cell outside the grid is a programming error.
    EXPECT_THROW(whole.Draw3D(grey, 2), EAssertionFailed);
    EXPECT_THROW(controller.Tile(2, 0), EAssertionFailed);
    // A new grid discards the tiles; no cells, no grid rectangle.
    controller.SetGrid({}, {});
    EXPECT_TRUE(controller.GridRect().IsEmpty());
}

TEST(FilterFactory, AnEmptyDrawingRectangleDrawsNothingAndBreaksNothing) {
    const TRect empty{10, 10, 10, 10};
    std::vector<TRef<TKivEffect>> effects{
        Effect(kEffectDissolve, {true}),
        Effect(kEffectGates, OneOf8(3)),
        Effect(kEffectPage, OneOf8(1)),
        Effect(kEffectShapes, {false, false, false, false, true}, {50, 50}),
        Effect(kEffectShapes, {false, false, false, true, false}, {50, 50}),
        Effect(kEffectShapes, {false, false, true, false, false}, {150, 50}),
        Effect(kEffectMosaic, {true}, {3, 3, 50}),
        Effect(kEffectPush, {true, false, false, false}),
        Effect(kEffectFlip, {true, false, false, false, true, true}),
        Effect(kEffectSwap, {true, false, false, false}, {}, {4, 1, 60}),
        Effect(kEffectHourhand, {true, false, false, false, false, false, true, false, false, false, false}),
        Effect(kEffectHourhand, {true, false, true, false, false, false, false, false, false, false, false}),
        Curl(false, 3, true),
    };
    for (const auto& e : effects) {
        auto f = MakeTransitionFilter(empty, e.Get(), 0.2f, 1000);
        ASSERT_TRUE(f) << e->type;
        f->SetTime(500);
        TD3DTriController controller(nullptr, nullptr, empty, empty);
        f->Draw(controller);
        EXPECT_EQ(controller.TrianglesDrawn(), 0) << e->type;
    }
}

} // namespace
} // namespace kiv

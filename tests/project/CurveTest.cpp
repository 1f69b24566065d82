// Bézier flattening, the bisection solve, the segment cursor and the two forms of QSplineGraph.
#include "ExpressionTestSupport.h"

#include "project/SplineGraph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace kiv::test {
namespace {

// The y of the easing curve at x, found independently: Newton-free bisection on t to machine
// precision, for curves whose x grows with t.
double ReferenceEasing(double x, float x1, float y1, float x2, float y2) {
    auto bezier = [](double t, double p1, double p2) {
        const double r = 1 - t;
        return 3 * t * r * r * p1 + 3 * t * t * r * p2 + t * t * t;
    };
    double lo = 0, hi = 1;
    for (int i = 0; i < 200; ++i) {
        const double mid = (lo + hi) / 2;
        (bezier(mid, x1, x2) < x ? lo : hi) = mid;
    }
    return bezier((lo + hi) / 2, y1, y2);
}

TEST(CubicBezier, PointsFollowTheBernsteinFormAndHoldFloatControlPoints) {
    const TCubicBezier curve = EasingCurve(0.1, 0.2, 0.7, 0.9);
    EXPECT_EQ(curve.PointAt(0).x, 0.0);
    EXPECT_EQ(curve.PointAt(1).y, 1.0);
    const double t = 0.3, r = 0.7;
    const double x1 = 0.1f, x2 = 0.7f;
    EXPECT_NEAR(curve.PointAt(t).x, 3 * t * r * r * x1 + 3 * t * t * r * x2 + t * t * t, 1e-15);
    EXPECT_EQ(curve.Point(1).x, static_cast<double>(0.1f));
}

TEST(CubicBezier, FlatteningCoversTheCurveInOrderWithinTheTolerance) {
    TCubicBezier curve = EasingCurve(0.25, 0.1, 0.25, 1);
    curve.Flatten(kSplineTolerance, 1, 0);
    const auto& segments = curve.Segments();
    ASSERT_GT(segments.size(), 4u);
    EXPECT_EQ(segments.front().xStart, 0.0);
    EXPECT_EQ(segments.back().xEnd, 1.0);
    for (std::size_t i = 1; i < segments.size(); ++i) {
        EXPECT_EQ(segments[i].xStart, segments[i - 1].xEnd); // pieces join without gaps
        EXPECT_NEAR(segments[i].yStart, segments[i - 1].ValueAt(segments[i - 1].xEnd), 1e-12);
    }
    for (double x = 0; x <= 1; x += 1.0 / 64)
        EXPECT_NEAR(curve.ValueAt(x), ReferenceEasing(x, 0.25f, 0.1f, 0.25f, 1.0f), 2e-3) << x;
}

TEST(CubicBezier, SolveIsExactAtTheEndsAndCloseInTheMiddle) {
    const TCubicBezier curve = EasingCurve(0.42, 0, 0.58, 1);
    EXPECT_NEAR(curve.SolveAt(kSplineTolerance, 0, 1, 0), 0.0, 1e-12);
    EXPECT_NEAR(curve.SolveAt(kSplineTolerance, 1, 1, 0), 1.0, 1e-12);
    // Symmetric about (0.5, 0.5).
    EXPECT_NEAR(curve.SolveAt(kSplineTolerance, 0.5, 1, 0), 0.5, 1e-6);
    for (double x : {0.1, 0.3, 0.7, 0.9})
        EXPECT_NEAR(curve.SolveAt(kSplineTolerance, x, 1, 0), ReferenceEasing(x, 0.42f, 0, 0.58f, 1), 2e-3)
            << x;
}

TEST(CubicBezier, TheDiagonalSplitsIntoPiecesThatAllLieOnIt) {
    TCubicBezier curve = EasingCurve(0, 0, 1, 1);
    curve.Flatten(kSplineTolerance, 1, 0);
    EXPECT_GT(curve.Segments().size(), 1u);
    for (double x = 0; x <= 1.0; x += 1.0 / 128) {
        EXPECT_NEAR(curve.ValueAt(x), x, 1e-12);
        EXPECT_NEAR(curve.SolveAt(kSplineTolerance, x, 1, 0), x, 1e-12);
    }
}

TEST(CubicBezier, TheCursorFollowsSmoothlyMovingAbscissasBothWays) {
    TCubicBezier curve = EasingCurve(0.25, 0.1, 0.25, 1);
    curve.Flatten(kSplineTolerance, 1, 0);
    const auto& segments = curve.Segments();
    const int last = static_cast<int>(segments.size()) - 1;
    auto check = [&](double x) {
        const TKusochek& segment = curve.SegmentFor(x);
        if (x >= 0 && x <= 1) {
            EXPECT_LE(segment.xStart, x);
            EXPECT_GE(segment.xEnd, x);
        }
    };
    for (double x = 0; x <= 1; x += 0.001)
        check(x);
    EXPECT_EQ(curve.Cursor(), last);
    for (double x = 1; x >= 0; x -= 0.001)
        check(x);
    EXPECT_EQ(curve.Cursor(), 0);
    // Jumps land on the right segment too.
    check(0.999);
    check(0.0005);
    check(0.5);
}

TEST(CubicBezier, BeyondTheUnitIntervalTheEndSegmentsAreExtended) {
    TCubicBezier curve = EasingCurve(0.25, 0.1, 0.25, 1);
    curve.Flatten(kSplineTolerance, 1, 0);
    const TKusochek first = curve.Segments().front();
    const TKusochek last = curve.Segments().back();
    EXPECT_DOUBLE_EQ(curve.ValueAt(-0.5), first.ValueAt(-0.5));
    EXPECT_DOUBLE_EQ(curve.ValueAt(1.5), last.ValueAt(1.5));
    // The bisection interpolates on the chord of the first or last flat interval: the same lines.
    EXPECT_NEAR(curve.SolveAt(kSplineTolerance, -0.5, 1, 0), first.ValueAt(-0.5), 1e-9);
    EXPECT_NEAR(curve.SolveAt(kSplineTolerance, 1.5, 1, 0), last.ValueAt(1.5), 1e-9);
}

TEST(CubicBezier, HostileControlPointsStayBoundedAndTerminate) {
    // x goes back and forth; huge and infinite control points.
    for (const auto& p : {std::array<double, 4>{3, -2, -2, 3}, std::array<double, 4>{1e30, 1e30, -1e30, 5},
                          std::array<double, 4>{0.5, 1e300, 0.5, 0}, std::array<double, 4>{NAN, 0, 1, 1}}) {
        TCubicBezier curve = EasingCurve(p[0], p[1], p[2], p[3]);
        curve.Flatten(kSplineTolerance, 1, 0);
        EXPECT_LE(curve.Segments().size(), std::size_t{1} << TCurveSeparator::kMaxDepth);
        for (double x : {-1.0, 0.0, 0.3, 1.0, 2.0}) {
            curve.ValueAt(x);
            curve.SolveAt(kSplineTolerance, x, 1, 0);
        }
    }
    TCubicBezier none = EasingCurve(INFINITY, 0, 1, 1);
    none.Flatten(kSplineTolerance, 1, 0);
    EXPECT_TRUE(none.Segments().empty());
    EXPECT_TRUE(std::isnan(none.ValueAt(0.5)));
    EXPECT_TRUE(std::isnan(none.SolveAt(kSplineTolerance, 0.5, 1, 0)));
}

class SplineGraphForms : public ::testing::Test {
protected:
    // Evaluates the formula with x set to each value; the optimised form when the control points
    // are written as numbers, the five-argument form when they come from variables.
    double Eval(const char* formula, double x) {
        variables_.Set("x", x);
        TCalcStack stack;
        EXPECT_TRUE(Evaluate(*programs_.at(formula), stack)) << formula;
        return stack.Top();
    }
    void Compile(const char* formula) {
        TExpressionParser parser;
        ASSERT_TRUE(parser.Compile(formula, variables_.Resolver())) << formula;
        programs_[formula] = std::make_unique<TCalcCmdList>(parser.TakeProgram());
    }
    TVariables variables_{{"x", 0.0}, {"a", 0.25}, {"b", 0.1}, {"c", 0.25}, {"d", 1.0}};
    std::map<std::string, std::unique_ptr<TCalcCmdList>> programs_;
};

TEST_F(SplineGraphForms, OptimisedAndFiveArgumentFormsAgree) {
    const char* optimised = "QSplineGraph(x, 0.25, 0.1, 0.25, 1)";
    const char* general = "QSplineGraph(x, a, b, c, d)";
    Compile(optimised);
    Compile(general);
    ASSERT_EQ(programs_[optimised]->Count(), 2);
    ASSERT_EQ(programs_[general]->Last().function->Name(), "QSplineGraph");
    for (int i = -20; i <= 120; ++i) {
        const double x = i / 100.0;
        EXPECT_NEAR(Eval(optimised, x), Eval(general, x), 1e-3) << x;
    }
}

TEST_F(SplineGraphForms, BothFormsMatchTheCurveAndTheSymmetricCurveMeetsItsCentre) {
    const char* optimised = "QSplineGraph(x, 0.42, 0, 0.58, 1)";
    Compile(optimised);
    EXPECT_NEAR(Eval(optimised, 0.5), 0.5, 1e-6);
    EXPECT_NEAR(Eval(optimised, 0), 0, 1e-12);
    EXPECT_NEAR(Eval(optimised, 1), 1, 1e-12);
    for (double x : {0.05, 0.2, 0.35, 0.65, 0.8, 0.95})
        EXPECT_NEAR(Eval(optimised, x), ReferenceEasing(x, 0.42f, 0, 0.58f, 1), 2e-3) << x;
    TVariables none{};
    TExpressionParser parser;
    ASSERT_TRUE(parser.Compile("QSplineGraph(0.5, 0.42, 0, 0.58, 1)", none.Resolver()));
    ASSERT_EQ(parser.Program().Count(), 1);
    EXPECT_NEAR(parser.Program()[0].constant, 0.5, 1e-6);
}

TEST_F(SplineGraphForms, ANonConstantControlPointIsSolvedAtEveryEvaluation) {
    const char* general = "QSplineGraph(0.3, a, 0, 0.58, 1)";
    Compile(general);
    ASSERT_EQ(programs_[general]->Last().function->Name(), "QSplineGraph");
    variables_.Set("a", 0.0);
    const double early = Eval(general, 0);
    variables_.Set("a", 0.9);
    const double late = Eval(general, 0);
    EXPECT_NEAR(early, ReferenceEasing(0.3, 0, 0, 0.58f, 1), 2e-3);
    EXPECT_NEAR(late, ReferenceEasing(0.3, 0.9f, 0, 0.58f, 1), 2e-3);
    EXPECT_GT(std::fabs(early - late), 0.05);
}

TEST(SplineGraphThreads, TheSharedFiveArgumentFunctionGivesEachThreadItsOwnCurve) {
    // Two owners on two threads call the one built-in with different control points.
    auto run = [](double controlX, std::vector<double>& results) {
        TVariables v{{"x", 0.0}, {"c", controlX}};
        TExpressionParser parser;
        if (!parser.Compile("QSplineGraph(x, c, 0, 0.58, 1)", v.Resolver())) return;
        TCalcStack stack;
        for (int i = 0; i < 20000; ++i) {
            v.Set("x", (i % 101) / 100.0);
            results.push_back(Evaluate(parser.Program(), stack) ? stack.Top() : -1.0);
        }
    };
    std::vector<double> alone, first, second;
    run(0.05, alone);
    std::thread a(run, 0.05, std::ref(first));
    std::thread b(run, 0.95, std::ref(second));
    a.join();
    b.join();
    EXPECT_EQ(first, alone);
    ASSERT_EQ(second.size(), alone.size());
}

TEST_F(SplineGraphForms, InfiniteControlPointsFailInsteadOfYieldingGarbage) {
    EXPECT_EQ(Compiled("QSplineGraph(0.5, 1e300, 0, 0.58, 1)"),
              (std::vector<std::string>{"error 5 QSplineGraph"}));
    Compile("QSplineGraph(x, 1e300, 0, 0.58, 1)");
    TCalcStack stack;
    EXPECT_FALSE(Evaluate(*programs_["QSplineGraph(x, 1e300, 0, 0.58, 1)"], stack));
}

} // namespace
} // namespace kiv::test

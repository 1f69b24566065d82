// The sine and cosine of degrees used by layout, and the matrix product of placements.
#include "objects/Geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace kiv {
namespace {

TEST(SinCosDegrees, AgreesWithTheLibraryWithinAFewUlps) {
    double worst = 0.0;
    for (double a = -1080.0; a <= 1080.0; a += 0.37) {
        double s = 0.0, c = 0.0;
        SinCosDegrees(a, s, c);
        // The library's argument carries the rounding of a × π / 180; compare loosely enough for it.
        const double r = a * std::numbers::pi / 180.0;
        worst = std::max({worst, std::fabs(s - std::sin(r)), std::fabs(c - std::cos(r))});
        EXPECT_NEAR(s * s + c * c, 1.0, 4e-16) << a;
    }
    EXPECT_LT(worst, 1e-14);
}

TEST(SinCosDegrees, QuarterTurnsAreExact) {
    const double expected[][3] = {{0, 0, 1},    {90, 1, 0},    {180, 0, -1}, {270, -1, 0}, {360, 0, 1},
                                  {-90, -1, 0}, {-180, 0, -1}, {450, 1, 0},  {-270, 1, 0}, {3600090, 1, 0}};
    for (const auto& e : expected) {
        double s = 9.0, c = 9.0;
        SinCosDegrees(e[0], s, c);
        EXPECT_EQ(s, e[1]) << e[0];
        EXPECT_EQ(c, e[2]) << e[0];
    }
}

TEST(SinCosDegrees, HalfwayAnglesAndSymmetry) {
    double s = 0.0, c = 0.0;
    SinCosDegrees(45.0, s, c);
    EXPECT_NEAR(s, std::sqrt(0.5), 2e-16);
    EXPECT_NEAR(c, std::sqrt(0.5), 2e-16);
    SinCosDegrees(30.0, s, c);
    EXPECT_NEAR(s, 0.5, 2e-16);
    double s2 = 0.0, c2 = 0.0;
    SinCosDegrees(-30.0, s2, c2);
    EXPECT_EQ(s2, -s);
    EXPECT_EQ(c2, c);
}

TEST(SinCosDegrees, NotFiniteOrHugeGivesNoTurn) {
    for (double a :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), -1e300}) {
        double s = 9.0, c = 9.0;
        SinCosDegrees(a, s, c);
        EXPECT_EQ(s, 0.0);
        EXPECT_EQ(c, 1.0);
    }
}

TEST(Matrix3, ProductOfRowVectorMatricesAppliesTheLeftOneFirst) {
    TMatrix3 scale;
    scale.m = {TVec3{2, 0, 0}, TVec3{0, 3, 0}, TVec3{0, 0, 1}};
    TMatrix3 turn; // a quarter turn: x to y, y to −x
    turn.m = {TVec3{0, 1, 0}, TVec3{-1, 0, 0}, TVec3{0, 0, 1}};
    const TMatrix3 m = scale * turn;
    EXPECT_EQ(m.m[0], (TVec3{0, 2, 0})); // the scaled x axis, then turned
    EXPECT_EQ(m.m[1], (TVec3{-3, 0, 0}));
}

} // namespace
} // namespace kiv

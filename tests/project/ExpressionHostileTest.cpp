// Formula text as a show may carry it: deeply nested, very long, with stray bytes. Every input
// compiles or fails with an error code; nothing crashes or runs out of stack.
#include "ExpressionTestSupport.h"

#include "project/ExpressionFunctions.h"
#include "project/ShortestNumber.h"

#include <gtest/gtest.h>

#include <random>

namespace kiv::test {
namespace {

using Lines = std::vector<std::string>;

TEST(ExpressionHostile, DeepBracketsCompileWithoutRecursion) {
    const int depth = 200000;
    const std::string text = std::string(depth, '(') + "x+1" + std::string(depth, ')');
    TVariables v{{"x", 2.0}};
    TExpressionParser parser;
    ASSERT_TRUE(parser.Compile(text, v.Resolver()));
    EXPECT_EQ(parser.Program().Listing(), (Lines{"call x", "addc 1"}));
    // One bracket short: the error of the innermost open bracket.
    EXPECT_EQ(Compiled(std::string(depth, '(') + "1" + std::string(depth - 1, ')')),
              (Lines{"error 1 Operator or \")\""}));
    EXPECT_EQ(Compiled(std::string(depth, '(')), (Lines{"error 1 Expression"}));
}

TEST(ExpressionHostile, DeeplyNestedCallsCompileAndFold) {
    std::string text;
    for (int i = 0; i < 50000; ++i)
        text += "Abs(";
    text += "x" + std::string(50000, ')');
    TVariables v{{"x", -2.0}};
    TExpressionParser parser;
    ASSERT_TRUE(parser.Compile(text, v.Resolver()));
    EXPECT_EQ(parser.Program().Count(), 50001);
    TCalcStack stack;
    ASSERT_TRUE(Evaluate(parser.Program(), stack));
    EXPECT_EQ(stack.Top(), 2.0);

    std::string constant;
    for (int i = 0; i < 50000; ++i)
        constant += "Sqr(";
    constant += "1";
    for (int i = 0; i < 50000; ++i)
        constant += "+0)";
    EXPECT_EQ(Compiled(constant), (Lines{"load 1"}));
}

TEST(ExpressionHostile, TenThousandSignsAreCountedNotNested) {
    EXPECT_EQ(Compiled(std::string(10000, '-') + "5"), (Lines{"load 5"}));
    EXPECT_EQ(Compiled(std::string(10001, '-') + "5"), (Lines{"load -5"}));
    EXPECT_EQ(Compiled(std::string(10000, '+') + "5"), (Lines{"load 5"}));
    EXPECT_EQ(Compiled(std::string(10000, '-')), (Lines{"error 1 Expression"}));
    std::string alternating;
    for (int i = 0; i < 10000; ++i)
        alternating += "-(";
    alternating += "x" + std::string(10000, ')');
    TVariables v{{"x", 3.0}};
    TExpressionParser parser;
    ASSERT_TRUE(parser.Compile(alternating, v.Resolver()));
    EXPECT_EQ(parser.Program().Count(), 10001); // call x and 10000 negations, not merged
    TCalcStack stack;
    ASSERT_TRUE(Evaluate(parser.Program(), stack));
    EXPECT_EQ(stack.Top(), 3.0);
}

TEST(ExpressionHostile, LongOperatorChainsMergeIntoFewCommands) {
    std::string sum = "x";
    for (int i = 0; i < 100000; ++i)
        sum += "+1";
    TVariables v{{"x", 0.5}};
    TExpressionParser sums;
    ASSERT_TRUE(sums.Compile(sum, v.Resolver()));
    ASSERT_EQ(sums.Program().Count(), 2);
    EXPECT_EQ(sums.Program()[1].kind, kCmdAddConst);
    EXPECT_EQ(sums.Program()[1].constant, 100000.0);
    std::string products = "1";
    for (int i = 0; i < 100000; ++i)
        products += "*x";
    TExpressionParser parser;
    ASSERT_TRUE(parser.Compile(products, v.Resolver()));
    EXPECT_EQ(parser.Program().Count(), 2 * 100000 - 1);
}

TEST(ExpressionHostile, HugeNumbersAndExponentsFailOrFoldCleanly) {
    EXPECT_EQ(Compiled("1e308*10"), (Lines{"load inf"}));
    EXPECT_EQ(Compiled("1e99999999999999999999"), (Lines{"error 2"}));
    EXPECT_EQ(Compiled("1e-99999999999999999999"), (Lines{"load 0"}));
    EXPECT_EQ(Compiled(std::string(400, '9')), (Lines{"error 2"}));
    EXPECT_EQ(Compiled("Power(2,1e300)"), (Lines{"error 5 Power"}));
    EXPECT_EQ(Compiled("Power(1.0000001,2147483647)"),
              (Lines{"load " + ShortestText(PowerValue(1.0000001, 2147483647))}));
}

TEST(ExpressionHostile, BytesAboveAsciiAndControlBytesAreHandled) {
    EXPECT_EQ(Compiled("\xC3\xA9"), (Lines{"error 1 Expression"}));
    EXPECT_EQ(Compiled("1\xFF"), (Lines{"error 1 Operator"}));
    EXPECT_EQ(Compiled("x\xE2\x80\x8B+1", TVariables{}.Resolver()), (Lines{"error 1 Operator"}));
    EXPECT_EQ(Compiled(std::string("1\0+\t2\r\n", 7)), (Lines{"load 3"}));
    EXPECT_EQ(Compiled("\x7F"), (Lines{"error 1 Expression"}));
}

TEST(ExpressionHostile, FormulasAtTheModifierLengthLimitCompile) {
    // A modifier accepts formulas of up to 256 bytes; the compiler itself takes any length.
    std::string text = "x";
    while (text.size() + 4 <= 256)
        text += "*x+1";
    ASSERT_LE(text.size(), 256u);
    TVariables v{{"x", 1.0}};
    TExpressionParser parser;
    ASSERT_TRUE(parser.Compile(text, v.Resolver()));
    std::string name(256, 'a');
    EXPECT_EQ(Compiled(name), (Lines{"error 4"}));
    EXPECT_EQ(Compiled(std::string(255, '(') + "1"), (Lines{"error 1 Operator or \")\""}));
}

TEST(ExpressionHostile, RandomTextNeverCrashesAndSuccessLeavesOneValue) {
    const char alphabet[] = "0123456789.eE+-*/(),xyPiSinLerpQSplineGraphRndPower \t\x80\xFF";
    std::mt19937 random(1234);
    TVariables v{{"x", 0.5}, {"y", -2.0}};
    int compiled = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i)
            text += alphabet[random() % (sizeof alphabet - 1)];
        TExpressionParser parser;
        if (!parser.Compile(text, v.Resolver())) {
            EXPECT_TRUE(parser.Program().Empty());
            EXPECT_NE(parser.ErrorCode(), TCalcError::None);
            continue;
        }
        ++compiled;
        TCalcStack stack;
        if (Evaluate(parser.Program(), stack)) {
            EXPECT_EQ(stack.Count(), 1) << text;
        }
    }
    EXPECT_GT(compiled, 100);
}

} // namespace
} // namespace kiv::test

// The compiled forms of formulas: folding, merging of constant chains, calls and their
// replacements, and the compile errors with their details.
#include "ExpressionTestSupport.h"

#include <gtest/gtest.h>

namespace kiv::test {
namespace {

using Lines = std::vector<std::string>;

class ExpressionCompile : public ::testing::Test {
protected:
    Lines Compile(std::string_view formula) { return Compiled(formula, variables_.Resolver()); }
    TVariables variables_{{"x", 0.0}, {"y", 0.0}};
};

TEST_F(ExpressionCompile, ConstantChainsMergeIntoOneCommand) {
    EXPECT_EQ(Compile("2*3+x"), (Lines{"call x", "addc 6"}));
    EXPECT_EQ(Compile("x*2*3"), (Lines{"call x", "mulc 6"}));
    EXPECT_EQ(Compile("(x+1)+2"), (Lines{"call x", "addc 3"}));
    EXPECT_EQ(Compile("x+1-1.5"), (Lines{"call x", "addc -0.5"}));
    EXPECT_EQ(Compile("x/4*2"), (Lines{"call x", "mulc 0.5"}));
}

TEST_F(ExpressionCompile, ConstantOnTheLeftOfMinusAndDivideBecomesReversedCommands) {
    EXPECT_EQ(Compile("1-x"), (Lines{"call x", "csub 1"}));
    EXPECT_EQ(Compile("2-(1-x)"), (Lines{"call x", "csub 1", "csub 2"}));
    EXPECT_EQ(Compile("2/x"), (Lines{"call x", "cdiv 2"}));
    // (1 - x) + 2 = 3 - x, and 4 * (2 / x) = 8 / x.
    EXPECT_EQ(Compile("(1-x)+2"), (Lines{"call x", "csub 3"}));
    EXPECT_EQ(Compile("4*(2/x)"), (Lines{"call x", "cdiv 8"}));
    // (1 - x) - 1 = -x.
    EXPECT_EQ(Compile("(1-x)-1"), (Lines{"call x", "neg"}));
}

TEST_F(ExpressionCompile, NegationsFoldIntoConstantsButNotIntoEachOther) {
    EXPECT_EQ(Compile("-x*2"), (Lines{"call x", "mulc -2"}));
    EXPECT_EQ(Compile("-(-x)"), (Lines{"call x", "neg", "neg"}));
    EXPECT_EQ(Compile("x*-1"), (Lines{"call x", "neg"}));
    EXPECT_EQ(Compile("--x"), (Lines{"call x"}));
    EXPECT_EQ(Compile("+-+x"), (Lines{"call x", "neg"}));
    EXPECT_EQ(Compile("-x+5"), (Lines{"call x", "csub 5"}));
    EXPECT_EQ(Compile("-x*-1"), (Lines{"call x"}));
    EXPECT_EQ(Compile("-3"), (Lines{"load -3"}));
}

TEST_F(ExpressionCompile, NeutralConstantsDisappear) {
    EXPECT_EQ(Compile("x+0"), (Lines{"call x"}));
    EXPECT_EQ(Compile("x*1"), (Lines{"call x"}));
    EXPECT_EQ(Compile("x-0.000000001"), (Lines{"call x"}));
    EXPECT_EQ(Compile("x/1"), (Lines{"call x"}));
    EXPECT_EQ(Compile("0+x"), (Lines{"call x"}));
}

TEST_F(ExpressionCompile, NonConstantOperandsGiveBinaryCommands) {
    EXPECT_EQ(Compile("x+y"), (Lines{"call x", "call y", "add"}));
    EXPECT_EQ(Compile("x-y*y"), (Lines{"call x", "call y", "call y", "mul", "sub"}));
    EXPECT_EQ(Compile("(x-y)/y"), (Lines{"call x", "call y", "sub", "call y", "div"}));
    // Left-associative: x - y - x is (x - y) - x.
    EXPECT_EQ(Compile("x-y-x"), (Lines{"call x", "call y", "sub", "call x", "sub"}));
}

TEST_F(ExpressionCompile, ConstantExpressionsFoldToOneLoad) {
    EXPECT_EQ(Compile("1+2*3"), (Lines{"load 7"}));
    EXPECT_EQ(Compile("(1+2)*3"), (Lines{"load 9"}));
    EXPECT_EQ(Compile("Sin(Pi/2)"), (Lines{"load 1"}));
    EXPECT_EQ(Compile("sin(0)"), (Lines{"load 0"}));
    EXPECT_EQ(Compile("PI"), (Lines{"load 3.141592653589793"}));
    EXPECT_EQ(Compile("10 / 4"), (Lines{"load 2.5"}));
    EXPECT_EQ(Compile(" 1.5e2 "), (Lines{"load 150"}));
    EXPECT_EQ(Compile("2.E-1"), (Lines{"load 0.2"}));
    EXPECT_EQ(Compile("3."), (Lines{"load 3"}));
}

TEST_F(ExpressionCompile, CallsWithVariableArgumentsStayCalls) {
    EXPECT_EQ(Compile("Sin(x)"), (Lines{"call x", "call Sin"}));
    EXPECT_EQ(Compile("Lerp(x, 2, y)"), (Lines{"call x", "load 2", "call y", "call Lerp"}));
    EXPECT_EQ(Compile("Rnd"), (Lines{"call Rnd"}));
    EXPECT_EQ(Compile("Rnd*2"), (Lines{"call Rnd", "mulc 2"}));
}

TEST_F(ExpressionCompile, PowerOfTwoBecomesSquare) {
    EXPECT_EQ(Compile("Power(x,2)"), (Lines{"call x", "call Sqr"}));
    EXPECT_EQ(Compile("pow(x, 2.0000001)"), (Lines{"call x", "call Sqr"}));
    EXPECT_EQ(Compile("Power(x,3)"), (Lines{"call x", "load 3", "call Power"}));
    EXPECT_EQ(Compile("Power(2,x)"), (Lines{"load 2", "call x", "call Power"}));
    EXPECT_EQ(Compile("Power(3,2)"), (Lines{"load 9"}));
}

TEST_F(ExpressionCompile, ConstantEasingCurveIsReplacedByItsFlattenedForm) {
    EXPECT_EQ(Compile("QSplineGraph(x, 0.42, 0, 0.58, 1)"),
              (Lines{"call x", "call QSplineGraph-opt(0.42:0;0.58:1)"}));
    EXPECT_EQ(Compile("QSplineGraph(x, 0.42, y, 0.58, 1)"),
              (Lines{"call x", "load 0.42", "call y", "load 0.58", "load 1", "call QSplineGraph"}));
    EXPECT_EQ(Compile("QSplineGraph(0.5, 0, 0, 1, 1)"), (Lines{"load 0.5"}));
}

TEST_F(ExpressionCompile, NamesAreResolvedBeforeTheTableAndIgnoreCase) {
    TVariables shadow{{"Pi", 3.0}};
    EXPECT_EQ(Compiled("Pi+1", shadow.Resolver()), (Lines{"call Pi", "addc 1"}));
    EXPECT_EQ(Compiled("sQrT(16)"), (Lines{"load 4"}));
    EXPECT_EQ(Compiled("Image1.Pos.X"), (Lines{"error 4"}));
}

TEST_F(ExpressionCompile, SyntaxErrorsReportWhatWasExpected) {
    EXPECT_EQ(Compile(""), (Lines{"error 1 Expression"}));
    EXPECT_EQ(Compile("   "), (Lines{"error 1 Expression"}));
    EXPECT_EQ(Compile("1 2"), (Lines{"error 1 Operator"}));
    EXPECT_EQ(Compile("Rnd()"), (Lines{"error 1 Operator"}));
    EXPECT_EQ(Compile(".5"), (Lines{"error 1 Expression"}));
    EXPECT_EQ(Compile("x+"), (Lines{"error 1 Expression"}));
    EXPECT_EQ(Compile("(x"), (Lines{"error 1 Operator or \")\""}));
    EXPECT_EQ(Compile("Sin x"), (Lines{"error 1 ("}));
    EXPECT_EQ(Compile("Sin(x"), (Lines{"error 1 )"}));
    EXPECT_EQ(Compile("Lerp(1,2)"), (Lines{"error 1 ,"}));
    EXPECT_EQ(Compile("Sin(1,2)"), (Lines{"error 1 )"}));
    EXPECT_EQ(Compile("x)"), (Lines{"error 1 Operator"}));
    EXPECT_EQ(Compile("2^3"), (Lines{"error 1 Operator"}));
    EXPECT_EQ(Compile("x 1.2.3"), (Lines{"error 1 Operator"}));
}

TEST_F(ExpressionCompile, BadNumbersUnknownNamesAndZeroDivisorsHaveTheirCodes) {
    EXPECT_EQ(Compile("1e"), (Lines{"error 2"}));
    EXPECT_EQ(Compile("1e+"), (Lines{"error 2"}));
    EXPECT_EQ(Compile("x*2E-x"), (Lines{"error 2"}));
    EXPECT_EQ(Compile("1e400"), (Lines{"error 2"}));
    EXPECT_EQ(Compile("x/0"), (Lines{"error 3"}));
    EXPECT_EQ(Compile("x/(1-1)"), (Lines{"error 3"}));
    EXPECT_EQ(Compile("1/0"), (Lines{"error 3"}));
    EXPECT_EQ(Compile("Foo(1)"), (Lines{"error 4"}));
    EXPECT_EQ(Compile("Sqrt(-1)"), (Lines{"error 5 Sqrt"}));
    EXPECT_EQ(Compile("arcsin(2)"), (Lines{"error 5 ArcSin"}));
    EXPECT_EQ(Compile("Power(0,-1)"), (Lines{"error 5 Power"}));
}

TEST_F(ExpressionCompile, ATinyNumberUnderflowsToZeroInsteadOfFailing) {
    EXPECT_EQ(Compile("1e-400"), (Lines{"load 0"}));
}

TEST_F(ExpressionCompile, OnlyTheRequestedRangeIsCompiled) {
    TExpressionParser parser;
    const std::string text = "junk(x+1)junk";
    ASSERT_TRUE(parser.Compile(text, 5, 3, variables_.Resolver()));
    EXPECT_EQ(parser.Program().Listing(), (Lines{"call x", "addc 1"}));
    // A negative start means 0, a range past the end is clipped.
    ASSERT_TRUE(parser.Compile("2*3", -4, 100));
    EXPECT_EQ(parser.Program().Listing(), (Lines{"load 6"}));
    EXPECT_FALSE(parser.Compile("2*3", 3, 10));
    EXPECT_EQ(parser.ErrorCode(), TCalcError::Expected);
}

TEST_F(ExpressionCompile, AFailedCompileEmptiesTheProgramAndASuccessClearsTheError) {
    TExpressionParser parser;
    ASSERT_TRUE(parser.Compile("x+y", variables_.Resolver()));
    EXPECT_FALSE(parser.Compile("x+y+", variables_.Resolver()));
    EXPECT_TRUE(parser.Program().Empty());
    EXPECT_EQ(parser.ErrorCode(), TCalcError::Expected);
    EXPECT_EQ(parser.ErrorDetail(), "Expression");
    ASSERT_TRUE(parser.Compile("1"));
    EXPECT_EQ(parser.ErrorCode(), TCalcError::None);
    EXPECT_TRUE(parser.ErrorDetail().empty());
}

TEST(ExpressionErrors, CodesHaveTheirTexts) {
    EXPECT_STREQ(CalcErrorText(TCalcError::None), "No Error");
    EXPECT_STREQ(CalcErrorText(TCalcError::Expected), "Expected");
    EXPECT_STREQ(CalcErrorText(TCalcError::InvalidNumber), "Invalid Number Format");
    EXPECT_STREQ(CalcErrorText(TCalcError::DivisionByZero), "Division by Zerro");
    EXPECT_STREQ(CalcErrorText(TCalcError::Unknown), "Unknown Function or Variable");
    EXPECT_STREQ(CalcErrorText(TCalcError::FunctionCall), "Function Call Error");
}

TEST(ExpressionProgram, TheProgramHoldsAReferenceToEveryFunctionItCalls) {
    auto variable = MakeRef<TCalcVariable>("v", 1.0);
    const int before = variable->RefCount();
    {
        TExpressionParser parser;
        ASSERT_TRUE(parser.Compile("v*v+v", [&](std::string_view) { return variable; }));
        EXPECT_EQ(variable->RefCount(), before + 3);
        TCalcCmdList program = parser.TakeProgram();
        EXPECT_TRUE(parser.Program().Empty());
        EXPECT_EQ(variable->RefCount(), before + 3);
        program.Clear();
        EXPECT_EQ(variable->RefCount(), before);
    }
    EXPECT_EQ(variable->RefCount(), before);
}

} // namespace
} // namespace kiv::test

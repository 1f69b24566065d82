// Running compiled formulas: the stack machine, the built-in functions and their rules, failures
// at evaluation time, and the process-wide function table.
#include "ExpressionTestSupport.h"

#include "base/Assert.h"
#include "base/Exception.h"
#include "project/ExpressionFunctions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <set>
#include <thread>

namespace kiv::test {
namespace {

// The single value left by the formula, or nothing when it fails to compile or to evaluate.
std::optional<double> ValueOf(std::string_view formula, TVariables& variables) {
    TExpressionParser parser;
    if (!parser.Compile(formula, variables.Resolver())) return std::nullopt;
    TCalcStack stack;
    if (!Evaluate(parser.Program(), stack) || stack.Count() != 1) return std::nullopt;
    return stack.Top();
}

std::optional<double> ValueOf(std::string_view formula) {
    TVariables none{};
    return ValueOf(formula, none);
}

TEST(ExpressionEvaluate, ArithmeticFollowsPrecedenceAndAssociativity) {
    TVariables v{{"x", 3.0}, {"y", 4.0}};
    EXPECT_EQ(ValueOf("x+y*2", v), 11.0);
    EXPECT_EQ(ValueOf("(x+y)*2", v), 14.0);
    EXPECT_EQ(ValueOf("x-y-1", v), -2.0);
    EXPECT_EQ(ValueOf("x/y/2", v), 0.375);
    EXPECT_EQ(ValueOf("-x*-y", v), 12.0);
    EXPECT_EQ(ValueOf("2-(1-x)", v), 4.0);
    EXPECT_EQ(ValueOf("12/x", v), 4.0);
    EXPECT_EQ(ValueOf("1-x/y", v), 0.25);
    EXPECT_EQ(ValueOf("-(-x)", v), 3.0);
}

TEST(ExpressionEvaluate, FoldedAndUnfoldedFormsGiveTheSameValue) {
    // The same formulas with the constants hidden behind variables compile without folding.
    TVariables v{{"x", 1.75}, {"two", 2.0}, {"three", 3.0}, {"one", 1.0}};
    const std::pair<const char*, const char*> pairs[] = {
        {"2*3+x", "two*three+x"}, {"x*2*3", "x*two*three"},         {"1-x", "one-x"},
        {"-x*2", "-x*two"},       {"(x+1)+2", "(x+one)+two"},       {"2-(1-x)", "two-(one-x)"},
        {"3/x*2", "three/x*two"}, {"4*(2/x)", "(two*two)*(two/x)"}, {"Power(x,2)", "Power(x,two)"},
        {"x/3", "x/three"},       {"-(x-1)+2", "-(x-one)+two"},     {"(1-x)*-2", "(one-x)*-two"},
    };
    for (const auto& [folded, plain] : pairs) {
        const auto a = ValueOf(folded, v);
        const auto b = ValueOf(plain, v);
        ASSERT_TRUE(a && b) << folded;
        EXPECT_NEAR(*a, *b, 1e-12) << folded << " against " << plain;
    }
}

TEST(ExpressionEvaluate, BuiltInsGiveTheirValues) {
    EXPECT_EQ(ValueOf("Sin(Pi/2)"), 1.0);
    EXPECT_EQ(ValueOf("Round(2.5)"), 2.0);
    EXPECT_EQ(ValueOf("Round(3.5)"), 4.0);
    EXPECT_EQ(ValueOf("Round(-2.5)"), -2.0);
    EXPECT_EQ(ValueOf("Trunc(-2.7)"), -2.0);
    EXPECT_EQ(ValueOf("Ceil(2.1)"), 3.0);
    EXPECT_EQ(ValueOf("Ceil(-2.1)"), -2.0);
    EXPECT_EQ(ValueOf("Frac(-1.25)"), -0.25);
    EXPECT_EQ(ValueOf("Frac(3.75)"), 0.75);
    EXPECT_EQ(ValueOf("Lerp(10,20,0.25)"), 12.5);
    EXPECT_DOUBLE_EQ(*ValueOf("ArcTan2(1,0)"), std::numbers::pi / 2);
    EXPECT_DOUBLE_EQ(*ValueOf("ArcTan2(-1,-1)"), -3 * std::numbers::pi / 4);
    EXPECT_EQ(ValueOf("Hypot(3,4)"), 5.0);
    EXPECT_EQ(ValueOf("Sqr(-3)"), 9.0);
    EXPECT_EQ(ValueOf("Abs(-3)"), 3.0);
    EXPECT_EQ(ValueOf("Sqrt(2.25)"), 1.5);
    EXPECT_DOUBLE_EQ(*ValueOf("Cotan(Pi/4)"), 1.0);
    EXPECT_DOUBLE_EQ(*ValueOf("ArcCos(0)"), std::numbers::pi / 2);
}

TEST(ExpressionEvaluate, PowerFollowsItsRules) {
    EXPECT_EQ(PowerValue(0, 0), 1.0);
    EXPECT_EQ(PowerValue(-5, 0), 1.0);
    EXPECT_EQ(PowerValue(0, 3.5), 0.0);
    EXPECT_EQ(PowerValue(-2, 3), -8.0);
    EXPECT_EQ(PowerValue(2, -2), 0.25);
    EXPECT_EQ(PowerValue(-2, -3), -0.125);
    EXPECT_EQ(PowerValue(1.5, 2), 2.25);
    // Integral exponents up to 2147483647 multiply, so a base of exactly 1 stays 1 and -1 alternates.
    EXPECT_EQ(PowerValue(-1, 2147483647), -1.0);
    EXPECT_EQ(PowerValue(-1, 2147483646), 1.0);
    EXPECT_DOUBLE_EQ(PowerValue(2, 0.5), std::sqrt(2.0));
    // Fractional exponents go through the logarithm, so a negative base has no result.
    EXPECT_TRUE(std::isnan(PowerValue(-8, 1.0 / 3)));
    // Beyond the integer range the logarithm is used even for integral exponents.
    EXPECT_TRUE(std::isnan(PowerValue(-1, 4294967296.0)));
    EXPECT_EQ(ValueOf("Power(2,10)"), 1024.0);
    EXPECT_FALSE(ValueOf("Power(0,-1)")); // 1 / 0 fails at compile time
    TVariables v{{"x", -3.0}};
    EXPECT_EQ(ValueOf("Power(x,2)", v), 9.0); // through Sqr
    EXPECT_EQ(ValueOf("Power(x,3)", v), -27.0);
    EXPECT_FALSE(ValueOf("Power(x,0.5)", v));
}

TEST(ExpressionEvaluate, RoundingFunctionsFailOutsideTheirIntegerRange) {
    EXPECT_EQ(RoundValue(-0.5), 0.0);
    EXPECT_EQ(TruncValue(9.0e18), 9.0e18);
    EXPECT_TRUE(std::isnan(RoundValue(1e19)));
    EXPECT_TRUE(std::isnan(TruncValue(-1e19)));
    EXPECT_EQ(CeilValue(2147483646.5), 2147483647.0);
    EXPECT_TRUE(std::isnan(CeilValue(2147483647.5)));
    EXPECT_EQ(CeilValue(-2147483648.0), -2147483648.0);
    TVariables v{{"x", 3e9}};
    EXPECT_FALSE(ValueOf("Ceil(x)", v));
    EXPECT_EQ(ValueOf("Round(x)", v), 3e9);
}

TEST(ExpressionEvaluate, RndDrawsANewValueInTheUnitIntervalEachTime) {
    TExpressionParser parser;
    ASSERT_TRUE(parser.Compile("Rnd"));
    TCalcStack stack;
    std::set<double> seen;
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(Evaluate(parser.Program(), stack));
        ASSERT_EQ(stack.Count(), 1);
        EXPECT_GE(stack.Top(), 0.0);
        EXPECT_LE(stack.Top(), 1.0);
        seen.insert(stack.Top());
    }
    EXPECT_GT(seen.size(), 190u);
}

TEST(ExpressionEvaluate, VariablesAreReadAtEveryEvaluation) {
    TVariables v{{"t", 0.0}};
    TExpressionParser parser;
    ASSERT_TRUE(parser.Compile("t*100+1", v.Resolver()));
    TCalcStack stack;
    for (double t : {0.0, 0.25, 1.0}) {
        v.Set("t", t);
        ASSERT_TRUE(Evaluate(parser.Program(), stack));
        EXPECT_EQ(stack.Top(), t * 100 + 1);
    }
}

TEST(ExpressionEvaluate, NonFiniteResultsMakeTheEvaluationFail) {
    TVariables v{{"x", 0.0}, {"big", 1e300}};
    EXPECT_FALSE(ValueOf("1/x", v));
    EXPECT_FALSE(ValueOf("x/x", v));
    EXPECT_FALSE(ValueOf("Sqrt(x-1)", v));
    EXPECT_FALSE(ValueOf("big*big", v));
    EXPECT_FALSE(ValueOf("Cotan(x)", v));
    EXPECT_FALSE(ValueOf("ArcSin(x+2)", v));
    // Overflow while folding keeps the formula, which then fails to evaluate.
    EXPECT_FALSE(ValueOf("1e300*1e300"));
    EXPECT_EQ(ValueOf("1/big", v), 1e-300);
}

TEST(ExpressionEvaluate, AnEmptyProgramSucceedsWithAnEmptyStack) {
    TCalcCmdList program;
    TCalcStack stack;
    stack.Push(5);
    EXPECT_TRUE(Evaluate(program, stack));
    EXPECT_EQ(stack.Count(), 0);
    EXPECT_EQ(stack.Top(), 0.0);
}

// A function that misbehaves in every way a resolver's function could.
class TThrowingFunc : public TCalcFunc {
public:
    TThrowingFunc() : TCalcFunc("boom", 0, false) {}
    bool Execute(TCalcStack&) override { throw std::runtime_error("boom"); }
};

class TRefusingFunc : public TCalcFunc {
public:
    TRefusingFunc() : TCalcFunc("no", 1, false) {}
    bool Execute(TCalcStack&) override { return false; }
};

TEST(ExpressionEvaluate, FailingFunctionsFailTheEvaluationWithoutThrowing) {
    for (TRef<TCalcFunc> function :
         {TRef<TCalcFunc>(MakeRef<TThrowingFunc>()), TRef<TCalcFunc>(MakeRef<TRefusingFunc>())}) {
        TCalcCmdList program;
        program.AddSimple(kCmdLoad, 1);
        program.AddCall(function);
        TCalcStack stack;
        EXPECT_FALSE(Evaluate(program, stack)) << function->Name();
    }
}

// A function whose own consistency check fails: a programming error, not a bad formula.
class TBrokenFunc : public TCalcFunc {
public:
    TBrokenFunc(bool pure, int argumentCount) : TCalcFunc("broken", argumentCount, pure) {}
    bool Execute(TCalcStack&) override { KIV_FAIL("broken function"); }
    bool Optimize(std::span<const double>, TRef<TCalcFunc>&) override { KIV_FAIL("broken optimizer"); }
};

TEST(ExpressionEvaluate, AFailedAssertionInAFunctionIsNotTakenForAFailedEvaluation) {
    TCalcCmdList program;
    program.AddSimple(kCmdLoad, 1);
    program.AddCall(MakeRef<TBrokenFunc>(false, 1));
    TCalcStack stack;
    EXPECT_THROW(Evaluate(program, stack), EAssertionFailed);
}

TEST(ExpressionEvaluate, AFailedAssertionWhileFoldingConstantsReachesTheCaller) {
    auto broken = MakeRef<TBrokenFunc>(true, 1);
    auto broken2 = MakeRef<TBrokenFunc>(true, 2);
    TVariables variables;
    const TCalcResolver resolver = [&](std::string_view name) -> TRef<TCalcFunc> {
        if (name == "broken") return broken;
        if (name == "broken2") return broken2;
        return variables.Resolver()(name);
    };
    TExpressionParser parser;
    try {
        parser.Compile("broken(2)", resolver); // every argument known: run at compile time
        ADD_FAILURE() << "the assertion was swallowed as a bad formula";
    } catch (const EAssertionFailed& failure) {
        EXPECT_NE(failure.Message().find("broken function"), std::string::npos) << failure.Message();
    }
    try {
        parser.Compile("broken2(x, 3)", resolver); // the constant last argument is offered to Optimize
        ADD_FAILURE() << "the assertion was swallowed as a bad formula";
    } catch (const EAssertionFailed& failure) {
        EXPECT_NE(failure.Message().find("broken optimizer"), std::string::npos) << failure.Message();
    }
}

TEST(ExpressionEvaluate, AHandMadeProgramThatUnderflowsTheStackDoesNotReadOutsideIt) {
    TCalcCmdList program;
    program.AddSimple(kCmdLoad, 2);
    program.AddSimple(kCmdAdd);
    program.AddSimple(kCmdMul);
    TCalcStack stack;
    EXPECT_TRUE(Evaluate(program, stack));
    EXPECT_EQ(stack.Count(), 0);
}

TEST(CalcStack, PopsInReverseOrderAndAnEmptyStackKeepsItsTop) {
    TCalcStack stack;
    for (int i = 1; i <= 20; ++i)
        stack.Push(i);
    EXPECT_EQ(stack.Count(), 20);
    for (int i = 20; i >= 1; --i)
        EXPECT_EQ(stack.Pop(), i);
    EXPECT_EQ(stack.Count(), 0);
    EXPECT_EQ(stack.Pop(), 1.0);
    EXPECT_EQ(stack.Count(), 0);
    stack.Reset();
    EXPECT_EQ(stack.Pop(), 0.0);
    EXPECT_EQ(stack.Count(), 0);
}

TEST(FunctionTable, FindsBuiltInsWithoutRegardToCase) {
    for (const char* name : {"pi", "SIN", "arctan2", "QSPLINEGRAPH", "rnd", "pow"}) {
        TRef<TCalcFunc> function = FindFunction(name);
        ASSERT_TRUE(function) << name;
    }
    EXPECT_EQ(FindFunction("qsplinegraph")->ArgumentCount(), 5);
    EXPECT_FALSE(FindFunction("Rnd")->Pure());
    EXPECT_TRUE(FindFunction("Lerp")->Pure());
    EXPECT_FALSE(FindFunction("Sine"));
    EXPECT_FALSE(FindFunction(""));
}

TEST(FunctionTable, ARegisteredFunctionIsFoundFirstAndAClearRefillsTheBuiltIns) {
    RegisterFunction(MakeRef<TMathConst>("Answer", 42));
    RegisterFunction(MakeRef<TMathConst>("sin", 7));
    EXPECT_EQ(ValueOf("answer"), 42.0);
    EXPECT_EQ(ValueOf("Sin"), 7.0);
    ClearFunctions();
    EXPECT_FALSE(FindFunction("Answer"));
    EXPECT_EQ(ValueOf("Sin(0)"), 0.0);
}

TEST(FunctionTable, RegisteringTheSameFunctionTwiceIsAProgrammingError) {
    auto function = MakeRef<TMathConst>("Twice", 2);
    RegisterFunction(function);
    EXPECT_THROW(RegisterFunction(function), EAssertionFailed);
    ClearFunctions();
}

TEST(FunctionTable, LookupsAndRegistrationsFromManyThreadsSeeEveryEntry) {
    ClearFunctions();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                RegisterFunction(MakeRef<TMathConst>("C" + std::to_string(t) + "_" + std::to_string(i), i));
                if (!FindFunction("Sin") || !FindFunction("C" + std::to_string(t) + "_" + std::to_string(i)))
                    std::abort();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 50; ++i)
            EXPECT_TRUE(FindFunction("c" + std::to_string(t) + "_" + std::to_string(i)));
    ClearFunctions();
}

} // namespace
} // namespace kiv::test

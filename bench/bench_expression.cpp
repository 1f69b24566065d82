// The formula machine's two costs that run every frame.
//  - An easing curve with constant control points is compiled to its flattened form: evaluating it
//    costs a segment lookup. Reference: the same curve with a control point read from a variable,
//    which stays the five-argument call and is solved by bisection at every evaluation.
//  - A typical compiled formula on the stack machine. Reference: the same arithmetic in plain C++.
// After the run the ratios are printed, so the result reads the same on a noisy shared machine.
#include "project/CalcVariable.h"
#include "project/Expression.h"
#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

struct TFormula {
    kiv::TRef<kiv::TCalcVariable> t = kiv::MakeRef<kiv::TCalcVariable>("t", 0.0);
    kiv::TRef<kiv::TCalcVariable> x = kiv::MakeRef<kiv::TCalcVariable>("x", 37.5);
    kiv::TRef<kiv::TCalcVariable> a = kiv::MakeRef<kiv::TCalcVariable>("a", 0.42);
    kiv::TCalcCmdList program;

    explicit TFormula(const char* text) {
        kiv::TExpressionParser parser;
        const bool ok = parser.Compile(text, [this](std::string_view name) -> kiv::TRef<kiv::TCalcFunc> {
            if (name == "t") return kiv::TRef<kiv::TCalcFunc>::Share(t.Get());
            if (name == "x") return kiv::TRef<kiv::TCalcFunc>::Share(x.Get());
            if (name == "a") return kiv::TRef<kiv::TCalcFunc>::Share(a.Get());
            return nullptr;
        });
        if (!ok) std::abort();
        program = parser.TakeProgram();
    }
};

// t walks 0..1 in 1/600 steps (ten seconds of frames at 60 Hz), as an animation fraction does.
template <class Body> void OverFrames(benchmark::State& state, TFormula& formula, Body body) {
    int frame = 0;
    for (auto _ : state) {
        formula.t->SetValue((frame % 601) / 600.0);
        ++frame;
        body();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_EasingFlattened(benchmark::State& state) {
    TFormula formula("QSplineGraph(t, 0.42, 0, 0.58, 1)");
    kiv::TCalcStack stack;
    OverFrames(state, formula, [&] {
        kiv::Evaluate(formula.program, stack);
        benchmark::DoNotOptimize(stack.Top());
    });
}
BENCHMARK(BM_EasingFlattened);

void BM_EasingBisectionReference(benchmark::State& state) {
    TFormula formula("QSplineGraph(t, a, 0, 0.58, 1)");
    kiv::TCalcStack stack;
    OverFrames(state, formula, [&] {
        kiv::Evaluate(formula.program, stack);
        benchmark::DoNotOptimize(stack.Top());
    });
}
BENCHMARK(BM_EasingBisectionReference);

// A position formula of the kind modifiers carry.
constexpr const char* kTypicalFormula = "x + Sin(t * Pi * 2) * 12.5 - (1 - t) * 40 / 2";

void BM_FormulaMachine(benchmark::State& state) {
    TFormula formula(kTypicalFormula);
    kiv::TCalcStack stack;
    OverFrames(state, formula, [&] {
        kiv::Evaluate(formula.program, stack);
        benchmark::DoNotOptimize(stack.Top());
    });
}
BENCHMARK(BM_FormulaMachine);

void BM_FormulaNativeReference(benchmark::State& state) {
    TFormula formula(kTypicalFormula);
    OverFrames(state, formula, [&] {
        double t = formula.t->Value();
        double x = formula.x->Value();
        benchmark::DoNotOptimize(t);
        benchmark::DoNotOptimize(x);
        double value = x + std::sin(t * 3.141592653589793 * 2) * 12.5 - (1 - t) * 40 / 2;
        benchmark::DoNotOptimize(value);
    });
}
BENCHMARK(BM_FormulaNativeReference);

} // namespace

int main(int argc, char** argv) {
    return kiv::bench::RunWithSummary(argc, argv, [](const kiv::bench::TRatioReporter& report) {
        report.PrintRatio("easing: bisection / flattened", "BM_EasingBisectionReference", "BM_EasingFlattened");
        report.PrintRatio("formula: stack machine / plain C++", "BM_FormulaMachine", "BM_FormulaNativeReference");
    });
}

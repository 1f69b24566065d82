// The built-in functions of the expression language and the process-wide table that finds them
// by name. The table is filled on first use under a mutex; entries go to the head of one of 16
// chains (chosen by a case-insensitive hash of the name) with an atomic compare-and-exchange, so
// lookups from any thread take no lock.
//
// Built-ins: Pi, Sin, Cos, Tan, Cotan, ArcSin, ArcCos, ArcTan, ArcTan2, Hypot, Sqrt, Power, Pow,
// Sqr, Abs, Frac, Round, Trunc, Ceil, Lerp, Rnd and QSplineGraph (SplineGraph.h). All are pure
// except Rnd. A function fails (and with it the evaluation) when its result is NaN or infinite.
#pragma once

#include "project/CalcFunc.h"

#include <atomic>
#include <string_view>

namespace kiv {

// A function that can be entered in the built-in table; it carries the table's chain link.
class TMathFunc : public TCalcFunc {
public:
    using TCalcFunc::TCalcFunc;

protected:
    ~TMathFunc() override = default;

private:
    friend class TFunctionTable;
    TMathFunc* next_ = nullptr;
    std::atomic<bool> inTable_{false};
};

// A named constant: pushes its value. Pure, so calls fold to a load.
class TMathConst : public TMathFunc {
public:
    TMathConst(std::string name, double value) : TMathFunc(std::move(name), 0, true), value_(value) {}
    bool Execute(TCalcStack& stack) override;

private:
    double value_;
};

// No arguments: pushes routine().
class TMathWrapper0 : public TMathFunc {
public:
    TMathWrapper0(std::string name, double (*routine)(), bool pure)
        : TMathFunc(std::move(name), 0, pure), routine_(routine) {}
    bool Execute(TCalcStack& stack) override;

private:
    double (*routine_)();
};

// One argument: top = routine(top).
class TMathWrapper1 : public TMathFunc {
public:
    TMathWrapper1(std::string name, double (*routine)(double))
        : TMathFunc(std::move(name), 1, true), routine_(routine) {}
    bool Execute(TCalcStack& stack) override;

private:
    double (*routine_)(double);
};

// Two arguments: b = pop; top = routine(top, b).
class TMathWrapper2Ext : public TMathFunc {
public:
    TMathWrapper2Ext(std::string name, double (*routine)(double, double))
        : TMathFunc(std::move(name), 2, true), routine_(routine) {}
    bool Execute(TCalcStack& stack) override;

private:
    double (*routine_)(double, double);
};

// Three arguments: c = pop; b = pop; top = routine(top, b, c).
class TMathWrapper3 : public TMathFunc {
public:
    TMathWrapper3(std::string name, double (*routine)(double, double, double))
        : TMathFunc(std::move(name), 3, true), routine_(routine) {}
    bool Execute(TCalcStack& stack) override;

private:
    double (*routine_)(double, double, double);
};

// Power(base, exponent) by PowerValue; a constant exponent within 1e-6 of 2 replaces the call by
// the given square function.
class TPowerOptFunc : public TMathFunc {
public:
    TPowerOptFunc(std::string name, TRef<TCalcFunc> square)
        : TMathFunc(std::move(name), 2, true), square_(std::move(square)) {}
    bool Execute(TCalcStack& stack) override;
    bool Optimize(std::span<const double> constants, TRef<TCalcFunc>& replacement) override;

private:
    TRef<TCalcFunc> square_;
};

// The arithmetic of the built-ins, for callers that need the same values outside a formula.
// Exponent 0 gives 1 (also for base 0); base 0 with a positive exponent gives 0; an integral
// exponent of magnitude up to 2147483647 multiplies (by squaring; a negative one takes the
// reciprocal); any other exponent gives exp(e * ln(base)). Results may be NaN or infinite.
double PowerValue(double base, double exponent);
// Nearest integer, halves to even, through a 64-bit integer; NaN when there is none.
double RoundValue(double x);
// Integer part toward zero through a 64-bit integer; NaN when there is none.
double TruncValue(double x);
// Smallest integer not below x through a 32-bit integer; NaN when there is none.
double CeilValue(double x);
// x minus its integer part, with the sign of x.
double FracValue(double x);
// Uniform in [0, 1]: an integer from 0 .. 2147483646 divided by 2147483646. Any thread.
double RndValue();

// The function named `name` (case-insensitive) with one more reference, or none. Fills the table
// on first use. Any thread, no lock after the first fill.
TRef<TCalcFunc> FindFunction(std::string_view name);

// Adds a function to the table (filling it first); a function of the same name added later is
// found first. A function can be registered once. Any thread.
void RegisterFunction(TRef<TMathFunc> function);

// Frees every entry; the next lookup fills the table anew. Only at shutdown (or in tests), when no
// other thread looks functions up; compiled programs keep their own references.
void ClearFunctions();

} // namespace kiv

// TCalcFunc: a function that a compiled formula calls. Built-in functions (ExpressionFunctions.h),
// curve functions (SplineGraph.h) and the names a resolver supplies (variables, object fields) are
// all TCalcFunc subclasses. Functions are reference-counted: a compiled program holds one reference
// to every function it calls.
#pragma once

#include "base/RefObject.h"
#include "project/CalcStack.h"

#include <span>
#include <string>

namespace kiv {

class TCalcFunc : public TRefObject {
public:
    // `argumentCount` values are taken from the stack; 0 for constants and variables. A pure
    // function's result depends only on its arguments, so calls with constant arguments are
    // evaluated once at compile time.
    TCalcFunc(std::string name, int argumentCount, bool pure);

    const std::string& Name() const noexcept { return name_; }
    int ArgumentCount() const noexcept { return argumentCount_; }
    bool Pure() const noexcept { return pure_; }

    // Takes the arguments from the stack (the last argument on top) and leaves the result there.
    // Returns false when the call fails; a NaN or infinite result counts as a failure too (the
    // caller checks it). Runs on the thread that evaluates the formula; built-in functions keep no
    // state between calls, so any thread may call them.
    virtual bool Execute(TCalcStack& stack) = 0;

    // Offered the trailing constant arguments of a call (in order, at least one). Returns true and
    // sets `replacement` to a function that takes fewer arguments when the call can be replaced:
    // the compiler then drops as many trailing constants as the replacement takes fewer arguments.
    // The default declines.
    virtual bool Optimize(std::span<const double> constants, TRef<TCalcFunc>& replacement);

protected:
    ~TCalcFunc() override = default;

private:
    std::string name_;
    int argumentCount_;
    bool pure_;
};

} // namespace kiv

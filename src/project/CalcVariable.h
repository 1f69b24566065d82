// TCalcVariable: a named value that formulas read as a function without arguments. It is not pure,
// so a formula that names it reads the current value at every evaluation. The owner sets the value
// between evaluations on the thread that evaluates.
#pragma once

#include "project/CalcFunc.h"

namespace kiv {

class TCalcVariable : public TCalcFunc {
public:
    TCalcVariable(std::string name, double value) : TCalcFunc(std::move(name), 0, false), value_(value) {}

    double Value() const noexcept { return value_; }
    void SetValue(double value) noexcept { value_ = value; }

    bool Execute(TCalcStack& stack) override {
        stack.Push(value_);
        return true;
    }

private:
    double value_;
};

} // namespace kiv

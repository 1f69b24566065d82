// The variables a modifier's formula reads of its property node: TTimeGetter, the current fraction
// of one property group ("Pos.T", "T"), and TFieldGetter, the current value of one property
// ("Scale.X", "value"). Both take no arguments and are not pure, so a compiled formula reads them
// at every evaluation. The node creates them and detaches them when it goes; a detached variable
// reads 0.
#pragma once

#include "project/CalcFunc.h"

namespace kiv {

class TKivObjectProps;

class TParamGetter : public TCalcFunc {
public:
    bool Execute(TCalcStack& stack) override {
        stack.Push(GetValue());
        return true;
    }
    virtual double GetValue() const = 0;
    virtual void SetValue(double value) = 0;
    // The node forgets its variables when it is destroyed.
    void Detach() noexcept { node_ = nullptr; }

protected:
    TParamGetter(std::string name, TKivObjectProps* node, int index)
        : TCalcFunc(std::move(name), 0, false), node_(node), index_(index) {}
    ~TParamGetter() override = default;

    TKivObjectProps* node_;
    int index_;
};

class TTimeGetter final : public TParamGetter {
public:
    TTimeGetter(TKivObjectProps* node, int group);
    double GetValue() const override;
    void SetValue(double value) override;
};

class TFieldGetter final : public TParamGetter {
public:
    TFieldGetter(TKivObjectProps* node, int property);
    double GetValue() const override;
    void SetValue(double value) override;
};

} // namespace kiv

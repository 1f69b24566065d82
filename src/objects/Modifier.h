// TKivObjectMod: a modifier, a formula attached to a keyframe that drives one animation slot —
// the interpolation fraction of a property group (`dst` "Pos.T") or the value of one property
// (`dst` "Pos.X"). The formula (`fn`) is compiled once, when the modifier is read or its revision
// changes, and evaluated every frame on the engine thread.
//
// Names in a formula resolve in this order: a built-in function; T (the fraction of the target's
// group) or a group name + ".T"; value (the target itself); a key of the modifier's own project
// object (a constant, folded into the program); a property formula name of the node ("Scale.X").
#pragma once

#include "objects/ObjectFilter.h"
#include "project/CalcFunc.h"
#include "project/CalcProgram.h"
#include "project/CalcStack.h"
#include "project/Expression.h"

#include <string>

namespace kiv {

// What a modifier's formula can read of the node it animates (the property node implements it).
// Each call returns a variable with one reference for the program; none when there is no such
// group or property.
class TModifierSource {
public:
    virtual TRef<TCalcFunc> TimeVariable(int group) = 0;
    virtual TRef<TCalcFunc> FieldVariable(int property) = 0;

protected:
    ~TModifierSource() = default;
};

class TKivObjectMod final : public TObjectFilter {
public:
    // Formulas longer than this many bytes are refused.
    static constexpr std::size_t kMaxFormulaBytes = 256;

    // `source` (may be null: then no group or property names resolve) must outlive the modifier's
    // evaluations; the node that owns the keyframe is the source.
    explicit TKivObjectMod(TModifierSource* source);

    // Parses a `dst` text: a property formula name (fraction false, index = property) or a group
    // name followed by ".T" (fraction true, index = group). False for anything else.
    static bool ParseTarget(std::string_view dst, int& index, bool& fraction) noexcept;

    // Reads `fn` and `dst` and compiles the formula. Fails when either is empty, the formula is
    // longer than kMaxFormulaBytes, `dst` names no property or group fraction, or the formula does
    // not compile (CompileError then says why).
    bool Update() override;
    int Kind() const override { return kFilterValue; }
    // Runs the program: the single value it leaves, or 0 when evaluation fails or leaves any other
    // number of values. Engine thread only (the stack and some functions keep state).
    double EvaluateValue() override;
    int ParamCount() const override;
    TFilterParamInfo ParamInfo(int index) const override;

    const std::string& Formula() const noexcept { return formula_; }
    const std::string& Target() const noexcept { return target_; }
    // The group (fraction targets) or property the modifier drives; -1 before a successful Update.
    int TargetIndex() const noexcept { return targetIndex_; }
    bool DrivesFraction() const noexcept { return drivesFraction_; }
    const TCalcCmdList& Program() const noexcept { return program_; }
    TCalcError CompileError() const noexcept { return compileError_; }

private:
    ~TKivObjectMod() override = default;
    TRef<TCalcFunc> Resolve(std::string_view name);
    TRef<TCalcFunc> ResolveTarget();

    TCalcCmdList program_;
    TCalcStack stack_;
    int paramCount_ = 0;
    std::string paramKeys_;
    std::string formula_;
    std::string target_;
    int targetIndex_ = -1;
    bool drivesFraction_ = false;
    TCalcError compileError_ = TCalcError::None;
    TModifierSource* source_;
};

} // namespace kiv

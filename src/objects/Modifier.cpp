#include "objects/Modifier.h"

#include "base/CaseFold.h"
#include "ini/IniValues.h"
#include "objects/PropertyTable.h"
#include "project/ExpressionFunctions.h"

#include <algorithm>

namespace kiv {

TKivObjectMod::TKivObjectMod(TModifierSource* source) : TObjectFilter("Modifier"), source_(source) {}

bool TKivObjectMod::ParseTarget(std::string_view dst, int& index, bool& fraction) noexcept {
    const int property = FindPropertyByFormulaName(dst);
    if (property >= 0) {
        index = property;
        fraction = false;
        return true;
    }
    if (dst.size() > 2 && dst[dst.size() - 2] == '.' && (dst.back() == 'T' || dst.back() == 't')) {
        const int group = FindGroupByName(dst.substr(0, dst.size() - 2));
        if (group >= 0) {
            index = group;
            fraction = true;
            return true;
        }
    }
    return false;
}

bool TKivObjectMod::Update() {
    program_.Clear();
    targetIndex_ = -1;
    compileError_ = TCalcError::None;
    TIniObject* object = ProjectObject();
    if (!object) return false;
    formula_ = object->GetText("fn");
    target_ = object->GetText("dst");
    paramCount_ = std::clamp(object->GetInt32("pcount", 0), 0, 255);
    paramKeys_ = object->GetText("pinfo");
    if (formula_.empty() || target_.empty() || formula_.size() > kMaxFormulaBytes) return false;
    int index = -1;
    bool fraction = false;
    if (!ParseTarget(target_, index, fraction)) return false;
    targetIndex_ = index;
    drivesFraction_ = fraction;
    TExpressionParser parser;
    const TCalcResolver resolver = [this](std::string_view name) { return Resolve(name); };
    if (!parser.Compile(formula_, resolver)) {
        compileError_ = parser.ErrorCode();
        return false;
    }
    program_ = parser.TakeProgram();
    return true;
}

TRef<TCalcFunc> TKivObjectMod::ResolveTarget() {
    if (!source_ || targetIndex_ < 0) return {};
    return drivesFraction_ ? source_->TimeVariable(targetIndex_) : source_->FieldVariable(targetIndex_);
}

TRef<TCalcFunc> TKivObjectMod::Resolve(std::string_view name) {
    // 1. Built-in functions come first, whatever the object's keys say.
    if (TRef<TCalcFunc> builtIn = FindFunction(name)) return builtIn;
    // 2. Fractions: T alone is the fraction of the target's group; Group.T any group's.
    if (!name.empty() && (name.back() == 'T' || name.back() == 't')) {
        if (name.size() == 1) {
            if (source_ && targetIndex_ >= 0) {
                const int group = drivesFraction_ ? targetIndex_ : PropertyGroup(targetIndex_);
                if (TRef<TCalcFunc> variable = source_->TimeVariable(group)) return variable;
            }
        } else if (name.size() > 2 && name[name.size() - 2] == '.') {
            const int group = FindGroupByName(name.substr(0, name.size() - 2));
            if (group >= 0 && source_)
                if (TRef<TCalcFunc> variable = source_->TimeVariable(group)) return variable;
        }
    } else if (SameTextFolded(name, "value")) {
        // 3. The target itself.
        if (TRef<TCalcFunc> variable = ResolveTarget()) return variable;
    }
    // 4. A key of the modifier's own object holding a number: a constant.
    if (TIniObject* object = ProjectObject()) {
        if (TIniItem* item = object->FindItem(name)) {
            if (std::optional<double> value = ParseIniReal(item->Value()))
                return MakeRef<TMathConst>(std::string(name), *value);
        }
    }
    // 5. A property of the node.
    const int property = FindPropertyByFormulaName(name);
    if (property >= 0 && source_) return source_->FieldVariable(property);
    return {};
}

double TKivObjectMod::EvaluateValue() {
    if (program_.Empty()) return 0.0;
    if (!Evaluate(program_, stack_) || stack_.Count() != 1) return 0.0;
    return stack_.Top();
}

int TKivObjectMod::ParamCount() const {
    return paramCount_;
}

TFilterParamInfo TKivObjectMod::ParamInfo(int index) const {
    TFilterParamInfo info;
    if (index < 0 || index >= paramCount_) return info;
    const std::vector<std::string_view> keys = SplitIniList(paramKeys_, ',');
    if (static_cast<std::size_t>(index) < keys.size())
        info.key = std::string(keys[static_cast<std::size_t>(index)]);
    info.caption = info.key;
    info.kind = kParamNumber;
    return info;
}

} // namespace kiv

// Helpers of the expression tests: a resolver with named variables, and compiling to a listing.
#pragma once

#include "project/CalcVariable.h"
#include "project/Expression.h"

#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kiv::test {

class TVariables {
public:
    TVariables(std::initializer_list<std::pair<std::string, double>> values = {{"x", 0.0}}) {
        for (const auto& [name, value] : values)
            variables_[name] = MakeRef<TCalcVariable>(name, value);
    }
    void Set(const std::string& name, double value) { variables_.at(name)->SetValue(value); }
    TCalcResolver Resolver() {
        return [this](std::string_view name) -> TRef<TCalcFunc> {
            const auto it = variables_.find(std::string(name));
            if (it == variables_.end()) return nullptr;
            return TRef<TCalcFunc>::Share(it->second.Get());
        };
    }

private:
    std::map<std::string, TRef<TCalcVariable>> variables_;
};

// The listing of the compiled formula, or "error CODE DETAIL" as the one line.
inline std::vector<std::string> Compiled(std::string_view formula, const TCalcResolver& resolver = {}) {
    TExpressionParser parser;
    if (!parser.Compile(formula, resolver)) {
        std::string line = "error " + std::to_string(static_cast<int>(parser.ErrorCode()));
        if (!parser.ErrorDetail().empty()) line += " " + parser.ErrorDetail();
        return {line};
    }
    return parser.Program().Listing();
}

} // namespace kiv::test

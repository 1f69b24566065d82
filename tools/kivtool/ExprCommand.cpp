// kivtool expr FORMULA [NAME=VALUE ...]: compiles a formula as the player does, prints the
// program one command per line and then "= VALUE". Each NAME=VALUE is a variable the formula may
// read (it is not folded, as the player's variables are not).
#include "Commands.h"

#include "base/CaseFold.h"
#include "project/CalcVariable.h"
#include "project/Expression.h"
#include "project/ShortestNumber.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

namespace kivtool {

namespace {

bool ParseValue(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

} // namespace

int ExprCommand(const TArgs& args) {
    if (args.empty()) {
        std::fputs("usage: kivtool expr FORMULA [NAME=VALUE ...]\n", stderr);
        return 2;
    }
    std::vector<kiv::TRef<kiv::TCalcVariable>> variables;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& definition = args[i];
        const std::size_t equals = definition.find('=');
        double value = 0.0;
        if (equals == std::string::npos || equals == 0 || !ParseValue(definition.substr(equals + 1), value)) {
            std::fprintf(stderr, "kivtool expr: '%s' is not NAME=VALUE with a decimal VALUE\n",
                         definition.c_str());
            return 2;
        }
        variables.push_back(kiv::MakeRef<kiv::TCalcVariable>(definition.substr(0, equals), value));
    }
    // A later definition of the same name wins.
    const kiv::TCalcResolver resolver = [&variables](std::string_view name) -> kiv::TRef<kiv::TCalcFunc> {
        for (auto it = variables.rbegin(); it != variables.rend(); ++it)
            if (kiv::SameTextFolded((*it)->Name(), name)) return kiv::TRef<kiv::TCalcFunc>::Share(it->Get());
        return nullptr;
    };

    kiv::TExpressionParser parser;
    if (!parser.Compile(args[0], resolver)) {
        std::string line = "error " + std::to_string(static_cast<int>(parser.ErrorCode()));
        if (!parser.ErrorDetail().empty()) line += " " + parser.ErrorDetail();
        std::printf("%s\n", line.c_str());
        return 1;
    }
    for (const std::string& line : parser.Program().Listing())
        std::printf("%s\n", line.c_str());
    kiv::TCalcStack stack;
    if (!kiv::Evaluate(parser.Program(), stack) || stack.Count() != 1) {
        std::fflush(stdout);
        std::fputs("kivtool expr: the formula fails to evaluate (no finite value)\n", stderr);
        return 1;
    }
    std::printf("= %s\n", kiv::ShortestText(stack.Top()).c_str());
    return 0;
}

} // namespace kivtool

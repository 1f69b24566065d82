// Formula text of arbitrary bytes: compiles or fails with an error code; a compiled formula
// evaluates with a few variables set to ordinary and extreme values without crashing, and when it
// succeeds it leaves exactly one finite value.
#include "project/CalcVariable.h"
#include "project/Expression.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto x = kiv::MakeRef<kiv::TCalcVariable>("x", 0.0);
    auto t = kiv::MakeRef<kiv::TCalcVariable>("t", 0.5);
    const kiv::TCalcResolver resolver = [&](std::string_view name) -> kiv::TRef<kiv::TCalcFunc> {
        if (name == "x") return kiv::TRef<kiv::TCalcFunc>::Share(x.Get());
        if (name == "t") return kiv::TRef<kiv::TCalcFunc>::Share(t.Get());
        return nullptr;
    };
    kiv::TExpressionParser parser;
    if (!parser.Compile(text, resolver)) {
        if (!parser.Program().Empty() || parser.ErrorCode() == kiv::TCalcError::None) std::abort();
        return 0;
    }
    if (parser.Program().Empty()) std::abort();
    kiv::TCalcStack stack;
    const double values[] = {0.0, 1.0, -0.25, 1e300, -1e-300, std::numeric_limits<double>::quiet_NaN()};
    for (double value : values) {
        x->SetValue(value);
        t->SetValue(value / 2);
        if (kiv::Evaluate(parser.Program(), stack) && (stack.Count() != 1 || !std::isfinite(stack.Top())))
            std::abort();
    }
    return 0;
}

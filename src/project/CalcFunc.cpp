#include "project/CalcFunc.h"

#include "base/Assert.h"

namespace kiv {

TCalcFunc::TCalcFunc(std::string name, int argumentCount, bool pure)
    : name_(std::move(name)), argumentCount_(argumentCount), pure_(pure) {
    KIV_ASSERT(argumentCount >= 0, "negative argument count");
}

bool TCalcFunc::Optimize(std::span<const double>, TRef<TCalcFunc>&) {
    return false;
}

} // namespace kiv

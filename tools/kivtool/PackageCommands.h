// kivtool commands on show packages: info, ls, cat and pack.
#pragma once

#include "Commands.h"

namespace kivtool {

int RunInfo(const TArgs& args);
int RunLs(const TArgs& args);
int RunCat(const TArgs& args);
int RunPack(const TArgs& args);

} // namespace kivtool

// kivtool ini FILE: parse an INI-format text and save it back to stdout (CR LF, no byte-order mark).
#pragma once

#include "Commands.h"

namespace kivtool {

int RunIni(const TArgs& args);

} // namespace kivtool

// The command line of the player and of the presentation actions (the parser is the framework's,
// see framework/CommandLine.h), and the start position its switches give.
#pragma once

#include "framework/CommandLine.h"

namespace kiv {

// The start position from "-slide" or "-time": the value minus one when it is an integer above 0,
// else 0; "-slide" wins when both are present, "-time" (valid or not) makes it a time in ms.
struct TStartPosition {
    int position = 0;
    bool isTime = false;
};
TStartPosition StartPositionOf(const TCommandLine& commandLine);

} // namespace kiv

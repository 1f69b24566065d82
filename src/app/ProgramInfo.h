// What the player says about itself: its version (the project's version, given by the build) and
// the synopsis of its command line, printed by "--help" and after the error when the player was
// started with no show and has none appended to it.
#pragma once

#include "framework/CommandLine.h"

namespace kiv {

// "0.1.0".
const char* ProgramVersion();

// The "usage:" lines, each ending with a line feed.
const char* PlayerSynopsis();

// True when the command line names no show: no "-filename", no "-exename" and no plain name, so
// the player looks for a package appended to its own executable.
bool NoShowNamed(const TCommandLine& commandLine);

} // namespace kiv

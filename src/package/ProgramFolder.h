// The folder of the running program, against which the program's own relative names are taken
// ("All\Themes", "..\Common\x"). Found from /proc/self/exe on first use; start-up (or a test) may
// set it instead. Any thread.
#pragma once

#include <string>

namespace kiv {

// The program's folder with a trailing separator ("/opt/kiv/bin/").
std::string ProgramFolder();
// Replaces the program's folder (a trailing separator is added when missing).
void SetProgramFolder(const std::string& folder);

} // namespace kiv

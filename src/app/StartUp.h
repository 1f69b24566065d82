// The player's program entry: reads the command line, chooses the log, sets up colour management,
// creates the application object, opens the first show and reports it. Playback (the main window,
// the show viewer and the engine) is not part of this program yet: a show that opens is described
// in one line on standard output and the program ends.
//
// Exit codes: 0 when the show opened (or a screen saver was started without "/s"); 2 when it could
// not be opened (the reason is in the "Slideshow Error" box, or on standard error without a
// display); 1 is kept for a show that ends through its own exit action. SIGINT and SIGTERM end
// the program at any moment, its temporary folders removed, killed by that signal (TSignalWatch).
// Why a show did not open (which file, what is wrong with it) and the switches the program ignores
// are written to standard error and the log as lines beginning with "kivviewer: ".
#pragma once

#include <string>

namespace kiv {

inline constexpr int kExitOpenFailed = 2;

int RunPlayer(int argc, char** argv);

// The running executable (/proc/self/exe), where a self-contained show finds its package.
std::string OwnExecutablePath();

// "1:04.0": minutes, seconds and tenths of a duration in milliseconds.
std::string FormatShowDuration(double milliseconds);

} // namespace kiv

// The player's program entry: reads the command line, chooses the log, sets up colour management,
// creates the application object and the main window, which opens the first show and plays it
// until the window closes. The show that opened is described in one line on standard output;
// with "-info" that line is all, and nothing plays.
//
// Exit codes: 0 when the show played (or a screen saver was started without "/s"); 2 when it could
// not be opened or played (the reason is in the "Slideshow Error" box, or on standard error without a
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

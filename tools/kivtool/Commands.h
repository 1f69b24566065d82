// The kivtool command table. Each command reads its arguments, prints its result on stdout and
// returns the exit code: 0 done, 1 an error (message on stderr), 2 wrong usage.
#pragma once

#include <string>
#include <vector>

namespace kivtool {

using TArgs = std::vector<std::string>;

int Main(int argc, char** argv);

// The commands, one file each.
int ExprCommand(const TArgs& args);
int ActionCommand(const TArgs& args);
int CommandCheckCommand(const TArgs& args);
int PictureCommand(const TArgs& args);
int NavigateCommand(const TArgs& args);
int PropsCommand(const TArgs& args);
int TextCommand(const TArgs& args);
int MusicCommand(const TArgs& args);
int SlideCommand(const TArgs& args);
int FrameCommand(const TArgs& args);
int MixCommand(const TArgs& args);
int VideoCommand(const TArgs& args);

} // namespace kivtool

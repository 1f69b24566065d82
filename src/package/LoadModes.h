// Load callback modes: how long reads (package entries, files opened through file access) give
// the processor back while a show plays. The mode is process-wide; SetLoadMode installs the
// callback through the process load hook (LoadCallback.h).
//   0  go on, never yield
//   1  when more than 5 ms passed since the last yield, yield the rest of the time slice
//   2  the same with a sleep of 1 ms (the engine's mode while a show plays)
//   3  answer "stop": picture loops that honour the result end early; partial streams ignore it
#pragma once

namespace kiv {

// Any thread. Values outside 0-3 count as 0.
void SetLoadMode(int mode);
int LoadMode();

// The callback of the current mode: true to go on, false to stop (mode 3).
bool LoadModeCallback();

} // namespace kiv

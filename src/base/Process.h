// Process-wide state of the base library: the exit code the program ends with.
#pragma once

namespace kiv {

int ProcessExitCode();
void SetProcessExitCode(int code);

// Reports a failed consistency check where raising is impossible (a destructor, a process that
// must end): writes the assertion text to the debugger output and the log.
void ReportAssertion(const char* message, const char* unit, int line);

// Ends the process at once with the current exit code, after flushing the log.
[[noreturn]] void TerminateProcessNow();

} // namespace kiv

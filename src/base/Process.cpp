#include "base/Process.h"

#include "base/Assert.h"
#include "base/Log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace kiv {

namespace {
std::atomic<int> exitCode{0};
}

int ProcessExitCode() { return exitCode.load(); }
void SetProcessExitCode(int code) { exitCode.store(code); }

void ReportAssertion(const char* message, const char* unit, int line) {
    const std::string text = AssertionText(message, unit, line);
    TLog::DebugOutput(text);
    TLog::Line(text);
}

void TerminateProcessNow() {
    std::fflush(nullptr);
    std::_Exit(ProcessExitCode());
}

} // namespace kiv

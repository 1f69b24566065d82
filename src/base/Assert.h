// Internal consistency checks. A failed check raises EAssertionFailed whose text is
//   Asseertion with message: '<message>' (<unit>, line: <line>)
// and writes the same text to the debugger output (the "log" target, see Log.h).
// Only a programming error can make a check fail; bad show content never does.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// The exact text of a failed check; `unit` is reduced to the file name without folders.
std::string AssertionText(std::string_view message, std::string_view unit, int line);

[[noreturn]] void AssertionFailed(std::string_view message, std::string_view unit, int line);

} // namespace kiv

#define KIV_ASSERT(condition, message)                                                                    \
    do {                                                                                                 \
        if (!(condition)) ::kiv::AssertionFailed((message), __FILE__, __LINE__);                         \
    } while (false)

#define KIV_FAIL(message) ::kiv::AssertionFailed((message), __FILE__, __LINE__)

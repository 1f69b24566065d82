// Internal consistency checks. A failed check raises EAssertionFailed whose text is
//   Asseertion with message: '<message>' (<unit>, line: <line>)
// and writes the same text to the debugger output (the "log" target, see Log.h).
// Only a programming error can make a check fail; bad show content never does.
//
// EAssertionFailed is not a std::exception, so the handlers that log bad input and carry on let it
// pass; the loop of every thread (TThread, TKivThread, the application's message loop) catches it
// at its top, logs its text and abandons the operation.
//
// Thread rules: KIV_ASSERT_THREAD(id) fails unless the caller runs on the thread `id` (a
// std::thread::id); KIV_ASSERT_NOT_THREAD(id) fails when it does (a blocking call made on the thread
// that must answer it would wait forever). Both are on when KIV_DEBUG_CHECKS is defined (debug and
// test builds) and compile to nothing otherwise.
#pragma once

#include <string>
#include <string_view>
#include <thread>

namespace kiv {

// The exact text of a failed check; `unit` is reduced to the file name without folders.
std::string AssertionText(std::string_view message, std::string_view unit, int line);

[[noreturn]] void AssertionFailed(std::string_view message, std::string_view unit, int line);

class EAssertionFailed;
// Writes the text of a caught assertion to the log, saying that the operation was abandoned.
void LogAbandoned(const EAssertionFailed& failure);

inline bool OnThread(std::thread::id thread) {
    return std::this_thread::get_id() == thread;
}

} // namespace kiv

#define KIV_ASSERT(condition, message)                                                                    \
    do {                                                                                                 \
        if (!(condition)) ::kiv::AssertionFailed((message), __FILE__, __LINE__);                         \
    } while (false)

#define KIV_FAIL(message) ::kiv::AssertionFailed((message), __FILE__, __LINE__)

#if defined(KIV_DEBUG_CHECKS)
#define KIV_ASSERT_THREAD(thread) KIV_ASSERT(::kiv::OnThread(thread), "Called on the wrong thread: " #thread)
#define KIV_ASSERT_NOT_THREAD(thread)                                                                        \
    KIV_ASSERT(!::kiv::OnThread(thread), "Blocking call on the thread that must answer it: " #thread)
#else
// The argument is still checked by the compiler, but not evaluated.
#define KIV_ASSERT_THREAD(thread) ((void)sizeof(::kiv::OnThread(thread)))
#define KIV_ASSERT_NOT_THREAD(thread) ((void)sizeof(::kiv::OnThread(thread)))
#endif

// The process-wide log. The switch "filelog" writes to a file named after the program with the
// extension ".log" (UTF-8 with a byte-order mark, CR LF line ends, created anew at each start); the
// switch "log" writes every line to standard error (our debugger output); otherwise lines go
// nowhere. Every call is thread-safe.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

enum class TLogMode { None, File, Debug };

class TLog {
public:
    // Opens the log and writes the start banner. `logFile` overrides the file name that is derived
    // from `programPath` (used by tests). A file that cannot be created leaves the log off.
    static void Start(TLogMode mode, const std::string& programPath, const std::string& logFile = {});
    // Writes the end banner and closes the log; later lines go nowhere.
    static void Finish();

    static bool Enabled();
    // One line with the thread and time prefix.
    static void Line(std::string_view text);
    // One line exactly as given.
    static void RawLine(std::string_view text);

    // Text for the debugger output: standard error, whatever the log mode.
    static void DebugOutput(std::string_view text);

    // The formatting rules, exposed so that they can be checked on their own.
    static std::string LinePrefix(std::uint64_t threadId, std::int64_t msSinceStart);
    static std::string FormatDateTime(const std::tm& local);
    static std::vector<std::string> StartBanner(const std::string& programPath, const std::tm& local);
    static std::vector<std::string> EndBanner(const std::tm& local, std::int64_t workMs);
    // "kivviewer" -> "kivviewer.log", "/a/b/show.bin" -> "/a/b/show.log".
    static std::string LogFileName(const std::string& programPath);
};

// The calling thread's kernel id, as the log prints it.
std::uint64_t CurrentThreadId();

} // namespace kiv

#include "base/Log.h"

#include "base/Clock.h"
#include "base/ReplacingFile.h"

#include <cstdio>
#include <mutex>
#include <unistd.h>
#include <sys/syscall.h>

namespace kiv {

namespace {

struct LogState {
    std::mutex lock;
    TLogMode mode = TLogMode::None;
    std::FILE* file = nullptr;
};

LogState& State() {
    static LogState state;
    return state;
}

std::tm LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// Writes one line to the current target; the caller holds the lock.
void WriteLocked(LogState& state, std::string_view text) {
    switch (state.mode) {
    case TLogMode::None:
        break;
    case TLogMode::File:
        std::fwrite(text.data(), 1, text.size(), state.file);
        std::fwrite("\r\n", 1, 2, state.file);
        std::fflush(state.file);
        break;
    case TLogMode::Debug:
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fputc('\n', stderr);
        break;
    }
}

} // namespace

std::uint64_t CurrentThreadId() { return static_cast<std::uint64_t>(::syscall(SYS_gettid)); }

std::string TLog::LinePrefix(std::uint64_t threadId, std::int64_t msSinceStart) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "#%04llX [%lld] ", static_cast<unsigned long long>(threadId),
                  static_cast<long long>(msSinceStart));
    return buffer;
}

std::string TLog::FormatDateTime(const std::tm& local) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

std::vector<std::string> TLog::StartBanner(const std::string& programPath, const std::tm& local) {
    return {"", std::string(64, '='), "Program : " + programPath, "started : " + FormatDateTime(local),
            std::string(64, '=')};
}

std::vector<std::string> TLog::EndBanner(const std::tm& local, std::int64_t workMs) {
    return {"", std::string(64, '-'),
            "Program stoped : " + FormatDateTime(local) + " (work time : " + std::to_string(workMs) + " ms)",
            std::string(64, '-')};
}

std::string TLog::LogFileName(const std::string& programPath) {
    const auto slash = programPath.find_last_of('/');
    const auto dot = programPath.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? programPath.substr(0, dot) : programPath) + ".log";
}

void TLog::Start(TLogMode mode, const std::string& programPath, const std::string& logFile) {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    if (state.file) {
        std::fclose(state.file);
        state.file = nullptr;
    }
    state.mode = mode;
    if (mode == TLogMode::File) {
        // Made anew beside its name and renamed over it at once: a link at the name is replaced.
        TReplacingFile file(logFile.empty() ? LogFileName(programPath) : logFile);
        if (file.CommitAndKeepOpen()) state.file = file.Release();
        if (!state.file) {
            state.mode = TLogMode::None;
            return;
        }
        std::fwrite("\xEF\xBB\xBF", 1, 3, state.file);
    }
    for (const std::string& line : StartBanner(programPath, LocalNow())) WriteLocked(state, line);
}

void TLog::Finish() {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    if (state.mode == TLogMode::None) return;
    for (const std::string& line : EndBanner(LocalNow(), ProcessMilliseconds())) WriteLocked(state, line);
    if (state.file) std::fclose(state.file);
    state.file = nullptr;
    state.mode = TLogMode::None;
}

bool TLog::Enabled() {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    return state.mode != TLogMode::None;
}

void TLog::Line(std::string_view text) {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    if (state.mode == TLogMode::None) return;
    WriteLocked(state, LinePrefix(CurrentThreadId(), ProcessMilliseconds()) + std::string(text));
}

void TLog::RawLine(std::string_view text) {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    WriteLocked(state, text);
}

void TLog::DebugOutput(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
}

} // namespace kiv

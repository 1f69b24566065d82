#include "base/Thread.h"

#include "base/Exception.h"
#include "base/Log.h"

#include <cstdio>
#include <exception>

namespace kiv {

namespace {

// The original beeps when a thread dies badly; a player on Linux has no system beep to give.
void Beep() {}

void LogThreadException(const void* where, const char* what) {
    char line[96];
    std::snprintf(line, sizeof line, "Thread Exception at: %08X",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(where) & 0xFFFFFFFFu));
    TLog::Line(line);
    if (what) TLog::Line(std::string("  ") + what);
}

} // namespace

bool TThread::Start() {
    bool expected = false;
    if (!started_.compare_exchange_strong(expected, true)) return false;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        started_ = false;
        return false;
    }
    threadId_ = thread_.get_id();
    return true;
}

void TThread::Run() {
    threadId_ = std::this_thread::get_id();
    try {
        Execute();
    } catch (const EAssertionFailed& failure) {
        Beep();
        LogThreadException(this, failure.what());
    } catch (const std::exception& error) {
        Beep();
        // No fault address exists for a C++ exception; the thread object's address stands in.
        LogThreadException(this, error.what());
    } catch (...) {
        Beep();
        LogThreadException(this, nullptr);
    }
    bool orphaned;
    {
        std::lock_guard guard(endLock_);
        finished_ = true;
        orphaned = orphaned_;
    }
    if (orphaned) {
        DestroyDeferred(); // its owner gave up waiting; nobody else will touch it
        return;
    }
    finishedEvent_.Set();
}

void TThread::Terminate() { terminated_.store(true, std::memory_order_release); }

bool TThread::WaitFor(std::int64_t timeoutMs) {
    if (!Started()) return true;
    if (IsCurrentThread()) return Finished();
    return finishedEvent_.WaitFor(timeoutMs);
}

bool TThread::BeforeDestruction() {
    if (!Started() || Finished()) return true;
    Terminate();
    if (!IsCurrentThread() && finishedEvent_.WaitFor(DestroyWaitMs())) return true;
    std::lock_guard guard(endLock_);
    if (finished_) return true;
    orphaned_ = true;
    if (thread_.joinable()) thread_.detach();
    if (!IsCurrentThread()) {
        Beep();
        char line[96];
        std::snprintf(line, sizeof line, "Thread %p did not end within %lld ms; detached",
                      static_cast<const void*>(this), static_cast<long long>(DestroyWaitMs()));
        TLog::Line(line);
    }
    return false;
}

TThread::~TThread() {
    if (!thread_.joinable()) return;
    if (std::this_thread::get_id() == thread_.get_id())
        thread_.detach();
    else
        thread_.join();
}

} // namespace kiv

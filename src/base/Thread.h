// TThread: a thread object. Creating it does not start the thread; Start does, once. The body
// (Execute) runs inside an exception guard: an exception that escapes ends the thread and logs
// "Thread Exception at: " with an 8-digit hexadecimal address.
//
// Destroying (releasing the last reference to) a thread object that still runs sets Terminated
// and waits up to 3000 ms. A thread cannot be killed safely on Linux, so one that is still running
// then is detached and logged instead: the object stays alive and is deleted by its own thread
// when Execute finally returns. Thread objects therefore live on the heap and are held by TRef.
#pragma once

#include "base/RefObject.h"
#include "base/Sync.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace kiv {

class TThread : public TRefObject {
public:
    static constexpr std::int64_t kDestroyWaitMs = 3000;

    TThread() = default;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the thread; false when it was started before or could not be created.
    virtual bool Start();
    // Asks the body to end; it polls Terminated().
    virtual void Terminate();
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
    bool Started() const { return started_.load(std::memory_order_acquire); }
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    // Waits for the body to end; true when it has (a thread never started counts as ended).
    bool WaitFor(std::int64_t timeoutMs = kInfinite);
    // True on the thread this object runs.
    bool IsCurrentThread() const { return std::this_thread::get_id() == threadId_.load(); }

protected:
    ~TThread() override;
    virtual void Execute() = 0;
    bool BeforeDestruction() override;
    // The limit BeforeDestruction waits; tests shorten it.
    virtual std::int64_t DestroyWaitMs() const { return kDestroyWaitMs; }

private:
    void Run();

    std::thread thread_;
    std::atomic<std::thread::id> threadId_{};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
    TEvent finishedEvent_{TEvent::TReset::Manual};
    std::mutex endLock_; // orders "finished" against "orphaned"
    bool orphaned_ = false;
};

} // namespace kiv

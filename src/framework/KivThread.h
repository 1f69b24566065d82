// TKivThread: a worker thread with a polled message queue (TThreadEventList) and a running flag.
// Execute runs OnStart, then Step until Terminated, then OnStop. Other threads reach it only
// through Queue().Post and Queue().Send; the thread drains its queue in Step with ProcessAll.
// A failed consistency check inside a Step is logged and that pass abandoned; the thread goes on.
#pragma once

#include "base/Thread.h"
#include "framework/ThreadEventList.h"

#include <atomic>

namespace kiv {

class TKivThread : public TThread {
public:
    TKivThread();

    // Closes the queue first (releasing every sender blocked in Send), then sets Terminated.
    void Terminate() override;
    // Starts the thread; `running` becomes true when it was created.
    bool Start() override;
    // Terminate, then wait for the end without time-out.
    virtual void Stop();

    bool Running() const { return running_.load(); }
    TThreadEventList& Queue() { return *queue_; }

protected:
    ~TKivThread() override;
    void Execute() override;
    // The queue's handler; true claims the message. The default ignores every message.
    virtual bool HandleEvent(int code, TRefObject* data);
    virtual void OnStart() {}
    // The default clears `running`.
    virtual void OnStop();
    // One pass of the thread's loop; an exception ends the thread, a failed assertion only the pass.
    virtual void Step() = 0;

private:
    TRef<TThreadEventList> queue_;
    std::atomic<bool> running_{false};
};

} // namespace kiv

// TThreadEventList: the polled FIFO message queue of a worker thread. Other threads Post (append
// and return) or Send (append and block until the owner processed the item); the owning thread
// drains the queue with ProcessAll in its loop. Nothing wakes the owner: it polls.
//
// The owner's handler sees each message first; a message it does not claim goes on to the
// subscribers of its code (the event list's table of 4096 buckets).
#pragma once

#include "base/RefObject.h"
#include "base/Sync.h"
#include "framework/EventList.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <thread>

namespace kiv {

class TThreadEventList : public TEventList {
public:
    // The owner's handler: returns true when it claimed the message.
    using THandler = std::function<bool(int code, TRefObject* data)>;

    explicit TThreadEventList(THandler handler = {});

    // Appends a message that owns `data` and returns. On a closed queue `data` is freed at once.
    void Post(int code, TRefObject* data);
    // Appends a message and blocks, without time-out, until the owner processed it or the queue
    // was closed. The caller keeps ownership of `data`. On a closed queue it returns at once.
    // Never call it from the owning thread: that is an assertion failure (it would wait forever).
    void Send(int code, TRefObject* data);
    // Owning thread only (an assertion failure elsewhere): handles the oldest message, outside the
    // lock, until the queue is empty. Returns the number of messages handled.
    int ProcessAll();
    // Releases every blocked sender, discards every message and closes the queue for good.
    void Close();
    bool IsClosed();
    std::size_t Count();
    // The thread that processes the queue. Without one, the first thread that calls ProcessAll
    // becomes the owner.
    void SetOwnerThread(std::thread::id owner) { owner_.store(owner); }
    std::thread::id OwnerThread() const { return owner_.load(); }

protected:
    ~TThreadEventList() override;
    // Called for every message before the subscribers; the default asks the handler given at
    // construction. Returning true stops the message there.
    virtual bool HandleMessage(int code, TRefObject* data);
    // A queue that stops handling further messages after one it has just handled (the music
    // queues end after their quit message) overrides this.
    virtual bool StopAfter(int /*code*/) { return false; }

private:
    struct TMessageItem {
        int code;
        TRefObject* data;   // owned when `done` is null (a posted message)
        std::shared_ptr<TEvent> done; // the sender's event, for a sent message
    };

    TSafeCriticalSection lock_;
    std::deque<TMessageItem> items_;
    bool closed_ = false;
    THandler handler_;
    std::atomic<std::thread::id> owner_{};
};

} // namespace kiv

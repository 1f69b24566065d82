// The application object: one per process. It owns the main thread's message loop (the SDL event
// loop), the registry of numbered events (4096 buckets), the bridge that carries events from
// worker threads to the main thread, and the list of worker objects that shutdown waits for.
//
//   TApplication       the single instance and its event registry
//   TWinApplication    cross-thread Post/Send, worker registry, Run and the shutdown drain
//   TZkApplication     Prepare (SDL start-up) and the caption
//
// Post and Send are the only ways worker threads reach main-thread code. Everything here works
// without a display (SDL needs only its event subsystem).
#pragma once

#include "framework/AppEventQueue.h"
#include "framework/EventList.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

union SDL_Event;

namespace kiv {

// Private message numbers come from a process-wide counter that starts at 5120; the first number
// handed out is 5121.
int NewPrivateMessageNumber();

class TApplication : public TPostEventList {
public:
    // A second application object is an assertion failure.
    TApplication();
    static TApplication* Instance();

protected:
    ~TApplication() override;
};

class TWinApplication : public TApplication {
public:
    static constexpr std::int64_t kShutdownLimitMs = 30000;
    static constexpr std::int64_t kShutdownPollMs = 100;

    TWinApplication();

    // From any thread: queues the event and returns at once; the item owns `data`. After the
    // queue closed (shutdown), `data` is freed at once and nothing is delivered.
    void Post(int event, TRefObject* data) override;
    // From any thread: the event runs on the main thread before Send returns; `data` stays the
    // caller's. On the main thread it runs at once. After the queue closed it returns at once.
    void Send(int event, TRefObject* data) override;

    // Workers that must end before the process does. Unregistering an object that is not
    // registered is an assertion failure.
    void RegisterWorker(const void* worker);
    void UnregisterWorker(const void* worker);
    std::size_t WorkerCount();

    // The main loop: runs until the quit event, fires event number 0, then finalises (see
    // Finalise). Call on the main thread after Prepare (elsewhere an assertion failure). A failed
    // assertion while an event is dispatched is logged and that event abandoned; the loop goes on.
    void Run();
    // Handles what is pending without blocking (for a main thread that waits on a worker). Main
    // thread only, as Run.
    void ProcessPending();
    // Ends Run: from any thread.
    void Terminate();
    bool QuitRequested() const { return quit_.load(); }

    // Delivers queued items for at most the shutdown limit until no worker is registered, then
    // closes the queue. Workers still registered at the limit: assertion, and the process ends
    // with its current exit code.
    void Finalise();
    bool Finalised() const { return finalised_; }

    // The other SDL events (windows, input) go to this handler on the main thread.
    void SetNativeEventHandler(std::function<void(const SDL_Event&)> handler);

    bool IsMainThread() const { return std::this_thread::get_id() == mainThread_; }
    std::thread::id MainThread() const { return mainThread_; }

    // Test seams: the clock and limit of the shutdown drain.
    void SetShutdownClock(std::function<std::int64_t()> clock, std::int64_t limitMs);

    TWinAppEventList& Queue() { return *queue_; }

protected:
    ~TWinApplication() override;
    // Makes SDL ready for events; true when it is.
    bool StartEvents();
    bool EventsStarted() const { return eventType_ != 0; }

private:
    void Dispatch(const SDL_Event& event);
    void Deliver(TEventItem* item);
    bool DeliverNamed(TEventItem* item);
    void DeliverAll();
    bool Announce(TEventItem* item);

    const std::thread::id mainThread_;
    TRef<TWinAppEventList> queue_;
    TSafeCriticalSection lock_;
    TEvent wake_{TEvent::TReset::Auto};
    std::vector<const void*>* workers_ = nullptr; // created on first registration
    std::atomic<bool> quit_{false};
    bool finalised_ = false;
    std::uint32_t eventType_ = 0;
    const int messageNumber_;
    std::function<void(const SDL_Event&)> nativeHandler_;
    std::function<std::int64_t()> shutdownClock_;
    std::int64_t shutdownLimitMs_ = kShutdownLimitMs;
};

class TZkApplication : public TWinApplication {
public:
    // Starts SDL's event subsystem; raises Exception when it cannot. Call once, on the main
    // thread, before any window is made.
    void Prepare();
    bool Prepared() const { return EventsStarted(); }

    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption) { caption_ = std::move(caption); }

protected:
    ~TZkApplication() override = default;

private:
    std::string caption_;
};

} // namespace kiv

#include "framework/Application.h"

#include "base/Assert.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "base/Log.h"
#include "base/Process.h"

#include <SDL.h>

#include <algorithm>

namespace kiv {

namespace {
std::atomic<TApplication*> instance{nullptr};
}

int NewPrivateMessageNumber() {
    static std::atomic<int> counter{5120};
    return counter.fetch_add(1) + 1;
}

// --- TApplication ---

TApplication::TApplication() : TPostEventList(kApplicationBuckets) {
    TApplication* expected = nullptr;
    KIV_ASSERT(instance.compare_exchange_strong(expected, this), "Only one application object may exist");
}

TApplication::~TApplication() {
    TApplication* expected = this;
    instance.compare_exchange_strong(expected, nullptr);
}

TApplication* TApplication::Instance() { return instance.load(); }

// --- TWinApplication ---

TWinApplication::TWinApplication()
    : mainThread_(std::this_thread::get_id()), queue_(TRef<TWinAppEventList>::Adopt(new TWinAppEventList)),
      messageNumber_(NewPrivateMessageNumber()), shutdownClock_(ProcessMilliseconds) {}

TWinApplication::~TWinApplication() {
    if (!finalised_) ReportAssertion("Application MUST be finalesed before destroy!", __FILE__, __LINE__);
    queue_->Close();
    delete workers_;
    if (eventType_ != 0) SDL_QuitSubSystem(SDL_INIT_EVENTS);
}

bool TWinApplication::StartEvents() {
    if (eventType_ != 0) return true;
    if (SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) return false;
    const Uint32 type = SDL_RegisterEvents(1);
    if (type == static_cast<Uint32>(-1)) {
        SDL_QuitSubSystem(SDL_INIT_EVENTS);
        return false;
    }
    eventType_ = type;
    return true;
}

bool TWinApplication::Announce(TEventItem* item) {
    if (eventType_ == 0) return false;
    SDL_Event event{};
    event.type = eventType_;
    event.user.code = messageNumber_;
    event.user.data1 = item;
    return SDL_PushEvent(&event) == 1;
}

void TWinApplication::Post(int event, TRefObject* data) {
    auto* item = new TEventItem(event, data, true);
    if (!queue_->Append(item)) {
        item->Release(); // frees the data
        return;
    }
    // Without a message the item waits for the shutdown drain, which delivers every queued item.
    if (!Announce(item)) TLog::Line("Post: the main thread could not be notified; delivery waits for shutdown");
    wake_.Set();
}

void TWinApplication::Send(int event, TRefObject* data) {
    auto* item = new TEventItem(event, data, false);
    item->AddRef(); // ours, to wait on after the main thread released the queue's
    if (!queue_->InsertFirst(item)) {
        item->Release();
        item->Release();
        return;
    }
    if (IsMainThread()) {
        DeliverNamed(item); // window-message semantics: the handler runs now
    } else {
        if (!Announce(item)) {
            const bool taken = queue_->Take(item);
            item->Release();
            if (taken) item->Release();
            KIV_FAIL("Send: synchronous delivery to the main thread failed");
        }
        wake_.Set();
        item->done.WaitFor();
    }
    item->Release();
}

bool TWinApplication::DeliverNamed(TEventItem* item) {
    if (!queue_->Take(item)) return false;
    Deliver(item);
    return true;
}

void TWinApplication::Deliver(TEventItem* item) {
    // The item is finished (sender signalled, owned data freed) even when a handler raises.
    struct TFinishItem {
        TEventItem* item;
        ~TFinishItem() { item->Finish(); }
    } finish{item};
    Fire(queue_.Get(), item->event, item->data);
}

void TWinApplication::DeliverAll() {
    // One failing handler must not keep the others, or the finalisation, from happening.
    while (TEventItem* item = queue_->TakeFirst()) {
        try {
            Deliver(item);
        } catch (const EAssertionFailed& failure) {
            LogAbandoned(failure);
        } catch (const std::exception& error) {
            TLog::Line(std::string("Exception while delivering an application event: ") + error.what());
        }
    }
}

void TWinApplication::Dispatch(const SDL_Event& event) {
    if (eventType_ != 0 && event.type == eventType_) {
        if (event.user.code != messageNumber_ || finalised_) return;
        auto* item = static_cast<TEventItem*>(event.user.data1);
        // During the drain an item may be delivered before its message is read; the loop has
        // ended by then, so a message naming a missing item is a real inconsistency.
        KIV_ASSERT(DeliverNamed(item), "Queued application event not found");
        return;
    }
    if (nativeHandler_) nativeHandler_(event);
}

void TWinApplication::SetNativeEventHandler(std::function<void(const SDL_Event&)> handler) {
    nativeHandler_ = std::move(handler);
}

void TWinApplication::RegisterWorker(const void* worker) {
    TLockGuard guard(lock_);
    if (!workers_) workers_ = new std::vector<const void*>;
    workers_->push_back(worker);
}

void TWinApplication::UnregisterWorker(const void* worker) {
    {
        TLockGuard guard(lock_);
        auto it = workers_ ? std::find(workers_->begin(), workers_->end(), worker) : std::vector<const void*>::iterator{};
        KIV_ASSERT(workers_ && it != workers_->end(), "Unregistering a worker that is not registered");
        workers_->erase(it);
        if (workers_->empty()) {
            delete workers_;
            workers_ = nullptr;
        }
    }
    wake_.Set();
}

std::size_t TWinApplication::WorkerCount() {
    TLockGuard guard(lock_);
    return workers_ ? workers_->size() : 0;
}

void TWinApplication::Terminate() {
    quit_ = true;
    if (eventType_ == 0) return;
    SDL_Event event{};
    event.type = SDL_QUIT;
    SDL_PushEvent(&event);
}

void TWinApplication::ProcessPending() {
    KIV_ASSERT_THREAD(mainThread_);
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) {
            quit_ = true;
            continue;
        }
        Dispatch(event);
    }
}

void TWinApplication::Run() {
    KIV_ASSERT_THREAD(mainThread_);
    KIV_ASSERT(eventType_ != 0, "Run before Prepare");
    while (!quit_) {
        SDL_Event event;
        if (!SDL_WaitEvent(&event)) {
            quit_ = true;
            break;
        }
        if (event.type == SDL_QUIT) break;
        try {
            Dispatch(event);
        } catch (const EAssertionFailed& failure) {
            // The event's work is abandoned; the loop goes on with the next one.
            SDL_CaptureMouse(SDL_FALSE);
            LogAbandoned(failure);
        } catch (const std::exception& error) {
            SDL_CaptureMouse(SDL_FALSE);
            TLog::Line(std::string("Exception in the message loop: ") + error.what());
        }
    }
    quit_ = true;
    Fire(this, 0, nullptr);
    Finalise();
}

void TWinApplication::SetShutdownClock(std::function<std::int64_t()> clock, std::int64_t limitMs) {
    shutdownClock_ = std::move(clock);
    shutdownLimitMs_ = limitMs;
}

void TWinApplication::Finalise() {
    if (finalised_) return;
    const std::int64_t start = shutdownClock_();
    bool timedOut = false;
    for (;;) {
        DeliverAll();
        if (WorkerCount() == 0) break;
        if (shutdownClock_() - start >= shutdownLimitMs_) {
            timedOut = true;
            break;
        }
        wake_.WaitFor(kShutdownPollMs);
    }
    queue_->Close();
    finalised_ = true;
    if (timedOut) {
        ReportAssertion("Workers still registered when the shutdown limit passed", __FILE__, __LINE__);
        TerminateProcessNow();
    }
}

// --- TZkApplication ---

void TZkApplication::Prepare() {
    if (!StartEvents()) throw Exception(std::string("Cannot start the application: ") + SDL_GetError());
}

} // namespace kiv

#include "framework/KivThread.h"

#include "base/Assert.h"
#include "base/Exception.h"

#include <string>

namespace kiv {

TKivThread::TKivThread()
    : queue_(TRef<TThreadEventList>::Adopt(
          new TThreadEventList([this](int code, TRefObject* data) { return HandleEvent(code, data); }))) {}

TKivThread::~TKivThread() { queue_->Close(); }

void TKivThread::Terminate() {
    queue_->Close();
    TThread::Terminate();
}

bool TKivThread::Start() {
    const bool started = TThread::Start();
    if (started) running_ = true;
    return started;
}

void TKivThread::Stop() {
    Terminate();
    WaitFor(kInfinite);
}

void TKivThread::Execute() {
    queue_->SetOwnerThread(std::this_thread::get_id());
    OnStart();
    // A failed consistency check abandons the pass it broke and the loop goes on; a check that fails
    // on every pass is logged once. Any other exception from Step leaves Execute and ends the thread
    // through TThread's guard.
    std::string lastFailure;
    while (!Terminated()) {
        try {
            Step();
        } catch (const EAssertionFailed& failure) {
            if (failure.Message() == lastFailure) continue;
            lastFailure = failure.Message();
            LogAbandoned(failure);
        }
    }
    OnStop();
}

bool TKivThread::HandleEvent(int, TRefObject*) { return false; }

void TKivThread::OnStop() { running_ = false; }

} // namespace kiv

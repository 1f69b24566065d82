#include "framework/KivThread.h"

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
    OnStart();
    // An exception from Step leaves Execute and ends the thread through TThread's guard.
    while (!Terminated()) Step();
    OnStop();
}

bool TKivThread::HandleEvent(int, TRefObject*) { return false; }

void TKivThread::OnStop() { running_ = false; }

} // namespace kiv

#include "app/RemoteControl.h"

#include "app/MainForm.h"
#include "base/Exception.h"
#include "base/Log.h"
#include "framework/Application.h"
#include "ini/IniFile.h"
#include "package/FolderPath.h"
#include "viewer/SlideNavigation.h"

#include <cmath>
#include <cstdint>

namespace kiv {

namespace {

constexpr std::uint32_t kPublishMs = 250;

class TRequestData : public TRefObject {
public:
    explicit TRequestData(const TRemoteRequest& request) : request(request) {}
    const TRemoteRequest request;
};

std::uint32_t PostTick(std::uint32_t interval, void* data) {
    const auto& self = *static_cast<std::pair<TZkApplication*, int>*>(data);
    self.first->Post(self.second, nullptr);
    return interval;
}

} // namespace

TRemoteControl::TRemoteControl(TZkApplication& application, TMainForm& form)
    : application_(application), form_(form) {
    requestEvent_ = NewPrivateMessageNumber();
    tickEvent_ = NewPrivateMessageNumber();
    application_.Subscribe(requestEvent_, MakeEventHandler<&TRemoteControl::OnRequest>(this));
    application_.Subscribe(tickEvent_, MakeEventHandler<&TRemoteControl::OnTick>(this));
    try {
        service_ = std::make_unique<TMprisService>([this](const TRemoteRequest& request) {
            application_.Post(requestEvent_, new TRequestData(request));
        });
        TLog::Line("MPRIS: offered as " + service_->BusName());
    } catch (const Exception& error) {
        TLog::Line("MPRIS: no remote control: " + error.Message());
    }
    tick_ = {&application_, tickEvent_};
    timer_ = SDL_AddTimer(kPublishMs, PostTick, &tick_);
    OnTick(nullptr, tickEvent_, nullptr);
}

TRemoteControl::~TRemoteControl() {
    if (timer_) SDL_RemoveTimer(timer_);
    application_.Unsubscribe(tickEvent_, MakeEventHandler<&TRemoteControl::OnTick>(this));
    application_.Unsubscribe(requestEvent_, MakeEventHandler<&TRemoteControl::OnRequest>(this));
    service_.reset();
    SDL_EnableScreenSaver();
}

void TRemoteControl::OnRequest(TRefObject*, int, TRefObject* data) {
    const auto* request = dynamic_cast<const TRequestData*>(data);
    if (!request || !form_.ShowRunning()) return;
    const TKivActionInfo action =
        RemoteAction(request->request, form_.Paused(), form_.CurrentTime(), form_.Viewer().Duration());
    if (!action.IsNone()) form_.PerformAction(action);
    OnTick(nullptr, tickEvent_, nullptr);
}

void TRemoteControl::OnTick(TRefObject*, int, TRefObject*) {
    const TRemoteState state = ReadState();
    const bool allow = !(state.showOpen && state.playing);
    if (allow != screenSaverAllowed_) {
        if (allow)
            SDL_EnableScreenSaver();
        else
            SDL_DisableScreenSaver();
        screenSaverAllowed_ = allow;
    }
    if (service_) service_->Publish(state);
}

TRemoteState TRemoteControl::ReadState() const {
    TRemoteState state;
    state.showOpen = form_.ShowRunning();
    if (!state.showOpen) return state;
    const double now = form_.CurrentTime();
    state.playing = !form_.Paused();
    state.positionUs = std::llround(now * 1000);
    state.lengthUs = std::llround(form_.Viewer().Duration() * 1000);
    if (const TSlideTimes* times = form_.SlideTimes(); times && times->Count() > 0) {
        // Later passes of a repeating show count their slides again from 1.
        const int index = std::max(times->FindSlideAt(now), 0);
        state.slide = index % times->Count() + 1;
    }
    if (const TIniFile* project = form_.Project()) {
        state.title = project->ReadString("Main", "opt_title", "");
        if (state.title.empty()) state.title = project->ReadString("Main", "opt_scr_caption", "");
    }
    if (state.title.empty()) state.title = LastComponent(form_.CurrentShow().path);
    return state;
}

} // namespace kiv

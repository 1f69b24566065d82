#include "viewer/ShowViewerEngine.h"

#include "base/Clock.h"
#include "base/Log.h"
#include "base/Process.h"
#include "package/TempFolders.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace kiv {

TEngineAction ParseEngineAction(const std::string& word) {
    const TKivActionInfo action = ParseActionWord(word);
    return TEngineAction{action.kind, action.number, action.text};
}

namespace {

int WholeMs(double timeMs) {
    return static_cast<int>(std::nearbyint(timeMs));
}

} // namespace

TKivEngineLink::TKivEngineLink(TRef<TKivEngine> engine, std::function<void()> pump)
    : engine_(std::move(engine)), pump_(std::move(pump)) {
    engine_->OnFirstFrame = [this](TCustomKivEngine&) {
        if (OnFirstFrame) OnFirstFrame();
    };
    engine_->OnPosition = [this](TCustomKivEngine&, int timeMs, bool ended, int durationMs) {
        if (OnPosition) OnPosition(timeMs, ended, durationMs);
    };
    engine_->OnEvent = [this](TCustomKivEngine&, TKivEventData& data) {
        if (!OnNotification) return;
        TViewerNotification notification;
        notification.code = data.code;
        notification.ints = data.ints;
        if (data.code == kNotifyAction) {
            if (auto* text = dynamic_cast<TStrValue*>(data.value)) notification.text = text->text;
        } else if (data.value) {
            notification.value = ShareRef(data.value);
        }
        OnNotification(notification);
    };
}

TKivEngineLink::~TKivEngineLink() {
    Stop();
    engine_->OnFirstFrame = nullptr;
    engine_->OnPosition = nullptr;
    engine_->OnEvent = nullptr;
}

void TKivEngineLink::OpenShow(TRef<TFileAccessor> accessor, TRef<TIniFile> project, double timeMs) {
    engine_->OpenShow(std::move(accessor), std::move(project), timeMs);
}

void TKivEngineLink::Start() {
    if (!engine_->Start()) TLog::Line("The engine thread did not start");
}

void TKivEngineLink::Stop() {
    if (stopped_) return;
    stopped_ = true;
    TLog::Line("Show viewer: stopping the engine");
    // Closing the queue first releases anyone sending to the engine; the engine thread then ends
    // its pass, its loader and its music threads while the main thread keeps answering.
    engine_->Terminate();
    const std::int64_t start = ProcessMilliseconds();
    const auto spent = [start] { return ProcessMilliseconds() - start; };
    while (engine_->Running() && pump_ && spent() < stopLimitMs_)
        pump_();
    if (!engine_->WaitFor(std::max<std::int64_t>(0, stopLimitMs_ - spent()))) {
        TLog::Line("Show viewer: the engine thread did not end within " + std::to_string(stopLimitMs_) +
                   " ms; the player ends without it");
        if (OnStuck) {
            OnStuck();
            return;
        }
        ProcessTempFolders().ReleaseAll();
        TLog::Finish();
        TerminateProcessNow();
    }
    engine_->Stop();
    TLog::Line("Show viewer: engine stopped");
}

void TKivEngineLink::PostOpen(int requestId, TRef<TFileAccessor> accessor, TRef<TIniFile> project,
                              double timeMs) {
    engine_->Queue().Post(kEngineOpen, new TOpenParams(false, requestId, std::move(accessor),
                                                       std::move(project), WholeMs(timeMs)));
}

void TKivEngineLink::PostPaused(bool paused) {
    engine_->Queue().Post(kEngineMode, new TModeData(paused));
}

void TKivEngineLink::PostMouse(const TMouseInput& input, const TKivActionInfo& action) {
    engine_->Queue().Post(kEngineMouse,
                          new TMouseData(static_cast<std::uint8_t>(input.event), input.button,
                                         input.modifiers, input.x, input.y,
                                         TEngineAction{action.kind, action.number, action.text}));
}

void TKivEngineLink::PostPrint() {
    engine_->Queue().Post(kEngineCapture, nullptr);
}

void TKivEngineLink::PostCloseDialog() {
    engine_->Queue().Post(kEngineCloseDialog, nullptr);
}

void TKivEngineLink::PostHelp() {
    engine_->Queue().Post(kEngineHelp, nullptr);
}

bool TKivEngineLink::DialogOpen() const {
    return engine_->DialogOpen();
}

TViewerHover TKivEngineLink::Hover() const {
    const TKivEngine::THover hover = engine_->Hover();
    return TViewerHover{hover.overAction, hover.className};
}

} // namespace kiv

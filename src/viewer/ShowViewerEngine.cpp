#include "viewer/ShowViewerEngine.h"

#include "base/Log.h"

#include <cmath>

namespace kiv {

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
    while (engine_->Running() && pump_)
        pump_();
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
    // The engine publishes no dialog state to the main thread (its overlay belongs to the engine
    // thread), so keys are never swallowed for an open dialog; Escape still closes the top one
    // through the key mapping's "closedialog".
    return false;
}

TViewerHover TKivEngineLink::Hover() const {
    const TKivEngine::THover hover = engine_->Hover();
    return TViewerHover{hover.overAction, hover.className};
}

} // namespace kiv

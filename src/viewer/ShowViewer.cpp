#include "viewer/ShowViewer.h"

#include "base/Assert.h"
#include "base/Log.h"
#include "ini/IniFile.h"
#include "package/FileAccessor.h"

#include <algorithm>

namespace kiv {

TKivShowViewer::TKivShowViewer(TViewerWindow* window, TDisplaySwitches switches, TEngineFactory factory)
    : window_(window), switches_(switches), factory_(std::move(factory)) {
    KIV_ASSERT(window_ != nullptr, "TKivShowViewer without a main window");
}

TKivShowViewer::~TKivShowViewer() {
    StopEngine();
    if (engine_) {
        engine_->OnFirstFrame = nullptr;
        engine_->OnPosition = nullptr;
        engine_->OnNotification = nullptr;
    }
    engine_ = nullptr;
    device_ = nullptr;
}

void TKivShowViewer::SetActionsEnabled(bool enabled) {
    actionsEnabled_ = enabled;
    if (engine_) engine_->SetActionsEnabled(enabled);
}

void TKivShowViewer::CreateEngine(const TIniFile& project) {
    device_ = window_->CreateDevice();
    KIV_ASSERT(device_.Get() != nullptr, "The main window made no draw device");
    engine_ = factory_(*device_);
    KIV_ASSERT(engine_.Get() != nullptr, "No engine was made for the show viewer");
    engine_->OnFirstFrame = [this] {
        if (!window_->Visible()) window_->MakeVisible();
    };
    engine_->OnPosition = [this](double time, bool ended, double duration) {
        currentTime_ = time;
        duration_ = duration;
        if (OnShowEnd) OnShowEnd(ended);
    };
    engine_->OnNotification = [this](const TViewerNotification& notification) {
        HandleNotification(notification);
    };
    engine_->SetActionsEnabled(actionsEnabled_);

    // The show's window until the engine reports it: full screen on the primary monitor, or the
    // project's size with or without a frame.
    int width = 0;
    int height = 0;
    int mode = kModeFullScreen;
    windowWidth_ = project.ReadInteger("Main", "opt_scr_width", 640);
    windowHeight_ = project.ReadInteger("Main", "opt_scr_height", 480);
    windowMode_ = kModeFramed;
    if (project.ReadInteger("Main", "opt_scr_full", 1) == 1) {
        const TDisplayLayout layout = window_->Displays();
        const TRect primary = TargetArea(TDisplaySwitches{}, layout);
        width = primary.Width();
        height = primary.Height();
    } else {
        width = windowWidth_;
        height = windowHeight_;
        mode = project.ReadBool("Main", "opt_withoutborder", true) ? kModeFrameless : kModeFramed;
    }
    ApplyWindowMode(width, height, mode);
}

void TKivShowViewer::Open(const TFileAccessor& accessor, const TIniFile& project, double startTime) {
    if (stopped_) return;
    if (!engine_) CreateEngine(project);
    // The engine thread reads its own copies: the main thread keeps using the show's.
    TRef<TFileAccessor> engineAccessor = accessor.Copy();
    TRef<TIniFile> engineProject = MakeRef<TIniFile>();
    engineProject->Assign(project);
    if (engine_->Running()) {
        engine_->PostOpen(engine_->NextRequestId(), std::move(engineAccessor), std::move(engineProject),
                          startTime);
        return;
    }
    engine_->OpenShow(std::move(engineAccessor), std::move(engineProject), startTime);
    engine_->Start();
    // A pause state chosen before the engine existed reaches it now (the engine starts paused).
    if (!paused_) engine_->PostPaused(false);
}

void TKivShowViewer::SetPaused(bool paused) {
    if (paused == paused_) return;
    paused_ = paused;
    if (engine_ && !stopped_) engine_->PostPaused(paused);
}

void TKivShowViewer::Seek(double time) {
    if (!(time >= 0)) return; // negative (or not a number): ignored
    currentTime_ = time;
    if (engine_ && !stopped_) engine_->PostOpen(engine_->NextRequestId(), nullptr, nullptr, time);
}

void TKivShowViewer::GoTo(double time, bool paused) {
    Seek(time);
    SetPaused(paused);
}

void TKivShowViewer::MouseEvent(const TMouseInput& input, const TKivActionInfo& action) {
    if (EngineRunning() && !stopped_) engine_->PostMouse(input, action);
}

void TKivShowViewer::Help() {
    if (engine_ && !stopped_) engine_->PostHelp();
}

void TKivShowViewer::CloseDialog() {
    if (engine_ && !stopped_) engine_->PostCloseDialog();
}

void TKivShowViewer::Print() {
    if (engine_ && !stopped_) engine_->PostPrint();
}

void TKivShowViewer::StopEngine() {
    if (stopped_) return;
    stopped_ = true;
    if (engine_) engine_->Stop();
}

void TKivShowViewer::PostAction(const TKivActionInfo& action) {
    switch (action.kind) {
    case kActionHelp:
        Help();
        break;
    case kActionCloseDialog:
        CloseDialog();
        break;
    case kActionPrint:
        Print();
        break;
    default:
        // Any other action reaches the engine with a mouse event or comes back from it.
        TLog::Line("Show viewer: action " + std::to_string(action.kind) + " is not one for the engine");
        break;
    }
}

bool TKivShowViewer::SendHolding() {
    return engine_ && !stopped_ && engine_->Holding();
}

void TKivShowViewer::SendClearHold() {
    if (engine_ && !stopped_) engine_->ClearHold();
}

bool TKivShowViewer::SendDialogOpen() {
    return engine_ && !stopped_ && engine_->DialogOpen();
}

void TKivShowViewer::SendPollCursor() {
    pointerOverAction_ = false;
    pointerOverNavPanel_ = false;
    if (!EngineRunning() || stopped_) return;
    const TViewerHover hover = engine_->Hover();
    pointerOverNavPanel_ = hover.className == "NavPanel";
    pointerOverAction_ = hover.overAction && hover.className != "TKivButton";
}

void TKivShowViewer::HandleNotification(const TViewerNotification& notification) {
    switch (notification.code) {
    case TViewerNotification::kAction: {
        TKivActionInfo action;
        action.kind = static_cast<std::uint8_t>(notification.ints.size() > 0 ? notification.ints[0] : 0);
        action.number = notification.ints.size() > 1 ? notification.ints[1] : 0;
        action.text = notification.text;
        if (!action.IsNone() && OnAction) OnAction(action);
        break;
    }
    case TViewerNotification::kPicture:
        if (notification.value && OnPrint) OnPrint(notification.value);
        break;
    case TViewerNotification::kWindowMode:
        if (notification.ints.size() >= 3)
            ApplyWindowMode(notification.ints[0], notification.ints[1], notification.ints[2]);
        break;
    default:
        break;
    }
}

void TKivShowViewer::ApplyWindowMode(int width, int height, int mode) {
    if (mode != kModeFullScreen) {
        windowWidth_ = width;
        windowHeight_ = height;
        windowMode_ = mode;
    }
    if (switches_.fullScreen && mode != kModeFullScreen) {
        const TRect area = TargetArea(switches_, window_->Displays());
        PlaceWindow(area.Width(), area.Height(), kModeFullScreen);
        return;
    }
    if (switches_.window && mode == kModeFullScreen) {
        PlaceWindow(windowWidth_, windowHeight_, windowMode_);
        return;
    }
    PlaceWindow(width, height, mode);
}

void TKivShowViewer::ToggleFullScreen() {
    if (placement_.fullScreen) {
        TLog::Line("Show window: full screen off");
        PlaceWindow(windowWidth_, windowHeight_, windowMode_);
    } else {
        TLog::Line("Show window: full screen on");
        const TRect area = TargetArea(switches_, window_->Displays());
        PlaceWindow(area.Width(), area.Height(), kModeFullScreen);
    }
}

void TKivShowViewer::PlaceWindow(int width, int height, int mode) {
    const TWindowFrame frame = mode == kModeFramed
                                   ? (switches_.resize ? TWindowFrame::Resizable : TWindowFrame::Fixed)
                                   : TWindowFrame::None;
    placement_ =
        PlaceShowWindow(width, height, mode, switches_, window_->Displays(), window_->FrameSize(frame));
    TLog::Line("Show window: mode " + std::to_string(mode) + ", " + RectText(placement_.window));
    window_->Place(placement_);
    if (!device_) return;
    device_->SetBounds({0, 0, placement_.clientWidth, placement_.clientHeight}, placement_.clientOrigin,
                       placement_.fullScreen);
    // The renderer finds the window's rectangle here (to put the window back after full screen).
    auto* record = device_->Find<TRectangleWrapper>();
    if (!record) {
        auto made = MakeRef<TRectangleWrapper>();
        record = made.Get();
        device_->Attach(std::move(made));
    }
    record->SavedRect = placement_.window;
}

} // namespace kiv

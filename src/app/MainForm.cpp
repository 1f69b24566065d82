#include "app/MainForm.h"

#include "app/ShowDialogs.h"

#include "base/Clock.h"
#include "base/Exception.h"
#include "base/Log.h"
#include "base/Process.h"
#include "framework/Application.h"
#include "framework/ErrorBox.h"
#include "package/FolderPath.h"
#include "package/OutsideReads.h"
#include "package/WindowsPath.h"
#include "project/KivShowLocator.h"
#include "project/ShowNames.h"
#include "project/ShowOpen.h"
#include "project/ShowOpenHooks.h"
#include "render/Engine.h"
#include "render/Monitors.h"
#include "render/WinDevice.h"
#include "viewer/InputMapping.h"
#include "viewer/SdlKeys.h"
#include "viewer/SourceSlideTimes.h"

#include <SDL.h>

#include <climits>
#include <cstdio>
#include <thread>

namespace kiv {

namespace {

// Codes of the window's own SDL event.
constexpr int kEventClose = 1;
constexpr int kEventTick = 2;
constexpr int kEventAskRead = 3; // a loader thread read outside the show: ask the user

constexpr const char* kDefaultCaption = "KivViewer v5.6";

Uint32 PushTick(Uint32 interval, void* param) {
    SDL_Event event{};
    event.type = static_cast<Uint32>(reinterpret_cast<std::uintptr_t>(param));
    event.user.code = kEventTick;
    SDL_PushEvent(&event);
    return interval;
}

void ConsoleLine(const std::string& text) {
    TLog::Line(text);
    const std::string line = "kivviewer: " + text + "\n";
    std::fputs(line.c_str(), stderr);
}

TProgramRunner::TOptions RunnerOptions(const std::string& programPath, TProgramConsent& consent) {
    TProgramRunner::TOptions options;
    options.programFolder = FolderPart(programPath);
    options.mayStart = [&consent](const TProgramStart& start) { return consent.MayStart(start); };
    return options;
}

// "-noprograms" wins over "-allowprograms".
TProgramPolicy ProgramPolicyOf(const TCommandLine& commandLine) {
    if (commandLine.HasSwitch("noprograms")) return TProgramPolicy::RefuseAll;
    if (commandLine.HasSwitch("allowprograms")) return TProgramPolicy::AllowAll;
    return TProgramPolicy::Ask;
}

bool DrawsNowhere(const char* driver) {
    return driver && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0);
}

// Starts SDL's video. SDL falls back to drivers that draw nowhere when no display answers; unless
// such a driver was asked for, X11 is tried again (a display that is busy starting up may refuse
// the first connection), and a show nobody can see is an error.
void StartVideo() {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0)
        throw Exception(std::string("Can't start the display: ") + SDL_GetError());
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    const bool askedFor = asked && *asked;
    std::string why;
    if (!askedFor && DrawsNowhere(SDL_GetCurrentVideoDriver())) {
        TLog::Line(std::string("No display answered at first: ") + SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        if (SDL_getenv("DISPLAY")) {
            SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
            for (int attempt = 0; attempt < 5 && !SDL_WasInit(SDL_INIT_VIDEO); ++attempt) {
                if (attempt > 0) SDL_Delay(200);
                if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
                    why = std::string(" (X11: ") + SDL_GetError() + ")";
            }
            SDL_ResetHint(SDL_HINT_VIDEODRIVER);
        }
        if (!SDL_WasInit(SDL_INIT_VIDEO) || DrawsNowhere(SDL_GetCurrentVideoDriver())) {
            if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_QuitSubSystem(SDL_INIT_VIDEO);
            // SDL's message box must not meet a video subsystem that draws nowhere.
            TLog::Line("No display answered" + why);
            throw Exception("Can't open the display: no X11 or Wayland display answered" + why);
        }
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    TLog::Line(std::string("Video driver: ") + (driver ? driver : "none"));
}

// The show's caption; a show without one is named by its title, else by its file's name.
std::string WindowTitle(const TIniFile& project, const std::string& showPath) {
    std::string title = project.ReadString("Main", "opt_scr_caption", "");
    if (title.empty()) title = project.ReadString("Main", "opt_title", "");
    if (title.empty()) {
        const std::size_t slash = showPath.find_last_of("/\\");
        title = slash == std::string::npos ? showPath : showPath.substr(slash + 1);
    }
    return title.empty() ? std::string(kDefaultCaption) : title;
}

} // namespace

TMainForm::TMainForm(TZkApplication& application, const TCommandLine& commandLine, std::string programPath,
                     TKivShowViewer::TEngineFactory engineFactory)
    : application_(application), commandLine_(commandLine), programPath_(std::move(programPath)),
      consent_(ProgramPolicyOf(commandLine),
               [this](const TProgramStart& start) { return dialogs_ && dialogs_->AskToRun(start); }),
      runner_(RunnerOptions(programPath_, consent_)), switcher_(*this, *this), performer_(*this, runner_, switcher_),
      input_(*this, performer_), closer_(*this, performer_) {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) StartVideo();
    // Closing the window asks the close handler; SDL must not end the loop by itself.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    TScreen::Instance().Refresh();
    if (!T3DEngine::Get() || !T3DEngine::Get()->IsDeviceUsable())
        throw Exception("Can't draw on this display: OpenGL 3.3 is not available");

    state_.startupMode = commandLine_.HasToken("-startup");
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (state_.startupMode) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    window_ =
        SDL_CreateWindow(kDefaultCaption, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 640, 480, flags);
    if (!window_) throw Exception(std::string("Can't create the show window: ") + SDL_GetError());
    windowId_ = SDL_GetWindowID(window_);
    topMost_ = state_.startupMode;
    formEvent_ = SDL_RegisterEvents(1);

    viewer_ = MakeRef<TKivShowViewer>(this, ReadDisplaySwitches(commandLine_), std::move(engineFactory));
    viewer_->SetActionsEnabled(true);
    viewer_->OnShowEnd = [this](bool ended) { ShowEnded(ended); };
    // The performer keeps the action-busy guard itself: setting it here first dropped every action.
    viewer_->OnAction = [this](const TKivActionInfo& action) { performer_.PerformFromViewer(action); };
    dialogs_ = std::make_unique<TShowDialogs>(application_, window_);
    // Files outside the show follow the programs' switches; the question waits for the main thread.
    const TProgramPolicy policy = consent_.Policy();
    const std::thread::id mainThread = std::this_thread::get_id();
    const Uint32 formEvent = formEvent_;
    SetOutsideReadPolicy(policy == TProgramPolicy::AllowAll    ? TOutsideReadPolicy::AllowAll
                         : policy == TProgramPolicy::RefuseAll ? TOutsideReadPolicy::RefuseAll
                                                               : TOutsideReadPolicy::Ask,
                         [this, mainThread, formEvent](const std::string& path,
                                                       const std::string&) -> std::optional<bool> {
                             if (std::this_thread::get_id() == mainThread) return dialogs_->AskToRead(path);
                             SDL_Event event{};
                             event.type = formEvent;
                             event.user.code = kEventAskRead;
                             SDL_PushEvent(&event);
                             return std::nullopt;
                         });
    viewer_->OnPrint = [this](TRef<TRefObject> picture) { dialogs_->Print(*this, std::move(picture)); };

    mouse_.OnVisibility = [this](bool hidden) {
        if (hidden && viewer_->PointerOverNavPanel()) {
            mouse_.SetHidden(false, CursorPosition());
            return;
        }
        SDL_ShowCursor(hidden ? SDL_DISABLE : SDL_ENABLE);
    };
    mouse_.OnPoll = [this] {
        if (!ShowRunning()) return;
        viewer_->SendPollCursor();
        static SDL_Cursor* hand = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND);
        static SDL_Cursor* arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
        SDL_SetCursor(viewer_->PointerOverAction() ? hand : arrow);
    };
    mouse_.OnLeave = [this] {
        // Nothing of the show counts as under the pointer any more.
        viewer_->MouseEvent(TMouseInput{0, INT_MAX, INT_MAX, static_cast<int>(TWindowMouseEvent::Move), 0});
    };
}

TMainForm::~TMainForm() {
    ResetOutsideReads();
    if (timer_) SDL_RemoveTimer(timer_);
    if (viewer_) {
        viewer_->OnShowEnd = nullptr;
        viewer_->OnAction = nullptr;
        viewer_->OnPrint = nullptr;
        viewer_->StopEngine();
    }
    device_ = nullptr;
    viewer_ = nullptr;
    if (window_) SDL_DestroyWindow(window_);
}

bool TMainForm::OpenFirstShow(const std::string& name, bool asPackage, bool timeGiven, int position) {
    current_.projectFileName = asPackage ? std::string() : name;
    if (!OpenShow(name, asPackage, timeGiven, true, position)) return false;
    viewer_->SetPaused(false);
    state_.createdAt = ProcessMilliseconds();
    return true;
}

bool TMainForm::OpenShow(const std::string& name, bool asPackage, bool timeGiven, bool checkPassword,
                         int position) {
    const bool hadEngine = viewer_->HasEngine();
    const bool wasPaused = viewer_->Paused();
    if (hadEngine) viewer_->SetPaused(true);

    TOpenShowRequest request;
    request.name = name;
    request.asPackage = asPackage;
    request.timeGiven = timeGiven;
    request.checkPassword = checkPassword;
    request.position = position;
    request.askPassword = [this](const TIniFile& project) { return dialogs_->AskPassword(project); };
    TLog::Line("Open show: " + name);
    TOpenShowResult opened;
    try {
        opened = kiv::OpenShow(request, commandLine_);
    } catch (const std::exception& error) {
        opened.message = std::string(error.what()) + "\r\"" + name + "\"";
        opened.details = {name + ": " + FailureCause(error)};
    }
    lastOpenFailedWithMessage_ = false;
    if (!opened.ok) {
        lastOpenFailedWithMessage_ = !opened.message.empty();
        if (!opened.message.empty()) ShowErrorBox(opened.message);
        for (const std::string& line : opened.details)
            ConsoleLine(line);
        // The show that was playing goes on as it was.
        if (hadEngine) viewer_->SetPaused(wasPaused);
        return false;
    }

    TKivShowLocator& show = *opened.show;
    const TIniFile& project = *show.Project();
    T3DEngine::SetExclusiveAllowed(ExclusiveModeAllowed());
    input_.SetMapping(MakeRef<TInputMappingClass>(project));
    wheelEnabled_ = !project.ReadBool("Main", "opt_lockwheel", false);
    input_.SetWheelEnabled(wheelEnabled_);
    SDL_SetWindowTitle(window_, WindowTitle(project, opened.showPath).c_str());
    mouse_.ApplyShowOptions(project, CursorPosition());
    slideTimes_ = std::make_unique<TSourceSlideTimes>(ShareRef(&show.ParsedProject()));

    try {
        viewer_->Open(show.Accessor(), project, 0);
    } catch (const std::exception& error) {
        // The window's drawing device or the engine on it failed: nothing can be shown.
        TLog::Line(std::string("Show viewer: the show cannot be played: ") + error.what());
        lastOpenFailedWithMessage_ = true;
        ShowErrorBox(std::string("The show cannot be played on this display.\r") + error.what());
        return false;
    }
    if (opened.seekTime) viewer_->Seek(*opened.seekTime);
    if (!Visible()) MakeVisible();
    if (hadEngine) viewer_->SetPaused(wasPaused);

    current_.path = opened.showPath;
    current_.folder = FolderOf(opened.showPath);
    consent_.SetShow(opened.showPath);
    // A show's programs are its own files: relative names are looked up beside the show (the
    // player's folder when the show names a folder this machine does not have).
    const std::string showFolder = DiskPath(FolderPart(opened.showPath));
    runner_.SetProgramFolder(DiskFolderExists(showFolder) ? showFolder : FolderPart(programPath_));
    current_.version = show.Version();
    if (OnShowOpened) OnShowOpened(opened);
    return true;
}

bool TMainForm::ShowRunning() const {
    return viewer_ && viewer_->EngineRunning() && kiv::CurrentShow() != nullptr;
}

const TSlideTimes* TMainForm::SlideTimes() const {
    return slideTimes_.get();
}

const TIniFile* TMainForm::Project() const {
    const TKivShowLocator* show = kiv::CurrentShow();
    return show ? show->Project() : nullptr;
}

void TMainForm::Close() {
    // Decided on the next pass of the message loop, outside the action that asked.
    SDL_Event event{};
    event.type = formEvent_;
    event.user.code = kEventClose;
    SDL_PushEvent(&event);
}

void TMainForm::RunCloseHandler() {
    if (!closer_.AllowClose()) return;
    TLog::Line("Main window closes");
    viewer_->OnShowEnd = nullptr;
    viewer_->OnAction = nullptr;
    viewer_->OnPrint = nullptr;
    // The engine stops with its loader and music threads; the main thread keeps answering while
    // it waits, so a second Escape meanwhile finds the close already decided.
    viewer_->StopEngine();
    application_.Terminate();
}

void TMainForm::ShowEnded(bool ended) {
    if (!ended || state_.closing) return;
    TKivShowLocator* show = kiv::CurrentShow();
    if (!show || show->ParsedProject().EndMode() != TEndMode::Close) return;
    state_.endedByShow = true;
    state_.exitRequested = true;
    Close();
}

void TMainForm::SetExitCode(int code) {
    SetProcessExitCode(code);
}

void TMainForm::SetTopMost(bool topMost) {
    topMost_ = topMost;
    SDL_SetWindowAlwaysOnTop(window_, topMost ? SDL_TRUE : SDL_FALSE);
}

void TMainForm::ShowMessageBox(const std::string& caption, const std::string& text) {
    kiv::ShowErrorBox(text, caption);
}

void TMainForm::ShowErrorBox(const std::string& text) {
    kiv::ShowErrorBox(text);
}

// --- TViewerWindow ---

TRef<TDrawDevice> TMainForm::CreateDevice() {
    auto device = MakeRef<TWinDevice>(window_);
    device_ = device.Get();
    return device;
}

TDisplayLayout TMainForm::Displays() const {
    TDisplayLayout layout;
    const int count = SDL_GetNumVideoDisplays();
    for (int i = 0; i < count; ++i) {
        SDL_Rect r{};
        if (SDL_GetDisplayBounds(i, &r) == 0) layout.monitors.push_back({r.x, r.y, r.x + r.w, r.y + r.h});
    }
    layout.primary = 0;
    layout.desktop = TScreen::Instance().DesktopRect();
    return layout;
}

TFrameSize TMainForm::FrameSize(TWindowFrame frame) const {
    if (frame == TWindowFrame::None) return {};
    int top = 0, left = 0, bottom = 0, right = 0;
    // Known only while the window is shown with its frame (and a window manager draws one).
    if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) != 0) return {};
    return {left, top, right, bottom};
}

void TMainForm::Place(const TWindowPlacement& placement) {
    if (!placement.fullScreen && (SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN))
        SDL_SetWindowFullscreen(window_, 0);
    SDL_SetWindowBordered(window_, placement.frame == TWindowFrame::None ? SDL_FALSE : SDL_TRUE);
    SDL_SetWindowResizable(window_, placement.frame == TWindowFrame::Resizable ? SDL_TRUE : SDL_FALSE);
    SDL_SetWindowSize(window_, placement.clientWidth, placement.clientHeight);
    SDL_SetWindowPosition(window_, placement.clientOrigin.x, placement.clientOrigin.y);
    lastDisplay_ = SDL_GetWindowDisplayIndex(window_);
}

bool TMainForm::Visible() const {
    return (SDL_GetWindowFlags(window_) & SDL_WINDOW_SHOWN) != 0;
}

void TMainForm::MakeVisible() {
    SDL_ShowWindow(window_);
    SDL_RaiseWindow(window_);
}

// --- TShowFiles ---

bool TMainForm::FileExists(const std::string& name) const {
    return DiskFileExists(name);
}

std::optional<std::string> TMainForm::PackageVersion(const std::string& packageFile) const {
    std::string version;
    if (!kiv::PackageVersion(packageFile, version)) return std::nullopt;
    return version;
}

std::string TMainForm::AliasExecutable() const {
    return ShowAlias().executableAlias;
}

std::string TMainForm::AliasFile() const {
    return ShowAlias().realFile;
}

// --- Events ---

TPoint TMainForm::ClientSize() const {
    int w = 0, h = 0;
    SDL_GetWindowSize(window_, &w, &h);
    return {w, h};
}

TPoint TMainForm::CursorPosition() const {
    int x = 0, y = 0;
    SDL_GetMouseState(&x, &y);
    return {x, y};
}

void TMainForm::UpdateCursorTimer() {
    if (mouse_.TimerWanted() && !timer_) {
        timer_ = SDL_AddTimer(TMouseMonitor::kTimerMs, PushTick,
                              reinterpret_cast<void*>(static_cast<std::uintptr_t>(formEvent_)));
    } else if (!mouse_.TimerWanted() && timer_) {
        SDL_RemoveTimer(timer_);
        timer_ = 0;
    }
}

void TMainForm::UpdateDeviceBounds() {
    if (!device_) return;
    int x = 0, y = 0;
    SDL_GetWindowPosition(window_, &x, &y);
    const TPoint size = ClientSize();
    device_->SetBounds({0, 0, size.x, size.y}, {x, y}, device_->FullScreen());
    const int display = SDL_GetWindowDisplayIndex(window_);
    if (display != lastDisplay_) {
        TLog::Line("Main window: now on display " + std::to_string(display + 1));
        lastDisplay_ = display;
    }
}

void TMainForm::HandleEvent(const SDL_Event& event) {
    if (event.type == formEvent_) {
        if (event.user.code == kEventClose) {
            RunCloseHandler();
        } else if (event.user.code == kEventTick) {
            mouse_.Tick(CursorPosition(), ClientSize());
            UpdateCursorTimer();
            UpdateIdlePointer(false);
        } else if (event.user.code == kEventAskRead) {
            while (const std::optional<TOutsideReadQuestion> question = TakeOutsideReadQuestion())
                AnswerOutsideRead(question->showFolder, dialogs_->AskToRead(question->path));
        }
        return;
    }
    if (dialogs_ && dialogs_->HandleEvent(event)) return;
    switch (event.type) {
    case SDL_WINDOWEVENT:
        if (event.window.windowID == windowId_) WindowEvent(event);
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (event.key.windowID == windowId_) KeyEvent(event);
        break;
    case SDL_MOUSEMOTION:
        if (event.motion.windowID == windowId_) MouseMoved(event.motion.x, event.motion.y);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (event.button.windowID == windowId_) MouseButtonEvent(event);
        break;
    case SDL_MOUSEWHEEL:
        if (event.wheel.windowID == windowId_) {
            const int direction = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
            input_.WheelEvent(SdlKeyModifiers(static_cast<std::uint16_t>(SDL_GetModState())),
                              event.wheel.y * direction * 120);
        }
        break;
    default:
        break;
    }
}

void TMainForm::WindowEvent(const SDL_Event& event) {
    if (device_) device_->HandleEvent(event);
    switch (event.window.event) {
    case SDL_WINDOWEVENT_CLOSE:
        Close();
        break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_MOVED:
    case SDL_WINDOWEVENT_DISPLAY_CHANGED:
        UpdateDeviceBounds();
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        if (device_ && device_->OnRefresh) device_->OnRefresh();
        break;
    case SDL_WINDOWEVENT_ENTER:
    case SDL_WINDOWEVENT_LEAVE:
        mouse_.Tick(CursorPosition(), ClientSize());
        UpdateCursorTimer();
        break;
    default:
        break;
    }
}

bool TMainForm::FullScreenLocked() const {
    const TInputMappingClass* mapping = input_.Mapping();
    return state_.startupMode || !viewer_ || !viewer_->HasEngine() || (mapping && mapping->ScreenSaver());
}

void TMainForm::ToggleFullScreen() {
    if (FullScreenLocked()) return;
    viewer_->ToggleFullScreen();
}

void TMainForm::UpdateIdlePointer(bool moved) {
    const std::int64_t now = ProcessMilliseconds();
    if (moved) {
        lastPointerMove_ = now;
        if (idlePointerHidden_) {
            idlePointerHidden_ = false;
            if (!mouse_.Hidden()) SDL_ShowCursor(SDL_ENABLE);
        }
        return;
    }
    // Only the picture hides it: not over the navigation panel, nor once it left the window.
    if (idlePointerHidden_ || mouse_.Hidden() || !mouse_.Inside() || viewer_->PointerOverNavPanel()) return;
    if (now - lastPointerMove_ < kIdlePointerMs) return;
    idlePointerHidden_ = true;
    SDL_ShowCursor(SDL_DISABLE);
}

void TMainForm::KeyEvent(const SDL_Event& event) {
    const int key = SdlKeyToVirtualKey(event.key.keysym.sym, event.key.keysym.scancode);
    if (key == 0) return;
    const int modifiers = SdlKeyModifiers(event.key.keysym.mod);
    if (key == vk::F11 && (modifiers & (kModShift | kModAlt | kModCtrl)) == 0 && !FullScreenLocked()) {
        if (event.type == SDL_KEYDOWN && !event.key.repeat) ToggleFullScreen();
        return;
    }
    input_.KeyEvent(modifiers, key, event.type == SDL_KEYDOWN ? kKeyDown : kKeyUp);
}

void TMainForm::MouseMoved(int x, int y) {
    mouse_.CursorMoved({x, y}, ClientSize());
    UpdateCursorTimer();
    UpdateIdlePointer(true);
    const int modifiers = SdlKeyModifiers(static_cast<std::uint16_t>(SDL_GetModState())) |
                          SdlMouseButtons(SDL_GetMouseState(nullptr, nullptr));
    input_.MouseEvent(modifiers, x, y, TWindowMouseEvent::Move, TMouseButton::None);
}

void TMainForm::MouseButtonEvent(const SDL_Event& event) {
    TMouseButton button = TMouseButton::None;
    switch (event.button.button) {
    case SDL_BUTTON_LEFT:
        button = TMouseButton::Left;
        break;
    case SDL_BUTTON_RIGHT:
        button = TMouseButton::Right;
        break;
    case SDL_BUTTON_MIDDLE:
        button = TMouseButton::Middle;
        break;
    default:
        return;
    }
    const bool down = event.type == SDL_MOUSEBUTTONDOWN;
    TWindowMouseEvent kind = down ? TWindowMouseEvent::ButtonDown : TWindowMouseEvent::ButtonUp;
    if (down && event.button.clicks == 2) kind = TWindowMouseEvent::DoubleClick;
    // SDL's button state already holds the pressed button on a press and no longer the released
    // one on a release.
    const int modifiers = SdlKeyModifiers(static_cast<std::uint16_t>(SDL_GetModState())) |
                          SdlMouseButtons(SDL_GetMouseState(nullptr, nullptr));
    input_.MouseEvent(modifiers, event.button.x, event.button.y, kind, button);
    // A double-click on the picture toggles full screen where the show gives it no meaning of
    // its own: no double-click action, and nothing clickable under the pointer.
    if (kind == TWindowMouseEvent::DoubleClick && button == TMouseButton::Left && !FullScreenLocked()) {
        const TInputMappingClass* mapping = input_.Mapping();
        viewer_->SendPollCursor();
        const bool overObject = viewer_->PointerOverAction() || viewer_->PointerOverNavPanel() ||
                                viewer_->Engine()->Hover().overAction;
        if (mapping && mapping->DoubleClick().IsNone() && !overObject) ToggleFullScreen();
    }
}

} // namespace kiv

// TMainForm: the player's main window. It owns the SDL window the show plays in, the show viewer
// with its engine, the input handling (keys, mouse, wheel through the show's input mapping), the
// actions, the close decision and the mouse cursor. It opens shows (the first one when it is
// created, later ones for the presentation actions), and its close path stops the engine with its
// loader and music threads before the message loop ends.
//
// SDL events of the window reach it through the application's native event handler; everything
// runs on the main thread.
#pragma once

#include "framework/CommandLine.h"
#include "viewer/ActionPerformer.h"
#include "viewer/CloseHandler.h"
#include "viewer/InputHandler.h"
#include "viewer/MainWindowActions.h"
#include "viewer/MouseMonitor.h"
#include "viewer/ProgramConsent.h"
#include "viewer/ProgramRunner.h"
#include "viewer/ShowSwitcher.h"
#include "viewer/ShowViewer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct SDL_Window;
union SDL_Event;

namespace kiv {

class TZkApplication;
class TWinDevice;
class TShowDialogs;
class TSourceSlideTimes;

class TMainForm final : public TMainWindowActions, public TViewerWindow, public TShowFiles {
public:
    static constexpr std::int64_t kIdlePointerMs = 2000;

    // Makes the (hidden) window. Raises Exception when no window can be made (no display, no GL).
    // `engineFactory` makes the engine on the window's device.
    TMainForm(TZkApplication& application, const TCommandLine& commandLine, std::string programPath,
              TKivShowViewer::TEngineFactory engineFactory);
    ~TMainForm() override;

    // Opens the first show and starts it. False when it failed (the reason was shown); the caller
    // then ends the message loop.
    bool OpenFirstShow(const std::string& name, bool asPackage, bool timeGiven, int position);

    // Called after every successful open with what the open found (the first show's summary).
    std::function<void(const struct TOpenShowResult&)> OnShowOpened;
    // True when the last failed open showed its reason in the error box (not a silent failure).
    bool LastOpenFailedWithMessage() const { return lastOpenFailedWithMessage_; }

    // The application's native event handler.
    void HandleEvent(const SDL_Event& event);

    // Performs an action as a key bound to it would (remote control).
    bool PerformAction(const TKivActionInfo& action) { return performer_.Perform(action); }

    SDL_Window* Window() const { return window_; }
    TKivShowViewer& Viewer() { return *viewer_; }

    // --- TMainWindowActions ---
    TShellState& State() override { return state_; }
    TEngineLink& Engine() override { return *viewer_; }
    bool HasViewer() const override { return viewer_.Get() != nullptr; }
    bool ShowRunning() const override;
    double CurrentTime() const override { return viewer_->CurrentTime(); }
    bool Paused() const override { return viewer_->Paused(); }
    const TSlideTimes* SlideTimes() const override;
    const TIniFile* Project() const override;
    bool CursorShown() const override { return !mouse_.Hidden(); }
    void Close() override;
    void SetExitCode(int code) override;
    void ShowCaptionInactive() override {}
    bool TopMost() const override { return topMost_; }
    void SetTopMost(bool topMost) override;
    void ShowMessageBox(const std::string& caption, const std::string& text) override;
    void ShowErrorBox(const std::string& text) override;
    bool OpenShow(const std::string& name, bool asPackage, bool timeGiven, bool checkPassword,
                  int position) override;
    TCurrentShow CurrentShow() const override { return current_; }

    // --- TViewerWindow ---
    TRef<TDrawDevice> CreateDevice() override;
    TDisplayLayout Displays() const override;
    TFrameSize FrameSize(TWindowFrame frame) const override;
    void Place(const TWindowPlacement& placement) override;
    bool Visible() const override;
    void MakeVisible() override;

    // --- TShowFiles ---
    bool FileExists(const std::string& name) const override;
    std::optional<std::string> PackageVersion(const std::string& packageFile) const override;
    std::string AliasExecutable() const override;
    std::string AliasFile() const override;

private:
    void RunCloseHandler();
    void ShowEnded(bool ended);
    void WindowEvent(const SDL_Event& event);
    void KeyEvent(const SDL_Event& event);
    void MouseButtonEvent(const SDL_Event& event);
    void MouseMoved(int x, int y);
    void UpdateDeviceBounds();
    void UpdateCursorTimer();
    // F11 and a double-click on the picture: full screen on or off, unless the show keeps its
    // mode (screen saver, startup mode) or binds the double-click itself.
    bool FullScreenLocked() const;
    void ToggleFullScreen();
    // The pointer hides after it rested kIdlePointerMs over the picture, and shows on movement.
    void UpdateIdlePointer(bool moved);
    TPoint ClientSize() const;
    TPoint CursorPosition() const;

    TZkApplication& application_;
    const TCommandLine& commandLine_;
    std::string programPath_;
    SDL_Window* window_ = nullptr;
    std::uint32_t windowId_ = 0;
    std::uint32_t formEvent_ = 0; // the window's own SDL event type (close request, timer tick)
    int timer_ = 0;
    TShellState state_;
    TCurrentShow current_;
    bool topMost_ = false;
    bool wheelEnabled_ = true;
    int lastDisplay_ = -1;
    std::int64_t lastPointerMove_ = 0;
    bool idlePointerHidden_ = false;
    bool lastOpenFailedWithMessage_ = false;
    TWinDevice* device_ = nullptr; // the viewer's device, while it exists
    TRef<TKivShowViewer> viewer_;
    std::unique_ptr<TSourceSlideTimes> slideTimes_;
    TMouseMonitor mouse_;
    TProgramConsent consent_;
    TProgramRunner runner_;
    TShowSwitcher switcher_;
    TActionPerformer performer_;
    TInputHandler input_;
    TCloseHandler closer_;
    std::unique_ptr<TShowDialogs> dialogs_; // password and print dialogs
};

} // namespace kiv

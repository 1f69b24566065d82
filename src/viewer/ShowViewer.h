// TKivShowViewer: sits between the main window and the playback engine. With the first show it
// creates the window's draw device and the engine on it; afterwards it only posts messages to the
// engine thread (open, seek, pause, mouse, help, close dialog, print) and turns the engine's
// notifications back into main-window work: actions to perform, pictures to print, and the show
// window's mode, size and place. It implements the main window's engine link (EngineLink.h).
//
// The engine and the window are reached through two small interfaces (TViewerEngine, TViewerWindow)
// so that the viewer's rules can be checked without a display or a running engine. Every call is
// made on the main thread; the engine's notifications arrive there too, so the viewer needs no
// locks.
#pragma once

#include "base/RefObject.h"
#include "render/DrawDevice.h"
#include "viewer/EngineLink.h"
#include "viewer/ShowViewerModes.h"

#include <functional>
#include <string>
#include <vector>

namespace kiv {

class TFileAccessor;
class TIniFile;

// Window modes of notification 17.
inline constexpr int kModeFullScreen = 0;
inline constexpr int kModeFramed = 1;
inline constexpr int kModeFrameless = 2;

// A notification from the engine as the viewer sees it.
struct TViewerNotification {
    // The codes the viewer handles.
    static constexpr int kAction = 12;
    static constexpr int kPicture = 14;
    static constexpr int kWindowMode = 17;

    int code = 0;
    std::vector<int> ints;
    std::string text;       // the action text (code 12)
    TRef<TRefObject> value; // the captured picture (code 14)
};

// What lies under the pointer, as the engine last found it.
struct TViewerHover {
    bool overAction = false;
    std::string className;
};

// The viewer's view of the playback engine. The engine's own callbacks come back through the
// three handlers, on the main thread.
class TViewerEngine : public TRefObject {
public:
    std::function<void()> OnFirstFrame;
    std::function<void(double timeMs, bool ended, double durationMs)> OnPosition;
    std::function<void(const TViewerNotification&)> OnNotification;

    virtual bool Running() const = 0;
    virtual void SetActionsEnabled(bool enabled) = 0;
    // The number of the next open or seek; position reports for older numbers are dropped.
    virtual int NextRequestId() = 0;
    // Opens the show directly (thread not running yet), then Start runs the thread.
    virtual void OpenShow(TRef<TFileAccessor> accessor, TRef<TIniFile> project, double timeMs) = 0;
    virtual void Start() = 0;
    // Stops the thread and, with it, the loader and the music threads. Returns when they ended.
    virtual void Stop() = 0;

    // Messages to the engine thread.
    virtual void PostOpen(int requestId, TRef<TFileAccessor> accessor, TRef<TIniFile> project,
                          double timeMs) = 0; // 102 (a seek without accessor)
    virtual void PostPaused(bool paused) = 0; // 103
    virtual void PostMouse(const TMouseInput& input, const TKivActionInfo& action) = 0; // 11
    virtual void PostPrint() = 0;                                                       // 13
    virtual void PostCloseDialog() = 0;                                                 // 15
    virtual void PostHelp() = 0;                                                        // 16

    // The state the engine publishes for the main thread.
    virtual bool Holding() const = 0;
    virtual void ClearHold() = 0;
    virtual bool DialogOpen() const = 0;
    virtual TViewerHover Hover() const = 0;

protected:
    ~TViewerEngine() override = default;
};

// What the viewer needs of the main window.
class TViewerWindow {
public:
    virtual ~TViewerWindow() = default;
    // The draw device of the window's client area (the window's device on screen).
    virtual TRef<TDrawDevice> CreateDevice() = 0;
    virtual TDisplayLayout Displays() const = 0;
    // What the system's frame adds around the client area of a window with that frame.
    virtual TFrameSize FrameSize(TWindowFrame frame) const = 0;
    // Gives the window its frame, place and size (full screen when the placement says so).
    virtual void Place(const TWindowPlacement& placement) = 0;
    virtual bool Visible() const = 0;
    virtual void MakeVisible() = 0;
};

class TKivShowViewer : public TRefObject, public TEngineLink {
public:
    using TEngineFactory = std::function<TRef<TViewerEngine>(TDrawDevice& device)>;

    // The window is required (none is an assertion failure). The engine is made by `factory` on
    // the device the window creates, with the first show.
    TKivShowViewer(TViewerWindow* window, TDisplaySwitches switches, TEngineFactory factory);

    // Main-window callbacks: the show's end (its ended flag), an action to perform, a picture to
    // print.
    std::function<void(bool ended)> OnShowEnd;
    std::function<void(const TKivActionInfo& action)> OnAction;
    std::function<void(TRef<TRefObject> picture)> OnPrint;

    void SetActionsEnabled(bool enabled);
    // Hands a show to the engine (the engine gets its own accessor and project copies).
    void Open(const TFileAccessor& accessor, const TIniFile& project, double startTime);
    void SetPaused(bool paused);
    // Negative times are ignored.
    void Seek(double time);
    void GoTo(double time, bool paused);
    void MouseEvent(const TMouseInput& input, const TKivActionInfo& action = {});
    void Help();
    void CloseDialog();
    void Print();
    // Stops the engine and its threads (the close path). The engine object stays until the viewer
    // goes; calls after this post nothing.
    void StopEngine();

    bool HasEngine() const { return engine_.Get() != nullptr; }
    bool EngineRunning() const { return engine_ && engine_->Running(); }
    bool Paused() const { return paused_; }
    double CurrentTime() const { return currentTime_; }
    double Duration() const { return duration_; }
    TDrawDevice* Device() const { return device_.Get(); }
    TViewerEngine* Engine() const { return engine_.Get(); }
    // The last placement applied (notification 17).
    const TWindowPlacement& Placement() const { return placement_; }

    // Notification 17: the window's mode and size, as the show asks for it (the switches
    // "fullscreen" and "window" may override the mode).
    void ApplyWindowMode(int width, int height, int mode);
    // Full screen on or off at the user's request: full screen on the target area, or back to the
    // show's window (a framed window of the show's size when the show itself plays full screen).
    void ToggleFullScreen();
    bool FullScreen() const { return placement_.fullScreen; }

    // --- TEngineLink ---
    void PostSeek(double time) override { Seek(time); }
    void PostPaused(bool paused) override { SetPaused(paused); }
    void PostPrint() override { Print(); }
    void PostCloseTopDialog() override { CloseDialog(); }
    void PostAction(const TKivActionInfo& action) override;
    void PostMouse(const TMouseInput& input, const TKivActionInfo& action) override {
        MouseEvent(input, action);
    }
    bool SendHolding() override;
    void SendClearHold() override;
    bool SendDialogOpen() override;
    void SendPollCursor() override;
    // The pointer's state as the last poll found it: over an object with an action (not a
    // button), and over the navigation panel.
    bool PointerOverAction() const { return pointerOverAction_; }
    bool PointerOverNavPanel() const { return pointerOverNavPanel_; }

protected:
    ~TKivShowViewer() override;

private:
    void CreateEngine(const TIniFile& project);
    void HandleNotification(const TViewerNotification& notification);
    // Places the window and tells the device, whatever asked for the mode.
    void PlaceWindow(int width, int height, int mode);

    TViewerWindow* window_;
    TDisplaySwitches switches_;
    TEngineFactory factory_;
    TRef<TDrawDevice> device_;
    TRef<TViewerEngine> engine_;
    bool stopped_ = false;
    bool paused_ = true;
    bool actionsEnabled_ = false;
    double currentTime_ = 0;
    double duration_ = 0;
    bool pointerOverAction_ = false;
    bool pointerOverNavPanel_ = false;
    TWindowPlacement placement_;
    // The show's window when it is not full screen: its size and mode (1 or 2).
    int windowWidth_ = 640;
    int windowHeight_ = 480;
    int windowMode_ = 1;
};

} // namespace kiv

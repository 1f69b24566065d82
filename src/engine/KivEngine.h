// The playback engine: the thread that plays a loaded show. It owns the show clock and decides,
// frame by frame, whether the clock runs; it keeps a slide loader building the slides around the
// current time, takes its time from the music player, draws each frame through the slide drawer on
// the window's draw device, routes mouse events to the overlay and the slides, and reports
// positions, actions and captured images to the main thread.
//
//   TCustomKivEngine  the thread, the request counter and the notifications to the main thread
//   TKivEngine        the show, the clock, the main loop and the messages below
//
// Threads: the viewer creates the engine, calls OpenShow (before Start only), Start, Stop and the
// hover / hold accessors on the main thread; everything else reaches the engine as messages on its
// queue. Notifications come back through the application's cross-thread queue and run the On...
// events on the main thread.
#pragma once

#include "audio/DeviceClock.h"
#include "audio/MusicDevice.h"
#include "base/RefObject.h"
#include "base/Sync.h"
#include "framework/KivThread.h"
#include "framework/Timing.h"
#include "ini/IniFile.h"
#include "package/FileAccessor.h"
#include "project/KivSource.h"
#include "render/RenderTypes.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

class TApplication;
class TBitmap;
class TDrawDevice;
class TKivMusicPlayer;
class TKivSlideLoader;
class TThirdSlide;
class TDrawContainer;
class T3DDrawer;
class TSlideData;
class TFrameInterpolator;
class TKivDrawController;
class TRootItem;
class TDeviceDrawer;
class TSlideProducer;
class TKivSlide;

// --- Messages to the engine (codes of its queue) ---
constexpr int kEngineMouse = 11;       // TMouseData
constexpr int kEngineCapture = 13;     // no payload: capture the current frame (answer: notification 14)
constexpr int kEngineCloseDialog = 15; // no payload: the overlay closes its top dialog
constexpr int kEngineHelp = 16;        // no payload: the overlay shows the "help" dialog
constexpr int kEngineSlideList = 101;  // TSlideData, sent by the slide loader (the loader waits)
constexpr int kEngineOpen = 102;       // TOpenParams: open a show, or move to a time
constexpr int kEngineMode = 103;       // TModeData: the pause state

// --- Notifications from the engine (TKivEventData::code) ---
constexpr int kNotifyFirstFrame = 1; // the first frame after creation or a device re-initialisation
constexpr int kNotifyPosition = 2;   // ints: request id, time ms, duration ms, ended 0/1
constexpr int kNotifyAction = 12;    // ints: action code, value; value: TStrValue (text, only when not empty)
constexpr int kNotifyImage = 14;     // value: the captured TBitmap
constexpr int kNotifyGeometry = 17;  // ints: width, height, window mode (0 full, 1 bordered, 2 borderless)

// An action record as the engine passes it (the viewer's TKivActionInfo crosses as this): code
// (the action kind, 0 = none), value (its number) and text.
struct TEngineAction {
    std::uint8_t code = 0;
    std::int32_t value = 0;
    std::string text;
    friend bool operator==(const TEngineAction&, const TEngineAction&) = default;
};

// Action codes the engine itself looks at.
constexpr std::uint8_t kEngineActionPrev = 2;
constexpr std::uint8_t kEngineActionNext = 3;
constexpr std::uint8_t kEngineActionHelp = 4;
constexpr std::uint8_t kEngineActionGotoSlide = 7;
constexpr std::uint8_t kEngineActionRunApp = 10;
constexpr std::uint8_t kEngineActionRunShow = 12;
constexpr std::uint8_t kEngineActionOpenDialog = 15;
constexpr std::uint8_t kEngineActionCloseDialog = 16;
constexpr std::uint8_t kEngineActionGotoTime = 19;

// A notification to the main thread. `value` is freed with the notification when `ownsValue`.
class TKivEventData final : public TRefObject {
public:
    TKivEventData(int code, std::vector<int> ints, bool ownsValue, TRefObject* value)
        : code(code), ints(std::move(ints)), value(value), ownsValue(ownsValue) {}
    const int code;
    const std::vector<int> ints;
    TRefObject* const value;
    const bool ownsValue;

protected:
    ~TKivEventData() override {
        if (ownsValue && value) value->Release();
    }
};

// A boxed string (the text of an action notification).
class TStrValue final : public TRefObject {
public:
    explicit TStrValue(std::string text) : text(std::move(text)) {}
    const std::string text;

protected:
    ~TStrValue() override = default;
};

// Message 102: open a show (accessor and INI set) or move to a time (both none).
class TOpenParams final : public TRefObject {
public:
    TOpenParams() = default;
    TOpenParams(bool paused, int requestId, TRef<TFileAccessor> accessor, TRef<TIniFile> ini, int timeMs)
        : paused(paused), requestId(requestId), accessor(std::move(accessor)), ini(std::move(ini)),
          time(timeMs) {}
    // A copy that takes over accessor and INI from `source` (whose references are cleared).
    static TRef<TOpenParams> TakeOver(TOpenParams& source);
    bool IsOpen() const { return ini != nullptr; }

    bool paused = false;
    int requestId = 0;
    TRef<TFileAccessor> accessor;
    TRef<TIniFile> ini;
    int time = 0; // ms

protected:
    ~TOpenParams() override = default;
};

// Message 103.
class TModeData final : public TRefObject {
public:
    explicit TModeData(bool paused) : paused(paused) {}
    const bool paused;

protected:
    ~TModeData() override = default;
};

// Message 11: a mouse event of the show window, with the input-mapping action bound to it (code 0
// = none). The four integers as the window reports them: button, modifier flags, x, y. Kinds: 0
// move, 1 press, 2 release, 3 other.
class TMouseData final : public TRefObject {
public:
    TMouseData() = default;
    TMouseData(std::uint8_t kind, int button, int shift, int x, int y, TEngineAction action = {})
        : kind(kind), button(button), shift(shift), x(x), y(y), action(std::move(action)) {}
    std::uint8_t kind = 0;
    int button = 0;
    int shift = 0;
    int x = 0;
    int y = 0;
    TEngineAction action;

protected:
    ~TMouseData() override = default;
};

// How the engine is run. The defaults are the interactive player; headless rendering and tests
// inject a virtual clock and step the engine themselves.
struct TKivEngineSetup {
    // The music player's device clock; none: process milliseconds. Headless stepping gives a
    // virtual clock here, which the music players then run on (see AdvanceClock).
    TRef<IDeviceClock> clock;
    // The sound output of the music players; none plays no sound.
    TRef<TMusicDevice> musicDevice;
    // The program file name handed to the show (".scr" selects screen-saver mode).
    std::string programFileName;
    // The choice of transitions; none: seeded from the clock. Headless rendering fixes a seed so
    // that every run draws the same show.
    TRef<TTransitionRandom> random;
    // The -cover switch: the show covers the window instead of fitting inside it.
    bool cover = false;
    // Headless stepping: no sleeps in the loop, the frame interpolator passes time through, the
    // slide loader runs on the caller's thread until idle before each frame (no loader thread), and
    // every frame is drawn.
    bool stepped = false;
    // The millisecond clock of the frame pacing and the overlay's fades; none: process ms.
    std::function<double()> processClock;
    // Turns the action word of a clicked object ("nextslide") into its record; the viewer gives
    // its parser. None: clicks on objects give no action.
    std::function<TEngineAction(const std::string& word)> parseAction;
    // Headless stepping runs the slide loader until idle in every pass; tests that build the
    // slides one by one turn it off.
    bool runLoaderInline = true;
    // Slides built by the loader are preloaded on the loader's thread (the drawer uploads through
    // a context shared with the device's); off: the engine preloads them when it takes the list.
    bool loaderUploads = true;
    // A measuring aid (scripts/measure-late-frames.sh --prebuilt): before the clock first starts,
    // every slide of the show is built on the engine thread and its pictures loaded and uploaded;
    // the built slides are held until the show closes, so their decoded pictures stay shared with
    // the slides the loader builds. Create also turns it on when the environment variable
    // KIV_PREBUILD_SLIDES is "1".
    bool prebuildSlides = false;
};

class TCustomKivEngine : public TKivThread {
public:
    // Notifications on the main thread. OnPosition gets (time ms, ended, duration ms).
    std::function<void(TCustomKivEngine&)> OnFirstFrame;
    std::function<void(TCustomKivEngine&, int timeMs, bool ended, int durationMs)> OnPosition;
    std::function<void(TCustomKivEngine&, TKivEventData&)> OnEvent;

    // Main thread: the id of the next request (seek or open) the viewer posts.
    int NextRequestId();
    int RequestCounter() const { return requestCounter_.load(); }
    int MessageId() const { return messageId_; }

    // Builds a notification and posts it to the main thread; returns at once. Any thread.
    void Notify(int code, std::vector<int> ints, bool ownsValue = false, TRefObject* value = nullptr);

protected:
    explicit TCustomKivEngine(TApplication* application);
    ~TCustomKivEngine() override;
    // Unsubscribes from the application (destruction does it too); idempotent.
    void Unsubscribe();

private:
    void HandleNotification(TRefObject* sender, int event, TRefObject* data);

    TApplication* application_;
    int messageId_ = 0;
    bool subscribed_ = false;
    std::atomic<int> requestCounter_{0};
};

class TKivEngine final : public TCustomKivEngine {
public:
    // Pause after creation; inactive; volume 1.0; the interpolator, the draw controller bound to
    // `device` and the root item (border filling on) are made. The thread does not run yet.
    static TRef<TKivEngine> Create(TDrawDevice* device, bool ownsDevice, TKivEngineSetup setup = {},
                                   TApplication* application = nullptr);

    // Opens a show at `timeMs`. Call only before Start (afterwards post message 102). The INI must
    // be present (assertion).
    void OpenShow(TRef<TFileAccessor> accessor, TRef<TIniFile> ini, double timeMs);

    bool Start() override;
    // Closes the queue, ends the thread and stops the slide loader and the music player. Any number
    // of calls; the second one returns at once.
    void Stop() override;

    // --- Shared with the main thread ---
    bool Holding() const { return hold_.load(); }
    void ClearHold() { hold_.store(false); }
    // True while the overlay shows a dialog, as of the engine's last pass.
    bool DialogOpen() const { return dialogOpen_.load(); }
    struct THover {
        bool overAction = false;
        std::string className; // "NavPanel" while the navigation panel holds the mouse
    };
    THover Hover() const;
    void SetActionsEnabled(bool enabled) { actionsEnabled_.store(enabled); }
    bool ActionsEnabled() const { return actionsEnabled_.load(); }

    // --- Headless stepping (setup.stepped) ---
    // One pass of the main loop on the caller's thread (which then owns the queue and the GL
    // context); the engine thread must not run.
    void StepOnce();
    // Runs the slide loader on the caller's thread until it builds nothing more.
    void RunLoaderUntilIdle();
    // Moves the virtual clock `ms` forward, running the music player's steps it passes.
    void AdvanceClock(double ms);

    // --- State, for the headless driver and tests (engine thread, or while it does not run) ---
    bool Paused() const { return paused_; }
    bool Active() const { return active_.load(); }
    double CurrentTime() const;
    double GetTime();
    int SlideCount() const { return slideCount_; }
    const TDrawContainer* Slide(int i) const;
    const TRootItem& Root() const { return *root_; }
    TKivDrawController& DrawController() { return *controller_; }
    TKivSource* Show() const { return show_.Get(); }
    TKivMusicPlayer* MusicPlayer() const { return player_.Get(); }
    TKivSlideLoader* Loader() const { return loader_.Get(); }
    TThirdSlide* Overlay() const { return overlay_.Get(); }
    int AppliedRequestId() const { return requestId_; }
    bool EndReported() const { return endReported_; }
    int FramesDrawn() const { return framesDrawn_; }
    // Whether the last pass of the loop drew a frame.
    bool DrewLastPass() const { return drewThisPass_; }
    // Device re-initialisations the loop has handled.
    int Reinits() const { return reinits_; }
    int LateFrames() const { return lateFrames_; }
    // Slides built ahead by setup.prebuildSlides.
    int PrebuiltSlides() const { return static_cast<int>(prebuilt_.size()); }
    struct TBarrier {
        bool active = false;
        std::int32_t index = 0;
        double time = 0;
        double loopLength = 0;
    };
    const TBarrier& Barrier() const { return barrier_; }
    struct TRunApp {
        std::int32_t index = 2147483646;
        double time = 3.4e38;
        std::string program;
    };
    const TRunApp& RunApp() const { return runApp_; }
    bool OverlayEnabled() const { return overlayEnabled_; }
    // Headless frames without the logo and navigation bar (kivtool frame --no-overlay).
    void SetOverlayEnabled(bool on) { overlayEnabled_ = on; }

    // The frame at the current time as a picture (message 13 uses it); none on failure.
    TRef<TBitmap> RenderToImage();

protected:
    ~TKivEngine() override;
    bool HandleEvent(int code, TRefObject* data) override;
    void OnStart() override;
    void OnStop() override;
    void Step() override;

private:
    TKivEngine(TDrawDevice* device, bool ownsDevice, TKivEngineSetup setup, TApplication* application);

    void MainLoop();
    // setup.prebuildSlides: builds every slide of the show and uploads its pictures.
    void PrebuildSlides();
    void ProcessAsyncOpen();
    void OpenInt(TRef<TKivSource> show, bool reopen, double timeMs);
    void StopLoader(bool freeLoader, bool freePlayer);
    void SetActive(bool on);
    bool SlidesReady() const;
    bool SlidesReadyForDraw() const;
    bool IsMusicReady();
    void FindBarrier(double fromMs);
    void FindRunApp(double fromMs);
    bool CheckShowEnd();
    void DrawFrame(bool forced);
    bool SelectLayers();
    bool HitTest(const TMouseData& mouse);
    bool DispatchAction(const TEngineAction& action);
    // A custom transition's filter made ahead of its first frame, where slides are preloaded.
    void PrepareTransition(TDrawContainer& container, T3DDrawer& drawer);
    void SlideBuilt(TDrawContainer& container);
    void HandleMouseMessage(const TMouseData& mouse);
    void HandleSlideList(const TSlideData& data);
    void HandleOpenMessage(TOpenParams& params);
    void HandleModeMessage(const TModeData& mode);
    void CreateOverlay();
    void ReplacePlayer();
    TRef<TKivMusicPlayer> NewPlayer(TKivSource& show);
    double ShowDuration() const;
    bool Repeats() const;
    void SetHover(bool over, std::string className);
    double ProcessMs() const;
    void Pause(int ms);
    // The current show time, mirrored into the loader's timing.
    void SetCurrent(double t);
    void WaitForPlayer();
    void PrepareRoot();
    TPoint CaptureSize() const;
    TEngineAction ParseAction(const std::string& word) const;

    TKivEngineSetup setup_;
    TRef<TKivSource> show_;
    bool ownsShow_ = false;
    bool paused_ = true;
    std::atomic<bool> active_{false};
    double current_ = 0;
    std::atomic<bool> hold_{false};
    std::atomic<bool> dialogOpen_{false};
    double timeBase_ = 0;
    std::unique_ptr<TFrameInterpolator> interpolator_;
    TRef<TOpenParams> pending_;
    TRef<TOpenParams> applying_;
    int requestId_ = 0;
    std::unique_ptr<TKivDrawController> controller_;
    TRef<TRootItem> root_;
    TRef<TKivMusicPlayer> player_;
    bool playerKeepsOldShow_ = false;
    TRef<TKivSource> playerOldShow_;
    TRef<TThirdSlide> overlay_;
    std::unique_ptr<TSlideProducer> dialogProducer_;
    TRef<TKivSlideLoader> loader_;
    TRef<TDrawContainer> slides_[3];
    int slideCount_ = 0;
    bool firstFrameReported_ = false;
    bool endReported_ = false;
    int lastReported_ = -2147483647;
    TRef<TMouseData> lastMouse_;
    TBarrier barrier_;
    TRunApp runApp_;
    float volume_ = 1.0f;
    double frameMark_ = 0;
    std::atomic<bool> actionsEnabled_{true};
    mutable TSafeCriticalSection hoverLock_;
    THover hover_;
    bool stopped_ = false;
    bool overlayEnabled_ = true;
    int framesDrawn_ = 0;
    int lateFrames_ = 0;
    std::vector<TRef<TKivSlide>> prebuilt_; // setup.prebuildSlides
    int reinits_ = 0;
    bool drewThisPass_ = false;
};

} // namespace kiv

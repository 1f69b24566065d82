// Headless playback: the engine plays a show without a window or sound card, stepped by a virtual
// clock, and every frame is read back. Frame k (0, 1, …) shows the time FROM + k × 1000 / FPS ms;
// before each frame the slide loader is run until idle, so no frame is drawn with a slide missing,
// and the result is the same on every machine. Used by `kivviewer SHOW -render OUT` and
// `kivtool frame`.
//
// Threads: everything runs on the caller's thread (which holds the headless GL context); the
// music player keeps its own threads, waited for at every step.
#pragma once

#include "audio/DeviceClock.h"
#include "engine/KivEngine.h"
#include "images/Bitmap.h"
#include "ini/IniFile.h"
#include "package/FileAccessor.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace kiv {

class TZkApplication;
class T3DEngineGL;
class TDrawDevice;

struct THeadlessOptions {
    int width = 1280;
    int height = 720;
    double fps = 25;
    double fromMs = 0;
    // The end (excluded); negative: the end of one pass of the show.
    double toMs = -1;
    bool overlay = true;
    // Barriers and programs of the show's slides (off for rendering: every frame shows its time).
    bool actionsEnabled = false;
    // Turns the action words of clicked objects into action records (none: clicks give none).
    std::function<TEngineAction(const std::string& word)> parseAction;
    // The loader runs until idle before each frame (tests that build slides one by one: off).
    bool runLoaderInline = true;
    std::string programFileName = "kivviewer";
    // The seed of the transitions' choice: the same seed, the same frames.
    std::uint64_t seed = 1;
};

// "WxH" with both sides from 1 to 8192.
bool ParseFrameSize(const std::string& text, int& width, int& height);

class THeadlessPlayer {
public:
    // Makes the application object when there is none, a headless GL engine with one monitor of
    // the frame's size, a draw device without a window and a stepped engine with a virtual clock,
    // and opens the show at FROM. Raises Exception when the show cannot be opened.
    THeadlessPlayer(TRef<TFileAccessor> accessor, TRef<TIniFile> ini, const THeadlessOptions& options);
    ~THeadlessPlayer();
    THeadlessPlayer(const THeadlessPlayer&) = delete;
    THeadlessPlayer& operator=(const THeadlessPlayer&) = delete;

    // The number of frames from FROM up to TO (or the show's end).
    int FrameCount() const;
    double FrameTime(int k) const;
    double EndTime() const { return end_; }
    // Brings the engine to frame k's time and draws it (frames go forward: k never below the
    // last one); past the end of a show that does not repeat, its last moment. None when the
    // frame cannot be drawn (no usable GL context, or the engine does not start its clock).
    TRef<TBitmap> RenderFrame(int k);

    TKivEngine& Engine() { return *engine_; }
    TVirtualClock& Clock() { return *clock_; }
    TDrawDevice& Device() { return *device_; }

private:
    THeadlessOptions options_;
    TZkApplication* ownApp_ = nullptr;
    TRef<T3DEngineGL> gl_;
    TRef<TDrawDevice> device_;
    TRef<TVirtualClock> clock_;
    TRef<TKivEngine> engine_;
    double end_ = 0;
    int lastFrame_ = -1;
};

// Renders frames FROM … TO into `folder` as frame-000001.png, …; a progress line on `progress`
// (frames done / total, frames per second). Returns an empty text, or why it failed.
std::string RenderShowToFolder(TRef<TFileAccessor> accessor, TRef<TIniFile> ini,
                               const THeadlessOptions& options, const std::string& folder,
                               std::FILE* progress);

} // namespace kiv

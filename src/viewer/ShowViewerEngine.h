// The show viewer's engine port over the real playback engine (TKivEngine): posts become messages
// on the engine's queue, the engine's notifications come back as the viewer's. Main thread only.
#pragma once

#include "engine/KivEngine.h"
#include "viewer/ShowViewer.h"

#include <cstdint>
#include <functional>

namespace kiv {

// The engine's reading of the action word on a clicked slide object: the input mapping's parser,
// handed to the engine at its creation (the engine ranks below the viewer and cannot call it).
TEngineAction ParseEngineAction(const std::string& word);

class TKivEngineLink final : public TViewerEngine {
public:
    // How long Stop waits for the engine thread to end.
    static constexpr std::int64_t kStopLimitMs = 3000;

    // `pump` handles the main thread's pending events; Stop calls it while the engine thread ends,
    // so that an engine thread waiting for the main thread is never left waiting.
    TKivEngineLink(TRef<TKivEngine> engine, std::function<void()> pump);

    // Run when the engine thread did not end within the stop limit (after the log line). The
    // default ends the process: its temporary folders removed, the log finished, the exit code
    // kept. A thread that hangs must not keep a closed window's process alive.
    std::function<void()> OnStuck;
    void SetStopLimit(std::int64_t limitMs) { stopLimitMs_ = limitMs; }

    TKivEngine& Engine() const { return *engine_; }

    bool Running() const override { return engine_->Running(); }
    void SetActionsEnabled(bool enabled) override { engine_->SetActionsEnabled(enabled); }
    int NextRequestId() override { return engine_->NextRequestId(); }
    void OpenShow(TRef<TFileAccessor> accessor, TRef<TIniFile> project, double timeMs) override;
    void Start() override;
    void Stop() override;
    void PostOpen(int requestId, TRef<TFileAccessor> accessor, TRef<TIniFile> project,
                  double timeMs) override;
    void PostPaused(bool paused) override;
    void PostMouse(const TMouseInput& input, const TKivActionInfo& action) override;
    void PostPrint() override;
    void PostCloseDialog() override;
    void PostHelp() override;
    bool Holding() const override { return engine_->Holding(); }
    void ClearHold() override { engine_->ClearHold(); }
    bool DialogOpen() const override;
    TViewerHover Hover() const override;

protected:
    ~TKivEngineLink() override;

private:
    TRef<TKivEngine> engine_;
    std::function<void()> pump_;
    std::int64_t stopLimitMs_ = kStopLimitMs;
    bool stopped_ = false;
};

} // namespace kiv

// The show viewer's engine port over the real playback engine (TKivEngine): posts become messages
// on the engine's queue, the engine's notifications come back as the viewer's. Main thread only.
#pragma once

#include "engine/KivEngine.h"
#include "viewer/ShowViewer.h"

#include <functional>

namespace kiv {

class TKivEngineLink final : public TViewerEngine {
public:
    // `pump` handles the main thread's pending events; Stop calls it while the engine thread ends,
    // so that an engine thread waiting for the main thread is never left waiting.
    TKivEngineLink(TRef<TKivEngine> engine, std::function<void()> pump);

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
    bool stopped_ = false;
};

} // namespace kiv

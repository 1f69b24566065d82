// A show viewer's engine for tests: records every call as a line ("102 seek #1 4500", "103 run",
// "stop") and answers the state questions from its public fields.
#pragma once

#include "ini/IniFile.h"
#include "package/FileAccessor.h"
#include "viewer/ShowViewer.h"

#include <string>
#include <vector>

namespace kiv::testing {

class TRecordingEngine : public TViewerEngine {
public:
    std::vector<std::string> calls;
    bool running = false;
    bool holding = false;
    bool dialogOpen = false;
    TViewerHover hover;
    int requestCounter = 0;
    TRef<TIniFile> openedProject;
    TRef<TFileAccessor> openedAccessor;

    bool Running() const override { return running; }
    void SetActionsEnabled(bool enabled) override {
        calls.push_back(std::string("actions ") + (enabled ? "on" : "off"));
    }
    int NextRequestId() override { return ++requestCounter; }
    void OpenShow(TRef<TFileAccessor> accessor, TRef<TIniFile> project, double time) override {
        openedAccessor = accessor;
        openedProject = project;
        calls.push_back("open " + std::to_string(static_cast<int>(time)));
    }
    void Start() override {
        running = true;
        calls.push_back("start");
    }
    void Stop() override {
        running = false;
        calls.push_back("stop");
    }
    void PostOpen(int id, TRef<TFileAccessor> accessor, TRef<TIniFile> project, double time) override {
        if (project) openedProject = project;
        calls.push_back(std::string(accessor ? "102 open #" : "102 seek #") + std::to_string(id) + " " +
                        std::to_string(static_cast<int>(time)));
    }
    void PostPaused(bool paused) override {
        calls.push_back(std::string("103 ") + (paused ? "pause" : "run"));
    }
    void PostMouse(const TMouseInput& input, const TKivActionInfo& action) override {
        calls.push_back("11 " + std::to_string(input.x) + "," + std::to_string(input.y) + " action " +
                        std::to_string(action.kind));
    }
    void PostPrint() override { calls.push_back("13"); }
    void PostCloseDialog() override { calls.push_back("15"); }
    void PostHelp() override { calls.push_back("16"); }
    bool Holding() const override { return holding; }
    void ClearHold() override {
        holding = false;
        calls.push_back("clear hold");
    }
    bool DialogOpen() const override { return dialogOpen; }
    TViewerHover Hover() const override { return hover; }
};

} // namespace kiv::testing

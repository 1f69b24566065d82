// A main window for tests, with its engine link in the same object: keeps the show time, pause and
// hold state the actions change and records every call that leaves a trace (seeks, messages,
// opened shows, engine hand-overs); and show files that are all missing.
#pragma once

#include "ini/IniFile.h"
#include "viewer/MainWindowActions.h"
#include "viewer/ShowSwitcher.h"
#include "viewer/SlideNavigation.h"

#include <optional>
#include <string>
#include <vector>

namespace kiv::testing {

// No show files at all: every show a test switches to is missing.
class TNoShowFiles : public TShowFiles {
public:
    bool FileExists(const std::string&) const override { return false; }
    std::optional<std::string> PackageVersion(const std::string&) const override { return std::nullopt; }
    std::string AliasExecutable() const override { return {}; }
    std::string AliasFile() const override { return {}; }
};

class TFakeWindow : public TMainWindowActions, public TEngineLink {
public:
    TShellState state;
    bool hasViewer = true;
    bool showRunning = true;
    double time = 0;
    bool paused = false;
    bool holding = false;
    bool dialogOpen = false;
    bool cursorShown = false;
    bool topMost = false;
    const TSlideTimes* times = nullptr;
    TRef<TIniFile> project = MakeRef<TIniFile>();
    TCurrentShow current;
    // OpenShow's answer.
    bool openSucceeds = true;

    // Traces.
    std::vector<double> seeks;
    int closeRequests = 0;
    std::optional<int> exitCode;
    int prints = 0;
    int holdsCleared = 0;
    int dialogsClosed = 0;
    int captionInactive = 0;
    int cursorPolls = 0;
    std::vector<bool> topMostChanges;
    std::vector<std::string> messages; // "caption|text"
    std::vector<std::string> errors;
    std::vector<TKivActionInfo> engineActions;
    std::vector<std::pair<TMouseInput, TKivActionInfo>> engineMouse;
    struct TOpen {
        std::string name;
        bool asPackage;
        bool timeGiven;
        bool checkPassword;
        int position;
    };
    std::vector<TOpen> opens;

    TShellState& State() override { return state; }
    TEngineLink& Engine() override { return *this; }
    bool HasViewer() const override { return hasViewer; }
    bool ShowRunning() const override { return showRunning; }
    double CurrentTime() const override { return time; }
    bool Paused() const override { return paused; }
    const TSlideTimes* SlideTimes() const override { return times; }
    const TIniFile* Project() const override { return project.Get(); }
    bool CursorShown() const override { return cursorShown; }
    void Close() override { ++closeRequests; }
    void SetExitCode(int code) override { exitCode = code; }
    void ShowCaptionInactive() override { ++captionInactive; }
    bool TopMost() const override { return topMost; }
    void SetTopMost(bool value) override {
        topMost = value;
        topMostChanges.push_back(value);
    }
    void ShowMessageBox(const std::string& caption, const std::string& text) override {
        messages.push_back(caption + "|" + text);
    }
    void ShowErrorBox(const std::string& text) override { errors.push_back(text); }
    bool OpenShow(const std::string& name, bool asPackage, bool timeGiven, bool checkPassword,
                  int position) override {
        opens.push_back({name, asPackage, timeGiven, checkPassword, position});
        if (openSucceeds) paused = true; // the open leaves the show paused until the caller resumes it
        return openSucceeds;
    }
    TCurrentShow CurrentShow() const override { return current; }

    // The engine link.
    void PostSeek(double value) override {
        seeks.push_back(value);
        time = value;
    }
    void PostPaused(bool value) override { paused = value; }
    void PostPrint() override { ++prints; }
    void PostCloseTopDialog() override { ++dialogsClosed; }
    void PostAction(const TKivActionInfo& action) override { engineActions.push_back(action); }
    void PostMouse(const TMouseInput& input, const TKivActionInfo& action) override {
        engineMouse.emplace_back(input, action);
    }
    bool SendHolding() override { return holding; }
    void SendClearHold() override {
        holding = false;
        ++holdsCleared;
    }
    bool SendDialogOpen() override { return dialogOpen; }
    void SendPollCursor() override { ++cursorPolls; }
};

} // namespace kiv::testing

// The main window's own dialogs: the show password asked while a show opens and the print dialog
// for the picture the engine captured. They run modally in their own windows while the
// application's loop keeps delivering the engine's notifications; input meant for the main window
// is dropped meanwhile. Main thread only.
#pragma once

#include "base/RefObject.h"
#include "viewer/dialogs/DialogWindow.h"
#include "viewer/dialogs/PrintDialog.h"

#include <optional>
#include <string>

struct SDL_Window;
union SDL_Event;

namespace kiv {

class TIniFile;
class TMainWindowActions;
class TWinApplication;

class TShowDialogs {
public:
    TShowDialogs(TWinApplication& application, SDL_Window* owner);

    // True when the event was a dialog's (or input the running dialog holds back).
    bool HandleEvent(const SDL_Event& event) { return runner_.HandleEvent(event); }
    std::optional<std::string> AskPassword(const TIniFile& project);
    // The engine's captured picture: runs the print dialog for the open show. A picture that
    // arrives while a dialog is open is dropped.
    void Print(TMainWindowActions& window, TRef<TRefObject> picture);

private:
    TSdlDialogRunner runner_;
    TPrintSettings settings_;
};

} // namespace kiv

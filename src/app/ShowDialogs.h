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
struct TProgramStart;
class TWinApplication;

class TShowDialogs {
public:
    TShowDialogs(TWinApplication& application, SDL_Window* owner);

    // True when the event was a dialog's (or input the running dialog holds back).
    bool HandleEvent(const SDL_Event& event) { return runner_.HandleEvent(event); }
    std::optional<std::string> AskPassword(const TIniFile& project);
    // Whether the open show may start `start` / read `path` from outside its folder. A question
    // that comes while another dialog is open is answered no.
    bool AskToRun(const TProgramStart& start);
    bool AskToRead(const std::string& path);
    // The engine's captured picture: runs the print dialog for the open show. A picture that
    // arrives while a dialog is open is dropped.
    void Print(TMainWindowActions& window, TRef<TRefObject> picture);

private:
    TSdlDialogRunner runner_;
    TPrintSettings settings_;
};

} // namespace kiv

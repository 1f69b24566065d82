#include "app/ShowDialogs.h"

#include "base/Log.h"
#include "framework/Application.h"
#include "images/Bitmap.h"
#include "project/KivShowLocator.h"
#include "project/ShowNames.h"
#include "viewer/ProgramRunner.h"
#include "viewer/dialogs/ConsentDialog.h"
#include "viewer/dialogs/PasswordDialog.h"

#include <SDL.h>

namespace kiv {

TShowDialogs::TShowDialogs(TWinApplication& application, SDL_Window* owner)
    : runner_([&application] {
          // Events go through the application's loop: its own items are delivered, the rest reach
          // the main window's handler, which hands dialog events back to the runner.
          SDL_WaitEventTimeout(nullptr, 100);
          application.ProcessPending();
          return !application.QuitRequested();
      }) {
    runner_.SetOwner(owner);
}

std::optional<std::string> TShowDialogs::AskPassword(const TIniFile& project) {
    return AskShowPassword(runner_, project);
}

bool TShowDialogs::AskToRun(const TProgramStart& start) {
    if (runner_.Running()) {
        TLog::Line("Program question: a dialog is open; not run: " + start.CommandLine());
        return false;
    }
    return AskToRunProgram(runner_, start);
}

bool TShowDialogs::AskToRead(const std::string& path) {
    if (runner_.Running()) return false;
    return AskToReadFile(runner_, path);
}

void TShowDialogs::Print(TMainWindowActions& window, TRef<TRefObject> picture) {
    if (runner_.Running()) {
        TLog::Line("Print: a dialog is open; the picture was dropped");
        return;
    }
    TKivShowLocator* show = CurrentShow();
    if (!show) return;
    PrintCapturedPicture(window, runner_, settings_, show->AccessorRef(), show->ProjectRef(),
                         ShareRef(dynamic_cast<TBitmap*>(picture.Get())));
}

} // namespace kiv

#include "app/ShowDialogs.h"

#include "base/Log.h"
#include "framework/Application.h"
#include "images/Bitmap.h"
#include "project/KivShowLocator.h"
#include "project/ShowNames.h"
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

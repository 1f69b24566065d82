// TKivPasswordDialog: asks for a show's password before the show opens. Its texts come from the
// show's [Main] options so that a show can be translated: caption opt_lng_password_caption
// ("Password required"), label opt_lng_password_label ("Enter password:"), buttons
// opt_lng_button_ok ("OK", the default button) and opt_lng_button_cancel ("Cancel").
#pragma once

#include "viewer/dialogs/Dialog.h"

#include <optional>
#include <string>

namespace kiv {

class TIniFile;

class TKivPasswordDialog final : public TDialog {
public:
    explicit TKivPasswordDialog(const TIniFile& project);
    TDialogEdit& Edit() const { return *edit_; }

private:
    TDialogEdit* edit_;
};

// Runs the dialog: the text typed when it ended with OK, nothing when it was cancelled.
std::optional<std::string> AskShowPassword(TDialogRunner& runner, const TIniFile& project);

// The whole check: passes at once without [Main] opt_usepass; otherwise only when the dialog
// ended with OK and the text is the show's password exactly.
bool CheckShowPassword(TDialogRunner& runner, const TIniFile& project);

} // namespace kiv

#include "viewer/dialogs/PasswordDialog.h"

#include "ini/IniFile.h"
#include "project/ShowOpen.h"

namespace kiv {

TKivPasswordDialog::TKivPasswordDialog(const TIniFile& project)
    : TDialog(project.ReadString("Main", "opt_lng_password_caption", "Password required"), 260, 98) {
    Add(MakeRef<TDialogStatic>(TDialogRect{12, 12, 244, 16},
                               project.ReadString("Main", "opt_lng_password_label", "Enter password:")));
    edit_ = &Add(MakeRef<TDialogEdit>(TDialogRect{12, 32, 236, 21}, true));
    Add(MakeRef<TDialogButton>(TDialogRect{52, 62, 75, 25},
                               project.ReadString("Main", "opt_lng_button_ok", "OK"), kDialogOk, true));
    Add(MakeRef<TDialogButton>(TDialogRect{133, 62, 75, 25},
                               project.ReadString("Main", "opt_lng_button_cancel", "Cancel"), kDialogCancel));
}

std::optional<std::string> AskShowPassword(TDialogRunner& runner, const TIniFile& project) {
    TRef<TKivPasswordDialog> dialog = MakeRef<TKivPasswordDialog>(project);
    if (runner.RunModal(*dialog) != kDialogOk) return std::nullopt;
    return dialog->Edit().Text();
}

bool CheckShowPassword(TDialogRunner& runner, const TIniFile& project) {
    if (!project.ReadBool("Main", "opt_usepass", false)) return true;
    const std::optional<std::string> typed = AskShowPassword(runner, project);
    return typed && PasswordMatches(project, *typed);
}

} // namespace kiv

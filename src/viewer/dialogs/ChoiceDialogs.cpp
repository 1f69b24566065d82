#include "viewer/dialogs/ChoiceDialogs.h"

#include <filesystem>

namespace kiv {

namespace {

// The last part of a path ("/a/b.bmp" -> "b.bmp").
std::string LastPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ConfirmReplace(TDialogRunner& runner, const std::string& path) {
    TRef<TDialog> dialog = MakeRef<TDialog>("Confirm Save As", 300, 90);
    dialog->Add(MakeRef<TDialogStatic>(TDialogRect{12, 12, 276, 32},
                                       LastPart(path) + " already exists.\rDo you want to replace it?"));
    dialog->Add(MakeRef<TDialogButton>(TDialogRect{132, 55, 75, 25}, "Yes", kDialogOk));
    dialog->Add(MakeRef<TDialogButton>(TDialogRect{213, 55, 75, 25}, "No", kDialogCancel, true));
    return runner.RunModal(*dialog) == kDialogOk;
}

} // namespace

std::optional<std::string> AskSaveFileName(TDialogRunner& runner, const std::string& folder,
                                           const std::string& proposed, const std::string& extension) {
    std::string text = folder.empty() ? proposed : (folder.back() == '/' ? folder : folder + "/") + proposed;
    for (;;) {
        TRef<TDialog> dialog = MakeRef<TDialog>("Save As", 420, 104);
        TDialogEdit& name = dialog->Add(MakeRef<TDialogEdit>(TDialogRect{96, 12, 312, 21}, false, text));
        dialog->Add(MakeRef<TDialogStatic>(TDialogRect{12, 15, 80, 16}, "File name:"));
        dialog->Add(MakeRef<TDialogStatic>(TDialogRect{12, 44, 80, 16}, "Save as type:"));
        dialog->Add(MakeRef<TDialogStatic>(TDialogRect{96, 44, 312, 16}, "*." + extension));
        dialog->Add(MakeRef<TDialogButton>(TDialogRect{252, 70, 75, 25}, "Save", kDialogOk, true));
        dialog->Add(MakeRef<TDialogButton>(TDialogRect{333, 70, 75, 25}, "Cancel", kDialogCancel));
        if (runner.RunModal(*dialog) != kDialogOk) return std::nullopt;
        text = name.Text();
        if (text.empty() || text.back() == '/') continue;
        std::string path = text;
        if (extension != "*" && std::filesystem::path(LastPart(path)).extension().empty())
            path += "." + extension;
        std::error_code error;
        if (std::filesystem::exists(path, error) && !ConfirmReplace(runner, path)) continue;
        return path;
    }
}

std::optional<int> ChooseFromList(TDialogRunner& runner, const std::string& caption, const std::string& label,
                                  const std::vector<std::string>& lines, int selected) {
    if (lines.empty()) return std::nullopt;
    TRef<TDialog> dialog = MakeRef<TDialog>(caption, 282, 168);
    dialog->Add(MakeRef<TDialogStatic>(TDialogRect{12, 10, 258, 16}, label));
    TDialogListBox& list = dialog->Add(MakeRef<TDialogListBox>(
        TDialogRect{12, 30, 258, 4 + 6 * TDialogListBox::kRowHeight}, lines, selected));
    dialog->Add(MakeRef<TDialogButton>(TDialogRect{114, 134, 75, 25}, "OK", kDialogOk, true));
    dialog->Add(MakeRef<TDialogButton>(TDialogRect{195, 134, 75, 25}, "Cancel", kDialogCancel));
    if (runner.RunModal(*dialog) != kDialogOk || list.Selected() < 0) return std::nullopt;
    return list.Selected();
}

} // namespace kiv

// TKivPrintDialog: prints the slide that was on screen, or saves its picture to a file. Its texts
// come from the show's [Main] options: caption opt_lng_print_caption ("Print"), the buttons
// opt_lng_print_button5 ("Print"), opt_lng_print_button6 ("Save", only when [Main] CanRestore is
// true), the check box opt_lng_print_button7 ("Only Main Image") and opt_lng_print_label
// ("Change Printer").
//
// Print takes the slide's main picture when the check box is on (else, or when that fails, the
// captured picture) and prints it; the dialog closes in every case. Save writes the main
// picture's file (check box on) or the captured picture as "Slide" + number + ".bmp"; a save that
// fails says why. Change Printer chooses among the CUPS destinations and keeps the dialog open.
#pragma once

#include "viewer/dialogs/Dialog.h"
#include "viewer/dialogs/PictureCallback.h"

#include <string>

namespace kiv {

class TMainWindowActions;

inline constexpr int kPrintCommandChangePrinter = 1000;
inline constexpr int kPrintCommandPrint = 1001;
inline constexpr int kPrintCommandSave = 1002;

// What the print dialog keeps between runs.
struct TPrintSettings {
    // A CUPS destination, empty for the default one, or a file path (see Printer.h).
    std::string destination;
    // Where the save-file dialog proposes to save; empty: $HOME, else the current folder.
    std::string saveFolder;
};

class TKivPrintDialog final : public TDialog {
public:
    // `runner` runs the dialogs it opens and shows its messages.
    TKivPrintDialog(const TIniFile& project, TRef<TCallBackClass> callback, TDialogRunner& runner,
                    TPrintSettings& settings);

    TDialogCheckBox& OnlyMainImage() const { return *onlyMain_; }
    // Null when the show does not allow saving.
    const TDialogButton* SaveButton() const { return save_; }

private:
    void Print();
    void Save();
    void ChangePrinter();

    TRef<TCallBackClass> callback_;
    TDialogRunner& runner_;
    TPrintSettings& settings_;
    TDialogCheckBox* onlyMain_ = nullptr;
    TDialogButton* save_ = nullptr;
};

// Runs the print dialog for the picture the engine captured: the show is paused for the time of
// the dialog (its former pause state comes back afterwards) and the slide is the one at the
// current time, modulo the slide count. `accessor` and `project` are the open show's. Main thread.
void PrintCapturedPicture(TMainWindowActions& window, TDialogRunner& runner, TPrintSettings& settings,
                          TRef<TFileAccessor> accessor, TRef<TIniFile> project, TRef<TBitmap> captured);

} // namespace kiv

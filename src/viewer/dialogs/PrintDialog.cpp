#include "viewer/dialogs/PrintDialog.h"

#include "base/ReplacingFile.h"

#include "base/Log.h"
#include "images/BmpWriter.h"
#include "project/ShowNames.h"
#include "viewer/MainWindowActions.h"
#include "viewer/SlideNavigation.h"
#include "viewer/dialogs/ChoiceDialogs.h"
#include "viewer/dialogs/Printer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace kiv {

namespace {

// The name part of a show's picture name ("C:\Show\img\Beach.JPG" -> "Beach.JPG").
std::string FileNamePart(const std::string& name) {
    const std::size_t cut = name.find_last_of("\\/");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

std::string DefaultSaveFolder() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : ".";
}

// Writes the bytes to a file made anew (beside the name and renamed over it, so a link there is
// replaced, not followed); an empty text, or why it failed.
std::string WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    TReplacingFile file(path);
    if (!file.File()) return file.Error();
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.File()) != bytes.size())
        return "the file could not be written completely";
    if (!file.Commit()) return file.Error();
    return {};
}

} // namespace

TKivPrintDialog::TKivPrintDialog(const TIniFile& project, TRef<TCallBackClass> callback,
                                 TDialogRunner& runner, TPrintSettings& settings)
    : TDialog(project.ReadString("Main", "opt_lng_print_caption", "Print"), 282, 86),
      callback_(std::move(callback)), runner_(runner), settings_(settings) {
    Add(MakeRef<TDialogButton>(TDialogRect{12, 12, 125, 25},
                               project.ReadString("Main", "opt_lng_print_button5", "Print"),
                               kPrintCommandPrint));
    if (project.ReadBool("Main", "CanRestore", false))
        save_ = &Add(MakeRef<TDialogButton>(TDialogRect{145, 12, 125, 25},
                                            project.ReadString("Main", "opt_lng_print_button6", "Save"),
                                            kPrintCommandSave));
    onlyMain_ = &Add(
        MakeRef<TDialogCheckBox>(TDialogRect{145, 49, 125, 25},
                                 project.ReadString("Main", "opt_lng_print_button7", "Only Main Image")));
    Add(MakeRef<TDialogButton>(TDialogRect{12, 49, 125, 25},
                               project.ReadString("Main", "opt_lng_print_label", "Change Printer"),
                               kPrintCommandChangePrinter));
    OnCommand = [this](int command) {
        switch (command) {
        case kPrintCommandPrint:
            Print();
            break;
        case kPrintCommandSave:
            Save();
            break;
        case kPrintCommandChangePrinter:
            ChangePrinter();
            break;
        default:
            End(command);
            break;
        }
    };
}

void TKivPrintDialog::Print() {
    TPrintPicture picture;
    bool found = onlyMain_->Checked() && callback_->Picture(kMainPictureBitmap, picture);
    if (!found) found = callback_->Picture(kCapturedPicture, picture);
    if (found && picture.bitmap && picture.bitmap->Width() > 0 && picture.bitmap->Height() > 0) {
        std::string error;
        if (!PrintPicture(*picture.bitmap, settings_.destination, error)) {
            TLog::Line("Print: " + error);
            runner_.Message(error);
        }
    } else {
        TLog::Line("Print: no picture to print");
    }
    End(kPrintCommandPrint);
}

void TKivPrintDialog::Save() {
    const std::string folder = settings_.saveFolder.empty() ? DefaultSaveFolder() : settings_.saveFolder;
    TPrintPicture picture;
    if (onlyMain_->Checked() && callback_->Picture(kMainPictureFile, picture) && !picture.name.empty()) {
        const std::string proposed = FileNamePart(picture.name);
        const std::string extension = FileExtension(proposed);
        const std::optional<std::string> path =
            AskSaveFileName(runner_, folder, proposed, extension.empty() ? "*" : extension.substr(1));
        // Cancelled: the dialog stays open.
        if (!path) return;
        if (const std::string why = WriteFile(*path, picture.bytes); !why.empty())
            runner_.Message("The picture cannot be saved:\r\"" + *path + "\"\r" + why);
        End(kPrintCommandSave);
        return;
    }
    if (callback_->Picture(kCapturedPicture, picture) && picture.bitmap) {
        const std::string proposed = "Slide" + std::to_string(callback_->SlideIndex() + 1) + ".bmp";
        if (const std::optional<std::string> path = AskSaveFileName(runner_, folder, proposed, "bmp")) {
            std::string why;
            try {
                why = WriteFile(*path, EncodeBmp(*picture.bitmap));
            } catch (const std::exception& error) {
                why = error.what();
            }
            if (!why.empty()) runner_.Message("The picture cannot be saved:\r\"" + *path + "\"\r" + why);
        }
    }
    End(kPrintCommandSave);
}

void TKivPrintDialog::ChangePrinter() {
    std::string error;
    const std::vector<TPrintDestination> destinations = PrintDestinations(error);
    if (destinations.empty()) {
        runner_.Message(error);
        return;
    }
    std::vector<std::string> lines;
    int selected = 0;
    for (std::size_t i = 0; i < destinations.size(); ++i) {
        const TPrintDestination& destination = destinations[i];
        lines.push_back(destination.name + (destination.isDefault ? " (default)" : ""));
        if (destination.name == settings_.destination ||
            (settings_.destination.empty() && destination.isDefault))
            selected = static_cast<int>(i);
    }
    if (const std::optional<int> chosen =
            ChooseFromList(runner_, "Change Printer", "Printer:", lines, selected))
        settings_.destination = destinations[static_cast<std::size_t>(*chosen)].name;
}

void PrintCapturedPicture(TMainWindowActions& window, TDialogRunner& runner, TPrintSettings& settings,
                          TRef<TFileAccessor> accessor, TRef<TIniFile> project, TRef<TBitmap> captured) {
    if (!project) return;
    const bool wasPaused = window.Paused();
    if (!wasPaused) window.Engine().PostPaused(true);
    int slide = -1;
    if (const TSlideTimes* times = window.SlideTimes(); times && times->Count() > 0) {
        const int count = times->Count();
        slide = ((times->FindSlideAt(window.CurrentTime()) % count) + count) % count;
    }
    TLog::Line("Print dialog for slide " + std::to_string(slide + 1));
    auto callback = MakeRef<TCallBackClass>(std::move(accessor), project, slide, std::move(captured));
    TRef<TKivPrintDialog> dialog = MakeRef<TKivPrintDialog>(*project, callback, runner, settings);
    runner.RunModal(*dialog);
    if (!wasPaused) window.Engine().PostPaused(false);
}

} // namespace kiv

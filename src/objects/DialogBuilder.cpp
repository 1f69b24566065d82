// TSlideProducer::BuildDialog: the help dialog and custom dialogs of a show as dialog slides.
#include "base/CaseFold.h"
#include "objects/KeyframeTiming.h"
#include "objects/KivDialog.h"
#include "objects/SlideProducer.h"

#include <exception>

namespace kiv {

namespace {

// The section of dialog `name`: for "help" the first "dialog_N_" (N = 1, 2, …) with help = 1; else
// the "dialog_N_" whose [Main] custom_dialogN names it, else "dialog_<name>".
TIniSection* DialogSection(const TIniFile& document, const TIniSection* main, const std::string& name) {
    if (SameTextFolded(name, "help")) {
        for (int n = 1;; ++n) {
            TIniSection* section = document.FindSection("dialog_" + std::to_string(n) + "_");
            if (!section) return nullptr;
            if (section->GetInt32("help", 0) == 1) return section;
        }
    }
    const int count = main ? main->GetInt32("opt_customdialogscount", 0) : 0;
    for (int n = 1; n <= count; ++n) {
        if (SameTextFolded(main->GetText("custom_dialog" + std::to_string(n)), name))
            return document.FindSection("dialog_" + std::to_string(n) + "_");
    }
    return document.FindSection("dialog_" + name);
}

} // namespace

TRef<TKivDialog> TSlideProducer::BuildDialog(const std::string& name) {
    TIniSection* section = DialogSection(source_.Document(), source_.MainSection(), name);
    if (!section) return nullptr;
    try {
        auto dialog = MakeRef<TKivDialog>(&host_, name);
        dialog->SetSize(showWidth_ * 100.0 / aspectX_, showHeight_ * 100.0 / aspectY_);
        dialog->SetCentre(centre_);
        dialog->SetDesignSize({static_cast<double>(designWidth_), static_cast<double>(designHeight_)});
        dialog->SetDialogPause(section->GetBool("DialogPause", true));
        const TSlideInfo times;
        dialog->SetTimes(times, 0);
        dialog->Build(TKivSlide::RootObject(*section), PlanKeyframeTiming(section, times));
        const TVec2 size = dialog->ParentSize();
        if (size.x > 0 && size.y > 0)
            dialog->SetScale(showWidth_ * 100.0 / size.x, showHeight_ * 100.0 / size.y);
        dialog->Advance(true, 0.0);
        return dialog;
    } catch (const std::exception&) {
        return nullptr;
    }
}

} // namespace kiv

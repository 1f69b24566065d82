// TSlideProducer::BuildDialog: the help dialog and custom dialogs of a show as dialog slides.
#include "base/CaseFold.h"
#include "objects/KeyframeTiming.h"
#include "objects/KivDialog.h"
#include "objects/SlideProducer.h"

#include <climits>
#include <cstdint>
#include <exception>
#include <optional>
#include <string_view>

namespace kiv {

namespace {

// N of a key named "custom_dialog" + N (N written as std::to_string writes it, from 1), any case.
std::optional<int> CustomDialogNumber(std::string_view key) {
    constexpr std::string_view kPrefix = "custom_dialog";
    if (key.size() <= kPrefix.size() || !SameTextFolded(key.substr(0, kPrefix.size()), kPrefix))
        return std::nullopt;
    const std::string_view digits = key.substr(kPrefix.size());
    if (digits.size() > 10 || digits[0] == '0') return std::nullopt;
    std::int64_t n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n > INT_MAX) return std::nullopt;
    return static_cast<int>(n);
}

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
    // Only the custom_dialogN keys [Main] really holds can match, so they are walked rather than
    // every N up to the count (which a show may set to anything).
    std::optional<int> first;
    for (int i = 0; count > 0 && i < main->Count(); ++i) {
        const TIniItem* item = main->Item(i);
        if (!item || !item->IsKey()) continue;
        const std::optional<int> n = CustomDialogNumber(item->Name());
        if (!n || *n > count || (first && *n >= *first)) continue;
        // The key that stands last wins, as in every lookup.
        if (SameTextFolded(main->GetText(item->Name()), name)) first = n;
    }
    if (first) return document.FindSection("dialog_" + std::to_string(*first) + "_");
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

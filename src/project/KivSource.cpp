#include "project/KivSource.h"

#include "base/Assert.h"
#include "ini/IniValues.h"
#include "project/ProjectError.h"

#include <array>
#include <cmath>
#include <vector>

namespace kiv {

namespace {

constexpr std::array<std::string_view, 4> kEndActionWords = {"timer", "pause", "loop", ""};

TRef<TTransitionRandom> RandomOrClock(TRef<TTransitionRandom> random) {
    return random ? std::move(random) : MakeRef<TTransitionRandom>();
}

} // namespace

std::string SlideIdFromPicture(std::string_view picture) {
    if (!picture.empty() && picture.back() == '\\') picture.remove_suffix(1);
    const std::size_t folder = picture.rfind('\\');
    std::string_view name = folder == std::string_view::npos ? picture : picture.substr(folder + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return std::string(name);
}

TKivSource::TKivSource(TKivSourceSetup setup)
    : document_(std::move(setup.document)), fileAccessor_(std::move(setup.fileAccessor)),
      random_(RandomOrClock(std::move(setup.random))), pool_(random_) {
    KIV_ASSERT(document_, "TKivSource: there is no project document");
    TIniFile& document = *document_;
    options_ = ReadShowOptions(document);
    catalog_ = MakeRef<TKIVEffectManager>(document_.Get(), options_.designHeight, options_.designWidth);

    screenSaver_ = IsScreenSaverProgram(setup.programFileName);
    WriteScreenSaverOptions(document, screenSaver_);
    options_ = ReadShowOptions(document);
    main_ = document.FindSection("Main");
    times_ = document.FindSection("Times");

    if (options_.declaredSlideCount > kMaxSlideCount) throw EProjectError("Too many slides");
    const std::int32_t count = std::max(options_.declaredSlideCount, 0);
    std::vector<std::int32_t> syncPoints(static_cast<std::size_t>(count));
    for (std::int32_t k = 0; k < count; ++k)
        syncPoints[static_cast<std::size_t>(k)] = times_->GetInt32("opt_synchpos" + std::to_string(k + 1), 0);

    pool_.Build(*catalog_);
    slideCount_ = count;
    timeline_ = TSlideTimeline::Build(
        syncPoints, [this](std::int32_t index) { return TransitionTime(index); },
        [this](std::int32_t index) { return ReadSlideId(index); });
}

std::string TKivSource::ReadSlideId(std::int32_t index) const {
    const TIniSection* section = SlideSection(*document_, index);
    if (!section) return {};
    std::string id = section->GetText("slideid");
    if (id.empty()) id = SlideIdFromPicture(section->GetText("Picture"));
    return id;
}

double TKivSource::TransitionTime(std::int32_t index) {
    const std::int32_t count = slideCount_;
    if (count == 0) return 0;
    if (index >= count) {
        if (options_.endMode != TEndMode::Repeat) return 0;
        index %= count;
    }
    // A negative length would make a slide end before its synchronisation point.
    return std::max(0, catalog_->SlideTime(index));
}

TEndAction TKivSource::EndActionOf(std::int32_t index) const {
    KIV_ASSERT(index >= 0 && index < SlideCount(), "TKivSource.GetEndAction: slide index out of range");
    const TIniSection* section = SlideSection(*document_, index);
    const int word = section ? section->GetChoice("Pers_EndAction", kEndActionWords, true, 3) : 3;
    if (word < 3) return static_cast<TEndAction>(word);
    const bool manual = main_ && main_->GetBool("opt_manualshow", false);
    return manual ? TEndAction::Pause : TEndAction::Timer;
}

bool TKivSource::GetEndAction(std::int32_t index, double& loopLength) const {
    const TEndAction action = EndActionOf(index);
    loopLength = action == TEndAction::Loop ? SlideFreeTime(Slides()[static_cast<std::size_t>(index)]) : 0;
    return action != TEndAction::Timer;
}

bool TKivSource::GetRunApp(std::int32_t index, std::string& command) const {
    command.clear();
    const TIniSection* section = SlideSection(*document_, index);
    if (!section || !section->GetBool("Pers_RunApp", false)) return false;
    command = section->GetText("RunAppFN");
    return !command.empty();
}

TRef<TKivEffect> TKivSource::GetSlideTransition(std::int32_t index, double& time, float& smoothline) {
    const std::int32_t count = SlideCount();
    KIV_ASSERT(count > 0, "TKivSource.GetSlideTransition: the show has no slides");
    if (index >= count) index %= count;
    TEffectProp* entry = index >= 0 ? catalog_->SlideEntry(index) : nullptr;
    double smooth = 0;
    time = 0;
    TRef<TKivEffect> effect;
    if (entry) {
        time = ParseIniReal(entry->Value("time")).value_or(0);
        smooth = ParseIniReal(entry->Value("smoothline")).value_or(0);
        const std::string name = entry->Name();
        if (name == "default" || name == "defowntime") {
            effect = pool_.Pick();
            if (name == "default") time = pool_.DefaultTime();
            smooth = effect ? effect->smoothline : 0;
        } else if (name == "quick") {
        } else if (const std::uint32_t code = EffectFamilyOfName(name); code != 0) {
            effect = BuildFamilyEffect(code, *entry);
        } else {
            effect = BuildFirstVariantEffect(*entry);
        }
    }
    // A descriptor with nothing switched on has nothing to run.
    if (effect && effect->variantCount <= 0) effect = nullptr;
    if (!effect) time = 0;
    if (effect && effect->type == kEffectMosaic) {
        const std::int32_t high = random_->Below(4096);
        const std::int32_t low = random_->Below(4096);
        effect->intParams.push_back(high * 4096 + low);
    }
    // No positive length: no transition.
    if (!(time > 0)) {
        time = 0;
        effect = nullptr;
    }
    smoothline = ClampToFloat(smooth);
    return effect;
}

} // namespace kiv

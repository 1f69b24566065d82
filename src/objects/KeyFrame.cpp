#include "objects/KeyFrame.h"

#include "base/CaseFold.h"
#include "base/NumberText.h"
#include "objects/FilterRegistry.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <string_view>

namespace kiv {

namespace {

constexpr std::array<std::string_view, 4> kOriginWords = {"SlideBegin", "PrevEffectEnd", "NextEffectBegin",
                                                          "SlideEnd"};

// Values beyond this are taken as this: every current value is held as a 32-bit float.
constexpr double kValueLimit = 1e30;

double ReadPropertyValue(const TIniObject& object, const TPropertyInfo& info) {
    const TIniItem* item = object.FindItem(info.key);
    const double value = info.listPart < 0 ? GetReal(item, info.defaultValue)
                                           : GetListReal(item, ',', info.listPart, info.defaultValue);
    if (!std::isfinite(value)) return info.defaultValue;
    return std::fmax(-kValueLimit, std::fmin(kValueLimit, value));
}

// `Time`: the text up to its first dot, read as an integer; anything else is 0.
double ReadTimeOffset(const TIniObject& object) {
    std::string text = object.GetText("Time");
    const std::size_t dot = text.find('.');
    if (dot != std::string::npos) text.resize(dot);
    return static_cast<double>(ParseInt32(text, 0));
}

// Unlinks a stored chain into its reading order (the far end was read first).
template <std::size_t N>
void TakeChains(std::array<std::vector<TRef<TKivObjectMod>>, N>& slots,
                std::array<std::vector<TRef<TKivObjectMod>>, N>& old) {
    for (std::size_t i = 0; i < N; ++i) {
        old[i] = std::move(slots[i]);
        slots[i].clear();
        for (const TRef<TKivObjectMod>& mod : old[i])
            mod->SetNext(nullptr);
    }
}

} // namespace

TKivObjectMod* TKivKeyFrame::TimeModifierChain(int group) const {
    const auto& list = timeMods_[static_cast<std::size_t>(group)];
    return list.empty() ? nullptr : list.back().Get();
}

TKivObjectMod* TKivKeyFrame::ValueModifierChain(int property) const {
    const auto& list = valueMods_[static_cast<std::size_t>(property)];
    return list.empty() ? nullptr : list.back().Get();
}

void TKivKeyFrame::Read(TIniObject& object, std::uint32_t typeMask, const TSlideDurations& durations,
                        TModifierSource* source) {
    object_ = TRef<TIniObject>::Share(&object);
    groups_ = static_cast<std::uint32_t>(object.GetInt32("grps", 255)) & typeMask & kAllGroups;
    origin_ = object.GetChoice("Origin", kOriginWords, true, kOriginSlideBegin);
    time_ = OriginTime(origin_, durations) + ReadTimeOffset(object);
    for (int i = 0; i < kPropertyCount; ++i) {
        const TPropertyInfo& info = PropertyInfo(i);
        values_[static_cast<std::size_t>(i)] =
            Sets(info.group) ? ReadPropertyValue(object, info) : info.defaultValue;
    }

    std::array<std::vector<TRef<TKivObjectMod>>, kGroupCount> oldTime;
    std::array<std::vector<TRef<TKivObjectMod>>, kPropertyCount> oldValue;
    TakeChains(timeMods_, oldTime);
    TakeChains(valueMods_, oldValue);
    std::vector<TRef<TObjectFilter>> oldFilters;
    for (TObjectFilter* filter = filters_.Get(); filter; filter = filter->Next())
        oldFilters.push_back(TRef<TObjectFilter>::Share(filter));
    filters_.Reset();
    for (const TRef<TObjectFilter>& filter : oldFilters)
        filter->SetNext(nullptr);

    TObjectFilter* lastFilter = nullptr;
    std::size_t filterPosition = 0;
    for (int c = 0; c < object.ObjectCount(); ++c) {
        TIniObject& child = *object.Object(c);
        if (SameTextFolded(child.ClassText(), "Mod")) {
            ReadModifier(child, source, oldTime, oldValue);
        } else if (SameTextFolded(child.ClassText(), "Filter")) {
            TRef<TObjectFilter> filter;
            if (filterPosition < oldFilters.size() && oldFilters[filterPosition]->ReadFilter(child))
                filter = oldFilters[filterPosition];
            ++filterPosition;
            if (!filter) {
                filter = CreateFilter(child.Name());
                if (!filter) continue; // not a registered filter
                filter->ReadFilter(child);
            }
            if (lastFilter) {
                lastFilter->SetNext(filter);
            } else {
                filters_ = filter;
            }
            lastFilter = filter.Get();
        }
    }

    timeModMask_ = 0;
    valueModMask_ = 0;
    for (int g = 0; g < kGroupCount; ++g)
        if (!timeMods_[static_cast<std::size_t>(g)].empty()) timeModMask_ |= 1u << g;
    for (int i = 0; i < kPropertyCount; ++i)
        if (!valueMods_[static_cast<std::size_t>(i)].empty()) valueModMask_ |= 1u << i;
}

void TKivKeyFrame::ReadModifier(TIniObject& child, TModifierSource* source,
                                std::array<std::vector<TRef<TKivObjectMod>>, kGroupCount>& oldTime,
                                std::array<std::vector<TRef<TKivObjectMod>>, kPropertyCount>& oldValue) {
    int index = -1;
    bool fraction = false;
    if (!TKivObjectMod::ParseTarget(child.GetText("dst"), index, fraction)) return;
    std::vector<TRef<TKivObjectMod>>& old =
        fraction ? oldTime[static_cast<std::size_t>(index)] : oldValue[static_cast<std::size_t>(index)];
    std::vector<TRef<TKivObjectMod>>& slot =
        fraction ? timeMods_[static_cast<std::size_t>(index)] : valueMods_[static_cast<std::size_t>(index)];
    TRef<TKivObjectMod> mod;
    // The modifier that held the same place in this slot last time is re-read in place.
    const std::size_t position = slot.size();
    if (position < old.size() && old[position] && old[position]->ReadFilter(child)) mod = old[position];
    if (!mod) {
        mod = MakeRef<TKivObjectMod>(source);
        mod->ReadFilter(child);
    }
    if (mod->NeedsUpdate()) return; // empty, too long or does not compile: dropped
    // A later modifier for the same slot goes in front of the chain and is applied last.
    if (!slot.empty()) mod->SetNext(slot.back());
    slot.push_back(std::move(mod));
}

} // namespace kiv

// TKivKeyFrame: one keyframe of a property node, read from a "KeyPoint" project object: its time
// within the slide, the groups it sets with their 15 values (defaults for groups it does not set),
// the modifiers that drive its groups' fractions and its properties' values from this keyframe to
// the next, and its chain of colour filters.
#pragma once

#include "objects/KeyframeTiming.h"
#include "objects/Modifier.h"
#include "objects/PropertyTable.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kiv {

class TKivObjectProps;

class TKivKeyFrame final : public TRefObject {
public:
    TKivKeyFrame(TKivObjectProps* owner, int index) : owner_(owner), index_(index) {}

    // (Re)reads the keyframe. `typeMask` restricts `grps`; modifiers read `source`'s variables.
    // Modifiers and filters from the previous read are reused in place when they accept their
    // object (same `id` and `$rev`). Bad values read as their defaults; never throws for bad text.
    void Read(TIniObject& object, std::uint32_t typeMask, const TSlideDurations& durations,
              TModifierSource* source);

    TKivObjectProps* Owner() const noexcept { return owner_; }
    int Index() const noexcept { return index_; }
    void SetIndex(int index) noexcept { index_ = index; }
    TIniObject* ProjectObject() const noexcept { return object_.Get(); }

    // Milliseconds from the slide's Start.
    double Time() const noexcept { return time_; }
    void SetTime(double time) noexcept { time_ = time; }
    int Origin() const noexcept { return origin_; }
    std::uint32_t Groups() const noexcept { return groups_; }
    bool Sets(int group) const noexcept { return (groups_ >> group) & 1u; }
    double Value(int property) const noexcept { return values_[static_cast<std::size_t>(property)]; }
    // Changes one value after reading (a text's scale follows its nominal height; a button's theme
    // sets its caption's scale).
    void SetValue(int property, double value) noexcept {
        values_[static_cast<std::size_t>(property)] = value;
    }

    // Modifiers in the order they are applied (the one read first runs first).
    const std::vector<TRef<TKivObjectMod>>& TimeModifiers(int group) const {
        return timeMods_[static_cast<std::size_t>(group)];
    }
    const std::vector<TRef<TKivObjectMod>>& ValueModifiers(int property) const {
        return valueMods_[static_cast<std::size_t>(property)];
    }
    // Bit g: a time modifier for group g; bit i: a value modifier for property i.
    std::uint32_t TimeModifierMask() const noexcept { return timeModMask_; }
    std::uint32_t ValueModifierMask() const noexcept { return valueModMask_; }
    bool HasModifiers() const noexcept { return timeModMask_ != 0 || valueModMask_ != 0; }
    // Chain heads as stored: the modifier read last is the head.
    TKivObjectMod* TimeModifierChain(int group) const;
    TKivObjectMod* ValueModifierChain(int property) const;

    // The colour filter chain (head = the filter read first); none without filters.
    TObjectFilter* Filters() const noexcept { return filters_.Get(); }

private:
    ~TKivKeyFrame() override = default;
    void ReadModifier(TIniObject& child, TModifierSource* source,
                      std::array<std::vector<TRef<TKivObjectMod>>, kGroupCount>& oldTime,
                      std::array<std::vector<TRef<TKivObjectMod>>, kPropertyCount>& oldValue);

    TKivObjectProps* owner_;
    int index_;
    TRef<TIniObject> object_;
    double time_ = 0.0;
    int origin_ = kOriginSlideBegin;
    std::uint32_t groups_ = 0;
    std::array<double, kPropertyCount> values_{};
    std::array<std::vector<TRef<TKivObjectMod>>, kGroupCount> timeMods_;
    std::array<std::vector<TRef<TKivObjectMod>>, kPropertyCount> valueMods_;
    std::uint32_t timeModMask_ = 0;
    std::uint32_t valueModMask_ = 0;
    TRef<TObjectFilter> filters_;
};

} // namespace kiv

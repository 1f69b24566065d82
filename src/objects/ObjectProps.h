// TKivObjectProps: the property node of a slide object (or of the slide itself). Built from the
// object's project object, it holds the object's keyframes and computes, for any time within the
// slide, the 15 animated property values (PropertyTable.h). Nodes form a tree that mirrors the
// objects of a slide; a rebuild keeps the nodes, keyframes and modifiers whose `GUID`s and
// identities are unchanged.
//
// Threads: a tree is built (and rebuilt or rescaled) on the slide loader thread and then evaluated
// on the engine thread, never by both at once.
#pragma once

#include "base/Exception.h"
#include "objects/KeyFrame.h"
#include "objects/KeyframeTiming.h"
#include "objects/Modifier.h"
#include "objects/ParamGetter.h"
#include "objects/PropertyTable.h"

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kiv {

class TKivObject; // the slide object that shows the node

// A slide cannot be built from its project: "KivObject GUID not Assigned".
class EKivBuildError : public Exception {
public:
    using Exception::Exception;
};

// Where a property group stands at the current time. Keyframe indices; last = -1 when no keyframe
// sets the group.
struct TGroupState {
    int first = -1;
    int last = -1;
    int prev = -1;
    int next = -1;
    double invSpan = 0.0;  // 1 ÷ (time span from prev to next), 0 for a span up to 0.0001 ms
    double fraction = 0.0; // interpolation fraction, after the time modifiers
};

class TKivObjectProps final : public TRefObject, public TModifierSource {
public:
    TKivObjectProps() = default;
    TKivObjectProps(const TKivObjectProps&) = delete;
    TKivObjectProps& operator=(const TKivObjectProps&) = delete;

    // --- Building (loader thread) ---

    // Reads the node and, recursively, its child objects and keyframes from `object` with the
    // given slide durations, then evaluates at time 0. Child nodes are matched to the previous
    // build by `GUID`. A child object without `GUID` raises EKivBuildError; the tree is then only
    // partly rebuilt and the caller drops the slide. `object` must outlive the node.
    void Build(TIniObject& object, const TSlideDurations& durations);
    // Builds a slide's root node with a timing plan: the authored durations, then a Rescale.
    void Build(TIniObject& object, const TKeyframeTiming& timing);
    // Sets the actual durations and multiplies every keyframe time and both DeltaTimes by
    // `factor` (rounded to whole ms; a factor below 0.0001 or not finite counts as 1), re-sorting
    // when the rounding changed the order. Recursive.
    void Rescale(const TSlideDurations& actual, double factor);
    // Pan correction from the picture size: `EnableAspect` and `Aspect` of the node with a w × h
    // picture. Both factors are 0.01 otherwise.
    void SetPictureSize(int width, int height);

    // --- Evaluation (engine thread) ---

    // Computes the 15 values at `t` ms after the slide's Start (NaN reads as 0); with `recursive`
    // the children too. Consecutive calls move each group's keyframe pair on from where it was.
    void Evaluate(double t, bool recursive);

    float Value(int property) const noexcept { return values_[static_cast<std::size_t>(property)]; }
    const std::array<float, kPropertyCount>& Values() const noexcept { return values_; }
    double Time() const noexcept { return time_; }
    const TGroupState& Group(int group) const { return groups_[static_cast<std::size_t>(group)]; }

    // The colour group: present when some keyframe sets group 6; the filter chains of its previous
    // and next keyframe (none when absent) and its fraction.
    bool ColorPresent() const noexcept { return groups_[kGroupColor].last >= 0; }
    TObjectFilter* ColorFromFilters() const;
    TObjectFilter* ColorToFilters() const;
    double ColorFraction() const noexcept { return groups_[kGroupColor].fraction; }

    // --- Identity and tree ---

    const std::string& Guid() const noexcept { return guid_; }
    // The project object the node was last built from (none before a build).
    TIniObject* ProjectObject() const noexcept { return object_.Get(); }
    const std::string& ClassWord() const noexcept { return classWord_; }
    int TypeCode() const noexcept { return typeCode_; }
    double DeltaTime1() const noexcept { return deltaTime1_; }
    double DeltaTime2() const noexcept { return deltaTime2_; }
    const TSlideDurations& Durations() const noexcept { return durations_; }
    float AspectX() const noexcept { return aspectX_; }
    float AspectY() const noexcept { return aspectY_; }
    // Increases on every change of the keyframe list.
    std::uint64_t Version() const noexcept { return version_; }

    int KeyFrameCount() const noexcept { return static_cast<int>(keyFrames_.size()); }
    const TKivKeyFrame& KeyFrame(int index) const { return *keyFrames_[static_cast<std::size_t>(index)]; }
    TKivKeyFrame& KeyFrame(int index) { return *keyFrames_[static_cast<std::size_t>(index)]; }

    int ChildCount() const noexcept { return static_cast<int>(children_.size()); }
    TKivObjectProps* Child(int index) const { return children_[static_cast<std::size_t>(index)].Get(); }
    TKivObjectProps* Parent() const noexcept { return parent_; }
    // The direct child with that `GUID`, or none.
    TKivObjectProps* FindChild(std::string_view guid) const;
    // This node or a descendant with that `GUID` (depth first), or none.
    TKivObjectProps* FindNode(std::string_view guid);

    TKivObject* Owner() const noexcept { return owner_; }
    void SetOwner(TKivObject* owner) noexcept { owner_ = owner; }

    // --- Formula variables (TModifierSource) ---
    TRef<TCalcFunc> TimeVariable(int group) override;
    TRef<TCalcFunc> FieldVariable(int property) override;
    void SetFraction(int group, double fraction) noexcept {
        groups_[static_cast<std::size_t>(group)].fraction = fraction;
    }
    void SetValue(int property, double value) noexcept;

private:
    ~TKivObjectProps() override;

    void ReadChildren(TIniObject& object);
    void SortKeyFrames();
    void RecomputeGroups();
    void WalkGroup(int group, double t);
    void EvaluateMany(double t);
    void EvaluateOne(double t);
    void RunTimeModifiers(const TKivKeyFrame& keyFrame, int group);
    void RunValueModifiers(const TKivKeyFrame& keyFrame, int property);
    void SetInitialValues();

    std::vector<TRef<TKivObjectProps>> children_;
    mutable std::unordered_map<std::string, TKivObjectProps*> childIndex_; // built when needed
    mutable bool childIndexValid_ = false;
    std::uint64_t version_ = 1;
    std::uint64_t evaluatedVersion_ = 0;
    std::vector<TRef<TKivKeyFrame>> keyFrames_;
    std::vector<double> keyTimes_; // keyframe times, in keyframe order, for the walk
    TRef<TIniObject> object_;
    std::string classWord_;
    std::string guid_;
    int typeCode_ = kTypeNone;
    std::uint32_t typeMask_ = 0;
    std::array<TGroupState, kGroupCount> groups_{};
    std::array<std::vector<int>, kGroupCount> groupKeys_; // keyframes setting each group
    std::array<int, kGroupCount> cursors_{};              // position of prev in groupKeys_, -1 before
    std::uint32_t presentGroups_ = 0;
    std::array<float, kPropertyCount> values_{};
    TSlideDurations durations_;
    double time_ = 0.0;
    float aspectX_ = 0.01f;
    float aspectY_ = 0.01f;
    bool enableAspect_ = false;
    double aspect_ = 0.0;
    double deltaTime1_ = 0.0;
    double deltaTime2_ = 0.0;
    TKivObject* owner_ = nullptr;
    TKivObjectProps* parent_ = nullptr;
    std::array<TRef<TTimeGetter>, kGroupCount> timeGetters_;
    std::array<TRef<TFieldGetter>, kPropertyCount> fieldGetters_;
};

// A value for a 32-bit float slot: clamped to the float range (NaN gives 0).
float ToPropertyFloat(double value) noexcept;

} // namespace kiv

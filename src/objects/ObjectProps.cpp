#include "objects/ObjectProps.h"

#include "base/CaseFold.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace kiv {

namespace {

// Rescaled times stay far inside the double's exact integers.
constexpr double kTimeLimit = 1e15;

double ScaleTime(double value, double factor) {
    const double scaled = std::nearbyint(value * factor);
    if (!std::isfinite(scaled)) return 0.0;
    return std::clamp(scaled, -kTimeLimit, kTimeLimit);
}

} // namespace

float ToPropertyFloat(double value) noexcept {
    if (std::isnan(value)) return 0.0f;
    return static_cast<float>(std::clamp(value, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

// --- Variables ---

TTimeGetter::TTimeGetter(TKivObjectProps* node, int group)
    : TParamGetter(std::string(GroupName(group)) + ".T", node, group) {}

double TTimeGetter::GetValue() const {
    return node_ ? node_->Group(index_).fraction : 0.0;
}

void TTimeGetter::SetValue(double value) {
    if (node_) node_->SetFraction(index_, value);
}

TFieldGetter::TFieldGetter(TKivObjectProps* node, int property)
    : TParamGetter(std::string(PropertyInfo(property).formulaName), node, property) {}

double TFieldGetter::GetValue() const {
    return node_ ? node_->Value(index_) : 0.0;
}

void TFieldGetter::SetValue(double value) {
    if (node_) node_->SetValue(index_, value);
}

// --- Node ---

TKivObjectProps::~TKivObjectProps() {
    for (TRef<TTimeGetter>& getter : timeGetters_)
        if (getter) getter->Detach();
    for (TRef<TFieldGetter>& getter : fieldGetters_)
        if (getter) getter->Detach();
}

TRef<TCalcFunc> TKivObjectProps::TimeVariable(int group) {
    if (group < 0 || group >= kGroupCount) return {};
    TRef<TTimeGetter>& getter = timeGetters_[static_cast<std::size_t>(group)];
    if (!getter) getter = MakeRef<TTimeGetter>(this, group);
    return TRef<TCalcFunc>(getter);
}

TRef<TCalcFunc> TKivObjectProps::FieldVariable(int property) {
    if (property < 0 || property >= kPropertyCount) return {};
    TRef<TFieldGetter>& getter = fieldGetters_[static_cast<std::size_t>(property)];
    if (!getter) getter = MakeRef<TFieldGetter>(this, property);
    return TRef<TCalcFunc>(getter);
}

void TKivObjectProps::SetValue(int property, double value) noexcept {
    values_[static_cast<std::size_t>(property)] = ToPropertyFloat(value);
}

TKivObjectProps* TKivObjectProps::FindChild(std::string_view guid) const {
    if (!childIndexValid_) {
        childIndex_.clear();
        for (const TRef<TKivObjectProps>& child : children_)
            childIndex_.emplace(child->guid_, child.Get());
        childIndexValid_ = true;
    }
    const auto found = childIndex_.find(std::string(guid));
    return found == childIndex_.end() ? nullptr : found->second;
}

TKivObjectProps* TKivObjectProps::FindNode(std::string_view guid) {
    if (guid_ == guid) return this;
    for (const TRef<TKivObjectProps>& child : children_)
        if (TKivObjectProps* found = child->FindNode(guid)) return found;
    return nullptr;
}

void TKivObjectProps::Build(TIniObject& object, const TKeyframeTiming& timing) {
    Build(object, timing.build);
    if (timing.rescale) Rescale(timing.actual, timing.factor);
}

void TKivObjectProps::Build(TIniObject& object, const TSlideDurations& durations) {
    ++version_; // a build that fails half way still leaves the group ranges to be recomputed
    durations_ = durations;
    object_ = TRef<TIniObject>::Share(&object);
    classWord_ = object.ClassText();
    guid_ = object.GetText("GUID");
    deltaTime1_ = object.GetInt32("DeltaTime1", 0);
    deltaTime2_ = object.GetInt32("DeltaTime2", 0);
    enableAspect_ = object.GetBool("EnableAspect", false);
    aspect_ = object.GetReal("Aspect", 0.0);
    const bool animEnable = object.GetBool("AnimEnable", false);
    typeCode_ = TypeCodeFromClassWord(classWord_, animEnable);
    typeMask_ = GroupMaskForType(typeCode_);

    // Keyframes and child nodes, in project order.
    std::vector<TRef<TKivObjectProps>> oldChildren = std::move(children_);
    children_.clear();
    childIndexValid_ = false;
    std::vector<bool> reused(oldChildren.size(), false);
    std::unordered_multimap<std::string, std::size_t> oldByGuid; // built when needed
    bool oldByGuidBuilt = false;
    std::size_t remaining = oldChildren.size();
    std::size_t keyCount = 0;
    std::size_t childPosition = 0;

    for (int c = 0; c < object.ObjectCount(); ++c) {
        TIniObject& child = *object.Object(c);
        if (SameTextFolded(child.ClassText(), "KeyPoint")) {
            if (keyCount == keyFrames_.size())
                keyFrames_.push_back(MakeRef<TKivKeyFrame>(this, static_cast<int>(keyCount)));
            TKivKeyFrame& keyFrame = *keyFrames_[keyCount];
            keyFrame.SetIndex(static_cast<int>(keyCount));
            keyFrame.Read(child, typeMask_, durations_, this);
            ++keyCount;
            continue;
        }
        const std::string guid = child.GetText("GUID");
        if (guid.empty()) throw EKivBuildError("KivObject GUID not Assigned");
        TRef<TKivObjectProps> node;
        const std::size_t position = childPosition++;
        if (position < oldChildren.size() && !reused[position] && oldChildren[position]->guid_ == guid) {
            node = oldChildren[position];
            reused[position] = true;
        } else if (remaining > 0) {
            if (remaining > 3) {
                if (!oldByGuidBuilt) {
                    for (std::size_t i = 0; i < oldChildren.size(); ++i)
                        if (!reused[i]) oldByGuid.emplace(oldChildren[i]->guid_, i);
                    oldByGuidBuilt = true;
                }
                auto [begin, end] = oldByGuid.equal_range(guid);
                for (auto it = begin; it != end; ++it) {
                    if (reused[it->second]) continue;
                    node = oldChildren[it->second];
                    reused[it->second] = true;
                    break;
                }
            } else {
                for (std::size_t i = 0; i < oldChildren.size(); ++i) {
                    if (reused[i] || oldChildren[i]->guid_ != guid) continue;
                    node = oldChildren[i];
                    reused[i] = true;
                    break;
                }
            }
        }
        if (node) {
            --remaining;
        } else {
            node = MakeRef<TKivObjectProps>();
        }
        node->parent_ = this;
        children_.push_back(node);
        node->Build(child, durations);
    }
    // Old children not reused go with `oldChildren`; surplus keyframes are freed.
    for (std::size_t i = 0; i < oldChildren.size(); ++i)
        if (!reused[i]) oldChildren[i]->parent_ = nullptr;
    keyFrames_.resize(keyCount);

    SortKeyFrames();
    ++version_;
    RecomputeGroups();
    SetInitialValues();
    Evaluate(0.0, false);
}

void TKivObjectProps::SortKeyFrames() {
    const bool sorted = std::is_sorted(keyFrames_.begin(), keyFrames_.end(),
                                       [](const auto& a, const auto& b) { return a->Time() < b->Time(); });
    if (!sorted)
        std::stable_sort(keyFrames_.begin(), keyFrames_.end(),
                         [](const auto& a, const auto& b) { return a->Time() < b->Time(); });
    for (std::size_t i = 0; i < keyFrames_.size(); ++i)
        keyFrames_[i]->SetIndex(static_cast<int>(i));
}

void TKivObjectProps::SetInitialValues() {
    for (int i = 0; i < kPropertyCount; ++i) {
        const double value = keyFrames_.empty() ? PropertyDefault(i) : keyFrames_.front()->Value(i);
        values_[static_cast<std::size_t>(i)] = ToPropertyFloat(value);
    }
}

void TKivObjectProps::Rescale(const TSlideDurations& actual, double factor) {
    durations_ = actual;
    if (!std::isfinite(factor) || factor < 0.0001) factor = 1.0;
    for (TRef<TKivKeyFrame>& keyFrame : keyFrames_)
        keyFrame->SetTime(ScaleTime(keyFrame->Time(), factor));
    deltaTime1_ = ScaleTime(deltaTime1_, factor);
    deltaTime2_ = ScaleTime(deltaTime2_, factor);
    SortKeyFrames();
    ++version_;
    for (TRef<TKivObjectProps>& child : children_)
        child->Rescale(actual, factor);
}

void TKivObjectProps::SetPictureSize(int width, int height) {
    aspectX_ = 0.01f;
    aspectY_ = 0.01f;
    if (!enableAspect_ || !(aspect_ > 0.0) || width <= 0 || height <= 0) return;
    const double w = width;
    const double h = height;
    if (aspect_ < w / h) {
        aspectX_ = ToPropertyFloat(w / (aspect_ * h) * 0.01);
    } else {
        aspectY_ = ToPropertyFloat(h * (aspect_ / w) * 0.01);
    }
}

void TKivObjectProps::RecomputeGroups() {
    keyTimes_.resize(keyFrames_.size());
    for (std::size_t i = 0; i < keyFrames_.size(); ++i)
        keyTimes_[i] = keyFrames_[i]->Time();
    presentGroups_ = 0;
    for (int g = 0; g < kGroupCount; ++g) {
        std::vector<int>& keys = groupKeys_[static_cast<std::size_t>(g)];
        keys.clear();
        for (std::size_t i = 0; i < keyFrames_.size(); ++i)
            if (keyFrames_[i]->Sets(g)) keys.push_back(static_cast<int>(i));
        TGroupState& state = groups_[static_cast<std::size_t>(g)];
        state = TGroupState{};
        if (!keys.empty()) {
            state.first = keys.front();
            state.last = keys.back();
            state.prev = state.next = state.first;
            presentGroups_ |= 1u << g;
        }
        cursors_[static_cast<std::size_t>(g)] = -1;
    }
    evaluatedVersion_ = version_;
}

TObjectFilter* TKivObjectProps::ColorFromFilters() const {
    const TGroupState& state = groups_[kGroupColor];
    return state.prev >= 0 ? keyFrames_[static_cast<std::size_t>(state.prev)]->Filters() : nullptr;
}

TObjectFilter* TKivObjectProps::ColorToFilters() const {
    const TGroupState& state = groups_[kGroupColor];
    return state.next >= 0 ? keyFrames_[static_cast<std::size_t>(state.next)]->Filters() : nullptr;
}

void TKivObjectProps::Evaluate(double t, bool recursive) {
    if (std::isnan(t)) t = 0.0;
    time_ = t;
    if (version_ != evaluatedVersion_) RecomputeGroups();
    if (keyFrames_.size() >= 2) {
        EvaluateMany(t);
    } else if (keyFrames_.size() == 1) {
        EvaluateOne(t);
    }
    if (recursive)
        for (TRef<TKivObjectProps>& child : children_)
            child->Evaluate(t, true);
}

void TKivObjectProps::WalkGroup(int group, double t) {
    const std::vector<int>& keys = groupKeys_[static_cast<std::size_t>(group)];
    const int count = static_cast<int>(keys.size());
    int cursor = cursors_[static_cast<std::size_t>(group)];
    // Move on from where the pair was: a step or two during steady playback.
    while (cursor + 1 < count &&
           keyTimes_[static_cast<std::size_t>(keys[static_cast<std::size_t>(cursor + 1)])] <= t)
        ++cursor;
    while (cursor >= 0 && keyTimes_[static_cast<std::size_t>(keys[static_cast<std::size_t>(cursor)])] > t)
        --cursor;
    cursors_[static_cast<std::size_t>(group)] = cursor;

    TGroupState& state = groups_[static_cast<std::size_t>(group)];
    if (cursor < 0) {
        // Before the group's first keyframe: held at the first, fraction 0.
        state.prev = state.next = keys.front();
        state.invSpan = 0.0;
        state.fraction = 0.0;
        return;
    }
    state.prev = keys[static_cast<std::size_t>(cursor)];
    const double prevTime = keyTimes_[static_cast<std::size_t>(state.prev)];
    double span;
    if (cursor + 1 >= count) {
        // After the last keyframe the fraction runs from 0 there to 1 at the slide's End.
        state.next = state.prev;
        span = durations_.total - prevTime;
    } else {
        state.next = keys[static_cast<std::size_t>(cursor + 1)];
        span = keyTimes_[static_cast<std::size_t>(state.next)] - prevTime;
    }
    state.invSpan = span > 0.0001 ? 1.0 / span : 0.0;
    state.fraction = (t - prevTime) * state.invSpan;
}

void TKivObjectProps::RunTimeModifiers(const TKivKeyFrame& keyFrame, int group) {
    for (const TRef<TKivObjectMod>& mod : keyFrame.TimeModifiers(group))
        if (!mod->Disabled()) groups_[static_cast<std::size_t>(group)].fraction = mod->EvaluateValue();
}

void TKivObjectProps::RunValueModifiers(const TKivKeyFrame& keyFrame, int property) {
    for (const TRef<TKivObjectMod>& mod : keyFrame.ValueModifiers(property))
        if (!mod->Disabled())
            values_[static_cast<std::size_t>(property)] = ToPropertyFloat(mod->EvaluateValue());
}

void TKivObjectProps::EvaluateMany(double t) {
    t = std::max(0.0, std::min(t, durations_.total));
    for (int g = 0; g < kGroupCount; ++g)
        if ((presentGroups_ >> g) & 1u) WalkGroup(g, t);

    // Time modifiers of each group's previous keyframe reshape its fraction.
    for (int g = 0; g < kGroupCount; ++g) {
        if (!((presentGroups_ >> g) & 1u)) continue;
        const TKivKeyFrame& prev =
            *keyFrames_[static_cast<std::size_t>(groups_[static_cast<std::size_t>(g)].prev)];
        if ((prev.TimeModifierMask() >> g) & 1u) RunTimeModifiers(prev, g);
    }

    // Linear interpolation between each group's pair.
    for (int i = 0; i < kPropertyCount; ++i) {
        const int g = PropertyGroup(i);
        if (!((presentGroups_ >> g) & 1u)) {
            values_[static_cast<std::size_t>(i)] = ToPropertyFloat(PropertyDefault(i));
            continue;
        }
        const TGroupState& state = groups_[static_cast<std::size_t>(g)];
        const double a = keyFrames_[static_cast<std::size_t>(state.prev)]->Value(i);
        double value = a;
        if (state.prev != state.next) {
            const double b = keyFrames_[static_cast<std::size_t>(state.next)]->Value(i);
            value = a + (b - a) * state.fraction;
        }
        values_[static_cast<std::size_t>(i)] = ToPropertyFloat(value);
    }

    // Panning while zooming: interpolate the pan in zoomed units, so the viewed point moves evenly.
    if ((presentGroups_ >> kGroupFrame) & 1u) {
        const TGroupState& state = groups_[kGroupFrame];
        if (state.prev != state.next) {
            const TKivKeyFrame& prev = *keyFrames_[static_cast<std::size_t>(state.prev)];
            const TKivKeyFrame& next = *keyFrames_[static_cast<std::size_t>(state.next)];
            const double z0 = prev.Value(kPropFrameS);
            const double z1 = next.Value(kPropFrameS);
            const double z = values_[kPropFrameS];
            for (int i = kPropFrameX; i <= kPropFrameY; ++i) {
                const double a = prev.Value(i);
                const double b = next.Value(i);
                if (std::fabs(a - b) <= 0.0001 || std::fabs(z0 - z1) <= 0.0001) continue;
                const double c = i == kPropFrameX ? aspectX_ : aspectY_;
                const double zoomed = z * c - 1.0;
                if (!(zoomed > 0.0)) continue;
                const double w0 = z0 * c - 1.0;
                const double w1 = z1 * c - 1.0;
                values_[static_cast<std::size_t>(i)] =
                    ToPropertyFloat((w0 * a + (w1 * b - w0 * a) * state.fraction) / zoomed);
            }
        }
    }

    // Value modifiers of each property's group's previous keyframe.
    for (int i = 0; i < kPropertyCount; ++i) {
        const int g = PropertyGroup(i);
        if (!((presentGroups_ >> g) & 1u)) continue;
        const TKivKeyFrame& prev =
            *keyFrames_[static_cast<std::size_t>(groups_[static_cast<std::size_t>(g)].prev)];
        if ((prev.ValueModifierMask() >> i) & 1u) RunValueModifiers(prev, i);
    }
}

void TKivObjectProps::EvaluateOne(double t) {
    const TKivKeyFrame& keyFrame = *keyFrames_.front();
    for (int i = 0; i < kPropertyCount; ++i)
        values_[static_cast<std::size_t>(i)] = ToPropertyFloat(keyFrame.Value(i));
    for (int g = 0; g < kGroupCount; ++g) {
        TGroupState& state = groups_[static_cast<std::size_t>(g)];
        state.invSpan = 0.0;
        state.fraction = 0.0;
    }
    const double start = keyFrame.Time();
    const double span = durations_.total - start;
    if (!keyFrame.HasModifiers() || !(span > 0.0001)) return;
    t = std::min(t, durations_.total);
    if (!(t > start)) return;
    const double fraction = (t - start) / span;
    for (int g = 0; g < kGroupCount; ++g) {
        if (!keyFrame.Sets(g)) continue;
        TGroupState& state = groups_[static_cast<std::size_t>(g)];
        state.invSpan = 1.0 / span;
        state.fraction = fraction;
        if ((keyFrame.TimeModifierMask() >> g) & 1u) RunTimeModifiers(keyFrame, g);
    }
    for (int i = 0; i < kPropertyCount; ++i)
        if (keyFrame.Sets(PropertyGroup(i)) && ((keyFrame.ValueModifierMask() >> i) & 1u))
            RunValueModifiers(keyFrame, i);
}

} // namespace kiv

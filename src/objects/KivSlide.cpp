#include "objects/KivSlide.h"

#include "base/CaseFold.h"
#include "ini/IniFile.h"
#include "objects/ObjectHost.h"

#include <cmath>

namespace kiv {

namespace {

constexpr double kTan30 = 0.5773502691896258;

} // namespace

TKivSlide::TKivSlide(TKivObjectHost* host, int pass) : TKivObject(nullptr), host_(host), pass_(pass) {
    slide_ = this;
}

TKivSlide::~TKivSlide() = default;

TIniObject& TKivSlide::RootObject(TIniList& section) {
    for (int i = 0; i < section.ObjectCount(); ++i)
        if (SameTextFolded(section.Object(i)->ClassText(), "Root")) return *section.Object(i);
    return *section.AddObject("Container", "Root");
}

void TKivSlide::Build(TIniObject& root, const TKeyframeTiming& timing) {
    const bool reuse = static_cast<bool>(node_);
    TRef<TKivObjectProps> node = reuse ? node_ : MakeRef<TKivObjectProps>();
    node->Build(root, timing);
    Load(*node, reuse);
    ApplyScale();
}

void TKivSlide::SetTimes(const TSlideInfo& times, int index) {
    times_ = times;
    index_ = index;
    changed_ = true;
}

void TKivSlide::SetSize(double width, double height) {
    size_ = {std::isfinite(width) && width > 0.0 ? width : 0.0,
             std::isfinite(height) && height > 0.0 ? height : 0.0};
    changed_ = true;
}

void TKivSlide::SetScale(double scaleX, double scaleY) {
    scaleX_ = scaleX;
    scaleY_ = scaleY;
    ApplyScale();
    changed_ = true;
}

void TKivSlide::ApplyScale() {
    if (!node_) return;
    node_->SetValue(kPropScaleX, scaleX_);
    node_->SetValue(kPropScaleY, scaleY_);
}

TVec3 TKivSlide::CameraPosition() const {
    if (host_) return host_->CameraPosition();
    // The viewer looks at the slide from a distance equal to its height on screen.
    return {centre_.x, centre_.y, -size_.y * scaleY_ / 100.0};
}

double TKivSlide::TimeOrigin(int k) const {
    switch (k) {
    case 1:
        return times_.start + times_.transition;
    case 2:
        return times_.sync;
    case 3:
        return times_.end;
    default:
        return times_.start;
    }
}

const TMatrix3& TKivSlide::ParentWorld() const {
    static const TMatrix3 identity{};
    return identity;
}

bool TKivSlide::HitTest(TVec2 /*point*/, TVec2& /*local*/) const {
    return false;
}

void TKivSlide::UpdateTime(bool recursive, double t) {
    TKivObject::UpdateTime(false, t);
    ApplyScale(); // the pixel aspects stand whatever the root's keyframes say
    if (recursive)
        for (const TRef<TKivObject>& child : children_)
            child->UpdateTime(true, t);
}

void TKivSlide::Layout(bool recursive) {
    const double d = -CameraPosition().z;
    depthFactor_ = d > 0.0 && size_.y > 0.0 && std::isfinite(d) ? d * kTan30 / size_.y : kTan30;
    centrePlacement_ = TPlacement{};
    centrePlacement_.origin = {centre_.x, centre_.y, 0.0};
    TKivObject::Layout(recursive);
}

void TKivSlide::Advance(bool recursive, double t) {
    if (advanced_ && t == lastAdvance_ && !IsChanged()) return;
    TKivObject::Advance(recursive, t);
    advanced_ = true;
    lastAdvance_ = t;
}

void TKivSlide::Draw(TDeviceDrawer& drawer) {
    Commit(false);
    // While slides are captured for a slide-effect transition, a splitter divides the background
    // objects (before it, the splitter included) from the captured foreground.
    std::size_t first = 0;
    if (drawer.IsCapturingSlides() && TransparentBackground()) {
        for (std::size_t i = 0; i < children_.size(); ++i) {
            if (children_[i]->TypeCode() == kTypeSplitter) {
                first = i + 1;
                break;
            }
        }
    }
    for (std::size_t i = first; i < children_.size(); ++i)
        drawer.Draw(*children_[i]);
}

} // namespace kiv

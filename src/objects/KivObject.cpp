#include "objects/KivObject.h"

#include "base/CaseFold.h"
#include "base/ColorValue.h"
#include "base/Log.h"
#include "ini/IniFile.h"
#include "objects/KivSlide.h"
#include "objects/ObjectFactory.h"
#include "objects/ObjectHost.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <unordered_map>

namespace kiv {

namespace {

// Time comparisons of visibility allow for the rounding of show times.
constexpr double kTimeSlack = 0.00001;

constexpr std::string_view kCommonKeys[] = {
    "GUID",       "DeltaTime1",  "DeltaTime2",    "EnableAspect",   "Aspect",         "AnimEnable",
    "TreeNode",   "FitMode",     "PosMode",       "CenterMode",     "TranspForClick", "ShadowEnable",
    "ShadowSize", "ShadowColor", "ShadowOpacity", "ShadowDistance", "ShadowAngle",    "ShadowSpreadIndex",
    "3DShadow",   "HideMode",    "ChildInvis",    "Action",
};

constexpr std::string_view kFitWords[] = {"None", "PlaceInto", "Cover"};
constexpr std::string_view kUnitWords[] = {"Absolute", "Percent"};

double Clamped(double value, double limit) {
    return std::clamp(value, -limit, limit);
}

// A size component that layout can use: not a number or negative gives 0, huge ones are capped.
double SafeExtent(double value) {
    if (!(value > 0.0)) return 0.0;
    return std::min(value, kMaxObjectExtent);
}

TVec3 Normalised(TVec3 v) {
    const double length = Length(v);
    return length > 0.0 && std::isfinite(length) ? v * (1.0 / length) : TVec3{};
}

const TMatrix3 kIdentity{};

} // namespace

TKivObject::TKivObject(TKivObject* parent) : parent_(parent), slide_(parent ? parent->slide_ : nullptr) {}

TKivObject::~TKivObject() {
    if (node_ && node_->Owner() == this) node_->SetOwner(nullptr);
}

const std::string& TKivObject::Guid() const {
    static const std::string empty;
    return node_ ? node_->Guid() : empty;
}

// --- Building ---

void TKivObject::Load(TKivObjectProps& node, bool reuse) {
    if (node_.Get() != &node) {
        if (node_ && node_->Owner() == this) node_->SetOwner(nullptr);
        node_ = TRef<TKivObjectProps>::Share(&node);
    }
    node.SetOwner(this);
    SetDefaults();
    if (const TIniObject* object = node.ProjectObject()) {
        ReadKeys(*object);
        if (TLog::Enabled()) CheckKeys(*object);
    }
    BuildChildren();
    if (reuse) changed_ = true;
}

void TKivObject::SetDefaults() {
    keys_ = TKivCommonKeys{};
}

void TKivObject::LogBadValue(std::string_view key, std::string_view value) const {
    TLog::Line("Object " + Guid() + ": " + std::string(key) + "=" + std::string(value) +
               " is not understood; the default is used");
}

void TKivObject::ReadKeys(const TIniObject& object) {
    auto choice = [&](std::string_view key, std::span<const std::string_view> words, int fallback) {
        const TIniItem* item = object.FindItem(key);
        if (!item) return fallback;
        const int value = GetChoice(item, words, true, -1);
        if (value >= 0) return value;
        LogBadValue(key, item->Value());
        return fallback;
    };
    keys_.fitMode = choice("FitMode", kFitWords, kFitPlaceInto);
    keys_.posMode = choice("PosMode", kUnitWords, kUnitPercent);
    keys_.centerMode = choice("CenterMode", kUnitWords, kUnitPercent);
    keys_.transpForClick = object.GetBool("TranspForClick", keys_.transpForClick);
    keys_.shadowEnable = object.GetBool("ShadowEnable", keys_.shadowEnable);
    keys_.shadowSize = object.GetReal("ShadowSize", keys_.shadowSize);
    keys_.shadowColor = ReadColorValue(object.GetText("ShadowColor"), keys_.shadowColor);
    keys_.shadowOpacity = object.GetReal("ShadowOpacity", keys_.shadowOpacity);
    keys_.shadowDistance = object.GetReal("ShadowDistance", keys_.shadowDistance);
    keys_.shadowAngle = object.GetReal("ShadowAngle", keys_.shadowAngle);
    keys_.shadowSpreadIndex = object.GetInt32("ShadowSpreadIndex", keys_.shadowSpreadIndex);
    keys_.shadow3D = object.GetBool("3DShadow", keys_.shadow3D);
    keys_.hideMode = object.GetInt32("HideMode", keys_.hideMode);
    keys_.childInvis = object.GetBool("ChildInvis", keys_.childInvis);
    keys_.action = object.GetText("Action");
    keys_.treeNode = object.GetBool("TreeNode", keys_.treeNode);
}

bool TKivObject::IsKnownKey(std::string_view key) const {
    return std::any_of(std::begin(kCommonKeys), std::end(kCommonKeys),
                       [&](std::string_view known) { return SameTextFolded(known, key); });
}

void TKivObject::CheckKeys(const TIniObject& object) const {
    for (int i = 0; i < object.Count(); ++i) {
        const TIniItem* item = object.Item(i);
        if (!item->IsKey() || IsKnownKey(item->Name())) continue;
        TLog::Line("Object " + Guid() + " (" + std::string(object.ClassText()) + "): unknown key " +
                   std::string(item->Name()) + " ignored");
    }
}

void TKivObject::BuildChildren() {
    std::vector<TRef<TKivObject>> old = std::move(children_);
    children_.clear();
    if (!node_) return;
    for (int i = 0; i < node_->ChildCount(); ++i) {
        TKivObjectProps& childNode = *node_->Child(i);
        TKivObject* owner = childNode.Owner();
        // Usually the object stands where it stood before; otherwise search for it.
        auto found = old.end();
        if (owner) {
            const std::size_t hint = static_cast<std::size_t>(i);
            if (hint < old.size() && old[hint].Get() == owner)
                found = old.begin() + i;
            else
                found = std::find_if(old.begin(), old.end(),
                                     [&](const TRef<TKivObject>& o) { return o.Get() == owner; });
        }
        if (found != old.end()) {
            children_.push_back(std::move(*found));
            children_.back()->Load(childNode, true);
            continue;
        }
        TRef<TKivObject> child = CreateKivObject(childNode.TypeCode(), *this);
        if (!child) {
            TLog::Line("Object " + childNode.Guid() + " of class \"" + childNode.ClassWord() +
                       "\" is not drawn: no object class for it");
            continue;
        }
        child->Load(childNode, false);
        children_.push_back(std::move(child));
    }
}

// --- Environment ---

TKivObjectHost* TKivObject::Host() const {
    const TKivSlide* slide = Slide();
    return slide ? slide->Host() : nullptr;
}

bool TKivObject::HostAccepts() const {
    const TKivObjectHost* host = Host();
    return host && host->AcceptsObject(*this);
}

double TKivObject::TimeOrigin(int k) const {
    const TKivSlide* slide = Slide();
    return slide ? slide->TimeOrigin(k) : 0.0;
}

TVec2 TKivObject::ParentSize() const {
    return parent_ ? parent_->ContentSize() : TVec2{};
}

const TPlacement& TKivObject::ParentPlacement() const {
    static const TPlacement none{};
    return parent_ ? parent_->Placement() : none;
}

const TMatrix3& TKivObject::ParentWorld() const {
    return parent_ ? parent_->World() : kIdentity;
}

double TKivObject::Value(int property) const {
    if (!node_) return PropertyDefault(property);
    const double value = node_->Value(property);
    // Every ordinary value takes this path: within it nothing needs clamping.
    if (std::fabs(value) <= 1000.0) return value;
    if (std::isnan(value)) return PropertyDefault(property);
    switch (property) {
    case kPropAngle:
    case kPropAngleX:
    case kPropAngleY:
        // Whole turns change nothing; dropping them keeps sine and cosine exact for huge angles.
        if (std::fabs(value) <= 1e5) return value;
        return std::isfinite(value) ? std::fmod(value, 360.0) : 0.0;
    case kPropBlur:
        return Clamped(value, 1000.0);
    default:
        return Clamped(value, kMaxPropertyMagnitude);
    }
}

// --- Time and layout ---

void TKivObject::UpdateTime(bool recursive, double t) {
    const TKivSlide* slide = Slide();
    const double start = slide ? slide->Times().start : 0.0;
    const double end = slide ? slide->Times().end : 0.0;
    bool visible = true;
    if (node_) {
        node_->Evaluate(t - start, false);
        visible =
            t - (start + node_->DeltaTime1()) > -kTimeSlack && t - (end - node_->DeltaTime2()) < kTimeSlack;
    }
    if (visible != visibleNow_) changed_ = true;
    visibleNow_ = visible;
    if (recursive)
        for (const TRef<TKivObject>& child : children_)
            child->UpdateTime(true, t);
}

double TKivObject::FitFactor(TVec2 s, TVec2 p) const {
    if (!(s.x > 0.0) || !(s.y > 0.0)) return 0.0;
    switch (keys_.fitMode) {
    case kFitCover:
        return std::max(p.x / s.x, p.y / s.y);
    case kFitNone:
        return 1.0; // no rule: the object keeps its own size
    default:
        return std::min(p.x / s.x, p.y / s.y);
    }
}

void TKivObject::UpdateAngles() {
    const std::array<double, 3> angles{Value(kPropAngleX), Value(kPropAngleY), Value(kPropAngle)};
    for (std::size_t i = 0; i < 3; ++i) {
        if (angles[i] == angles_[i]) continue;
        angles_[i] = angles[i];
        SinCosDegrees(angles[i], sin_[i], cos_[i]);
    }
}

void TKivObject::Layout(bool recursive) {
    const TVec2 parentSize = ParentSize();
    const TVec2 contentSize = ContentSize();
    const TVec2 p{SafeExtent(parentSize.x), SafeExtent(parentSize.y)};
    const TVec2 s{SafeExtent(contentSize.x), SafeExtent(contentSize.y)};
    size_ = s;

    const double k = FitFactor(s, p);
    const double sx = Clamped(Value(kPropScaleX) * k * 0.01, kMaxObjectExtent);
    const double sy = Clamped(Value(kPropScaleY) * k * 0.01, kMaxObjectExtent);
    scale_ = {std::isfinite(sx) ? sx : 0.0, std::isfinite(sy) ? sy : 0.0};

    UpdateAngles();
    const double sinX = sin_[0], cosX = cos_[0];
    const double sinY = sin_[1], cosY = cos_[1];
    const double sinZ = sin_[2], cosZ = cos_[2];
    TMatrix3 local;
    local.m[0] = TVec3{cosY * cosZ, cosY * sinZ, sinY} * scale_.x;
    local.m[1] =
        TVec3{sinX * sinY * cosZ - cosX * sinZ, sinX * sinY * sinZ + cosX * cosZ, -sinX * cosY} * scale_.y;
    local.m[2] =
        TVec3{-(cosX * sinY * cosZ + sinX * sinZ), -cosX * sinY * sinZ + sinX * cosZ, cosX * cosY} * scale_.y;
    const TMatrix3 world = local * ParentWorld();

    const TKivSlide* slide = Slide();
    const double depthFactor = slide ? slide->DepthFactor() : 1.0;
    // Written in place: a copy of the whole record would read back the stores just made.
    TPlacement& placement = placement_;
    placement.axisX = {world.m[0].x, world.m[0].y, world.m[0].z * depthFactor};
    placement.axisY = {world.m[1].x, world.m[1].y, world.m[1].z * depthFactor};
    placement.axisZ = {world.m[2].x, world.m[2].y, world.m[2].z * depthFactor};

    TVec3 anchor;
    if (keys_.posMode == kUnitAbsolute)
        anchor = {Value(kPropPosX), Value(kPropPosY), Value(kPropPosZ) * p.y / 200.0};
    else
        anchor = {Value(kPropPosX) * p.x * 0.005, Value(kPropPosY) * p.y * 0.005,
                  Value(kPropPosZ) * p.y / 200.0};
    const TPlacement& parent = ParentPlacement();
    placement.origin = parent.Apply(anchor.x, anchor.y, anchor.z);
    placement.depth = placement.origin.z;
    const TVec3 normal = Cross(placement.axisX, placement.axisY);
    const double area2 = Dot(normal, normal); // the squared area of a unit square of the object
    // Not-a-number and infinities carry through a sum: one test covers every component.
    const double all = area2 + placement.origin.x + placement.origin.y + placement.origin.z +
                       placement.axisZ.x + placement.axisZ.y + placement.axisZ.z;
    placement.valid = parent.valid && std::isfinite(all) && area2 > 1e-24;
    world_ = world;

    if (keys_.centerMode == kUnitAbsolute)
        pivot_ = {-s.x / 2 - Value(kPropCenterX), -s.y / 2 - Value(kPropCenterY)};
    else
        pivot_ = {-s.x / 2 - Value(kPropCenterX) * s.x * 0.005, -s.y / 2 - Value(kPropCenterY) * s.y * 0.005};

    // HideMode: which side of the object the viewer sees.
    hiddenSelf_ = false;
    if (keys_.hideMode != 0 && placement.valid) {
        const bool back = SeesBack(placement, slide ? slide->CameraPosition() : TVec3{0, 0, -1});
        hiddenSelf_ = back ? (keys_.hideMode & 1) != 0 : keys_.hideMode > 1;
    }
    hiddenByParent_ = (keys_.childInvis && hiddenSelf_) || (parent_ && parent_->hiddenByParent_);

    if (!changed_ && (committed_.opacity != Value(kPropOpacity) || committed_.blur != Value(kPropBlur) ||
                      !(committed_.content == ContentRect()) || !(committed_.placement == placement_) ||
                      committed_.pivot.x != pivot_.x || committed_.pivot.y != pivot_.y))
        changed_ = true;

    if (recursive)
        for (const TRef<TKivObject>& child : children_)
            child->Layout(true);
}

void TKivObject::Advance(bool recursive, double t) {
    UpdateTime(recursive, t);
    Layout(recursive);
}

void TKivObject::Commit(bool recursive) {
    if (changed_ || contentChanged_)
        if (TKivObjectHost* host = Host()) host->ObjectChanged(*this);
    committed_.opacity = Value(kPropOpacity);
    committed_.blur = Value(kPropBlur);
    committed_.content = ContentRect();
    committed_.placement = placement_;
    committed_.pivot = pivot_;
    changed_ = false;
    contentChanged_ = false;
    if (recursive)
        for (const TRef<TKivObject>& child : children_)
            child->Commit(true);
}

std::array<TVec3, 4> TKivObject::Corners() const {
    return {placement_.Apply(pivot_.x, pivot_.y), placement_.Apply(pivot_.x + size_.x, pivot_.y),
            placement_.Apply(pivot_.x + size_.x, pivot_.y + size_.y),
            placement_.Apply(pivot_.x, pivot_.y + size_.y)};
}

std::array<TVec3, 4> TKivObject::CornersPushed(double distance) const {
    std::array<TVec3, 4> corners = Corners();
    const TVec3 dx = Normalised(placement_.axisX) * distance;
    const TVec3 dy = Normalised(placement_.axisY) * distance;
    corners[0] = corners[0] - dx - dy;
    corners[1] = corners[1] + dx - dy;
    corners[2] = corners[2] + dx + dy;
    corners[3] = corners[3] - dx + dy;
    return corners;
}

bool TKivObject::DrawnNow() const noexcept {
    return visibleNow_ && !hiddenSelf_ && !hiddenByParent_ && placement_.valid;
}

// --- Drawing ---

bool TKivObject::IsChanged() const {
    if (TDrawItem::IsChanged()) return true;
    return std::any_of(children_.begin(), children_.end(),
                       [](const TRef<TKivObject>& c) { return c->IsChanged(); });
}

float TKivObject::GetBlur() const {
    const TKivSlide* slide = Slide();
    const double width = slide ? slide->Size().x : 0.0;
    return static_cast<float>(width * Value(kPropBlur));
}

void TKivObject::AfterDraw(TDeviceDrawer& drawer) {
    for (const TRef<TKivObject>& child : children_)
        child->AfterDraw(drawer);
}

float TKivObject::EffectiveOpacity() const {
    const TKivSlide* slide = Slide();
    const double slideOpacity = slide ? slide->SlideOpacity() : 100.0;
    return static_cast<float>(std::clamp(slideOpacity * Value(kPropOpacity) / 100.0, 0.0, 100.0));
}

void TKivObject::Draw(TDeviceDrawer& drawer) {
    if (DrawnNow()) {
        try {
            Produce(drawer);
        } catch (const std::exception& failure) {
            TLog::Line("Object " + Guid() + " skipped in this frame: " + failure.what());
        }
    }
    Commit(false);
    // A child may be freed by a rebuild only on the loader thread, never during a frame.
    for (const TRef<TKivObject>& child : children_)
        drawer.Draw(*child);
}

void TKivObject::PreloadBegin(TDeviceDrawer& drawer) {
    if (!drawer.IsReady()) return;
    for (const TRef<TKivObject>& child : children_)
        child->PreloadBegin(drawer);
}

void TKivObject::PreloadEx(TDeviceDrawer& drawer, double t) {
    if (!drawer.IsReady()) return;
    for (const TRef<TKivObject>& child : children_)
        child->PreloadEx(drawer, t);
}

void TKivObject::ReleaseDevice(TDeviceDrawer& drawer) {
    for (const TRef<TKivObject>& child : children_)
        child->ReleaseDevice(drawer);
}

// --- Pointer ---

bool TKivObject::HitTest(TVec2 point, TVec2& local) const {
    const TKivSlide* slide = Slide();
    if (!slide) return false;
    const TPlacement* placement = &placement_;
    TPlacement fromSlide;
    if (!placement_.valid) {
        if (!HostAccepts()) return false;
        // In the plane of the slide, at the slide's scale, anchored at the slide's centre.
        fromSlide = slide->Placement();
        placement = &fromSlide;
    }
    TVec2 hit;
    if (!IntersectPlane(*placement, slide->CameraPosition(), TVec3{point.x, point.y, 0.0}, hit)) return false;
    local = hit;
    return hit.x >= pivot_.x && hit.x <= pivot_.x + size_.x && hit.y >= pivot_.y &&
           hit.y <= pivot_.y + size_.y;
}

void TKivObject::SetPressed(bool pressed) {
    if (pressed == pressed_) return;
    pressed_ = pressed;
    contentChanged_ = true;
}

void TKivObject::SetPointerState(int state) {
    if (state == pointerState_) return;
    pointerState_ = state;
    contentChanged_ = true;
}

TKivObject* TKivObject::FindAt(TVec2 point, const THitFilter& filter) {
    for (auto child = children_.rbegin(); child != children_.rend(); ++child)
        if (TKivObject* hit = (*child)->FindAt(point, filter)) return hit;
    TVec2 local;
    if (visibleNow_ && !hiddenSelf_ && !hiddenByParent_ && HitTest(point, local) &&
        (!filter || filter(*this)))
        return this;
    return nullptr;
}

} // namespace kiv

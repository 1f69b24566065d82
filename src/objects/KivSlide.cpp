#include "objects/KivSlide.h"

#include "base/CaseFold.h"
#include "base/ColorValue.h"
#include "base/Log.h"
#include "images/BitmapStore.h"
#include "images/Placeholder.h"
#include "ini/IniFile.h"
#include "objects/KivImage.h"
#include "objects/ObjectHost.h"
#include "package/LoadCallback.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>

namespace kiv {

namespace {

constexpr double kTan30 = 0.5773502691896258;
// More tiles than this a side means a tile size too small to be meant.
constexpr int kMaxTilesPerSide = 256;

template <class TVisit> void ForEachObject(TKivObject& object, const TVisit& visit) {
    visit(object);
    for (int i = 0; i < object.ChildCount(); ++i)
        ForEachObject(*object.Child(i), visit);
}

template <class TVisit> void ForEachNode(const TKivObjectProps& node, const TVisit& visit) {
    visit(node);
    for (int i = 0; i < node.ChildCount(); ++i)
        ForEachNode(*node.Child(i), visit);
}

double Distance(TVec3 a, TVec3 b) {
    return Length(a - b);
}

} // namespace

TVec2 BackgroundTileSize(TVec2 slide, int width, int height, double sizePercent) {
    if (width <= 0 || height <= 0 || !(slide.x > 0.0) || !(slide.y > 0.0) || !std::isfinite(sizePercent))
        return {};
    const double w = width;
    const double h = height;
    if (slide.x / slide.y >= w / h) {
        const double tw = slide.x * sizePercent / 100.0;
        return {tw, tw * h / w};
    }
    const double th = slide.y * sizePercent / 100.0;
    return {th * w / h, th};
}

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
    currentTime_ = t;
    TKivObject::UpdateTime(false, t);
    ApplyScale(); // the pixel aspects stand whatever the root's keyframes say
    if (recursive)
        for (const TRef<TKivObject>& child : children_)
            child->UpdateTime(true, t);
}

void TKivSlide::Layout(bool recursive) {
    if (!prePassDone_ && !prePassRunning_) RunPrePass();
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

// --- Background ---

TSlideBackground TKivSlide::ReadBackground(const TIniList& section, const TIniList* main) {
    const TIniList* from = &section;
    std::string prefix;
    if (section.GetInt32("bstyle", 0) == 0) {
        from = main;
        prefix = "opt_";
    }
    TSlideBackground background;
    if (!from) return background;
    auto text = [&](const char* key) { return std::string(from->GetText(prefix + key)); };
    auto color = [&](const char* key) { return ReadColorValue(text(key), 0xFF000000u); };
    switch (from->GetInt32(prefix + "bstyle", 0)) {
    case 1:
        background.color1 = background.color2 = color("bcolor");
        break;
    case 2:
        background.color1 = background.color2 = color("bcolor");
        background.picture = text("bfn");
        background.size = from->GetReal(prefix + "bsize", 100.0);
        if (!background.picture.empty()) background.kind = kBackgroundPicture;
        break;
    case 3: {
        const int style = from->GetInt32(prefix + "bcolorstyle", 0);
        background.color1 = color("bcolor1");
        background.color2 = color("bcolor2");
        if (style == 1 || style == 2) {
            background.kind = style == 1 ? kBackgroundVGradient : kBackgroundHGradient;
        } else {
            background.color1 = background.color2 = color("bcolor");
        }
        break;
    }
    default:
        break; // black
    }
    return background;
}

void TKivSlide::SetBackground(const TSlideBackground& background) {
    background_ = background;
    hasBackground_ = true;
    changed_ = true;
}

void TKivSlide::SetSecondBackground(const TSlideBackground& background, double crossFade) {
    second_ = background;
    hasSecond_ = true;
    crossFade_ = std::isfinite(crossFade) ? std::clamp(crossFade, 0.0, 1.0) : 0.0;
    changed_ = true;
}

void TKivSlide::BorrowObjects(TKivSlide* first, TKivSlide* second) {
    // A slide never borrows itself: it would draw its own objects twice.
    borrowedFirst_ = first && first != this ? TRef<TKivSlide>::Share(first) : TRef<TKivSlide>{};
    borrowedSecond_ = second && second != this ? TRef<TKivSlide>::Share(second) : TRef<TKivSlide>{};
    changed_ = true;
}

TImage* TKivSlide::BackgroundPicture(const TSlideBackground& background) {
    if (background.kind != kBackgroundPicture || background.picture.empty()) return nullptr;
    for (TKeptPicture& kept : kept_)
        if (kept.image && kept.name == background.picture) return kept.image.Get();
    TRef<TImage> image;
    if (host_) {
        try {
            image = host_->LoadPicture(background.picture);
        } catch (const std::exception& failure) {
            TLog::Line("Background " + background.picture + " could not be loaded: " + failure.what());
        }
    }
    if (!image || image->Width() <= 0 || image->Height() <= 0) {
        TLog::Line("Background " + background.picture + " is missing; the placeholder is tiled");
        try {
            image = MakeRef<TImage>(MakePlaceholderStore(background.picture, TPlaceholderKind::Image, false));
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    image = ReducedBackground(std::move(image), background);
    // At most two pictures are kept: the older one goes.
    if (kept_[0].image && kept_[1].image && preloadedOn_) preloadedOn_->ReleaseImage(*kept_[0].image);
    if (kept_[0].image) kept_[1] = std::move(kept_[0]);
    kept_[0] = {background.picture, image, PictureProfileTable(*image)};
    return kept_[0].image.Get();
}

TRef<TImage> TKivSlide::ReducedBackground(TRef<TImage> picture, const TSlideBackground& background) {
    // Halved while at least twice its tile both ways; the reduced copy is shared by name.
    const TVec2 tile = BackgroundTileSize(Size(), picture->Width(), picture->Height(), background.size);
    if (!host_ || !(tile.x > 0.0) || !(tile.y > 0.0) || !std::isfinite(tile.x + tile.y)) return picture;
    int level = 0;
    double w = picture->Width(), h = picture->Height();
    while (level < 16 && w >= 2 * tile.x && h >= 2 * tile.y) {
        w = std::ceil(w / 2);
        h = std::ceil(h / 2);
        ++level;
    }
    if (level == 0) return picture;
    char size[32];
    std::snprintf(size, sizeof size, "%g", background.size);
    const std::string name = std::string("SlideBg: ") + size + ":" + background.picture;
    TRef<TImage> reduced;
    try {
        reduced = host_->DerivedPicture(name, [&]() -> TRef<TImage> {
            TRef<TBitmap> bitmap = picture->Store().GetMipLevel(level, TPixelFormat::Bgra32);
            if (!bitmap) return nullptr;
            auto store = MakeRef<TWrapperBitmapStore>(name, std::move(bitmap));
            store->SetProfile(picture->Store().Profile()); // the colours are still the picture's
            return MakeRef<TImage>(std::move(store));
        });
    } catch (const std::exception& failure) {
        TLog::Line("Background " + background.picture + " cannot be reduced: " + failure.what());
    }
    return reduced ? reduced : picture;
}

void TKivSlide::DrawBackground(TDeviceDrawer& drawer, const TSlideBackground& background, int alpha) {
    if (alpha <= 0) return;
    const TPlacement& placement = Placement();
    const TVec2 size = Size();
    if (!placement.valid || !(size.x > 0.0) || !(size.y > 0.0)) return;
    const float opacity = static_cast<float>(alpha / 2.55);
    auto managed = [&](std::uint32_t argb) { return host_ ? host_->ManageColor(argb) : argb; };
    TBoxParams box;
    box.opacity = opacity;
    switch (background.kind) {
    case kBackgroundVGradient:
    case kBackgroundHGradient:
        box.fillStyle = background.kind == kBackgroundVGradient ? kFillVertical : kFillHorizontal;
        box.color1 = managed(background.color1) | 0xFF000000u;
        box.color2 =
            background.color2 == background.color1 ? box.color1 : managed(background.color2) | 0xFF000000u;
        box.size = size;
        drawer.DrawBox(placement.origin, TVec2{size.x / 2, size.y / 2}, box, placement.axisX,
                       placement.axisY);
        return;
    case kBackgroundPicture: {
        TImage* picture = BackgroundPicture(background);
        if (!picture) return;
        const TVec2 tile = BackgroundTileSize(size, picture->Width(), picture->Height(), background.size);
        if (!(tile.x > 0.0) || !(tile.y > 0.0) || !std::isfinite(tile.x + tile.y)) return;
        const double columns = std::ceil(size.x / tile.x / 2);
        const double rows = std::ceil(size.y / tile.y / 2);
        if (columns > kMaxTilesPerSide || rows > kMaxTilesPerSide) {
            TLog::Line("Background " + background.picture + ": tiles too small to draw");
            return;
        }
        const int m = static_cast<int>(columns);
        const int k = static_cast<int>(rows);
        const double unitX = tile.x / picture->Width();
        const double unitY = tile.y / picture->Height();
        TPictureDrawParams params;
        params.opacity = opacity;
        // A picture at least twice the tile each way is drawn from a halved copy.
        int level = 0;
        double w = picture->Width(), h = picture->Height();
        const double tilePixelsX = tile.x * Length(placement.axisX);
        const double tilePixelsY = tile.y * Length(placement.axisY);
        while (level < 16 && w >= 2 * tilePixelsX && h >= 2 * tilePixelsY) {
            w = std::ceil(w / 2);
            h = std::ceil(h / 2);
            ++level;
        }
        params.level = level;
        for (const TKeptPicture& kept : kept_)
            if (kept.image.Get() == picture && kept.profile) {
                params.gradingMode = 1; // the picture's colours converted to the display's
                params.gradingFrom = params.gradingTo = kept.profile.get();
            }
        const TVec3 axisX = placement.axisX * unitX;
        const TVec3 axisY = placement.axisY * unitY;
        const TVec2 anchor{picture->Width() / 2.0, picture->Height() / 2.0};
        for (int j = -k; j <= k; ++j)
            for (int i = -m; i <= m; ++i)
                drawer.DrawImage(*picture, placement.Apply(i * tile.x, j * tile.y), params, axisX, axisY,
                                 anchor);
        return;
    }
    default:
        box.fillStyle = kFillSolid;
        box.color1 = box.color2 = managed(background.color1) | 0xFF000000u;
        box.size = {size.x + 4.0, size.y + 4.0};
        drawer.DrawBox(placement.origin, TVec2{size.x / 2 + 2.0, size.y / 2 + 2.0}, box, placement.axisX,
                       placement.axisY);
        return;
    }
}

void TKivSlide::DrawChildren(TDeviceDrawer& drawer, const TKivSlide& slide, bool borrowed) {
    const bool clearOffset = borrowed && effectSlide_ && drawer.OffsetActive();
    const TVec2 offset = drawer.Offset();
    if (clearOffset) drawer.SetOffset({});
    for (const TRef<TKivObject>& child : slide.children_)
        drawer.Draw(*child);
    if (clearOffset) drawer.SetOffset(offset);
}

void TKivSlide::Draw(TDeviceDrawer& drawer) {
    if (!TransparentBackground()) {
        const int a = static_cast<int>(std::nearbyint((1.0 - crossFade_) * 255.0));
        const bool layered = hasSecond_ && borrowedSecond_;
        TLayerTarget* layer = nullptr;
        if (layered) {
            layer = drawer.BeginLayerTarget();
            DrawBackground(drawer, second_, 255);
            DrawChildren(drawer, *borrowedSecond_, true);
            drawer.EndLayerTarget();
        }
        if (hasBackground_) DrawBackground(drawer, background_, 255);
        if (borrowedFirst_) DrawChildren(drawer, *borrowedFirst_, true);
        if (layered)
            drawer.DrawLayerTarget(layer, 255 - a);
        else if (hasSecond_)
            DrawBackground(drawer, second_, 255 - a);
        else if (borrowedSecond_)
            DrawChildren(drawer, *borrowedSecond_, true);
    }
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

namespace kiv {

// --- Pre-pass ---

void TKivSlide::RunPrePass() {
    if (prePassRunning_) return;
    prePassRunning_ = true;
    // One time per distinct keyframe time, in the order found.
    std::vector<double> times;
    if (node_)
        ForEachNode(*node_, [&](const TKivObjectProps& node) {
            for (int i = 0; i < node.KeyFrameCount(); ++i) {
                const double t = node.KeyFrame(i).Time();
                if (std::isfinite(t) && std::find(times.begin(), times.end(), t) == times.end())
                    times.push_back(t);
            }
        });
    if (times.empty()) times.push_back(0.0); // a still slide is seen as it stands at its start
    ForEachObject(*this, [](TKivObject& object) { object.PrePass() = TPrePassExtent{}; });
    const double now = currentTime_;
    for (double t : times) {
        TKivObject::Advance(true, t + times_.start);
        if (!CallProcessLoadHook()) break;
        ForEachObject(*this, [](TKivObject& object) {
            const std::array<TVec3, 4> c = object.Corners();
            const double zoom = std::clamp(object.Value(kPropFrameS), 0.0, kMaxObjectExtent) / 100.0;
            const double w = std::max(Distance(c[0], c[1]), Distance(c[3], c[2])) * zoom;
            const double h = std::max(Distance(c[0], c[3]), Distance(c[1], c[2])) * zoom;
            TPrePassExtent& extent = object.PrePass();
            if (std::isfinite(w)) extent.maxWidth = std::max(extent.maxWidth, w);
            if (std::isfinite(h)) extent.maxHeight = std::max(extent.maxHeight, h);
            for (const TVec3& corner : c)
                if (std::isfinite(corner.z)) extent.minDepth = std::min(extent.minDepth, corner.z);
        });
    }
    TKivObject::Advance(true, now);
    const double cz = CameraPosition().z;
    ForEachObject(*this, [&](TKivObject& object) {
        TPrePassExtent& extent = object.PrePass();
        double q = 1.0;
        if (extent.minDepth > cz && cz != 0.0) q = 1.0 / (1.0 - extent.minDepth / cz);
        if (!std::isfinite(q) || q <= 0.0) q = 1.0;
        extent.projected = {extent.maxWidth * q, extent.maxHeight * q};
    });
    prePassDone_ = true;
    prePassRunning_ = false;
}

// --- Pointer ---

TSlideMouseResult TKivSlide::HandleMouse(int modifiers, TVec2 point, int kind, int button) {
    auto hasStates = [](const TKivObject& object) {
        return object.TypeCode() == kTypeText || object.TypeCode() == kTypeButton;
    };
    TSlideMouseResult result;
    TKivObject* hit = nullptr;
    if (modifiers == 0 || modifiers == kMouseLeftHeld) {
        hit = FindAt(point, [](const TKivObject& object) { return !object.Keys().transpForClick; });
        if (hit == this) hit = nullptr;
    }
    // A button's caption stands for its button: the glyphs are part of the button's face.
    if (hit && hit->Keys().action.empty() && hit->TypeCode() == kTypeText) {
        TKivObject* parent = hit->Parent();
        if (parent && parent->TypeCode() == kTypeButton && parent->ChildCount() > 0 && parent->Child(0) == hit)
            hit = parent;
    }
    result.object = hit;
    const std::string action = hit ? hit->Keys().action : std::string();
    const bool stated = hit && hasStates(*hit) && !action.empty();
    int state = kPointerNormal;
    if (stated) {
        if (kind == kMouseMove)
            state = modifiers == kMouseLeftHeld ? kPointerClick : kPointerHover;
        else if (kind == kMousePress && button == kMouseLeftButton)
            state = kPointerClick;
        else if (kind == kMouseRelease && button == kMouseLeftButton)
            state = kPointerHover;
    }
    // Every object takes its new state once (the hit one, and the caption with its button), so
    // that only a real change marks it changed.
    TKivObject* caption = hit && hit->TypeCode() == kTypeButton && hit->ChildCount() > 0 ? hit->Child(0) : nullptr;
    ForEachObject(*this, [&](TKivObject& object) {
        if (!hasStates(object)) return;
        object.SetPointerState(&object == hit || &object == caption ? state : kPointerNormal);
    });
    if (modifiers != 0 && modifiers != kMouseLeftHeld) return result;
    if (hit) {
        if (stated) {
            if (kind == kMousePress && button == kMouseLeftButton) {
                hit->SetPressed(true);
            } else if (kind == kMouseRelease && button == kMouseLeftButton) {
                result.fired = hit->Pressed();
                hit->SetPressed(false);
            }
        } else if (kind == kMousePress) {
            hit->SetPressed(true);
        } else if (kind == kMouseRelease) {
            result.fired = hit->Pressed();
            hit->SetPressed(false);
        }
        if (result.fired) result.action = action;
    }
    // A release ends every press: a press elsewhere never completes a later click here.
    if (kind == kMouseRelease) ForEachObject(*this, [](TKivObject& object) { object.SetPressed(false); });
    return result;
}

// --- Device ---

void TKivSlide::PreloadBegin(TDeviceDrawer& drawer) {
    if (!drawer.IsReady() || preloadedOn_ == &drawer) return;
    Layout(true);
    if (TImage* picture = hasBackground_ ? BackgroundPicture(background_) : nullptr) {
        TPictureDrawParams params;
        drawer.PreloadImage(*picture, params);
    }
    TKivObject::PreloadBegin(drawer);
    preloadedOn_ = &drawer;
}

void TKivSlide::ReleaseDevice(TDeviceDrawer& drawer) {
    for (TKeptPicture& kept : kept_)
        if (kept.image) drawer.ReleaseImage(*kept.image);
    TKivObject::ReleaseDevice(drawer);
    preloadedOn_ = nullptr;
}

} // namespace kiv

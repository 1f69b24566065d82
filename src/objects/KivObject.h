// TKivObject: a visual object of a slide — frames and boxes, images, texts, buttons, videos, view
// ports and masks, and the slide itself at the root. An object is placed in the space of its parent
// by the current values of its property node (ObjectProps.h): position, scale, rotation about three
// axes, pivot, opacity, blur and the zoom and pan of its content. Each frame the tree is advanced
// (UpdateTime, then Layout) and drawn through a TDeviceDrawer.
//
// Bad show content never stops a slide: unknown keys and unrecognised words are logged and read as
// their defaults, and absurd values (not a number, 1e9 %, negative sizes) are clamped to a drawable
// range or leave the object without a valid placement, so that it is skipped.
//
// Threads: built on the slide loader thread, then advanced, drawn and hit-tested on the engine
// thread, never by two threads at once.
#pragma once

#include "objects/DeviceDrawer.h"
#include "objects/DrawItem.h"
#include "objects/Geometry.h"
#include "objects/ObjectProps.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

class TIniObject;
class TKivObjectHost;
class TKivSlide;

enum TFitMode : int { kFitNone = 0, kFitPlaceInto = 1, kFitCover = 2 };
enum TUnitMode : int { kUnitAbsolute = 0, kUnitPercent = 1 };

// The keys every object reads, with their defaults.
struct TKivCommonKeys {
    int fitMode = kFitPlaceInto;
    int posMode = kUnitPercent;
    int centerMode = kUnitPercent;
    bool transpForClick = false;
    bool shadowEnable = false;
    double shadowSize = 16.0;
    std::uint32_t shadowColor = 0xFF000000u; // ARGB as read
    double shadowOpacity = 59.0;
    double shadowDistance = 1.5;
    double shadowAngle = 45.0;
    int shadowSpreadIndex = 0;
    bool shadow3D = false;
    int hideMode = 0; // bit 0: hide while the back is seen; above 1: hide while the front is seen
    bool childInvis = false;
    std::string action;
    bool treeNode = true;
};

// The largest size an object reaches on screen over its slide's keyframes, gathered by the slide's
// pre-pass before its first frame (picture levels and text rasterising use it).
struct TPrePassExtent {
    double maxWidth = 0.0;
    double maxHeight = 0.0;
    double minDepth = 1000000.0;
    TVec2 projected; // maximal width and height with the perspective of the nearest depth
};

class TKivObject : public TDrawItem {
public:
    using THitFilter = std::function<bool(const TKivObject&)>;

    // `parent` is null only for a slide. The object does not add itself to the parent: the
    // parent's BuildChildren does.
    explicit TKivObject(TKivObject* parent);

    // --- Tree ---
    TKivObject* Parent() const noexcept { return parent_; }
    int ChildCount() const noexcept { return static_cast<int>(children_.size()); }
    TKivObject* Child(int index) const { return children_[static_cast<std::size_t>(index)].Get(); }
    TKivObjectProps* Node() const noexcept { return node_.Get(); }
    int TypeCode() const noexcept { return node_ ? node_->TypeCode() : kTypeNone; }
    const std::string& Guid() const;
    const TKivCommonKeys& Keys() const noexcept { return keys_; }

    // --- Building (loader thread) ---
    // Takes `node` as the object's property node, resets the defaults, reads the keys of the node's
    // project object and builds the children. With `reuse` the object was already built from this
    // node before (a rebuild of the slide).
    void Load(TKivObjectProps& node, bool reuse);
    // Creates (or reuses) one object per child node, in node order, through the object factories.
    // Nodes whose type creates nothing are skipped; objects whose nodes are gone are freed.
    virtual void BuildChildren();

    // --- Per frame (engine thread) ---
    // Evaluates the node at `t` (show ms) − the slide's Start and decides visibility in time.
    virtual void UpdateTime(bool recursive, double t);
    // Places the object from its current values and its parent's placement.
    virtual void Layout(bool recursive);
    virtual void Advance(bool recursive, double t);
    // Remembers the drawn state; later changes set the changed flag.
    void Commit(bool recursive);

    // --- Drawing ---
    bool IsChanged() const override;
    float GetBlur() const override;
    void AfterDraw(TDeviceDrawer& drawer) override;
    // Produces the object when it is drawn now (a failure is logged and skips it), commits, and
    // hands every child to the drawer.
    void Draw(TDeviceDrawer& drawer) override;
    // Percent 0 … 100: the slide's opacity × the own Opacity ÷ 100. The parent's opacity does
    // not enter.
    virtual float EffectiveOpacity() const;
    // Loads what the object needs and has the drawer upload it ahead of drawing; then the children.
    virtual void PreloadBegin(TDeviceDrawer& drawer);
    virtual void PreloadEx(TDeviceDrawer& drawer, double t);
    // Hands every picture the object holds to the drawer's release; then the children.
    virtual void ReleaseDevice(TDeviceDrawer& drawer);

    // --- Pointer ---
    // Whether the ray from the camera through the screen point meets the object's rectangle;
    // `local` gets the point in the object's axes (relative to its anchor).
    virtual bool HitTest(TVec2 point, TVec2& local) const;
    // The last drawn object under the point (children before their parent, last child first)
    // that the filter accepts, or none. Objects not drawn now are not hit; their children can be.
    TKivObject* FindAt(TVec2 point, const THitFilter& filter = {});
    // A change of either pointer state marks the object changed: it looks different, and a frame
    // must be drawn even while the clock stands.
    virtual void SetPressed(bool pressed);
    bool Pressed() const noexcept { return pressed_; }
    // Normal 0, hover 1 or click 2: the pointer state texts and buttons show (their slide sets it).
    virtual void SetPointerState(int state);
    int PointerState() const noexcept { return pointerState_; }

    // --- Environment ---
    // The root of the tree (for a slide, itself); none for an object outside a slide.
    TKivSlide* Slide() const noexcept { return slide_; }
    virtual TKivObjectHost* Host() const;
    // Asks the host whether this object takes part although it has no valid placement.
    bool HostAccepts() const;
    // Moment k of the slide (0 Start, 1 end of the incoming transition, 2 Sync, 3 End), show ms.
    virtual double TimeOrigin(int k) const;
    // Width and height of the space the object is laid into: its parent's size.
    virtual TVec2 ParentSize() const;
    // The frame the object's anchor position is expressed in: its parent's placement.
    virtual const TPlacement& ParentPlacement() const;
    // The parent's world matrix (unscaled in depth).
    virtual const TMatrix3& ParentWorld() const;
    // The object's own size (width, height in the parent's units before scaling); never negative.
    virtual TVec2 ContentSize() const { return size_; }

    // --- Current state ---
    // Property i of the node, made safe for layout: not-a-number gives the default, and values are
    // kept within a range where the arithmetic stays finite. Without a node, the default.
    double Value(int property) const;
    TVec2 Size() const noexcept { return size_; }
    const TPlacement& Placement() const noexcept { return placement_; }
    const TMatrix3& World() const noexcept { return world_; }
    TVec2 Pivot() const noexcept { return pivot_; }
    TVec2 Scale() const noexcept { return scale_; }
    // Corners 0 … 3 (top left, top right, bottom right, bottom left) in world space.
    std::array<TVec3, 4> Corners() const;
    // The corners moved outward by `distance` world units along the normalised axes.
    std::array<TVec3, 4> CornersPushed(double distance) const;
    bool VisibleNow() const noexcept { return visibleNow_; }
    bool HiddenSelf() const noexcept { return hiddenSelf_; }
    bool HiddenByParent() const noexcept { return hiddenByParent_; }
    // Visible in time, not hidden by HideMode or with its parent, and validly placed.
    bool DrawnNow() const noexcept;
    TPrePassExtent& PrePass() noexcept { return prePass_; }
    const TPrePassExtent& PrePass() const noexcept { return prePass_; }

protected:
    ~TKivObject() override;

    // Defaults of the keys before they are read.
    virtual void SetDefaults();
    // Reads the keys of the project object. Overrides call the base first.
    virtual void ReadKeys(const TIniObject& object);
    // True for keys the class reads (unknown keys are logged once per read).
    virtual bool IsKnownKey(std::string_view key) const;
    // What the object itself draws (nothing in the base class).
    virtual void Produce(TDeviceDrawer& /*drawer*/) {}
    // The fit factor k of size `s` laid into `p`.
    virtual double FitFactor(TVec2 s, TVec2 p) const;
    // The content rectangle that change detection compares (empty in the base class).
    virtual TRectF ContentRect() const { return {}; }
    // Reports a word that is not one of the key's values.
    void LogBadValue(std::string_view key, std::string_view value) const;

    TKivObject* parent_;
    TKivSlide* slide_; // the root, fixed at creation
    std::vector<TRef<TKivObject>> children_;
    TRef<TKivObjectProps> node_;
    TKivCommonKeys keys_;
    TVec2 size_;

private:
    void CheckKeys(const TIniObject& object) const;
    void UpdateAngles();

    // Layout results.
    TMatrix3 world_;
    TPlacement placement_;
    TVec2 pivot_;
    TVec2 scale_;
    std::array<double, 3> angles_{}; // Angle.X, Angle.Y, Angle of the cached sines and cosines
    std::array<double, 3> sin_{};
    std::array<double, 3> cos_{1.0, 1.0, 1.0};
    bool visibleNow_ = false;
    bool hiddenSelf_ = false;
    bool hiddenByParent_ = false;
    bool pressed_ = false;
    int pointerState_ = 0;
    TPrePassExtent prePass_;

    // The state remembered at the last Commit.
    struct TCommitted {
        double opacity = -1.0;
        double blur = 0.0;
        TRectF content;
        TPlacement placement;
        TVec2 pivot;
    } committed_;
};

// Range property values are held to before layout (percent and degrees).
constexpr double kMaxPropertyMagnitude = 1e6;
// Largest object size and scale factor laid out; larger ones are clamped to it.
constexpr double kMaxObjectExtent = 1e7;

} // namespace kiv

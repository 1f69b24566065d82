// TKivSlide: the root of a slide's object tree. It stands for the whole show area: placed at the
// screen centre, its children laid into its size (square units), its times the slide's record of
// the timeline. It is never hit itself. It draws the slide's background (a colour, a gradient or
// a tiled picture) under its objects, can take over the background and objects of other slides
// while a custom transition plays, finds before its first frame the largest size every object
// reaches on screen (the pre-pass), and turns pointer events into hover and click states and
// actions.
#pragma once

#include "objects/KeyframeTiming.h"
#include "objects/KivObject.h"

#include <memory>
#include <string>

namespace kiv {

class TIniList;

enum TBackgroundKind : int {
    kBackgroundSolid = 0,
    kBackgroundVGradient = 1, // colour 1 at the top
    kBackgroundHGradient = 2, // colour 1 on the left
    kBackgroundPicture = 3,
};

struct TSlideBackground {
    int kind = kBackgroundSolid;
    std::string picture;
    double size = 100.0;                // tile size, percent of the slide
    std::uint32_t color1 = 0xFF000000u; // ARGB as read
    std::uint32_t color2 = 0xFF000000u;
};

// Pointer event kinds and buttons.
enum TMouseEventKind : int { kMouseMove = 0, kMousePress = 1, kMouseRelease = 2 };
constexpr int kMouseLeftButton = 1;
constexpr int kMouseLeftHeld = 16; // the modifier bit of a held left button
// Pointer states of texts and buttons.
enum TPointerState : int { kPointerNormal = 0, kPointerHover = 1, kPointerClick = 2 };

// What a pointer event on a slide did: the object under the pointer and, when the event completed
// a click, the object's action text.
struct TSlideMouseResult {
    TKivObject* object = nullptr;
    bool fired = false;
    std::string action;
};

// The tile size of a w × h background picture on a slide of `slide` units at `sizePercent`.
TVec2 BackgroundTileSize(TVec2 slide, int width, int height, double sizePercent);

class TKivSlide : public TKivObject {
public:
    // `host` is not owned and must outlive the slide; it may be null (the camera then stands at
    // the slide's height in front of its centre).
    TKivSlide(TKivObjectHost* host, int pass);

    // The slide section's "Root" object; created empty (named "Container") when missing.
    static TIniObject& RootObject(TIniList& section);

    // Builds the property tree from `root` with the timing plan, then the object tree. A child
    // object without `GUID` raises EKivBuildError.
    void Build(TIniObject& root, const TKeyframeTiming& timing);

    void SetTimes(const TSlideInfo& times, int index);
    const TSlideInfo& Times() const noexcept { return times_; }
    int Index() const noexcept { return index_; }
    int Pass() const noexcept { return pass_; }
    // Size in square units; centre on the screen in pixels.
    void SetSize(double width, double height);
    void SetCentre(TVec2 centre) {
        centre_ = centre;
        changed_ = true;
    }
    TVec2 Centre() const noexcept { return centre_; }
    // The slide's own scale (the pixel aspects), percent; set by the slide producer.
    void SetScale(double scaleX, double scaleY);

    // 100; a dialog returns its own opacity.
    virtual float SlideOpacity() const { return 100.0f; }
    // Multiplies the z of every axis: d × tan 30° ÷ slide height with d = −camera z, or tan 30°
    // when the camera is not in front of the screen.
    double DepthFactor() const noexcept { return depthFactor_; }
    TVec3 CameraPosition() const;

    // --- Background ---
    // The slide's background keys of `section`; when its `bstyle` is 0 or missing, the keys named
    // with the prefix "opt_" of `main` (which may be null).
    static TSlideBackground ReadBackground(const TIniList& section, const TIniList* main);
    // A slide draws no background until one is set (dialogs never have one).
    void SetBackground(const TSlideBackground& background);
    const TSlideBackground& Background() const noexcept { return background_; }
    bool HasBackground() const noexcept { return hasBackground_; }
    // A second background blended over the first by `crossFade` (0 … 1).
    void SetSecondBackground(const TSlideBackground& background, double crossFade);
    // Draws the children of `first` over the own background and those of `second` over the second
    // background, as extra layers (the slides keep owning them). Either may be null.
    void BorrowObjects(TKivSlide* first, TKivSlide* second);
    // Background slides of custom transitions draw borrowed objects without the drawer's offset.
    bool IsEffectSlide() const noexcept { return effectSlide_; }
    void SetEffectSlide(bool on) noexcept { effectSlide_ = on; }
    // The show's design size (opt_scr_width × opt_scr_height).
    TVec2 DesignSize() const noexcept { return designSize_; }
    void SetDesignSize(TVec2 size) noexcept { designSize_ = size; }

    // --- Pre-pass ---
    // Gathers every object's largest on-screen size over the slide's keyframe times; runs once.
    void RunPrePass();
    bool PrePassDone() const noexcept { return prePassDone_; }

    // --- Pointer ---
    // Turns a pointer event at the screen point into hover and click states and a fired action.
    TSlideMouseResult HandleMouse(int modifiers, TVec2 point, int kind, int button);

    // TKivObject
    TKivObjectHost* Host() const override { return host_; }
    double TimeOrigin(int k) const override;
    TVec2 ParentSize() const override { return size_; }
    const TPlacement& ParentPlacement() const override { return centrePlacement_; }
    const TMatrix3& ParentWorld() const override;
    bool HitTest(TVec2 point, TVec2& local) const override;
    void UpdateTime(bool recursive, double t) override;
    void Layout(bool recursive) override;
    // Does nothing when the time equals the last one and nothing changed.
    void Advance(bool recursive, double t) override;
    void Draw(TDeviceDrawer& drawer) override;
    // Lays the slide out, has the drawer upload its pictures, then the children's; once per drawer.
    void PreloadBegin(TDeviceDrawer& drawer) override;
    void ReleaseDevice(TDeviceDrawer& drawer) override;

protected:
    ~TKivSlide() override;

private:
    void ApplyScale();
    // The picture of a background (kept: at most two), or none.
    TImage* BackgroundPicture(const TSlideBackground& background);
    // A picture far larger than its background tiles as its reduced copy ("SlideBg: " names).
    TRef<TImage> ReducedBackground(TRef<TImage> picture, const TSlideBackground& background);
    void DrawBackground(TDeviceDrawer& drawer, const TSlideBackground& background, int alpha);
    void DrawChildren(TDeviceDrawer& drawer, const TKivSlide& slide, bool borrowed);

    TSlideBackground background_;
    TSlideBackground second_;
    bool hasBackground_ = false;
    bool hasSecond_ = false;
    double crossFade_ = 0.0;
    TRef<TKivSlide> borrowedFirst_;
    TRef<TKivSlide> borrowedSecond_;
    struct TKeptPicture {
        std::string name;
        TRef<TImage> image;
        // The conversion of the picture's colour profile to the display's (none: not needed).
        std::shared_ptr<const TColorTable> profile;
    };
    TKeptPicture kept_[2];
    TDeviceDrawer* preloadedOn_ = nullptr;
    bool effectSlide_ = false;
    TVec2 designSize_;
    bool prePassDone_ = false;
    bool prePassRunning_ = false;
    double currentTime_ = 0.0;

    TKivObjectHost* host_;
    int pass_;
    int index_ = 0;
    TSlideInfo times_;
    TVec2 centre_;
    TPlacement centrePlacement_;
    double depthFactor_ = 0.5773502691896258;
    double scaleX_ = 100.0;
    double scaleY_ = 100.0;
    double lastAdvance_ = 0.0;
    bool advanced_ = false;
};

} // namespace kiv

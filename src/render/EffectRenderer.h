// The transition machinery the slide drawer shares with the transition filters: the filter base
// (TDrawFilter) with its phase and drawing order, the tile controller through which a filter draws
// a captured slide as triangles, the effect renderer (TCustomD3DEffecter) that captures slides into
// render targets, and the process-wide factory that turns a transition descriptor into a filter
// (installed by the effects library).
#pragma once

#include "base/RefObject.h"
#include "objects/DrawItem.h"
#include "objects/Geometry.h"
#include "project/KivEffect.h"
#include "render/Screen.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kiv {

class T3DDrawer;
class TDeviceDrawer;

// One vertex a filter hands to a tile: a position in drawing-rectangle pixels with depth, the
// texture position (drawing-rectangle pixels too; the tile maps it onto the capture), the opacity
// (0 … 255) and a grey level (255 keeps the capture's colours).
struct TTileVertex {
    double x = 0, y = 0, z = 0;
    double u = 0, v = 0;
    float opacity = 255;
    float grey = 255;
};

// A 2-D vertex whose texture position is its own position.
inline TTileVertex FlatVertex(double x, double y, float opacity) {
    return {x, y, 0, x, y, opacity, 255};
}

// The parts of triangles (three vertices each) inside `area`; triangles with depth are kept whole.
std::vector<TTileVertex> ClipTriangles(const std::vector<TTileVertex>& vertices, const TRect& area);

// The tile controller: the area the capture covers (one cell) and its whole-area tile, which draws
// triangles from the capture just made.
class TD3DTriController {
public:
    TD3DTriController(T3DScreen* screen, TCustomTexture* capture, const TRect& area,
                      const TRect& captureRect);

    const TRect& Area() const { return area_; }
    // Starts a batch: textured from the capture, or untextured (vertex colours only).
    void Begin(bool textured);
    // Triangles (three vertices each), flat ones clipped to the area; an incomplete last triangle
    // is ignored.
    void Triangles(const std::vector<TTileVertex>& vertices);
    // Untextured triangles (flat ones clipped to the area) in `rgb` (0xRRGGBB) scaled by each
    // vertex's grey level (channel × grey div 256), with the vertex opacity.
    void ShadedTriangles(const std::vector<TTileVertex>& vertices, std::uint32_t rgb);
    void End();
    int TrianglesDrawn() const { return triangles_; }

private:
    T3DScreen* screen_;
    TCustomTexture* capture_;
    TRect area_;
    TRect captureRect_;
    bool textured_ = true;
    int triangles_ = 0;
};

// How the drawer orders the two slides for a filter (the drawing order table).
enum class TFilterOrder { Common, Overturn, TwoSlides, Push, SlideEffect };

// A running transition: duration, elapsed time, the drawing rectangle, the soft-edge width and the
// geometry of its family (subclasses). Created by the factory on the first frame of a transition
// and kept by the slide's TKivFilter.
class TDrawFilter : public TRefObject {
public:
    // Stores the rectangle, soft-edge width (pixels) and duration (ms); the time goes back to 0.
    // A duration that is not positive (or not a number) gives an inverse of 0: the phase stays 0.
    virtual void Init(const TRect& rect, float smoothWidth, float duration);
    // Elapsed time, kept within 0 … duration (negative and non-numeric values become 0).
    void SetTime(double ms);
    // Draws the captured slide through the controller.
    virtual void Draw(TD3DTriController& controller) = 0;
    virtual void AfterDraw(TDeviceDrawer& /*drawer*/) {}
    virtual TFilterOrder Order() const { return TFilterOrder::Common; }
    // Push filters: where the outgoing slide is drawn plainly for a drawing rectangle.
    virtual TVec2 PushOffset(const TRect& /*rect*/) const { return {}; }

    double Phase() const { return time_ * invDuration_; }
    float Duration() const { return duration_; }
    float Time() const { return time_; }
    float SmoothWidth() const { return smoothWidth_; }
    const TRect& Rect() const { return rect_; }

    bool Reversed = false;
    std::uint8_t CaptureMode = 0;
    TRect CaptureRect;

protected:
    ~TDrawFilter() override = default;

    float duration_ = 0;
    double invDuration_ = 0;
    float time_ = 0;
    float smoothWidth_ = 0;
    TRect rect_;
};

class TCustomD3DEffecter;

// Custom transitions: the filter owns a whole slide (the effect slide) whose pictures show the two
// captured slides and whose own animation runs with the transition's phase. The drawer captures
// both slides, then lets the filter prepare, dress and draw its slide.
class TSlideEffFilter : public TDrawFilter {
public:
    // Nothing: the effect slide is drawn by DrawEffectSlide.
    void Draw(TD3DTriController& /*controller*/) override {}
    TFilterOrder Order() const override { return TFilterOrder::SlideEffect; }
    // Puts the effect slide at the phase's time (0 … 1).
    virtual void SetPhase(double f) = 0;
    // Takes backgrounds and objects from the two slides as the filter's background mode asks.
    virtual void PrepareSlides(TDrawItem* outgoing, TDrawItem* incoming) = 0;
    // Lays capture 1 (the outgoing slide) and capture 2 (the incoming one) onto the effect slide's
    // pictures that ask for them; DetachCaptures takes them off again.
    virtual void AttachCaptures(TCustomD3DEffecter& renderer) = 0;
    virtual void DetachCaptures() = 0;
    virtual void DrawEffectSlide(TDeviceDrawer& drawer) = 0;

    // Both slides are captured without their backgrounds.
    bool TransparentBg = false;

protected:
    ~TSlideEffFilter() override = default;
};

// Makes the filter of a descriptor for a drawing rectangle (none: draw the incoming slide plainly).
using TTransitionFilterFactory = std::function<TRef<TDrawFilter>(
    const TRect& rect, const TKivEffect* effect, TDrawItem* outgoing, float smoothline, double duration)>;
void SetTransitionFilterFactory(TTransitionFilterFactory factory);
bool HasTransitionFilterFactory();
// Runs the installed factory; none without one or without a descriptor.
TRef<TDrawFilter> CreateTransitionFilter(const TRect& rect, const TKivEffect* effect, TDrawItem* outgoing,
                                         float smoothline, double duration);

// The effect renderer: captures slides into render targets for the filters. Owned by the drawer.
class TCustomD3DEffecter final : public TRefObject {
public:
    TCustomD3DEffecter(T3DScreen* screen, TRenderTargetManager* fullPool);

    // Sizes the own pool to the rectangle and stores it as the area.
    void SetArea(const TRect& rect);
    const TRect& Area() const { return area_; }
    void SetClip(const TRect& rect) { clip_ = rect; }
    // Mode 1 (slide effects) takes both captures from the drawer's pool, mode 0 capture 1 from its own.
    void BeginEffect(int mode);
    // Returns the captures to the pools they came from.
    void EndEffect();
    // Captures one slide for a filter: capture 1 becomes the target (origin at the area's top-left),
    // cleared to transparent black, and `draw` draws the slide into it. False when no capture exists.
    bool CaptureForFilter(int captureMode, const std::function<void()>& draw);
    // Slide effects: captures into capture 2 when the selector is 1, else capture 1.
    bool CaptureSlide(const std::function<void()>& draw);
    void NextCapture() { selector_ ^= 1; }
    int Selector() const { return selector_; }
    // Capture n (0 or 1).
    TRenderTargetTexture* Capture(int n) const;
    // The visible part of a capture: the area's top-left with the capture's size, clipped.
    TRect VisibleRect(int n) const;
    // Render targets taken from the pools since creation (tests check that frames reuse them).
    int Acquired() const { return acquired_; }
    // Render targets waiting in the own pool.
    std::size_t OwnPoolFree() const { return ownPool_.FreeCount(); }

protected:
    ~TCustomD3DEffecter() override;

private:
    bool CaptureInto(TRenderTargetTexture* target, const std::function<void()>& draw);

    T3DScreen* screen_;
    TRenderTargetManager* fullPool_;
    TRenderTargetManager ownPool_{true};
    TRect area_;
    TRect clip_;
    TRef<TRenderTargetTexture> captures_[2];
    TRenderTargetManager* from_[2] = {nullptr, nullptr};
    int selector_ = 0;
    int acquired_ = 0;
};

} // namespace kiv

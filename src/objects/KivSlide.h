// TKivSlide: the root of a slide's object tree. It stands for the whole show area: placed at the
// screen centre, its children laid into its size (square units), its times the slide's record of
// the timeline. It is never hit itself. Backgrounds, the pre-pass and pointer handling build on
// this class.
#pragma once

#include "objects/KeyframeTiming.h"
#include "objects/KivObject.h"

namespace kiv {

class TIniList;

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

protected:
    ~TKivSlide() override;

private:
    void ApplyScale();

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

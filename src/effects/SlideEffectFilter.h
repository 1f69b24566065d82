// Custom transitions: a whole slide (the effect slide), built from the chosen variant's section,
// whose pictures show the two captured slides and whose own animation runs with the transition.
#pragma once

#include "objects/KivSlide.h"
#include "render/EffectRenderer.h"

#include <utility>
#include <vector>

namespace kiv {

class TKivImage;
class TImage;

class TRealSlideFilter final : public TSlideEffFilter {
public:
    // Background modes: 1 the outgoing slide's background and objects, 2 the incoming slide's, 3
    // the outgoing one's with the incoming one's mixed in by the phase; others keep the section's.
    TRealSlideFilter(TRef<TKivSlide> slide, int backgroundMode, bool transparentBackground);

    void SetPhase(double f) override;
    void PrepareSlides(TDrawItem* outgoing, TDrawItem* incoming) override;
    void AttachCaptures(TCustomD3DEffecter& renderer) override;
    void DetachCaptures() override;
    void DrawEffectSlide(TDeviceDrawer& drawer) override;
    void Prepare(TDeviceDrawer& drawer) override;
    void AfterDraw(TDeviceDrawer& drawer) override;

    TKivSlide* EffectSlide() const { return slide_.Get(); }
    int BackgroundMode() const { return backgroundMode_; }
    double StoredPhase() const { return phase_; }
    // The capture (1 or 2) the picture object asks for; 0 for ordinary pictures.
    static int CaptureWanted(const TKivImage& image);

protected:
    ~TRealSlideFilter() override;

private:
    TRef<TKivSlide> slide_;
    int backgroundMode_;
    double phase_ = 0;
    TDeviceDrawer* preloadedOn_ = nullptr;
    std::vector<std::pair<TRef<TImage>, TRef<TRefObject>>> attached_;
};

// The filter of a custom transition leaving `outgoing` (a slide built by a slide producer), from
// the variant's section: its effect slide is built by the process-wide effect producer for the
// outgoing slide's show. A dissolve without a section; none when the slide cannot be built.
TRef<TDrawFilter> MakeCustomTransition(TDrawItem* outgoing, TIniSection* section);
// Drops the process-wide effect producer (the show it was made for is going away).
void ReleaseEffectProducer();

} // namespace kiv

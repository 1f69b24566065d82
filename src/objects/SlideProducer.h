// The mapping of a show onto the screen and the building of its slides: TSlideProducer computes
// the show rectangle (fit inside or cover, the design's aspect, pixel aspects, odd sizes rounded up)
// and the camera, and builds a slide's object tree from the project; TKivSlideHost is the
// environment its slides' objects see (camera, the show's pictures through the file accessor).
//
// Threads: one thread builds; a built slide is then used by one thread at a time.
#pragma once

#include "objects/KivDialog.h"
#include "objects/KivSlide.h"
#include "objects/ObjectHost.h"
#include "package/FileAccessor.h"
#include "project/KivSource.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kiv {

// A rectangle of screen pixels, right and bottom excluded.
struct TShowRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const noexcept { return right - left; }
    int Height() const noexcept { return bottom - top; }
    bool IsEmpty() const noexcept { return right <= left || bottom <= top; }
    bool operator==(const TShowRect&) const = default;
};

// How the show is laid into the screen.
enum TShowFit : int { kShowFitInside = 0, kShowCover = 1 };

// The show's pictures and camera for the objects of its slides.
class TKivSlideHost final : public TKivObjectHost {
public:
    // `files` may be none (objects then get no pictures); `camera` asks the producer.
    TKivSlideHost(TRef<TFileAccessor> files, std::function<TVec3()> camera);

    TVec3 CameraPosition() const override;
    // Shared by name through the accessor; the placeholder for a picture that cannot be loaded.
    TRef<TImage> LoadPicture(const std::string& name) override;
    TFileAccessor* Files() const { return files_.Get(); }

private:
    TRef<TFileAccessor> files_;
    std::function<TVec3()> camera_;
};

class TSlideProducer {
public:
    // Reads the design size and the layout keys of [Main]; `source` must outlive the producer.
    explicit TSlideProducer(TKivSource& source);

    // Recomputes the show's aspect ratio and rectangle for a screen of width × height pixels.
    // Raises kiv::Exception "ZeroSize of Presentation!" when the design height is not positive
    // (projects of version 13 and later).
    void SetScreen(int width, int height, int fitMode, int pixelAspectX = 100, int pixelAspectY = 100);
    // The show's place on the screen (clipped to the screen).
    TShowRect ShowRect() const;
    int ShowWidth() const noexcept { return showWidth_; }
    int ShowHeight() const noexcept { return showHeight_; }
    double ShowAspect() const noexcept { return aspect_; }
    // The viewer's eye: the screen centre at a distance of the screen height.
    TVec3 CameraPosition() const;

    // The slide of `index` (reduced modulo the slide count) for pass `pass`, laid onto the screen
    // set by SetScreen; none when its section is missing or its building fails. Raises
    // kiv::Exception "No Slides in Presentation" for a show without slides.
    TRef<TKivSlide> BuildSlide(std::int32_t index, int pass);
    // The dialog `name` ("help": the project's help dialog) laid onto the screen like a slide, at
    // time 0 and fully transparent; none when the project has no such dialog or building fails.
    TRef<TKivDialog> BuildDialog(const std::string& name);

    TKivSlideHost& Host() { return host_; }

private:
    TKivSource& source_;
    TKivSlideHost host_;
    int screenWidth_ = 0;
    int screenHeight_ = 0;
    TVec2 centre_;
    int showWidth_ = 0;
    int showHeight_ = 0;
    int designWidth_ = 0;
    int designHeight_ = 0;
    bool fixedSize_ = false;
    int fitMode_ = kShowFitInside;
    int aspectX_ = 100;
    int aspectY_ = 100;
    double aspect_ = 1.0;
};

} // namespace kiv

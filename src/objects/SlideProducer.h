// The mapping of a show onto the screen and the building of its slides: TSlideProducer computes
// the show rectangle (fit inside or cover, the design's aspect, pixel aspects, odd sizes rounded up)
// and the camera, and builds a slide's object tree from the project; TKivSlideHost is the
// environment its slides' objects see (camera, the show's pictures through the file accessor).
//
// Threads: one thread builds; a built slide is then used by one thread at a time.
#pragma once

#include "framework/Timing.h"
#include "objects/DrawContainer.h"
#include "objects/KivButton.h"
#include "objects/KivDialog.h"
#include "objects/KivSlide.h"
#include "objects/ObjectHost.h"
#include "objects/PixelRect.h"
#include "package/FileAccessor.h"
#include "project/KivSource.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kiv {

// How the show is laid into the screen.
enum TShowFit : int { kShowFitInside = 0, kShowCover = 1 };

class TSlideProducer;

// The show's pictures and camera for the objects of its slides.
class TKivSlideHost final : public TKivObjectHost {
public:
    // `files` may be none (objects then get no pictures); `camera` asks the producer.
    TKivSlideHost(TRef<TFileAccessor> files, std::function<TVec3()> camera);

    TVec3 CameraPosition() const override;
    // Shared by name through the accessor; the placeholder for a picture that cannot be loaded.
    TRef<TImage> LoadPicture(const std::string& name) override;
    TFileAccessor* Files() const { return files_.Get(); }
    int SlideCount() const override { return slideCount_; }
    std::vector<std::uint8_t> ReadFile(const std::string& name) override;
    // Through the accessor's sharing by name: its picture provider runs `make` for the first
    // request of a name ("Shadow: " and "SlideBg: " names).
    TRef<TImage> DerivedPicture(const std::string& name, const std::function<TRef<TImage>()>& make) override;
    void SetSlideCount(int count) { slideCount_ = count; }
    std::string ButtonsPath() const override { return buttonsPath_; }
    void SetButtonsPath(std::string path) { buttonsPath_ = std::move(path); }
    // One producer per theme name (compared without regard to case), made on first use.
    TButtonProducer* ButtonProducer(const std::string& name) override;
    // The producer whose slides this host serves (custom transitions build their slides like it).
    TSlideProducer* Producer() const noexcept { return producer_; }
    void SetProducer(TSlideProducer* producer) noexcept { producer_ = producer; }
    TKivSlideHost(const TKivSlideHost&) = delete;
    TKivSlideHost& operator=(const TKivSlideHost&) = delete;

private:
    // Makes "Text: " pictures, with the show's own fonts first.
    static TRef<TRefObject> ProvideText(void* data, const std::string& name);
    // Makes "Button: " faces by the producer of their theme.
    static TRef<TRefObject> ProvideButton(void* data, const std::string& name);
    // Makes derived pictures asked for through DerivedPicture.
    static TRef<TRefObject> ProvideDerived(void* data, const std::string& name);
    std::vector<std::uint8_t> ShowFont(const std::string& family, int style) const;
    // The bytes of a file of the show, up to `limit`; empty when it cannot be read.
    std::vector<std::uint8_t> FileBytes(const std::string& name, std::int64_t limit) const;

    TRef<TFileAccessor> files_;
    std::function<TVec3()> camera_;
    int slideCount_ = 0;
    std::string buttonsPath_;
    TRef<TCallbackHandle> textProvider_;
    std::mutex buttonsLock_;
    std::map<std::string, TRef<TButtonProducer>> buttons_;
    TRef<TCallbackHandle> buttonProvider_;
    TSlideProducer* producer_ = nullptr;
    TRef<TCallbackHandle> derivedProvider_;
    // The makers of the derived pictures being asked for, by name, with the asking thread.
    using TMaker = std::function<TRef<TImage>()>;
    std::mutex makersLock_;
    std::multimap<std::string, std::pair<std::thread::id, const TMaker*>> makers_;
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
    // A negative index gives the empty lead-in slide before the show (Start -1073741823, no
    // transition, NextTransition = slide 0's transition, the first slide's background).
    TRef<TKivSlide> BuildSlide(std::int32_t index, int pass);
    // The dialog `name` ("help": the project's help dialog) laid onto the screen like a slide, at
    // time 0 and fully transparent; none when the project has no such dialog or building fails.
    TRef<TKivDialog> BuildDialog(const std::string& name);

    // The time holder every built container shares (the engine's current show time).
    void SetTiming(TRef<TTiming> timing) { timing_ = std::move(timing); }
    const TRef<TTiming>& Timing() const noexcept { return timing_; }
    // The container of virtual index `index` (≥ -1; beyond the slide count: a later pass) with
    // its loop-shifted record, loop offset, slide (none when it cannot be built) and transition.
    // Raises "TSlideProducer.CurrentTiming not Assigned" without a time holder.
    TRef<TDrawContainer> BuildContainer(std::int32_t index);
    // The first and last index visible at show time `t` (two during a transition). Keeps a cursor
    // between calls, so nearby times are found in a few steps; far jumps search the timeline.
    std::pair<std::int32_t, std::int32_t> VisibleRange(double t);
    // The background slide of a custom transition from its section: Start 0, Sync = CustomEffTime
    // (default 2000 ms), scaled like a slide, marked as an effect slide. None when it fails.
    TRef<TKivSlide> BuildEffectSlide(TIniSection& section);
    // Effect slides take the design size of their own section (before SetScreen).
    void SetDesignSize(int width, int height) {
        designWidth_ = width;
        designHeight_ = height;
    }
    int PixelAspectX() const noexcept { return aspectX_; }
    int PixelAspectY() const noexcept { return aspectY_; }

    TKivSource& Source() const noexcept { return source_; }

    TKivSlideHost& Host() { return host_; }

private:
    // Configures a fresh slide over the host from a section and its times; throws on failure.
    void ConfigureSlide(TKivSlide& slide, TIniSection& section, const TSlideInfo& times, int index);
    TSlideInfo Record(std::int32_t index) const;
    // "SlideEffectBuffer" pictures of effect slides: an empty bitmap of the show's size, which the
    // transition lays its captures over.
    static TRef<TRefObject> ProvideEffectBuffer(void* data, const std::string& name);

    TKivSource& source_;
    TRef<TTiming> timing_;
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
    std::int32_t cursor_ = -1; // the first slide VisibleRange found last
    TRef<TCallbackHandle> effectBufferProvider_;
};

} // namespace kiv

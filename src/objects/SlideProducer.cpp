#include "objects/SlideProducer.h"

#include "base/Exception.h"
#include "images/PictureCache.h"
#include "objects/KeyframeTiming.h"
#include "project/ShowOptions.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace kiv {

namespace {

int RoundToInt(double value) {
    if (!std::isfinite(value)) return 0;
    return static_cast<int>(std::lround(std::clamp(value, -1e9, 1e9)));
}

} // namespace

TKivSlideHost::TKivSlideHost(TRef<TFileAccessor> files, std::function<TVec3()> camera)
    : files_(std::move(files)), camera_(std::move(camera)) {}

TVec3 TKivSlideHost::CameraPosition() const {
    return camera_ ? camera_() : TVec3{};
}

TRef<TImage> TKivSlideHost::LoadPicture(const std::string& name) {
    if (!files_ || name.empty()) return nullptr;
    return LoadCachedPicture(*files_, name);
}

TSlideProducer::TSlideProducer(TKivSource& source)
    : source_(source),
      host_(TRef<TFileAccessor>::Share(source.FileAccessor()), [this] { return CameraPosition(); }) {
    if (const TIniSection* main = source_.MainSection()) {
        designWidth_ = main->GetInt32("opt_scr_width", 0);
        designHeight_ = main->GetInt32("opt_scr_height", 0);
        fixedSize_ = main->GetBool("opt_scr_fullfixedsize", false);
    }
}

void TSlideProducer::SetScreen(int width, int height, int fitMode, int pixelAspectX, int pixelAspectY) {
    screenWidth_ = std::max(0, width);
    screenHeight_ = std::max(0, height);
    centre_ = {screenWidth_ / 2.0, screenHeight_ / 2.0};
    fitMode_ = fitMode == kShowCover ? kShowCover : kShowFitInside;
    aspectX_ = pixelAspectX > 0 ? pixelAspectX : 100;
    aspectY_ = pixelAspectY > 0 ? pixelAspectY : 100;

    const TIniSection* main = source_.MainSection();
    const int minorVersion = main ? main->GetInt32("MinorVersion", 13) : 13;
    if (minorVersion > 12) {
        if (designHeight_ <= 0) throw Exception("ZeroSize of Presentation!");
        aspect_ = static_cast<double>(designWidth_) / designHeight_;
    } else {
        // Older projects take the screen's own shape unless they name a ratio.
        if (screenHeight_ > 0) aspect_ = static_cast<double>(screenWidth_) / screenHeight_;
        if (main && !std::string(main->GetText("opt_scr_ratio")).empty())
            aspect_ = main->GetReal("opt_scr_ratio", aspect_);
    }
    if (!std::isfinite(aspect_) || aspect_ <= 0.0) aspect_ = 1.0;

    int w = 0, h = 0;
    if (fixedSize_ && designWidth_ > 0 && designHeight_ > 0) {
        // The design size, reduced (never enlarged) to the screen with its aspect kept.
        if (static_cast<double>(screenWidth_) * designHeight_ >
            static_cast<double>(designWidth_) * screenHeight_) {
            h = std::min(designHeight_, screenHeight_);
            w = RoundToInt(static_cast<double>(h) * designWidth_ / designHeight_);
        } else {
            w = std::min(designWidth_, screenWidth_);
            h = RoundToInt(static_cast<double>(w) * designHeight_ / designWidth_);
        }
    } else {
        // In square units, then back to pixels.
        const int a = RoundToInt(screenWidth_ * 100.0 / aspectX_);
        const int b = RoundToInt(screenHeight_ * 100.0 / aspectY_);
        double sw = RoundToInt(b * aspect_);
        double sh = b;
        if (sw > 0 && sh > 0) {
            const double fx = a / sw, fy = b / sh;
            const double f = fitMode_ == kShowCover ? std::max(fx, fy) : std::min(fx, fy);
            sw = RoundToInt(sw * f);
            sh = RoundToInt(sh * f);
        }
        w = RoundToInt(sw * aspectX_ / 100.0);
        h = RoundToInt(sh * aspectY_ / 100.0);
    }
    // An odd size short of the screen grows by one pixel so that the show sits centred.
    if (w % 2 != 0 && w < screenWidth_) ++w;
    if (h % 2 != 0 && h < screenHeight_) ++h;
    showWidth_ = std::max(0, w);
    showHeight_ = std::max(0, h);
}

TShowRect TSlideProducer::ShowRect() const {
    const int left = RoundToInt(centre_.x - showWidth_ / 2.0);
    const int top = RoundToInt(centre_.y - showHeight_ / 2.0);
    TShowRect rect{std::max(0, left), std::max(0, top), std::min(screenWidth_, left + showWidth_),
                   std::min(screenHeight_, top + showHeight_)};
    if (rect.IsEmpty()) return {};
    return rect;
}

TVec3 TSlideProducer::CameraPosition() const {
    return {screenWidth_ / 2.0, screenHeight_ / 2.0, -static_cast<double>(screenHeight_) * 100.0 / aspectY_};
}

TRef<TKivSlide> TSlideProducer::BuildSlide(std::int32_t index, int pass) {
    const std::int32_t count = source_.SlideCount();
    if (count <= 0) throw Exception("No Slides in Presentation");
    index = ((index % count) + count) % count;
    TIniSection* section = SlideSection(source_.Document(), index);
    if (!section) return nullptr;
    try {
        auto slide = MakeRef<TKivSlide>(&host_, pass);
        slide->SetSize(showWidth_ * 100.0 / aspectX_, showHeight_ * 100.0 / aspectY_);
        slide->SetCentre(centre_);
        slide->SetDesignSize({static_cast<double>(designWidth_), static_cast<double>(designHeight_)});
        const TSlideInfo& times = source_.Slides()[static_cast<std::size_t>(index)];
        slide->SetTimes(times, index);
        slide->SetBackground(TKivSlide::ReadBackground(*section, source_.MainSection()));
        slide->Build(TKivSlide::RootObject(*section), PlanKeyframeTiming(section, times));
        const TVec2 size = slide->ParentSize();
        if (size.x > 0 && size.y > 0)
            slide->SetScale(showWidth_ * 100.0 / size.x, showHeight_ * 100.0 / size.y);
        return slide;
    } catch (const std::exception&) {
        return nullptr;
    }
}

} // namespace kiv

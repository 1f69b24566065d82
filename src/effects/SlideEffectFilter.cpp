#include "effects/SlideEffectFilter.h"

#include "base/Log.h"
#include "effects/TransitionFilters.h"
#include "objects/KivImage.h"
#include "objects/SlideProducer.h"

#include <cmath>
#include <memory>
#include <mutex>
#include <string_view>

namespace kiv {

namespace {

// The producer custom transitions build their slides with, made for one show at a time.
struct TEffectProducer {
    std::mutex lock;
    std::unique_ptr<TSlideProducer> producer;
    const TKivSource* source = nullptr;
    const TFileAccessor* files = nullptr;
};

TEffectProducer& EffectProducer() {
    static TEffectProducer instance;
    return instance;
}

// Visits every object below `object`, depth first.
template <class F> void Walk(TKivObject& object, const F& visit) {
    for (int i = 0; i < object.ChildCount(); ++i) {
        TKivObject* child = object.Child(i);
        if (!child) continue;
        visit(*child);
        Walk(*child, visit);
    }
}

} // namespace

TRealSlideFilter::TRealSlideFilter(TRef<TKivSlide> slide, int backgroundMode, bool transparentBackground)
    : slide_(std::move(slide)), backgroundMode_(backgroundMode) {
    TransparentBg = transparentBackground;
}

TRealSlideFilter::~TRealSlideFilter() {
    DetachCaptures();
}

int TRealSlideFilter::CaptureWanted(const TKivImage& image) {
    static constexpr std::string_view kMask = "Mask: ", kBuffer = "SlideEffectBuffer";
    const std::string full = image.PictureName();
    std::string_view name = full;
    if (name.starts_with(kMask)) name.remove_prefix(kMask.size());
    if (!name.starts_with(kBuffer)) return 0;
    name.remove_prefix(kBuffer.size());
    int n = 0;
    for (std::size_t i = 0; i < name.size() && i < 9 && name[i] >= '0' && name[i] <= '9'; ++i)
        n = n * 10 + (name[i] - '0');
    return n == 1 || n == 2 ? n : 0;
}

void TRealSlideFilter::SetPhase(double f) {
    phase_ = std::isfinite(f) ? std::clamp(f, 0.0, 1.0) : 0.0;
    if (!slide_) return;
    const TSlideInfo& times = slide_->Times();
    slide_->Advance(true, times.start + (times.sync - times.start) * phase_);
}

void TRealSlideFilter::PrepareSlides(TDrawItem* outgoing, TDrawItem* incoming) {
    if (!slide_) return;
    auto* from = dynamic_cast<TKivSlide*>(outgoing);
    auto* to = dynamic_cast<TKivSlide*>(incoming);
    switch (backgroundMode_) {
    case 1:
    case 2: {
        TKivSlide* source = backgroundMode_ == 1 ? from : to;
        if (!source) return;
        if (source->HasBackground()) slide_->SetBackground(source->Background());
        slide_->BorrowObjects(source, nullptr);
        break;
    }
    case 3:
        if (from && from->HasBackground()) slide_->SetBackground(from->Background());
        if (to && to->HasBackground()) slide_->SetSecondBackground(to->Background(), phase_);
        slide_->BorrowObjects(from, to);
        break;
    default:
        break;
    }
}

void TRealSlideFilter::AttachCaptures(TCustomD3DEffecter& renderer) {
    DetachCaptures();
    if (!slide_) return;
    Walk(*slide_, [&](TKivObject& object) {
        auto* image = dynamic_cast<TKivImage*>(&object);
        if (!image || !image->Picture()) return;
        const int n = CaptureWanted(*image);
        if (n == 0) return;
        TRenderTargetTexture* capture = renderer.Capture(n - 1);
        if (!capture) return;
        TRef<TImage> picture = TRef<TImage>::Share(image->Picture());
        TRef<TRefObject> texture = TRef<TRefObject>::Share(capture);
        picture->Attachments().Add(texture);
        attached_.emplace_back(std::move(picture), std::move(texture));
    });
}

void TRealSlideFilter::DetachCaptures() {
    for (auto& [picture, texture] : attached_)
        picture->Attachments().Remove(texture.Get());
    attached_.clear();
}

void TRealSlideFilter::DrawEffectSlide(TDeviceDrawer& drawer) {
    if (!slide_) return;
    if (preloadedOn_ != &drawer) {
        slide_->PreloadBegin(drawer);
        preloadedOn_ = &drawer;
    }
    drawer.Draw(*slide_);
}

void TRealSlideFilter::Prepare(TDeviceDrawer& drawer) {
    if (!slide_ || preloadedOn_ == &drawer || !drawer.IsReady()) return;
    slide_->PreloadBegin(drawer);
    preloadedOn_ = &drawer;
}

void TRealSlideFilter::AfterDraw(TDeviceDrawer& drawer) {
    if (slide_) slide_->AfterDraw(drawer);
}

TRef<TDrawFilter> MakeCustomTransition(TDrawItem* outgoing, TIniSection* section) {
    if (!section) return MakeRef<TAlphaFilter>();
    auto* slide = dynamic_cast<TKivSlide*>(outgoing);
    auto* host = slide ? dynamic_cast<TKivSlideHost*>(slide->Host()) : nullptr;
    TSlideProducer* own = host ? host->Producer() : nullptr;
    if (!own) {
        TLog::Line("Custom transition: the slide being left has no producer; a dissolve stands in");
        return MakeRef<TAlphaFilter>();
    }
    TEffectProducer& shared = EffectProducer();
    std::lock_guard lock(shared.lock);
    TKivSource& source = own->Source();
    if (!shared.producer || shared.source != &source || shared.files != source.FileAccessor()) {
        shared.producer.reset();
        shared.producer = std::make_unique<TSlideProducer>(source);
        shared.source = &source;
        shared.files = source.FileAccessor();
    }
    TRef<TKivSlide> effectSlide;
    try {
        const int ax = own->PixelAspectX(), ay = own->PixelAspectY();
        const TVec2 size = slide->ParentSize();
        const int width = static_cast<int>(std::lround(size.x * ax / 100.0));
        const int height = static_cast<int>(std::lround(size.y * ay / 100.0));
        const bool cover = section->GetBool("CoverMode", true);
        shared.producer->SetDesignSize(section->GetInt32("opt_scr_width", 1920),
                                       section->GetInt32("opt_scr_height", 1080));
        shared.producer->SetScreen(width, height, cover ? kShowCover : kShowFitInside, ax, ay);
        effectSlide = shared.producer->BuildEffectSlide(*section);
    } catch (const std::exception& failure) {
        TLog::Line(std::string("Custom transition: ") + failure.what());
    }
    if (!effectSlide) {
        TLog::Line("Custom transition: its slide cannot be built; a dissolve stands in");
        return MakeRef<TAlphaFilter>();
    }
    auto filter = MakeRef<TRealSlideFilter>(std::move(effectSlide), section->GetInt32("CustomEffBg", 0),
                                            section->GetBool("TransparentBg", false));
    const TShowRect place = own->ShowRect();
    filter->EffectArea = {place.left, place.top, place.right, place.bottom};
    return filter;
}

void ReleaseEffectProducer() {
    TEffectProducer& shared = EffectProducer();
    std::lock_guard lock(shared.lock);
    shared.producer.reset();
    shared.source = nullptr;
    shared.files = nullptr;
}

} // namespace kiv

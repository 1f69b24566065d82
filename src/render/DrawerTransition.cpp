// The drawer's transitions: the filter made on the first frame, the order in which the two slides
// are drawn (plainly or through the filter), and the captures of the effect renderer.
#include "render/Drawer.h"

#include "base/Log.h"

#include <cmath>

namespace kiv {

TRect T3DDrawer::TransitionRect() const {
    if (slideRect_.IsEmpty()) return drawRect_;
    const TRect inside = Intersect(slideRect_, drawRect_);
    return inside.IsEmpty() ? drawRect_ : inside;
}

void T3DDrawer::DrawThroughFilter(TDrawItem& slide, TDrawFilter& filter, const TRect& area) {
    if (!effecter_ || !IsReady()) return;
    const T3DScreen::TState saved = screen_->SaveState();
    TRenderTargetTexture* capture = effecter_->Capture(0);
    const bool captured = effecter_->CaptureForFilter(filter.CaptureMode, [&] {
        KeepCamera(saved, capture);
        Draw(slide);
    });
    screen_->RestoreState(saved);
    if (!captured) return; // no render target: this frame goes without the filtered slide
    PixelCamera();
    TD3DTriController& controller = effecter_->Controller(capture, area, filter.CaptureRect);
    try {
        filter.Draw(controller);
    } catch (const std::exception& error) {
        TLog::Line(std::string("DrawTransition: ") + error.what());
    }
    controller.End();
    screen_->RestoreState(saved);
}

void T3DDrawer::CaptureSlide(TDrawItem& slide) {
    const T3DScreen::TState saved = screen_->SaveState();
    TRenderTargetTexture* capture = effecter_->Capture(effecter_->Selector());
    effecter_->CaptureSlide([&] {
        KeepCamera(saved, capture);
        Draw(slide);
    });
    screen_->RestoreState(saved);
}

void T3DDrawer::DrawSlideEffect(TDrawItem& outgoing, TDrawItem& incoming, TSlideEffFilter& filter) {
    const bool transparent = filter.TransparentBg;
    // The captures are read from the effect slide's place on, which lands on the capture's corner.
    const TRect area = filter.EffectArea.IsEmpty() ? drawRect_ : Intersect(filter.EffectArea, drawRect_);
    effecter_->SetClip(area);
    effecter_->BeginEffect(1);
    try {
        outgoing.SetTransparentBackground(transparent);
        incoming.SetTransparentBackground(transparent);
        capturingSlides_ = true;
        CaptureSlide(outgoing);
        effecter_->NextCapture();
        CaptureSlide(incoming);
        effecter_->NextCapture();
    } catch (...) {
        capturingSlides_ = false;
        outgoing.SetTransparentBackground(false);
        incoming.SetTransparentBackground(false);
        effecter_->SetClip(drawRect_);
        effecter_->EndEffect();
        throw;
    }
    capturingSlides_ = false;
    outgoing.SetTransparentBackground(false);
    incoming.SetTransparentBackground(false);
    effecter_->SetClip(drawRect_);
    try {
        filter.SetPhase(filter.Phase());
        filter.PrepareSlides(&outgoing, &incoming);
        FillRect(0xFF000000u, drawRect_);
        filter.AttachCaptures(*effecter_);
        SetOffset({static_cast<double>(area.left), static_cast<double>(area.top)});
        filter.DrawEffectSlide(*this);
    } catch (const std::exception& error) {
        TLog::Line(std::string("DrawTransition: ") + error.what());
    }
    SetOffset({});
    filter.DetachCaptures();
    effecter_->EndEffect();
}

void T3DDrawer::PrepareTransition(TKivFilter& holder, TDrawItem& slide) {
    if (!holder.effect || holder.effect->type != kEffectCustom || holder.drawFilter || !IsReady()) return;
    // The rectangle is the drawer's at the first frame; a custom transition plays on its own place.
    TRef<TDrawFilter> made =
        CreateTransitionFilter({}, holder.effect.Get(), &slide, holder.smoothline, holder.duration);
    if (!made) return;
    if (auto* custom = dynamic_cast<TSlideEffFilter*>(made.Get())) custom->Prepare(*this);
    holder.drawFilter = made;
}

void T3DDrawer::DrawTransition(TDrawItem& outgoing, TDrawItem& incoming, TFilterParams* params) {
    auto* holder = dynamic_cast<TKivFilter*>(params);
    if (!holder) {
        Draw(outgoing);
        return;
    }
    if (!IsReady()) return;
    auto* filter = dynamic_cast<TDrawFilter*>(holder->drawFilter.Get());
    // The captures hold the frame's pixels where they are drawn: the filter reads the slide's part.
    const TRect area = TransitionRect();
    if (!filter && holder->effect) {
        TRef<TDrawFilter> made = CreateTransitionFilter(area, holder->effect.Get(), &outgoing,
                                                        holder->smoothline, holder->duration);
        if (made) {
            made->CaptureRect = area;
            holder->drawFilter = made;
            filter = made.Get();
        }
    }
    // A filter laid out for another drawing rectangle (the window changed size, or was empty when
    // the transition began) is laid out anew over this one, at the same time.
    if (filter && filter->Order() != TFilterOrder::SlideEffect && !(filter->Rect() == area)) {
        const double smooth =
            std::isfinite(holder->smoothline) && holder->smoothline > 0 ? holder->smoothline : 0;
        TLog::Line("DrawTransition: the drawing rectangle changed; the filter is laid out anew");
        filter->Relayout(area, static_cast<float>(area.Width() * smooth));
        filter->CaptureRect = area;
    }
    const double progress = holder->progress;
    if (!filter || !(progress >= 0) || !(progress < filter->Duration())) {
        Draw(incoming);
        return;
    }
    filter->SetTime(progress);
    const double f = filter->Phase();
    if (auto* custom = dynamic_cast<TSlideEffFilter*>(filter)) {
        DrawSlideEffect(outgoing, incoming, *custom);
        return;
    }
    effecter_->BeginEffect(0);
    effecter_->SetClip(area);
    try {
        switch (filter->Order()) {
        case TFilterOrder::Overturn: {
            const bool late = f >= 0.5;
            DrawThroughFilter(late != filter->Reversed ? incoming : outgoing, *filter, area);
            break;
        }
        case TFilterOrder::TwoSlides: {
            const bool late = f >= 0.5;
            TDrawItem& first = late != filter->Reversed ? outgoing : incoming;
            TDrawItem& second = late != filter->Reversed ? incoming : outgoing;
            DrawThroughFilter(first, *filter, area);
            DrawThroughFilter(second, *filter, area);
            break;
        }
        case TFilterOrder::Push:
            SetOffset(filter->PushOffset(area));
            Draw(outgoing);
            SetOffset({});
            DrawThroughFilter(incoming, *filter, area);
            break;
        default:
            if (filter->Reversed) {
                Draw(incoming);
                DrawThroughFilter(outgoing, *filter, area);
            } else {
                Draw(outgoing);
                DrawThroughFilter(incoming, *filter, area);
            }
            break;
        }
    } catch (...) {
        SetOffset({});
        effecter_->SetClip(drawRect_);
        effecter_->EndEffect();
        throw;
    }
    effecter_->SetClip(drawRect_);
    effecter_->EndEffect();
}

} // namespace kiv

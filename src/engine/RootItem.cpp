#include "engine/RootItem.h"

#include "base/Log.h"
#include "effects/FilterFactory.h"
#include "render/Drawer.h"

#include <exception>

namespace kiv {

void TRootItem::Clear() {
    previous_ = layers_;
    layers_.clear();
    filter_.Reset();
    changed_ = false;
}

void TRootItem::SetLayer(int index, TDrawItem* item) {
    if (index < 0) return;
    const auto i = static_cast<std::size_t>(index);
    if (layers_.size() <= i) layers_.resize(i + 1);
    layers_[i] = ShareRef(item);
    const TDrawItem* before = i < previous_.size() ? previous_[i].Get() : nullptr;
    if (before != item || previous_.size() <= i) changed_ = true;
}

void TRootItem::SetFilter(TKivFilter* filter, double progress) {
    filter_ = ShareRef(filter);
    progress_ = filter ? progress : 0;
    if (progress_ != lastProgress_) changed_ = true;
    lastProgress_ = progress_;
}

bool TRootItem::HasChanged() const {
    if (changed_ || filter_ || layers_.size() != previous_.size()) return true;
    for (const auto& layer : layers_)
        if (layer && layer->IsChanged()) return true;
    return false;
}

int TRootItem::CutLayer() const {
    if (!filter_) return 0;
    return progress_ * 2 >= filter_->duration ? 1 : 0;
}

void TRootItem::DrawLayer(TDeviceDrawer& drawer, TDrawItem* item) {
    if (!item) return;
    try {
        drawer.Draw(*item);
    } catch (const std::exception& error) {
        TLog::Line(std::string("TRootItem.Draw: ") + error.what());
    }
}

void TRootItem::Draw(TDeviceDrawer& drawer) {
    auto* gpu = dynamic_cast<T3DDrawer*>(&drawer);
    if (gpu) gpu->Clear(0xFF000000u, true);
    const bool sharpen = unsharp_ > 0 && gpu;
    if (sharpen) gpu->BeginSharpen();
    const int count = LayerCount();
    int first = 0;
    if (filter_ && count >= 2) {
        if (gpu && Layer(0) && Layer(1)) {
            // The drawer draws layer 0 → layer 1 through the transition's filter.
            InstallTransitionFilters();
            filter_->progress = progress_;
            try {
                gpu->DrawTransition(*Layer(0), *Layer(1), filter_.Get());
            } catch (const std::exception& error) {
                TLog::Line(std::string("TRootItem.Draw: ") + error.what());
            }
        } else {
            // Without the GPU drawer a plain cut at the middle stands in for the transition.
            DrawLayer(drawer, Layer(CutLayer()));
        }
        first = 2;
    }
    for (int i = first; i < count - 1; ++i)
        DrawLayer(drawer, Layer(i));
    if (sharpen) gpu->EndSharpen(unsharp_);
    TDrawItem* overlay = count > 0 ? Layer(count - 1) : nullptr;
    if (overlay)
        DrawLayer(drawer, overlay);
    else
        FillBorder(drawer);
}

void TRootItem::AfterDraw(TDeviceDrawer& drawer) {
    if (!filter_) return;
    if (auto* running = dynamic_cast<TDrawFilter*>(filter_->drawFilter.Get())) running->AfterDraw(drawer);
}

void TRootItem::FillBorder(TDeviceDrawer& drawer) {
    if (!borderFill_) return;
    auto* gpu = dynamic_cast<T3DDrawer*>(&drawer);
    if (!gpu) return;
    const TRect frame = gpu->FrameRect();
    const TRect& s = slideArea_;
    if (s.IsEmpty()) return;
    const std::uint32_t color = 0xFF000000u | borderColor_;
    const TRect bars[4] = {{frame.left, frame.top, frame.right, s.top},
                           {frame.left, s.bottom, frame.right, frame.bottom},
                           {frame.left, s.top, s.left, s.bottom},
                           {s.right, s.top, frame.right, s.bottom}};
    for (const TRect& bar : bars)
        if (!bar.IsEmpty()) gpu->FillRect(color, bar);
}

} // namespace kiv

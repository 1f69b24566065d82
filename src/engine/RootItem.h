// TRootItem: the frame's root draw item. The engine fills it each frame with the layers to draw —
// the outgoing slide, the incoming slide while a transition runs, and the overlay last — and with
// the running transition's filter and progress. It tells the engine whether anything changed since
// the last frame, and draws the layers, the optional sharpening pass and the border fill (everything
// outside the slide area in the hider colour).
//
// A layer pair with a filter is drawn by the GPU drawer through the transition's filter (outgoing
// layer 0, incoming layer 1); any other drawer shows a plain cut at the middle of the transition.
#pragma once

#include "objects/DrawItem.h"
#include "project/KivFilter.h"
#include "render/RenderTypes.h"

#include <cstdint>
#include <vector>

namespace kiv {

class TDeviceDrawer;

class TRootItem final : public TDrawItem {
public:
    explicit TRootItem(bool borderFill) : borderFill_(borderFill) {}

    // Keeps the current layers as the previous ones and clears layers, filter and change marks.
    void Clear();
    // Sets the layer at `index` (the list grows as needed); a layer that differs from the previous
    // frame's layer at that index marks the item changed. `item` may be none (no overlay).
    void SetLayer(int index, TDrawItem* item);
    // Sets the running transition (none: no transition); a progress that differs from the last one
    // marks the item changed.
    void SetFilter(TKivFilter* filter, double progress);
    // Changed, transitioning, or a layer reports a change.
    bool HasChanged() const;
    bool IsChanged() const override { return HasChanged(); }

    void SetBorderColor(std::uint32_t rgb) { borderColor_ = rgb & 0xFFFFFFu; }
    std::uint32_t BorderColor() const { return borderColor_; }
    void SetUnsharpAmount(float amount) { unsharp_ = amount; }
    float UnsharpAmount() const { return unsharp_; }
    // The slides' rectangle in the window; the border fill covers the rest.
    void SetSlideArea(const TRect& area) { slideArea_ = area; }
    const TRect& SlideArea() const { return slideArea_; }
    bool BorderFillOn() const { return borderFill_; }

    int LayerCount() const { return static_cast<int>(layers_.size()); }
    TDrawItem* Layer(int index) const { return layers_[static_cast<std::size_t>(index)].Get(); }
    TKivFilter* Filter() const { return filter_.Get(); }
    double Progress() const { return progress_; }
    bool Transitioning() const { return filter_ != nullptr; }
    // The slide layer a plain cut shows for the running transition: 0 before the middle, else 1.
    int CutLayer() const;

    // Clears the frame, draws the layers (the slides, then the overlay last; without an overlay
    // the border fill runs instead), with the sharpening pass around the slides when the unsharp
    // amount is above 0. Exceptions of the layers are swallowed: the frame goes on.
    void Draw(TDeviceDrawer& drawer) override;
    // Lets the running transition filter free what the frame used.
    void AfterDraw(TDeviceDrawer& drawer) override;
    // Fills everything outside the slide area with the border colour (when border filling is on).
    void FillBorder(TDeviceDrawer& drawer);

protected:
    ~TRootItem() override = default;

private:
    void DrawLayer(TDeviceDrawer& drawer, TDrawItem* item);

    std::vector<TRef<TDrawItem>> layers_;
    std::vector<TRef<TDrawItem>> previous_;
    TRef<TKivFilter> filter_;
    double progress_ = 0;
    double lastProgress_ = -1;
    bool changed_ = false;
    const bool borderFill_;
    std::uint32_t borderColor_ = 0;
    float unsharp_ = 0;
    TRect slideArea_;
};

} // namespace kiv

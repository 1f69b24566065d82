// TDrawItem: anything the slide drawer can draw — the root item, the overlay, slides and slide
// objects. The drawer calls Draw with itself; the item draws by calling the drawer's operations
// (DeviceDrawer.h). Owned here, below the drawer, so that slide objects never see the GPU layer.
#pragma once

#include "base/RefObject.h"

namespace kiv {

class TDeviceDrawer;

class TDrawItem : public TRefObject {
public:
    // True when one of the item's two change flags is set (objects also ask their children).
    virtual bool IsChanged() const { return changed_ || contentChanged_; }
    // Blur of the item's drawing: positive = Gaussian blur, negative = sharpening, 0 none.
    virtual float GetBlur() const { return 0.0f; }
    // Called once after each top-level frame; frees per-frame resources.
    virtual void AfterDraw(TDeviceDrawer& /*drawer*/) {}
    // Draws the item through the drawer's operations. Called by the drawer only.
    virtual void Draw(TDeviceDrawer& drawer) = 0;

    // The transparent-background mark: the drawer sets it on both slides while it captures them
    // for a slide-effect transition, and clears it afterwards.
    bool TransparentBackground() const noexcept { return transparentBackground_; }
    void SetTransparentBackground(bool on) noexcept { transparentBackground_ = on; }

protected:
    ~TDrawItem() override = default;

    bool changed_ = false;        // placement, opacity, blur or visibility changed
    bool contentChanged_ = false; // what the item shows changed
    bool transparentBackground_ = false;
};

} // namespace kiv

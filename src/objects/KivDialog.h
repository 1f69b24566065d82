// TKivDialog: a dialog of the show (the help dialog or a custom one) as a slide drawn over the show
// by the overlay. It has no background and no times of its own (all 0); its opacity starts at 0,
// the overlay fades it in and out, and it multiplies the effective opacity of all its objects.
#pragma once

#include "objects/KivSlide.h"

#include <string>

namespace kiv {

class TKivDialog final : public TKivSlide {
public:
    // `host` as for slides; `name` is the dialog name the project or the action used.
    TKivDialog(TKivObjectHost* host, std::string name);

    const std::string& Name() const noexcept { return name_; }
    // The show pauses while the dialog is open (`DialogPause` of its section, default on).
    bool DialogPause() const noexcept { return dialogPause_; }
    void SetDialogPause(bool on) noexcept { dialogPause_ = on; }

    // Percent; values outside 0 … 100 are clamped. A change marks the dialog changed.
    void SetOpacity(float opacity);
    float Opacity() const noexcept { return opacity_; }
    float SlideOpacity() const override { return opacity_; }

    // Hands the objects to the drawer (no background) and commits.
    void Draw(TDeviceDrawer& drawer) override;

protected:
    ~TKivDialog() override = default;

private:
    std::string name_;
    bool dialogPause_ = true;
    float opacity_ = 0.0f;
};

} // namespace kiv

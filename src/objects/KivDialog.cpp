#include "objects/KivDialog.h"

#include <algorithm>
#include <cmath>

namespace kiv {

TKivDialog::TKivDialog(TKivObjectHost* host, std::string name) : TKivSlide(host, 0), name_(std::move(name)) {}

void TKivDialog::SetOpacity(float opacity) {
    if (std::isnan(opacity)) opacity = 0.0f;
    opacity = std::clamp(opacity, 0.0f, 100.0f);
    if (opacity == opacity_) return;
    opacity_ = opacity;
    changed_ = true;
}

void TKivDialog::Draw(TDeviceDrawer& drawer) {
    Commit(false);
    for (int i = 0; i < ChildCount(); ++i)
        drawer.Draw(*Child(i));
}

} // namespace kiv

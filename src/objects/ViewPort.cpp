#include "objects/ViewPort.h"

#include "base/CaseFold.h"
#include "ini/IniFile.h"

namespace kiv {

void TKivMaskStencil::SetDefaults() {
    TKivObject::SetDefaults();
    keys_.transpForClick = true;
}

void TKivMaskContent::SetDefaults() {
    TKivObject::SetDefaults();
    keys_.transpForClick = true;
}

void TKivViewPort::SetDefaults() {
    TKivObject::SetDefaults();
    size_ = {1.0, 1.0};
}

void TKivViewPort::ReadKeys(const TIniObject& object) {
    TKivObject::ReadKeys(object);
    if (const TIniItem* size = object.FindItem("Size"))
        size_ = {static_cast<double>(GetListInt32(size, ',', 0, 0)),
                 static_cast<double>(GetListInt32(size, ',', 1, 0))};
    else
        size_ = {};
}

bool TKivViewPort::IsKnownKey(std::string_view key) const {
    return TKivObject::IsKnownKey(key) || SameTextFolded(key, "Size");
}

TKivMaskStencil* TKivViewPort::Stencil() const {
    for (auto child = children_.rbegin(); child != children_.rend(); ++child)
        if (auto* stencil = dynamic_cast<TKivMaskStencil*>(child->Get())) return stencil;
    return nullptr;
}

TKivMaskContent* TKivViewPort::Content() const {
    for (auto child = children_.rbegin(); child != children_.rend(); ++child)
        if (auto* content = dynamic_cast<TKivMaskContent*>(child->Get())) return content;
    return nullptr;
}

void TKivViewPort::Draw(TDeviceDrawer& drawer) {
    TKivMaskStencil* stencil = Stencil();
    TKivMaskContent* content = Content();
    if (stencil && content && DrawnNow()) drawer.DrawMasked(*stencil, *content, EffectiveOpacity(), nullptr);
    Commit(false);
}

} // namespace kiv

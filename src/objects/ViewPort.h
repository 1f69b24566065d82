// TKivViewPort (type 9) shows the content of its last TKivMaskContent child through the coverage of
// its last TKivMaskStencil child, and draws no other child. Stencils (10) and contents (11) take
// their parent's size and ignore mouse hits unless told otherwise.
#pragma once

#include "objects/KivObject.h"

namespace kiv {

class TKivMaskStencil : public TKivObject {
public:
    using TKivObject::TKivObject;
    TVec2 ContentSize() const override { return parent_ ? parent_->ContentSize() : TVec2{}; }

protected:
    ~TKivMaskStencil() override = default;
    void SetDefaults() override;
};

class TKivMaskContent : public TKivObject {
public:
    using TKivObject::TKivObject;
    TVec2 ContentSize() const override { return parent_ ? parent_->ContentSize() : TVec2{}; }

protected:
    ~TKivMaskContent() override = default;
    void SetDefaults() override;
};

class TKivViewPort : public TKivObject {
public:
    using TKivObject::TKivObject;

    TKivMaskStencil* Stencil() const;
    TKivMaskContent* Content() const;
    void Draw(TDeviceDrawer& drawer) override;

protected:
    ~TKivViewPort() override = default;
    void SetDefaults() override;
    void ReadKeys(const TIniObject& object) override;
    bool IsKnownKey(std::string_view key) const override;
};

} // namespace kiv

#include "objects/ObjectFilter.h"

#include "package/TempFolders.h"

#include <algorithm>

namespace kiv {

TObjectFilter::~TObjectFilter() {
    TRef<TObjectFilter> next = std::move(next_);
    // Unlink the chain one filter at a time while this chain holds the only reference.
    while (next && next->RefCount() == 1) {
        TRef<TObjectFilter> after = std::move(next->next_);
        next = std::move(after);
    }
}

bool TObjectFilter::ReadFilter(TIniObject& object) {
    std::string id = object.GetText("id");
    const std::int64_t revision = object.GetInt64("$rev", 0);
    if (!id_.empty()) {
        if (id != id_ || revision != revision_) return false;
    } else {
        if (id.empty()) {
            id = NewGuidText();
            object.SetText("id", id);
        }
        id_ = std::move(id);
        revision_ = revision;
    }
    object_ = TRef<TIniObject>::Share(&object);
    disabled_ = object.GetBool("Disable", false);
    if (appliedRevision_ != revision_ + 1) ApplyRevision();
    return true;
}

void TObjectFilter::ApplyRevision() {
    needsUpdate_ = true;
    if (Update()) {
        appliedRevision_ = revision_ + 1;
        needsUpdate_ = false;
    }
}

void TObjectFilter::ApplyToTable(std::uint8_t*, int, int) {}

double TObjectFilter::EvaluateValue() {
    return 0.0;
}

TFilterParamInfo TObjectFilter::ParamInfo(int) const {
    return {};
}

std::string TObjectFilter::Caption() const {
    const std::string preset = object_ ? object_->GetText("Preset") : std::string();
    if (preset.empty()) return caption_;
    return caption_ + " (" + preset + ")";
}

std::string TObjectFilter::GetParamText(int index) const {
    if (!object_ || index < 0 || index >= ParamCount()) return {};
    return object_->GetText(ParamInfo(index).key);
}

bool TObjectFilter::SetParamText(int index, std::string_view text) {
    if (!object_ || index < 0 || index >= ParamCount()) return false;
    const std::string key = ParamInfo(index).key;
    if (key.empty()) return false;
    TIniItem* item = object_->FindItem(key);
    if (item && item->Value() == text) return false;
    object_->SetText(key, text);
    if (TIniItem* preset = object_->FindItem("Preset")) object_->Remove(*preset);
    revision_ = object_->GetInt64("$rev", 0) + 1;
    object_->SetInt64("$rev", revision_);
    ApplyRevision();
    return true;
}

int ChainKind(const TObjectFilter* chain) noexcept {
    int kind = 0;
    for (const TObjectFilter* filter = chain; filter; filter = filter->Next()) {
        if (filter->Disabled()) continue;
        kind = std::max(kind, filter->Kind());
        if (kind >= kFilterVolume) break;
    }
    return kind;
}

std::vector<TObjectFilter*> ChainApplyOrder(TObjectFilter* chain) {
    std::vector<TObjectFilter*> order;
    for (TObjectFilter* filter = chain; filter; filter = filter->Next())
        order.push_back(filter);
    std::reverse(order.begin(), order.end());
    return order;
}

} // namespace kiv

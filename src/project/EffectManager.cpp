#include "project/EffectManager.h"

#include "base/Assert.h"
#include "project/ShowOptions.h"

namespace kiv {

namespace {

constexpr std::array<const char*, 3> kBuiltInGroups = {"GroupFromProjectOptions", "GroupFromProjectOptions",
                                                       "GroupBasic"};

} // namespace

TKIVEffectManager::TKIVEffectManager(TIniFile* document, std::int32_t height, std::int32_t width)
    : document_(TRef<TIniFile>::Share(document)) {
    KIV_ASSERT(document != nullptr, "There is no IniFile for EffectRuller");
    const TIniSection* main = document->FindSection("Main");
    width_ = width > 0 ? width : (main ? main->GetInt32("opt_scr_width", 1920) : 1920);
    height_ = height > 0 ? height : (main ? main->GetInt32("opt_scr_height", 1080) : 1080);
}

std::int32_t TKIVEffectManager::SlideCount() const {
    return ReadSlideCount(*document_);
}

TIniObject& TKIVEffectManager::Pool() {
    TIniSection* main = document_->FindOrCreateSection("Main");
    if (TIniObject* pool = main->FindObject("TheEffect")) return *pool;
    TIniObject* pool = main->AddObject("TheEffect", "AnEffect");
    pool->SetText("time", "2000");
    return *pool;
}

std::int32_t TKIVEffectManager::DefaultTime() {
    return GetInt32(Pool().FindItem("time"), 0);
}

std::string TKIVEffectManager::DefaultTimeText() {
    return GetText(Pool().FindItem("time"));
}

std::int32_t TKIVEffectManager::ChildCount() {
    return Pool().ObjectCount();
}

std::int32_t TKIVEffectManager::EntryCount() {
    std::int32_t count = ChildCount();
    if (virtualEntries_)
        for (std::string_view name : kBuiltInNames)
            if (IndexOf(name) < 0) ++count;
    return count;
}

TEffectProp* TKIVEffectManager::Entry(std::int32_t index) {
    if (index < 0) return nullptr;
    TIniObject& pool = Pool();
    const std::int32_t children = pool.ObjectCount();
    if (index < children) {
        if (poolCache_.size() < static_cast<std::size_t>(children))
            poolCache_.resize(static_cast<std::size_t>(children));
        TRef<TEffectProp>& cached = poolCache_[static_cast<std::size_t>(index)];
        TIniObject* object = pool.Object(index);
        if (!cached || &cached->Object() != object) cached = CreateEntry(*object);
        return cached.Get();
    }
    if (!virtualEntries_) return nullptr;
    std::int32_t position = children;
    for (std::size_t which = 0; which < kBuiltInNames.size(); ++which) {
        if (IndexOf(kBuiltInNames[which]) >= 0) continue;
        if (position == index) return BuiltIn(which);
        ++position;
    }
    return nullptr;
}

std::int32_t TKIVEffectManager::IndexOf(std::string_view name) {
    const TIniObject* child = Pool().FindObject(name);
    return child ? child->ObjectIndex() : -1;
}

TEffectProp* TKIVEffectManager::FindEntry(std::string_view name) {
    const std::int32_t index = IndexOf(name);
    if (index >= 0) return Entry(index);
    if (!virtualEntries_) return nullptr;
    for (std::size_t which = 0; which < kBuiltInNames.size(); ++which)
        if (name == kBuiltInNames[which]) return BuiltIn(which);
    return nullptr;
}

TEffectProp* TKIVEffectManager::BuiltIn(std::size_t which) {
    if (!builtIns_[which]) {
        const std::string_view name = kBuiltInNames[which];
        TRef<TIniObject> object = MakeRef<TIniObject>(name, name);
        object->SetText("caption", name);
        object->SetText("group", kBuiltInGroups[which]);
        object->SetText("islocal", "1");
        builtIns_[which] = CreateEntry(*object);
        builtInObjects_[which] = std::move(object);
    }
    return builtIns_[which].Get();
}

TEffectProp* TKIVEffectManager::SlideEntry(std::int32_t index) {
    if (index < 0 || index >= SlideCount()) return nullptr;
    if (const auto found = slideCache_.find(index); found != slideCache_.end()) return found->second.Get();
    TRef<TEffectProp> entry = CreateSlideEntry(index);
    if (!entry) return nullptr;
    TEffectProp* raw = entry.Get();
    slideCache_.emplace(index, std::move(entry));
    return raw;
}

TRef<TEffectProp> TKIVEffectManager::CreateSlideEntry(std::int32_t index) {
    TIniSection* section = SlideSection(*document_, index);
    if (!section) return nullptr;
    TIniObject* object = section->FindObject("TheEffect");
    if (!object) {
        object = section->AddObject("TheEffect", "AnEffect");
        object->SetText("ref", "default");
    }
    return CreateEntry(*object);
}

TRef<TEffectProp> TKIVEffectManager::CreateEntry(TIniList& object) {
    return MakeRef<TEffectProp>(*this, object);
}

std::int32_t TKIVEffectManager::SlideTime(std::int32_t index) {
    if (index < 0) return DefaultTime();
    TEffectProp* entry = SlideEntry(index);
    return entry ? entry->Time() : 0;
}

bool TKIVEffectManager::AnyEnabled() {
    if (!anyEnabled_) {
        bool any = false;
        const std::int32_t count = EntryCount();
        for (std::int32_t index = 0; index < count && !any; ++index)
            if (const TEffectProp* entry = Entry(index)) any = entry->Enabled() != 0;
        anyEnabled_ = any;
    }
    return *anyEnabled_;
}

void TKIVEffectManager::Changed() {
    anyEnabled_.reset();
}

void TKIVEffectManager::ClearCaches() {
    poolCache_.clear();
    slideCache_.clear();
    anyEnabled_.reset();
}

bool TKIVEffectManager::DeleteEntry(TEffectProp& entry) {
    if (locked_) return false;
    TIniObject& pool = Pool();
    if (entry.Object().Parent() != &pool) return false;
    const auto index = static_cast<std::size_t>(static_cast<TIniObject&>(entry.Object()).ObjectIndex());
    auto keep = TRef<TEffectProp>::Share(&entry); // the wrapper may be the cache's last reference
    if (index < poolCache_.size()) poolCache_.erase(poolCache_.begin() + static_cast<std::ptrdiff_t>(index));
    pool.Remove(entry.Object());
    Changed();
    return true;
}

std::string TKIVEffectManager::PrefixedCaption(std::int32_t index) {
    if (captionPrefix_.empty()) return EntryCaption(index);
    return captionPrefix_ + EntryCaption(index);
}

std::string TKIVEffectManager::EntryCaption(std::int32_t /*index*/) {
    return {};
}

} // namespace kiv

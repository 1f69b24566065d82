#include "project/EffectProp.h"

#include "base/CaseFold.h"
#include "ini/IniValues.h"
#include "project/EffectManager.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace kiv {

namespace {

const std::vector<std::string> kNoKeys;

std::vector<std::string> SplitToStrings(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (std::string_view part : SplitIniList(text, separator))
        parts.emplace_back(part);
    return parts;
}

// Switch state of one key value: 0 off, 1 partly on, 2 on.
int KeyState(std::string_view value) {
    if (value.empty()) return 0;
    const bool first = value.front() == '1';
    const char other = first ? '0' : '1';
    const bool mixed = value.find(other, 1) != std::string_view::npos;
    if (first) return mixed ? 1 : 2;
    return mixed ? 1 : 0;
}

// The number m of a key named "prop" + m (decimal, no leading zeros); 0 when it is not such a key.
std::int64_t PropNumber(std::string_view name) {
    if (name.size() <= 4 || !SameTextFolded(name.substr(0, 4), "prop")) return 0;
    const std::string_view digits = name.substr(4);
    if (digits.front() == '0' || digits.size() > 18) return 0;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return 0;
    return value;
}

} // namespace

TEffectProp::TEffectProp(TKIVEffectManager& catalog, TIniList& object)
    : catalog_(&catalog), object_(TRef<TIniList>::Share(&object)) {
    ReadKeyList();
}

void TEffectProp::ReadKeyList() {
    keyList_ = SplitToStrings(GetText(object_->FindItem("key")), ',');
}

bool TEffectProp::IsReference() const {
    if (referenceState_ == 0) referenceState_ = SameTextFolded(object_->Value(), "AnEffect") ? 1 : -1;
    return referenceState_ > 0;
}

std::string TEffectProp::Name() const {
    if (IsReference()) return FoldUtf8(GetText(object_->FindItem("ref")));
    return FoldUtf8(object_->Name());
}

TEffectProp* TEffectProp::Referenced() const {
    if (!IsReference()) return nullptr;
    return catalog_->FindEntry(Name());
}

std::string TEffectProp::TypeWord() const {
    if (!IsReference()) return object_->Value();
    const std::int32_t index = catalog_->IndexOf(Name());
    if (index >= 0) return catalog_->Entry(index)->TypeWord();
    return GetText(object_->FindItem("ref"));
}

bool TEffectProp::IsCustom() const {
    return SameTextFolded(TypeWord(), "custom");
}

TIniItem* TEffectProp::Item(std::string_view key, bool create) const {
    TIniList* list = object_.Get();
    if (!IsReference() && SameTextFolded(key, "time")) {
        list = object_->Parent();
        if (!list) return nullptr;
    }
    if (key.empty()) return nullptr;
    return create ? list->FindOrCreateItem(key) : list->FindItem(key);
}

std::string TEffectProp::Value(std::string_view key) const {
    if (!IsReference()) {
        if (SameTextFolded(key, "time")) {
            if (Name() == "defowntime") return catalog_->DefaultTimeText();
            const TIniList* parent = object_->Parent();
            return parent ? GetText(parent->FindItem("time")) : std::string();
        }
        return GetText(object_->FindItem(key));
    }
    if (SameTextFolded(key, "caption")) {
        TEffectProp* entry = Referenced();
        return entry ? entry->Value("caption") : std::string();
    }
    if (const TIniItem* own = object_->FindItem(key)) return own->Value();
    const std::int32_t index = catalog_->IndexOf(Name());
    if (index >= 0) return catalog_->Entry(index)->Value(key);
    return GetText(catalog_->Pool().FindItem(key));
}

int TEffectProp::Enabled() const {
    const std::vector<std::string>* keys = &keyList_;
    if (IsReference()) {
        const TEffectProp* entry = Referenced();
        keys = entry ? &entry->KeyList() : &kNoKeys;
    }
    if (keys->empty()) return GetBool(Item("checked"), false) ? 2 : 0;
    int result = 2;
    for (const std::string& key : *keys) {
        const int state = KeyState(GetText(Item(key)));
        if (state == 0) return 0;
        result = std::min(result, state);
    }
    return result;
}

int TEffectProp::StdIndex() const {
    if (!IsReference()) return GetInt32(object_->FindItem("stdidx"), -1);
    const std::string name = Name();
    const std::int32_t index = catalog_->IndexOf(name);
    if (index >= 0) return catalog_->Entry(index)->StdIndex();
    if (name == "default") return 0;
    if (name == "defowntime") return 1;
    if (name == "quick") return 3;
    return 2;
}

std::vector<std::string> TEffectProp::VariantKeys() const {
    if (IsReference()) {
        const TEffectProp* entry = Referenced();
        return entry ? entry->VariantKeys() : std::vector<std::string>();
    }
    if (!IsCustom()) return {};
    const TIniItem* field = object_->FindItem("sectionfield");
    if (!field || SameTextFolded(field->Value(), "checked")) return {};
    return SplitToStrings(field->Value(), ',');
}

std::int32_t TEffectProp::VariantCount() const {
    if (!IsCustom()) return 0;
    std::int64_t count = 1;
    for (const std::string& key : VariantKeys()) {
        if (key.empty()) continue;
        const TIniItem* item = Item(key);
        if (!item) continue;
        count =
            std::min<std::int64_t>(count * static_cast<std::int64_t>(item->Value().size()), kMaxVariantCount);
    }
    return static_cast<std::int32_t>(count);
}

bool TEffectProp::VariantEnabled(std::int32_t variant) const {
    if (variant < 0 || !IsCustom() || variant >= VariantCount()) return false;
    std::vector<std::string> keys = VariantKeys();
    std::erase_if(keys, [](const std::string& key) { return key.empty(); });
    if (keys.empty()) return IsReference() || Enabled() != 0;
    std::int32_t rest = variant;
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        const TIniItem* item = Item(*key);
        if (!item) {
            if (rest != 0) return false;
            continue;
        }
        const std::string& value = item->Value();
        const auto length = static_cast<std::int32_t>(value.size());
        if (length == 0) return false;
        const std::int32_t digit = rest % length;
        rest /= length;
        if (value[static_cast<std::size_t>(digit)] != '1') return false;
    }
    return true;
}

TIniItem* TEffectProp::VariantItem(std::int32_t variant) const {
    if (IsReference()) {
        const TEffectProp* entry = Referenced();
        return entry ? entry->VariantItem(variant) : nullptr;
    }
    if (variant < 0) return nullptr;
    const std::vector<std::string> keys = VariantKeys();
    if (keys.empty()) {
        if (variant != 0) return nullptr;
        if (TIniItem* item = object_->FindItem("slide_1")) return item;
        return object_->SetText("slide_1", Name());
    }
    // Digits are taken last key first; the name lists them first key first.
    std::vector<std::string> patterns;
    std::int32_t rest = variant;
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        if (key->empty()) continue;
        const TIniItem* item = Item(*key);
        if (!item || item->Value().empty()) return nullptr;
        const auto length = static_cast<std::int32_t>(item->Value().size());
        std::string pattern(static_cast<std::size_t>(length), '0');
        pattern[static_cast<std::size_t>(rest % length)] = '1';
        rest /= length;
        patterns.push_back(std::move(pattern));
    }
    std::string name = "slide_";
    for (auto pattern = patterns.rbegin(); pattern != patterns.rend(); ++pattern) {
        if (pattern != patterns.rbegin()) name += '_';
        name += *pattern;
    }
    if (patterns.empty()) name += '0';
    return object_->FindItem(name);
}

TIniSection* TEffectProp::VariantSection(std::int32_t variant, bool create) {
    if (IsReference()) {
        TEffectProp* entry = Referenced();
        return entry ? entry->VariantSection(variant, create) : nullptr;
    }
    const TIniItem* item = VariantItem(variant);
    if (!item) return nullptr;
    const std::string name = "effect_" + item->Value();
    TIniFile& document = *catalog_->IniFile();
    return create ? document.FindOrCreateSection(name) : document.FindSection(name);
}

TIniSection* TEffectProp::NamedSection(std::string_view suffix, bool create) {
    if (IsReference()) {
        TEffectProp* entry = Referenced();
        return entry ? entry->NamedSection(suffix, create) : nullptr;
    }
    const std::string name = "effect_" + std::string(suffix);
    TIniFile& document = *catalog_->IniFile();
    return create ? document.FindOrCreateSection(name) : document.FindSection(name);
}

TRef<TIniSection> TEffectProp::VariantCopy(std::int32_t variant) {
    const TIniSection* source = VariantSection(variant, true);
    if (!source) return nullptr;
    TRef<TIniSection> copy = MakeRef<TIniSection>(source->Name());
    copy->Assign(static_cast<const TIniList&>(*source));
    TIniObject* root = copy->FindObject("Root", "Container");
    if (!root) root = copy->AddObject("Root", "Container");

    const std::vector<std::string> known = SplitToStrings(GetText(Item("sectionfield")), ',');
    const std::int32_t userProps = GetInt32(Item("userprops"), 0);
    // Only keys the entry holds can be properties, so the numbers come from its items rather than
    // from counting up to a declared total.
    std::vector<std::int64_t> numbers;
    for (const TRef<TIniItem>& item : object_->Items()) {
        if (!item->IsKey()) continue;
        const std::int64_t number = PropNumber(item->Name());
        if (number >= 1 && number <= userProps) numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    for (const std::int64_t number : numbers) {
        const std::string propKey = "prop" + std::to_string(number);
        const TIniItem* prop = Item(propKey);
        if (!prop || prop->Value().empty()) continue;
        const std::string value = prop->Value();
        std::string id;
        for (std::string_view field : SplitIniList(value, ';')) {
            const std::size_t colon = field.find(':');
            if (field.substr(0, colon) != "id") continue;
            if (colon != std::string_view::npos) id = field.substr(colon + 1);
            break;
        }
        if (std::find(known.begin(), known.end(), id) != known.end()) continue;
        root->SetText(propKey, value);
        // A property without an id has no key of its own to carry its value.
        if (!id.empty()) root->SetText(id, Value(id));
    }
    FillBackground(*copy);
    return copy;
}

std::int32_t TEffectProp::Time() {
    if (!IsReference()) {
        const TIniItem* time = Item("time");
        return time ? GetInt32(time, 0) : catalog_->DefaultTime();
    }
    const std::string name = Name();
    if (name == "default") return catalog_->AnyEnabled() ? catalog_->DefaultTime() : 0;
    if (name == "quick") return 0;
    const TIniItem* own = object_->FindItem("time");
    if (name == "defowntime") {
        if (!catalog_->AnyEnabled()) return 0;
        if (own) return GetInt32(own, 0);
        object_->SetText("time", catalog_->DefaultTimeText());
        return catalog_->DefaultTime();
    }
    return own ? GetInt32(own, 0) : 0;
}

void TEffectProp::FillBackground(TIniList& list) const {
    if (IsReference()) {
        if (const TEffectProp* entry = Referenced()) entry->FillBackground(list);
        return;
    }
    const auto copy = [&](std::string_view key, const char* fallback) {
        if (const TIniItem* item = Item(key))
            list.SetText(key, item->Value());
        else if (fallback)
            list.SetText(key, fallback);
    };
    list.SetText("CustomEffBg", "0");
    switch (GetInt32(Item("bstyle"), 0)) {
    case 1:
        list.SetText("bstyle", "1");
        copy("bcolor", "0");
        break;
    case 2:
        list.SetText("bstyle", "2");
        copy("bfn", nullptr);
        copy("bsize", "100");
        break;
    case 3:
        list.SetText("bstyle", "3");
        copy("bcolor1", "16711680");
        copy("bcolor2", "0");
        copy("bcolorStyle", "1");
        break;
    case 4:
        list.SetText("bstyle", "4");
        copy("CustomEffBg", "3");
        break;
    default:
        break;
    }
    copy("TransparentBg", "0");
    list.SetText("CoverMode", "1");
    list.SetText("opt_scr_width", std::to_string(catalog_->ScreenWidth()));
    list.SetText("opt_scr_height", std::to_string(catalog_->ScreenHeight()));
}

void TEffectProp::Assign(TEffectProp& other, bool withVariants) {
    if (catalog_->Locked() || &other == this) return;
    object_->Assign(static_cast<const TIniList&>(other.Object()));
    if (withVariants && !IsReference() && !other.IsReference()) {
        const std::int32_t count = other.VariantCount();
        for (std::int32_t variant = 0; variant < count; ++variant) {
            const TIniSection* source = other.VariantSection(variant, false);
            if (!source) continue;
            TIniSection* target = VariantSection(variant, true);
            if (target && target != source) target->Assign(static_cast<const TIniList&>(*source));
        }
    }
    ReadKeyList();
    catalog_->Changed();
}

void TEffectProp::SetNameAndType(std::string_view name, std::string_view classText) {
    if (catalog_->Locked()) return;
    if (IsReference()) {
        // The slide keeps pointing at its entry under the entry's new name.
        if (TEffectProp* entry = Referenced()) entry->SetNameAndType(name, classText);
        object_->SetText("ref", name);
        return;
    }
    object_->SetName(name);
    object_->SetValue(classText);
    referenceState_ = 0;
    catalog_->Changed();
}

} // namespace kiv

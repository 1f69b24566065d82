// TIniItem and the typed getters on stored values.
#include "ini/IniFile.h"

#include "base/NumberText.h"

#include <string>

namespace kiv {

void TIniItem::SetName(std::string_view name) {
    const bool wasKey = IsKey();
    name_ = name;
    if (parent_) parent_->ItemRenamed(*this, wasKey);
}

bool TIniItem::IsAncestorOf(const TIniList&) const {
    return false;
}

TRef<TIniItem> TIniItem::Clone() const {
    return MakeRef<TIniItem>(name_, value_);
}

void TIniItem::Save(TTextSaver& saver, int indent) const {
    if (name_.empty() && value_.empty()) {
        saver.WriteLineEnd();
        return;
    }
    saver.WriteIndent(indent);
    if (!name_.empty()) {
        saver.Write(name_);
        saver.Write("=");
    }
    saver.Write(value_);
    saver.WriteLineEnd();
}

void TIniItem::SetInt32(std::int32_t value) {
    value_ = std::to_string(value);
}
void TIniItem::SetInt64(std::int64_t value) {
    value_ = std::to_string(value);
}
void TIniItem::SetReal(double value) {
    value_ = FormatIniReal(value);
}
void TIniItem::SetBool(bool value) {
    value_.assign(1, value ? '1' : '0');
}
void TIniItem::SetEscapedText(std::string_view text) {
    value_ = EscapeIniText(text);
}

// --- Typed getters ---

TByteString GetText(const TIniItem* item, std::string_view fallback) {
    return TByteString(item ? std::string_view(item->Value()) : fallback);
}

std::int32_t GetInt32(const TIniItem* item, std::int32_t fallback) {
    return item ? ParseInt32(item->Value(), fallback) : fallback;
}

std::int64_t GetInt64(const TIniItem* item, std::int64_t fallback) {
    return item ? ParseInt64(item->Value(), fallback) : fallback;
}

double GetReal(const TIniItem* item, double fallback) {
    return item ? ParseIniReal(item->Value()).value_or(fallback) : fallback;
}

bool GetBool(const TIniItem* item, bool fallback) {
    return item ? ParseIniBool(item->Value()).value_or(fallback) : fallback;
}

int GetChoice(const TIniItem* item, std::span<const std::string_view> words, bool ignoreCase, int fallback) {
    return item ? ParseIniChoice(item->Value(), words, ignoreCase).value_or(fallback) : fallback;
}

int GetListCount(const TIniItem* item, char separator) {
    return item ? static_cast<int>(SplitIniList(item->Value(), separator).size()) : 0;
}

namespace {

std::optional<std::string_view> ListPart(const TIniItem* item, char separator, int part) {
    if (!item || part < 0) return std::nullopt;
    const std::vector<std::string_view> parts = SplitIniList(item->Value(), separator);
    if (static_cast<std::size_t>(part) >= parts.size()) return std::nullopt;
    return parts[static_cast<std::size_t>(part)];
}

} // namespace

TByteString GetListText(const TIniItem* item, char separator, int part, std::string_view fallback) {
    return TByteString(ListPart(item, separator, part).value_or(fallback));
}

std::int32_t GetListInt32(const TIniItem* item, char separator, int part, std::int32_t fallback) {
    const auto text = ListPart(item, separator, part);
    return text ? ParseInt32(*text, fallback) : fallback;
}

double GetListReal(const TIniItem* item, char separator, int part, double fallback) {
    const auto text = ListPart(item, separator, part);
    return text ? ParseIniReal(*text).value_or(fallback) : fallback;
}

TByteString GetEscapedText(const TIniItem* item, std::string_view fallback) {
    if (!item) return TByteString(fallback);
    return UnescapeIniText(item->Value()).value_or(TByteString());
}

} // namespace kiv

#include "package/ProjectFileTables.h"

#include "base/CaseFold.h"
#include "base/NumberText.h"

namespace kiv {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.remove_suffix(1);
    return text;
}

std::string_view StripQuotes(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
    return text;
}

// Plain items of a section: its key and text lines (nested objects are not table lines).
template <class F> bool ForEachLine(const TIniList& section, F&& parse) {
    bool any = false;
    for (const TRef<TIniItem>& item : section.Items()) {
        if (!item->HasName()) continue;
        any |= parse(TableLineText(*item));
    }
    return any;
}

} // namespace

std::optional<std::pair<std::string, std::string>> TFileMap::ParseLine(std::string_view line) {
    if (!line.empty() && line.front() == ';') line.remove_prefix(1);
    bool quoted = false;
    std::size_t equals = std::string_view::npos;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (line[i] == '=' && !quoted) {
            equals = i;
            break;
        }
    }
    if (equals == std::string_view::npos || equals + 1 >= line.size()) return std::nullopt;
    const std::string_view source = StripQuotes(Trim(line.substr(0, equals)));
    const std::string_view target = StripQuotes(Trim(line.substr(equals + 1)));
    if (source.empty() || target.empty()) return std::nullopt;
    return std::make_pair(std::string(source), std::string(target));
}

void TFileMap::Add(std::string_view source, std::string_view target) {
    if (map_.empty()) map_.rehash(kBuckets);
    map_[FoldUtf8(source)].push_back({std::string(target)});
}

bool TFileMap::Fill(const TIniList& section) {
    return ForEachLine(section, [this](std::string_view text) {
        const auto parsed = ParseLine(text);
        if (parsed) Add(parsed->first, parsed->second);
        return parsed.has_value();
    });
}

const std::vector<TMappingStr>* TFileMap::Targets(std::string_view name) const {
    if (map_.empty()) return nullptr;
    auto it = map_.find(FoldUtf8(name));
    return it == map_.end() ? nullptr : &it->second;
}

const std::string* TFileMap::Target(std::string_view name) const {
    const std::vector<TMappingStr>* targets = Targets(name);
    return targets && !targets->empty() ? &targets->front().name : nullptr;
}

std::optional<std::pair<std::string, int>> TRotationState::ParseLine(std::string_view line) {
    if (line.size() < 2 || line[0] != ';' || line[1] != '"') return std::nullopt;
    line.remove_prefix(2);
    const std::size_t end = line.find("\"=");
    if (end == std::string_view::npos || end == 0) return std::nullopt;
    const auto number = ParseInt32(line.substr(end + 2));
    if (!number || (*number != 1 && *number != 3 && *number != 6 && *number != 8)) return std::nullopt;
    return std::make_pair(std::string(line.substr(0, end)), *number);
}

bool TRotationState::Fill(const TIniList& section) {
    return ForEachLine(section, [this](std::string_view text) {
        const auto parsed = ParseLine(text);
        if (parsed) {
            if (map_.empty()) map_.rehash(kBuckets);
            map_[FoldUtf8(parsed->first)] = parsed->second;
        }
        return parsed.has_value();
    });
}

std::optional<int> TRotationState::Orientation(std::string_view name) const {
    if (map_.empty()) return std::nullopt;
    auto it = map_.find(FoldUtf8(name));
    if (it == map_.end()) return std::nullopt;
    return it->second;
}

} // namespace kiv

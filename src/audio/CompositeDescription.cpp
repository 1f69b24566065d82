#include "audio/CompositeDescription.h"

#include "base/Log.h"
#include "ini/IniFile.h"

#include <algorithm>

namespace kiv {

namespace {

std::string VolumeSectionName(std::string_view owner, std::size_t envelope, std::size_t point) {
    return "Vol_" + std::string(owner) + "_" + std::to_string(envelope) + "_" + std::to_string(point);
}

void WriteEnvelopes(TIniFile& document, std::string_view owner, const TVolumeParamsList& envelopes) {
    for (std::size_t j = 0; j < envelopes.size(); ++j) {
        for (std::size_t k = 0; k < envelopes[j].size(); ++k) {
            TIniSection* section = document.FindOrCreateSection(VolumeSectionName(owner, j, k));
            section->SetInt64("0", envelopes[j][k].time);
            section->SetInt32("1", envelopes[j][k].volume);
        }
    }
}

// Envelopes of `owner` (an item index or "MainVolume"): FadeCount of them, each read up to its
// first missing point.
TVolumeParamsList ReadEnvelopes(const TIniFile& document, std::string_view owner, std::int64_t fadeCount) {
    TVolumeParamsList envelopes;
    if (fadeCount <= 0) return envelopes;
    if (static_cast<std::uint64_t>(fadeCount) > kMaxCompositeEnvelopes) {
        TLog::Line("Composite sound: " + std::string(owner) + " has " + std::to_string(fadeCount) +
                   " envelopes; only " + std::to_string(kMaxCompositeEnvelopes) + " are used");
        fadeCount = kMaxCompositeEnvelopes;
    }
    for (std::int64_t j = 0; j < fadeCount; ++j) {
        TVolumeParams points;
        for (std::size_t k = 0;; ++k) {
            const TIniSection* section =
                document.FindSection(VolumeSectionName(owner, static_cast<std::size_t>(j), k));
            if (!section) break;
            const std::int64_t time =
                std::clamp<std::int64_t>(section->GetInt64("0", 0), -kMaxCompositeTime, kMaxCompositeTime);
            points.push_back({time, section->GetInt32("1", 1000)});
        }
        envelopes.push_back(std::move(points));
    }
    return envelopes;
}

bool ValidTime(std::int64_t value) {
    return value >= 0 && value <= kMaxCompositeTime;
}

} // namespace

bool IsCompositeText(std::string_view text) {
    return text.starts_with(kCompositeMarker);
}

std::string WriteCompositeText(const TCompositeDescription& description) {
    TRef<TIniFile> document = MakeRef<TIniFile>();
    document->FindOrCreateSection("Main")->SetInt64("Duration", description.duration);
    for (std::size_t i = 0; i < description.items.size(); ++i) {
        const TCompositeItem& item = description.items[i];
        const std::string name = std::to_string(i);
        TIniSection* section = document->FindOrCreateSection(name);
        section->SetText("FileName", item.fileName);
        section->SetInt64("TimeLine", item.timeLine);
        section->SetInt64("BeginTime", item.beginTime);
        section->SetInt64("Duration", item.duration);
        section->SetInt32("FadeCount", static_cast<std::int32_t>(item.envelopes.size()));
        WriteEnvelopes(*document, name, item.envelopes);
    }
    if (!description.mainVolume.empty()) {
        document->FindOrCreateSection("MainVolume")
            ->SetInt32("FadeCount", static_cast<std::int32_t>(description.mainVolume.size()));
        WriteEnvelopes(*document, "MainVolume", description.mainVolume);
    }
    return std::string(kCompositeMarker) + document->SaveToBytes(false);
}

std::optional<TCompositeDescription> ReadCompositeText(std::string_view text) {
    if (!IsCompositeText(text)) return std::nullopt;
    TCompositeDescription result;
    std::int64_t shift = 0;
    bool warnedAboutCount = false;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t begin = position + kCompositeMarker.size();
        std::size_t next = text.find(kCompositeMarker, begin);
        if (next == std::string_view::npos) next = text.size();
        position = next;

        TRef<TIniFile> document = MakeRef<TIniFile>();
        document->LoadFromText(text.substr(begin, next - begin));
        const TIniSection* main = document->FindSection("Main");
        std::int64_t duration = main ? main->GetInt64("Duration", 0) : 0;
        if (!ValidTime(duration)) {
            TLog::Line("Composite sound: a document with the duration " + std::to_string(duration) +
                       " counts as 0");
            duration = 0;
        }
        for (std::size_t i = 0;; ++i) {
            const std::string name = std::to_string(i);
            const TIniSection* section = document->FindSection(name);
            if (!section) break;
            if (result.items.size() >= kMaxCompositeItems) {
                if (!warnedAboutCount)
                    TLog::Line("Composite sound: more than " + std::to_string(kMaxCompositeItems) +
                               " items; the rest stay silent");
                warnedAboutCount = true;
                break;
            }
            TCompositeItem item;
            item.fileName = section->GetText("FileName");
            item.timeLine = section->GetInt64("TimeLine", 0);
            item.beginTime = section->GetInt64("BeginTime", 0);
            item.duration = section->GetInt64("Duration", 0);
            if (!ValidTime(item.timeLine) || !ValidTime(item.beginTime) || !ValidTime(item.duration) ||
                item.timeLine + shift + item.duration > kMaxCompositeTime) {
                TLog::Line("Composite sound: item " + name + " (" + item.fileName +
                           ") has times out of range (" + std::to_string(item.timeLine) + ", " +
                           std::to_string(item.beginTime) + ", " + std::to_string(item.duration) +
                           "); it stays silent");
                continue;
            }
            item.timeLine += shift;
            item.envelopes = ReadEnvelopes(*document, name, section->GetInt64("FadeCount", 0));
            result.items.push_back(std::move(item));
        }
        if (const TIniSection* mainVolume = document->FindSection("MainVolume"))
            result.mainVolume = ReadEnvelopes(*document, "MainVolume", mainVolume->GetInt64("FadeCount", 0));
        shift = std::min(shift + duration, kMaxCompositeTime);
    }
    result.duration = shift;
    if (result.duration <= 0 || result.items.empty()) return std::nullopt;
    return result;
}

} // namespace kiv

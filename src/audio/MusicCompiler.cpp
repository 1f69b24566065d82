#include "audio/MusicCompiler.h"

#include "base/CaseFold.h"
#include "base/Log.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>

namespace kiv {

namespace {

// The keys of a music item or a comment.
struct TItemKeys {
    std::string fileName;
    std::int64_t startTime = 0;
    std::int64_t duration = 0;
    std::int32_t crossMode = 0;
    std::int64_t cross = 0;
    std::int64_t pause = 0;
    std::int64_t fadeIn = 0;
    std::int64_t fadeOut = 0;
    std::int64_t volume = 1000; // per-mille
    std::string volumeParams;
    std::string guid;
};

TItemKeys ReadItemKeys(const TIniList& item) {
    TItemKeys keys;
    keys.fileName = item.GetText("FileName");
    keys.startTime = item.GetInt64("StartTime", 0);
    keys.duration = item.GetInt64("Duration", 0);
    keys.crossMode = item.GetInt32("CrossMode", 0);
    keys.cross = item.GetInt64("Cross", 0);
    keys.pause = item.GetInt64("Pause", 0);
    keys.fadeIn = item.GetInt64("FadeIn", 0);
    keys.fadeOut = item.GetInt64("FadeOut", 0);
    keys.volume = item.GetInt64("Volume", 100) * 10;
    keys.volumeParams = item.GetText("VolumeParams");
    keys.guid = item.GetText("GUID");
    return keys;
}

bool Absurd(std::int64_t value) {
    return value > kMaxCompositeTime || value < -kMaxCompositeTime;
}

// Why an item cannot sound, or nothing when its times are usable.
std::optional<std::string> BadTimes(const TItemKeys& keys) {
    if (keys.startTime < 0 || keys.duration < 0 || Absurd(keys.startTime) || Absurd(keys.duration) ||
        Absurd(keys.cross) || Absurd(keys.pause) || Absurd(keys.fadeIn) || Absurd(keys.fadeOut) ||
        Absurd(keys.volume))
        return "StartTime " + std::to_string(keys.startTime) + ", Duration " + std::to_string(keys.duration);
    return std::nullopt;
}

bool NamesNoFile(std::string_view fileName) {
    return fileName.empty() || SameTextFolded(fileName, "error");
}

// False (with a log line) when the item's file cannot sound.
bool FileUsable(const std::string& fileName, const TSoundFileCheck& check) {
    if (NamesNoFile(fileName)) {
        TLog::Line("Sound item without a file (\"" + fileName + "\"): silent");
        return false;
    }
    return !check || check(fileName);
}

// The envelope of the item's fades and volume, when it needs one.
void AddFadeEnvelope(TCompositeItem& item, const TItemKeys& keys) {
    if (keys.fadeIn <= 0 && keys.fadeOut <= 0 && keys.volume == 1000) return;
    const auto volume = static_cast<std::int32_t>(keys.volume);
    TVolumeParams envelope;
    if (keys.fadeIn > 0) {
        envelope.push_back({0, 0});
        envelope.push_back({keys.fadeIn, volume});
    }
    if (keys.fadeOut > 0) {
        envelope.push_back({item.duration - keys.fadeOut, volume});
        envelope.push_back({item.duration, 0});
    }
    if (envelope.empty()) {
        envelope.push_back({0, volume});
        envelope.push_back({item.duration, volume});
    }
    item.envelopes.push_back(std::move(envelope));
}

void AddVolumeParams(TCompositeItem& item, const TItemKeys& keys) {
    if (keys.volumeParams.empty()) return;
    int bad = 0;
    TVolumeParams envelope = ParseVolumeParams(keys.volumeParams, keys.startTime, item.duration, &bad);
    if (bad > 0)
        TLog::Line("Sound item " + keys.fileName + ": " + std::to_string(bad) +
                   " unreadable volume points skipped");
    if (!envelope.empty()) item.envelopes.push_back(std::move(envelope));
}

// GUID -> index of the slide whose LinkedAudio names it (the first such slide).
std::map<std::string, std::int32_t> LinkedSlides(const TIniFile& document, std::int32_t slideCount) {
    std::map<std::string, std::int32_t> links;
    for (std::int32_t i = 0; i < slideCount; ++i) {
        const TIniSection* section = document.FindSection("Slide" + std::to_string(i + 1));
        if (!section) continue;
        const std::string guid = section->GetText("LinkedAudio");
        if (!guid.empty()) links.emplace(FoldUtf8(guid), i);
    }
    return links;
}

struct TGroupItem {
    const TIniObject* object;
    TItemKeys keys;
    std::int64_t linkedTime = -1;
};

using TGroup = std::vector<TGroupItem>;

// Walks `list`: its items join group `current` (or, with no current group, each is a group of its
// own); a track that is not muted starts a new group for its own items. Tracks beyond
// kMaxMusicTracks stay silent (one log line).
void CollectGroups(const TIniList& list, std::vector<TGroup>& groups, bool& repeat,
                   std::optional<std::size_t> current, std::size_t& tracks) {
    for (int i = 0; i < list.ObjectCount(); ++i) {
        const TIniObject& child = *list.Object(i);
        if (IsSoundObject(child, "TMusicItem")) {
            if (current) {
                groups[*current].push_back(TGroupItem{&child, ReadItemKeys(child)});
            } else {
                groups.push_back({TGroupItem{&child, ReadItemKeys(child)}});
            }
        } else if (IsSoundObject(child, "TMusicOptions")) {
            repeat = child.GetBool("IsRepeat", false);
        } else if (IsSoundObject(child, "TMusicTrack")) {
            if (child.GetBool("IsMute", false)) continue;
            if (++tracks > kMaxMusicTracks) {
                if (tracks == kMaxMusicTracks + 1)
                    TLog::Line("Music: more than " + std::to_string(kMaxMusicTracks) +
                               " tracks; the rest stay silent");
                continue;
            }
            groups.emplace_back();
            CollectGroups(child, groups, repeat, groups.size() - 1, tracks);
        }
    }
}

// Places the items of one group on the composite timeline from 0; returns the group's end.
std::int64_t CompileGroup(TGroup& group, const std::map<std::string, std::int32_t>& links,
                          const std::vector<std::int64_t>& slideStarts, const TSoundFileCheck& check,
                          std::vector<TCompositeItem>& out, bool& tooMany) {
    // Linked times, and for every item the earliest linked time of a later item.
    for (TGroupItem& item : group) {
        if (item.keys.guid.empty()) continue;
        const auto link = links.find(FoldUtf8(item.keys.guid));
        if (link == links.end()) continue;
        const std::size_t slide = static_cast<std::size_t>(link->second);
        const std::int64_t slideStart = slide < slideStarts.size() ? slideStarts[slide] : 0;
        if (item.keys.crossMode == 0)
            item.linkedTime = std::max<std::int64_t>(
                slideStart - std::clamp<std::int64_t>(item.keys.cross, 0, kMaxCompositeTime), 0);
        else if (item.keys.crossMode == 1)
            item.linkedTime = slideStart + std::clamp<std::int64_t>(item.keys.pause, 0, kMaxCompositeTime);
        else
            item.linkedTime = slideStart;
    }
    std::vector<std::optional<std::int64_t>> deadline(group.size());
    std::optional<std::int64_t> earliest;
    for (std::size_t i = group.size(); i-- > 0;) {
        deadline[i] = earliest;
        if (group[i].linkedTime >= 0 && (!earliest || group[i].linkedTime < *earliest))
            earliest = group[i].linkedTime;
    }

    std::int64_t t = 0;
    for (std::size_t i = 0; i < group.size(); ++i) {
        TItemKeys keys = group[i].keys;
        if (const std::optional<std::string> bad = BadTimes(keys)) {
            TLog::Line("Music item " + keys.fileName + " has times out of range (" + *bad + "): silent");
            continue;
        }
        const bool linked = group[i].linkedTime >= 0;
        if (linked) {
            t = group[i].linkedTime;
            keys.crossMode = 2;
            keys.cross = 0;
            keys.pause = 0;
        }
        const std::int64_t cross = std::max<std::int64_t>(keys.cross, 0);
        const std::int64_t pause = std::max<std::int64_t>(keys.pause, 0);
        const std::int64_t checkStart = keys.crossMode == 0 ? t - cross : keys.crossMode == 1 ? t + pause : t;
        std::int64_t length = keys.duration;
        if (deadline[i] && checkStart + length > *deadline[i])
            length = std::max<std::int64_t>(*deadline[i] - checkStart, 0);
        if (keys.crossMode == 1 && pause > 0) t += pause;

        TCompositeItem item;
        item.fileName = keys.fileName;
        item.timeLine = t;
        item.beginTime = keys.startTime;
        item.duration = length;
        AddFadeEnvelope(item, keys);
        std::optional<std::size_t> crossEnvelope;
        if (keys.crossMode == 0 && cross > 0) {
            crossEnvelope = item.envelopes.size();
            item.envelopes.push_back({{0, 0}, {cross, 1000}});
            if (i > 0) {
                // The item overlaps the one before it. The running time stays with the item, so
                // that it cannot fall below the timeline's start either.
                t = std::max<std::int64_t>(t - cross, 0);
                item.timeLine = t;
            }
        }
        if (i + 1 < group.size()) {
            const TGroupItem& next = group[i + 1];
            if (next.linkedTime < 0 && next.keys.crossMode == 0 && next.keys.cross > 0 &&
                !Absurd(next.keys.cross)) {
                const TVolumeParams fadeOut{{length - next.keys.cross, 1000}, {length, 0}};
                if (crossEnvelope) {
                    TVolumeParams& envelope = item.envelopes[*crossEnvelope];
                    envelope.insert(envelope.end(), fadeOut.begin(), fadeOut.end());
                } else {
                    item.envelopes.push_back(fadeOut);
                }
            }
        }
        AddVolumeParams(item, keys);
        t += length;
        if (keys.volume == 0) continue;
        if (out.size() >= kMaxCompositeItems) {
            if (!tooMany)
                TLog::Line("Music: more than " + std::to_string(kMaxCompositeItems) +
                           " items; the rest stay silent");
            tooMany = true;
            continue;
        }
        if (!FileUsable(keys.fileName, check)) continue;
        out.push_back(std::move(item));
    }
    return t;
}

std::string_view Extension(std::string_view fileName) {
    const std::size_t slash = fileName.find_last_of("\\/");
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
    return fileName.substr(dot);
}

const TIniObject* FindClip(const TIniFile& document, std::string_view guid) {
    const TIniSection* tracks = document.FindSection("Tracks");
    if (!tracks) return nullptr;
    for (int i = 0; i < tracks->ObjectCount(); ++i) {
        const TIniObject* clip = tracks->Object(i);
        if (SameTextFolded(clip->GetText("GUID"), guid) || SameTextFolded(clip->Name(), guid)) return clip;
    }
    return nullptr;
}

void CollectVideos(const TIniFile& document, const TIniList& list, std::int64_t slideStart,
                   std::int64_t slideSpan, std::set<std::string>& clipsSeen, std::vector<TVideoSound>& out) {
    for (int i = 0; i < list.ObjectCount(); ++i) {
        const TIniObject& object = *list.Object(i);
        if (IsSoundObject(object, "KeyPoint")) continue;
        if (IsSoundObject(object, "Video")) {
            const std::string guid = object.GetText("ClipGUID");
            const TIniObject* clip = guid.empty() ? nullptr : FindClip(document, guid);
            const TIniList& keys = clip ? static_cast<const TIniList&>(*clip) : object;
            TVideoSound sound;
            sound.fileName = keys.GetText("FileName");
            sound.offset = keys.GetInt64("StartVideoTime", 0);
            sound.volume = keys.GetReal("Volume", 1.0);
            const std::int64_t start = keys.GetInt64("StartKIVTime", 0);
            const std::int64_t duration = keys.GetInt64("Duration", 0);
            bool sounds = !keys.GetBool("Mute", false) && keys.GetReal("FPSMultiplier", 1.0) == 1.0 &&
                          !SameTextFolded(Extension(sound.fileName), ".gif") && !NamesNoFile(sound.fileName);
            if (clip) {
                sounds = sounds && start >= slideStart && clipsSeen.insert(FoldUtf8(guid)).second;
                sound.start = start - slideStart;
                sound.length = duration;
            } else {
                sound.start = start;
                sound.length = std::min(slideSpan - start, duration);
            }
            if (sounds && (sound.start < 0 || sound.offset < 0 || sound.length <= 0 || Absurd(sound.start) ||
                           Absurd(sound.offset) || Absurd(sound.length) || !std::isfinite(sound.volume))) {
                TLog::Line("Video sound " + sound.fileName + " has times out of range: silent");
                sounds = false;
            }
            if (sounds) out.push_back(std::move(sound));
        }
        CollectVideos(document, object, slideStart, slideSpan, clipsSeen, out);
    }
}

void Finish(TCompiledSound& result) {
    std::int64_t end = 0;
    for (const TCompositeItem& item : result.composite.items)
        end = std::max(end, item.timeLine + item.duration);
    result.composite.duration = std::max(result.composite.duration, end);
    result.duration = result.composite.duration;
    if (!result.composite.items.empty() && result.duration > 0)
        result.text = WriteCompositeText(result.composite);
}

} // namespace

bool IsSoundObject(const TIniObject& object, std::string_view kind) {
    return SameTextFolded(object.ClassText().empty() ? object.Name() : object.ClassText(), kind);
}

bool HasSoundFile(const TIniList* comment) {
    return comment && !NamesNoFile(comment->GetText("FileName"));
}

std::vector<std::int64_t> SlideStartTable(const TIniFile& document) {
    const std::int32_t count = std::max(document.ReadInteger("Times", "opt_slidescount", 0), 0);
    std::vector<std::int64_t> starts{0};
    const TIniSection* times = document.FindSection("Times");
    for (std::int32_t j = 1; j <= count && times; ++j)
        starts.push_back(
            std::max<std::int64_t>(times->GetInt32("opt_synchpos" + std::to_string(j), 0), starts.back()));
    return starts;
}

TCompiledSound CompileMusic(const TIniList* music, const TIniFile& document, const TSoundFileCheck& check) {
    TCompiledSound result;
    if (!music) return result;
    std::vector<TGroup> groups;
    std::size_t tracks = 0;
    CollectGroups(*music, groups, result.repeat, std::nullopt, tracks);
    const std::vector<std::int64_t> slideStarts = SlideStartTable(document);
    const auto links = LinkedSlides(document, static_cast<std::int32_t>(slideStarts.size()) - 1);
    std::int64_t end = 0;
    bool tooMany = false;
    for (TGroup& group : groups) {
        if (group.empty()) continue;
        end = std::max(end, CompileGroup(group, links, slideStarts, check, result.composite.items, tooMany));
    }
    result.composite.duration = end;
    Finish(result);
    return result;
}

std::vector<TVideoSound> SlideVideoSounds(const TIniFile& document, const TIniList& slide,
                                          std::int64_t slideStart, std::int64_t slideSpan) {
    std::vector<TVideoSound> sounds;
    std::set<std::string> clipsSeen;
    CollectVideos(document, slide, slideStart, slideSpan, clipsSeen, sounds);
    return sounds;
}

TCompiledSound CompileComment(const TIniList* comment, const std::vector<TVideoSound>& videos,
                              std::int64_t limit, const TSoundFileCheck& check) {
    TCompiledSound result;
    if (comment && HasSoundFile(comment)) {
        const TItemKeys keys = ReadItemKeys(*comment);
        if (const std::optional<std::string> bad = BadTimes(keys)) {
            TLog::Line("Sound comment " + keys.fileName + " has times out of range (" + *bad + "): silent");
        } else if (keys.volume != 0 && FileUsable(keys.fileName, check)) {
            const std::int64_t pause = std::max<std::int64_t>(keys.pause, 0);
            std::int64_t length = keys.duration + pause;
            if (limit > 0 && limit < length) length = limit;
            TCompositeItem item;
            item.fileName = keys.fileName;
            item.timeLine = pause;
            item.beginTime = keys.startTime;
            item.duration = std::max<std::int64_t>(length - pause, 0);
            AddFadeEnvelope(item, keys);
            AddVolumeParams(item, keys);
            result.composite.items.push_back(std::move(item));
        }
    }
    // A clip is not held to the sound files' head check (MP4, Matroska and AVI are not sound files
    // by their first bytes); a clip without sound stays silent when the item is opened.
    for (const TVideoSound& video : videos) {
        if (!FileUsable(video.fileName, {})) continue;
        TCompositeItem item;
        item.fileName = video.fileName;
        item.timeLine = video.start;
        item.beginTime = video.offset;
        item.duration = video.length;
        if (video.volume != 1.0) {
            const auto volume =
                static_cast<std::int32_t>(std::clamp(std::nearbyint(video.volume * 1000.0), 0.0, 1e9));
            item.envelopes.push_back({{0, volume}, {video.length, volume}});
        }
        result.composite.items.push_back(std::move(item));
    }
    Finish(result);
    return result;
}

} // namespace kiv

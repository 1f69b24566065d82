// Turns the project's sound objects into composite descriptions: the background music from its
// tracks, items, cross-fades, pauses, fades, volume points and slide links; a slide's sound from
// its comment and its video clips. Only the project keys are read; no sound file is decoded.
#pragma once

#include "audio/CompositeDescription.h"
#include "ini/IniFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kiv {

// Whether the named file can sound. False leaves the item silent; the check logs why.
using TSoundFileCheck = std::function<bool(const std::string& fileName)>;

struct TCompiledSound {
    TCompositeDescription composite;
    std::string text;          // the composite description text; empty without items
    std::int64_t duration = 0; // ms
    bool repeat = false;       // IsRepeat of the music's options (background music only)
};

// The start of every slide as the music links see it: entry 0 is 0, entry j the project's
// opt_synchpos j raised to at least the entry before it; count + 1 entries.
std::vector<std::int64_t> SlideStartTable(const TIniFile& document);

// Tracks of one music beyond this many are left out (a log line says so).
inline constexpr std::size_t kMaxMusicTracks = 64;

// The background music of a Music object (none: nothing). Tracks mix in parallel from 0; a
// muted track is left out; an item outside any track is a group of its own. Items with negative
// or absurd times, a file name that is empty or "error", a file the check rejects, or volume 0 are
// left out (a log line says which, except for volume 0); the others keep their places.
TCompiledSound CompileMusic(const TIniList* music, const TIniFile& document,
                            const TSoundFileCheck& check = {});

// A video clip's sound on a slide.
struct TVideoSound {
    std::string fileName;
    std::int64_t start = 0;  // ms from the slide's start
    std::int64_t offset = 0; // ms inside the file
    std::int64_t length = 0; // ms
    double volume = 1.0;
    bool operator==(const TVideoSound&) const = default;
};

// The sounds of the Video objects of `slide` (searched through all children, KeyPoint objects
// skipped). A clip of [Tracks] (named by ClipGUID) counts once per slide and only when it starts
// on or after `slideStart`; other clips are cut to `slideSpan` - their start. Muted clips, clips
// not at speed 1 and GIF files have no sound.
std::vector<TVideoSound> SlideVideoSounds(const TIniFile& document, const TIniList& slide,
                                          std::int64_t slideStart, std::int64_t slideSpan);

// A slide's sound: its comment (a TSoundComment, or none) after its pause, cut to `limit` when the
// limit is positive and shorter, and its video sounds. The duration is the largest end.
TCompiledSound CompileComment(const TIniList* comment, const std::vector<TVideoSound>& videos,
                              std::int64_t limit, const TSoundFileCheck& check = {});

// True when `object` is of `kind`: its class text, or its name when it has no class, equal
// ignoring case.
bool IsSoundObject(const TIniObject& object, std::string_view kind);

// A comment's file name counts when it is not empty and not "error" (any case).
bool HasSoundFile(const TIniList* comment);

} // namespace kiv

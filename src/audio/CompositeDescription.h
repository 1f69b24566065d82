// The composite description: a text that names the sound files to mix, where each lies on a common
// timeline, which part of each file is used and the volume envelopes, played as if it were one
// sound file. It is the marker followed by an INI document; several documents may follow one
// another, each beginning with the marker, and then play one after another.
#pragma once

#include "audio/VolumeEnvelope.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

inline constexpr std::string_view kCompositeMarker = "9213AB40-17BB-458F-9C4C-1806F44BEB65";

// Limits that keep hostile descriptions from exhausting memory or time: times beyond
// kMaxCompositeTime (about 24.8 days) and items beyond kMaxCompositeItems are not played, nor
// envelopes beyond kMaxCompositeEnvelopes per item. While it plays, at most kMaxSoundingItems
// items have their files open at once; an item due while that many sound stays silent until one
// of them ends.
inline constexpr std::int64_t kMaxCompositeTime = 2147483647;
inline constexpr std::size_t kMaxCompositeItems = 2000;
inline constexpr std::size_t kMaxCompositeEnvelopes = 64;
inline constexpr std::size_t kMaxSoundingItems = 128;

struct TCompositeItem {
    std::string fileName;
    std::int64_t timeLine = 0;  // start on the composite's timeline, ms
    std::int64_t beginTime = 0; // start offset inside the file, ms
    std::int64_t duration = 0;  // length used, ms
    TVolumeParamsList envelopes;
};

struct TCompositeDescription {
    std::int64_t duration = 0; // total length, ms
    std::vector<TCompositeItem> items;
    TVolumeParamsList mainVolume; // envelopes over the whole mix, times from its start
};

// True when `text` begins with the marker.
bool IsCompositeText(std::string_view text);

// The marker and the document as the INI format saves it (CR LF line ends): [Main] Duration, one
// section per item named by its index, "Vol_i_j_k" sections with keys "0" (time) and "1" (volume),
// and [MainVolume] with its "Vol_MainVolume_j_k" points when there is a main volume.
std::string WriteCompositeText(const TCompositeDescription& description);

// Reads a description back, the documents one after another: each later document's TimeLine
// values are shifted by the durations before it, durations add up, and a later [MainVolume]
// replaces an earlier one. Items with negative or absurd times, and items past the item limit, are
// left out with a log line. No description (nullopt) when the text does not begin with the marker,
// when no item remains or when the total duration is not positive.
std::optional<TCompositeDescription> ReadCompositeText(std::string_view text);

} // namespace kiv

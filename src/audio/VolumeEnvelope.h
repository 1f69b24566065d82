// Volume envelopes of the sound description: lists of (time, per-mille) points. The volumes of all
// the envelopes of one item multiply. Times are whole milliseconds relative to the item's start
// (or to the whole mix for the main volume); 1000 per-mille leaves the sound unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kiv {

struct TVolumePoint {
    std::int64_t time = 0;   // ms
    std::int32_t volume = 0; // per-mille
    bool operator==(const TVolumePoint&) const = default;
};

using TVolumeParams = std::vector<TVolumePoint>;
using TVolumeParamsList = std::vector<TVolumeParams>;

// Output rate the VolumeParams positions count in (sample frames per second).
inline constexpr std::int64_t kVolumeParamsRate = 44100;

// The envelope of an item's VolumeParams text: "position:volume" pairs separated by ",", the
// position in frames at 44100 per second, the volume in 16.16 fixed point. Times are rounded to
// whole ms (halves to even), forced strictly increasing, made relative to `startTime` (the item's
// offset in its file); volumes become per-mille. The first point at or beyond `length` is replaced
// by one at `length` with the volume interpolated from the point before it; later points are
// dropped. A pair that is not two integers is skipped (`badPairs` counts them when given).
TVolumeParams ParseVolumeParams(std::string_view text, std::int64_t startTime, std::int64_t length,
                                int* badPairs = nullptr);

// The envelope every item gets while it plays, so that it neither starts nor ends with a click:
// 0 at 0 ms, full at 10 ms and at length - 10 ms, 0 at the length.
TVolumeParams EdgeEnvelope(std::int64_t length);

// A prepared point: a byte position of the device format (2 channels, 16 bits, 44100 Hz) rounded
// down to a whole frame, and the volume reached there.
struct TEnvelopeStep {
    std::int64_t bytePosition = 0;
    std::int32_t volume = 0;
    bool operator==(const TEnvelopeStep&) const = default;
};

// An envelope made ready for playing an item of `length` ms: its points plus one at the length
// holding the last volume, sorted by time (points given out of order are put in order); of points
// with equal times only the later one counts. Each time becomes ((time x 176400) div 4000) x 4.
std::vector<TEnvelopeStep> PrepareEnvelope(const TVolumeParams& envelope, std::int64_t length);

// The volume (per-mille) a prepared envelope gives at `bytePosition`: the first step's volume
// before it (1000 for an empty envelope), linear between steps, the last volume after the end.
double EnvelopeVolumeAt(const std::vector<TEnvelopeStep>& steps, std::int64_t bytePosition);

// Multiplies `gains[i]` by EnvelopeVolumeAt(steps, bytePosition + 4 i) / 1000 for `count` frames,
// giving the same values bit for bit; the steps are walked once instead of searched per frame, and
// a stretch of one volume is handled in one go.
void MultiplyEnvelopeGains(const std::vector<TEnvelopeStep>& steps, std::int64_t bytePosition, int count,
                           double* gains);

// The volume EnvelopeVolumeAt gives every one of `count` frames from `bytePosition` on when they all
// lie before the first step, after the last or between two steps of one volume; none otherwise.
std::optional<double> EnvelopeHoldVolume(const std::vector<TEnvelopeStep>& steps, std::int64_t bytePosition,
                                         int count);

} // namespace kiv

#include "audio/VolumeEnvelope.h"

#include "base/NumberText.h"
#include "ini/IniValues.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kiv {

namespace {

// Rounds to the nearest integer, halves to even, saturating at the int64 range.
std::int64_t RoundToInt64(double value) {
    if (std::isnan(value)) return 0;
    constexpr double kLimit = 9.2e18;
    if (value >= kLimit) return static_cast<std::int64_t>(kLimit);
    if (value <= -kLimit) return -static_cast<std::int64_t>(kLimit);
    return static_cast<std::int64_t>(std::nearbyint(value));
}

// Per-mille per byte between two steps.
double Slope(const TEnvelopeStep& from, const TEnvelopeStep& to) {
    return static_cast<double>(std::int64_t{to.volume} - from.volume) /
           static_cast<double>(to.bytePosition - from.bytePosition);
}

std::int32_t ClampVolume(std::int64_t volume) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        volume, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

} // namespace

TVolumeParams ParseVolumeParams(std::string_view text, std::int64_t startTime, std::int64_t length,
                                int* badPairs) {
    TVolumeParams points;
    bool havePrevious = false;
    std::int64_t previousTime = 0;
    for (const std::string_view pair : SplitIniList(text, ',')) {
        const std::vector<std::string_view> parts = SplitIniList(pair, ':');
        const std::optional<std::int64_t> position = parts.size() == 2 ? ParseInt64(parts[0]) : std::nullopt;
        const std::optional<std::int64_t> fixedVolume =
            parts.size() == 2 ? ParseInt64(parts[1]) : std::nullopt;
        if (!position || !fixedVolume) {
            if (badPairs) ++*badPairs;
            continue;
        }
        std::int64_t time = RoundToInt64(static_cast<double>(*position) * 1000.0 / kVolumeParamsRate);
        if (havePrevious && time <= previousTime) time = previousTime + 1;
        havePrevious = true;
        previousTime = time;
        const TVolumePoint point{
            time - startTime,
            ClampVolume(RoundToInt64(static_cast<double>(*fixedVolume) * 1000.0 / 65536.0))};
        if (point.time < length) {
            points.push_back(point);
            continue;
        }
        // The first point at or past the end: interpolate the volume at the end and stop.
        TVolumePoint last{length, point.volume};
        if (!points.empty()) {
            const TVolumePoint& before = points.back();
            const double span = static_cast<double>(point.time - before.time);
            const double part = span > 0 ? static_cast<double>(length - before.time) / span : 1.0;
            last.volume = ClampVolume(RoundToInt64(before.volume + (point.volume - before.volume) * part));
        }
        points.push_back(last);
        break;
    }
    return points;
}

TVolumeParams EdgeEnvelope(std::int64_t length) {
    return {{0, 0}, {10, 1000}, {length - 10, 1000}, {length, 0}};
}

std::vector<TEnvelopeStep> PrepareEnvelope(const TVolumeParams& envelope, std::int64_t length) {
    TVolumeParams points = envelope;
    if (!points.empty()) points.push_back({length, points.back().volume});
    std::stable_sort(points.begin(), points.end(),
                     [](const TVolumePoint& a, const TVolumePoint& b) { return a.time < b.time; });
    std::vector<TEnvelopeStep> steps;
    steps.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        // Of points with equal times only the later one counts.
        if (i + 1 < points.size() && points[i + 1].time == points[i].time) continue;
        const std::int64_t time =
            std::clamp<std::int64_t>(points[i].time, -(std::int64_t{1} << 40), std::int64_t{1} << 40);
        // Floor division, so that negative times round down too.
        const std::int64_t scaled = time * 176400;
        std::int64_t frames = scaled / 4000;
        if (scaled % 4000 != 0 && scaled < 0) --frames;
        steps.push_back({frames * 4, points[i].volume});
    }
    return steps;
}

double EnvelopeVolumeAt(const std::vector<TEnvelopeStep>& steps, std::int64_t bytePosition) {
    if (steps.empty()) return 1000.0;
    if (bytePosition <= steps.front().bytePosition) return steps.front().volume;
    for (std::size_t i = 1; i < steps.size(); ++i) {
        const TEnvelopeStep& from = steps[i - 1];
        const TEnvelopeStep& to = steps[i];
        if (bytePosition > to.bytePosition) continue;
        if (from.volume == to.volume) return to.volume;
        // The end volume minus the remaining distance times the slope.
        return to.volume - static_cast<double>(to.bytePosition - bytePosition) * Slope(from, to);
    }
    return steps.back().volume;
}

void MultiplyEnvelopeGains(const std::vector<TEnvelopeStep>& steps, std::int64_t bytePosition, int count,
                           double* gains) {
    if (steps.empty() || count <= 0) return; // 1000 per-mille: unchanged
    int done = 0;
    // A run of `frames` frames at one volume.
    const auto hold = [&](int frames, double volume) {
        if (frames <= 0) return;
        const double factor = volume / 1000.0;
        for (const int end = done + frames; done < end; ++done)
            gains[done] *= factor;
        bytePosition += static_cast<std::int64_t>(frames) * 4;
    };
    // Frames from `bytePosition` up to and including byte `last`, at most the rest of the block.
    const auto framesThrough = [&](std::int64_t last) {
        if (bytePosition > last) return 0;
        return static_cast<int>(std::min<std::int64_t>((last - bytePosition) / 4 + 1, count - done));
    };
    hold(framesThrough(steps.front().bytePosition), steps.front().volume);
    for (std::size_t i = 1; i < steps.size() && done < count; ++i) {
        const TEnvelopeStep& from = steps[i - 1];
        const TEnvelopeStep& to = steps[i];
        const int frames = framesThrough(to.bytePosition);
        if (frames == 0) continue;
        if (from.volume == to.volume) {
            hold(frames, to.volume);
            continue;
        }
        const double slope = Slope(from, to);
        for (const int end = done + frames; done < end; ++done, bytePosition += 4)
            gains[done] *= (to.volume - static_cast<double>(to.bytePosition - bytePosition) * slope) / 1000.0;
    }
    hold(count - done, steps.back().volume);
}

std::optional<double> EnvelopeHoldVolume(const std::vector<TEnvelopeStep>& steps, std::int64_t bytePosition,
                                         int count) {
    if (steps.empty()) return 1000.0;
    const std::int64_t last = bytePosition + 4 * static_cast<std::int64_t>(std::max(count, 1) - 1);
    if (last <= steps.front().bytePosition) return steps.front().volume;
    if (bytePosition <= steps.front().bytePosition) return std::nullopt; // the first step lies inside
    // The segment of the first frame, as EnvelopeVolumeAt finds it; every later frame must be in it.
    for (std::size_t i = 1; i < steps.size(); ++i) {
        if (bytePosition > steps[i].bytePosition) continue;
        if (last <= steps[i].bytePosition && steps[i - 1].volume == steps[i].volume) return steps[i].volume;
        return std::nullopt;
    }
    return steps.back().volume;
}

} // namespace kiv

// The fold of 5.1 sound to stereo, the same for every container: left = front left + centre + LFE +
// left surround, right = front right + centre + LFE + right surround, each sum scaled by a quarter
// so that four channels at full scale cannot clip. Which channel of a file plays which part comes
// from its layout (FFmpeg's decoders) or from the WAV order (FL, FR, FC, LFE, BL, BR).
#pragma once

#include <cstdint>

struct AVChannelLayout;
struct SwrContext;

namespace kiv {

// The channel index of each part of a 5.1 frame.
struct TSurroundRoles {
    int frontLeft = 0, frontRight = 1, centre = 2, lfe = 3, surroundLeft = 4, surroundRight = 5;
};

inline constexpr double kSurroundFoldGain = 0.25;

// The fold of one frame of six samples, rounded to the nearest (halves up).
inline void FoldSurroundFrame(const std::int32_t* in, const TSurroundRoles& roles, std::int16_t& left,
                              std::int16_t& right) {
    const std::int32_t common = in[roles.centre] + in[roles.lfe];
    // A sum of four 16-bit samples divided by 4 stays within 16 bits.
    left = static_cast<std::int16_t>((in[roles.frontLeft] + in[roles.surroundLeft] + common + 2) >> 2);
    right = static_cast<std::int16_t>((in[roles.frontRight] + in[roles.surroundRight] + common + 2) >> 2);
}

// Before swr_init of a resampler from `in` to stereo: a 5.1 layout (back or side surrounds, or six
// channels of unknown order, taken as the WAV order) is folded as above. True when the matrix was
// set; other layouts keep FFmpeg's own down-mix.
bool FoldSurround(SwrContext* swr, const AVChannelLayout& in);

} // namespace kiv

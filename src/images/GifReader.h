// GIF pictures through giflib: the first frame, or all frames side by side in one frame atlas.
// Frames are composed on the logical screen (transparent where nothing was drawn) with the
// disposal rules: 0 and 1 keep everything, 2 clears the frame's rectangle to transparent, 3
// restores what lay under it. The atlas holds as many frames as keep width × height × frames at
// most 26 214 400 pixels; its store carries a TTilesTag with the frame delays in milliseconds.
#pragma once

#include "images/BitmapStore.h"
#include "package/Stream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

inline constexpr std::int64_t kMaxAtlasPixels = 0x1900000;
// An atlas holds at most this many frames, and the frames read for it (one byte a pixel of each
// frame's own rectangle) at most kMaxAtlasPixels bytes together: both are checked before a frame
// is read, so a file of countless tiny frames ends early instead of filling the memory.
inline constexpr int kMaxAtlasFrames = 4096;
// The largest frame rectangle read for a first frame alone (one byte a pixel while it is read).
inline constexpr std::int64_t kMaxGifFramePixels = 4 * kMaxPicturePixels;

struct TGifFrames {
    TRef<TBitmap> bitmap; // 32-bit BGRA, frameCount × width by height
    int width = 0;        // one frame
    int height = 0;
    int frameCount = 0;
    std::vector<int> delays; // milliseconds
    int loopCount = 0;
    int reduction = 0; // a first frame beyond the picture limit is reduced by 2^reduction
    bool cut = false;  // frames were left out for the atlas's limits
};

// Decodes up to `maxFrames` frames (and never more than the atlas pixel budget allows). A frame
// that breaks off is kept with the rows decoded so far and ends the decoding. Raises EImageError
// when not even one frame could be read. With `maxFrames` 1 there is no atlas, so the picture limit
// applies instead of the atlas budget; a screen beyond it is reduced by the smallest power of two
// that fits, each pixel the mean of its square of screen pixels.
TGifFrames DecodeGif(const std::uint8_t* data, std::size_t size, int maxFrames);

// The GIF loaders: the first frame, and the frame atlas with its tiles tag. Null when the data
// holds no readable frame.
TRef<TBitmapStore> LoadGifFirstFrame(TStream& stream, const std::string& name, TRotationQuery query,
                                     void* context);
TRef<TBitmapStore> LoadGifFrameAtlas(TStream& stream, const std::string& name, TRotationQuery query,
                                     void* context);

} // namespace kiv

// Picture loading: the process-wide registry of loaders by file extension, and DecodePicture, which
// turns a stream and its name into a shared picture.
//
// Standard loaders, in the order they are tried:
//   1 the compressed picture format  ".zkgfx" ".bmp" ".dib" ".png" ".gif|framesatlas" (only when
//                                    the data starts with "ZKGF")
//   2 Windows bitmaps                ".bmp" ".dib"
//   3 JPEG                           ".jpg" ".jpeg" ".jpe" ".jfif"
//   4 GIF, first frame               ".gif"
//   5 GIF, first frame               ".gif_first_frame"
//   6 GIF, frame atlas               ".gif|framesatlas"
//   7 PNG                            ".png"
#pragma once

#include "images/BitmapStore.h"
#include "images/Image.h"
#include "package/Stream.h"

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// A loader reads the stream from its current position. It returns a store, or null when it does
// not recognise or cannot decode the data; when it declines it puts the stream back where it found
// it. It must not raise.
using TPictureLoader = TRef<TBitmapStore> (*)(TStream& stream, const std::string& name, TRotationQuery query,
                                              void* context);

// Adds a loader after those registered before. Extensions are normalised: leading characters below
// code 33 are skipped, one leading "*" is dropped and a "." is put in front when missing. Meant for
// program initialisation; thread-safe all the same.
void RegisterLoader(TPictureLoader loader, const std::vector<std::string>& extensions);

// The extension of a picture name as the registry compares it: from the last "." of the last path
// component ("\" or "/"), with the dot; empty when there is none. "a.gif|framesatlas" gives
// ".gif|framesatlas".
std::string PictureExtension(std::string_view name);

// Decodes a picture: the loaders registered for the name's extension (compared without regard to
// case; PNG data under ".bmp" counts as ".png"; a name without extension tries every loader) are
// tried in order and the first store wins. Null when none accepts the data. The caller keeps its
// stream. `query` (may be null) tells how to turn the picture.
TRef<TImage> DecodePicture(TStream& stream, std::string_view name, TRotationQuery query, void* context);
TRef<TImage> DecodePictureByName(TStream& stream, std::string_view name);

// The whole rest of a stream in memory. Raises EImageError when it is larger than `limit` bytes.
std::vector<std::uint8_t> ReadRest(TStream& stream, std::int64_t limit);

// Runs a loader's decoding, which reads `stream` and returns a store or null and may raise. When
// it declines or raises, the stream goes back to where it was, as the registry expects.
template <class TDecode>
TRef<TBitmapStore> DecodeOrRewind(TStream& stream, TDecode&& decode) {
    const std::int64_t start = stream.GetPosition();
    try {
        if (TRef<TBitmapStore> store = decode()) return store;
    } catch (const std::exception&) {
    }
    try {
        stream.SetPosition(start);
    } catch (const std::exception&) {
    }
    return nullptr;
}

// The largest encoded picture the loaders read into memory (1 GiB).
inline constexpr std::int64_t kMaxPictureFileBytes = std::int64_t{1} << 30;

} // namespace kiv

#include "images/GifReader.h"

#include "base/Log.h"
#include "images/PictureLoader.h"

#include <gif_lib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace kiv {

namespace {

struct TMemoryInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int count) {
    auto* input = static_cast<TMemoryInput*>(gif->UserData);
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(count, 0)), input->size - input->position);
    if (n > 0) std::memcpy(out, input->data + input->position, n);
    input->position += n;
    return static_cast<int>(n);
}

struct TGifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

// One frame as read: its rectangle on the screen, its indices and how to draw it.
struct TRawFrame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<std::uint8_t> indices;
    std::vector<std::uint8_t> rowRead; // 1 for each row that arrived
    std::uint8_t colors[256][4] = {};  // BGRA, opaque
    int transparent = -1;
    int disposal = 0;
    int delay = 0; // milliseconds
};

struct TControl {
    int transparent = -1;
    int disposal = 0;
    int delay = 0;
};

// Reads the rows of the current frame; false when the data breaks off.
bool ReadRows(GifFileType* gif, TRawFrame& frame, bool interlaced) {
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    frame.rowRead.assign(static_cast<std::size_t>(frame.height), 0);
    auto read = [&](int y) {
        if (DGifGetLine(gif, frame.indices.data() + static_cast<std::size_t>(y) * frame.width, frame.width) !=
            GIF_OK)
            return false;
        frame.rowRead[y] = 1;
        return true;
    };
    if (!interlaced) {
        for (int y = 0; y < frame.height; ++y)
            if (!read(y)) return false;
        return true;
    }
    for (int pass = 0; pass < 4; ++pass)
        for (int y = kStart[pass]; y < frame.height; y += kStep[pass])
            if (!read(y)) return false;
    return true;
}

void ReadExtension(GifFileType* gif, int code, GifByteType* block, TControl& control, int& loopCount) {
    if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
        control.disposal = (block[1] >> 2) & 7;
        control.transparent = (block[1] & 1) ? block[4] : -1;
        control.delay = (block[2] | (block[3] << 8)) * 10;
    }
    bool netscape =
        code == APPLICATION_EXT_FUNC_CODE && block && block[0] >= 11 &&
        (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 || std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
    while (block) {
        if (DGifGetExtensionNext(gif, &block) != GIF_OK) return;
        if (netscape && block && block[0] >= 3 && block[1] == 1) {
            loopCount = block[2] | (block[3] << 8);
            netscape = false;
        }
    }
}

void DrawFrame(const TRawFrame& frame, TBitmap& atlas, int originX, int screenW, int screenH) {
    for (int y = 0; y < frame.height; ++y) {
        const int sy = frame.top + y;
        if (sy < 0 || sy >= screenH || !frame.rowRead[y]) continue;
        const std::uint8_t* in = frame.indices.data() + static_cast<std::size_t>(y) * frame.width;
        std::uint8_t* out = atlas.Row(sy);
        for (int x = 0; x < frame.width; ++x) {
            const int sx = frame.left + x;
            if (sx < 0 || sx >= screenW || in[x] == frame.transparent) continue;
            std::memcpy(out + 4 * (originX + sx), frame.colors[in[x]], 4);
        }
    }
}

// The part of a frame's rectangle that lies on the screen, as [x0, x1) × [y0, y1).
struct TClip {
    int x0, y0, x1, y1;
};
TClip Clip(const TRawFrame& f, int screenW, int screenH) {
    return {std::clamp(f.left, 0, screenW), std::clamp(f.top, 0, screenH),
            std::clamp(f.left + f.width, 0, screenW), std::clamp(f.top + f.height, 0, screenH)};
}

// A single frame drawn on a transparent screen and reduced by 2^shift: each destination pixel is
// the mean, channel by channel, of its 2^shift square of screen pixels (the part on the screen).
TRef<TBitmap> DrawFrameReduced(const TRawFrame& frame, int screenW, int screenH, int shift) {
    const int n = 1 << shift;
    const int width = (screenW + n - 1) / n, height = (screenH + n - 1) / n;
    auto bitmap = MakeRef<TBitmap>(width, height, TPixelFormat::Bgra32, false);
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(width) * 4);
    const TClip c = Clip(frame, screenW, screenH);
    // Only the destination columns the frame touches need sums; the rest stays transparent.
    const int xFirst = c.x0 >> shift, xEnd = c.x1 > c.x0 ? ((c.x1 - 1) >> shift) + 1 : xFirst;
    for (int y = 0; y < height; ++y) {
        const int y0 = y * n, y1 = std::min(y0 + n, screenH);
        std::uint8_t* out = bitmap->Row(y);
        std::memset(out, 0, bitmap->RowBytes());
        if (y1 <= c.y0 || y0 >= c.y1) continue;
        std::fill(sums.begin() + 4 * xFirst, sums.begin() + 4 * xEnd, 0u);
        for (int sy = std::max(y0, c.y0); sy < std::min(y1, c.y1); ++sy) {
            const int fy = sy - frame.top;
            if (!frame.rowRead[fy]) continue;
            const std::uint8_t* in = frame.indices.data() + static_cast<std::size_t>(fy) * frame.width;
            for (int sx = c.x0; sx < c.x1; ++sx) {
                const std::uint8_t index = in[sx - frame.left];
                if (index == frame.transparent) continue;
                std::uint32_t* sum = sums.data() + 4 * (sx >> shift);
                for (int k = 0; k < 4; ++k)
                    sum[k] += frame.colors[index][k];
            }
        }
        for (int x = xFirst; x < xEnd; ++x) {
            const auto count = static_cast<std::uint32_t>((y1 - y0) * (std::min(x * n + n, screenW) - x * n));
            for (int k = 0; k < 4; ++k)
                out[4 * x + k] = static_cast<std::uint8_t>(sums[4 * x + k] / count);
        }
    }
    return bitmap;
}

} // namespace

TGifFrames DecodeGif(const std::uint8_t* data, std::size_t size, int maxFrames) {
    TMemoryInput input{data, size};
    int error = 0;
    std::unique_ptr<GifFileType, TGifCloser> gif(DGifOpen(&input, ReadFromMemory, &error));
    if (!gif) throw EImageError("Not a GIF picture");
    int screenW = gif->SWidth, screenH = gif->SHeight;
    const bool single = maxFrames == 1;

    std::vector<TRawFrame> frames;
    std::int64_t frameBytes = 0; // indices of the frames read so far
    bool cut = false;
    TControl control;
    int loopCount = 0;
    bool broken = false;
    while (!broken && static_cast<int>(frames.size()) < maxFrames) {
        GifRecordType record;
        if (DGifGetRecordType(gif.get(), &record) != GIF_OK) break;
        if (record == TERMINATE_RECORD_TYPE) break;
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) != GIF_OK) break;
            ReadExtension(gif.get(), code, block, control, loopCount);
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif.get()) != GIF_OK) break;
        const GifImageDesc& desc = gif->Image;
        if (frames.empty() && (screenW <= 0 || screenH <= 0)) {
            screenW = desc.Left + desc.Width;
            screenH = desc.Top + desc.Height;
        }
        if (single) {
            // No atlas: the picture limit holds for what is made, so a large screen is reduced.
            if (ReductionWithinLimit(screenW, screenH) < 0) break;
            if (std::int64_t{desc.Width} * desc.Height > kMaxGifFramePixels) break;
        } else {
            if (!PictureSizeAllowed(screenW, screenH)) break;
            const std::int64_t screenPixels = std::int64_t{screenW} * screenH;
            if (screenPixels * static_cast<std::int64_t>(frames.size() + 1) > kMaxAtlasPixels) break;
            if (std::int64_t{desc.Width} * desc.Height > kMaxPicturePixels) break;
            if (static_cast<int>(frames.size()) >= kMaxAtlasFrames ||
                frameBytes + std::int64_t{desc.Width} * desc.Height > kMaxAtlasPixels) {
                cut = true;
                break;
            }
        }
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (!map) break;

        TRawFrame frame;
        frame.left = desc.Left;
        frame.top = desc.Top;
        frame.width = desc.Width;
        frame.height = desc.Height;
        frame.indices.assign(static_cast<std::size_t>(frame.width) * frame.height, 0);
        for (int i = 0; i < 256; ++i)
            frame.colors[i][3] = 255;
        for (int i = 0; i < std::min(map->ColorCount, 256); ++i) {
            frame.colors[i][0] = map->Colors[i].Blue;
            frame.colors[i][1] = map->Colors[i].Green;
            frame.colors[i][2] = map->Colors[i].Red;
        }
        frame.transparent = control.transparent;
        frame.disposal = control.disposal;
        frame.delay = control.delay;
        control = TControl{};
        // Rows that did not arrive are not drawn; nothing after them can be read. A frame of
        // which no row arrived is dropped.
        if (!ReadRows(gif.get(), frame, desc.Interlace)) {
            broken = true;
            if (std::find(frame.rowRead.begin(), frame.rowRead.end(), 1) == frame.rowRead.end()) break;
        }
        frameBytes += std::int64_t{frame.width} * frame.height;
        frames.push_back(std::move(frame));
    }
    if (frames.empty()) throw EImageError("GIF without a readable frame");

    TGifFrames result;
    result.width = screenW;
    result.height = screenH;
    result.frameCount = static_cast<int>(frames.size());
    result.loopCount = loopCount;
    result.cut = cut;
    if (single) {
        const int shift = ReductionWithinLimit(screenW, screenH);
        if (shift > 0) {
            result.bitmap = DrawFrameReduced(frames[0], screenW, screenH, shift);
            result.width = result.bitmap->Width();
            result.height = result.bitmap->Height();
            result.reduction = shift;
            result.delays.push_back(frames[0].delay);
            return result;
        }
    }
    // Every block is written whole: the first cleared, each later one copied from the one before.
    result.bitmap = MakeRef<TBitmap>(screenW * result.frameCount, screenH, TPixelFormat::Bgra32, false);
    TBitmap& atlas = *result.bitmap;
    for (int y = 0; y < screenH; ++y)
        std::memset(atlas.Row(y), 0, 4 * std::size_t(screenW));
    std::vector<std::uint8_t> saved; // what lay under a frame with disposal 3
    for (int k = 0; k < result.frameCount; ++k) {
        const TRawFrame& frame = frames[k];
        const int origin = k * screenW;
        if (k > 0) {
            const TRawFrame& previous = frames[k - 1];
            for (int y = 0; y < screenH; ++y)
                std::memcpy(atlas.Row(y) + 4 * origin, atlas.Row(y) + 4 * (origin - screenW),
                            4 * std::size_t(screenW));
            const TClip c = Clip(previous, screenW, screenH);
            if (c.x1 > c.x0 && (previous.disposal == 2 || previous.disposal == 3)) {
                for (int y = c.y0; y < c.y1; ++y) {
                    std::uint8_t* out = atlas.Row(y) + 4 * (origin + c.x0);
                    const std::size_t bytes = 4 * std::size_t(c.x1 - c.x0);
                    if (previous.disposal == 2)
                        std::memset(out, 0, bytes);
                    else
                        std::memcpy(out, saved.data() + (y - c.y0) * bytes, bytes);
                }
            }
        }
        if (frame.disposal == 3) {
            const TClip c = Clip(frame, screenW, screenH);
            saved.clear();
            for (int y = c.y0; y < c.y1 && c.x1 > c.x0; ++y) {
                const std::uint8_t* in = atlas.Row(y) + 4 * (origin + c.x0);
                saved.insert(saved.end(), in, in + 4 * std::size_t(c.x1 - c.x0));
            }
        }
        DrawFrame(frame, atlas, origin, screenW, screenH);
        result.delays.push_back(frame.delay);
    }
    return result;
}

namespace {

TRef<TBitmapStore> LoadGif(TStream& stream, const std::string& name, TRotationQuery query, void* context,
                           bool atlas) {
    return DecodeOrRewind(stream, [&]() -> TRef<TBitmapStore> {
        const std::vector<std::uint8_t> data = ReadRest(stream, kMaxPictureFileBytes);
        TGifFrames frames = DecodeGif(data.data(), data.size(), atlas ? INT_MAX : 1);
        if (frames.cut)
            TLog::Line("GIF " + name + ": only its first " + std::to_string(frames.frameCount) +
                       " frames are used (" + std::to_string(kMaxAtlasFrames) + " frames or " +
                       std::to_string(kMaxAtlasPixels) + " pixels at most)");
        auto store = MakeRef<TWrapperBitmapStore>(name, frames.bitmap, query, context);
        if (atlas) {
            auto tag = MakeRef<TTilesTag>();
            tag->frameWidth = frames.width;
            tag->frameHeight = frames.height;
            tag->frameCount = tag->frameCount2 = frames.frameCount;
            for (std::size_t i = 0; i < frames.delays.size(); ++i) {
                tag->delaySum += frames.delays[i];
                if (i) tag->delays += ',';
                tag->delays += std::to_string(frames.delays[i]);
            }
            tag->averageDelay = tag->delaySum / frames.frameCount;
            tag->loopCount = frames.loopCount;
            store->Attachments().Add(TRef<TRefObject>::Share(tag.Get()));
        }
        return store;
    });
}

} // namespace

TRef<TBitmapStore> LoadGifFirstFrame(TStream& stream, const std::string& name, TRotationQuery query,
                                     void* context) {
    return LoadGif(stream, name, query, context, false);
}

TRef<TBitmapStore> LoadGifFrameAtlas(TStream& stream, const std::string& name, TRotationQuery query,
                                     void* context) {
    return LoadGif(stream, name, query, context, true);
}

} // namespace kiv

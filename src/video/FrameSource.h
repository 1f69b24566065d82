// Frame sources: frame number n of a clip as planar YUV 4:2:0 or RGBA, in memory. TWinVideoSource
// decodes video files through the video library (FFMpegDll.h); the frame decoded last is kept, so
// asking for it again costs nothing, frames just ahead are reached by decoding forward and others
// by seeking to the key frame before them. TGifVideoSource plays an animated GIF: its frames are
// composed once when it opens, numbered at the rate of its shortest delay.
//
// Threads: a source is used by one thread at a time (its extractor's worker).
#pragma once

#include "base/RefObject.h"
#include "images/Bitmap.h"
#include "package/Stream.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

class TMediaFile;

struct TVideoParams {
    int width = 0;
    int height = 0;
    double fps = 0.0;
    std::int64_t frameCount = 0;
    int aspectClass = 0; // 2 16:9, 1 4:3, 0 other
    bool interlaced = false;
    bool bottomFieldFirst = false;
    std::string codecName; // "MPEG2", "MPEG4", "H264" or "OTHER"
    bool yuv = true;       // frames come as YUV planes (RGBA when the clip has alpha)
};

// The frame of a clip for the time `t` (ms): t × fps ÷ 1000 rounded, not below 0; at or beyond
// the frame count it wraps when looping, else it is the last frame. −1 for a clip without frames.
std::int64_t FrameForTime(const TVideoParams& params, double t, bool loop);

// One decoded frame in memory: three planes (Y width × height, U and V half size rounded up) or
// one RGBA plane. The dirty flag marks an image that must be decoded again.
class TYUVImage final : public TRefObject {
public:
    TYUVImage(int width, int height, bool rgba);
    int Width() const noexcept { return width_; }
    int Height() const noexcept { return height_; }
    bool Rgba() const noexcept { return rgba_; }
    std::uint8_t* Plane(int index) { return planes_[static_cast<std::size_t>(index)].data(); }
    const std::uint8_t* Plane(int index) const { return planes_[static_cast<std::size_t>(index)].data(); }
    int Stride(int index) const noexcept { return strides_[static_cast<std::size_t>(index)]; }
    int PlaneHeight(int index) const noexcept { return index == 0 || rgba_ ? height_ : (height_ + 1) / 2; }
    bool Dirty() const noexcept { return dirty_; }
    void SetDirty(bool dirty) noexcept { dirty_ = dirty; }

private:
    int width_, height_;
    bool rgba_;
    std::array<std::vector<std::uint8_t>, 3> planes_;
    std::array<int, 3> strides_{};
    bool dirty_ = true;
};

class TFrameSource {
public:
    virtual ~TFrameSource() = default;
    const TVideoParams& Params() const noexcept { return params_; }
    // Frame n into `image` (made for these parameters); false, logged, when it cannot be had.
    virtual bool GetFrame(std::int64_t n, TYUVImage& image) = 0;

protected:
    TVideoParams params_;
};

class TWinVideoSource final : public TFrameSource {
public:
    // Opens the clip `name` from `stream`; none, with `error` set, when it cannot be played.
    static std::unique_ptr<TWinVideoSource> Open(TRef<TStream> stream, const std::string& name,
                                                 std::string& error, int threads = 0);
    ~TWinVideoSource() override;
    bool GetFrame(std::int64_t n, TYUVImage& image) override;
    // Frames the decoder produced so far (seeks make it more than the frames asked for).
    std::int64_t DecodedFrames() const noexcept { return decoded_; }

private:
    TWinVideoSource(std::unique_ptr<TMediaFile> file, std::string name);
    bool Decode(std::int64_t n, std::string& error);

    std::unique_ptr<TMediaFile> file_;
    std::string name_;
    std::int64_t decoded_ = 0;
    std::int64_t served_ = -1; // the frame number the decoded frame stands for
    std::int64_t lastFailed_ = -1;
};

// An animated GIF as a clip of RGBA frames. Delays are the GIF's (50 ms where it says 0); the rate
// is 1000 ÷ the smallest delay (at most 1000 ms); a GIF that loops forever wraps, one that loops a
// given number of times keeps its last picture afterwards.
class TGifVideoSource final : public TFrameSource {
public:
    // None, with `error` set, when not one frame can be read.
    static std::unique_ptr<TGifVideoSource> Open(TStream& stream, std::string& error);
    bool GetFrame(std::int64_t n, TYUVImage& image) override;
    // The index of the GIF frame shown `t` ms into the animation.
    int PictureAt(double t) const;

private:
    TGifVideoSource() = default;
    TRef<TBitmap> frames_; // BGRA, frame after frame side by side
    std::vector<int> delays_;
    std::int64_t total_ = 0;
    int loopCount_ = 0; // 0 forever
};

} // namespace kiv

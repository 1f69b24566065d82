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
    double displayAspect = 0.0; // width ÷ height as the clip is shown (non-square pixels); 0 unknown
    int aspectClass = 0;        // 2 16:9, 1 4:3, 0 other
    bool interlaced = false;
    bool bottomFieldFirst = false;
    std::string codecName; // "MPEG2", "MPEG4", "H264" or "OTHER"
    bool yuv = true;       // frames come as YUV planes (RGBA when the clip has alpha)
};

// The frame of a clip for the time `t` (ms): t × fps ÷ 1000 rounded (halves to even), not below 0; at or beyond
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
    // Frame n as a grey picture: every luma byte through the grey table into a 5-6-5 pixel of the
    // same video-range grey. `grey` must be Rgb565 of the clip's size; false, logged, otherwise.
    bool GetGreyFrame(std::int64_t n, TBitmap& grey);
    // Frame n as RGB: `bitmap` must be Bgr24 of the clip's size; false, logged, otherwise.
    bool GetFrame24(std::int64_t n, TBitmap& bitmap);
    // The grey table: luma i as the 5-6-5 grey of trunc(i x 219 / 255 + 16).
    static std::uint16_t GreyOf(int luma);
    // Frames the decoder produced so far (seeks make it more than the frames asked for).
    std::int64_t DecodedFrames() const noexcept { return decoded_; }

private:
    TWinVideoSource(std::unique_ptr<TMediaFile> file, std::string name);
    bool Decode(std::int64_t n, std::string& error);
    // Frame n decoded and kept as the frame served last; false, logged, when it cannot be had.
    bool Serve(std::int64_t n);

    std::unique_ptr<TMediaFile> file_;
    std::string name_;
    std::int64_t decoded_ = 0;
    std::int64_t served_ = -1; // the frame number the decoded frame stands for
    std::int64_t lastFailed_ = -1;
};

// An animated GIF as a clip of RGBA frames. Delays are the GIF's (50 ms where it says 0); the rate
// is 1000 ÷ the smallest delay (at most 1000 ms); a GIF that loops forever wraps, one that loops a
// given number of times keeps its last picture afterwards. Each picture is kept as read (its
// indices and palette) and every tenth composed screen is kept as a key frame: a picture is
// composed from the key frame before it, or on from the picture composed last.
class TGifVideoSource final : public TFrameSource {
public:
    static constexpr int kKeyInterval = 10;
    // What the pictures and key frames of one GIF may take; later pictures are left out.
    static constexpr std::int64_t kMaxBytes = std::int64_t{256} << 20;
    // The most pictures one GIF may have; later ones are left out (a log line says so).
    static constexpr int kMaxPictures = 4096;

    // None, with `error` set, when not one frame can be read.
    static std::unique_ptr<TGifVideoSource> Open(TStream& stream, std::string& error);
    bool GetFrame(std::int64_t n, TYUVImage& image) override;
    // The index of the GIF frame shown `t` ms into the animation.
    int PictureAt(double t) const;
    int PictureCount() const noexcept { return static_cast<int>(pictures_.size()); }
    // Bytes held for the pictures and key frames.
    std::int64_t HeldBytes() const noexcept;

    struct TPicture {
        int left = 0, top = 0, width = 0, height = 0;
        int disposal = 0;
        int transparent = -1;
        std::vector<std::uint8_t> indices;
        std::vector<std::uint8_t> rowRead; // 1 for each row that arrived
        std::vector<std::uint8_t> colors;  // RGBA, 256 entries
    };

private:
    TGifVideoSource() = default;
    // Brings the canvas to picture p (drawn), from the key frame before it or on from the last.
    void Compose(int p);
    void Draw(const TPicture& picture);
    // Clears or restores the picture's rectangle as its disposal says, before the next is drawn.
    void Dispose(const TPicture& picture, std::vector<std::uint8_t>& canvas) const;

    std::vector<TPicture> pictures_;
    std::vector<std::vector<std::uint8_t>> keys_; // the screen before pictures 0, 10, 20, …
    std::vector<std::uint8_t> canvas_;            // RGBA, the screen with picture current_ drawn
    std::vector<std::uint8_t> saved_;             // what lay under picture current_ (disposal 3)
    int current_ = -1;
    bool fresh_ = true; // the canvas is a key frame: nothing of the picture before to dispose
    std::vector<int> delays_;
    std::int64_t total_ = 0;
    int loopCount_ = 0; // 0 forever
};

} // namespace kiv

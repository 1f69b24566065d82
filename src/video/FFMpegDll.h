// TFFMpegDll: the video library — a thin adapter that offers the operations the video sources need
// over FFmpeg's libavformat, libavcodec and libswscale, which this player links. Media are read
// through TMediaInput (a custom AVIOContext over the show's stream), so clips play straight out of
// the package. A clip's sound is decoded by the sound sources over the same input adapter.
//
// One TMediaFile is one opened clip (the library's media handle): its video stream's parameters,
// then frames decoded in order, seeks to the key frame at or before a frame, and conversion of the
// decoded frame into planar YUV 4:2:0 or RGBA. Failures answer false with a reason; nothing throws.
//
// Threads: opening is serialised by the library's lock (probing is the expensive, shared part); a
// handle is then used by one thread at a time (the video source's worker).
#pragma once

#include "base/RefObject.h"
#include "package/Stream.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

struct AVCodec;

namespace kiv {

// The largest picture side and area (8K) a clip may have; larger ones are refused before any
// decoding (each clip keeps a few decoded frames in memory).
constexpr int kMaxVideoSide = 8192;
constexpr std::int64_t kMaxVideoPixels = std::int64_t{8192} * 4608;

// What a clip tells about its video when opened.
struct TMediaInfo {
    int width = 0;
    int height = 0;
    int fpsNum = 0;
    int fpsDen = 1;
    std::int64_t frameCount = 0;
    double durationMs = 0.0;
    double displayAspect = 0.0; // width ÷ height as shown; 0 when the clip does not say
    int codecId = 0;            // FFmpeg's codec id
    std::string codecName;      // FFmpeg's short name ("h264", "ffv1")
    bool hasAlpha = false;      // decoded frames carry alpha (converted to RGBA)
    bool interlaced = false;    // from the stream, else from the first decoded frames (up to three)
    bool bottomFieldFirst = false;
};

class TMediaFile {
public:
    ~TMediaFile();
    TMediaFile(const TMediaFile&) = delete;
    TMediaFile& operator=(const TMediaFile&) = delete;

    const TMediaInfo& Info() const noexcept { return info_; }
    // The container's name as FFmpeg gives it ("mov,mp4,m4a,3gp,3g2,mj2").
    std::string FormatName() const;
    // The container class: "avi" 1, "matroska,webm" 2, the mov family 3, "mpeg" and "mpegvideo" 4,
    // "flv" 5, "mpegts" 6, "asf" 7, other 0.
    int ContainerClass() const;

    // Decodes the next frame in stream order; false at the end or on an error (`error` gets the
    // reason, empty at a plain end).
    bool NextVideoFrame(std::string& error);
    // The number of the frame decoded last (from its time stamp at the clip's rate); −1 before any.
    std::int64_t CurrentFrame() const noexcept { return current_; }
    bool CurrentIsKey() const noexcept;
    // Seeks to the key frame at or before `frame` and drops what the decoder held; the next
    // NextVideoFrame continues from there.
    bool SeekFrame(std::int64_t frame);
    // The decoded frame is one of interlaced material, with the bottom field first.
    bool CurrentInterlaced() const noexcept;
    bool CurrentBottomFieldFirst() const noexcept;
    // Converts the decoded frame: YUV 4:2:0 into three planes (Y of width × height, U and V of
    // half size rounded up), or RGBA into one plane when `rgba`. Strides are in bytes.
    bool ConvertFrame(bool rgba, std::uint8_t* const planes[3], const int strides[3]);

private:
    friend class TFFMpegDll;
    struct TState;
    TMediaFile();
    std::unique_ptr<TState> state_;
    TMediaInfo info_;
    std::int64_t current_ = -1;
};

class TFFMpegDll {
public:
    // The shared library (FFmpeg is linked: always present).
    static TFFMpegDll& Shared();
    // Opens the clip `name` read from `stream`; none with `error` set when it has no decodable
    // video stream, no frames, an unknown codec or a picture beyond kMaxVideoSide. A clip seen
    // before (the same name, size and first bytes) is known from the process-wide table of probed
    // clips: its streams are not probed again (unless its container only finds its streams by
    // reading, as MPEG program and transport streams do) and its field order not looked for again.
    std::unique_ptr<TMediaFile> OpenMediaFile(TRef<TStream> stream, const std::string& name,
                                              std::string& error, int threads = 0);
    // How many times a clip's streams were probed (read and decoded to learn their parameters).
    std::int64_t Probes() const noexcept { return probes_.load(); }

private:
    struct TProbed;
    TFFMpegDll();
    // Opens the decoder of a clip whose probe is known (under lock_).
    static std::unique_ptr<TMediaFile> OpenKnown(std::unique_ptr<TMediaFile> file, const TProbed& known,
                                                 std::string& error, int threads);
    // The decoder of the clip's video stream, with its frame and packet.
    static bool OpenDecoder(TMediaFile& file, const AVCodec* decoder, int threads, std::string& error);
    std::mutex lock_; // opening, and the table
    std::unordered_map<std::string, std::shared_ptr<const TProbed>> probed_;
    std::atomic<std::int64_t> probes_{0};
};

} // namespace kiv

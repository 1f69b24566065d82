// Export to a video file: `kivviewer SHOW -render OUT.mp4|.mkv|.webm [-crf N]`. The headless
// renderer draws frame k (show time FROM + k × 1000 / N ms) and the show's sound for that frame
// runs from sample round(k × 44100 / N) to round((k + 1) × 44100 / N), so pictures and sound line
// up to the sample whatever the frame rate. H.264 and AAC go into .mp4 and .mkv, VP9 and Opus into
// .webm, through FFmpeg's libraries.
//
// The file is written under OUT + ".part" and renamed to OUT when it is complete: a failed export
// removes it, and one ended by SIGINT or SIGTERM has it removed by the signal watch, so OUT is
// either a whole video or absent.
#pragma once

#include "engine/HeadlessRender.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace kiv {

inline constexpr int kExportSampleRate = 44100;

// True for a name ending in ".mp4", ".mkv" or ".webm" (in any case).
bool IsVideoFileName(const std::string& name);

// The first sample of frame k's sound at `fps` frames per second: round(k × 44100 / fps).
std::int64_t FrameFirstSample(std::int64_t k, double fps);

// Fills `count` stereo frames (16 bits, interleaved) of the show's sound from sample `first`
// (44 100 Hz, sample 0 at FROM).
using TExportSound = std::function<void(std::int64_t first, int count, std::int16_t* out)>;

struct TVideoSettings {
    int width = 1280;
    int height = 720;
    double fps = 25;
    // Constant quality; below 0: the encoder's usual value (23 for H.264, 31 for VP9).
    int crf = -1;
};

// One video file being written. Raises Exception (with the reason) when the container or an
// encoder cannot be set up or the file cannot be made.
class TVideoWriter {
public:
    // `path` gets the container of `containerName` ("x.mp4", "x.mkv", "x.webm").
    TVideoWriter(const std::string& path, const std::string& containerName, const TVideoSettings& settings);
    ~TVideoWriter();
    TVideoWriter(const TVideoWriter&) = delete;
    TVideoWriter& operator=(const TVideoWriter&) = delete;

    // The next frame (BGRA, the settings' size) and its sound; raises Exception on an encoder or
    // write error.
    void AddFrame(const TBitmap& picture, const std::int16_t* sound, int soundFrames);
    // Drains the encoders and writes the container's end.
    void Finish();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

// Renders frames FROM … TO and writes them with their sound (silence without `sound`) into the
// video file `path`, with a progress line on `progress` (frames done / total, rate, time left).
// Returns an empty text, or why it failed.
std::string ExportShowToVideo(TRef<TFileAccessor> accessor, TRef<TIniFile> ini,
                              const THeadlessOptions& options, int crf, const std::string& path,
                              const TExportSound& sound, std::FILE* progress);

} // namespace kiv

// TKivVideo: a video object (type 8 "Video") — a clip shown inside the object's frame with the
// border, crop and aspect of image objects. The object's time is mapped to a time in the clip, the
// matching frame is taken from the clip's extractor (one worker per object) and written into a
// video image of the drawer, which converts the colours and applies deinterlacing and chroma key.
// The clip's sound is not played here: it joins the slide's sound description.
//
// A clip that cannot be opened or decoded shows the placeholder picture (and is logged); it never
// stops the slide. Video objects exist once RegisterVideoObjects has been called.
//
// Threads: built on the slide loader thread (the clip is opened there), drawn on the engine thread.
#pragma once

#include "objects/KivImage.h"
#include "render/VideoImage.h"
#include "video/VideoExtractor.h"

#include <string>

namespace kiv {

struct TVideoKeys {
    bool fromTracks = false; // the clip is an entry of the project's [Tracks]: its start is show time
    std::string fileName;
    bool loadFromDisk = false; // the file on disk beside the show is tried before the show's own
    bool mute = false;
    double startKivTime = 0.0;   // ms of the object's time when the clip starts
    double fpsMultiplier = 1.0;  // playback speed
    double duration = 0.0;       // ms of clip time; 0 the clip's own length
    double startVideoTime = 0.0; // ms into the file where the clip starts
    bool antialiasedBorder = true;
    int deinterlace = 0; // 0 "Auto", 1 "Wave", 2 "BobEven", 3 "BobOdd"
    bool waitForConvert = false;
    bool chromaEnable = false;
    std::uint32_t chromaKey = 0xFF00FF00u; // ARGB
    double chromaDelta = 0.0;              // percent of the chroma range
};

// The clip time (ms into the file) for the object's local time `x`: the first frame before the
// clip's start, then StartVideoTime + m × min(x − start, duration ÷ m) at speed m.
double VideoClipTime(const TVideoKeys& keys, double x, double clipLengthMs);
// The drawer's deinterlace mode (0 none, 1 even field, 2 odd field) for the key and the clip;
// "Wave" draws both fields, blended by BlendVideoFields.
int VideoDeinterlaceMode(int deinterlaceType, const TVideoParams& params);
// "Wave": every row of every plane of a YUV frame filtered (1 2 1) / 4 with its neighbours.
void BlendVideoFields(TYUVImage& frame);
// The chroma key colour (ARGB) as U and V in 0 … 1 (BT.601, video range).
void ChromaKeyUV(std::uint32_t argb, float& u, float& v);
// Writes a decoded frame into the video image (its planes locked one by one under its lock); a
// YUV frame drawn without shaders is converted to 5-6-5 RGB here. False when nothing was written.
bool UploadVideoFrame(const TYUVImage& frame, T3DYUV& target);

class TKivVideo final : public TKivImage {
public:
    explicit TKivVideo(TKivObject* parent);

    const TVideoKeys& VideoKeys() const noexcept { return video_; }
    TKivVideoExtractor* Extractor() const noexcept { return extractor_.Get(); }
    // The frame number written into the video image last; −1 before any.
    std::int64_t ShownFrame() const noexcept { return shownFrame_; }
    // The clip time of the current frame (ms).
    double ClipTime() const;

    void LoadPicture() override;
    void ReleaseDevice(TDeviceDrawer& drawer) override;

protected:
    ~TKivVideo() override;
    void SetDefaults() override;
    void ReadKeys(const TIniObject& object) override;
    bool IsKnownKey(std::string_view key) const override;
    void Produce(TDeviceDrawer& drawer) override;

private:
    void StopClip();

    TVideoKeys video_;
    std::string openedName_;
    bool openTried_ = false;
    TRef<TKivVideoExtractor> extractor_;
    TRef<T3DYUV> image_;
    std::int64_t shownFrame_ = -1;
};

// Adds the video objects' factory to the object factories (once; later calls do nothing).
void RegisterVideoObjects();

} // namespace kiv

#include "video/KivVideo.h"

#include "base/CaseFold.h"
#include "base/ColorValue.h"
#include "base/Log.h"
#include "images/Placeholder.h"
#include "ini/IniFile.h"
#include "objects/KivSlide.h"
#include "objects/ObjectFactory.h"
#include "objects/ObjectHost.h"
#include "objects/PropertyTable.h"
#include "render/Drawer.h"
#include "video/FFMpegDll.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace kiv {

namespace {

constexpr std::string_view kVideoKeys[] = {
    "ClipGUID",       "Mute",         "StartKIVTime",      "FPSMultiplier", "Duration", "StartVideoTime",
    "LoadFromDisk",   "FileName",     "AntialiasedBorder", "EnableAspect",  "Aspect",   "DeinterlaceType",
    "WaitForConvert", "ChromaEnable", "Chromakey",         "ChromaDelta",
};
constexpr std::string_view kDeinterlaceWords[] = {"Auto", "Wave", "BobEven", "BobOdd"};

double Finite(double value, double fallback) {
    return std::isfinite(value) ? value : fallback;
}

bool IsGifName(const std::string& name) {
    return name.size() >= 4 && SameTextFolded(std::string_view(name).substr(name.size() - 4), ".gif");
}

// A picture of the clip's size standing for the clip in layout; its pixels (black) are only read
// when something draws the object as a picture, as its shadow does.
class TVideoSizeStore final : public TBitmapStore {
public:
    TVideoSizeStore(std::string name, int width, int height)
        : TBitmapStore(std::move(name), width, height, TPixelFormat::Bgra32) {}
    const char* ClassName() const override { return "TVideoSizeStore"; }

protected:
    TRef<TBitmap> LoadLevel(int level, TPixelFormat format, TBitmapClass) override {
        return ReadSourceLevel(level, format);
    }
    TRef<TBitmap> ReadSourceLevel(int level, TPixelFormat) override {
        const int w = std::max(1, Width() >> level), h = std::max(1, Height() >> level);
        auto bitmap = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32, true);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                bitmap->Row(y)[x * 4 + 3] = 0xFF;
        bitmap->SetLevel(level);
        bitmap->SetName(Name());
        return bitmap;
    }
};

std::uint8_t Clamp8(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

// BT.601 video range to RGB.
void YuvToRgb(int y, int u, int v, std::uint8_t& r, std::uint8_t& g, std::uint8_t& b) {
    const int c = 298 * (y - 16), d = u - 128, e = v - 128;
    r = Clamp8((c + 409 * e + 128) >> 8);
    g = Clamp8((c - 100 * d - 208 * e + 128) >> 8);
    b = Clamp8((c + 516 * d + 128) >> 8);
}

// The entry `guid` (by GUID or name) of the [Tracks] section of the document holding `object`.
const TIniObject* FindTracksClip(const TIniObject& object, const std::string& guid) {
    const TIniList* list = &object;
    while (list->Parent())
        list = list->Parent();
    const auto* document = dynamic_cast<const TIniFile*>(list); // the top of every section
    const TIniSection* tracks = document ? document->FindSection("Tracks") : nullptr;
    for (int i = 0; tracks && i < tracks->ObjectCount(); ++i) {
        const TIniObject* clip = tracks->Object(i);
        if (SameTextFolded(clip->GetText("GUID"), guid) || SameTextFolded(clip->Name(), guid)) return clip;
    }
    return nullptr;
}

// The clip's width as shown: its stored height at its display aspect (non-square pixels are drawn
// wider or narrower than stored; an anamorphic 320 x 240 clip of 16:9 lays out as 427 x 240).
int DisplayWidth(const TVideoParams& params) {
    const double width = params.height * params.displayAspect;
    if (!(width >= 1.0) || !(width <= 4.0 * kMaxVideoSide)) return params.width;
    return static_cast<int>(std::lround(width));
}

class TVideoFactory final : public TObjectFactory {
public:
    TRef<TKivObject> Create(int typeCode, TKivObject& parent) const override {
        if (typeCode == kTypeVideo) return MakeRef<TKivVideo>(&parent);
        return {};
    }
};

} // namespace

double VideoClipTime(const TVideoKeys& keys, double x, double clipLengthMs) {
    const double start = keys.startKivTime;
    const double m = keys.fpsMultiplier > 0.0 ? keys.fpsMultiplier : 1.0;
    if (!(x >= start)) return keys.startVideoTime;
    const double duration =
        keys.duration > 0.0 ? keys.duration : std::max(clipLengthMs - keys.startVideoTime, 0.0);
    return keys.startVideoTime + m * std::min(x - start, duration / m);
}

int VideoDeinterlaceMode(int deinterlaceType, const TVideoParams& params) {
    switch (deinterlaceType) {
    case 1: // "Wave" blends the fields before the upload (BlendVideoFields)
        return 0;
    case 2:
        return 1;
    case 3:
        return 2;
    default: // "Auto" follows the clip's field order
        return params.interlaced ? (params.bottomFieldFirst ? 2 : 1) : 0;
    }
}

void BlendVideoFields(TYUVImage& frame) {
    if (frame.Rgba()) return;
    std::vector<std::uint8_t> above;
    for (int index = 0; index < 3; ++index) {
        const int rows = frame.PlaneHeight(index), stride = frame.Stride(index);
        if (rows < 2) continue;
        std::uint8_t* plane = frame.Plane(index);
        // Each row becomes (row above + 2 x row + row below) / 4, the edges repeated: the two fields
        // of a moving picture meet instead of showing as combs.
        above.assign(plane, plane + stride);
        for (int y = 0; y < rows; ++y) {
            std::uint8_t* row = plane + static_cast<std::ptrdiff_t>(y) * stride;
            const std::uint8_t* below = y + 1 < rows ? row + stride : row;
            for (int x = 0; x < stride; ++x) {
                const int blended = (above[x] + 2 * row[x] + below[x] + 2) >> 2;
                above[x] = row[x];
                row[x] = static_cast<std::uint8_t>(blended);
            }
        }
    }
}

void ChromaKeyUV(std::uint32_t argb, float& u, float& v) {
    const int r = static_cast<int>((argb >> 16) & 0xFF), g = static_cast<int>((argb >> 8) & 0xFF),
              b = static_cast<int>(argb & 0xFF);
    u = static_cast<float>(128 + ((-38 * r - 74 * g + 112 * b + 128) >> 8)) / 255.0f;
    v = static_cast<float>(128 + ((112 * r - 94 * g - 18 * b + 128) >> 8)) / 255.0f;
}

bool UploadVideoFrame(const TYUVImage& frame, T3DYUV& target) {
    const int w = std::min(frame.Width(), target.Width()), h = std::min(frame.Height(), target.Height());
    if (w <= 0 || h <= 0) return false;
    if (target.Mode() == T3DYUV::kModeYUV && !frame.Rgba()) {
        for (int index = 0; index < 3; ++index) {
            TRef<TBitmap> plane = target.LockPlane(index);
            if (!plane) return false;
            const int rows = std::min(plane->Height(), index == 0 ? h : h / 2);
            const int bytes = std::min(plane->Width(), index == 0 ? w : w / 2);
            for (int y = 0; y < rows; ++y)
                std::memcpy(plane->Row(y),
                            frame.Plane(index) + static_cast<std::ptrdiff_t>(y) * frame.Stride(index),
                            static_cast<std::size_t>(bytes));
            target.UnlockPlane(index, plane.Get());
        }
        return true;
    }
    // One RGB plane: 32-bit BGRA, or 5-6-5 without alpha.
    const int index = target.Mode() == T3DYUV::kModeRGBA ? T3DYUV::kPlaneRGBA : T3DYUV::kPlaneRGB;
    TRef<TBitmap> plane = target.LockPlane(index);
    if (!plane) return false;
    const int bpp = BytesPerPixel(plane->Format());
    for (int y = 0; y < std::min(h, plane->Height()); ++y) {
        std::uint8_t* out = plane->Row(y);
        for (int x = 0; x < std::min(w, plane->Width()); ++x) {
            std::uint8_t r, g, b, a = 0xFF;
            if (frame.Rgba()) {
                const std::uint8_t* p =
                    frame.Plane(0) + static_cast<std::ptrdiff_t>(y) * frame.Stride(0) + x * 4;
                r = p[0], g = p[1], b = p[2], a = p[3];
            } else {
                YuvToRgb(frame.Plane(0)[y * frame.Stride(0) + x],
                         frame.Plane(1)[(y / 2) * frame.Stride(1) + x / 2],
                         frame.Plane(2)[(y / 2) * frame.Stride(2) + x / 2], r, g, b);
            }
            if (bpp == 4) {
                out[x * 4] = b, out[x * 4 + 1] = g, out[x * 4 + 2] = r, out[x * 4 + 3] = a;
            } else {
                const auto pixel = static_cast<std::uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
                std::memcpy(out + x * 2, &pixel, 2);
            }
        }
    }
    target.UnlockPlane(index, plane.Get());
    return true;
}

TKivVideo::TKivVideo(TKivObject* parent) : TKivImage(parent, kTypeVideo) {}

TKivVideo::~TKivVideo() {
    StopClip();
}

void TKivVideo::StopClip() {
    if (extractor_) extractor_->Stop();
    extractor_ = nullptr;
    shownFrame_ = -1;
}

void TKivVideo::SetDefaults() {
    TKivImage::SetDefaults();
    video_ = TVideoKeys{};
}

void TKivVideo::ReadKeys(const TIniObject& object) {
    TKivImage::ReadKeys(object);
    // A clip of [Tracks] gives its file and times; the object's own keys stand otherwise.
    const TIniList* keys = &object;
    if (const std::string guid = object.GetText("ClipGUID"); !guid.empty()) {
        if (const TIniObject* clip = FindTracksClip(object, guid))
            keys = clip;
        else
            TLog::Line("Video clip " + guid + " is not in the project's tracks");
    }
    video_.fromTracks = keys != &object;
    video_.fileName = keys->GetText("FileName");
    video_.loadFromDisk = keys->GetBool("LoadFromDisk", false);
    video_.mute = keys->GetBool("Mute", false);
    video_.startKivTime = Finite(keys->GetReal("StartKIVTime", 0.0), 0.0);
    video_.fpsMultiplier = std::clamp(Finite(keys->GetReal("FPSMultiplier", 1.0), 1.0), 0.0, 1000.0);
    video_.duration = std::max(Finite(keys->GetReal("Duration", 0.0), 0.0), 0.0);
    video_.startVideoTime = std::max(Finite(keys->GetReal("StartVideoTime", 0.0), 0.0), 0.0);
    video_.antialiasedBorder = object.GetBool("AntialiasedBorder", true);
    video_.deinterlace = 0;
    if (const TIniItem* item = object.FindItem("DeinterlaceType")) {
        const std::string word = item->Value();
        const auto* found = std::find_if(std::begin(kDeinterlaceWords), std::end(kDeinterlaceWords),
                                         [&](std::string_view w) { return SameTextFolded(w, word); });
        if (found == std::end(kDeinterlaceWords))
            LogBadValue("DeinterlaceType", word);
        else
            video_.deinterlace = static_cast<int>(found - std::begin(kDeinterlaceWords));
    }
    video_.waitForConvert = object.GetBool("WaitForConvert", false);
    video_.chromaEnable = object.GetBool("ChromaEnable", false);
    video_.chromaKey = ReadColorValue(object.GetText("Chromakey"), 0xFF00FF00u);
    video_.chromaDelta = std::clamp(Finite(object.GetReal("ChromaDelta", 0.0), 0.0), 0.0, 100.0);
}

bool TKivVideo::IsKnownKey(std::string_view key) const {
    return TKivImage::IsKnownKey(key) ||
           std::any_of(std::begin(kVideoKeys), std::end(kVideoKeys),
                       [&](std::string_view k) { return SameTextFolded(k, key); });
}

void TKivVideo::LoadPicture() {
    if (openTried_ && openedName_ == video_.fileName) return;
    StopClip();
    openTried_ = true;
    openedName_ = video_.fileName;
    loadTried_ = true;
    loadedName_ = video_.fileName;
    picture_ = nullptr;
    contentChanged_ = true;
    const std::string& name = video_.fileName;
    if (name.empty()) return;
    // The clip is read from the show's stream as it plays, never copied into memory whole.
    TRef<TStream> stream;
    if (TKivObjectHost* host = Host()) stream = host->OpenFile(name, video_.loadFromDisk);
    std::string error = "not found";
    if (stream) {
        try {
            std::unique_ptr<TFrameSource> source;
            if (IsGifName(name))
                source = TGifVideoSource::Open(*stream, error);
            else
                source = TWinVideoSource::Open(std::move(stream), name, error);
            if (source) extractor_ = MakeRef<TKivVideoExtractor>(std::move(source), IsGifName(name));
        } catch (const std::exception& failure) {
            error = failure.what();
        }
    }
    if (extractor_) {
        const TVideoParams& params = extractor_->Params();
        picture_ = MakeRef<TImage>(MakeRef<TVideoSizeStore>(name, DisplayWidth(params), params.height));
    } else {
        TLog::Line("Video " + name + " cannot be played (" + error + "); the placeholder is shown");
        try {
            picture_ =
                MakeRef<TImage>(MakePlaceholderStore(name, TPlaceholderKind::Video, error != "not found"));
        } catch (const std::exception&) {
            picture_ = nullptr;
        }
    }
    if (picture_ && node_) node_->SetPictureSize(picture_->Width(), picture_->Height());
}

double TKivVideo::ClipTime() const {
    if (!extractor_) return 0.0;
    const TVideoParams& params = extractor_->Params();
    const double length =
        params.fps > 0.0 ? static_cast<double>(params.frameCount) * 1000.0 / params.fps : 0.0;
    TVideoKeys keys = video_;
    // A clip of [Tracks] starts at a show time: one that began on an earlier slide continues here.
    if (keys.fromTracks && Slide()) keys.startKivTime -= Slide()->Times().start;
    return VideoClipTime(keys, node_ ? node_->Time() : 0.0, length);
}

void TKivVideo::ReleaseDevice(TDeviceDrawer& drawer) {
    image_ = nullptr;
    shownFrame_ = -1;
    TKivImage::ReleaseDevice(drawer);
}

void TKivVideo::Produce(TDeviceDrawer& drawer) {
    if (!extractor_) {
        TKivImage::Produce(drawer); // the placeholder
        return;
    }
    auto* d3d = dynamic_cast<T3DDrawer*>(&drawer);
    if (!d3d || !d3d->IsReady() || !(ContentOpacity() > 0.0f)) return;
    const TVec2 size = Size();
    const TRectF content = Content();
    const float inset = BorderInset();
    if (!(size.x > 0.0) || !(size.y > 0.0) || content.IsEmpty()) return;
    const TVec2 unit{(size.x - 2.0 * inset) / content.Width(), (size.y - 2.0 * inset) / content.Height()};
    if (!(unit.x > 0.0) || !(unit.y > 0.0) || !std::isfinite(unit.x + unit.y)) return;
    // The layout is in shown pixels; the frame is drawn from its stored ones.
    const TVideoParams& params = extractor_->Params();
    const double stored = picture_ && picture_->Width() > 0
                              ? static_cast<double>(params.width) / picture_->Width()
                              : 1.0;
    const TRectF source{static_cast<float>(content.left * stored), content.top,
                        static_cast<float>(content.right * stored), content.bottom};
    const TVec2 frameUnit{unit.x / stored, unit.y};

    // The frame: the closest decoded one; a frame not yet in the pool is waited for, and so is the
    // exact frame when frames are captured (or the show asks to wait for every conversion).
    const double t = ClipTime();
    const bool exact = video_.waitForConvert || d3d->CaptureMode();
    extractor_->Request(t, exact);
    TKivVideoExtractor::TTaken taken = extractor_->Take(t);
    if (!taken.image) {
        extractor_->Request(t, true);
        taken = extractor_->Take(t);
    }
    if (!image_ || image_->Width() != params.width || image_->Height() != params.height) {
        image_ = d3d->CreateVideoImage(params.width, params.height, !params.yuv);
        shownFrame_ = -1;
    }
    if (taken.image) {
        if (image_ && (taken.frame != shownFrame_ || image_->Dirty())) {
            bool uploaded = false;
            if (video_.deinterlace == 1 && !taken.image->Rgba()) {
                // Blended in a copy: the pool keeps the frame as decoded.
                TYUVImage blended = *taken.image;
                BlendVideoFields(blended);
                uploaded = UploadVideoFrame(blended, *image_);
            } else {
                uploaded = UploadVideoFrame(*taken.image, *image_);
            }
            if (uploaded) shownFrame_ = taken.frame;
            contentChanged_ = true;
        }
        extractor_->PutBack(taken.image);
    }
    if (!image_ || shownFrame_ < 0) return;

    const TPlacement& placement = Placement();
    const TVec2 pivot = Pivot();
    const TVec2 from{pivot.x + inset, pivot.y + inset};
    if (keys_.shadowEnable) DrawShadow(drawer, from, unit);
    const TBorderParams& border = Border();
    if (border.enableBorder && inset > 0.0f) {
        const TKivObjectHost* host = Host();
        const std::uint32_t color = host ? host->ManageColor(border.borderColor) : border.borderColor;
        drawer.DrawBorder(placement.origin, TVec2{-from.x, -from.y}, placement.axisX, placement.axisY,
                          TVec2{size.x - 2.0 * inset, size.y - 2.0 * inset}, color, inset, inset,
                          EffectiveOpacity(), video_.antialiasedBorder);
    }
    TVideoDrawParams draw;
    draw.opacity = ContentOpacity();
    draw.sourceRect = source;
    draw.edgeAntialias = video_.antialiasedBorder;
    draw.deinterlace = VideoDeinterlaceMode(video_.deinterlace, params);
    draw.chromaKey = video_.chromaEnable;
    if (draw.chromaKey) {
        const TKivObjectHost* host = Host();
        ChromaKeyUV(host ? host->ManageColor(video_.chromaKey) : video_.chromaKey, draw.keyU, draw.keyV);
        draw.keyThreshold = static_cast<float>(video_.chromaDelta / 100.0);
    }
    d3d->DrawVideo(*image_, placement.origin, draw, placement.axisX * frameUnit.x, placement.axisY * frameUnit.y,
                   TVec2{-from.x / frameUnit.x, -from.y / frameUnit.y});
}

void RegisterVideoObjects() {
    static std::once_flag once;
    std::call_once(once, [] { RegisterObjectFactory(std::make_shared<TVideoFactory>()); });
}

} // namespace kiv

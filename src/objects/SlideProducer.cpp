#include "objects/SlideProducer.h"

#include "base/CaseFold.h"
#include "base/Exception.h"
#include "base/Log.h"
#include "base/NumberText.h"
#include "images/BitmapStore.h"
#include "images/PictureCache.h"
#include "objects/KeyframeTiming.h"
#include "objects/text/TextRender.h"
#include "project/ShowOptions.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv {

namespace {

int RoundToInt(double value) {
    if (!std::isfinite(value)) return 0;
    return static_cast<int>(std::lround(std::clamp(value, -1e9, 1e9)));
}

} // namespace

TKivSlideHost::TKivSlideHost(TRef<TFileAccessor> files, std::function<TVec3()> camera)
    : files_(std::move(files)), camera_(std::move(camera)) {
    if (files_) {
        textProvider_ = files_->Source().AddPictureProvider(&TKivSlideHost::ProvideText, this);
        buttonProvider_ = files_->Source().AddPictureProvider(&TKivSlideHost::ProvideButton, this);
        derivedProvider_ = files_->Source().AddPictureProvider(&TKivSlideHost::ProvideDerived, this);
    }
}

TButtonProducer* TKivSlideHost::ButtonProducer(const std::string& name) {
    std::lock_guard guard(buttonsLock_);
    TRef<TButtonProducer>& producer = buttons_[FoldUtf8(name)];
    if (!producer) producer = MakeRef<TButtonProducer>(name);
    return producer.Get();
}

TRef<TRefObject> TKivSlideHost::ProvideButton(void* data, const std::string& name) {
    TButtonFaceKey key;
    if (!ParseButtonFaceName(name, key)) return nullptr;
    auto* host = static_cast<TKivSlideHost*>(data);
    TButtonProducer* producer = host->ButtonProducer(key.theme);
    if (!producer->Loaded()) producer->Load(*host);
    auto load = [host](const std::string& file) { return host->LoadPicture(file); };
    try {
        TRef<TBitmap> face = producer->MakeFace(key, load);
        if (!face) return nullptr;
        return MakeRef<TWrapperBitmapStore>(name, std::move(face));
    } catch (const std::exception& failure) {
        TLog::Line("Button face cannot be made: " + std::string(failure.what()));
        return nullptr;
    }
}

namespace {

bool IsDerivedName(const std::string& name) {
    return name.rfind("Shadow: ", 0) == 0 || name.rfind("SlideBg: ", 0) == 0;
}

} // namespace

TRef<TImage> TKivSlideHost::DerivedPicture(const std::string& name,
                                           const std::function<TRef<TImage>()>& make) {
    if (!make) return nullptr;
    if (!files_ || !IsDerivedName(name)) return make();
    bool failed = false;
    const TMaker tracked = [&] {
        TRef<TImage> picture = make();
        failed = !picture;
        return picture;
    };
    std::multimap<std::string, std::pair<std::thread::id, const TMaker*>>::iterator entry;
    {
        std::lock_guard lock(makersLock_);
        entry = makers_.emplace(name, std::make_pair(std::this_thread::get_id(), &tracked));
    }
    TRef<TImage> picture;
    try {
        picture = LoadCachedPicture(*files_, name);
    } catch (...) {
        std::lock_guard lock(makersLock_);
        makers_.erase(entry);
        throw;
    }
    {
        std::lock_guard lock(makersLock_);
        makers_.erase(entry);
    }
    return failed ? nullptr : picture; // not the placeholder the accessor shows for nothing made
}

namespace {

// A picture as a 32-bit mask: one without alpha (or fully opaque) takes the largest of its channels
// as alpha, grey pixels becoming white.
TRef<TBitmap> MaskPicture(const TBitmap& source, bool hasAlpha) {
    TRef<TBitmap> mask = ConvertBitmap(source, TPixelFormat::Bgra32); // a copy of its own
    if (!mask) return nullptr;
    bool opaque = true;
    for (int y = 0; opaque && hasAlpha && y < mask->Height(); ++y)
        for (int x = 0; x < mask->Width(); ++x)
            if (mask->Row(y)[4 * x + 3] != 255) {
                opaque = false;
                break;
            }
    if (!opaque) return mask; // its own alpha is the mask
    for (int y = 0; y < mask->Height(); ++y) {
        std::uint8_t* p = mask->Row(y);
        for (int x = 0; x < mask->Width(); ++x, p += 4) {
            const int b = p[0], g = p[1], r = p[2];
            p[3] = static_cast<std::uint8_t>(std::max({r, g, b}));
            if (r == g && g == b) {
                p[0] = p[1] = p[2] = 255;
                continue;
            }
            // Nearly grey pixels are lightened towards white, coloured ones keep their tint.
            const std::int64_t w =
                std::int64_t{255 - std::abs(r - b)} * (255 - std::abs(b - g)) * (255 - std::abs(g - r));
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<std::uint8_t>(p[c] + w * (255 - p[c]) / 16581375);
        }
    }
    return mask;
}

// The preset shapes of "PresetedMask:" names, "PresetedMask:SHAPE:WIDTH:HEIGHT[:PARAMETER]": the
// shape (Rectangle, Ellipse, RoundRect with its corner radius in per cent of the shorter side,
// default 20, or Diamond; any case) filling a WIDTH × HEIGHT picture. Alpha carries the coverage,
// sampled 4 × 4 times in each pixel; the colour is white.
enum class TPresetShape { Rectangle, Ellipse, RoundRect, Diamond };

TRef<TBitmap> PresetMaskPicture(std::string_view fields) {
    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        const std::size_t colon = fields.find(':', from);
        parts.push_back(fields.substr(from, colon == std::string_view::npos ? colon : colon - from));
        if (colon == std::string_view::npos) break;
        from = colon + 1;
    }
    if (parts.size() < 3 || parts.size() > 4) return nullptr;
    static constexpr std::pair<std::string_view, TPresetShape> kShapes[] = {
        {"Rectangle", TPresetShape::Rectangle},
        {"Ellipse", TPresetShape::Ellipse},
        {"RoundRect", TPresetShape::RoundRect},
        {"Diamond", TPresetShape::Diamond}};
    const auto* shape = std::find_if(std::begin(kShapes), std::end(kShapes), [&](const auto& entry) {
        return SameTextFolded(parts[0], entry.first);
    });
    const std::optional<std::int32_t> width = ParseInt32(parts[1]), height = ParseInt32(parts[2]);
    constexpr std::int32_t kLargest = 8192; // a mask larger than any texture is refused, not made
    if (shape == std::end(kShapes) || !width || !height || *width < 1 || *height < 1 || *width > kLargest ||
        *height > kLargest)
        return nullptr;
    double radiusPercent = 20;
    if (parts.size() == 4) {
        const std::optional<std::int32_t> given = ParseInt32(parts[3]);
        if (!given) return nullptr;
        radiusPercent = std::clamp<double>(*given, 0, 50);
    }
    const double w = *width, h = *height;
    const double radius = std::min(w, h) * radiusPercent / 100;
    // Whether the point (x, y) of the picture lies inside the shape.
    auto inside = [&](double x, double y) {
        switch (shape->second) {
        case TPresetShape::Rectangle:
            return true;
        case TPresetShape::Ellipse: {
            const double dx = (x - w / 2) / (w / 2), dy = (y - h / 2) / (h / 2);
            return dx * dx + dy * dy <= 1;
        }
        case TPresetShape::Diamond:
            return std::abs(x - w / 2) / (w / 2) + std::abs(y - h / 2) / (h / 2) <= 1;
        case TPresetShape::RoundRect: {
            // The distance outside the inner rectangle whose corners are the arcs' centres.
            const double dx = std::max({radius - x, x - (w - radius), 0.0});
            const double dy = std::max({radius - y, y - (h - radius), 0.0});
            return dx * dx + dy * dy <= radius * radius;
        }
        }
        return false;
    };
    constexpr int kSamples = 4;
    auto mask = MakeRef<TBitmap>(*width, *height, TPixelFormat::Bgra32, false);
    for (int y = 0; y < *height; ++y) {
        std::uint8_t* p = mask->Row(y);
        for (int x = 0; x < *width; ++x, p += 4) {
            int covered = 0;
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx)
                    covered += inside(x + (sx + 0.5) / kSamples, y + (sy + 0.5) / kSamples);
            p[0] = p[1] = p[2] = 255;
            p[3] =
                static_cast<std::uint8_t>((covered * 255 + kSamples * kSamples / 2) / (kSamples * kSamples));
        }
    }
    return mask;
}

} // namespace

TRef<TRefObject> TKivSlideHost::ProvideDerived(void* data, const std::string& name) {
    auto* host = static_cast<TKivSlideHost*>(data);
    if (name.rfind("Mask: ", 0) == 0) {
        // A picture of the show as a mask.
        const std::string from = name.substr(6);
        if (from.empty() || !host->files_) return nullptr;
        TRef<TImage> source = LoadCachedPicture(*host->files_, from);
        if (!source) return nullptr;
        TRef<TBitmap> level = source->Store().GetMipLevel(0, TPixelFormat::Bgra32);
        TRef<TBitmap> mask = level ? MaskPicture(*level, HasAlpha(source->Format())) : nullptr;
        if (!mask) return nullptr;
        return MakeRef<TWrapperBitmapStore>(name, std::move(mask));
    }
    static constexpr std::string_view kPreset = "PresetedMask:";
    if (name.rfind(kPreset, 0) == 0) {
        TRef<TBitmap> mask = PresetMaskPicture(std::string_view(name).substr(kPreset.size()));
        if (!mask) {
            TLog::Line("Unknown preset mask: " + name);
            return nullptr;
        }
        return MakeRef<TWrapperBitmapStore>(name, std::move(mask));
    }
    if (!IsDerivedName(name)) return nullptr;
    const TMaker* maker = nullptr;
    {
        std::lock_guard lock(host->makersLock_);
        const auto [from, to] = host->makers_.equal_range(name);
        for (auto it = from; it != to; ++it)
            if (!maker || it->second.first == std::this_thread::get_id()) maker = it->second.second;
    }
    if (!maker) return nullptr; // asked for by name alone: only its maker knows how to make it
    return (*maker)();
}

std::vector<std::uint8_t> TKivSlideHost::ShowFont(const std::string& family, int style) const {
    std::vector<std::uint8_t> bytes;
    if (!files_ || family.empty()) return bytes;
    // A font packed with the show is named after its family, with the style for bold and italic cuts.
    static const char* const kStyles[] = {"", " Bold", " Italic", " Bold Italic"};
    std::vector<std::string> names;
    for (const std::string& stem : {family + kStyles[style & 3], family})
        for (const char* folder : {"", "fonts\\"})
            for (const char* ext : {".ttf", ".otf"})
                names.push_back(folder + stem + ext);
    for (const std::string& name : names) {
        bytes = FileBytes(name, 64 << 20);
        if (!bytes.empty()) return bytes;
    }
    return bytes;
}

std::vector<std::uint8_t> TKivSlideHost::FileBytes(const std::string& name, std::int64_t limit) const {
    std::vector<std::uint8_t> bytes;
    if (!files_) return bytes;
    try {
        TRef<TStream> stream = files_->Open(name);
        if (!stream) return bytes;
        const std::int64_t size = stream->GetSize();
        if (size <= 0 || size > limit) return bytes;
        bytes.resize(static_cast<std::size_t>(size));
        stream->SetPosition(0);
        if (stream->Read(bytes.data(), static_cast<std::int32_t>(size)) != size) bytes.clear();
    } catch (const std::exception& failure) {
        TLog::Line("File " + name + " cannot be read: " + failure.what());
        bytes.clear();
    }
    return bytes;
}

std::vector<std::uint8_t> TKivSlideHost::ReadFile(const std::string& name) {
    return FileBytes(name, std::int64_t{1} << 30);
}

TRef<TStream> TKivSlideHost::OpenFile(const std::string& name, bool fromDisk) {
    if (!files_) return nullptr;
    if (fromDisk)
        if (TRef<TStream> stream = files_->OpenDiskFile(name)) return stream;
    return files_->Open(name);
}

TRef<TRefObject> TKivSlideHost::ProvideText(void* data, const std::string& name) {
    if (!IsTextPictureName(name)) return nullptr;
    TTextRequest request;
    if (!ParseTextPictureName(name, request)) {
        TLog::Line("Text picture name is not well formed: " + name.substr(0, 80));
        return nullptr;
    }
    auto* host = static_cast<TKivSlideHost*>(data);
    const TFontBytesLoader loader = [host](const std::string& family, int style) {
        return host->ShowFont(family, style);
    };
    try {
        TRef<TBitmap> bitmap = RenderText(request, nullptr, &loader);
        if (!bitmap) return nullptr;
        return MakeRef<TWrapperBitmapStore>(name, std::move(bitmap));
    } catch (const std::exception& failure) {
        TLog::Line("Text picture cannot be made: " + std::string(failure.what()));
        return nullptr;
    }
}

TVec3 TKivSlideHost::CameraPosition() const {
    return camera_ ? camera_() : TVec3{};
}

TRef<TImage> TKivSlideHost::LoadPicture(const std::string& name) {
    if (!files_ || name.empty()) return nullptr;
    return LoadCachedPicture(*files_, name);
}

TSlideProducer::TSlideProducer(TKivSource& source)
    : source_(source),
      host_(TRef<TFileAccessor>::Share(source.FileAccessor()), [this] { return CameraPosition(); }) {
    host_.SetSlideCount(source.SlideCount());
    host_.SetProducer(this);
    if (const TIniSection* main = source_.MainSection()) {
        std::string buttons(main->GetText("PathToButtons"));
        if (!buttons.empty() && buttons.back() != '\\') buttons += '\\';
        host_.SetButtonsPath(std::move(buttons));
    }
    if (const TIniSection* main = source_.MainSection()) {
        designWidth_ = main->GetInt32("opt_scr_width", 0);
        designHeight_ = main->GetInt32("opt_scr_height", 0);
        fixedSize_ = main->GetBool("opt_scr_fullfixedsize", false);
    }
}

void TSlideProducer::SetScreen(int width, int height, int fitMode, int pixelAspectX, int pixelAspectY) {
    screenWidth_ = std::max(0, width);
    screenHeight_ = std::max(0, height);
    centre_ = {screenWidth_ / 2.0, screenHeight_ / 2.0};
    fitMode_ = fitMode == kShowCover ? kShowCover : kShowFitInside;
    aspectX_ = pixelAspectX > 0 ? pixelAspectX : 100;
    aspectY_ = pixelAspectY > 0 ? pixelAspectY : 100;

    const TIniSection* main = source_.MainSection();
    const int minorVersion = main ? main->GetInt32("MinorVersion", 13) : 13;
    if (minorVersion > 12) {
        if (designHeight_ <= 0) throw Exception("ZeroSize of Presentation!");
        aspect_ = static_cast<double>(designWidth_) / designHeight_;
    } else {
        // Older projects take the screen's own shape unless they name a ratio.
        if (screenHeight_ > 0) aspect_ = static_cast<double>(screenWidth_) / screenHeight_;
        if (main && !std::string(main->GetText("opt_scr_ratio")).empty())
            aspect_ = main->GetReal("opt_scr_ratio", aspect_);
    }
    if (!std::isfinite(aspect_) || aspect_ <= 0.0) aspect_ = 1.0;

    int w = 0, h = 0;
    if (fixedSize_ && designWidth_ > 0 && designHeight_ > 0) {
        // The design size, reduced (never enlarged) to the screen with its aspect kept.
        if (static_cast<double>(screenWidth_) * designHeight_ >
            static_cast<double>(designWidth_) * screenHeight_) {
            h = std::min(designHeight_, screenHeight_);
            w = RoundToInt(static_cast<double>(h) * designWidth_ / designHeight_);
        } else {
            w = std::min(designWidth_, screenWidth_);
            h = RoundToInt(static_cast<double>(w) * designHeight_ / designWidth_);
        }
    } else {
        // In square units, then back to pixels.
        const int a = RoundToInt(screenWidth_ * 100.0 / aspectX_);
        const int b = RoundToInt(screenHeight_ * 100.0 / aspectY_);
        double sw = RoundToInt(b * aspect_);
        double sh = b;
        if (sw > 0 && sh > 0) {
            const double fx = a / sw, fy = b / sh;
            const double f = fitMode_ == kShowCover ? std::max(fx, fy) : std::min(fx, fy);
            sw = RoundToInt(sw * f);
            sh = RoundToInt(sh * f);
        }
        w = RoundToInt(sw * aspectX_ / 100.0);
        h = RoundToInt(sh * aspectY_ / 100.0);
    }
    // An odd size short of the screen grows by one pixel so that the show sits centred.
    if (w % 2 != 0 && w < screenWidth_) ++w;
    if (h % 2 != 0 && h < screenHeight_) ++h;
    showWidth_ = std::max(0, w);
    showHeight_ = std::max(0, h);
}

TShowRect TSlideProducer::ShowRect() const {
    const int left = RoundToInt(centre_.x - showWidth_ / 2.0);
    const int top = RoundToInt(centre_.y - showHeight_ / 2.0);
    TShowRect rect{std::max(0, left), std::max(0, top), std::min(screenWidth_, left + showWidth_),
                   std::min(screenHeight_, top + showHeight_)};
    if (rect.IsEmpty()) return {};
    return rect;
}

TVec3 TSlideProducer::CameraPosition() const {
    return {screenWidth_ / 2.0, screenHeight_ / 2.0, -static_cast<double>(screenHeight_) * 100.0 / aspectY_};
}

void TSlideProducer::ConfigureSlide(TKivSlide& slide, TIniSection& section, const TSlideInfo& times, int index) {
    slide.SetSize(showWidth_ * 100.0 / aspectX_, showHeight_ * 100.0 / aspectY_);
    slide.SetCentre(centre_);
    slide.SetDesignSize({static_cast<double>(designWidth_), static_cast<double>(designHeight_)});
    slide.SetTimes(times, index);
    slide.SetBackground(TKivSlide::ReadBackground(section, source_.MainSection()));
    slide.Build(TKivSlide::RootObject(section), PlanKeyframeTiming(&section, times));
    const TVec2 size = slide.ParentSize();
    if (size.x > 0 && size.y > 0) slide.SetScale(showWidth_ * 100.0 / size.x, showHeight_ * 100.0 / size.y);
}

TRef<TKivSlide> TSlideProducer::BuildSlide(std::int32_t index, int pass) {
    const std::int32_t count = source_.SlideCount();
    if (index < 0) {
        // The moment before the show: nothing to draw but the first slide's background, so that
        // slide 0's incoming transition has something to leave.
        TSlideInfo times;
        times.start = TSlideTimeline::kBeforeShowStart;
        if (count > 0) times.nextTransition = source_.Slides().front().transition;
        times.end = times.nextTransition;
        try {
            auto slide = MakeRef<TKivSlide>(&host_, pass);
            slide->SetSize(showWidth_ * 100.0 / aspectX_, showHeight_ * 100.0 / aspectY_);
            slide->SetCentre(centre_);
            slide->SetDesignSize({static_cast<double>(designWidth_), static_cast<double>(designHeight_)});
            slide->SetTimes(times, -1);
            if (const TIniSection* first = count > 0 ? SlideSection(source_.Document(), 0) : nullptr)
                slide->SetBackground(TKivSlide::ReadBackground(*first, source_.MainSection()));
            const TVec2 size = slide->ParentSize();
            if (size.x > 0 && size.y > 0)
                slide->SetScale(showWidth_ * 100.0 / size.x, showHeight_ * 100.0 / size.y);
            return slide;
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    if (count <= 0) throw Exception("No Slides in Presentation");
    index %= count;
    TIniSection* section = SlideSection(source_.Document(), index);
    if (!section) return nullptr;
    try {
        auto slide = MakeRef<TKivSlide>(&host_, pass);
        ConfigureSlide(*slide, *section, source_.Slides()[static_cast<std::size_t>(index)], index);
        return slide;
    } catch (const std::exception&) {
        return nullptr;
    }
}

TSlideInfo TSlideProducer::Record(std::int32_t index) const {
    TSlideInfo info;
    source_.GetSlideTimes(index, info);
    return info;
}

TRef<TDrawContainer> TSlideProducer::BuildContainer(std::int32_t index) {
    if (!timing_) throw Exception("TSlideProducer.CurrentTiming not Assigned");
    const std::int32_t count = source_.SlideCount();
    if (index >= 0 && count <= 0) throw Exception("No Slides in Presentation");
    TSlideInfo info;
    source_.GetSlideTimes(index, info);
    const int pass = index >= 0 ? index / count : 0;
    const double loopOffset = pass * source_.Period();
    TLog::Line("....................................... " + std::to_string(index));
    TRef<TKivSlide> slide = BuildSlide(index, pass);
    if (slide && index >= 0) {
        // Laying the slide out at its start runs its pre-pass and loads its pictures at the levels
        // the pre-pass chose, here on the building thread rather than at the first frame.
        try {
            slide->Advance(true, slide->Times().start);
        } catch (const std::exception& failure) {
            TLog::Line("Slide " + std::to_string(index) + " could not be laid out: " + failure.what());
            slide = nullptr;
        }
    }
    TRef<TKivFilter> filter;
    if (slide && index >= 0) {
        double time = 0;
        float smoothline = 0;
        TRef<TKivEffect> effect = source_.GetSlideTransition(index % count, time, smoothline);
        filter = MakeRef<TKivFilter>(std::move(effect), time, smoothline);
    } else {
        filter = MakeRef<TKivFilter>();
    }
    return MakeRef<TDrawContainer>(timing_, index, info, loopOffset, std::move(slide), std::move(filter));
}

namespace {

// Whole milliseconds, as the window compares times; NaN counts as the start of the show.
std::int64_t WholeMs(double t) {
    if (std::isnan(t)) return 0;
    return std::llround(std::clamp(t, -4e15, 4e15));
}

} // namespace

std::pair<std::int32_t, std::int32_t> TSlideProducer::VisibleRange(double t) {
    const std::int32_t count = source_.SlideCount();
    if (count <= 0) return {-1, -1};
    const std::int64_t time = WholeMs(t);
    // Past the last slide only a repeating show goes on into later passes.
    const bool loops = source_.EndMode() == TEndMode::Repeat && source_.Period() > 0;
    const std::int64_t lastIndex = loops ? std::numeric_limits<std::int32_t>::max() - 1 : count - 1;
    const auto end = [this](std::int64_t i) { return WholeMs(Record(static_cast<std::int32_t>(i)).end); };
    const auto start = [this](std::int64_t i) { return WholeMs(Record(static_cast<std::int32_t>(i)).start); };

    std::int64_t r = std::clamp<std::int64_t>(cursor_, -1, lastIndex);
    // A nearby time is a few steps away; a jump searches the timeline and walks from there.
    constexpr int kSteps = 64;
    bool reseeded = false;
    for (int steps = 0;; ++steps) {
        if (steps == kSteps && !reseeded) {
            reseeded = true;
            steps = 0;
            r = std::clamp<std::int64_t>(source_.FindSlideAt(static_cast<double>(time)), -1, lastIndex);
        }
        if (r > -1 && time < end(r - 1)) {
            --r;
        } else if (r < lastIndex && end(r) < time) {
            ++r;
        } else {
            break;
        }
        if (reseeded && steps > kSteps) break;
    }
    cursor_ = static_cast<std::int32_t>(r);
    std::int32_t last = cursor_;
    if (r < lastIndex && time >= start(r + 1) && end(r + 1) >= time) last = cursor_ + 1;
    return {cursor_, last};
}

TRef<TRefObject> TSlideProducer::ProvideEffectBuffer(void* data, const std::string& name) {
    static constexpr std::string_view kPrefix = "SlideEffectBuffer";
    if (name.size() <= kPrefix.size() || !SameTextFolded(std::string_view(name).substr(0, kPrefix.size()), kPrefix))
        return nullptr;
    const auto* producer = static_cast<const TSlideProducer*>(data);
    const int w = std::max(1, producer->showWidth_), h = std::max(1, producer->showHeight_);
    try {
        auto bitmap = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
        return MakeRef<TWrapperBitmapStore>(name, std::move(bitmap));
    } catch (const std::exception& failure) {
        TLog::Line("Effect picture cannot be made: " + std::string(failure.what()));
        return nullptr;
    }
}

TRef<TKivSlide> TSlideProducer::BuildEffectSlide(TIniSection& section) {
    if (!effectBufferProvider_ && host_.Files())
        effectBufferProvider_ = host_.Files()->Source().AddPictureProvider(&TSlideProducer::ProvideEffectBuffer, this);
    TSlideInfo times;
    times.sync = std::max(0, section.GetInt32("CustomEffTime", 2000));
    times.end = times.sync;
    try {
        auto slide = MakeRef<TKivSlide>(&host_, 0);
        slide->SetEffectSlide(true);
        ConfigureSlide(*slide, section, times, 0);
        return slide;
    } catch (const std::exception&) {
        return nullptr;
    }
}

} // namespace kiv

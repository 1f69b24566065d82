#include "objects/KivImage.h"

#include "base/CaseFold.h"
#include "base/ColorValue.h"
#include "base/Log.h"
#include "images/Placeholder.h"
#include "ini/IniFile.h"
#include "objects/KivSlide.h"
#include "objects/ObjectHost.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>

namespace kiv {

namespace {

constexpr std::string_view kFilteringWords[] = {"Nearest", "Bilinear", "Default"};
constexpr std::string_view kImageKeys[] = {
    "Antialiased",  "Filtering",  "ImageName",    "MipLodBias",  "ReplaceWithEffectBuffer",
    "EnableBorder", "EnableCrop", "BorderWidth",  "BorderColor", "CropRect",
    "AnimColumns",  "AnimRows",   "AnimRepCount", "AnimOffset",  "AnimCount",
    "AnimInterval", "ImageIndex", "RestoreAlpha",
};
// Sprite grids beyond this many cells a side are not animated sheets but mistakes.
constexpr int kMaxSpriteCells = 4096;
// Shadows are made from copies no larger than this a side.
constexpr int kMaxShadowSide = 1024;
constexpr double kMaxShadowRadius = 128.0;
constexpr int kMaxShadowSpread = 64;

double Finite(double value, double fallback) {
    return std::isfinite(value) ? value : fallback;
}

bool EndsWithLowerGif(const std::string& name) {
    return name.size() >= 4 && name.compare(name.size() - 4, 4, ".gif") == 0;
}

// Box blur of one line of `n` values with stride `step`, radius `r`, through `scratch`.
void BoxLine(float* data, int n, std::ptrdiff_t step, int r, std::vector<float>& scratch) {
    scratch.assign(static_cast<std::size_t>(n), 0.0f);
    for (int i = 0; i < n; ++i)
        scratch[static_cast<std::size_t>(i)] = data[i * step];
    double sum = 0.0;
    const double inv = 1.0 / (2 * r + 1);
    for (int i = -r; i <= r; ++i)
        if (i >= 0 && i < n) sum += scratch[static_cast<std::size_t>(i)];
    for (int i = 0; i < n; ++i) {
        data[i * step] = static_cast<float>(sum * inv);
        const int out = i - r;
        const int in = i + r + 1;
        if (out >= 0) sum -= scratch[static_cast<std::size_t>(out)];
        if (in < n) sum += scratch[static_cast<std::size_t>(in)];
    }
}

// Grows the coverage by `r` texels (a maximum over a square).
void SpreadLine(float* data, int n, std::ptrdiff_t step, int r, std::vector<float>& scratch) {
    scratch.assign(static_cast<std::size_t>(n), 0.0f);
    for (int i = 0; i < n; ++i)
        scratch[static_cast<std::size_t>(i)] = data[i * step];
    for (int i = 0; i < n; ++i) {
        float best = 0.0f;
        for (int j = std::max(0, i - r); j <= std::min(n - 1, i + r); ++j)
            best = std::max(best, scratch[static_cast<std::size_t>(j)]);
        data[i * step] = best;
    }
}

} // namespace

// --- Content geometry ---

TRectF ImageContentRect(int width, int height, const TBorderParams& working, float& borderInset) {
    borderInset = 0.0f;
    if (width <= 0 || height <= 0) return {};
    const double w = width;
    const double h = height;
    double left = 0.0, top = 0.0, right = w, bottom = h;
    double zoom = working.zoom;
    if (!(zoom >= 0.001 && zoom <= 100.0)) zoom = 100.0; // a zoom out shows the whole picture
    auto pan = [](double value) { return std::isnan(value) ? -100.0 : std::clamp(value, -100.0, 100.0); };
    const double panX = pan(working.panX);
    const double panY = pan(working.panY);
    if (working.enableAspect || zoom != 100.0 || panX != 0.0 || panY != 0.0) {
        double aspect = working.aspect;
        if (!(aspect > 0.001) || !std::isfinite(aspect)) aspect = w / h;
        double baseW, baseH, baseLeft, baseTop;
        if (aspect > w / h) {
            baseW = w;
            baseH = w / aspect;
            baseLeft = 0.0;
            baseTop = (h - baseH) / 2;
        } else {
            baseH = h;
            baseW = aspect * h;
            baseLeft = (w - baseW) / 2;
            baseTop = 0.0;
        }
        const double visibleW = baseW * zoom / 100.0;
        const double visibleH = baseH * zoom / 100.0;
        left = baseLeft + (baseW - visibleW) / 2 + (w - visibleW) / 2 * panX / 100.0;
        top = baseTop + (baseH - visibleH) / 2 + (h - visibleH) / 2 * panY / 100.0;
        right = left + visibleW;
        bottom = top + visibleH;
    }
    const double visibleW = right - left;
    const double visibleH = bottom - top;
    if (working.enableBorder)
        borderInset = static_cast<float>(
            std::clamp(Finite(working.borderWidth, 0.0) * visibleH / 100.0, 0.0, kMaxObjectExtent));
    if (working.enableCrop) {
        auto crop = [&](int i) { return Finite(working.cropRect[static_cast<std::size_t>(i)], 0.0) / 100.0; };
        left += crop(0) * visibleW;
        top += crop(1) * visibleH;
        right -= crop(2) * visibleW;
        bottom -= crop(3) * visibleH;
    }
    // A sliver narrower than a thousandth of a texel becomes one texel, kept inside the picture.
    auto widen = [](double& from, double& to, double limit) {
        if (to - from >= 0.001) return;
        if (std::fabs(limit - to) <= 1.01)
            from = to - 1.0;
        else
            to = from + 1.0;
    };
    widen(left, right, w);
    widen(top, bottom, h);
    left = std::max(left, 0.0);
    top = std::max(top, 0.0);
    right = std::min(right, w);
    bottom = std::min(bottom, h);
    if (!(right > left) || !(bottom > top)) return {0.0f, 0.0f, static_cast<float>(w), static_cast<float>(h)};
    return {static_cast<float>(left), static_cast<float>(top), static_cast<float>(right),
            static_cast<float>(bottom)};
}

int SpriteFrameAt(const TImageAnimationParams& anim, double x) {
    const int cells = anim.columns * anim.rows;
    const int n = std::min(anim.count, cells);
    if (n <= 1 || cells <= 1) return 0;
    if (!(x > 0.0)) return 0;
    double total = 0.0;
    for (int i = 0; i < n; ++i)
        total += i < static_cast<int>(anim.durations.size())
                     ? std::max(anim.durations[static_cast<std::size_t>(i)], 1)
                     : 100;
    if (!std::isfinite(x)) return anim.repCount > 0 ? n - 1 : 0;
    // Whole passes completed before the one that holds x (whose running sum reaches x).
    const double passes = std::ceil(x / total) - 1.0;
    if (anim.repCount > 0 && passes >= anim.repCount) return n - 1;
    double rest = x - passes * total;
    for (int i = 0; i < n; ++i) {
        rest -= i < static_cast<int>(anim.durations.size())
                    ? std::max(anim.durations[static_cast<std::size_t>(i)], 1)
                    : 100;
        if (rest <= 0.0) return i;
    }
    return n - 1; // rounding of a huge time
}

TRectF SpriteCellRect(int width, int height, int columns, int rows, int frame) {
    columns = std::max(columns, 1);
    rows = std::max(rows, 1);
    const int column = frame % columns;
    const int row = frame / columns;
    const double cw = static_cast<double>(width) / columns;
    const double ch = static_cast<double>(height) / rows;
    // Each cell of the pattern texture is framed by one texel of its own edge on every side.
    const double dx = 2.0 * column + 1.0;
    const double dy = 2.0 * row + 1.0;
    return {static_cast<float>(cw * column + dx), static_cast<float>(ch * row + dy),
            static_cast<float>(cw * (column + 1) + dx), static_cast<float>(ch * (row + 1) + dy)};
}

int PictureLevelFor(TVec2 projected, const TRectF& content) {
    if (!(projected.x > 0.0) || !(projected.y > 0.0)) return 0;
    auto target = [](double size) {
        const double t = std::nearbyint(std::min(size * 4.0 / 3.0, 1e9));
        return std::max(t, 1.0);
    };
    const double targetW = target(projected.x);
    const double targetH = target(projected.y);
    double w = std::nearbyint(std::clamp(static_cast<double>(content.Width()), 0.0, 1e9));
    double h = std::nearbyint(std::clamp(static_cast<double>(content.Height()), 0.0, 1e9));
    int count = -1;
    while (targetW < w && targetH < h) {
        ++count;
        w = std::ceil(w / 2);
        h = std::ceil(h / 2);
    }
    return std::max(count, 0);
}

std::vector<int> ReadAnimIntervals(std::string_view list, int count) {
    std::vector<int> durations;
    if (count <= 0) return durations;
    count = std::min(count, kMaxSpriteCells * 4);
    std::vector<int> given;
    std::size_t pos = 0;
    while (pos <= list.size() && !list.empty()) {
        const std::size_t comma = std::min(list.find(',', pos), list.size());
        std::string_view part = list.substr(pos, comma - pos);
        while (!part.empty() && part.front() == ' ')
            part.remove_prefix(1);
        while (!part.empty() && part.back() == ' ')
            part.remove_suffix(1);
        int value = 0;
        const auto result = std::from_chars(part.data(), part.data() + part.size(), value);
        if (result.ec != std::errc{} || result.ptr != part.data() + part.size()) value = 0;
        given.push_back(value < 1 ? 100 : value);
        pos = comma + 1;
    }
    for (int i = 0; i < count; ++i) {
        if (given.empty())
            durations.push_back(100);
        else
            durations.push_back(given[std::min<std::size_t>(static_cast<std::size_t>(i), given.size() - 1)]);
    }
    return durations;
}

// --- Shadow pictures ---

TRef<TImage> MakeShadowPicture(TImage& source, int& level, double sizePercent, int spread, int& margin,
                               const TRectF* shown) {
    const std::int64_t width = source.Width();
    const std::int64_t height = source.Height();
    if (width <= 0 || height <= 0) return nullptr;
    margin = ShadowMargin(width, height, level, sizePercent, spread);
    TRef<TBitmap> bitmap = source.Store().GetMipLevel(level, TPixelFormat::Bgra32);
    if (!bitmap || bitmap->Format() != TPixelFormat::Bgra32) return nullptr;
    const int lw = bitmap->Width();
    const int lh = bitmap->Height();
    const double reference =
        std::sqrt(static_cast<double>(width) * static_cast<double>(height)) / (1 << level);
    const double radius = std::clamp(Finite(sizePercent, 0.0) * reference / 400.0, 0.0, kMaxShadowRadius);
    const int box = static_cast<int>(std::lround(radius / 2.0)); // three box passes ≈ a Gaussian
    const int grow = std::clamp(spread, 0, kMaxShadowSpread);
    const int sw = lw + 2 * margin;
    const int sh = lh + 2 * margin;
    // How much of each texel column and row lies in the part shown (1 everywhere without one).
    std::vector<float> coverX(static_cast<std::size_t>(lw), 1.0f);
    std::vector<float> coverY(static_cast<std::size_t>(lh), 1.0f);
    if (shown) {
        const double scale = std::ldexp(1.0, level);
        auto cover = [](std::vector<float>& cover, double from, double to) {
            for (std::size_t i = 0; i < cover.size(); ++i) {
                const double a = std::max(from, static_cast<double>(i));
                const double b = std::min(to, static_cast<double>(i) + 1.0);
                cover[i] = b > a ? static_cast<float>(b - a) : 0.0f;
            }
        };
        cover(coverX, Finite(shown->left, 0.0) / scale, Finite(shown->right, 0.0) / scale);
        cover(coverY, Finite(shown->top, 0.0) / scale, Finite(shown->bottom, 0.0) / scale);
    }
    std::vector<float> alpha(static_cast<std::size_t>(sw) * static_cast<std::size_t>(sh), 0.0f);
    for (int y = 0; y < lh; ++y) {
        const std::uint8_t* row = bitmap->Row(y);
        const float rowCover = coverY[static_cast<std::size_t>(y)];
        if (rowCover == 0.0f) continue;
        float* out = &alpha[static_cast<std::size_t>(y + margin) * static_cast<std::size_t>(sw) +
                            static_cast<std::size_t>(margin)];
        for (int x = 0; x < lw; ++x)
            out[x] = row[4 * x + 3] * rowCover * coverX[static_cast<std::size_t>(x)];
    }
    std::vector<float> scratch;
    if (grow > 0) {
        for (int y = 0; y < sh; ++y)
            SpreadLine(&alpha[static_cast<std::size_t>(y) * static_cast<std::size_t>(sw)], sw, 1, grow,
                       scratch);
        for (int x = 0; x < sw; ++x)
            SpreadLine(&alpha[static_cast<std::size_t>(x)], sh, sw, grow, scratch);
    }
    for (int pass = 0; box > 0 && pass < 3; ++pass) {
        for (int y = 0; y < sh; ++y)
            BoxLine(&alpha[static_cast<std::size_t>(y) * static_cast<std::size_t>(sw)], sw, 1, box, scratch);
        for (int x = 0; x < sw; ++x)
            BoxLine(&alpha[static_cast<std::size_t>(x)], sh, sw, box, scratch);
    }
    auto shadow = MakeRef<TBitmap>(sw, sh, TPixelFormat::Bgra32, false);
    for (int y = 0; y < sh; ++y) {
        std::uint8_t* row = shadow->Row(y);
        const float* in = &alpha[static_cast<std::size_t>(y) * static_cast<std::size_t>(sw)];
        for (int x = 0; x < sw; ++x) {
            row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = 255;
            row[4 * x + 3] = static_cast<std::uint8_t>(std::clamp(std::lround(in[x]), 0L, 255L));
        }
    }
    const std::string name = ShadowPictureName(sizePercent, spread, level, shown, source.Name());
    return MakeRef<TImage>(MakeRef<TWrapperBitmapStore>(name, std::move(shadow)));
}

int ShadowMargin(std::int64_t width, std::int64_t height, int& level, double sizePercent, int spread) {
    level = std::clamp(level, 0, 30);
    auto side = [&](std::int64_t n) { return (n + (std::int64_t{1} << level) - 1) >> level; };
    while (level < 30 && (side(width) > kMaxShadowSide || side(height) > kMaxShadowSide))
        ++level;
    const double reference =
        std::sqrt(static_cast<double>(width) * static_cast<double>(height)) / (1 << level);
    const double radius = std::clamp(Finite(sizePercent, 0.0) * reference / 400.0, 0.0, kMaxShadowRadius);
    const int box = static_cast<int>(std::lround(radius / 2.0));
    return 3 * box + std::clamp(spread, 0, kMaxShadowSpread) + 1;
}

std::string ShadowPictureName(double sizePercent, int spread, int level, const TRectF* shown,
                              const std::string& source) {
    std::string name = "Shadow: " + std::to_string(sizePercent) + ":" + std::to_string(spread) + ":" +
                       std::to_string(level) + ":";
    if (shown) {
        const char* separator = "";
        for (const float edge : {shown->left, shown->top, shown->right, shown->bottom}) {
            name.append(separator);
            name.append(std::to_string(edge));
            separator = ",";
        }
    }
    return name + ":" + source;
}

// --- TKivImage ---

TKivImage::TKivImage(TKivObject* parent, int typeCode) : TKivObject(parent), typeCode_(typeCode) {}

TKivImage::~TKivImage() = default;

void TKivImage::SetDefaults() {
    TKivObject::SetDefaults();
    border_ = TBorderParams{};
    anim_ = TImageAnimationParams{};
    antialiased_ = true;
    filtering_ = 2;
    imageName_.clear();
    mipLodBias_ = 0.0;
    replaceWithEffectBuffer_ = 0;
    hasImageIndex_ = false;
    imageIndex_ = 0;
    restoreAlpha_ = false;
}

void TKivImage::ReadKeys(const TIniObject& object) {
    TKivObject::ReadKeys(object);
    antialiased_ = object.GetBool("Antialiased", true);
    if (const TIniItem* item = object.FindItem("Filtering")) {
        const int value = GetChoice(item, kFilteringWords, true, -1);
        if (value < 0) LogBadValue("Filtering", item->Value());
        filtering_ = value < 0 ? 2 : value;
    }
    imageName_ = object.GetText("ImageName");
    mipLodBias_ = Finite(object.GetReal("MipLodBias", 0.0), 0.0);
    replaceWithEffectBuffer_ = object.GetInt32("ReplaceWithEffectBuffer", 0);
    border_.enableBorder = object.GetBool("EnableBorder", false);
    border_.enableCrop = object.GetBool("EnableCrop", false);
    border_.enableAspect = object.GetBool("EnableAspect", false);
    border_.borderWidth = static_cast<float>(object.GetReal("BorderWidth", 1.5));
    border_.borderColor = ReadColorValue(object.GetText("BorderColor"), 0xFFFFFFFFu);
    if (const TIniItem* crop = object.FindItem("CropRect")) {
        // Only a list of exactly four numbers replaces the default.
        const std::string text = crop->Value();
        std::array<float, 4> values{};
        int parts = 0;
        bool good = true;
        std::size_t pos = 0;
        while (good && pos <= text.size()) {
            const std::size_t comma = std::min(text.find(',', pos), text.size());
            std::string part = text.substr(pos, comma - pos);
            char* end = nullptr;
            const double value = std::strtod(part.c_str(), &end);
            good = !part.empty() && end && *end == '\0' && parts < 4;
            if (good) values[static_cast<std::size_t>(parts++)] = static_cast<float>(value);
            pos = comma + 1;
        }
        if (good && parts == 4)
            border_.cropRect = values;
        else
            LogBadValue("CropRect", text);
    }
    border_.aspect = static_cast<float>(object.GetReal("Aspect", 0.0));
    anim_.enable = object.GetBool("AnimEnable", false) || typeCode_ == kTypeAniImage;
    anim_.columns = std::clamp(object.GetInt32("AnimColumns", 1), 1, kMaxSpriteCells);
    anim_.rows = std::clamp(object.GetInt32("AnimRows", 1), 1, kMaxSpriteCells);
    anim_.count = std::max(object.GetInt32("AnimCount", 0), 0);
    anim_.repCount = std::max(object.GetInt32("AnimRepCount", 0), 0);
    anim_.offset = Finite(object.GetReal("AnimOffset", 0.0), 0.0);
    anim_.durations = ReadAnimIntervals(std::string(object.GetText("AnimInterval")),
                                        std::min(anim_.count, anim_.columns * anim_.rows));
    hasImageIndex_ = object.FindItem("ImageIndex") != nullptr;
    imageIndex_ = object.GetInt32("ImageIndex", 0);
    restoreAlpha_ = object.GetBool("RestoreAlpha", false);
    if (loadedName_ != PictureName()) loadTried_ = false;
}

bool TKivImage::IsKnownKey(std::string_view key) const {
    return TKivObject::IsKnownKey(key) ||
           std::any_of(std::begin(kImageKeys), std::end(kImageKeys),
                       [&](std::string_view k) { return SameTextFolded(k, key); });
}

std::string TKivImage::PictureName() const {
    std::string name = imageName_;
    if (replaceWithEffectBuffer_ > 0) {
        const TKivSlide* slide = Slide();
        const TVec2 design = slide ? slide->DesignSize() : TVec2{};
        name = std::string(slide && slide->IsEffectSlide() ? "SlideEffectBuffer" : "EffectResource") +
               std::to_string(replaceWithEffectBuffer_) + ", " + std::to_string(std::lround(design.x)) +
               ", " + std::to_string(std::lround(design.y));
    } else if (anim_.enable && EndsWithLowerGif(name)) {
        name = name.substr(0, name.size() - 4) + ".gif|framesatlas";
    }
    if (restoreAlpha_) name = "Mask: " + name;
    return name;
}

void TKivImage::LoadPicture() {
    // Asked once per name; reading keys that change the name asks again.
    if (loadTried_) return;
    const std::string name = PictureName();
    loadTried_ = true;
    loadedName_ = name;
    picture_ = nullptr;
    shadow_ = nullptr;
    shadowKey_.clear();
    profileStore_ = nullptr;
    contentChanged_ = true;
    if (imageName_.empty() && replaceWithEffectBuffer_ <= 0) return; // an image without a picture
    if (TKivObjectHost* host = Host()) {
        try {
            picture_ = host->LoadPicture(name);
        } catch (const std::exception& failure) {
            TLog::Line("Picture " + name + " could not be loaded: " + failure.what());
        }
    }
    if (!picture_ || picture_->Width() <= 0 || picture_->Height() <= 0) {
        TLog::Line("Picture " + name + " is missing; the placeholder is shown");
        try {
            picture_ = MakeRef<TImage>(MakePlaceholderStore(name, TPlaceholderKind::Image, false));
        } catch (const std::exception&) {
            picture_ = nullptr;
        }
    }
    if (picture_ && node_) node_->SetPictureSize(picture_->Width(), picture_->Height());
}

void TKivImage::Layout(bool recursive) {
    LoadPicture(); // the pre-pass needs the picture's size before the first frame
    working_ = border_;
    if (!border_.enableAspect) working_.aspect = 0.0f;
    const double frameS = Value(kPropFrameS);
    const double zoom = frameS != 0.0 ? 100.0 / (frameS * 0.01) : 100.0;
    working_.zoom = std::isfinite(zoom) ? static_cast<float>(std::clamp(zoom, -1e30, 1e30)) : 100.0f;
    working_.panX = static_cast<float>(Value(kPropFrameX));
    working_.panY = static_cast<float>(Value(kPropFrameY));
    working_.enableAspect =
        border_.enableAspect || working_.zoom != 100.0f || working_.panX != 0.0f || working_.panY != 0.0f;

    const int w = picture_ ? picture_->Width() : 0;
    const int h = picture_ ? picture_->Height() : 0;
    inset_ = 0.0f;
    if (w <= 0 || h <= 0) {
        content_ = {};
        imageSize_ = {};
        frame_ = 0;
        level_ = 0;
    } else if (anim_.enable) {
        const double x = (node_ ? node_->Time() : 0.0) - anim_.offset;
        const int frame = SpriteFrameAt(anim_, std::max(x, 0.0));
        if (frame != frame_) contentChanged_ = true;
        frame_ = frame;
        content_ = SpriteCellRect(w, h, anim_.columns, anim_.rows, frame_);
        imageSize_ = {static_cast<double>(w) / anim_.columns, static_cast<double>(h) / anim_.rows};
        level_ = 0;
    } else {
        frame_ = 0;
        content_ = ImageContentRect(w, h, working_, inset_);
        imageSize_ = {content_.Width() + 2.0 * inset_, content_.Height() + 2.0 * inset_};
        level_ = PictureLevelFor(PrePass().projected, content_);
        if (uploadedLevel_ > 0 && level_ < uploadedLevel_) level_ = uploadedLevel_;
    }
    TKivObject::Layout(recursive);
}

std::shared_ptr<const TColorTable> PictureProfileTable(const TImage& picture) {
    const TRef<TColorProfile> own = picture.Store().Profile();
    if (!own) return nullptr;
    TRef<TBitmap> table = ProfileConversionTable(own.Get(), DisplayProfile().Get());
    if (!table || table->Format() != TPixelFormat::Bgra32) return nullptr;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(table->Width()) * 4 * table->Height());
    for (int y = 0; y < table->Height(); ++y)
        std::memcpy(pixels.data() + static_cast<std::size_t>(y) * table->Width() * 4, table->Row(y),
                    static_cast<std::size_t>(table->Width()) * 4);
    return std::make_shared<const TColorTable>(TColorTable::FromProfile(pixels));
}

const TColorTable* TKivImage::ProfileTable() {
    if (!picture_) return nullptr;
    const TColorManagement mode = ColorManagement();
    const TRef<TColorProfile> display = DisplayProfile();
    if (profileStore_ != &picture_->Store() || profileOutput_ != display || profileMode_ != mode) {
        profileStore_ = &picture_->Store();
        profileOutput_ = display;
        profileMode_ = mode;
        profileTable_ = PictureProfileTable(*picture_);
    }
    return profileTable_.get();
}

void TKivImage::FillGrading(TPictureDrawParams& params) {
    params.gradingMode = 0;
    // A picture with a colour profile of its own is converted to the display's by a 3-D table that
    // the colour filters (if any) then start from.
    const TColorTable* profile = ProfileTable();
    const bool filters = node_ && node_->ColorPresent();
    if (!filters && !profile) return;
    TObjectFilter* from = filters ? node_->ColorFromFilters() : nullptr;
    TObjectFilter* to = filters ? node_->ColorToFilters() : nullptr;
    const int kind = GradingKind(from, to, profile != nullptr);
    if (kind < 2) return;
    gradeFrom_.Prepare(from, kind, profile);
    gradeTo_.Prepare(to, kind, profile);
    params.gradingMode = kind == 3 ? 1 : 2;
    params.gradingFrom = &gradeFrom_.Table();
    params.gradingTo = &gradeTo_.Table();
    params.gradingFactor = filters ? static_cast<float>(std::clamp(node_->ColorFraction(), 0.0, 1.0)) : 0.0f;
}

void TKivImage::ProduceContent(TDeviceDrawer& /*drawer*/, TPictureDrawParams& params) {
    params.edgeAntialias = antialiased_ && !anim_.enable;
    params.premultiplied = false;
    params.pattern = anim_.enable;
    params.patternA = anim_.enable ? anim_.columns : 1;
    params.patternB = anim_.enable ? anim_.rows : 1;
    params.opacity = ContentOpacity();
    params.filtering = filtering_;
    params.sourceRect = content_;
    params.level = level_;
    params.lodBias = static_cast<float>(mipLodBias_);
    params.tint = 0xFFFFFFFFu;
    FillGrading(params);
}

void TKivImage::Produce(TDeviceDrawer& drawer) {
    if (!picture_ || !(ContentOpacity() > 0.0f)) return;
    const TVec2 size = Size();
    if (!(size.x > 0.0) || !(size.y > 0.0) || content_.IsEmpty()) return;
    const TPlacement& placement = Placement();
    const TVec2 pivot = Pivot();
    // Object units per texel: 1 for pictures shown at their own size, other for derived content.
    TVec2 unit{1.0, 1.0};
    if (!anim_.enable)
        unit = {(size.x - 2.0 * inset_) / content_.Width(), (size.y - 2.0 * inset_) / content_.Height()};
    if (!(unit.x > 0.0) || !(unit.y > 0.0) || !std::isfinite(unit.x + unit.y)) return;
    const TVec2 from{pivot.x + inset_, pivot.y + inset_}; // where the first texel lands, object units

    if (keys_.shadowEnable) DrawShadow(drawer, from, unit);

    if (border_.enableBorder && !anim_.enable && inset_ > 0.0f) {
        const TKivObjectHost* host = Host();
        const std::uint32_t color = host ? host->ManageColor(border_.borderColor) : border_.borderColor;
        drawer.DrawBorder(placement.origin, TVec2{-from.x, -from.y}, placement.axisX, placement.axisY,
                          TVec2{size.x - 2.0 * inset_, size.y - 2.0 * inset_}, color, inset_, inset_,
                          EffectiveOpacity(), antialiased_);
    }

    TPictureDrawParams params;
    ProduceContent(drawer, params);
    drawer.DrawImage(*picture_, placement.origin, params, placement.axisX * unit.x, placement.axisY * unit.y,
                     TVec2{-from.x / unit.x, -from.y / unit.y});
}

void TKivImage::PrepareShadow() {
    if (!keys_.shadowEnable || !picture_) return;
    int level = anim_.enable ? 0 : level_;
    // A picture zoomed, panned or cropped inside its object casts the shadow of the part shown only.
    const bool cropped = !anim_.enable && !content_.IsEmpty() &&
                         (content_.left > 0.0f || content_.top > 0.0f ||
                          content_.right < static_cast<float>(picture_->Width()) ||
                          content_.bottom < static_cast<float>(picture_->Height()));
    // The shadow pictures measure the blur against √(width × height): another reference size
    // scales the blur's size by its share of that.
    double size = keys_.shadowSize;
    const double reference = ShadowReference();
    const double whole = std::sqrt(static_cast<double>(picture_->Width()) * picture_->Height());
    if (reference > 0.0 && std::isfinite(reference) && whole > 0.0) size *= reference / whole;
    const int margin =
        ShadowMargin(picture_->Width(), picture_->Height(), level, size, keys_.shadowSpreadIndex);
    const TRectF* shown = cropped ? &content_ : nullptr;
    // Objects with the same shadow of the same picture share one shadow picture.
    const std::string key = ShadowPictureName(size, keys_.shadowSpreadIndex, level, shown, loadedName_);
    if (shadow_ && key == shadowKey_) return;
    shadowKey_ = key;
    shadow_ = nullptr;
    const std::function<TRef<TImage>()> make = [&] {
        int made = level, madeMargin = 0;
        TRef<TImage> shadow =
            MakeShadowPicture(*picture_, made, size, keys_.shadowSpreadIndex, madeMargin, shown);
        return made == level && madeMargin == margin ? shadow : TRef<TImage>{};
    };
    try {
        TKivObjectHost* host = Host();
        shadow_ = host ? host->DerivedPicture(key, make) : make();
        shadowLevel_ = level;
        shadowMargin_ = margin;
    } catch (const std::exception& failure) {
        TLog::Line("Object " + Guid() + ": no shadow: " + failure.what());
    }
}

void TKivImage::DrawShadow(TDeviceDrawer& drawer, TVec2 from, TVec2 unit) {
    PrepareShadow();
    if (!shadow_) return;
    const double scale = std::ldexp(1.0, shadowLevel_);
    // The shown texels, without the sprite cells' frames.
    TRectF shown = content_;
    if (anim_.enable) {
        const int column = frame_ % anim_.columns;
        const int row = frame_ / anim_.columns;
        shown = {shown.left - 2.0f * column - 1.0f, shown.top - 2.0f * row - 1.0f,
                 shown.right - 2.0f * column - 1.0f, shown.bottom - 2.0f * row - 1.0f};
    }
    const TRectF inShadow{static_cast<float>(shown.left / scale), static_cast<float>(shown.top / scale),
                          static_cast<float>(shown.right / scale), static_cast<float>(shown.bottom / scale)};
    DrawShadowPicture(drawer, *this, *shadow_, inShadow, shadowMargin_, from,
                      {unit.x * scale, unit.y * scale});
}

void DrawShadowPicture(TDeviceDrawer& drawer, const TKivObject& object, TImage& shadow, TRectF shown,
                       int margin, TVec2 from, TVec2 unit) {
    const TKivCommonKeys& keys = object.Keys();
    const TPlacement& placement = object.Placement();
    const TVec2 size = object.Size();
    const double m = margin;
    TPictureDrawParams params;
    params.sourceRect = {shown.left, shown.top, static_cast<float>(shown.right + 2 * m),
                         static_cast<float>(shown.bottom + 2 * m)};
    params.edgeAntialias = false;
    const TKivObjectHost* host = object.Host();
    params.tint = (host ? host->ManageColor(keys.shadowColor) : keys.shadowColor) | 0xFF000000u;
    params.opacity = static_cast<float>(
        std::clamp(object.EffectiveOpacity() * Finite(keys.shadowOpacity, 0.0) / 100.0, 0.0, 100.0));
    if (!(params.opacity > 0.0f) || !(unit.x > 0.0) || !(unit.y > 0.0)) return;

    // The move: ShadowDistance percent of the object's reference size, on screen or along its axes.
    const double s = std::sqrt(size.x * size.y);
    const double o = std::clamp(Finite(keys.shadowDistance, 0.0), -1e4, 1e4) * s / 100.0 *
                     std::sqrt(Length(placement.axisX) * Length(placement.axisY));
    double sine = 0.0, cosine = 1.0;
    SinCosDegrees(std::fmod(Finite(keys.shadowAngle, 45.0), 360.0), sine, cosine);
    TVec3 move{cosine * o, sine * o, 0.0};
    if (keys.shadow3D) {
        const double lx = Length(placement.axisX);
        const double ly = Length(placement.axisY);
        if (lx > 0.0 && ly > 0.0)
            move = placement.axisX * (cosine * o / lx) + placement.axisY * (sine * o / ly);
    }
    if (!IsFinite(move)) return;
    drawer.DrawImage(shadow, placement.origin + move, params, placement.axisX * unit.x,
                     placement.axisY * unit.y, TVec2{m - from.x / unit.x, m - from.y / unit.y});
}

void TKivImage::PreloadBegin(TDeviceDrawer& drawer) {
    LoadPicture();
    const TVec2 size = Size();
    if (size.x > 0.0 && size.y > 0.0 && picture_ && drawer.IsReady()) {
        uploadedLevel_ = level_;
        TPictureDrawParams params;
        ProduceContent(drawer, params);
        drawer.PreloadImage(*picture_, params);
    }
    if (drawer.IsReady()) PrepareShadow();
    TKivObject::PreloadBegin(drawer);
}

void TKivImage::ReleaseDevice(TDeviceDrawer& drawer) {
    if (picture_) drawer.ReleaseImage(*picture_);
    if (shadow_) drawer.ReleaseImage(*shadow_);
    uploadedLevel_ = -1;
    TKivObject::ReleaseDevice(drawer);
}

} // namespace kiv

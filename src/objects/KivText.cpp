#include "objects/KivText.h"

#include "base/CaseFold.h"
#include "base/ColorValue.h"
#include "base/Log.h"
#include "images/BitmapStore.h"
#include "ini/IniFile.h"
#include "objects/KivSlide.h"
#include "objects/ObjectHost.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace kiv {

namespace {

constexpr std::string_view kTextKeys[] = {
    "Text",      "TextColor",   "TextColorHover", "TextColorClick", "FontName",  "FontStyle",
    "TextAlign", "LineSpacing", "Rasterize",      "RasterizedGUID", "IsComment",
};
constexpr std::string_view kAlignWords[] = {"Left", "Center", "Right"};
constexpr std::string_view kStyleWords[] = {"Bold", "Italic", "Underline", "StrikeOut"};
// The macros in the order they are replaced.
constexpr std::string_view kMacros[] = {
    "SlideIndex",
    "SlidesCount",
    "MainImg.Width",
    "MainImg.Height",
    "MainImg.Exif.Comment",
    "MainImg.Exif.Description",
    "MainImg.PathNameExt",
    "MainImg.IPTC.DocumentTitle",
    "MainImg.IPTC.SpecialInstructions",
    "MainImg.IPTC.AuthorByline",
    "MainImg.IPTC.AuthorTitle",
    "MainImg.IPTC.City",
    "MainImg.IPTC.Sublocation",
    "MainImg.IPTC.ProvinceState",
    "MainImg.IPTC.Country",
    "MainImg.IPTC.OTR",
    "MainImg.IPTC.Headline",
    "MainImg.IPTC.Credits",
    "MainImg.IPTC.Source",
    "MainImg.IPTC.Copyright",
    "MainImg.IPTC.CaptionDescription",
    "MainImg.IPTC.CaptionWriter",
    "MainImg.FileName",
    "MainImg.PathName",
    "MainImg.FileNameExt",
    "MainImg.FolderPath",
    "MainImg.FolderName",
    "MainImg.Exif.Date",
    "MainImg.Exif.Time",
};
// Longer expansions are cut here: a caption is not a book.
constexpr std::size_t kMaxExpandedText = 1u << 20;

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

const TKivImage* FindMainImage(const TKivObject& object) {
    if (const auto* image = dynamic_cast<const TKivImage*>(&object))
        if (!dynamic_cast<const TKivText*>(image) && image->HasImageIndex()) return image;
    for (int i = 0; i < object.ChildCount(); ++i)
        if (const TKivImage* found = FindMainImage(*object.Child(i))) return found;
    return nullptr;
}

} // namespace

std::string ExpandMacros(std::string_view text, const std::function<std::string(std::string_view)>& value) {
    std::string result(text);
    for (std::string_view macro : kMacros) {
        const std::string pattern = "<%" + AsciiLower(macro) + "%>";
        std::string lower = AsciiLower(result);
        std::size_t from = 0;
        bool valueKnown = false;
        std::string replacement;
        while (true) {
            const std::size_t at = lower.find(pattern, from);
            if (at == std::string::npos) break;
            if (!valueKnown) {
                replacement = value ? value(macro) : std::string();
                valueKnown = true;
            }
            if (result.size() - pattern.size() + replacement.size() > kMaxExpandedText) break;
            result.replace(at, pattern.size(), replacement);
            lower.replace(at, pattern.size(), AsciiLower(replacement));
            // Searching on after the value: a value holding the macro's own name would never end.
            from = at + replacement.size();
        }
    }
    if (result.empty()) result.push_back(' ');
    return result;
}

std::vector<std::string> TextContentLines(std::string_view text, bool firstOnly) {
    // Quotes come off a text of two characters or more, both of them from "" (empty text).
    if (text.size() > 1) {
        if (text.front() == '"') text.remove_prefix(1);
        if (!text.empty() && text.back() == '"') text.remove_suffix(1);
    }
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    lines.push_back(std::move(line));
    if (firstOnly) lines.resize(1);
    if (std::all_of(lines.begin(), lines.end(), [](const std::string& l) { return l.empty(); }))
        lines = {" "};
    return lines;
}

std::string PathMacroValue(std::string_view macro, std::string_view imageName) {
    const std::size_t slash = imageName.rfind('\\');
    const std::string_view file = slash == std::string_view::npos ? imageName : imageName.substr(slash + 1);
    const std::size_t dot = file.rfind('.');
    const std::string_view stem = dot == std::string_view::npos ? file : file.substr(0, dot);
    const std::size_t extLength = dot == std::string_view::npos ? 0 : file.size() - dot;
    if (macro == "MainImg.PathNameExt") return std::string(imageName);
    if (macro == "MainImg.FileName") return std::string(stem);
    if (macro == "MainImg.FileNameExt") return std::string(file);
    if (macro == "MainImg.PathName") return std::string(imageName.substr(0, imageName.size() - extLength));
    if (macro == "MainImg.FolderPath")
        return slash == std::string_view::npos ? std::string() : std::string(imageName.substr(0, slash + 1));
    if (macro == "MainImg.FolderName") {
        if (slash == std::string_view::npos || slash == 0) return {};
        const std::size_t before = imageName.rfind('\\', slash - 1);
        if (before == std::string_view::npos) return {};
        return std::string(imageName.substr(before + 1, slash - before - 1));
    }
    return {};
}

// --- TKivText ---

TKivText::TKivText(TKivObject* parent) : TKivImage(parent, kTypeText) {}

TKivText::~TKivText() = default;

void TKivText::SetDefaults() {
    TKivImage::SetDefaults();
    keys_.shadowEnable = true; // texts cast a drop shadow unless they say otherwise
    textColor_ = textColorHover_ = textColorClick_ = 0xFFFFFFFFu;
    fontName_ = "Arial";
    fontStyle_ = 0;
    textAlign_ = kTextAlignCenter;
    lineSpacing_ = 0;
    rasterize_ = false;
    isComment_ = false;
    rasterizedGuid_.clear();
}

void TKivText::ReadKeys(const TIniObject& object) {
    TKivImage::ReadKeys(object);
    const std::string raw =
        object.FindItem("Text") ? std::string(object.GetEscapedText("Text")) : std::string("Text");
    // A button's caption shows its first line only.
    lines_ = TextContentLines(raw, IsCaption());
    if (raw != rawText_) {
        rawText_ = raw;
        picture_ = nullptr; // a change of the text discards its picture
        requestKey_.clear();
        loadTried_ = false;
    }
    textColor_ = ReadColorValue(object.GetText("TextColor"), 0xFFFFFFFFu);
    textColorHover_ = object.FindItem("TextColorHover")
                          ? ReadColorValue(object.GetText("TextColorHover"), textColor_)
                          : textColor_;
    textColorClick_ = object.FindItem("TextColorClick")
                          ? ReadColorValue(object.GetText("TextColorClick"), textColor_)
                          : textColor_;
    fontName_ = object.FindItem("FontName") ? std::string(object.GetText("FontName")) : std::string("Arial");
    fontStyle_ = 0;
    const std::string styles = object.GetText("FontStyle");
    std::size_t pos = 0;
    while (pos < styles.size()) {
        const std::size_t comma = std::min(styles.find(',', pos), styles.size());
        std::string_view word(styles.data() + pos, comma - pos);
        while (!word.empty() && word.front() == ' ')
            word.remove_prefix(1);
        while (!word.empty() && word.back() == ' ')
            word.remove_suffix(1);
        bool known = word.empty();
        for (int i = 0; i < 4; ++i)
            if (word == kStyleWords[i]) { // case-sensitive words
                fontStyle_ |= 1 << i;
                known = true;
            }
        if (!known) LogBadValue("FontStyle", word);
        pos = comma + 1;
    }
    if (const TIniItem* item = object.FindItem("TextAlign")) {
        const int value = GetChoice(item, kAlignWords, true, -1);
        if (value < 0) LogBadValue("TextAlign", item->Value());
        textAlign_ = value < 0 ? kTextAlignCenter : value;
    }
    lineSpacing_ = std::clamp(object.GetInt32("LineSpacing", 0), -200, 100000);
    rasterize_ = object.GetBool("Rasterize", false);
    rasterizedGuid_ = object.GetText("RasterizedGUID");
    const bool comment = object.GetBool("IsComment", false);
    if (comment && !isComment_ && slide_) {
        // One comment text per slide: this one takes the mark from the others.
        std::function<void(TKivObject&)> clear = [&](TKivObject& o) {
            if (auto* text = dynamic_cast<TKivText*>(&o); text && text != this) text->ClearComment();
            for (int i = 0; i < o.ChildCount(); ++i)
                clear(*o.Child(i));
        };
        clear(*slide_);
    }
    isComment_ = comment;
}

bool TKivText::IsKnownKey(std::string_view key) const {
    return TKivImage::IsKnownKey(key) ||
           std::any_of(std::begin(kTextKeys), std::end(kTextKeys),
                       [&](std::string_view k) { return SameTextFolded(k, key); });
}

std::string TKivText::MacroValue(std::string_view macro) const {
    const TKivObjectHost* host = Host();
    const int count = host ? host->SlideCount() : 0;
    if (macro == "SlideIndex") {
        if (!slide_ || slide_->Index() < 0) return {};
        // Later passes of a looping show count the same slides again.
        return std::to_string((count > 0 ? slide_->Index() % count : slide_->Index()) + 1);
    }
    if (macro == "SlidesCount") return count > 0 ? std::to_string(count) : std::string();
    const TKivImage* image = slide_ ? FindMainImage(*slide_) : nullptr;
    if (!image) return {};
    if (macro == "MainImg.Width" || macro == "MainImg.Height") {
        TImage* picture = image->Picture();
        if (!picture) return {};
        return std::to_string(macro == "MainImg.Width" ? picture->Width() : picture->Height());
    }
    if (macro.starts_with("MainImg.Exif.") || macro.starts_with("MainImg.IPTC.")) {
        const TPictureFacts& facts = Facts(image->ImageName());
        if (macro == "MainImg.Exif.Comment") return TrimSpaces(facts.exifComment);
        if (macro == "MainImg.Exif.Description") return TrimSpaces(facts.exifDescription);
        if (macro == "MainImg.Exif.Date" || macro == "MainImg.Exif.Time") {
            const std::size_t space = facts.exifDateTime.find(' ');
            if (macro == "MainImg.Exif.Date") return facts.exifDateTime.substr(0, space);
            return space == std::string::npos ? std::string() : facts.exifDateTime.substr(space + 1);
        }
        static constexpr std::pair<std::string_view, int> kIptc[] = {
            {"DocumentTitle", 5}, {"SpecialInstructions", 40}, {"AuthorByline", 80},   {"AuthorTitle", 85},
            {"City", 90},         {"Sublocation", 92},         {"ProvinceState", 95},  {"Country", 101},
            {"OTR", 103},         {"Headline", 105},           {"Credits", 110},       {"Source", 115},
            {"Copyright", 116},   {"CaptionDescription", 120}, {"CaptionWriter", 122},
        };
        const std::string_view field = macro.substr(std::string_view("MainImg.IPTC.").size());
        for (const auto& [name, dataset] : kIptc)
            if (macro.starts_with("MainImg.IPTC.") && field == name) {
                const auto found = facts.iptc.find(dataset);
                return found == facts.iptc.end() ? std::string() : TrimSpaces(found->second);
            }
        return {};
    }
    return PathMacroValue(macro, image->ImageName());
}

const TPictureFacts& TKivText::Facts(const std::string& imageName) const {
    if (factsRead_ && factsName_ == imageName) return facts_;
    factsRead_ = true;
    factsName_ = imageName;
    facts_ = TPictureFacts{};
    if (TKivObjectHost* host = Host()) {
        const std::vector<std::uint8_t> bytes = host->ReadFile(imageName);
        if (!bytes.empty()) ReadPictureFacts(bytes.data(), bytes.size(), facts_);
    }
    return facts_;
}

std::vector<std::string> TKivText::ExpandedLines() const {
    std::vector<std::string> lines;
    auto value = [this](std::string_view macro) { return MacroValue(macro); };
    for (const std::string& line : lines_)
        lines.push_back(line.find("<%") == std::string::npos ? line : ExpandMacros(line, value));
    return lines;
}

void TKivText::TakeThemeColor(std::uint32_t argb) {
    const TIniObject* object = node_ ? node_->ProjectObject() : nullptr;
    if (!object || !object->FindItem("TextColor")) textColor_ = argb;
    if (!object || !object->FindItem("TextColorHover")) textColorHover_ = textColor_;
    if (!object || !object->FindItem("TextColorClick")) textColorClick_ = textColor_;
}

bool TKivText::IsCaption() const {
    // (The first child is read before it joins its parent.)
    return parent_ && parent_->TypeCode() == kTypeButton &&
           (parent_->ChildCount() == 0 || parent_->Child(0) == this);
}

std::uint32_t TKivText::CurrentColor() const {
    std::uint32_t color = textColor_;
    if (PointerState() == kPointerClick || Pressed())
        color = textColorClick_;
    else if (PointerState() == kPointerHover)
        color = textColorHover_;
    const TKivObjectHost* host = Host();
    return host ? host->ManageColor(color) : color;
}

double TKivText::MaxKeyframeScale() const {
    double best = 0.0;
    if (node_)
        for (int i = 0; i < node_->KeyFrameCount(); ++i) {
            const TKivKeyFrame& key = node_->KeyFrame(i);
            if (!(key.Groups() & (1u << kGroupScale))) continue;
            for (int p : {kPropScaleX, kPropScaleY})
                if (std::isfinite(key.Value(p))) best = std::max(best, std::fabs(key.Value(p)));
        }
    if (!(best > 0.0)) best = std::max(std::fabs(Value(kPropScaleX)), std::fabs(Value(kPropScaleY)));
    return std::min(best, kMaxPropertyMagnitude);
}

double TKivText::RasterScale(double ratio) const {
    const double h0 = nominal_.y;
    const double w0 = nominal_.x;
    if (!(h0 > 0.0)) return 1.0;
    double parentHeight = parent_ ? parent_->PrePass().projected.y : 0.0;
    if (!(parentHeight > 0.0)) parentHeight = ParentSize().y;
    double s = MaxKeyframeScale() * ratio * parentHeight / 100.0 / h0;
    if (!std::isfinite(s) || !(s > 0.0)) return 1.0;
    s = std::min(s, 1e6);
    while (s * h0 > kMaxTextSide || s * w0 > kMaxTextSide || w0 * h0 * s * s > kMaxTextPixels)
        s /= 2.0;
    return s;
}

void TKivText::UpdateNominal() {
    if (rasterize_) return;
    TTextRequest request;
    request.fontName = fontName_;
    request.style = fontStyle_;
    request.align = textAlign_;
    request.lineSpacing = lineSpacing_;
    request.lines = ExpandedLines();
    const std::string key = TextPictureName(request);
    if (key == nominalKey_) return;
    const TTextLayout nominal = LayoutText(request);
    nominal_ = {nominal.textWidth, nominal.textHeight};
    nominalKey_ = key;
}

float TKivText::ContentOpacity() const {
    const float own = EffectiveOpacity();
    if (parent_ && parent_->TypeCode() == kTypeButton)
        return static_cast<float>(own * parent_->EffectiveOpacity() / 100.0);
    return own;
}

void TKivText::LoadPicture() {
    if (rasterize_) {
        TKivImage::LoadPicture();
        return;
    }
    UpdateNominal();
    TTextRequest request;
    request.fontName = fontName_;
    request.style = fontStyle_;
    request.align = textAlign_;
    request.lineSpacing = lineSpacing_;
    request.lines = ExpandedLines();
    const std::string& nominalKey = nominalKey_;
    // The raster size follows the slide's pre-pass: before it has run the nominal size stands.
    if (slide_ && !slide_->PrePassDone()) return;
    // The keyframe-scale ratio: how much the nominal height changed since the last picture. The
    // keyframes are multiplied by it when the picture arrives; the raster scale counts it already,
    // so that the picture is made once, at the size it keeps.
    const double h0 = nominal_.y;
    request.ratio = 1.0;
    if (!IsCaption() && requestedHeight_ > 0.0 && h0 > 0.0 && std::isfinite(h0 / requestedHeight_))
        request.ratio = h0 / requestedHeight_;
    request.scale = RasterScale(request.ratio);
    const std::string key = nominalKey + "|" + std::to_string(request.scale);
    if (picture_ && key == requestKey_) return;
    requestKey_ = key;
    const std::array<TVec3, 4> corners = Corners();
    if (IsFinite(corners[0])) {
        request.phaseX = corners[0].x - std::floor(corners[0].x);
        request.phaseY = corners[0].y - std::floor(corners[0].y);
    }
    request_ = request;
    const std::string name = TextPictureName(request);
    loadedName_ = name;
    loadTried_ = true;
    contentChanged_ = true;
    picture_ = nullptr;
    TTextLayout layout;
    if (TKivObjectHost* host = Host()) {
        try {
            picture_ = host->LoadPicture(name);
        } catch (const std::exception& failure) {
            TLog::Line("Text picture of " + Guid() + " could not be made: " + failure.what());
        }
    }
    if (picture_) {
        layout = LayoutText(request);
    } else {
        // No show pictures (a host without files): the text is rendered here, unshared.
        try {
            if (TRef<TBitmap> bitmap = RenderText(request, &layout))
                picture_ = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>(name, std::move(bitmap)));
        } catch (const std::exception& failure) {
            TLog::Line("Text picture of " + Guid() + " could not be made: " + failure.what());
        }
    }
    glyphRects_ = std::move(layout.glyphRects);
    lineHeight_ = picture_ ? layout.lineHeight : 0.0;
    if (picture_ && node_) node_->SetPictureSize(picture_->Width(), picture_->Height());
    if (picture_) {
        if (request.ratio != 1.0) ApplyScaleRatio(request.ratio);
        requestedHeight_ = h0;
    }
}

double TKivText::LineHeight() const {
    if (!rasterize_) return lineHeight_;
    const TImage* picture = Picture();
    if (!picture || lines_.empty()) return 0.0;
    const double n = static_cast<double>(lines_.size());
    const double lines = n + (n - 1.0) * lineSpacing_ / 200.0; // at least 1: LineSpacing ≥ −200
    return lines > 0.0 ? picture->Height() / lines : 0.0;
}

void TKivText::ApplyScaleRatio(double ratio) {
    if (!node_) return;
    for (int i = 0; i < node_->KeyFrameCount(); ++i) {
        TKivKeyFrame& key = node_->KeyFrame(i);
        if (!key.Sets(kGroupScale)) continue;
        key.SetValue(kPropScaleX, key.Value(kPropScaleX) * ratio);
        key.SetValue(kPropScaleY, key.Value(kPropScaleY) * ratio);
    }
    node_->Evaluate(node_->Time(), false);
}

TVec2 TKivText::ContentSize() const {
    if (rasterize_ || Picture()) return TKivImage::ContentSize();
    // Before the picture: the nominal size with its margin.
    return nominal_.y > 0.0 ? TVec2{nominal_.x + 2.0, nominal_.y + 2.0} : TVec2{};
}

double TKivText::FitFactor(TVec2 s, TVec2 p) const {
    if (rasterize_) return TKivImage::FitFactor(s, p);
    // The text's height is Scale.Y percent of its parent's, whatever its FitMode.
    return s.y > 0.0 ? p.y / s.y : 0.0;
}

void TKivText::ProduceContent(TDeviceDrawer& drawer, TPictureDrawParams& params) {
    TKivImage::ProduceContent(drawer, params);
    params.edgeAntialias = false;
    params.tint = CurrentColor() | 0xFF000000u;
}

bool TKivText::HitTest(TVec2 point, TVec2& local) const {
    if (!TKivObject::HitTest(point, local)) return false;
    if (rasterize_ || glyphRects_.empty()) return true;
    const TVec2 pivot = Pivot();
    const double x = std::nearbyint(local.x - pivot.x);
    const double y = std::nearbyint(local.y - pivot.y);
    return std::any_of(glyphRects_.begin(), glyphRects_.end(), [&](const TRectF& r) {
        return r.left <= x && x < r.right && r.top <= y && y < r.bottom;
    });
}

} // namespace kiv

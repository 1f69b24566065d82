#include "objects/KivButton.h"

#include "base/CaseFold.h"
#include "base/ColorValue.h"
#include "base/Log.h"
#include "images/BitmapStore.h"
#include "ini/IniFile.h"
#include "objects/Hsl.h"
#include "objects/KivSlide.h"
#include "objects/KivText.h"
#include "objects/ObjectHost.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <exception>

namespace kiv {

namespace {

constexpr std::string_view kButtonKeys[] = {"Theme",      "BtnOpacity", "TxtOpacity",  "Hue",
                                            "Saturation", "Lightness",  "BtnMinWidth", "BtnOffsetX"};
constexpr std::string_view kPieceKeys[kPieceCount] = {
    "LeftTop", "Top", "RightTop", "Right", "RightBottom", "Bottom", "LeftBottom", "Left", "Center"};
constexpr std::string_view kStateSections[3] = {"NormalState", "HoverState", "ClickState"};
constexpr std::string_view kFilteringWords[] = {"Nearest", "Bilinear", "Default"};
// Faces wider than this are not buttons but mistakes.
constexpr int kMaxFaceWidth = 16384;

int PieceNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    const std::string copy(text);
    char* end = nullptr;
    const long value = std::strtol(copy.c_str(), &end, 10);
    if (copy.empty() || !end || *end != '\0' || value < 0 || value > 1000000) return 0; // not valid: 0
    return static_cast<int>(value);
}

TButtonPiece ReadPiece(std::string_view value) {
    TButtonPiece piece;
    std::array<std::string_view, 5> fields{};
    std::size_t count = 0;
    std::size_t pos = 0;
    while (count < 5) {
        const std::size_t comma = value.find(',', pos);
        fields[count++] =
            value.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    std::string_view file = fields[0];
    while (!file.empty() && file.front() == ' ')
        file.remove_prefix(1);
    while (!file.empty() && file.back() == ' ')
        file.remove_suffix(1);
    piece.file = std::string(file);
    piece.left = PieceNumber(fields[1]);
    piece.top = PieceNumber(fields[2]);
    piece.right = PieceNumber(fields[3]);
    piece.bottom = PieceNumber(fields[4]);
    return piece;
}

} // namespace

bool ParseButtonTheme(std::string_view text, TButtonTheme& theme) {
    theme = TButtonTheme{};
    auto file = MakeRef<TIniFile>();
    file->LoadFromText(text);
    if (!file->FindSection("NormalState")) return false;
    for (int s = 0; s < 3; ++s) {
        const TIniSection* section = file->FindSection(kStateSections[s]);
        for (int p = 0; p < kPieceCount; ++p)
            theme.pieces[static_cast<std::size_t>(s)][static_cast<std::size_t>(p)] =
                section ? ReadPiece(std::string(section->GetText(kPieceKeys[p]))) : TButtonPiece{};
    }
    theme.width0 = theme.pieces[0][kPieceRight].right;
    theme.height = theme.pieces[0][kPieceBottom].bottom;
    if (const TIniSection* params = file->FindSection("TextParams")) {
        theme.color = ReadColorValue(params->GetText("Color"), 0xFF000000u);
        theme.btnOffset = params->GetReal("BtnOffset", 0.0);
        theme.btnMinWidth = params->GetReal("BtnMinWidth", 0.0);
        if (!std::isfinite(theme.btnOffset)) theme.btnOffset = 0.0;
        if (!std::isfinite(theme.btnMinWidth)) theme.btnMinWidth = 0.0;
        theme.filtering = params->GetChoice("Filtering", kFilteringWords, true, 2);
    }
    return true;
}

TRef<TBitmap> BuildButtonFace(const TButtonTheme& theme, int state, int width,
                              const std::function<TRef<TBitmap>(const std::string&)>& piece,
                              std::string& badPiece) {
    const auto& pieces = theme.pieces[static_cast<std::size_t>(std::clamp(state, 0, 2))];
    const int w = std::clamp(width, 1, kMaxFaceWidth);
    const int h = theme.height;
    if (h <= 0 || theme.width0 <= 0) return nullptr;
    std::array<TRef<TBitmap>, kPieceCount> source;
    for (int p = 0; p < kPieceCount; ++p) {
        const TButtonPiece& part = pieces[static_cast<std::size_t>(p)];
        TRef<TBitmap> bitmap = piece ? piece(part.file) : nullptr;
        if (!bitmap || bitmap->Width() != theme.width0 || bitmap->Height() != h ||
            bitmap->Format() != TPixelFormat::Bgra32) {
            badPiece = part.file;
            return nullptr;
        }
        source[static_cast<std::size_t>(p)] = bitmap;
    }
    auto face = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32, true);
    const int lr = pieces[kPieceLeft].right;
    const int tb = pieces[kPieceTop].bottom;
    const int r0 = w - pieces[kPieceRight].Width();
    const int b0 = h - pieces[kPieceBottom].Height();
    // Copies the pixel (sx, sy) of piece p to (dx, dy), both inside their pictures.
    auto copy = [&](int p, int sx, int sy, int dx, int dy) {
        const TBitmap& from = *source[static_cast<std::size_t>(p)];
        if (sx < 0 || sy < 0 || sx >= from.Width() || sy >= from.Height()) return;
        if (dx < 0 || dy < 0 || dx >= w || dy >= h) return;
        std::copy_n(from.Row(sy) + 4 * sx, 4, face->Row(dy) + 4 * dx);
    };
    const TButtonPiece& center = pieces[kPieceCenter];
    for (int y = tb; y < b0; ++y)
        for (int x = lr; x < r0; ++x)
            copy(kPieceCenter, center.left, y, x, y);
    const TButtonPiece& top = pieces[kPieceTop];
    for (int y = top.top; y < top.bottom; ++y)
        for (int x = lr; x < r0; ++x)
            copy(kPieceTop, top.left, y, x, y);
    const TButtonPiece& bottom = pieces[kPieceBottom];
    for (int y = bottom.top; y < bottom.bottom; ++y)
        for (int x = lr; x < r0; ++x)
            copy(kPieceBottom, bottom.left, y, x, b0 + y - bottom.top);
    const TButtonPiece& left = pieces[kPieceLeft];
    for (int y = tb; y < b0; ++y)
        for (int x = left.left; x < left.right; ++x)
            copy(kPieceLeft, x, y, x, y);
    const TButtonPiece& right = pieces[kPieceRight];
    for (int y = tb; y < b0; ++y)
        for (int x = right.left; x < right.right; ++x)
            copy(kPieceRight, x, y, r0 + x - right.left, y);
    auto corner = [&](int p, bool moveRight, bool moveDown) {
        const TButtonPiece& part = pieces[static_cast<std::size_t>(p)];
        for (int y = part.top; y < part.bottom; ++y)
            for (int x = part.left; x < part.right; ++x)
                copy(p, x, y, moveRight ? r0 + x - part.left : x, moveDown ? b0 + y - part.top : y);
    };
    corner(kPieceLeftTop, false, false);
    corner(kPieceRightTop, true, false);
    corner(kPieceRightBottom, true, true);
    corner(kPieceLeftBottom, false, true);
    return face;
}

void TintButtonFace(TBitmap& face, int hue, int saturation, int lightness) {
    if (hue == 0 && saturation == 0 && lightness == 0) return;
    const int dh = hue * 256 / 360;
    const int ds = saturation * 256 / 100;
    const int dl = lightness * 256 / 100;
    for (int y = 0; y < face.Height(); ++y) {
        std::uint8_t* row = face.Row(y);
        for (int x = 0; x < face.Width(); ++x) {
            std::uint8_t* px = row + 4 * x;
            THslColor hsl = RgbToHsl(px[2], px[1], px[0]);
            int h = hsl.h + dh;
            if (h > 255) h -= 256;
            if (h < 0) h += 256;
            const TRgbColor rgb = HslToRgb(std::clamp(h, 0, 255), std::clamp(hsl.s + ds, 0, 255),
                                           std::clamp(hsl.l + dl, 0, 255));
            px[0] = static_cast<std::uint8_t>(rgb.b);
            px[1] = static_cast<std::uint8_t>(rgb.g);
            px[2] = static_cast<std::uint8_t>(rgb.r);
        }
    }
}

int ButtonFaceWidth(int height, double minWidth, double offsetX, double m, double aspect) {
    const double h = height;
    auto safe = [](double v) { return std::isfinite(v) ? std::clamp(v, -1e6, 1e6) : 0.0; };
    const double byMin = std::nearbyint(h * safe(minWidth) / 100.0);
    const double byCaption =
        std::nearbyint((h - std::nearbyint(safe(m) * h / 100.0)) * safe(aspect) + h * safe(offsetX) / 100.0);
    const double w = std::max({h, byMin, byCaption});
    return static_cast<int>(std::clamp(w, 1.0, static_cast<double>(kMaxFaceWidth)));
}

std::string ButtonFaceName(const TButtonFaceKey& key) {
    return "Button: " + key.theme + ":" + std::to_string(key.state) + ":" + std::to_string(key.width) + ":" +
           std::to_string(key.hue) + ":" + std::to_string(key.saturation) + ":" +
           std::to_string(key.lightness);
}

bool ParseButtonFaceName(std::string_view name, TButtonFaceKey& key) {
    constexpr std::string_view kPrefix = "Button: ";
    if (!name.starts_with(kPrefix)) return false;
    std::string_view rest = name.substr(kPrefix.size());
    // The numbers from the right: the theme's name may hold ":".
    int numbers[5];
    for (int i = 4; i >= 0; --i) {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) return false;
        const std::string_view field = rest.substr(colon + 1);
        const auto result = std::from_chars(field.data(), field.data() + field.size(), numbers[i]);
        if (result.ec != std::errc{} || result.ptr != field.data() + field.size()) return false;
        rest = rest.substr(0, colon);
    }
    key = {std::string(rest), numbers[0], numbers[1], numbers[2], numbers[3], numbers[4]};
    return true;
}

// --- TButtonProducer ---

bool TButtonProducer::LoadFolder(TKivObjectHost& host, const std::string& theme) {
    if (theme.empty()) return false;
    const std::string folder = host.ButtonsPath() + theme + "\\";
    const std::vector<std::uint8_t> bytes = host.ReadFile(folder + "btn.ini");
    if (bytes.empty()) return false;
    const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    TButtonTheme parsed;
    if (!ParseButtonTheme(text, parsed)) return false;
    std::lock_guard guard(lock_);
    if (text != text_ || folder != folder_) pieces_.clear();
    theme_ = parsed;
    folder_ = folder;
    text_ = text;
    loaded_ = true;
    return true;
}

bool TButtonProducer::Load(TKivObjectHost& host) {
    if (LoadFolder(host, name_)) return true;
    if (!name_.empty()) {
        TLog::Line("Button theme " + name_ + " is missing; aqua is used");
        if (LoadFolder(host, "aqua")) return true;
    }
    std::lock_guard guard(lock_);
    theme_ = TButtonTheme{};
    folder_.clear();
    text_.clear();
    pieces_.clear();
    loaded_ = false;
    return false;
}

bool TButtonProducer::Loaded() const {
    std::lock_guard guard(lock_);
    return loaded_;
}

TButtonTheme TButtonProducer::Theme() const {
    std::lock_guard guard(lock_);
    return theme_;
}

std::string TButtonProducer::Folder() const {
    std::lock_guard guard(lock_);
    return folder_;
}

int TButtonProducer::FacesMade() const {
    std::lock_guard guard(lock_);
    return facesMade_;
}

TRef<TBitmap> TButtonProducer::MakeFace(const TButtonFaceKey& key,
                                        const std::function<TRef<TImage>(const std::string&)>& load) {
    TButtonTheme theme;
    std::string folder;
    {
        std::lock_guard guard(lock_);
        if (!loaded_) return nullptr;
        theme = theme_;
        folder = folder_;
        ++facesMade_;
    }
    auto piece = [&](const std::string& file) -> TRef<TBitmap> {
        if (!load || file.empty()) return nullptr;
        {
            std::lock_guard guard(lock_);
            const auto found = pieces_.find(file);
            if (found != pieces_.end()) return found->second;
        }
        TRef<TBitmap> bitmap;
        if (TRef<TImage> image = load(folder + file)) {
            try {
                bitmap = image->Store().GetMipLevel(0, TPixelFormat::Bgra32);
            } catch (const std::exception&) {
                bitmap = nullptr;
            }
        }
        std::lock_guard guard(lock_);
        if (folder == folder_) pieces_[file] = bitmap;
        return bitmap;
    };
    std::string bad;
    TRef<TBitmap> face = BuildButtonFace(theme, key.state, key.width, piece, bad);
    if (!face) {
        // A broken theme shows which piece is wrong.
        TTextRequest request;
        request.lines = {"Incorrect Image: " + bad};
        request.scale = 0.5;
        return RenderText(request);
    }
    TintButtonFace(*face, key.hue, key.saturation, key.lightness);
    return face;
}

// --- TKivButton ---

TKivButton::TKivButton(TKivObject* parent) : TKivImage(parent, kTypeButton) {}

TKivButton::~TKivButton() = default;

void TKivButton::SetDefaults() {
    TKivImage::SetDefaults();
    themeName_.clear();
    themeLoaded_ = false;
    btnOpacity_ = txtOpacity_ = 100.0;
    hue_ = saturation_ = lightness_ = 0;
    btnMinWidth_ = 0.0;
    btnOffsetX_ = 100.0;
}

void TKivButton::ReadKeys(const TIniObject& object) {
    TKivImage::ReadKeys(object);
    themeName_ = object.GetText("Theme");
    // The theme first, so that the button's own keys override its values.
    TKivObjectHost* host = Host();
    producer_ = nullptr;
    if (host && !themeName_.empty()) {
        TButtonProducer* shared = host->ButtonProducer(themeName_);
        producer_ = shared ? TRef<TButtonProducer>::Share(shared) : MakeRef<TButtonProducer>(themeName_);
        themeLoaded_ = producer_->Load(*host);
    } else {
        themeLoaded_ = false;
    }
    theme_ = themeLoaded_ ? producer_->Theme() : TButtonTheme{};
    int filtering = theme_.filtering;
    if (const TIniItem* item = object.FindItem("Filtering")) { // the button's own Filtering wins
        const int value = GetChoice(item, kFilteringWords, true, -1);
        if (value >= 0) filtering = value;
    }
    SetSampling(filtering, 0.0);
    faceWidth_ = theme_.width0;
    btnOffsetX_ = 100.0;
    btnMinWidth_ = theme_.btnMinWidth;
    btnOpacity_ = std::clamp(object.GetReal("BtnOpacity", 100.0), 0.0, 100.0);
    if (!std::isfinite(btnOpacity_)) btnOpacity_ = 100.0;
    txtOpacity_ = object.GetReal("TxtOpacity", 100.0);
    hue_ = std::clamp(object.GetInt32("Hue", 0), -100000, 100000);
    saturation_ = std::clamp(object.GetInt32("Saturation", 0), -100000, 100000);
    lightness_ = std::clamp(object.GetInt32("Lightness", 0), -100000, 100000);
    btnMinWidth_ = object.GetReal("BtnMinWidth", btnMinWidth_);
    btnOffsetX_ = object.GetReal("BtnOffsetX", btnOffsetX_);
    facesWidth_ = -1;
}

bool TKivButton::IsKnownKey(std::string_view key) const {
    return TKivImage::IsKnownKey(key) ||
           std::any_of(std::begin(kButtonKeys), std::end(kButtonKeys),
                       [&](std::string_view k) { return SameTextFolded(k, key); });
}

TKivText* TKivButton::Caption() const {
    return ChildCount() > 0 ? dynamic_cast<TKivText*>(Child(0)) : nullptr;
}

void TKivButton::SetPressed(bool pressed) {
    TKivImage::SetPressed(pressed);
    if (TKivText* caption = Caption()) caption->SetPressed(pressed);
}

void TKivButton::SetPointerState(int state) {
    TKivImage::SetPointerState(state);
    if (TKivText* caption = Caption()) caption->SetPointerState(state);
}

TRef<TImage> TKivButton::MakeFace(int state) {
    if (!producer_) return nullptr;
    const TButtonFaceKey key{themeName_, state, faceWidth_, hue_, saturation_, lightness_};
    const std::string name = ButtonFaceName(key);
    TKivObjectHost* host = Host();
    // Through the show's pictures, so that equal faces are made once and shared.
    if (host && host->ButtonProducer(themeName_) == producer_.Get())
        if (TRef<TImage> shared = host->LoadPicture(name)) return shared;
    // A host without pictures: the face is made here, unshared.
    auto load = [host](const std::string& file) { return host ? host->LoadPicture(file) : TRef<TImage>{}; };
    try {
        if (TRef<TBitmap> face = producer_->MakeFace(key, load))
            return MakeRef<TImage>(MakeRef<TWrapperBitmapStore>(name, std::move(face)));
    } catch (const std::exception& failure) {
        TLog::Line("Button face " + name + " cannot be made: " + failure.what());
    }
    return nullptr;
}

void TKivButton::BuildChildren() {
    TKivImage::BuildChildren();
    TKivText* caption = Caption();
    if (!caption || !themeLoaded_) return;
    // The theme's caption colour where the caption sets none (its keys are read after the theme),
    // and the caption's keyframe scale leaves the theme's offset beside it.
    caption->TakeThemeColor(theme_.color);
    if (TKivObjectProps* node = caption->Node(); node && node->KeyFrameCount() > 0) {
        const double scale = 100.0 - theme_.btnOffset;
        node->KeyFrame(0).SetValue(kPropScaleX, scale);
        node->KeyFrame(0).SetValue(kPropScaleY, scale);
    }
}

void TKivButton::LoadPicture() {
    if (!themeLoaded_ || theme_.height <= 0) return;
    // The face grows to hold the caption.
    int width = theme_.width0;
    if (TKivText* caption = Caption()) {
        caption->UpdateNominal();
        const TVec2 nominal = caption->NominalSize();
        const TKivObjectProps* node = caption->Node();
        const double m =
            node && node->KeyFrameCount() > 0 ? 100.0 - node->KeyFrame(0).Value(kPropScaleX) : 0.0;
        const double a = nominal.y > 0.0 ? nominal.x / nominal.y : 0.0;
        width = ButtonFaceWidth(theme_.height, btnMinWidth_, btnOffsetX_, m, a);
    }
    faceWidth_ = width;
    if (facesWidth_ == faceWidth_ && faces_[0]) return;
    facesWidth_ = faceWidth_;
    for (auto& face : faces_)
        face = nullptr;
    faces_[0] = MakeFace(0);
    picture_ = faces_[0];
    contentChanged_ = true;
    if (picture_ && node_) node_->SetPictureSize(picture_->Width(), picture_->Height());
}

int TKivButton::StateNow() const {
    if (PointerState() == kPointerClick || Pressed()) return 2;
    return PointerState() == kPointerHover ? 1 : 0;
}

float TKivButton::ContentOpacity() const {
    return static_cast<float>(EffectiveOpacity() * btnOpacity_ / 100.0);
}

TVec2 TKivButton::ContentSize() const {
    if (!themeLoaded_ || theme_.height <= 0) return TKivImage::ContentSize();
    return {static_cast<double>(faceWidth_), static_cast<double>(theme_.height)};
}

double TKivButton::FitFactor(TVec2 s, TVec2 p) const {
    // Its height is Scale.Y percent of its parent's, whatever its FitMode.
    return s.y > 0.0 ? p.y / s.y : 0.0;
}

void TKivButton::SelectFace() {
    const auto state = static_cast<std::size_t>(StateNow());
    if (state != 0 && !faces_[state] && faces_[0]) faces_[state] = MakeFace(static_cast<int>(state));
    if (TImage* face = faces_[state].Get()) {
        if (face != picture_.Get()) contentChanged_ = true;
        picture_ = faces_[state];
    }
}

void TKivButton::Layout(bool recursive) {
    LoadPicture();
    SelectFace();
    TKivImage::Layout(recursive);
}

void TKivButton::Produce(TDeviceDrawer& drawer) {
    // The pointer state may change between layouts: the face drawn follows it.
    SelectFace();
    TKivImage::Produce(drawer);
}

void TKivButton::PreloadBegin(TDeviceDrawer& drawer) {
    LoadPicture();
    // Hover, click, then normal: a change of state while the show plays needs no new face.
    for (int state : {1, 2}) {
        if (!faces_[static_cast<std::size_t>(state)] && faces_[0])
            faces_[static_cast<std::size_t>(state)] = MakeFace(state);
        if (faces_[static_cast<std::size_t>(state)] && drawer.IsReady()) {
            TPictureDrawParams params;
            ProduceContent(drawer, params);
            drawer.PreloadImage(*faces_[static_cast<std::size_t>(state)], params);
        }
    }
    TKivImage::PreloadBegin(drawer);
}

void TKivButton::ReleaseDevice(TDeviceDrawer& drawer) {
    for (const auto& face : faces_)
        if (face && face.Get() != picture_.Get()) drawer.ReleaseImage(*face);
    TKivImage::ReleaseDevice(drawer);
}

} // namespace kiv

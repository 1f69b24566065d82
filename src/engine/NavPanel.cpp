#include "engine/NavPanel.h"

#include "base/CaseFold.h"
#include "base/Log.h"
#include "images/PictureLoader.h"
#include "package/IniStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

TOverlayAction PanelAction(const std::string& name) {
    static constexpr std::pair<std::string_view, std::uint8_t> kCodes[] = {
        {"exit", kPanelExit}, {"backward", kPanelBackward}, {"forward", kPanelForward},
        {"help", kPanelHelp}, {"pause", kPanelPause},       {"print", kPanelPrint},
        {"home", kPanelHome}};
    TOverlayAction action;
    for (const auto& [word, code] : kCodes) {
        if (SameTextFolded(name, word)) {
            action.kind = code;
            if (code == kPanelHome) action.number = 1;
        }
    }
    return action;
}

TRef<TBitmap> LoadSkinPicture(TFileAccessor* files, const std::string& name) {
    if (!files || name.empty()) return {};
    try {
        TRef<TStream> stream = files->Open(name);
        if (!stream) return {};
        TRef<TImage> picture = DecodePictureByName(*stream, name);
        if (!picture) return {};
        return picture->Store().GetMipLevel(0, TPixelFormat::Bgra32, TBitmapClass::Any);
    } catch (const std::exception&) {
        return {};
    }
}

int TNavPanelOptions::AnchorOfWord(std::string_view word) {
    static constexpr std::string_view kWords[] = {
        "Left-Top", "Top", "Right-Top", "Right", "Right-Bottom", "Bottom", "Left-Bottom", "Left", "Center"};
    for (int i = 0; i < 9; ++i)
        if (SameTextFolded(word, kWords[i])) return i;
    return kAnchorCenter;
}

TNavPanelOptions TNavPanelOptions::Read(const TIniList& main) {
    TNavPanelOptions o;
    o.skinFile = main.GetText("opt_nav_inifile");
    o.showBackground = main.GetBool("opt_nav_showbg", false);
    o.hue = main.GetInt32("opt_nav_hue", 0);
    o.viewScale = main.GetReal("opt_nav_viewscale", 10.0);
    o.offset = main.GetReal("opt_nav_offset", 0.0);
    o.anchor = AnchorOfWord(main.GetText("opt_cp", "Center"));
    const int count = std::clamp(main.GetInt32("opt_newnavbuttons_count", 0), 0, 1000);
    for (int i = 1; i <= count; ++i)
        o.buttons.push_back(main.GetText("opt_newnavbutton" + std::to_string(i)));
    o.wholeWindow = main.GetBool("opt_nav_wndbottom", true);
    o.videoExit = main.GetBool("opt_nav_videoexit", true);
    return o;
}

TNavPanel::TNavPanel(const TNavPanelOptions& options, TRef<TFileAccessor> files, const TShowRect& area,
                     std::function<bool()> isPlaying)
    : files_(std::move(files)), isPlaying_(std::move(isPlaying)) {
    if (options.skinFile.empty()) throw ENavSkinError("no skin file (opt_nav_inifile is empty)");
    auto skin = MakeRef<TIniFile>();
    {
        TRef<TStream> stream = files_ ? files_->Open(options.skinFile) : TRef<TStream>();
        if (!stream)
            throw ENavSkinError("the skin \"" + options.skinFile + "\" is not among the show's files");
        if (!LoadIniFromStream(*skin, *stream))
            throw ENavSkinError("the skin \"" + options.skinFile + "\" cannot be read");
    }
    if (skin->ReadBool("Common", "VideoStyle", false))
        throw ENavSkinError("the skin \"" + options.skinFile +
                            "\" is a video-style bar, which this player does not draw");
    const std::size_t slash = options.skinFile.find_last_of("\\/");
    const std::string folder =
        slash == std::string::npos ? std::string() : options.skinFile.substr(0, slash + 1);

    TFileAccessor* accessor = files_.Get();
    bar_.SetPictureLoader([accessor](const std::string& name) { return LoadSkinPicture(accessor, name); });
    bar_.SetColorShift(options.hue);
    bar_.SetIsPlaying([this](int) { return isPlaying_ ? isPlaying_() : true; });
    bar_.SetOnInvalidate([this](TNavBar&, const TNavRect&) { canvasChanged_ = true; });
    bar_.SetOnClick([this](TNavBar& bar, int button) {
        pending_ = PanelAction(bar.ButtonName(button));
        clicked_ = true;
    });
    bar_.LoadSkin(skin, folder);

    const std::vector<std::string>& available = bar_.AvailableActions();
    for (const std::string& name : options.buttons) {
        for (std::size_t i = 0; i < available.size(); ++i) {
            if (SameTextFolded(name, available[i])) {
                selection_.push_back(static_cast<int>(i));
                break;
            }
        }
    }
    bar_.SetButtons(selection_);
    if (bar_.TotalWidth() <= 0 || bar_.TotalHeight() <= 0 || !bar_.Canvas())
        throw ENavSkinError("the skin \"" + options.skinFile + "\" lays out an empty bar");

    const int height =
        static_cast<int>(std::nearbyint(area.Height() * std::clamp(options.viewScale, 0.0, 1000.0) / 100.0));
    const int width = static_cast<int>(
        std::nearbyint(static_cast<double>(height) * bar_.TotalWidth() / bar_.TotalHeight()));
    barRect_ = PlaceAnchored(options.anchor, options.offset, area, width, height);
    canvasChanged_ = true;
}

TRef<TImage> TNavPanel::MakeImage() const {
    const TBitmap* canvas = bar_.Canvas();
    if (!canvas) return {};
    auto copy = MakeRef<TBitmap>(canvas->Width(), canvas->Height(), TPixelFormat::Bgra32, false);
    for (int y = 0; y < canvas->Height(); ++y)
        std::memcpy(copy->Row(y), canvas->Row(y), canvas->RowBytes());
    return MakeRef<TImage>(MakeRef<TWrapperBitmapStore>("NavPanel", copy));
}

bool TNavPanel::Mouse(int button, int modifiers, int kind, int x, int y, TOverlayAction& action) {
    const bool inside = barRect_.Contains(x, y);
    if (!inside && !holding_) return false;
    if (barRect_.IsEmpty()) return false;
    const int bx = static_cast<int>(
        std::nearbyint(static_cast<double>(x - barRect_.left) / barRect_.Width() * bar_.TotalWidth()));
    const int by = static_cast<int>(
        std::nearbyint(static_cast<double>(y - barRect_.top) / barRect_.Height() * bar_.TotalHeight()));
    clicked_ = false;
    pending_ = {};
    if (kind == 0)
        bar_.MouseEvent(button, modifiers, 0, bx, by);
    else if ((kind == 1 || kind == 2) && button == 1)
        bar_.MouseEvent(button, modifiers, kind, bx, by);
    // The panel keeps the mouse while the pointer is over it and while a press that began on it
    // lasts, so that the release reaches the bar wherever it happens.
    holding_ = inside || bar_.Capturing();
    if (clicked_ && pending_.kind != 0)
        action = pending_;
    else if (inside)
        action = TOverlayAction{kPanelHandled, 0, {}};
    return true;
}

} // namespace kiv

#include "engine/Overlay.h"

#include "base/Assert.h"
#include "base/CaseFold.h"
#include "base/Clock.h"
#include "base/Log.h"
#include "engine/LogoPicture.h"
#include "images/PictureLoader.h"
#include "ini/IniFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv {

namespace {

constexpr double kDialogFadeMs = 200.0;

// Logo positions of opt_logo_pos → anchors.
int LogoAnchor(int position) {
    switch (position) {
    case 0:
        return kAnchorLeft;
    case 1:
        return kAnchorTop;
    case 2:
        return kAnchorRight;
    case 3:
        return kAnchorBottom;
    case 5:
        return kAnchorLeftTop;
    case 6:
        return kAnchorRightTop;
    case 7:
        return kAnchorRightBottom;
    case 8:
        return kAnchorLeftBottom;
    default:
        return kAnchorCenter;
    }
}

int RoundInt(double v) {
    if (!std::isfinite(v)) return 0;
    return static_cast<int>(std::nearbyint(std::clamp(v, -1e9, 1e9)));
}

double FadeProgress(std::int64_t now, std::int64_t start, std::int64_t end) {
    if (end <= start) return 100.0;
    return std::clamp(static_cast<double>(now - start) / static_cast<double>(end - start) * 100.0, 0.0,
                      100.0);
}

} // namespace

std::shared_ptr<const TColorTable> ProfileGradingTable(const TColorProfile* picture, const TColorProfile* output) {
    TRef<TBitmap> table = ProfileConversionTable(picture, output);
    if (!table) return nullptr;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(table->Width()) * 4 * table->Height());
    for (int y = 0; y < table->Height(); ++y)
        std::memcpy(pixels.data() + static_cast<std::size_t>(y) * table->Width() * 4, table->Row(y),
                    static_cast<std::size_t>(table->Width()) * 4);
    return std::make_shared<const TColorTable>(TColorTable::FromProfile(pixels));
}

TRef<TThirdSlide> TThirdSlide::Create(TOverlayInputs inputs) {
    TRef<TThirdSlide> overlay = TRef<TThirdSlide>::Adopt(new TThirdSlide(std::move(inputs)));
    overlay->MakeLogo();
    overlay->MakePanel();
    return overlay;
}

TThirdSlide::TThirdSlide(TOverlayInputs inputs) : in_(std::move(inputs)) {
    const TShowRect& a = in_.slideArea;
    if (in_.referenceWidth > 0 && in_.referenceHeight > 0 && a.Height() > 0)
        aspect_ = (static_cast<double>(a.Width()) / in_.referenceWidth) *
                  (static_cast<double>(in_.referenceHeight) / a.Height());
    const TIniSection* main = in_.project ? in_.project->FindSection("Main") : nullptr;
    if (main) {
        autoHide_ = main->GetBool("opt_hidenavbar", false);
        hideFadeOut_ = std::max<std::int64_t>(0, main->GetInt32("opt_nav_hidefadeout", 1000));
        hideFadeIn_ = std::max<std::int64_t>(0, main->GetInt32("opt_nav_fadein", 500));
        wholeWindowPanel_ = main->GetBool("opt_nav_wndbottom", true);
        const double interval = main->GetReal("opt_nav_hideinterval", 0.0);
        detector_.SetIdleInterval(
            std::isfinite(interval) ? static_cast<std::int64_t>(std::clamp(interval, 0.0, 1e9) * 1000.0) : 0);
    }
    panelHidden_ = autoHide_;
    panelOpacity_ = autoHide_ ? 0.0f : 100.0f;
}

TThirdSlide::~TThirdSlide() = default;

std::int64_t TThirdSlide::Now() const {
    return in_.clock ? in_.clock() : ProcessMilliseconds();
}

void TThirdSlide::MakeLogo() {
    const TIniSection* main = in_.project ? in_.project->FindSection("Main") : nullptr;
    if (!main) return;
    const std::string file = main->GetText("opt_logo_fn");
    if (file.empty() || !main->GetBool("opt_logo", false)) return;
    const int anchor = LogoAnchor(main->GetInt32("opt_logo_pos", 0));
    const double offset = main->GetReal("opt_logo_offset", 0.0);
    const double opacity = main->GetReal("opt_logo_opacity", 100.0);
    const double size = main->GetReal("opt_logo_size", 10.0);
    TRef<TImage> picture;
    if (in_.files) {
        try {
            if (TRef<TStream> stream = in_.files->Open(file)) picture = DecodePictureByName(*stream, file);
        } catch (const std::exception&) {
            picture = {};
        }
    }
    if (!picture || picture->Width() <= 0 || picture->Height() <= 0) {
        TLog::Line("Overlay: the logo \"" + file + "\" cannot be loaded; no logo");
        return;
    }
    // The profile goes with the decoded picture, not with a halved copy of it.
    const TRef<TColorProfile> pictureProfile = picture->Store().Profile();
    const TRef<TColorProfile> output = in_.outputProfile ? in_.outputProfile : DisplayProfile();
    std::shared_ptr<const TColorTable> grading = ProfileGradingTable(pictureProfile.Get(), output.Get());
    const TShowRect& area = in_.slideArea;
    const double targetHeight = area.Height() * size / 100.0;
    const double targetWidth = targetHeight * picture->Width() / picture->Height();
    const TPictureSize halved =
        HalvedLogoSize(picture->Width(), picture->Height(), targetWidth, targetHeight);
    if (halved.width != picture->Width() || halved.height != picture->Height()) {
        try {
            TRef<TBitmap> source = picture->Store().GetMipLevel(0, TPixelFormat::Bgra32);
            TRef<TBitmap> ready = PrepareLogo(*source, targetWidth, targetHeight);
            picture = MakeRef<TImage>(MakeRef<TWrapperBitmapStore>(file, ready));
        } catch (const std::exception&) {
            TLog::Line("Overlay: the logo \"" + file + "\" cannot be converted; no logo");
            return;
        }
    }
    const int placedHeight = RoundInt(area.Height() * size / 100.0);
    const int placedWidth =
        RoundInt(static_cast<double>(picture->Width()) * placedHeight / picture->Height() * aspect_);
    TOverlayImage item;
    item.image = picture;
    item.rect = PlaceAnchored(anchor, offset, area, std::max(0, placedWidth), std::max(0, placedHeight));
    item.opacity = static_cast<float>(std::isfinite(opacity) ? std::clamp(opacity, 0.0, 100.0) : 100.0);
    item.grading = std::move(grading);
    logoIndex_ = static_cast<int>(images_.size());
    images_.push_back(std::move(item));
}

void TThirdSlide::MakePanel() {
    const TIniSection* main = in_.project ? in_.project->FindSection("Main") : nullptr;
    if (!main || !main->GetBool("opt_fcp", false)) return;
    const TNavPanelOptions options = TNavPanelOptions::Read(*main);
    const TShowRect area =
        options.wholeWindow ? TShowRect{0, 0, in_.clientWidth, in_.clientHeight} : in_.slideArea;
    try {
        panel_ = std::make_unique<TNavPanel>(options, in_.files, area, in_.callbacks.isPlaying);
    } catch (const std::exception& error) {
        panel_.reset();
        TLog::Line(std::string("Overlay: the show plays without the navigation bar: ") + error.what());
        return;
    }
    SyncPanelImage();
    SetPanelOpacity(panelOpacity_);
}

void TThirdSlide::SyncPanelImage() {
    if (!panel_ || !panel_->TakeCanvasChange()) return;
    TOverlayImage item;
    item.image = panel_->MakeImage();
    item.rect = panel_->BarRect();
    item.opacity = panelOpacity_;
    if (panelImage_ < 0) {
        panelImage_ = static_cast<int>(images_.size());
        images_.push_back(std::move(item));
    } else {
        TOverlayImage& old = images_[static_cast<std::size_t>(panelImage_)];
        if (old.image) stale_.push_back(old.image);
        old = std::move(item);
    }
    itemChanged_ = true;
}

void TThirdSlide::SetPanelOpacity(float opacity) {
    for (const int index : {panelImage_, panelBackground_}) {
        if (index < 0) continue;
        TOverlayImage& item = images_[static_cast<std::size_t>(index)];
        if (std::fabs(item.opacity - opacity) > 0.001f) {
            item.opacity = opacity;
            needsRedraw_ = true;
        }
    }
    panelOpacity_ = opacity;
}

void TThirdSlide::RevealPanel() {
    panelHidden_ = false;
    panelFadeStart_ = panelFadeEnd_ = 0;
    detector_.Reset();
    SetPanelOpacity(100.0f);
}

void TThirdSlide::UpdateDialogFade(std::int64_t now) {
    if (active_ < 0 || active_ >= DialogCount()) {
        active_ = -1;
        return;
    }
    const std::size_t i = static_cast<std::size_t>(active_);
    if (!drawn_[i]) return;
    if (!fadeStarted_) {
        fadeStarted_ = true;
        fadeStart_ = now;
    }
    const double p = std::clamp(static_cast<double>(now - fadeStart_) / kDialogFadeMs * 100.0, 0.0, 100.0);
    TKivDialog& dialog = *dialogs_[i];
    const float before = dialog.Opacity();
    dialog.SetOpacity(static_cast<float>(closing_ ? 100.0 - p : p));
    if (std::fabs(dialog.Opacity() - before) > 0.001f) needsRedraw_ = true;
    if (closing_ && dialog.Opacity() < 1.0f) {
        RemoveDialog(active_);
        needsRedraw_ = true;
    } else if (!closing_ && p >= 100.0) {
        active_ = -1;
    }
}

void TThirdSlide::UpdatePanelFade(std::int64_t now) {
    if (!panel_ || !autoHide_) return;
    if (panel_->Holding()) detector_.Reset();
    const bool visible = !detector_.IsIdle(now);
    if (visible == panelHidden_) {
        const double previous = FadeProgress(now, panelFadeStart_, panelFadeEnd_);
        panelHidden_ = !visible;
        const std::int64_t length = visible ? hideFadeIn_ : hideFadeOut_;
        panelFadeEnd_ =
            now + static_cast<std::int64_t>(std::llround(previous * static_cast<double>(length) / 100.0));
        panelFadeStart_ = panelFadeEnd_ - length;
    }
    const double progress = FadeProgress(now, panelFadeStart_, panelFadeEnd_);
    SetPanelOpacity(static_cast<float>(panelHidden_ ? 100.0 - progress : progress));
}

void TThirdSlide::Update(double /*showTimeMs*/) {
    const std::int64_t now = Now();
    UpdateDialogFade(now);
    if (panel_) {
        panel_->RefreshPlayState();
        SyncPanelImage();
    }
    UpdatePanelFade(now);
}

TOverlayMouseResult TThirdSlide::Mouse(int button, int modifiers, int kind, int x, int y) {
    TOverlayMouseResult result;
    const TVec2 point{static_cast<double>(x), static_cast<double>(y)};
    for (int i = DialogCount() - 1; i >= 0; --i) {
        TKivDialog& dialog = *dialogs_[static_cast<std::size_t>(i)];
        const TSlideMouseResult hit = dialog.HandleMouse(modifiers, point, kind, button);
        if (dialog.IsChanged()) needsRedraw_ = true;
        if (hit.object) {
            result.object = hit.object;
            result.fired = hit.fired;
            result.dialogAction = hit.action;
            break;
        }
    }
    detector_.Sample(x, y, Now());
    bool panelHolds = false;
    // A panel that has faded out completely takes no presses or releases: a click on an invisible
    // button (exit among them) must not act. Moves still reach it, so that it knows the pointer is
    // over it once the move has woken it.
    const bool invisible = panelHidden_ && panelOpacity_ <= 0.0f;
    if (panel_ && (!invisible || kind == kMouseMove || panel_->Bar().Capturing())) {
        TOverlayAction action;
        if (panel_->Mouse(button, modifiers, kind, x, y, action)) {
            if (action.kind != 0) {
                result.action = action;
                result.object = nullptr;
                result.fired = false;
                result.dialogAction.clear();
            }
        }
        panelHolds = panel_->Holding();
        SyncPanelImage();
    }
    result.handled = result.object != nullptr || panelHolds || result.action.kind != 0;
    return result;
}

int TThirdSlide::NavPanelState() const {
    if (!panel_) return kNoPanel;
    return panel_->Holding() ? kPanelHoldsMouse : kPanelVisible;
}

// --- Dialogs ---

void TThirdSlide::ShowDialog(TRef<TKivDialog> dialog) {
    if (!dialog) return;
    if (closing_ && active_ >= 0) return; // the new dialog is freed
    for (int i = 0; i < DialogCount(); ++i) {
        if (SameTextFolded(dialogs_[static_cast<std::size_t>(i)]->Name(), dialog->Name())) {
            StartFade(i, true);
            return;
        }
    }
    dialogs_.push_back(std::move(dialog));
    drawn_.push_back(false);
    StartFade(DialogCount() - 1, false);
    needsRedraw_ = true;
}

void TThirdSlide::StartFade(int index, bool closing) {
    // A dialog still fading in when another fade starts is shown whole.
    if (active_ >= 0 && active_ != index && !closing_)
        dialogs_[static_cast<std::size_t>(active_)]->SetOpacity(100.0f);
    active_ = index;
    closing_ = closing;
    if (closing) {
        // Continue from the opacity reached, so that closing a dialog still fading in does not jump.
        const float opacity = dialogs_[static_cast<std::size_t>(index)]->Opacity();
        fadeStart_ =
            Now() - static_cast<std::int64_t>(std::llround((100.0 - opacity) / 100.0 * kDialogFadeMs));
        fadeStarted_ = true;
    } else {
        fadeStarted_ = false;
    }
    needsRedraw_ = true;
}

bool TThirdSlide::OpenDialog(const std::string& name) {
    if (!in_.producer) return false;
    TRef<TKivDialog> dialog;
    try {
        dialog = in_.producer->BuildDialog(name);
    } catch (const std::exception& error) {
        TLog::Line("Overlay: the dialog \"" + name + "\" cannot be built: " + error.what());
        return false;
    }
    if (!dialog) return false;
    ShowDialog(std::move(dialog));
    return true;
}

void TThirdSlide::RemoveDialog(int index) {
    dialogs_.erase(dialogs_.begin() + index);
    drawn_.erase(drawn_.begin() + index);
    if (active_ == index) {
        active_ = -1;
        closing_ = false;
    } else if (active_ > index) {
        --active_;
    }
    needsRedraw_ = true;
}

void TThirdSlide::CloseDialog(int index) {
    if (index == -1) index = DialogCount() - 1;
    KIV_ASSERT(index >= 0 && index < DialogCount(),
               "TThirdSlide.CloseDialog: no dialog " + std::to_string(index));
    RemoveDialog(index);
}

void TThirdSlide::CloseBlockingDialogs() {
    int top = -1;
    for (int i = DialogCount() - 1; i >= 0; --i) {
        if (!dialogs_[static_cast<std::size_t>(i)]->DialogPause()) continue;
        if (top < 0) {
            top = i;
            continue;
        }
        RemoveDialog(i);
        --top;
    }
    if (top >= 0 && !(closing_ && active_ == top)) StartFade(top, true);
}

bool TThirdSlide::HasBlockingDialog() const {
    return std::any_of(dialogs_.begin(), dialogs_.end(),
                       [](const TRef<TKivDialog>& d) { return d->DialogPause(); });
}

TKivDialog* TThirdSlide::Dialog(int index) const {
    if (index < 0 || index >= DialogCount()) return nullptr;
    return dialogs_[static_cast<std::size_t>(index)].Get();
}

TKivDialog* TThirdSlide::TopDialog() const {
    return dialogs_.empty() ? nullptr : dialogs_.back().Get();
}

TKivDialog* TThirdSlide::DialogByName(const std::string& name) const {
    for (const TRef<TKivDialog>& d : dialogs_)
        if (SameTextFolded(d->Name(), name)) return d.Get();
    return nullptr;
}

// --- Drawing ---

void TThirdSlide::DrawItem(TDeviceDrawer& drawer, const TOverlayImage& item) {
    if (!item.image || item.rect.IsEmpty() || item.image->Width() <= 0 || item.image->Height() <= 0) return;
    TPictureDrawParams params;
    params.opacity = item.opacity;
    if (item.grading) {
        params.gradingMode = 1; // a 3-D table, the same at both ends
        params.gradingFrom = item.grading.get();
        params.gradingTo = item.grading.get();
        params.gradingFactor = 0.0f;
    }
    const double sx = static_cast<double>(item.rect.Width()) / item.image->Width();
    const double sy = static_cast<double>(item.rect.Height()) / item.image->Height();
    drawer.DrawImage(*item.image,
                     {static_cast<double>(item.rect.left), static_cast<double>(item.rect.top), 0.0}, params,
                     {sx, 0.0, 0.0}, {0.0, sy, 0.0}, {0.0, 0.0});
}

void TThirdSlide::Draw(TDeviceDrawer& drawer) {
    for (const TRef<TImage>& image : stale_)
        drawer.ReleaseImage(*image);
    stale_.clear();
    for (std::size_t i = 0; i < dialogs_.size(); ++i) {
        drawer.Draw(*dialogs_[i]);
        drawn_[i] = true;
    }
    int firstPanel = -1;
    if (panel_ && !capturing_) {
        for (const int index : {panelImage_, panelBackground_})
            if (index >= 0 && (firstPanel < 0 || index < firstPanel)) firstPanel = index;
    }
    bool filled = false;
    for (int i = 0; i < static_cast<int>(images_.size()); ++i) {
        const bool panelItem = i == panelImage_ || i == panelBackground_;
        if (i == firstPanel && in_.borderFill) {
            in_.borderFill(drawer);
            filled = true;
        }
        if (panelItem && capturing_) continue;
        DrawItem(drawer, images_[static_cast<std::size_t>(i)]);
    }
    if (!filled && in_.borderFill) in_.borderFill(drawer);
    needsRedraw_ = false;
    itemChanged_ = false;
}

} // namespace kiv

// TThirdSlide: the overlay drawn above the slides of every frame — the author's logo, the
// navigation panel (the navigation bar placed, scaled and faded) and the open dialogs. It takes
// mouse events before the slides do. The engine creates one per opened show, on the engine thread,
// and frees it with the show; every operation runs on the engine thread.
#pragma once

#include "engine/MouseMoveDetector.h"
#include "engine/NavPanel.h"
#include "engine/Placement.h"
#include "images/ColorProfile.h"
#include "objects/ColorTable.h"
#include "objects/DrawItem.h"
#include "objects/KivDialog.h"
#include "objects/KivObject.h"
#include "objects/SlideProducer.h"
#include "package/FileAccessor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

class TIniFile;

// The engine's side of the overlay.
struct TOverlayCallbacks {
    std::function<void(float volume)> setVolume;
    std::function<void(double timeMs)> seekToTime;
    std::function<bool()> isPlaying;
};

// What the overlay is made from (the engine fills it when a show opens).
struct TOverlayInputs {
    TRef<TFileAccessor> files;         // the show's files (logo, skin); may be none
    const TIniFile* project = nullptr; // the show's document ([Main]); must outlive the overlay
    TShowRect slideArea;               // the slides' rectangle in the window
    int clientWidth = 0;               // the window's client area
    int clientHeight = 0;
    int referenceWidth = 0; // the reference size of the aspect factor (0: factor 1)
    int referenceHeight = 0;
    float volume = 0.0f;       // the player's starting volume
    double showDuration = 0.0; // ms
    TOverlayCallbacks callbacks;
    // The root item's border fill (everything outside the slide area in the hider colour).
    std::function<void(TDeviceDrawer&)> borderFill;
    // Builds dialogs for OpenDialog; may be none (OpenDialog then shows nothing). Not owned.
    TSlideProducer* producer = nullptr;
    // The millisecond clock of fades and of the move detector; none: ProcessMilliseconds.
    std::function<std::int64_t()> clock;
    // The slide producer's colour profile (the output's): a logo carrying another profile is drawn
    // through a colour table made from the transform between the two. None: DisplayProfile().
    TRef<TColorProfile> outputProfile;
};

// What a mouse event did in the overlay.
struct TOverlayMouseResult {
    TKivObject* object = nullptr; // the object under the pointer in a dialog (none after a panel action)
    bool fired = false;           // a dialog object completed a click: `dialogAction` is its action text
    std::string dialogAction;
    TOverlayAction action; // the panel's action (kind 0: none)
    bool handled = false;  // a dialog object was hit, the panel holds the mouse, or an action came
};

// NavPanelState values.
enum TNavPanelState : int { kNoPanel = 0, kPanelVisible = 1, kPanelHoldsMouse = 2 };

// One placed picture of the overlay.
struct TOverlayImage {
    TRef<TImage> image; // may be none (not drawn)
    TPlacedRect rect;
    float opacity = 100.0f; // percent
    // The colour lookup table (32 × 1024) the picture is graded through; none draws it as it is.
    std::shared_ptr<const TColorTable> grading;
};

// The 32 × 1024 colour lookup table that converts colours of a picture carrying `picture` into
// `output`: none when colour management is off, when either profile is missing, when the two are
// the same profile, or when no transform between them can be made.
std::shared_ptr<const TColorTable> ProfileGradingTable(const TColorProfile* picture, const TColorProfile* output);

class TThirdSlide final : public TDrawItem {
public:
    // Reads the logo and the panel from the project's [Main]; a broken skin leaves the show without
    // the panel (logged), a missing logo picture without the logo.
    static TRef<TThirdSlide> Create(TOverlayInputs inputs);

    // Per frame: dialog fades, the bar's play state, the panel's auto-hide fades.
    void Update(double showTimeMs);

    // Kinds 0 move, 1 press, 2 release, 3 other; (x, y) in window pixels. Dialogs from the topmost
    // down, then the move detector, then the panel (which ignores presses while faded out).
    TOverlayMouseResult Mouse(int button, int modifiers, int kind, int x, int y);

    // --- Dialogs (the overlay owns them; the topmost is the last) ---
    // Ignored while a dialog is closing; a dialog of the same name that is open starts closing
    // instead (showing twice toggles). Otherwise appended and faded in.
    void ShowDialog(TRef<TKivDialog> dialog);
    // Builds the dialog `name` ("help" for the help dialog) through the producer and shows it.
    // False when no dialog of that name exists.
    bool OpenDialog(const std::string& name);
    // Removes and frees at once; −1 is the topmost. An index that is not present is an assertion.
    void CloseDialog(int index);
    // All blocking dialogs but the topmost close at once; the remaining one fades out.
    void CloseBlockingDialogs();
    bool HasBlockingDialog() const;
    int DialogCount() const noexcept { return static_cast<int>(dialogs_.size()); }
    TKivDialog* Dialog(int index) const;
    TKivDialog* TopDialog() const;
    TKivDialog* DialogByName(const std::string& name) const;

    // --- Panel ---
    int NavPanelState() const;
    bool HasPanel() const noexcept { return panel_ != nullptr; }
    TNavPanel* Panel() const noexcept { return panel_.get(); }
    float PanelOpacity() const noexcept { return panelOpacity_; }
    bool PanelHidden() const noexcept { return panelHidden_; }
    // Shows an auto-hiding panel at once at full opacity, as after a mouse move (still pictures).
    void RevealPanel();

    // While the engine renders a still picture the panel is not drawn.
    void SetCapturing(bool on) noexcept { capturing_ = on; }
    bool Capturing() const noexcept { return capturing_; }

    // --- Change flags (the engine's skip test) ---
    bool NeedsRedraw() const noexcept { return needsRedraw_; }
    bool ItemChanged() const noexcept { return itemChanged_; }
    bool IsChanged() const override { return needsRedraw_ || itemChanged_; }

    // Dialogs, then the image items (the border fill just before the panel, or after all items
    // when there is no panel or while capturing); clears the change flags.
    void Draw(TDeviceDrawer& drawer) override;

    // --- Inspection ---
    const std::vector<TOverlayImage>& Images() const noexcept { return images_; }
    int LogoIndex() const noexcept { return logoIndex_; }
    int PanelImageIndex() const noexcept { return panelImage_; }
    int PanelBackgroundIndex() const noexcept { return panelBackground_; }
    double AspectFactor() const noexcept { return aspect_; }
    TMouseMoveDetector& MoveDetector() noexcept { return detector_; }

protected:
    ~TThirdSlide() override;

private:
    explicit TThirdSlide(TOverlayInputs inputs);
    std::int64_t Now() const;
    void MakeLogo();
    void MakePanel();
    // Replaces the panel's image item after the bar redrew its canvas.
    void SyncPanelImage();
    void UpdateDialogFade(std::int64_t now);
    void UpdatePanelFade(std::int64_t now);
    void SetPanelOpacity(float opacity);
    void StartFade(int index, bool closing);
    void RemoveDialog(int index);
    static void DrawItem(TDeviceDrawer& drawer, const TOverlayImage& item);

    TOverlayInputs in_;
    std::vector<TOverlayImage> images_;
    std::vector<TRef<TImage>> stale_; // replaced pictures whose textures the next Draw releases
    int logoIndex_ = -1;
    std::unique_ptr<TNavPanel> panel_;
    int panelImage_ = -1;
    int panelBackground_ = -1;
    TMouseMoveDetector detector_;

    std::vector<TRef<TKivDialog>> dialogs_;
    std::vector<bool> drawn_; // each dialog drawn at least once
    int active_ = -1;         // the dialog being faded
    bool closing_ = false;
    bool fadeStarted_ = false;
    std::int64_t fadeStart_ = 0;
    std::int64_t fadeEnd_ = 0;

    bool autoHide_ = false;
    bool panelHidden_ = false;
    float panelOpacity_ = 100.0f;
    std::int64_t hideFadeOut_ = 1000;
    std::int64_t hideFadeIn_ = 500;
    std::int64_t panelFadeStart_ = 0;
    std::int64_t panelFadeEnd_ = 0;
    bool wholeWindowPanel_ = true;
    double aspect_ = 1.0;

    bool needsRedraw_ = true;
    bool itemChanged_ = true;
    bool capturing_ = false;
};

} // namespace kiv

// TNavBar: the skinnable strip of buttons (home, back, forward, pause/play, print, help, exit)
// drawn over the slides. Its whole look comes from a skin document in the INI format plus the
// pictures it names. The bar renders itself into its own 32-bit BGRA canvas with straight alpha,
// tracks hover and press states from mouse events given in canvas pixels, and reports a click on
// a button to its owner as the button's index. Placement, fades and which buttons are asked for
// are the owner's business (NavPanel.h).
//
// A skin that cannot be laid out (a bounds list without four values, a "Cell" key without two
// numbers, an object cell outside the grid) raises ENavSkinError; the owner then plays on without
// the bar. A picture that cannot be loaded leaves its cell or button without it.
//
// Threads: one thread (the engine's) uses a bar.
#pragma once

#include "base/Exception.h"
#include "base/RefObject.h"
#include "images/Bitmap.h"
#include "ini/IniFile.h"
#include "objects/PixelRect.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class ENavSkinError : public Exception {
public:
    using Exception::Exception;
};

// A rectangle of canvas pixels.
using TNavRect = TShowRect;
TNavRect Intersect(const TNavRect& a, const TNavRect& b);
// The bounding union; an empty rectangle takes the other.
TNavRect Union(const TNavRect& a, const TNavRect& b);

// The largest canvas side a skin may lay out.
constexpr int kMaxCanvasSide = 8192;

// The modifier bit of a held left button.
constexpr int kNavHeldModifier = 16;

// Button states.
enum TNavButtonState : int { kNavNormal = 0, kNavHover = 1, kNavPressed = 2, kNavDisabled = 3 };

// Action types of the skin's action words.
enum TNavActionType : int {
    kNavActionNone = 0,
    kNavActionHome = 1,
    kNavActionBackward = 2,
    kNavActionForward = 3,
    kNavActionPause = 4,
    kNavActionPrint = 5,
    kNavActionHelp = 6,
    kNavActionExit = 7,
};

// Straight-alpha compositing of one source pixel over one destination pixel (B, G, R, A bytes).
// Source alpha 0 leaves the destination; source alpha 255 or destination alpha 0 copy the source;
// otherwise A = 255 − (255 − Sa)(255 − Da) / 255, W = Da(255 − Sa) / 255 and each colour channel is
// (W·D + Sa·S) · R >> 20 with R = round(2^20 / A), where 4112 is raised to 4113.
void CompositePixel(std::uint8_t* dest, const std::uint8_t* source);
// The R factor for an output alpha (1 … 255).
int CompositeFactor(int alpha);

// A comma list as the skin writes it: split at commas outside double quotes (a quote toggles
// quoting and stays in the item), each item trimmed.
std::vector<std::string> SplitSkinList(std::string_view text);

class TNavBar {
public:
    // Loads a picture by its full name (the skin folder joined with the file name): a 32-bit BGRA
    // bitmap, or none when it cannot be loaded.
    using TPictureLoader = std::function<TRef<TBitmap>(const std::string& name)>;

    TNavBar();
    TNavBar(const TNavBar&) = delete;
    TNavBar& operator=(const TNavBar&) = delete;

    void SetPictureLoader(TPictureLoader loader) { loader_ = std::move(loader); }
    // Whether the show plays, asked for the button that has Play pictures (button index).
    void SetIsPlaying(std::function<bool(int button)> query) { isPlaying_ = std::move(query); }
    void SetOnClick(std::function<void(TNavBar&, int button)> onClick) { onClick_ = std::move(onClick); }
    // Receives every redrawn rectangle of the canvas.
    void SetOnInvalidate(std::function<void(TNavBar&, const TNavRect&)> onInvalidate) {
        onInvalidate_ = std::move(onInvalidate);
    }
    // Degrees of hue; saturation and lightness shifts on the 0 … 255 scale. All 0: no conversion.
    void SetColorShift(int hue, int saturation = 0, int lightness = 0);

    // Reads the actions, the grid and the cells of `skin`; picture names get `folder` in front.
    // Raises ENavSkinError on a skin that cannot be laid out.
    void LoadSkin(TRef<TIniFile> skin, std::string folder);
    bool Loaded() const noexcept { return loaded_; }
    // Indexes into AvailableActions, one per button; reads the buttons, lays out and redraws all.
    // Raises ENavSkinError on a broken button section. Needs a loaded skin.
    void SetButtons(std::vector<int> selection);
    // Kinds 0 move, 1 press, 2 release (anything else is an assertion); button 1 is the left one.
    void MouseEvent(int button, int modifiers, int kind, int x, int y);
    // Asks the is-playing query and redraws the first button with Play pictures when the answer
    // changed (or on the first call).
    void RefreshPlayState();
    // Every button that is not disabled returns to normal; the bar is redrawn.
    void ResetHover();
    // The owner may disable or enable a button; a disabled button ignores the mouse.
    void SetButtonDisabled(int button, bool disabled);

    const TBitmap* Canvas() const { return canvas_.Get(); }
    int TotalWidth() const noexcept { return totalWidth_; }
    int TotalHeight() const noexcept { return totalHeight_; }
    float RecommendedScale() const noexcept { return recommendedScale_; }
    const std::vector<std::string>& AvailableActions() const noexcept { return actions_; }
    // "home" 1 … "exit" 7, anything else 0; case-insensitive.
    static int ActionType(std::string_view word);

    // --- Inspection ---
    int Cols() const noexcept { return cols_; }
    int Rows() const noexcept { return rows_; }
    // Column and row from 1.
    TNavRect CellRect(int col, int row) const;
    int ButtonCount() const noexcept { return static_cast<int>(buttons_.size()); }
    TNavRect ButtonRect(int button) const;
    int ButtonState(int button) const;
    int ButtonActionType(int button) const;
    const std::string& ButtonAction(int button) const;
    // The action name (one of AvailableActions) of a button.
    const std::string& ButtonName(int button) const;
    bool Capturing() const noexcept { return capturing_; }
    bool Hovering() const noexcept { return hovering_; }
    int PressedIndex() const noexcept { return pressed_; }

private:
    struct TPic {
        TRef<TBitmap> bitmap; // none: nothing drawn
        TNavRect bounds;      // inside the bitmap
    };
    struct TCell {
        TNavRect bounds;
        bool tiled = false;
        TRef<TBitmap> picture;
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };
    struct TButton {
        int actionType = 0;
        std::string name;
        std::string action;
        int state = kNavNormal;
        std::array<TPic, 4> face;       // button pictures per state
        std::array<TPic, 4> background; // background pictures per state
        std::array<TPic, 4> play;       // Play pictures per state
        bool hasPlay = false;
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        int space = 0;
        int shiftPressed = 0;
        bool grayNormal = false;
        bool grayDisabled = false;
        TNavRect Rect() const { return {x, y, x + width, y + height}; }
    };
    struct TCacheItem {
        TRef<TBitmap> picture;
        std::map<std::string, TRef<TBitmap>> derived;
    };

    TCell& Cell(int col, int row);
    const TCell& Cell(int col, int row) const;
    TRef<TBitmap> Picture(const std::string& file);
    // The grey (or disabled) copy of the bounds area of a picture.
    TPic Derived(const std::string& file, const TNavRect& bounds, bool disabled);
    void ReadButtons();
    void Layout();
    void SetState(TButton& button, int state);
    void Invalidate(const TNavRect& rect);
    void Redraw();
    void DrawPicture(const TPic& pic, int x, int y, int width, int height, const TNavRect& clip, bool tile);
    void ShiftColors(const TNavRect& rect);
    void MouseMove(int modifiers, int x, int y);
    bool InCanvas(int x, int y) const { return x >= 0 && y >= 0 && x < totalWidth_ && y < totalHeight_; }

    TRef<TIniFile> skin_;
    std::string folder_;
    std::vector<std::string> actions_;
    float recommendedScale_ = 8.0f;
    int cols_ = 0;
    int rows_ = 0;
    int objectCol_ = 0;
    int objectRow_ = 0;
    int leftOffset_ = 0;
    int topOffset_ = 0;
    int rightOffset_ = 0;
    int bottomOffset_ = 0;
    std::vector<TCell> cells_;
    std::vector<int> selection_;
    std::vector<TButton> buttons_;
    std::map<std::string, TCacheItem> cache_; // keyed by the folded file name
    TRef<TBitmap> canvas_;
    int totalWidth_ = 0;
    int totalHeight_ = 0;
    TNavRect dirty_;
    int pressed_ = -1;
    bool capturing_ = false;
    bool hovering_ = false;
    bool loaded_ = false;
    bool playing_ = true;
    bool firstRefresh_ = true;
    int hue_ = 0;
    int saturation_ = 0;
    int lightness_ = 0;
    TPictureLoader loader_;
    std::function<bool(int)> isPlaying_;
    std::function<void(TNavBar&, int)> onClick_;
    std::function<void(TNavBar&, const TNavRect&)> onInvalidate_;
};

} // namespace kiv

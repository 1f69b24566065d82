// TNavPanel: the navigation bar as the overlay shows it — the skin the show names read through the
// show's files, the buttons the show asks for, the bar scaled and placed in the window (or in the
// slide area), mouse events scaled into bar pixels, and a click turned into an action record.
//
// Threads: the engine thread only.
#pragma once

#include "engine/NavBar.h"
#include "engine/Placement.h"
#include "images/Image.h"
#include "package/FileAccessor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

class TIniList;

// An action record as the panel produces it (kind, number, text as in the player's action records).
struct TOverlayAction {
    std::uint8_t kind = 0;
    std::int32_t number = 0;
    std::string text;
};

// Panel action codes.
enum TPanelActionCode : std::uint8_t {
    kPanelExit = 1,
    kPanelBackward = 2,
    kPanelForward = 3,
    kPanelHelp = 4,
    kPanelPause = 5,
    kPanelPrint = 6,
    kPanelHome = 7,     // go to slide 1
    kPanelHandled = 20, // the panel took the event; nothing to execute
};

// The action record a click on the button of that action name gives; kind 0 for other names.
TOverlayAction PanelAction(const std::string& name);

// The bar's pictures through the show's files: 32-bit BGRA, or none when the file does not open or
// decode.
TRef<TBitmap> LoadSkinPicture(TFileAccessor* files, const std::string& name);

// Where the panel goes and what it shows, read from [Main].
struct TNavPanelOptions {
    std::string skinFile;             // opt_nav_inifile
    bool showBackground = false;      // opt_nav_showbg
    int hue = 0;                      // opt_nav_hue
    double viewScale = 10.0;          // opt_nav_viewscale: bar height in percent of the area height
    double offset = 0.0;              // opt_nav_offset
    int anchor = kAnchorCenter;       // opt_cp
    std::vector<std::string> buttons; // opt_newnavbutton1 … N
    bool wholeWindow = true;          // opt_nav_wndbottom
    bool videoExit = true;            // opt_nav_videoexit

    static TNavPanelOptions Read(const TIniList& main);
    // "Left-Top" … "Center" (case-insensitive) → anchor 0 … 8; anything else the centre.
    static int AnchorOfWord(std::string_view word);
};

class TNavPanel {
public:
    // Reads the skin and lays the bar out in `area`. Raises ENavSkinError (with the reason) when the
    // skin is missing, of an unsupported kind or broken.
    TNavPanel(const TNavPanelOptions& options, TRef<TFileAccessor> files, const TShowRect& area,
              std::function<bool()> isPlaying);
    TNavPanel(const TNavPanel&) = delete;
    TNavPanel& operator=(const TNavPanel&) = delete;

    TNavBar& Bar() noexcept { return bar_; }
    const TNavBar& Bar() const noexcept { return bar_; }
    // The bar's place in the window.
    const TPlacedRect& BarRect() const noexcept { return barRect_; }
    // The skin's button indexes the show asked for, in order.
    const std::vector<int>& Selection() const noexcept { return selection_; }

    // True once after the bar redrew part of its canvas.
    bool TakeCanvasChange() {
        const bool changed = canvasChanged_;
        canvasChanged_ = false;
        return changed;
    }
    // A picture of the bar's canvas as it is now (none without a canvas).
    TRef<TImage> MakeImage() const;

    // Takes the event when the point lies in the bar or while the panel holds the mouse; false
    // otherwise. `action` gets the click's action, or kPanelHandled when the point lies inside the
    // panel and no button clicked.
    bool Mouse(int button, int modifiers, int kind, int x, int y, TOverlayAction& action);
    // A mouse button went down inside the panel and is still down, or the pointer is over it.
    bool Holding() const noexcept { return holding_; }
    void RefreshPlayState() { bar_.RefreshPlayState(); }

private:
    TNavBar bar_;
    TRef<TFileAccessor> files_;
    std::vector<int> selection_;
    TPlacedRect barRect_;
    bool canvasChanged_ = false;
    bool holding_ = false;
    TOverlayAction pending_;
    bool clicked_ = false;
    std::function<bool()> isPlaying_;
};

} // namespace kiv

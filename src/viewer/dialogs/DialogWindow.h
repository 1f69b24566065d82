// TSdlDialogRunner: shows each dialog in an SDL window of its own, centred on the screen above the
// owner window, and runs it modally: RunModal returns when the dialog ended. Dialogs opened from a
// dialog's command stack up; only the top one takes input. The window shows the picture
// PaintDialog draws (blitted to the window surface: no GL context is needed), redrawn whenever
// the dialog changed.
//
// Events reach the runner through HandleEvent: the pump the runner is given waits for events and
// hands them on (the main window passes everything through the application's loop, so the
// engine's notifications keep arriving while a dialog is up). Main thread only.
#pragma once

#include "viewer/dialogs/Dialog.h"

#include <cstdint>
#include <functional>
#include <vector>

struct SDL_Window;
union SDL_Event;

namespace kiv {

class TSdlDialogRunner final : public TDialogRunner {
public:
    // Waits for the next events and hands each to HandleEvent; false when the program is ending
    // (the running dialogs then end as cancelled).
    using TPump = std::function<bool()>;

    // Without a pump the runner reads SDL's queue itself. Without a display (SDL's offscreen or
    // dummy driver) nobody could answer: RunModal then cancels at once, unless `withoutDisplay`
    // (tests whose pump plays the events).
    explicit TSdlDialogRunner(TPump pump = {}, bool withoutDisplay = false);
    ~TSdlDialogRunner() override;

    // The window the dialogs stay above (may be null).
    void SetOwner(SDL_Window* owner) { owner_ = owner; }
    // Messages go here (the player's error box when unset).
    std::function<void(const std::string&)> OnMessage;

    int RunModal(TDialog& dialog) override;
    void Message(const std::string& text) override;

    // Takes the event when it belongs to a dialog window, and swallows keys, text and clicks for
    // every other window while a dialog runs. True when the event was taken.
    bool HandleEvent(const SDL_Event& event);
    bool Running() const { return !open_.empty(); }
    // The SDL window id of the top dialog; 0 when none runs.
    std::uint32_t TopWindowId() const;

    // The screen's vertical dpi / 96 (1 when the display does not say).
    static double DisplayScale();

private:
    struct TOpen {
        TDialog* dialog;
        SDL_Window* window;
        std::uint32_t windowId;
        double scale;
        unsigned shown;
    };
    void Paint(TOpen& open);
    bool ReadOwnQueue();

    TPump pump_;
    bool withoutDisplay_;
    SDL_Window* owner_ = nullptr;
    std::vector<TOpen> open_;
};

} // namespace kiv

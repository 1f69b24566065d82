#include "viewer/dialogs/DialogWindow.h"

#include "base/Log.h"
#include "framework/ErrorBox.h"
#include "viewer/dialogs/DialogPainter.h"

#include <SDL.h>

#include <cmath>
#include <cstring>

namespace kiv {

namespace {

bool DisplayAnswers() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0;
}

TDialogKey KeyOf(const SDL_Keysym& key) {
    switch (key.sym) {
    case SDLK_TAB:
        return (key.mod & KMOD_SHIFT) ? TDialogKey::ShiftTab : TDialogKey::Tab;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return TDialogKey::Enter;
    case SDLK_ESCAPE:
        return TDialogKey::Escape;
    case SDLK_SPACE:
        return TDialogKey::Space;
    case SDLK_BACKSPACE:
        return TDialogKey::Backspace;
    case SDLK_UP:
        return TDialogKey::Up;
    case SDLK_DOWN:
        return TDialogKey::Down;
    default:
        return TDialogKey::None;
    }
}

// The window an input event is for; 0 for other events.
std::uint32_t InputWindow(const SDL_Event& event) {
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        return event.key.windowID;
    case SDL_TEXTINPUT:
        return event.text.windowID;
    case SDL_TEXTEDITING:
        return event.edit.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        return event.button.windowID;
    case SDL_MOUSEMOTION:
        return event.motion.windowID;
    case SDL_MOUSEWHEEL:
        return event.wheel.windowID;
    default:
        return 0;
    }
}

} // namespace

TSdlDialogRunner::TSdlDialogRunner(TPump pump, bool withoutDisplay)
    : pump_(std::move(pump)), withoutDisplay_(withoutDisplay) {}

TSdlDialogRunner::~TSdlDialogRunner() = default;

double TSdlDialogRunner::DisplayScale() {
    float vertical = 0;
    if (SDL_WasInit(SDL_INIT_VIDEO) && SDL_GetDisplayDPI(0, nullptr, nullptr, &vertical) == 0 &&
        vertical >= 48 && vertical <= 480)
        return vertical / 96.0;
    return 1.0;
}

std::uint32_t TSdlDialogRunner::TopWindowId() const {
    return open_.empty() ? 0 : open_.back().windowId;
}

void TSdlDialogRunner::Message(const std::string& text) {
    if (OnMessage)
        OnMessage(text);
    else
        ShowErrorBox(text);
}

void TSdlDialogRunner::Paint(TOpen& open) {
    open.shown = open.dialog->Revision();
    SDL_Surface* surface = SDL_GetWindowSurface(open.window);
    if (!surface) return;
    const TRef<TBitmap> picture = PaintDialog(*open.dialog, open.scale);
    // Our BGRA bytes are SDL's ARGB8888 on a little-endian machine.
    SDL_Surface* source =
        SDL_CreateRGBSurfaceWithFormatFrom(picture->Pixels(), picture->Width(), picture->Height(), 32,
                                           static_cast<int>(picture->Stride()), SDL_PIXELFORMAT_ARGB8888);
    if (!source) return;
    SDL_BlitSurface(source, nullptr, surface, nullptr);
    SDL_FreeSurface(source);
    SDL_UpdateWindowSurface(open.window);
}

bool TSdlDialogRunner::ReadOwnQueue() {
    SDL_Event event;
    if (!SDL_WaitEventTimeout(&event, 100)) return true;
    if (event.type == SDL_QUIT) {
        // Left for the main loop, which ends on it.
        SDL_PushEvent(&event);
        return false;
    }
    HandleEvent(event);
    return true;
}

int TSdlDialogRunner::RunModal(TDialog& dialog) {
    if (!withoutDisplay_ && !DisplayAnswers()) {
        TLog::Line("Dialog \"" + dialog.Caption() + "\" cannot be shown without a display: cancelled");
        dialog.End(kDialogCancel);
        return dialog.Result();
    }
    const double scale = DisplayScale();
    SDL_Window* window =
        SDL_CreateWindow(dialog.Caption().c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                         static_cast<int>(std::lround(dialog.Width() * scale)),
                         static_cast<int>(std::lround(dialog.Height() * scale)),
                         SDL_WINDOW_SHOWN | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR);
    if (!window) {
        TLog::Line("Dialog \"" + dialog.Caption() + "\" has no window (" + SDL_GetError() + "): cancelled");
        dialog.End(kDialogCancel);
        return dialog.Result();
    }
    SDL_Window* parent = open_.empty() ? owner_ : open_.back().window;
    if (parent) SDL_SetWindowModalFor(window, parent);
    SDL_RaiseWindow(window);
    SDL_StartTextInput();
    open_.push_back({&dialog, window, SDL_GetWindowID(window), scale, 0});
    TLog::Line("Dialog \"" + dialog.Caption() + "\" shown");
    Paint(open_.back());
    while (!dialog.Ended()) {
        const bool goOn = pump_ ? pump_() : ReadOwnQueue();
        if (!goOn) {
            dialog.End(kDialogCancel);
            break;
        }
        // Dialogs opened and closed meanwhile may have moved the stack: find ours again.
        for (TOpen& open : open_)
            if (open.dialog == &dialog && open.shown != dialog.Revision()) Paint(open);
    }
    for (auto it = open_.begin(); it != open_.end(); ++it)
        if (it->dialog == &dialog) {
            open_.erase(it);
            break;
        }
    SDL_DestroyWindow(window);
    // The keyboard goes back to the window below.
    if (open_.empty()) {
        SDL_StopTextInput();
        if (owner_ && (SDL_GetWindowFlags(owner_) & SDL_WINDOW_SHOWN)) {
            SDL_RaiseWindow(owner_);
            SDL_SetWindowInputFocus(owner_);
        }
    } else {
        SDL_RaiseWindow(open_.back().window);
    }
    TLog::Line("Dialog \"" + dialog.Caption() + "\" ended with " + std::to_string(dialog.Result()));
    return dialog.Result();
}

bool TSdlDialogRunner::HandleEvent(const SDL_Event& event) {
    if (open_.empty()) return false;
    TOpen& top = open_.back();
    if (event.type == SDL_WINDOWEVENT) {
        for (TOpen& open : open_) {
            if (event.window.windowID != open.windowId) continue;
            if (event.window.event == SDL_WINDOWEVENT_CLOSE && &open == &top)
                top.dialog->Handle(TDialogInput::CloseButton());
            else if (event.window.event == SDL_WINDOWEVENT_EXPOSED ||
                     event.window.event == SDL_WINDOWEVENT_SHOWN)
                Paint(open);
            return true;
        }
        return false;
    }
    const std::uint32_t target = InputWindow(event);
    if (target == 0) return false;
    // Input for any other window waits until the dialog is done: it is dropped.
    if (target != top.windowId) return true;
    TDialog& dialog = *top.dialog;
    switch (event.type) {
    case SDL_KEYDOWN:
        if (const TDialogKey key = KeyOf(event.key.keysym); key != TDialogKey::None)
            dialog.Handle(TDialogInput::Press(key));
        break;
    case SDL_TEXTINPUT:
        dialog.Handle(TDialogInput::Type(event.text.text));
        break;
    case SDL_MOUSEBUTTONDOWN:
        if (event.button.button == SDL_BUTTON_LEFT)
            dialog.Handle(TDialogInput::ClickAt(static_cast<int>(std::floor(event.button.x / top.scale)),
                                                static_cast<int>(std::floor(event.button.y / top.scale))));
        break;
    default:
        break;
    }
    return true;
}

} // namespace kiv

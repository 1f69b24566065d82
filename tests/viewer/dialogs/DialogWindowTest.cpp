#include "viewer/dialogs/DialogWindow.h"
#include "viewer/dialogs/DialogPainter.h"
#include "viewer/dialogs/PasswordDialog.h"

#include "ini/IniFile.h"

#include <SDL.h>
#include <gtest/gtest.h>

namespace kiv {
namespace {

// The SDL window of a dialog, on SDL's offscreen driver: events for the dialog's window reach it,
// input for other windows is held back, and the picture reaches the window.
TEST(DialogWindow, RunsModallyOnSdlEvents) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_Window* other = SDL_CreateWindow("other", 0, 0, 64, 64, SDL_WINDOW_HIDDEN);
    ASSERT_NE(other, nullptr);
    auto project = MakeRef<TIniFile>();
    project->LoadFromText("[Main]\r\n");
    int step = 0;
    std::uint32_t shown = 0; // the window's pixel at (1, 1), as 0xRRGGBB
    TSdlDialogRunner* self = nullptr;
    TSdlDialogRunner runner(
        [&] {
            const std::uint32_t id = self->TopWindowId();
            if (step == 0) {
                SDL_Surface* surface = SDL_GetWindowSurface(SDL_GetWindowFromID(id));
                Uint8 r = 0, g = 0, b = 0;
                if (surface && SDL_LockSurface(surface) == 0) {
                    const auto* row = static_cast<const std::uint8_t*>(surface->pixels) + surface->pitch;
                    SDL_GetRGB(*reinterpret_cast<const Uint32*>(row + surface->format->BytesPerPixel),
                               surface->format, &r, &g, &b);
                    SDL_UnlockSurface(surface);
                }
                shown = (r << 16) | (g << 8) | b;
            }
            SDL_Event event{};
            switch (step++) {
            case 0:
                event.type = SDL_TEXTINPUT;
                event.text.windowID = id;
                SDL_strlcpy(event.text.text, "Se", sizeof event.text.text);
                break;
            case 1: // for the other window: held back
                event.type = SDL_TEXTINPUT;
                event.text.windowID = SDL_GetWindowID(other);
                SDL_strlcpy(event.text.text, "zz", sizeof event.text.text);
                break;
            case 2:
                event.type = SDL_TEXTINPUT;
                event.text.windowID = id;
                SDL_strlcpy(event.text.text, "cret", sizeof event.text.text);
                break;
            default:
                event.type = SDL_KEYDOWN;
                event.key.windowID = id;
                event.key.keysym.sym = SDLK_RETURN;
                break;
            }
            SDL_PushEvent(&event);
            SDL_Event next;
            while (SDL_PollEvent(&next))
                self->HandleEvent(next);
            return true;
        },
        true);
    self = &runner;
    EXPECT_EQ(AskShowPassword(runner, *project), std::optional<std::string>("Secret"));
    EXPECT_FALSE(runner.Running());
    EXPECT_EQ(runner.TopWindowId(), 0u);
    EXPECT_EQ(step, 4);
    EXPECT_EQ(shown, kDialogFace & 0xFFFFFF) << "the dialog's face reached the window";

    // A pump that says the program ends cancels the dialog.
    TSdlDialogRunner ending([] { return false; }, true);
    EXPECT_EQ(AskShowPassword(ending, *project), std::nullopt);
    // Without a display and without a pump nobody can answer: cancelled at once.
    TSdlDialogRunner headless;
    EXPECT_EQ(AskShowPassword(headless, *project), std::nullopt);
    SDL_DestroyWindow(other);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

} // namespace
} // namespace kiv

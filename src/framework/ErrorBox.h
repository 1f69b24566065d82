// The player's message box for errors the viewer must see: a warning box with an OK button and the
// caption "Slideshow Error". Message texts separate their lines with a carriage return ("\r"), as
// the messages are written; the box and the console both show them as separate lines.
//
// Without a display (SDL_VIDEODRIVER set to "dummy" or "offscreen", no X or Wayland display, or SDL
// unable to show the box) the same caption and text go to standard error, so a player started from
// a terminal, a script or a test still says why it stopped. Main thread only.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kiv {

inline constexpr std::string_view kErrorCaption = "Slideshow Error";

// Shows the box and waits until it is closed (or writes to standard error).
void ShowErrorBox(std::string_view text, std::string_view caption = kErrorCaption);

// The text as the console prints it: "CAPTION: " and the text with each "\r" (or "\r\n") turned
// into a line end, ending with one line end.
std::string ConsoleErrorText(std::string_view caption, std::string_view text);

// True when a message box can be shown on a display; false sends messages to standard error.
bool MessageBoxDisplayAvailable();

// Test seam: while set, every box goes to this function instead (caption, text as written).
using TErrorBoxSink = std::function<void(std::string_view caption, std::string_view text)>;
void SetErrorBoxSink(TErrorBoxSink sink);

} // namespace kiv

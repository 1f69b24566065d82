// The colour-management switches of the command line: "noicc" turns colour management off for the
// whole run; "icc" chooses the output profile — no value, an empty value or "auto" (any case) the
// display's own profile file, or the built-in sRGB profile when there is none or it cannot be read;
// "sRGB", "AdobeRGB" or "FunkyRGB" (any case) the built-in profiles; any other value a profile
// file, used when it exists.
#pragma once

#include "framework/CommandLine.h"
#include "project/ShowColorSetup.h"

#include <string>

namespace kiv {

// `displayProfileFile`: the display's own profile file, empty when the system names none.
TColorCommandLine ReadColorSwitches(const TCommandLine& commandLine, const std::string& displayProfileFile);

// The display's own profile file. Linux desktops keep the display profile in the session's colour
// service, not as a file the player could name, unless KIV_DISPLAY_ICC names one: empty otherwise.
std::string DisplayProfileFile();

// Makes the images layer follow each colour decision of a show open: the flags become the
// colour-management mode; a chosen output profile becomes the display profile; the show's files
// become the source of its pre-computed colour tables.
void InstallColorApplyHook();

} // namespace kiv

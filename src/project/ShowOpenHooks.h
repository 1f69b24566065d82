// The three hooks every show open calls: colour library provisioning, video library provisioning
// and the exclusive-mode decision. This player links Little CMS and FFmpeg, so both libraries are
// always available: a Windows library a show carries ("lcms2.dll", "ffmpeg.dll") is never loaded or
// executed, and the log says that the show's copy was ignored. Main thread.
#pragma once

namespace kiv {

class TKivShowLocator;

// Makes the colour set-up ask the colour library hook of this file.
void InstallShowOpenHooks();

// Colour library: true (the linked library); logs when `show`'s package carries "lcms2.dll".
bool ColorLibraryHook(TKivShowLocator* show);

// Video library (`show` null for a project-file show): settled at the first call; until then logs
// when the show's package carries "ffmpeg.dll". True once settled.
bool VideoLibraryHook(TKivShowLocator* show);
bool VideoLibrarySettled();

// Exclusive mode: full-screen output may own the display unless [Main] opt_scr_noexclusive is set
// (there is no desktop composition to respect). The decision is kept for the viewer.
void ExclusiveModeHook(TKivShowLocator& show);
bool ExclusiveModeAllowed();

} // namespace kiv

// kivviewer SHOW -render OUT [-size WxH] [-fps N] [-from MS] [-to MS]: the show played headlessly,
// every frame written into the folder OUT as frame-000001.png, … (frame k shows FROM + k × 1000 / N
// ms), the show's sound of the same stretch beside them as OUT/sound.wav (its sample 0 sounds at
// FROM, as in kivtool mix), and a progress line on standard error. Defaults: 1280x720, 25 fps, one
// pass of the show.
// OUT ending in .mp4, .mkv or .webm gets one video file with the sound instead (VideoExport.h),
// its quality set by -crf N.
#pragma once

#include "framework/CommandLine.h"
#include "project/KivShowLocator.h"

namespace kiv {

// The exit code: 0 when every frame was written, 1 when rendering failed, 2 for bad switch values
// (the reason on standard error in both cases).
int RunRenderSwitch(const TCommandLine& commandLine, TKivShowLocator& show);

} // namespace kiv

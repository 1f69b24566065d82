// The program entry of the player: logging switches, the application object and the show named on
// the command line. Playback itself is not built yet; the entry says so rather than pretend.
#pragma once

namespace kiv {

int RunPlayer(int argc, char** argv);

} // namespace kiv

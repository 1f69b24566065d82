// Reading a disk file that a show names outside its own folder (a video or sound read with
// LoadFromDisk from an absolute path, a colour profile named in the project). Files inside the
// show's folder and the user's media folders (pictures, music, videos) are read as before;
// anything else needs the user's consent, given as for the show's programs: asked once per show,
// or allowed or refused for every show by a switch. Special files (devices, FIFOs) are refused by
// the open itself whatever is answered.
//
// Reads happen on loader threads, where nobody can be asked: the question is then handed to the
// main thread (the ask hook answers nothing for now), the read is refused meanwhile, and once the
// user has answered, later reads of that show follow the answer. Every function may be called
// from any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

enum class TOutsideReadPolicy { Ask, AllowAll, RefuseAll };

// Asks about `path` for the show in `showFolder`: the answer, or nothing when it comes later
// (through AnswerOutsideRead). Called without any lock held.
using TOutsideReadAsk = std::function<std::optional<bool>(const std::string& path, const std::string& showFolder)>;

// The process's rule. Until it is set, reads outside are refused (tools, headless output).
void SetOutsideReadPolicy(TOutsideReadPolicy policy, TOutsideReadAsk ask = {});
// Forgets the rule, the hook and every answer (the owner of the hook goes away; tests).
void ResetOutsideReads();

// True when the show whose folder is `showFolder` (a Windows or disk name; empty: none) may read
// the disk file `diskPath`. A refusal is logged with the path.
bool OutsideReadAllowed(const std::string& diskPath, const std::string& showFolder);

// A question the ask hook deferred, for the main thread to put to the user.
struct TOutsideReadQuestion {
    std::string path;
    std::string showFolder;
};
std::optional<TOutsideReadQuestion> TakeOutsideReadQuestion();
void AnswerOutsideRead(const std::string& showFolder, bool allowed);

// The user's media folders: $XDG_PICTURES_DIR, $XDG_MUSIC_DIR and $XDG_VIDEOS_DIR as
// ~/.config/user-dirs.dirs sets them, else ~/Pictures, ~/Music and ~/Videos.
std::vector<std::string> UserMediaFolders();

} // namespace kiv

// Opening a show the way the main window does, as far as it needs no window: find the package (or
// read the project file), check the screen-saver gate and the password, make the show current and
// work out where playback starts. Errors come back as the text of the "Slideshow Error" box.
#pragma once

#include "framework/CommandLine.h"
#include "project/KivShowLocator.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

// Asks a person for the password of a show whose project is `project`: the text typed, or nothing
// when they cancelled. The window that asks supplies it.
using TPasswordAsker = std::function<std::optional<std::string>(const TIniFile& project)>;

// The password a protected show has when its project names none.
inline constexpr const char* kDefaultShowPassword = "qmzr57xvbtplwnkd29Hrtca";

// True when `typed` is the show's password ([Main] opt_pass), compared exactly, case included.
bool PasswordMatches(const TIniFile& project, const std::string& typed);

struct TOpenShowRequest {
    std::string name;
    bool asPackage = true;
    bool timeGiven = false;
    bool checkPassword = true;
    // A slide index, or milliseconds when timeGiven.
    std::int32_t position = 0;
    // Asked when checkPassword is set and the show has [Main] opt_usepass. Without it such a show
    // is refused with a message (nobody can be asked).
    TPasswordAsker askPassword;
};

struct TOpenShowResult {
    bool ok = false;
    // The text of the error box; empty for the failures that stay silent (screen-saver gate).
    std::string message;
    TRef<TKivShowLocator> show;
    // The file the show came from, or its opt_exefn for a project file that names one.
    std::string showPath;
    // Where playback starts, when it does not start at the beginning.
    std::optional<double> seekTime;
    // For a person at the console and the log, beside the box: one line per file that failed,
    // "FILE: cause" ("/x/show: is a folder"). Empty when the box says it all (a missing file).
    std::vector<std::string> details;
};

// The message when neither the name nor its ".kvshow" twin opens as a package: the error of the
// last attempt (or "Can`t Load Show"), "\r", then both names in double quotes joined by " or ".
std::string PackageOpenMessage(const std::string& lastError, const std::string& name,
                               const std::string& kvshowName);
// "Can`t Load .kiv File\r" and the name in double quotes.
std::string ProjectOpenMessage(const std::string& name);

// Why the package file `file` did not open, given the unpacker's error text `error`: empty when the
// file does not exist (the box says so), else its problem as a file ("is a folder"), or what is
// wrong inside it ("holds no show package", "its Project.kiv cannot be read (buffer error)").
std::string PackageFileCause(const std::string& file, const std::string& error);
// Why the project file `file` did not open; empty when it does not exist.
std::string ProjectFileCause(const std::string& file);
// What a failure raised while a show was read means, for a person: the words of zlib and of the
// stream layers with what they say about the file.
std::string FailureCause(const std::exception& error);

// Opens the show. On success the show is the process's current show; on failure the current show
// stays. A password that was refused or cancelled fails without a message, and nothing of the show
// is kept or reported. `commandLine` gives the screen-saver tokens "/s" and "/S".
TOpenShowResult OpenShow(const TOpenShowRequest& request, const TCommandLine& commandLine);

// The time navigation uses for the start of slide `index` (below 0 counts as 0): its Start rounded
// when it has a transition; otherwise 1 ms later, except where the show ends at that index.
double SlideStartTime(const TKivSource& source, std::int32_t index);

} // namespace kiv

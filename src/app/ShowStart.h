// Which show the player opens first and where it starts, from the command line:
//   name: the value of "filename" (a project file), else of "exename", else the first plain value
//   after the program's path (a show named as any Linux program is given a file; a ".kiv" name is a
//   project file; screen-saver requests such as "/s" or "/p HANDLE" are not names), else the program itself;
//   position: "slide" N or "time" N give N - 1 when N is an integer above 0, else 0; "time" marks
//   the position as milliseconds (valid or not); "slide" wins when both are given.
#pragma once

#include "framework/CommandLine.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kiv {

struct TShowStart {
    // The show name, resolved (see ResolveProgramRelative).
    std::string name;
    // True when "filename" named a project file; projectFileName is then the resolved name.
    bool projectFileGiven = false;
    std::string projectFileName;
    // A slide index, or milliseconds when timeGiven.
    std::int32_t position = 0;
    bool timeGiven = false;
};

// The first plain value after the program's path that is not a screen-saver request ("/s", "/c",
// "/c:HANDLE", or "/p" with the handle after it), when neither "filename" nor "exename" is given.
std::optional<std::string> PlainShowName(const TCommandLine& commandLine);

// `programPath` is the program's own file (absolute); `workingFolder` the current folder.
TShowStart ChooseShowStart(const TCommandLine& commandLine, const std::string& programPath,
                           const std::string& workingFolder);

// A name given on the command line as a disk path. Absolute names stay as they are. A relative
// name is taken from the working folder when it exists there (as any command-line program reads
// its arguments); otherwise it is resolved against the program's folder, where a show carried
// beside the player lies.
std::string ResolveProgramRelative(const std::string& name, const std::string& programPath,
                                   const std::string& workingFolder);

} // namespace kiv

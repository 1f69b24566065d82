// Names of files and folders as a show states them: Windows names ("C:\Show\img\a.jpg",
// "..\Common\x", "\\server\share\f") kept in that form inside the program. Both "\" and "/"
// separate folders. A name is absolute when it starts with a drive ("C:"), a network prefix ("\\"
// or "//"), or "/" (a Linux path such as the program's own folder); only WindowsPath.h turns names
// into paths of the disk.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

inline bool IsFolderSeparator(char c) {
    return c == '\\' || c == '/';
}

// True for a name that starts with a drive letter and a colon ("C:", "c:\x").
bool HasDrivePrefix(std::string_view name);
// True for a name that Make folder path uses unchanged: a drive, a network prefix, or a leading
// "/" (a Linux path).
bool IsAbsoluteName(std::string_view name);

// Make folder path: `name` taken against the folder `base` (with or without a trailing
// separator). An absolute name comes back unchanged. Otherwise the leading "..\" groups each take
// one folder off the base (never the root: "C:", "\\server\share", "/" or an empty base stay), one
// separator right after them (or at the very start) is skipped, and the rest is appended with "\"
// between. A name made only of "..\" groups gives the shortened base without trailing separator.
// "C:\P\Q\R\" + "..\..\a.png" -> "C:\P\a.png"; + "\a.png" -> "C:\P\Q\R\a.png".
std::string MakeFolderPath(std::string_view base, std::string_view name);

// The folder part of a name, trailing separator included ("C:\a\b.kiv" -> "C:\a\"); empty when the
// name has no separator (a drive-relative "C:x" gives "C:").
std::string FolderPart(std::string_view name);
// The name without its folder ("C:\a\b.kiv" -> "b.kiv").
std::string LastComponent(std::string_view name);
// `folder` with a trailing backslash (unchanged when empty or already ending in a separator).
std::string WithTrailingSeparator(std::string_view folder);
// `folder` without one trailing separator.
std::string WithoutTrailingSeparator(std::string_view folder);
// The part of a name before its first "|" (the rest selects something inside the file, such as a
// video stream).
std::string_view BeforeSelector(std::string_view name);

} // namespace kiv

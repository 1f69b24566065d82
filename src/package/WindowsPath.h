// The one place where a show's Windows names become paths of the Linux disk. Every disk open and
// every existence check of file access goes through DiskPath.
//
//   - "\" and "/" both separate folders; repeated separators count as one.
//   - A drive prefix ("C:") is dropped unless a folder of that very name exists where the path
//     starts (as in a Wine prefix's "dosdevices"), so "C:\Show\a.jpg" becomes "/Show/a.jpg" and a
//     drive-relative "C:a.jpg" becomes "a.jpg" in the current folder. A network prefix
//     "\\server\share" becomes "/server/share".
//   - When the exact path does not exist, each component is looked up without regard to case
//     (simple case folding): "C:\SHOW\img\beach.JPG" finds /show/IMG/Beach.jpg. Among several
//     matching names in one folder the first in byte order wins, so the choice does not depend on
//     the order the folder lists them in.
// Safe to call from any thread; it reads the disk but changes nothing.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// The Linux path of a Windows name. A name that cannot be found comes back converted but
// unmatched from the first component that is missing. An empty name gives an empty path.
std::string DiskPath(std::string_view name);

// True when the name (its part before any "|") is an existing regular file, after DiskPath.
bool DiskFileExists(std::string_view name);

// True when the name is an existing folder, after DiskPath.
bool DiskFolderExists(std::string_view name);

} // namespace kiv

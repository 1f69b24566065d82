// Show file names: the parts of a name the player looks at, the process-wide alias pair, and the
// mapping from the name a show is opened by to the file that holds its package.
//
// Names may be Windows names (folders separated by "\") or Linux paths ("/"); both separators count.
// The alias pair is set on the main thread when a show opens from its project file and read there.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kiv {

// The extension with its dot ("C:\a\b.kvshow" -> ".kvshow"); empty when the last part has no dot.
std::string FileExtension(std::string_view name);
// The name with its extension replaced (or `extension` appended when it has none).
std::string ChangeFileExtension(std::string_view name, std::string_view extension);

// After a show was opened from its project file: the executable name the project declares
// (opt_exefn) and the project file it really came from.
struct TShowAlias {
    std::string executableAlias;
    std::string realFile;
};
const TShowAlias& ShowAlias();
void SetShowAlias(TShowAlias alias);
// True when `name` equals the executable alias (without regard to case) while the real file is set.
bool MatchesShowAlias(std::string_view name);

using TFileExists = std::function<bool(const std::string& name)>;

// The file that holds the package of the show `name`:
//   the executable alias -> unchanged (opening it opens the remembered project file);
//   "X.app" -> "X.app\Contents\Resources\slideshow.dat" when that file exists, else "X.kvshow";
//   anything else (".exe" included) -> unchanged.
std::string MapToPackageFile(std::string_view name, const TFileExists& fileExists);

} // namespace kiv

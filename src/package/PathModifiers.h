// Path modifiers: the process-wide ordered list that turns placeholders in names ("%styles%",
// "%effects%") into real folders. Applied on every disk open and every disk resolve. A project's
// [PathModifiers] section replaces the whole list. The list is read and replaced under its own
// mutex; any thread.
//
// Start-up list, in order:
//   "%styles%"   "All\Themes"                      (beside the program)
//   "%styles%"   "%LOCALAPPDATA%\Zorvik\Styles"    default
//   "%effects%"  "All\Effects"                     (beside the program)
//   "%effects%"  "%LOCALAPPDATA%\Zorvik\Effects"   default
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// One entry as a project or the start-up list states it.
struct TPathModifier {
    std::string key;         // the placeholder with its two "%" signs
    std::string replacement; // a folder, possibly starting with a folder macro
    bool isDefault = false;
};

// The four start-up entries, as stated above (not yet registered).
std::vector<TPathModifier> StartupPathModifiers();

// Replaces the process-wide list. Each entry is registered: the key case-folded, the replacement
// with one trailing separator removed, a leading folder macro expanded, and then taken against the
// program's folder (MakeFolderPath), so "All\Themes" means the folder beside the program.
void SetPathModifiers(const std::vector<TPathModifier>& modifiers);
// Restores the start-up list (registered against the current program folder and environment).
void ResetPathModifiers();
// The registered list (for inspection).
std::vector<TPathModifier> RegisteredPathModifiers();

// Applies the list to `name`: each "%...%" token, in order, is compared case-folded with the keys
// in list order. For a matching entry the candidate is the name with the token replaced by the
// entry's folder; when the candidate (before any "|") exists as a file it is taken and later
// entries are not looked at; when it does not but the entry is a default it is taken anyway and
// later entries may still replace it; otherwise the name is kept. Scanning goes on after the
// replaced text, or at the closing sign of a token that was not replaced. A name without tokens
// comes back unchanged.
std::string ApplyPathModifiers(std::string_view name);

} // namespace kiv

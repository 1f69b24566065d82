// Colour management settings of the run and of the open show. The command line fixes the output
// profile it asks for and whether colour management is off for the whole run; every successful
// show open then runs the colour set-up, which reads the project's [Main] ColorManagement and
// decides the output profile and two flags: colour management off, and colour library active.
//
// This layer only decides. Applying the decision to picture decoding (profiles, transforms) is the
// job of the function installed with SetColorApplyHook; whether the colour library can run is
// asked through the hook installed with SetColorLibraryHook. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TKivShowLocator;
class TIniFile;

// A colour profile as chosen: a built-in one by name, or the bytes of a profile file.
struct TProfileChoice {
    enum class TKind { BuiltIn, File };
    TKind kind = TKind::BuiltIn;
    // The built-in name ("sRGB", "AdobeRGB", "FunkyRGB") or the file name.
    std::string name;
    std::vector<std::uint8_t> data;

    bool operator==(const TProfileChoice&) const = default;
};

// "srgb", "ADOBERGB", ... -> the built-in name as written above; empty for any other text.
std::string BuiltInProfileName(std::string_view text);
// A profile file read whole: the built-in sRGB profile when its first 512 bytes contain
// "sRGB IEC61966-2.1", else the file's bytes. None when the file cannot be read or is empty.
std::optional<TProfileChoice> ReadProfileFile(const std::string& fileName);

// What the command line asked for.
struct TColorCommandLine {
    // "noicc": no colour management for the whole run.
    bool noIcc = false;
    // "icc": the output profile asked for (none when absent, or when its file does not exist).
    std::optional<TProfileChoice> profile;
    // The display's own profile file, for "icc" without a value or "auto" and for the project value
    // "?". Empty when the system names none.
    std::string displayProfileFile;
};
const TColorCommandLine& ColorCommandLine();
void SetColorCommandLine(TColorCommandLine settings);

// The decision of one colour set-up.
struct TShowColorState {
    bool managementOff = false;
    bool libraryActive = false;
    // The output profile this set-up chose; none keeps the one in use.
    std::optional<TProfileChoice> output;
};
// The decision of the last set-up.
const TShowColorState& ShowColorState();

// Asked whether the colour transform library can run for `show` (it may provide the library;
// null when the set-up runs without a show).
using TColorLibraryHook = std::function<bool(TKivShowLocator* show)>;
void SetColorLibraryHook(TColorLibraryHook hook);
// Receives every decision, with the show it was made for (null when the set-up runs without a
// show), so that the show's own colour tables can be read from its files.
using TColorApplyHook = std::function<void(const TShowColorState& state, TKivShowLocator* show)>;
void SetColorApplyHook(TColorApplyHook hook);

// The colour set-up for `show` (may be null) with its project `project` (may be null): decides,
// stores the decision, hands it to the apply hook and returns it.
TShowColorState RunColorSetup(TKivShowLocator* show, const TIniFile* project);

} // namespace kiv

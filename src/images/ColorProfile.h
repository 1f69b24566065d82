// Colour profiles and colour management: the profiles pictures carry and the display's profile,
// transforms between them (Little CMS 2) applied to colour tables, and the conversion of single
// colours to the display.
//
// A colour table is a 32 × 1024 picture in 32-bit BGRA: 32 slices of 32 × 32 lattice points, row
// (32 × i + j), column k holding blue L(i), green L(j), red L(k) with L(n) = 8n + n / 4 (0 .. 255).
//
// Built-in profiles (ICC version 2 matrix/shaper profiles made with Little CMS at first use):
//   "sRGB"     IEC 61966-2.1 (lcms2's sRGB, described as "sRGB IEC61966-2.1")
//   "YUVsRGB"  the same ICC data as "sRGB" under its own name
//   "AdobeRGB" Adobe RGB (1998): primaries R (0.64, 0.33), G (0.21, 0.71), B (0.15, 0.06), white D65,
//              gamma 563 / 256
//   "FunkyRGB" a wide-gamut profile with the ProPhoto (ROMM) primaries R (0.7347, 0.2653),
//              G (0.1596, 0.8404), B (0.0366, 0.0001), white D50 and gamma 1.8
#pragma once

#include "base/RefObject.h"
#include "images/Bitmap.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TColorProfile : public TRefObject {
public:
    TColorProfile(std::string name, std::vector<std::uint8_t> data);

    const std::string& Name() const { return name_; }
    const std::vector<std::uint8_t>& Data() const { return data_; }

    // The identity colour table passed through the transform from "sRGB" to this profile, made on
    // the first call (under a process-wide lock). Null when no transform can be made.
    TRef<TBitmap> ColorTable();

private:
    std::string name_;
    std::vector<std::uint8_t> data_;
    bool tableMade_ = false;
    TRef<TBitmap> table_;
};

// The built-in profile of that name ("sRGB", "YUVsRGB", "AdobeRGB", "FunkyRGB", exact case), or
// null. Each is one shared object for the whole process.
TRef<TColorProfile> BuiltInProfile(std::string_view name);

// A profile for ICC data found in a picture: data holding "sRGB IEC61966-2.1" within its first
// 512 bytes is the built-in sRGB profile; other data makes a new profile called `name`. Empty data
// gives null.
TRef<TColorProfile> ProfileFromData(std::vector<std::uint8_t> data, const std::string& name);

// The display profile: the one set, or the built-in sRGB profile while none is set. Thread-safe.
void SetDisplayProfile(TRef<TColorProfile> profile);
TRef<TColorProfile> DisplayProfile();

// The profile for the ICC data the windowing system reports for the screen: sRGB when there is
// none or when Little CMS cannot read it.
TRef<TColorProfile> ProfileForScreen(const void* data, std::size_t size);

// Whether colour management is off, works from the show's pre-computed tables (no colour library
// in use), or is active through Little CMS.
enum class TColorManagement { Off, Tables, Active };
void SetColorManagement(TColorManagement mode);
TColorManagement ColorManagement();

// Gives the pre-computed table picture of that name in 24-bit BGR, or null when the show has none.
// Set with every colour set-up of a located show (to none without a show).
using TTablePictureSource = std::function<TRef<TBitmap>(const std::string& pictureName)>;
void SetTablePictureSource(TTablePictureSource source);

// A colour transform between two profiles, applied in place to 24- or 32-bit pictures (alpha is
// kept). When it cannot be applied the pixels stay unchanged.
class TColorTransform : public TRefObject {
public:
    virtual void Apply(TBitmap& bitmap) = 0;
};

// The transform from `source` to `target`. While colour management is not active (off, or working
// from tables) and the show has a table picture "ColorSpaceExe_" + target name + "].ZKGFX", it
// replaces colour tables by that table; otherwise it uses Little CMS (adaptation state 0,
// perceptual intent). Null when neither can be made.
TRef<TColorTransform> CreateColorTransform(const TColorProfile& source, const TColorProfile& target);

// The colour table that converts the colours of a picture carrying `picture` to `output`: the
// identity table through the transform between the two. None when colour management is off,
// either profile is missing, both carry the same data, or no transform can be made.
TRef<TBitmap> ProfileConversionTable(const TColorProfile* picture, const TColorProfile* output);

// The identity colour table (32 × 1024, 32-bit BGRA, opaque).
TRef<TBitmap> MakeIdentityTable();
// The lattice value of index n (0 .. 31): 8n + n / 4.
inline int LatticeValue(int n) {
    return 8 * n + n / 4;
}

// Looks up a colour (0xAARRGGBB, alpha kept) in a colour table by trilinear interpolation between
// its lattice points, with 16-bit fixed-point weights, rounded.
std::uint32_t LookupColor(const TBitmap& table, std::uint32_t argb);

// A single colour of the project converted to the display profile, unless colour management is off
// or no table can be made (then the colour is returned as it is).
std::uint32_t ConvertColorToDisplay(std::uint32_t argb);

} // namespace kiv

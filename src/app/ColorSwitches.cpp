#include "app/ColorSwitches.h"

#include "base/CaseFold.h"
#include "base/Log.h"
#include "images/ColorProfile.h"
#include "images/PictureLoader.h"
#include "project/KivShowLocator.h"

#include <cstdlib>

namespace kiv {

namespace {

// The show's pre-computed colour tables: the picture of that name among the show's files, decoded
// and given in 24 bits; null when the show has no such file or it does not decode.
TTablePictureSource ShowTablePictures(TRef<TFileAccessor> accessor) {
    return [accessor = std::move(accessor)](const std::string& pictureName) -> TRef<TBitmap> {
        try {
            TRef<TStream> stream = accessor->Open(pictureName);
            if (!stream) return nullptr;
            TRef<TImage> picture = DecodePictureByName(*stream, pictureName);
            if (!picture) return nullptr;
            return picture->Store().GetMipLevel(0, TPixelFormat::Bgr24);
        } catch (const std::exception& error) {
            TLog::Line("Colour table " + pictureName + " not readable: " + error.what());
            return nullptr;
        }
    };
}

} // namespace

TColorCommandLine ReadColorSwitches(const TCommandLine& commandLine, const std::string& displayProfileFile) {
    TColorCommandLine settings;
    settings.displayProfileFile = displayProfileFile;
    if (commandLine.HasSwitch("noicc")) {
        settings.noIcc = true;
        return settings;
    }
    if (!commandLine.HasSwitch("icc")) return settings;
    const std::string value = commandLine.Value("icc").value_or("");
    if (value.empty() || SameTextFolded(value, "auto")) {
        if (!displayProfileFile.empty()) settings.profile = ReadProfileFile(displayProfileFile);
        if (!settings.profile) {
            // No display profile to read: the standard sRGB colour space stands in for it.
            TLog::Line("Display profile \"" + displayProfileFile + "\" not found; sRGB chosen");
            settings.profile = TProfileChoice{TProfileChoice::TKind::BuiltIn, "sRGB", {}};
        }
    } else if (const std::string builtIn = BuiltInProfileName(value); !builtIn.empty()) {
        settings.profile = TProfileChoice{TProfileChoice::TKind::BuiltIn, builtIn, {}};
    } else {
        settings.profile = ReadProfileFile(value);
    }
    if (!settings.profile) TLog::Line("Output profile \"" + value + "\" not found; none chosen");
    return settings;
}

std::string DisplayProfileFile() {
    const char* file = std::getenv("KIV_DISPLAY_ICC");
    return file ? std::string(file) : std::string();
}

void InstallColorApplyHook() {
    SetColorApplyHook([](const TShowColorState& state, TKivShowLocator* show) {
        // The tables follow the show just located; without a show there are none.
        SetTablePictureSource(show ? ShowTablePictures(show->Accessor().Copy()) : TTablePictureSource());
        if (state.output) {
            const TProfileChoice& choice = *state.output;
            TRef<TColorProfile> profile = choice.kind == TProfileChoice::TKind::BuiltIn
                                              ? BuiltInProfile(choice.name)
                                              : ProfileFromData(choice.data, choice.name);
            if (profile) SetDisplayProfile(std::move(profile));
        }
        SetColorManagement(state.managementOff   ? TColorManagement::Off
                           : state.libraryActive ? TColorManagement::Active
                                                 : TColorManagement::Tables);
    });
}

} // namespace kiv

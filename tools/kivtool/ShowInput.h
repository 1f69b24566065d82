// How kivtool's show commands read SHOW: a package file, an executable with a package appended, or
// a project file on disk — opened exactly as the player opens a show.
#pragma once

#include "ini/IniFile.h"
#include "package/FileAccessor.h"
#include "project/KivShowLocator.h"
#include "project/KivSource.h"

#include <string>

namespace kivtool {

// The show at `path`. Raises kiv::Exception with a message when it cannot be opened.
kiv::TRef<kiv::TKivShowLocator> OpenShow(const std::string& path);

// The project document of the show at `path`. Raises as OpenShow does.
kiv::TRef<kiv::TIniFile> LoadShowProject(const std::string& path);

// The files of the show at `path`. Raises as OpenShow does.
kiv::TRef<kiv::TFileAccessor> OpenShowFiles(const std::string& path);

// The show project of the show at `path`, its transitions chosen with `random` (none: seeded from
// the clock). Raises kiv::Exception (or EProjectError) when the show cannot be read or built.
kiv::TRef<kiv::TKivSource> LoadShowSource(const std::string& path,
                                          kiv::TRef<kiv::TTransitionRandom> random = nullptr);

} // namespace kivtool

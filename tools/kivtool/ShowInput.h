// How kivtool's show commands read SHOW: a package file, an executable with a package appended, or
// a project file on disk.
#pragma once

#include "package/IniFile.h"
#include "project/KivSource.h"

#include <string>

namespace kivtool {

// The project document of the show at `path`: the entry "Project.kiv" of its package, or the file
// itself parsed as a project text when it holds no package. Raises kiv::Exception with a message
// when the show cannot be read.
kiv::TRef<kiv::TIniFile> LoadShowProject(const std::string& path);

// The show project of the show at `path`, its transitions chosen with `random` (none: seeded from
// the clock). Raises kiv::Exception (or EProjectError) when the show cannot be read or built.
kiv::TRef<kiv::TKivSource> LoadShowSource(const std::string& path,
                                          kiv::TRef<kiv::TTransitionRandom> random = nullptr);

} // namespace kivtool

// How kivtool's show commands read SHOW: a package file, an executable with a package appended, or
// a project file on disk.
#pragma once

#include "package/IniFile.h"

#include <string>

namespace kivtool {

// The project document of the show at `path`: the entry "Project.kiv" of its package, or the file
// itself parsed as a project text when it holds no package. Raises kiv::Exception with a message
// when the show cannot be read.
kiv::TRef<kiv::TIniFile> LoadShowProject(const std::string& path);

} // namespace kivtool
